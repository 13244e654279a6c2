#include "swf/transport/sound_stream.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "audio/audio_fakes.h"
#include "audio/audio_store.h"
#include "settings/encoder_settings.h"
#include "swf/swf_test_reader.h"

namespace quillon {
namespace {

using testing::FakeAudioReader;
using testing::FakeMp3Library;
using testing::ParsedTag;
using testing::ParseTags;

uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// --- MP3 frame header check ---------------------------------------------------------------

struct HeaderCase {
  uint8_t b1 = 0, b2 = 0, b3 = 0;
  Mp3HeaderKind kind = Mp3HeaderKind::kInvalid;
  uint32_t rate = 0, bitRate = 0, samples = 0, bytes = 0;
  bool stereo = false;
};

class Mp3FrameHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(Mp3FrameHeaderTest, ClassifiesAndMeasures) {
  const HeaderCase& c = GetParam();
  const uint8_t p[4] = {0xFF, c.b1, c.b2, c.b3};
  Mp3FrameHeader h;
  ASSERT_EQ(ParseMp3FrameHeader(p, h), c.kind);
  if (c.kind != Mp3HeaderKind::kFrame) return;
  EXPECT_EQ(h.sampleRate, c.rate);
  EXPECT_EQ(h.bitRate, c.bitRate);
  EXPECT_EQ(h.samplesPerFrame, c.samples);
  EXPECT_EQ(h.frameBytes, c.bytes);
  EXPECT_EQ(h.stereo, c.stereo);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, Mp3FrameHeaderTest,
    ::testing::Values(
        // MPEG-1 (version bits 11), Layer III (01): 0xFB. 44100 Hz, 128 kbit/s, padded.
        HeaderCase{0xFB, 0b1001'00'1'0, 0x00, Mp3HeaderKind::kFrame, 44100, 128000, 1152, 418,
                   true},
        // Mono (channel mode 11), 320 kbit/s, no padding: 144 x 320000 / 44100 = 1044.
        HeaderCase{0xFB, 0b1110'00'0'0, 0xC0, Mp3HeaderKind::kFrame, 44100, 320000, 1152, 1044,
                   false},
        // MPEG-2 (10): 0xF3. 22050 Hz, 32 kbit/s: 72 x 32000 / 22050 = 104.
        HeaderCase{0xF3, 0b0100'00'0'0, 0x40, Mp3HeaderKind::kFrame, 22050, 32000, 576, 104, true},
        // MPEG-2.5 (00): 0xE3. 11025 Hz, 8 kbit/s, padded: 72 x 8000 / 11025 + 1 = 53.
        HeaderCase{0xE3, 0b0001'00'1'0, 0x00, Mp3HeaderKind::kFrame, 11025, 8000, 576, 53, true},
        // 48000 Hz (MPEG-1) and 24000 Hz (MPEG-2) cannot be carried.
        HeaderCase{0xFB, 0b1001'01'0'0, 0, Mp3HeaderKind::kInvalid},
        HeaderCase{0xF3, 0b0100'01'0'0, 0, Mp3HeaderKind::kInvalid},
        HeaderCase{0xEB, 0b1001'00'0'0, 0, Mp3HeaderKind::kInvalid},    // version 01
        HeaderCase{0xFD, 0b1001'00'0'0, 0, Mp3HeaderKind::kInvalid},    // Layer II
        HeaderCase{0xFB, 0b1111'00'0'0, 0, Mp3HeaderKind::kInvalid},    // bad bit rate
        HeaderCase{0xDF, 0b1001'00'0'0, 0, Mp3HeaderKind::kInvalid}));  // 10 sync bits only

TEST(Mp3FrameHeaderTagTest, RecognisesTagsByTheirLetters) {
  Mp3FrameHeader h;
  const uint8_t tag[4] = {'T', 'A', 'G', 'x'};
  const uint8_t lyrics[4] = {'L', 'Y', 'R', 'I'};
  const uint8_t lyr[4] = {'L', 'Y', 'R', 'X'};
  const uint8_t id3[10] = {'I', 'D', '3', 3, 0, 0, 0x01, 0x7F, 0x00, 0x05};
  EXPECT_EQ(ParseMp3FrameHeader(tag, h), Mp3HeaderKind::kEndTag);
  EXPECT_EQ(ParseMp3FrameHeader(lyrics, h), Mp3HeaderKind::kEndTag);
  EXPECT_EQ(ParseMp3FrameHeader(lyr, h), Mp3HeaderKind::kInvalid);
  EXPECT_EQ(ParseMp3FrameHeader(id3, h), Mp3HeaderKind::kId3v2);
  EXPECT_EQ(Id3v2TagSize(id3), (1u << 21) | (0x7Fu << 14) | 5u);
}

// --- the stream ---------------------------------------------------------------------------

class SoundStreamTest : public ::testing::Test {
 protected:
  SoundStreamTest() : audio(testing::Observed(lib)) { EXPECT_TRUE(writer.Open()); }

  void OpenTrack(uint32_t seconds, uint8_t channels, uint32_t rate, AudioOptions options) {
    std::vector<int16_t> samples(size_t(seconds) * rate * channels);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 17);
    ASSERT_TRUE(audio.OpenReader(
        std::unique_ptr<AudioReader>(FakeAudioReader::From16(samples, channels, rate)),
        AudioReaderKind::kStream));
    ASSERT_TRUE(audio.Setup(options));
    ASSERT_TRUE(audio.SetRange(0, 0xFFFFFFFFu));
  }
  static AudioOptions Mp3() {
    AudioOptions o;
    o.flags = AudioOptions::kProcess | AudioOptions::kCompressionMp3;
    o.rate = 22050;
    o.mp3kbps = 32;
    return o;
  }
  static AudioOptions Adpcm(uint32_t rate, uint32_t extra = 0) {
    AudioOptions o;
    o.flags = AudioOptions::kProcess | extra;
    o.rate = static_cast<int32_t>(rate);
    o.adpcmBits = 5;
    return o;
  }
  // Writes a frame's sound; returns its tags.
  std::vector<ParsedTag> Frame(bool expectOk = true) {
    const uint32_t from = writer.Cursor();
    uint32_t bytes = 0;
    EXPECT_EQ(sound.WriteSoundBlock(writer, bytes), expectOk);
    EXPECT_EQ(bytes, writer.Cursor() - from);
    std::vector<uint8_t> all = testing::OutputBytes(writer);
    return ParseTags(all, from);
  }

  FakeMp3Library* lib = nullptr;
  AudioStore audio;
  SwfWriter writer;
  SoundStream sound;
};

TEST_F(SoundStreamTest, Mp3At22050PacesFramesAgainstThePlayerRate) {
  OpenTrack(3, 2, 22050, Mp3());
  sound.Initialise(&audio, 12.0);
  ASSERT_TRUE(sound.StartSound());
  sound.StartPart();

  std::vector<ParsedTag> first = Frame();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].code, 45);
  // reserved 0000, rate 10 (22050), 16-bit 1, stereo 1 | MP3 0010, rate 10, 16-bit, stereo.
  ASSERT_EQ(first[0].body.size(), 6u);
  EXPECT_EQ(first[0].body[0], 0b0000'10'1'1);
  EXPECT_EQ(first[0].body[1], 0b0010'10'1'1);
  EXPECT_EQ(U16(first[0].body, 2), 1838);  // trunc(576 x 3.1901 + 1)
  EXPECT_EQ(U16(first[0].body, 4), 1105);  // LatencySeek: the encoder and decoder delay

  std::vector<uint32_t> counts;
  std::vector<ParsedTag> blocks = {first[1]};
  for (int f = 1; f < 12; ++f) {
    auto tags = Frame();
    ASSERT_EQ(tags.size(), 1u);
    blocks.push_back(tags[0]);
  }
  for (const ParsedTag& b : blocks) {
    EXPECT_EQ(b.code, 19);
    EXPECT_TRUE(b.longHeader);
    const uint32_t frames = static_cast<uint32_t>((b.body.size() - 4) / testing::kMpeg2Frame32k);
    EXPECT_EQ(b.body.size(), 4 + frames * testing::kMpeg2Frame32k);
    EXPECT_EQ(U16(b.body, 0), frames * 576);  // SampleCount
    EXPECT_EQ(U16(b.body, 2), 0);             // SeekSamples
    EXPECT_EQ(b.body[4], 0xFF);
    counts.push_back(frames);
  }
  EXPECT_EQ(std::vector<uint32_t>(counts.begin(), counts.begin() + 6),
            (std::vector<uint32_t>{4, 3, 3, 3, 3, 4}));
  // Always about one frame ahead of the accumulated count.
  uint32_t written = 0;
  for (size_t i = 0; i < counts.size(); ++i) {
    written += counts[i];
    const double due = (i + 1) * 22050.0 / 576.0 / 12.0;
    EXPECT_GE(written, due);
    EXPECT_LE(written, due + 2.0);
  }
  sound.StopSound();
  EXPECT_FALSE(sound.IsActive());
}

TEST_F(SoundStreamTest, Mp3RunsOutAndLaterFramesCarryNoSound) {
  OpenTrack(1, 2, 22050, Mp3());
  ASSERT_TRUE(audio.SetRange(0, 500));  // 11026 frames: 19 MP3 frames and 2 from the flush
  sound.Initialise(&audio, 12.0);
  ASSERT_TRUE(sound.StartSound());
  sound.StartPart();
  uint32_t frames = 0;
  int framesWithSound = 0;
  for (int f = 0; f < 20; ++f) {
    for (const ParsedTag& t : Frame()) {
      if (t.code == 19) {
        frames += U16(t.body, 0) / 576;
        ++framesWithSound;
      }
    }
  }
  EXPECT_EQ(frames, 11026 / 576 + 2);
  EXPECT_LT(framesWithSound, 20);
  EXPECT_FALSE(sound.IsActive());
  EXPECT_EQ(lib->closes, 1);
  uint32_t bytes = 1;
  EXPECT_TRUE(sound.WriteSoundBlock(writer, bytes));
  EXPECT_EQ(bytes, 0u);
}

TEST_F(SoundStreamTest, Id3v2TagsAreSkippedAcrossRefills) {
  OpenTrack(2, 2, 22050, Mp3());
  // A 5000-byte tag body is more than one refill holds.
  lib->prefix = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x27, 0x08};  // 39 x 128 + 8 = 5000
  lib->prefix.resize(10 + 5000, 0xFF);
  lib->framesPerMp3Frame = 576;
  sound.Initialise(&audio, 12.0);
  ASSERT_TRUE(sound.StartSound());
  sound.StartPart();
  const auto tags = Frame();
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_EQ(tags[0].code, 45);
  EXPECT_EQ(U16(tags[0].body, 2), 1838);
  EXPECT_EQ(tags[1].body.size(), 4 + 4 * testing::kMpeg2Frame32k);
  EXPECT_EQ(tags[1].body[4], 0xFF);
  EXPECT_EQ(tags[1].body[5], testing::kMpeg2B1);
}

TEST_F(SoundStreamTest, Mp3DataAt48000FailsTheFrame) {
  OpenTrack(2, 2, 44100, Mp3());
  lib->b1 = 0xFB;
  lib->b2 = 0b1001'01'0'0;  // MPEG-1, 128 kbit/s, 48000 Hz
  lib->frameBytes = 384;
  sound.Initialise(&audio, 12.0);
  ASSERT_TRUE(sound.StartSound());
  sound.StartPart();
  const uint32_t before = writer.Cursor();
  uint32_t bytes = 0;
  EXPECT_FALSE(sound.WriteSoundBlock(writer, bytes));
  EXPECT_EQ(writer.Cursor(), before);
}

TEST_F(SoundStreamTest, GarbageBetweenFramesCutsTheBlockAndStopsTheSound) {
  OpenTrack(2, 2, 22050, Mp3());
  lib->frameBytes = testing::kMpeg2Frame32k + 1;  // every frame one byte too long
  sound.Initialise(&audio, 12.0);
  ASSERT_TRUE(sound.StartSound());
  sound.StartPart();
  const uint32_t before = writer.Cursor();
  uint32_t bytes = 0;
  EXPECT_FALSE(sound.WriteSoundBlock(writer, bytes));
  // Only the head survives; the block was cut back to its start.
  const auto tags = ParseTags(testing::OutputBytes(writer), before);
  ASSERT_EQ(tags.size(), 1u);
  EXPECT_EQ(tags[0].code, 45);
  EXPECT_FALSE(sound.IsActive());
  EXPECT_EQ(lib->closes, 1);
}

TEST_F(SoundStreamTest, AdpcmHeadAndBlocksAt22050) {
  OpenTrack(1, 1, 22050, Adpcm(22050));
  sound.Initialise(&audio, 12.0);
  ASSERT_TRUE(sound.StartSound());
  sound.StartPart();
  const auto first = Frame();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].code, 45);
  EXPECT_EQ(first[0].body[0], 0b0000'10'1'0);  // 22050, 16-bit, mono
  EXPECT_EQ(first[0].body[1], 0b0001'10'1'0);  // ADPCM
  EXPECT_EQ(U16(first[0].body, 2), 1837);
  EXPECT_EQ(first[0].body.size(), 4u);  // LatencySeek belongs to MP3 heads only
  // 1837 frames of 5-bit codes: 2 + 22 + 1836 x 5 bits.
  EXPECT_EQ(first[1].body.size(), (2u + 22 + 1836 * 5 + 7) / 8);
  EXPECT_TRUE(first[1].longHeader);
  int blocks = 1;
  while (sound.IsActive() && blocks < 50) {
    const auto tags = Frame();
    if (!tags.empty()) ++blocks;
  }
  EXPECT_EQ(blocks, 13);  // 22051 frames of range in blocks of 1837
  EXPECT_TRUE(Frame().empty());
}

TEST_F(SoundStreamTest, CarriedBlockOpensTheNextPartAfterItsHead) {
  OpenTrack(2, 1, 22050, Adpcm(22050));
  sound.Initialise(&audio, 12.0);
  ASSERT_TRUE(sound.StartSound());
  sound.StartPart();
  Frame();
  const uint32_t p0 = writer.Cursor();
  const auto pushedOut = Frame();
  ASSERT_EQ(pushedOut.size(), 1u);
  sound.CarryBlock(writer, p0);
  EXPECT_EQ(writer.Cursor(), p0);
  EXPECT_TRUE(sound.HasCarriedBlock());

  ASSERT_TRUE(writer.Open());  // the next part
  sound.StartPart();
  const auto tags = Frame();
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_EQ(tags[0].code, 45);
  EXPECT_EQ(tags[1].code, 19);
  EXPECT_EQ(tags[1].body, pushedOut[0].body);
  EXPECT_FALSE(sound.HasCarriedBlock());
  // The following frame takes new sound again.
  const auto next = Frame();
  ASSERT_EQ(next.size(), 1u);
  EXPECT_NE(next[0].body, pushedOut[0].body);
}

TEST_F(SoundStreamTest, CarryingAPartsFirstFrameMovesTheBlockWithoutTheHead) {
  OpenTrack(2, 1, 22050, Adpcm(22050));
  sound.Initialise(&audio, 12.0);
  ASSERT_TRUE(sound.StartSound());
  sound.StartPart();
  const uint32_t p0 = writer.Cursor();
  const auto first = Frame();
  ASSERT_EQ(first.size(), 2u);
  sound.CarryBlock(writer, p0);
  ASSERT_TRUE(writer.Open());
  sound.StartPart();
  const auto tags = Frame();
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_EQ(tags[0].code, 45);
  EXPECT_EQ(tags[1].body, first[1].body);
}

TEST_F(SoundStreamTest, LastMp3BlockCarriedAfterTheSoundEndedIsStillWritten) {
  OpenTrack(1, 2, 22050, Mp3());
  ASSERT_TRUE(audio.SetRange(0, 200));
  sound.Initialise(&audio, 12.0);
  ASSERT_TRUE(sound.StartSound());
  sound.StartPart();
  std::vector<ParsedTag> last;
  uint32_t p0 = 0;
  while (sound.IsActive()) {
    p0 = writer.Cursor();
    last = Frame();
  }
  ASSERT_FALSE(last.empty());
  const ParsedTag block = last.back();
  sound.CarryBlock(writer, p0);
  ASSERT_TRUE(writer.Open());
  sound.StartPart();
  const auto tags = Frame();
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_EQ(tags[0].code, 45);
  EXPECT_EQ(U16(tags[0].body, 2), 1838);
  EXPECT_EQ(tags[1].body, block.body);
}

TEST_F(SoundStreamTest, NoSoundWritesNothing) {
  sound.Initialise(nullptr, 12.0);
  ASSERT_TRUE(sound.StartSound());
  sound.StartPart();
  EXPECT_TRUE(Frame().empty());
}

}  // namespace
}  // namespace quillon
