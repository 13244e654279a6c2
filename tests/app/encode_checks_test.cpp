#include "app/encode_checks.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

EncoderSettings AdpcmSettings(uint32_t limit) {
  EncoderSettings s;
  SetDefaults(s);
  s.audio.flags = AudioOptions::kProcess;  // ADPCM
  s.audio.adpcmBits = 4;
  s.audio.rate = 22050;
  s.transport.bitrateLimit = limit;
  return s;
}

TEST(EncodeChecksTest, StereoAdpcmAboveTheLimitIsRefusedAndMonoFits) {
  EncoderSettings s = AdpcmSettings(128000);
  EXPECT_EQ(AudioBitRate(s.audio, true, 2), 176400u);
  EXPECT_TRUE(AudioExceedsBitRateLimit(s, true, 2));
  s.audio.flags |= AudioOptions::kForceMono;
  EXPECT_EQ(AudioBitRate(s.audio, true, 2), 88200u);
  EXPECT_FALSE(AudioExceedsBitRateLimit(s, true, 2));
}

TEST(EncodeChecksTest, NoLimitNoSoundOrSilentNeverRefuse) {
  EXPECT_FALSE(AudioExceedsBitRateLimit(AdpcmSettings(0), true, 2));
  EXPECT_FALSE(AudioExceedsBitRateLimit(AdpcmSettings(1000), false, 0));
  EncoderSettings silent = AdpcmSettings(1000);
  silent.audio.flags &= ~AudioOptions::kProcess;
  EXPECT_FALSE(AudioExceedsBitRateLimit(silent, true, 2));
  // A limit exactly at the sound's rate is enough.
  EXPECT_FALSE(AudioExceedsBitRateLimit(AdpcmSettings(176400), true, 2));
}

TEST(EncodeChecksTest, Mp3CountsItsBitRateWhateverTheChannels) {
  EncoderSettings s = AdpcmSettings(56000);
  s.audio.flags |= AudioOptions::kCompressionMp3;
  s.audio.mp3kbps = 64;
  EXPECT_EQ(AudioBitRate(s.audio, true, 2), 64000u);
  EXPECT_TRUE(AudioExceedsBitRateLimit(s, true, 1));
  s.audio.mp3kbps = 48;
  EXPECT_FALSE(AudioExceedsBitRateLimit(s, true, 2));
}

TEST(EncodeChecksTest, LongSelectionAsksUnlessPartsAreLimited) {
  // 700 s at 25 fps.
  EXPECT_TRUE(NeedsMultiPartQuestion(17500, 0));
  EXPECT_FALSE(NeedsMultiPartQuestion(17500, 1024000));
  EXPECT_TRUE(NeedsMultiPartQuestion(16000, 0));
  EXPECT_FALSE(NeedsMultiPartQuestion(15999, 0));
  EXPECT_NEAR(SinglePartFps(700000), 22.757, 0.001);
  const QString text = MultiPartQuestionText(700000);
  EXPECT_TRUE(text.contains("more than 16000 frames")) << text.toStdString();
  EXPECT_TRUE(text.contains("to about 22.8 FPS")) << text.toStdString();
  // Tiny rates are not pushed below zero.
  EXPECT_GT(SinglePartFps(400000000), 0.0);
}

}  // namespace
}  // namespace quillon
