// The four settings pages together: loading, storing and the round trip over the presets.
#include <gtest/gtest.h>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include "app/action_script_dialog.h"
#include "app/advanced_page.h"
#include "app/audio_page.h"
#include "app/colour_picker.h"
#include "app/flash_page.h"
#include "app/half_slider.h"
#include "app/help_strip.h"
#include "app/movie_facts_testing.h"
#include "app/video_page.h"
#include "settings/settings_file.h"

namespace quillon {
namespace {

struct Pages {
  VideoPage video;
  FlashPage flash;
  AudioPage audio;
  AdvancedPage advanced;
  std::array<SettingsPage*, 4> all{&video, &flash, &audio, &advanced};
  void Bind(EncoderSettings* s, const MovieFacts& facts) {
    for (SettingsPage* page : all) page->Bind(s, nullptr, facts);
  }
  void Store() {
    for (SettingsPage* page : all) page->Store();
  }
};

std::string Text(const EncoderSettings& s) {
  return FormatSettingsText(&s.frame, &s.audio, &s.match, &s.transport);
}

// What the loading rules make of a record against a movie (the rules written out
// independently of the pages), for the round trip.
EncoderSettings LoadedForm(EncoderSettings s, const MovieFacts& facts) {
  const auto half = [](double v, double lo, double hi) {
    return std::clamp(std::floor(v * 2 + 0.5), lo, hi) / 2;
  };
  double rate = 0;
  if (OutputFrameRate(s.frame.fps, facts.fps, rate)) {
    s.frame.fps = -std::clamp(std::floor(rate * 200 / facts.fps + 0.5), 2.0, 200.0) / 2;
  }
  float percent = s.frame.resize;
  if (ResizePercent(s.frame.resize, facts.width, percent) && s.frame.resize < 0)
    percent = std::min(percent, 100.0f);
  s.frame.resize = static_cast<float>(half(percent, 0, 200));
  s.match.limit = static_cast<float>(half(s.match.limit, 0, 200));
  s.frame.smooth = std::floor(static_cast<float>(half(s.frame.smooth, 0, 200)));
  s.frame.uniformSpanLimit = static_cast<float>(half(s.frame.uniformSpanLimit, 0, 200));
  s.frame.uniformSpanSize = std::clamp<std::uint32_t>(s.frame.uniformSpanSize, 2, 32);
  s.frame.darken = static_cast<float>(half(s.frame.darken, 0, 150));
  s.transport.resizeLimit = static_cast<float>(half(s.transport.resizeLimit, 0, 200));
  s.transport.transientResizeLimit =
      static_cast<float>(half(s.transport.transientResizeLimit, 0, 200));
  if (s.transport.partSizeLimit != 0) {
    s.transport.partSizeLimit =
        static_cast<std::uint32_t>(std::floor(s.transport.partSizeLimit / 1024.0 + 0.5)) * 1024;
  }
  AudioOptions& a = s.audio;
  // Silent leaves the compression as it was; sound without MP3 falls back to ADPCM.
  if ((a.flags & AudioOptions::kProcess) != 0 && (a.flags & AudioOptions::kCompressionMp3) != 0 &&
      !facts.mp3Available) {
    a.flags &= ~AudioOptions::kCompressionMp3;
  }
  const bool mp3 = (a.flags & AudioOptions::kCompressionMp3) != 0 && facts.mp3Available;
  const std::vector<int> rates =
      mp3 ? std::vector<int>{22050, 44100} : std::vector<int>{5512, 11025, 22050, 44100};
  if (std::find(rates.begin(), rates.end(), a.rate) == rates.end()) a.rate = rates.front();
  a.volume = std::min(std::floor(static_cast<float>(half(a.volume, 0, 800))), 400.0f);
  a.offset = std::nearbyint(a.offset);
  return s;
}

TEST(SettingsPagesTest, StoreRightAfterBindGivesWhatTheLoadingRulesProduce) {
  const QDir presets(QStringLiteral(QUILLON_TEST_SOURCE_DIR "/presets"));
  const QStringList files = presets.entryList({"*.settings"}, QDir::Files);
  ASSERT_GE(files.size(), 5);
  for (const MovieFacts& facts :
       {TestMovie(25.0), TestMovie(29.97, true, false), TestMovie(10.0, false, true)}) {
    for (const QString& file : files) {
      EncoderSettings original;
      ASSERT_TRUE(LoadSettingsFile(presets.filePath(file).toStdString(), original));
      EncoderSettings edited = original;
      Pages pages;
      pages.Bind(&edited, facts);
      pages.Store();
      EXPECT_EQ(Text(edited), Text(LoadedForm(original, facts)))
          << file.toStdString() << " at " << facts.fps;
      // A second pass changes nothing more.
      EncoderSettings again = edited;
      pages.Bind(&again, facts);
      pages.Store();
      EXPECT_EQ(Text(again), Text(edited)) << file.toStdString();
    }
  }
}

TEST(SettingsPagesTest, WithoutAMovieTheMovieDependentSettingsStayAsTheyAre) {
  EncoderSettings s;
  s.frame.fps = 12.0;
  s.frame.resize = -160.0f;
  Pages pages;
  pages.Bind(&s, MovieFacts{});
  EXPECT_EQ(pages.video.RateSlider()->Text(), "...");
  EXPECT_EQ(pages.video.SizeSlider()->Text(), "...");
  pages.Store();
  EXPECT_EQ(s.frame.fps, 12.0);
  EXPECT_EQ(s.frame.resize, -160.0f);
}

// Every help text shows over its own control: no earlier region covers a later one's centre,
// and a click on the strip asks the window for the page's anchor.
TEST(SettingsPagesTest, EachHelpRegionIsReachableAndOpensItsAnchor) {
  EncoderSettings s;
  Pages pages;
  pages.Bind(&s, TestMovie());
  const std::array<HelpStrip*, 4> strips{pages.video.Strip(), pages.flash.Strip(),
                                         pages.audio.Strip(), pages.advanced.Strip()};
  const char* files[] = {"Help/VideoSettings.htm#", "Help/FlashSettings.htm#",
                         "Help/AudioSettings.htm#", "Help/AdvancedSettings.htm#"};
  for (int i = 0; i < 4; ++i) {
    SettingsPage* page = pages.all[i];
    page->resize(page->minimumSizeHint());
    page->show();
    HelpStrip* strip = strips[i];
    int regions = 0;
    for (int r = 0; r < strip->RegionCount(); ++r) {
      const QRect rect = strip->RegionRect(r);
      if (rect.isEmpty()) continue;
      ++regions;
      EXPECT_EQ(strip->RegionAt(rect.center()), r) << i << " region " << r;
      EXPECT_FALSE(rect.intersects(strip->geometry())) << i << " region " << r;
    }
    EXPECT_GE(regions, 7) << i;
    QSignalSpy spy(page, &SettingsPage::HelpAnchorRequested);
    strip->MouseMovedTo(strip->RegionRect(0).center());
    QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(10, strip->height() / 2));
    ASSERT_EQ(spy.count(), 1) << i;
    EXPECT_TRUE(spy.at(0).at(0).toString().startsWith(files[i])) << i;
    page->hide();
  }
}

// Offscreen pictures of the pages for a person to look at: written when QUILLON_SCREENSHOTS
// names a folder.
TEST(SettingsPagesTest, PagesPaintAtTheirSize) {
  EncoderSettings s;
  s.transport.description = "Default settings";
  Pages pages;
  pages.Bind(&s, TestMovie());
  const QString folder = qEnvironmentVariable("QUILLON_SCREENSHOTS");
  const char* names[] = {"video", "flash", "audio", "advanced"};
  for (int i = 0; i < 4; ++i) {
    SettingsPage* page = pages.all[i];
    page->resize(page->sizeHint().expandedTo(QSize(520, 200)));
    page->show();
    const QImage image = page->grab().toImage();
    EXPECT_FALSE(image.isNull());
    if (!folder.isEmpty()) {
      image.save(folder + "/" + names[i] + ".png");
      qInfo("%s minimum %dx%d", names[i], page->minimumSizeHint().width(),
            page->minimumSizeHint().height());
      QPalette dark;
      dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
      dark.setColor(QPalette::WindowText, QColor(0xE0, 0xE0, 0xE0));
      dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
      dark.setColor(QPalette::Text, QColor(0xE0, 0xE0, 0xE0));
      dark.setColor(QPalette::Button, QColor(0x40, 0x40, 0x40));
      dark.setColor(QPalette::ButtonText, QColor(0xE0, 0xE0, 0xE0));
      const QPalette light = page->palette();
      page->setPalette(dark);
      page->grab().toImage().save(folder + "/" + names[i] + "-dark.png");
      page->setPalette(light);
    }
    page->Enable(false);
    if (!folder.isEmpty()) page->grab().toImage().save(folder + "/" + names[i] + "-disabled.png");
  }
  // The popup of the background colour and the variables dialog.
  ColourPicker* picker = pages.flash.Background();
  picker->SetColour(0xFF0000);
  picker->OpenPopup();
  const QImage popup = picker->Popup()->grab().toImage();
  EXPECT_FALSE(popup.isNull());
  if (!folder.isEmpty()) popup.save(folder + "/colour-popup.png");
  QTest::keyClick(picker->Popup(), Qt::Key_Escape);
  ActionScriptDialog dialog;
  dialog.SetVariables(std::string("Title,Moulin Rouge\nUrl,http://example.org/\n"));
  dialog.show();
  if (!folder.isEmpty()) dialog.grab().toImage().save(folder + "/variables.png");
}

}  // namespace
}  // namespace quillon
