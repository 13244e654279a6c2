// The MP3 half of AudioStore against a scripted encoder library.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "audio/audio_store.h"
#include "audio_fakes.h"
#include "settings/encoder_settings.h"

namespace quillon {
namespace {

using testing::FakeAudioReader;
using testing::FakeMp3Library;

AudioOptions Mp3(uint32_t rate, uint32_t kbps, uint32_t extraFlags = 0) {
  AudioOptions o;
  o.flags = AudioOptions::kProcess | AudioOptions::kCompressionMp3 | extraFlags;
  o.rate = static_cast<int32_t>(rate);
  o.mp3kbps = static_cast<int32_t>(kbps);
  return o;
}

class Mp3BindingTest : public ::testing::Test {
 protected:
  Mp3BindingTest() : store(testing::Observed(lib)) {}

  // A track of the given frames; true when Setup kept MP3.
  bool OpenTrack(uint32_t frames, uint8_t channels, uint32_t rate, AudioOptions options) {
    std::vector<int16_t> samples(size_t(frames) * channels);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i % 4000);
    EXPECT_TRUE(store.OpenReader(
        std::unique_ptr<AudioReader>(FakeAudioReader::From16(samples, channels, rate)),
        AudioReaderKind::kStream));
    EXPECT_TRUE(store.Setup(options));
    EXPECT_TRUE(store.SetRange(0, 0xFFFFFFFFu));
    return (options.flags & AudioOptions::kCompressionMp3) != 0;
  }

  FakeMp3Library* lib = nullptr;
  AudioStore store;
};

TEST_F(Mp3BindingTest, EngineVersionMustBeAtLeast3_88) {
  struct V {
    uint8_t major, minor;
    bool accepted;
  };
  for (const V& v : {V{3, 87, false}, V{2, 99, false}, V{3, 88, true}, V{3, 93, true},
                     V{4, 0, true}, V{3, 100, true}}) {
    FakeMp3Library* fake = nullptr;
    AudioStore s(testing::Observed(fake));
    fake->major = v.major;
    fake->minor = v.minor;
    EXPECT_EQ(s.LoadMP3Encoder(), v.accepted) << int(v.major) << "." << int(v.minor);
    if (!v.accepted) {
      EXPECT_EQ(s.lastError, kMp3VersionError);
      EXPECT_FALSE(fake->loaded);
    }
  }
}

TEST_F(Mp3BindingTest, LoadFailuresKeepTheirMessages) {
  lib->loadResult = Mp3LoadResult::kNotFound;
  EXPECT_FALSE(store.IsMP3Available());
  EXPECT_EQ(store.lastError, kMp3NotFoundError);
  lib->loadResult = Mp3LoadResult::kMissingEntryPoint;
  EXPECT_FALSE(store.LoadMP3Encoder());
  EXPECT_EQ(store.lastError, kMp3AttachError);
  lib->loadResult = Mp3LoadResult::kLoaded;
  EXPECT_TRUE(store.IsMP3Available());
  EXPECT_TRUE(store.LoadMP3Encoder());
  EXPECT_EQ(lib->loads, 3);  // loaded once, then kept
}

TEST_F(Mp3BindingTest, SetupFallsBackToAdpcmWhenTheLibraryIsUnusable) {
  lib->major = 3;
  lib->minor = 87;
  AudioOptions o = Mp3(22050, 64);
  EXPECT_FALSE(OpenTrack(22050, 2, 22050, o));  // the caller's MP3 bit is cleared
  EXPECT_FALSE(store.IsMP3());
  EXPECT_TRUE(store.IsActive());
  EXPECT_EQ(store.lastError, kMp3VersionError);
  AudioOptions again = Mp3(22050, 64);
  ASSERT_TRUE(store.Setup(again));
  EXPECT_EQ(again.flags & AudioOptions::kCompressionMp3, 0u);
}

TEST_F(Mp3BindingTest, ConfigurationFollowsTheSettingsAndTrack) {
  ASSERT_TRUE(OpenTrack(44100, 2, 44100, Mp3(22050, 160)));
  Mp3Config c = store.MakeMp3Config();
  EXPECT_EQ(c.dwConfig, 256u);
  EXPECT_EQ(c.dwStructVersion, 1u);
  EXPECT_EQ(c.dwStructSize, 331u);
  EXPECT_EQ(c.dwSampleRate, 44100u);
  EXPECT_EQ(c.dwReSampleRate, 22050u);
  EXPECT_EQ(c.nMode, kMp3ModeJointStereo);
  EXPECT_EQ(c.dwBitrate, 160u);
  EXPECT_EQ(c.nPreset, 2);
  EXPECT_EQ(c.dwMpegVersion, 0u);
  EXPECT_EQ(c.bEnableVBR, 0);
  EXPECT_EQ(c.dwVbrAbr_bps, 0u);

  AudioOptions o = Mp3(44100, 192);
  ASSERT_TRUE(store.Setup(o));
  c = store.MakeMp3Config();
  EXPECT_EQ(c.nMode, kMp3ModeStereo);
  EXPECT_EQ(c.dwMpegVersion, 1u);

  o = Mp3(22050, 64, AudioOptions::kMp3Abr | AudioOptions::kForceMono);
  ASSERT_TRUE(store.Setup(o));
  c = store.MakeMp3Config();
  EXPECT_EQ(c.nMode, kMp3ModeMono);
  EXPECT_EQ(c.bEnableVBR, 1);
  EXPECT_EQ(c.dwVbrAbr_bps, 64000u);
  EXPECT_EQ(c.dwBitrate, 64u);
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&c);
  for (size_t i = 80; i < sizeof(c); ++i) ASSERT_EQ(raw[i], 0) << "byte " << i;
}

TEST_F(Mp3BindingTest, RatesAnMp3StreamCannotCarryAreEncodedAtTheNearestItCan) {
  ASSERT_TRUE(OpenTrack(22050, 1, 22050, Mp3(5512, 32)));
  EXPECT_EQ(store.MakeMp3Config().dwReSampleRate, 11025u);
  EXPECT_EQ(store.MakeMp3Config().dwMpegVersion, 0u);
  AudioOptions o = Mp3(48000, 32);
  ASSERT_TRUE(store.Setup(o));
  EXPECT_EQ(store.MakeMp3Config().dwReSampleRate, 44100u);
  EXPECT_EQ(store.MakeMp3Config().dwMpegVersion, 1u);
  o = Mp3(16000, 32);
  ASSERT_TRUE(store.Setup(o));
  EXPECT_EQ(store.MakeMp3Config().dwReSampleRate, 11025u);
}

TEST_F(Mp3BindingTest, StereoChunksAreCutAtMaxSamplesValues) {
  ASSERT_TRUE(OpenTrack(44100, 2, 44100, Mp3(44100, 64)));
  ASSERT_TRUE(store.StartMP3());
  ByteBuffer out;
  // One read of 11025 frames is 22050 values: 9 calls of 2304 and one of 1314.
  lib->framesPerMp3Frame = 0;
  EXPECT_EQ(store.EncodeMP3(1, out), 0);  // nothing produced yet: the range goes on
  ASSERT_GE(lib->chunkCounts.size(), 10u);
  const std::vector<uint32_t> firstRead(lib->chunkCounts.begin(), lib->chunkCounts.begin() + 10);
  EXPECT_EQ(firstRead,
            (std::vector<uint32_t>{2304, 2304, 2304, 2304, 2304, 2304, 2304, 2304, 2304, 1314}));
}

TEST_F(Mp3BindingTest, MonoChunksAreDoubledIntoPairsCountedInFrames) {
  ASSERT_TRUE(OpenTrack(22050, 1, 22050, Mp3(22050, 32)));
  ASSERT_TRUE(store.StartMP3());
  ByteBuffer out;
  EXPECT_GT(store.EncodeMP3(2304, out), 0);
  ASSERT_FALSE(lib->chunkCounts.empty());
  EXPECT_EQ(lib->chunkCounts[0], 2304u);
  ASSERT_EQ(lib->firstChunk.size(), 4608u);
  for (size_t i = 0; i < 2304; ++i) {
    ASSERT_EQ(lib->firstChunk[2 * i], static_cast<int16_t>(i % 4000));
    ASSERT_EQ(lib->firstChunk[2 * i + 1], static_cast<int16_t>(i % 4000));
  }
}

TEST_F(Mp3BindingTest, EncodeReturnsTheAbsoluteCursorAndFinishAppendsTheLastFrames) {
  ASSERT_TRUE(OpenTrack(22050, 2, 22050, Mp3(22050, 32)));
  ASSERT_TRUE(store.StartMP3());
  ByteBuffer out;
  out.Append("abcd", 4);  // unread bytes the caller keeps in front
  const int32_t after = store.EncodeMP3(2304, out);
  ASSERT_GT(after, 4 + 2304);
  EXPECT_EQ(static_cast<uint32_t>(after), out.Cursor());
  EXPECT_EQ(out.Data()[0], 'a');
  const int32_t finished = store.FinishMP3(&out);
  EXPECT_EQ(finished, after + 2 * int32_t(testing::kMpeg2Frame32k));
  EXPECT_EQ(lib->deinits, 1);
  EXPECT_EQ(lib->closes, 1);
  // The stream is closed once; a second flush writes nothing.
  EXPECT_EQ(store.FinishMP3(&out), 0);
  EXPECT_EQ(lib->closes, 1);
  EXPECT_EQ(store.EncodeMP3(2304, out), 0);
}

TEST_F(Mp3BindingTest, ShortRangeYieldsFewerBytesThanAsked) {
  ASSERT_TRUE(OpenTrack(22050, 2, 22050, Mp3(22050, 32)));
  ASSERT_TRUE(store.SetRange(0, 100));  // 2206 frames: three MP3 frames of 576
  ASSERT_TRUE(store.StartMP3());
  ByteBuffer out;
  const int32_t got = store.EncodeMP3(2304, out);
  EXPECT_EQ(got, 3 * int32_t(testing::kMpeg2Frame32k));
  EXPECT_EQ(store.FinishMP3(&out), got + 2 * int32_t(testing::kMpeg2Frame32k));
}

TEST_F(Mp3BindingTest, StreamOpenFailureIsReported) {
  ASSERT_TRUE(OpenTrack(22050, 2, 22050, Mp3(22050, 32)));
  lib->initResult = 1;
  EXPECT_FALSE(store.StartMP3());
  EXPECT_EQ(store.lastError, kMp3OpenStreamError);
  EXPECT_FALSE(store.IsRunning());
}

TEST_F(Mp3BindingTest, FailingChunkClosesTheStreamAndDeactivatesTheSound) {
  ASSERT_TRUE(OpenTrack(44100, 2, 44100, Mp3(44100, 64)));
  ASSERT_TRUE(store.StartMP3());
  lib->failChunkAt = 3;
  ByteBuffer out;
  EXPECT_EQ(store.EncodeMP3(1000000, out), -1);
  EXPECT_EQ(store.lastError, kMp3EncodeError);
  EXPECT_FALSE(store.IsActive());
  EXPECT_EQ(lib->deinits, 1);
  EXPECT_EQ(lib->closes, 1);
  EXPECT_EQ(store.EncodeMP3(2304, out), 0);
}

TEST_F(Mp3BindingTest, FailingFlushIsReported) {
  ASSERT_TRUE(OpenTrack(22050, 2, 22050, Mp3(22050, 32)));
  ASSERT_TRUE(store.StartMP3());
  lib->deinitResult = 1;
  ByteBuffer out;
  EXPECT_EQ(store.FinishMP3(&out), -1);
  EXPECT_EQ(store.lastError, kMp3FlushError);
  EXPECT_FALSE(store.IsActive());
  EXPECT_EQ(lib->closes, 1);
}

TEST_F(Mp3BindingTest, SetupAgainClosesTheRunningStream) {
  ASSERT_TRUE(OpenTrack(22050, 2, 22050, Mp3(22050, 32)));
  ASSERT_TRUE(store.StartMP3());
  AudioOptions o = Mp3(22050, 32);
  ASSERT_TRUE(store.Setup(o));
  EXPECT_EQ(lib->closes, 1);
  EXPECT_FALSE(store.IsRunning());
}

}  // namespace
}  // namespace quillon
