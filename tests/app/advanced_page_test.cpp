#include "app/advanced_page.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

#include "app/half_slider.h"
#include "app/timeline_page.h"

namespace quillon {
namespace {

struct Bound {
  EncoderSettings settings;
  TimelinePage timeline;
  AdvancedPage page;
  void Bind() { page.Bind(&settings, &timeline, MovieFacts{}); }
};

TEST(AdvancedPageTest, NoneTurnsTheQualityOff) {
  Bound b;
  b.Bind();
  EXPECT_FALSE(b.page.SpanQualitySlider()->isEnabled());
  EXPECT_FALSE(b.page.SpanSizeBox()->isEnabled());
  EXPECT_FALSE(b.page.CollapseQualitySlider()->isEnabled());
  EXPECT_FALSE(b.page.TransientQualitySlider()->isEnabled());
  b.page.SpanTypeBox()->setCurrentIndex(3);
  b.page.CollapseTypeBox()->setCurrentIndex(2);
  b.page.TransientTypeBox()->setCurrentIndex(1);
  EXPECT_TRUE(b.page.SpanQualitySlider()->isEnabled());
  EXPECT_TRUE(b.page.SpanSizeBox()->isEnabled());
  EXPECT_TRUE(b.page.CollapseQualitySlider()->isEnabled());
  EXPECT_TRUE(b.page.TransientQualitySlider()->isEnabled());
  b.page.Store();
  EXPECT_EQ(b.settings.frame.flags & 0x6u,
            FrameOptions::kUniformSpanHorizontal | FrameOptions::kUniformSpanVertical);
  EXPECT_EQ(b.settings.transport.flags & 0xF0u,
            TransportOptions::kResizeVertical | TransportOptions::kTransientResizeHorizontal);
  // Other flags of the words are untouched.
  EXPECT_EQ(b.settings.frame.flags & FrameOptions::kProcess, FrameOptions::kProcess);
  EXPECT_EQ(b.settings.transport.flags & 0x3u, TransportOptions::kJpeg | TransportOptions::kZlib32);
}

TEST(AdvancedPageTest, SpanAndDarkeningReachTheFrameRecordAtOnce) {
  Bound b;
  b.Bind();
  b.page.SpanTypeBox()->setCurrentIndex(1);
  EXPECT_EQ(b.settings.frame.flags & 0x6u, FrameOptions::kUniformSpanHorizontal);
  b.page.SpanQualitySlider()->Slider()->setValue(101);
  EXPECT_EQ(b.settings.frame.uniformSpanLimit, 50.5f);
  EXPECT_EQ(b.page.SpanQualitySlider()->Text(), "50.5");
  b.page.SpanSizeBox()->setValue(7);
  EXPECT_EQ(b.settings.frame.uniformSpanSize, 7u);
  b.page.DarkenSlider()->Slider()->setValue(25);
  EXPECT_EQ(b.settings.frame.darken, 12.5f);
  EXPECT_EQ(b.page.DarkenSlider()->Text(), "12");
  // Not a picture setting: waits for Store.
  b.page.CollapseQualitySlider()->Slider()->setValue(10);
  EXPECT_EQ(b.settings.transport.resizeLimit, 80.0f);
}

TEST(AdvancedPageTest, DarkenTypedUpToAHundredStopsAtTheSlidersEnd) {
  Bound b;
  b.Bind();
  QTest::keyClicks(b.page.DarkenSlider()->Box(), "100");
  EXPECT_EQ(b.page.DarkenSlider()->Position(), 150);
  b.page.Store();
  EXPECT_EQ(b.settings.frame.darken, 75.0f);
  b.page.DarkenSlider()->Box()->clear();
  QTest::keyClicks(b.page.DarkenSlider()->Box(), "250");
  EXPECT_EQ(b.page.DarkenSlider()->Text(), "100");
}

TEST(AdvancedPageTest, SwitchesSpanSizeAndDescription) {
  Bound b;
  b.settings.frame.uniformSpanSize = 0;
  b.settings.transport.playerFlags =
      TransportOptions::kPlayerProtect | TransportOptions::kPlayerDisplayCursor;
  b.settings.transport.description = "Talking heads";
  b.Bind();
  EXPECT_EQ(b.page.SpanSizeBox()->value(), 2);
  EXPECT_TRUE(b.page.ProtectCheck()->isChecked());
  EXPECT_FALSE(b.page.OptimizeCheck()->isChecked());
  EXPECT_EQ(b.page.DescriptionBox()->maxLength(), 512);
  b.page.OptimizeCheck()->setChecked(true);
  b.page.DescriptionBox()->setText("Lectures");
  b.page.Store();
  EXPECT_EQ(b.settings.frame.uniformSpanSize, 2u);
  EXPECT_EQ(b.settings.transport.playerFlags, TransportOptions::kPlayerProtect |
                                                  TransportOptions::kPlayerDisplayCursor |
                                                  TransportOptions::kPlayerOptimizeMemory);
  EXPECT_EQ(b.settings.transport.description, "Lectures");
}

}  // namespace
}  // namespace quillon
