#include "app/video_page.h"

#include <gtest/gtest.h>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

#include "app/half_slider.h"
#include "app/help_strip.h"
#include "app/movie_facts_testing.h"
#include "app/timeline_page.h"

namespace quillon {
namespace {

struct Bound {
  EncoderSettings settings;
  TimelinePage timeline;
  VideoPage page;
  void Bind() { page.Bind(&settings, &timeline, TestMovie()); }
  void Type(QLineEdit* box, const QString& text) {
    box->clear();
    QTest::keyClicks(box, text);
  }
};

TEST(VideoPageTest, FrameRateLoadsAgainstTheMovieAndStoresAPercentage) {
  Bound b;
  b.settings.frame.fps = -50.0;
  b.Bind();
  EXPECT_EQ(b.settings.frame.fps, 12.5);  // normalised to the absolute rate
  EXPECT_EQ(b.page.RateSlider()->Position(), 100);
  EXPECT_EQ(b.page.RateSlider()->Text(), "12.5");
  EXPECT_EQ(b.page.RatePercent()->text(), "50.0%");
  b.page.Store();
  EXPECT_EQ(b.settings.frame.fps, -50.0);

  for (const auto& [fps, position] : {std::pair{40.0, 200}, {0.0, 200}, {12.0, 96}, {-1.0, 2}}) {
    b.settings.frame.fps = fps;
    b.Bind();
    EXPECT_EQ(b.page.RateSlider()->Position(), position) << fps;
  }
}

TEST(VideoPageTest, TypedRatesClampToTheMovieRate) {
  Bound b;
  b.Bind();
  b.Type(b.page.RateSlider()->Box(), "10");
  EXPECT_EQ(b.page.RateSlider()->Position(), 80);
  EXPECT_EQ(b.page.RatePercent()->text(), "40%");
  b.page.Store();
  EXPECT_EQ(b.settings.frame.fps, -40.0);
  b.Type(b.page.RateSlider()->Box(), "30");
  EXPECT_EQ(b.page.RateSlider()->Text(), "25");
  EXPECT_EQ(b.page.RateSlider()->Position(), 200);
  b.Type(b.page.RateSlider()->Box(), "0");
  EXPECT_EQ(b.page.RateSlider()->Position(), 2);  // the slider's own minimum
  // Dragging shows the rate the position stands for.
  b.page.RateSlider()->Slider()->setValue(150);
  EXPECT_EQ(b.page.RateSlider()->Text(), "18.8");
  EXPECT_EQ(b.page.RatePercent()->text(), "75.0%");
}

TEST(VideoPageTest, JpegQualityTypedAbove95Stores95) {
  Bound b;
  b.settings.transport.jpegQuality = 100;
  b.Bind();
  EXPECT_EQ(b.page.JpegSlider()->Position(), 200);
  EXPECT_EQ(b.page.JpegSlider()->Text(), "100");
  b.page.Store();
  EXPECT_EQ(b.settings.transport.jpegQuality, 100);
  b.Type(b.page.JpegSlider()->Box(), "99");
  EXPECT_EQ(b.page.JpegSlider()->Text(), "95");
  b.page.Store();
  EXPECT_EQ(b.settings.transport.jpegQuality, 95);
}

TEST(VideoPageTest, FrameSizeFromAWidthRoundedWhenLoadedTruncatedWhileDragging) {
  Bound b;
  b.settings.frame.resize = -160.0f;
  b.Bind();
  EXPECT_EQ(b.settings.frame.resize, 50.0f);
  EXPECT_EQ(b.page.SizeSlider()->Text(), "160x120");
  EXPECT_EQ(b.page.SizePercent()->text(), "50.0%");
  b.settings.frame.resize = 50.5f;
  b.Bind();
  EXPECT_EQ(b.page.SizeSlider()->Text(), "162x121");
  b.page.SizeSlider()->Slider()->setValue(100);
  b.page.SizeSlider()->Slider()->setValue(101);
  EXPECT_EQ(b.page.SizeSlider()->Text(), "161x121");
  b.page.SizeSlider()->Slider()->setValue(0);
  EXPECT_EQ(b.page.SizeSlider()->Text(), "1x1");
  // A final width beyond the movie is at most the movie's size.
  b.settings.frame.resize = -640.0f;
  b.Bind();
  EXPECT_EQ(b.page.SizeSlider()->Position(), 200);
  EXPECT_EQ(b.page.SizeSlider()->Text(), "320x240");
}

TEST(VideoPageTest, FrameSizeBoxIsReadOnlyAndExplainsTheSlider) {
  Bound b;
  b.Bind();
  EXPECT_TRUE(b.page.SizeSlider()->Box()->isReadOnly());
  QTest::mouseClick(b.page.SizeSlider()->Box(), Qt::LeftButton);
  EXPECT_EQ(b.page.Strip()->CurrentId(), VideoPage::kFrameSizeBoxHelpId);
  EXPECT_EQ(b.page.Strip()->CurrentText(),
            "Frame Size: Please use the slider control instead, so that image proportions can be "
            "maintained");
}

TEST(VideoPageTest, BitRateLimitShowsKilobitsAndReadsTypedText) {
  Bound b;
  const auto loaded = [&](std::uint32_t limit) {
    b.settings.transport.bitrateLimit = limit;
    b.Bind();
    return b.page.BitRateBox()->currentText();
  };
  EXPECT_EQ(loaded(0), "Unlimited");
  EXPECT_EQ(loaded(128000), "128");
  EXPECT_EQ(loaded(28800), "28.800");
  const auto stored = [&](const QString& text) {
    b.page.BitRateBox()->setEditText(text);
    b.page.Store();
    return b.settings.transport.bitrateLimit;
  };
  EXPECT_EQ(stored("28.8"), 28800u);
  EXPECT_EQ(stored("Unlimited"), 0u);
  EXPECT_EQ(stored("abc"), 0u);
  EXPECT_EQ(stored("-5"), 0u);
  EXPECT_EQ(stored("1e12"), 0xFFFFFFFFu);
}

TEST(VideoPageTest, SmoothingAndSizeReachTheFrameRecordAtOnce) {
  Bound b;
  b.Bind();
  b.page.SmoothSlider()->Slider()->setValue(51);
  EXPECT_EQ(b.page.SmoothSlider()->Text(), "25");
  EXPECT_EQ(b.settings.frame.smooth, 25.0f);
  b.page.CyclesBox()->setValue(3);
  EXPECT_EQ(b.settings.frame.smoothCycles, 3u);
  b.page.SizeSlider()->Slider()->setValue(150);
  EXPECT_EQ(b.settings.frame.resize, 75.0f);
  // Quality is no picture setting: it waits for Store.
  b.page.QualitySlider()->Slider()->setValue(20);
  EXPECT_EQ(b.settings.match.limit, 80.0f);
}

TEST(VideoPageTest, SmoothCyclesOutsideTheArrowsRangeSurviveARoundTrip) {
  Bound b;
  b.settings.frame.smoothCycles = 0;
  b.Bind();
  EXPECT_EQ(b.page.CyclesBox()->text(), "0");
  b.page.Store();
  EXPECT_EQ(b.settings.frame.smoothCycles, 0u);
  b.page.CyclesBox()->stepUp();
  EXPECT_EQ(b.page.CyclesBox()->value(), 1);
  EXPECT_EQ(b.page.CyclesBox()->minimum(), 1);
  EXPECT_EQ(b.page.CyclesBox()->maximum(), 9);
}

}  // namespace
}  // namespace quillon
