#include "app/audio_page.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "app/half_slider.h"
#include "app/message_box.h"
#include "app/movie_facts_testing.h"

namespace quillon {
namespace {

struct RecordingPrompts : Prompts {
  QStringList messages;
  MessageAnswer Message(QWidget*, const QString& title, const QString& text,
                        MessageStyle style) override {
    messages << title + "|" + text + "|" + QString::number(static_cast<int>(style));
    return MessageAnswer::kOk;
  }
};

struct Bound {
  EncoderSettings settings;
  AudioPage page;
  RecordingPrompts prompts;
  explicit Bound(bool mp3 = true) {
    page.SetPrompts(&prompts);
    page.Bind(&settings, nullptr, TestMovie(25.0, true, mp3));
  }
  void Rebind(bool mp3 = true) { page.Bind(&settings, nullptr, TestMovie(25.0, true, mp3)); }
  int Rate() const { return page.RateBox()->currentText().toInt(); }
  int Kbps() const { return page.BitRateBox()->currentText().toInt(); }
};

TEST(AudioPageTest, VolumeHalfUnitsAndTheFourHundredCap) {
  Bound b;
  b.settings.audio.volume = 250.0f;
  b.Rebind();
  EXPECT_EQ(b.page.VolumeSlider()->Position(), 500);
  EXPECT_EQ(b.page.VolumeSlider()->Text(), "250");
  b.page.VolumeSlider()->Slider()->setValue(800);
  EXPECT_EQ(b.page.VolumeSlider()->Text(), "400");
  b.page.Store();
  EXPECT_EQ(b.settings.audio.volume, 400.0f);
  QTest::keyClicks(b.page.VolumeSlider()->Box(), "9");  // "4009" is beyond the typed range
  EXPECT_EQ(b.page.VolumeSlider()->Text(), "400");
}

TEST(AudioPageTest, OffsetBeyondTheSliderKeepsTheBoxValue) {
  Bound b;
  b.settings.audio.offset = 900.0f;
  b.Rebind();
  EXPECT_EQ(b.page.OffsetSlider()->Position(), 2000);
  EXPECT_EQ(b.page.OffsetSlider()->Text(), "900");
  b.page.Store();
  EXPECT_EQ(b.settings.audio.offset, 900.0f);
  b.page.OffsetSlider()->Slider()->setValue(900);
  EXPECT_EQ(b.page.OffsetSlider()->Text(), "-50");
  b.page.Store();
  EXPECT_EQ(b.settings.audio.offset, -50.0f);
  b.page.OffsetSlider()->Box()->setText("soon");
  b.page.Store();
  EXPECT_EQ(b.settings.audio.offset, 0.0f);
}

TEST(AudioPageTest, Mp3RatesAndBitRatesStayCompatible) {
  Bound b;  // defaults: MP3, 22050, 16 kbit/s
  ASSERT_EQ(b.page.EncodingBox()->currentText(), "MP3");
  b.page.ChooseBitRate(192);
  EXPECT_EQ(b.Rate(), 44100);
  b.page.ChooseBitRate(144);
  EXPECT_EQ(b.Rate(), 22050);
  b.page.ChooseRate(44100);
  EXPECT_EQ(b.Kbps(), 128);
  b.page.ChooseBitRate(16);
  EXPECT_EQ(b.Rate(), 22050);
  b.page.ChooseRate(44100);
  EXPECT_EQ(b.Kbps(), 32);
  b.page.ChooseBitRate(320);
  b.page.ChooseRate(22050);
  EXPECT_EQ(b.Kbps(), 160);

  // Switching to MP3 with 192 selected: 22050, then the bit rate comes down to 160.
  b.page.ChooseEncoding(AudioPage::Encoding::kAdpcm);
  b.page.ChooseBitRate(192);
  b.page.ChooseEncoding(AudioPage::Encoding::kMp3);
  EXPECT_EQ(b.Rate(), 22050);
  EXPECT_EQ(b.Kbps(), 160);
  b.page.Store();
  EXPECT_EQ(b.settings.audio.mp3kbps, 160);
}

TEST(AudioPageTest, RateListsFollowTheEncoding) {
  Bound b;
  b.settings.audio.rate = 11025;
  b.Rebind();
  EXPECT_EQ(b.page.RateBox()->count(), 2);
  EXPECT_EQ(b.Rate(), 22050);
  b.page.Store();
  EXPECT_EQ(b.settings.audio.rate, 22050);

  b.page.ChooseEncoding(AudioPage::Encoding::kAdpcm);
  EXPECT_EQ(b.page.RateBox()->count(), 4);
  EXPECT_EQ(b.Rate(), 22050);
  EXPECT_TRUE(b.page.BitsBox()->isEnabled());
  EXPECT_FALSE(b.page.BitRateBox()->isEnabled());
  EXPECT_FALSE(b.page.AbrCheck()->isEnabled());
  b.page.Store();
  EXPECT_EQ(b.settings.audio.flags & AudioOptions::kCompressionMp3, 0u);

  b.settings.audio.mp3kbps = 17;  // not in the list: the second item
  b.Rebind();
  EXPECT_EQ(b.Kbps(), 16);
}

TEST(AudioPageTest, Mp3WithoutTheEncoderFallsBackToAdpcm) {
  Bound b(false);
  EXPECT_EQ(b.page.EncodingBox()->currentText(), "ADPCM");  // the default MP3 record
  b.page.ChooseRate(44100);
  b.page.ChooseEncoding(AudioPage::Encoding::kMp3);
  ASSERT_EQ(b.prompts.messages.size(), 1);
  EXPECT_EQ(b.prompts.messages[0],
            "MP3 Compression not installed|MP3 audio compression is not currently installed.|" +
                QString::number(static_cast<int>(MessageStyle::kWarning)));
  EXPECT_EQ(b.page.EncodingBox()->currentText(), "ADPCM");
  EXPECT_EQ(b.Rate(), 44100);  // the ADPCM choices stay
}

TEST(AudioPageTest, SilentAndSoundlessMoviesDisableTheControls) {
  Bound b;
  b.page.ChooseEncoding(AudioPage::Encoding::kSilent);
  EXPECT_FALSE(b.page.RateBox()->isEnabled());
  EXPECT_FALSE(b.page.VolumeSlider()->isEnabled());
  EXPECT_FALSE(b.page.MonoCheck()->isEnabled());
  EXPECT_TRUE(b.page.EncodingBox()->isEnabled());
  b.page.Store();
  EXPECT_EQ(b.settings.audio.flags & AudioOptions::kProcess, 0u);

  MovieFacts silent = TestMovie();
  silent.hasSound = false;
  b.page.Bind(&b.settings, nullptr, silent);
  b.page.Enable(true);
  EXPECT_FALSE(b.page.EncodingBox()->isEnabled());
}

TEST(AudioPageTest, AdpcmDataRateLabel) {
  Bound b;
  b.page.ChooseEncoding(AudioPage::Encoding::kAdpcm);
  b.page.BitsBox()->setCurrentIndex(2);  // 4 bits
  EXPECT_EQ(b.page.DataRateLabel()->text(), "(176 kbps)");
  b.page.MonoCheck()->setChecked(true);
  EXPECT_EQ(b.page.DataRateLabel()->text(), "(88 kbps)");
  b.page.ChooseEncoding(AudioPage::Encoding::kMp3);
  EXPECT_EQ(b.page.DataRateLabel()->text(), "");
}

}  // namespace
}  // namespace quillon
