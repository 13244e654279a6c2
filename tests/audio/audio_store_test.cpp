#include "audio/audio_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "audio_fakes.h"
#include "settings/encoder_settings.h"

namespace quillon {
namespace {

using testing::FakeAudioReader;
using testing::FakeMp3Library;

std::vector<int16_t> ReadAll16(const ByteBuffer& b) {
  std::vector<int16_t> v(b.Size() / 2);
  std::memcpy(v.data(), b.Data(), v.size() * 2);
  return v;
}

AudioOptions Adpcm(uint32_t rate, uint32_t extraFlags = 0) {
  AudioOptions o;
  o.flags = AudioOptions::kProcess | extraFlags;
  o.rate = static_cast<int32_t>(rate);
  o.adpcmBits = 5;
  return o;
}

class AudioStoreTest : public ::testing::Test {
 protected:
  AudioStoreTest() : store(std::make_unique<FakeMp3Library>()) {}

  // Opens a track of 16-bit samples and sets it up for the whole range. Short tracks are
  // padded with silence to a second, since ranges are whole milliseconds.
  FakeAudioReader* Open16(std::vector<int16_t> samples, uint8_t channels, uint32_t rate,
                          AudioOptions options) {
    if (samples.size() < size_t(rate) * channels) samples.resize(size_t(rate) * channels);
    FakeAudioReader* reader = FakeAudioReader::From16(samples, channels, rate);
    EXPECT_TRUE(store.OpenReader(std::unique_ptr<AudioReader>(reader), AudioReaderKind::kStream));
    EXPECT_TRUE(store.Setup(options));
    EXPECT_TRUE(store.SetRange(0, 0xFFFFFFFFu));
    return reader;
  }
  FakeAudioReader* Open8(std::vector<uint8_t> bytes, uint8_t channels, uint32_t rate,
                         AudioOptions options) {
    if (bytes.size() < size_t(rate) * channels) bytes.resize(size_t(rate) * channels, 0x80);
    auto* reader = new FakeAudioReader(bytes, channels, 1, rate);
    EXPECT_TRUE(store.OpenReader(std::unique_ptr<AudioReader>(reader), AudioReaderKind::kStream));
    EXPECT_TRUE(store.Setup(options));
    EXPECT_TRUE(store.SetRange(0, 0xFFFFFFFFu));
    return reader;
  }
  std::vector<int16_t> ReadFrames(uint32_t want) {
    ByteBuffer out;
    EXPECT_TRUE(store.SetPosition(store.FirstFrame(), store.FrameCount()));
    uint32_t got = 0;
    while (got < want) {
      const int32_t n = store.ReadSamples(want - got, out);
      if (n <= 0) break;
      got += static_cast<uint32_t>(n);
    }
    return ReadAll16(out);
  }

  AudioStore store;
};

TEST_F(AudioStoreTest, EightBitSamplesBecomeSigned16Bit) {
  Open8({0, 128, 255}, 1, 11025, Adpcm(11025));
  EXPECT_EQ(ReadFrames(3), (std::vector<int16_t>{-32768, 0, 32512}));
}

TEST_F(AudioStoreTest, StereoForcedToMonoMixesBothChannels) {
  Open8({255, 255, 0, 0, 128, 0}, 2, 11025, Adpcm(11025, AudioOptions::kForceMono));
  EXPECT_EQ(ReadFrames(3), (std::vector<int16_t>{32512, -32768, -16384}));

  Open16({-3, 0, 32767, 32767, -32768, -32768, 1000, -1001}, 2, 22050,
         Adpcm(22050, AudioOptions::kForceMono));
  // Sum shifted right with sign: -3 >> 1 is -2.
  EXPECT_EQ(ReadFrames(4), (std::vector<int16_t>{-2, 32767, -32768, -1}));
}

TEST_F(AudioStoreTest, VolumeScalesTruncatesAndClamps) {
  const std::vector<int16_t> loud = {32767, -32768, 20000, -20000, -3, 3};
  AudioOptions o = Adpcm(22050);
  o.volume = 200.0f;
  Open16(loud, 1, 22050, o);
  EXPECT_EQ(ReadFrames(6), (std::vector<int16_t>{32767, -32768, 32767, -32768, -6, 6}));

  o.volume = 50.0f;
  Open16(loud, 1, 22050, o);
  EXPECT_EQ(ReadFrames(6), (std::vector<int16_t>{16383, -16384, 10000, -10000, -1, 1}));

  std::vector<int16_t> noise;
  uint32_t x = 12345;
  for (int i = 0; i < 4000; ++i) {
    x = x * 1103515245u + 12345u;
    noise.push_back(static_cast<int16_t>(x >> 16));
  }
  o.volume = 100.0f;
  Open16(noise, 2, 22050, o);
  EXPECT_EQ(ReadFrames(2000), noise);
}

TEST_F(AudioStoreTest, PositiveOffsetLeadsWithSilenceAndReadsFromTheStart) {
  std::vector<int16_t> track(22050 * 2);
  for (size_t i = 0; i < track.size(); ++i) track[i] = static_cast<int16_t>(1 + i % 1000);
  AudioOptions o = Adpcm(22050);
  o.offset = 500.0f;
  FakeAudioReader* reader = Open16(track, 1, 22050, o);
  EXPECT_EQ(store.LeadFrames(), 11025);
  const auto got = ReadFrames(11025 + 10);
  EXPECT_EQ(reader->lastSeekFrame, 0u);
  ASSERT_EQ(got.size(), 11035u);
  for (size_t i = 0; i < 11025; ++i) ASSERT_EQ(got[i], 0) << i;
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(got[11025 + i], track[i]);
}

TEST_F(AudioStoreTest, RangeIsClampedToTheTrack) {
  Open16(std::vector<int16_t>(44100 * 2 * 2), 2, 44100, Adpcm(22050));
  ASSERT_EQ(store.DurationMs(), 2000u);
  ASSERT_TRUE(store.SetRange(5000, 100));
  EXPECT_EQ(store.FirstFrame(), 1999u * 44100 / 1000);
  ASSERT_TRUE(store.SetRange(0, 0xFFFFFFFFu));
  EXPECT_EQ(store.FirstFrame(), 0u);
  EXPECT_EQ(store.FrameCount(), 88200u);
  ASSERT_TRUE(store.SetRange(500, 1000));
  EXPECT_EQ(store.FirstFrame(), 22050u);
  EXPECT_EQ(store.FrameCount(), 44101u);
}

TEST_F(AudioStoreTest, FrameBlockResamples44100StereoTo11025) {
  FakeAudioReader* reader =
      Open16(std::vector<int16_t>(44100 * 2 * 2, 100), 2, 44100, Adpcm(11025));
  ASSERT_TRUE(store.StartADPCM());
  ByteBuffer bits;
  for (int block = 0; block < 3; ++block) {
    uint32_t produced = 0;
    const int32_t bytes = store.EncodeFrameADPCM(918, bits, produced);
    EXPECT_EQ(produced, 918u);
    EXPECT_EQ(bytes, 1152);  // 2 + 2 x 22 + 917 x 2 x 5 bits
    EXPECT_EQ(store.Position(), 3672u * (block + 1));
  }
  // Per-frame requests come from the read window, not the file.
  EXPECT_LE(reader->fetchCount, 2u);
}

TEST_F(AudioStoreTest, LastBlockIsPaddedThenTheSoundEnds) {
  // A range of 1000 frames: one block of 918, then 82 padded with silence to 918.
  std::vector<int16_t> track(22050, 5000);
  Open16(track, 1, 22050, Adpcm(22050));
  ASSERT_TRUE(store.SetRange(0, 45));
  ASSERT_EQ(store.FrameCount(), 45u * 22050 / 1000 + 1);  // 993
  ASSERT_TRUE(store.StartADPCM());
  ByteBuffer bits;
  uint32_t produced = 0;
  EXPECT_GT(store.EncodeFrameADPCM(918, bits, produced), 0);
  const int32_t last = store.EncodeFrameADPCM(918, bits, produced);
  EXPECT_EQ(produced, 918u);
  EXPECT_EQ(last, (2 + 22 + 917 * 5 + 7) / 8);
  EXPECT_EQ(store.EncodeFrameADPCM(918, bits, produced), 0);
  EXPECT_EQ(produced, 0u);
}

TEST_F(AudioStoreTest, IdenticalSoundGivesIdenticalBlocks) {
  // A period of 11 frames divides the 1837-frame block, so both blocks hold the same sound.
  std::vector<int16_t> track;
  for (int i = 0; i < 1837 * 3; ++i) track.push_back(static_cast<int16_t>((i % 11) * 2500 - 12000));
  Open16(track, 1, 22050, Adpcm(22050));
  ASSERT_TRUE(store.StartADPCM());
  ByteBuffer a, b;
  uint32_t produced = 0;
  ASSERT_GT(store.EncodeFrameADPCM(1837, a, produced), 0);
  const std::vector<uint8_t> first(a.Data(), a.Data() + a.Size());
  ASSERT_GT(store.EncodeFrameADPCM(1837, b, produced), 0);
  EXPECT_EQ(first, std::vector<uint8_t>(b.Data(), b.Data() + b.Size()));
}

TEST_F(AudioStoreTest, ReadFailureEndsTheSoundWithAMessageEvenAfterLeadSilence) {
  AudioOptions o = Adpcm(22050);
  o.offset = 10.0f;  // 220 frames of lead silence come before the failing read
  FakeAudioReader* reader = Open16(std::vector<int16_t>(5000), 1, 22050, o);
  ASSERT_TRUE(store.StartADPCM());
  reader->failReads = true;
  ByteBuffer bits;
  uint32_t produced = 0;
  EXPECT_EQ(store.EncodeFrameADPCM(918, bits, produced), -1);
  EXPECT_EQ(store.lastError, kAudioReadError);
  EXPECT_FALSE(store.IsActive());
}

TEST_F(AudioStoreTest, SetupRefusesWhenSoundIsOffOrNoTrackIsOpen) {
  AudioOptions off;
  off.flags = 0;
  EXPECT_FALSE(store.Setup(off));
  EXPECT_FALSE(store.IsActive());
  Open16(std::vector<int16_t>(100), 1, 22050, Adpcm(22050));
  EXPECT_FALSE(store.Setup(off));
  EXPECT_FALSE(store.IsActive());
  // Not active: the range is accepted and nothing is set.
  EXPECT_TRUE(store.SetRange(0, 10));
}

TEST_F(AudioStoreTest, HandEditedRatesAndBitsAreTakenToWhatTheStreamCanDeclare) {
  AudioOptions o = Adpcm(8000);
  o.adpcmBits = 9;
  Open16(std::vector<int16_t>(100), 1, 22050, o);
  EXPECT_EQ(store.OutputRate(), 5512u);
  o.rate = 0;
  ASSERT_TRUE(store.Setup(o));
  EXPECT_EQ(store.OutputRate(), 5512u);
  o.rate = 30000;
  ASSERT_TRUE(store.Setup(o));
  EXPECT_EQ(store.OutputRate(), 22050u);
}

TEST(AudioStoreOpenTest, MissingFileIsAnUnsupportedFormat) {
  AudioStore store(std::make_unique<FakeMp3Library>());
  EXPECT_FALSE(store.Open("/nonexistent/file.wav"));
  EXPECT_EQ(store.lastError, kAudioOpenError);
  EXPECT_FALSE(store.IsOpened());
  EXPECT_EQ(store.ReaderKind(), AudioReaderKind::kNone);
}

// --- rate conversion ----------------------------------------------------------------------

std::vector<int16_t> Resampled(const std::vector<int16_t>& in, uint32_t channels, uint32_t from,
                               uint32_t to, int32_t wanted = -1) {
  ByteBuffer out;
  const uint32_t n = AudioStore::Resample(in.data(), static_cast<uint32_t>(in.size() / channels),
                                          channels, from, out, to, wanted);
  auto v = ReadAll16(out);
  EXPECT_EQ(v.size(), size_t(n) * channels);
  return v;
}

TEST(AudioStoreResampleTest, UpwardInterpolatesWithTruncatedSteps) {
  EXPECT_EQ(Resampled({0, 100, 200}, 1, 11025, 22050),
            (std::vector<int16_t>{0, 50, 100, 150, 200, 200}));
  // -3 / 4 truncates to 0: four equal samples.
  EXPECT_EQ(Resampled({0, -3}, 1, 11025, 44100),
            (std::vector<int16_t>{0, 0, 0, 0, -3, -3, -3, -3}));
  // Channels are converted independently.
  EXPECT_EQ(Resampled({0, 1000, 100, 2000}, 2, 11025, 22050),
            (std::vector<int16_t>{0, 1000, 50, 1500, 100, 2000, 100, 2000}));
}

TEST(AudioStoreResampleTest, DownwardAveragesTruncatingTowardZero) {
  EXPECT_EQ(Resampled({1, 2, 3, 4, -1, -2, -3, -5}, 1, 44100, 11025),
            (std::vector<int16_t>{2, -2}));
  EXPECT_EQ(Resampled({10, -10, 20, -20, 30, -30, 41, -41}, 2, 22050, 11025),
            (std::vector<int16_t>{15, -15, 35, -35}));
  // 48000 -> 44100: about 0.919 outputs per input.
  EXPECT_EQ(Resampled(std::vector<int16_t>(4800, 7), 1, 48000, 44100).size(), 4410u);
}

TEST(AudioStoreResampleTest, OneFrameOffTheWantedCountIsCorrected) {
  const std::vector<int16_t> in = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(Resampled(in, 1, 22050, 22050 * 2, -1).size(), 16u);
  EXPECT_EQ(Resampled(in, 1, 22050, 44100, 17),
            (std::vector<int16_t>{1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 8}));
  EXPECT_EQ(Resampled(in, 1, 22050, 44100, 15).size(), 15u);
  EXPECT_EQ(Resampled(in, 1, 22050, 44100, 18).size(), 16u);
  EXPECT_EQ(Resampled(in, 1, 22050, 22050, 9).size(), 8u);  // same rate: copied as is
}

}  // namespace
}  // namespace quillon
