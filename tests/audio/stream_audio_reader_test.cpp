// The FFmpeg-backed reader against clips generated with the ffmpeg command, whose own decode
// of the same files is the reference.
#include "audio/stream_audio_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "audio/audio_store.h"
#include "audio_fakes.h"
#include "settings/encoder_settings.h"
#include "support/test_clips.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

fs::path ClipDir() {
  const fs::path dir = fs::path(QUILLON_TEST_BINARY_DIR) / "audio_clips";
  fs::create_directories(dir);
  return dir;
}

bool Run(const std::string& cmd) {
  return std::system(cmd.c_str()) == 0;
}

// Test processes run in parallel and share the clips: each file is written under a name of
// its own and renamed into place whole.
fs::path Private(const fs::path& path) {
  fs::path p = path;
  p.replace_filename(path.stem().string() + "." + std::to_string(getpid()) +
                     path.extension().string());
  return p;
}

// Generates name from an ffmpeg source description and output options once per build.
std::string Clip(const std::string& name, const std::string& input, const std::string& output) {
  const fs::path path = ClipDir() / name;
  if (!fs::exists(path)) {
    const fs::path tmp = Private(path);
    const std::string cmd =
        "ffmpeg -nostdin -v error -y " + input + " " + output + " \"" + tmp.string() + "\"";
    if (!Run(cmd)) return {};
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) return {};
  }
  return path.string();
}

const std::string kStereoSweep =
    "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*(300+200*t)*t)|0.3*sin(2*PI*(700-100*t)*t):s=44100:d=2\"";

std::vector<uint8_t> FfmpegRaw(const std::string& file, const std::string& format) {
  const std::string raw = Private(file + "." + format + ".raw").string();
  if (!Run("ffmpeg -nostdin -v error -y -i \"" + file + "\" -f " + format + " \"" + raw + "\""))
    return {};
  std::ifstream in(raw, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

std::vector<uint8_t> ReadAll(AudioReader& reader, uint32_t piece) {
  ByteBuffer out;
  for (;;) {
    const int32_t n = reader.Read(piece, out);
    if (n <= 0) {
      EXPECT_EQ(n, 0);
      break;
    }
  }
  return std::vector<uint8_t>(out.Data(), out.Data() + out.Size());
}

TEST(StreamAudioReaderTest, Pcm16WavIsReadExactlyWithItsFigures) {
  const std::string wav = Clip("s16_stereo_44100.wav", kStereoSweep, "-c:a pcm_s16le");
  ASSERT_FALSE(wav.empty());
  StreamAudioReader reader;
  ASSERT_TRUE(reader.Open(wav));
  const AudioInfo info = reader.GetInfo();
  EXPECT_EQ(info.totalFrames, 88200u);
  EXPECT_EQ(info.durationMs, 2000u);
  EXPECT_EQ(info.decodeKind, AudioDecodeKind::kPcm);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.sampleRate, 44100u);
  EXPECT_EQ(info.bitsPerSample, 16);
  EXPECT_DOUBLE_EQ(info.microsecondsPerFrame, 1000000.0 / 44100);
  // Frame-sized requests, as the encoding run makes them.
  EXPECT_EQ(ReadAll(reader, 918), FfmpegRaw(wav, "s16le"));
}

std::string WriteWav(const std::string& name, const std::vector<uint8_t>& data,
                     uint32_t statedBytes) {
  const std::string path = (ClipDir() / name).string();
  std::ofstream(path, std::ios::binary)
      << testing::PcmWavBytes(8000, 2, std::string(data.begin(), data.end()), statedBytes);
  return path;
}

TEST(StreamAudioReaderTest, ADataChunkCutMidSampleEndsTheSoundInsteadOfFailingIt) {
  // One second of a ramp, of which the file keeps 0.6 s and one byte of the next sample.
  std::vector<uint8_t> data;
  for (uint32_t i = 0; i < 8000 * 2; ++i) {
    const auto v = static_cast<uint16_t>(i * 3);
    data.push_back(static_cast<uint8_t>(v));
    data.push_back(static_cast<uint8_t>(v >> 8));
  }
  const uint32_t kept = 4800 * 4;
  const std::vector<uint8_t> whole(data.begin(), data.begin() + kept);
  std::vector<uint8_t> cut = whole;
  cut.push_back(0x55);
  struct Case {
    const char* name;
    uint32_t stated;
  };
  for (const Case c : {Case{"cut_stated_whole.wav", 8000 * 4}, Case{"odd_data.wav", kept + 1}}) {
    SCOPED_TRACE(c.name);
    StreamAudioReader reader;
    ASSERT_TRUE(reader.Open(WriteWav(c.name, cut, c.stated)));
    const std::vector<uint8_t> got = ReadAll(reader, 160);
    EXPECT_EQ(got, whole);
  }
}

TEST(StreamAudioReaderTest, SeekAndRandomAccessLandOnTheExactFrame) {
  const std::string wav = Clip("s16_stereo_44100.wav", kStereoSweep, "-c:a pcm_s16le");
  const std::vector<uint8_t> all = FfmpegRaw(wav, "s16le");
  StreamAudioReader reader;
  ASSERT_TRUE(reader.Open(wav));
  for (uint32_t frame : {0u, 1u, 4095u, 30001u, 88000u}) {
    ASSERT_TRUE(reader.Seek(frame));
    ByteBuffer out;
    const int32_t n = reader.Read(150, out);
    ASSERT_EQ(n, 150) << frame;
    ASSERT_EQ(std::memcmp(out.Data(), all.data() + size_t(frame) * 4, 600), 0) << frame;
  }
  ByteBuffer at;
  EXPECT_EQ(reader.ReadFramesAt(50000, 1000, at), 1000);
  EXPECT_EQ(std::memcmp(at.Data(), all.data() + 50000 * 4, 4000), 0);
  ByteBuffer tail;
  EXPECT_EQ(reader.ReadFramesAt(88100, 1000, tail), 100);  // the track ends first
}

TEST(StreamAudioReaderTest, EightBitPcmIsDeliveredAsStored) {
  const std::string wav =
      Clip("u8_mono_11025.wav", "-f lavfi -i \"sine=frequency=300:sample_rate=11025:duration=1\"",
           "-c:a pcm_u8");
  StreamAudioReader reader;
  ASSERT_TRUE(reader.Open(wav));
  EXPECT_EQ(reader.GetInfo().bitsPerSample, 8);
  EXPECT_EQ(reader.GetInfo().channels, 1);
  EXPECT_EQ(ReadAll(reader, 1000), FfmpegRaw(wav, "u8"));
}

TEST(StreamAudioReaderTest, FloatAndWideFormatsAreConvertedTo16Bit) {
  const std::string f32 = Clip("f32_stereo_44100.wav", kStereoSweep, "-c:a pcm_f32le");
  const std::string s16 = Clip("s16_stereo_44100.wav", kStereoSweep, "-c:a pcm_s16le");
  StreamAudioReader reader;
  ASSERT_TRUE(reader.Open(f32));
  EXPECT_EQ(reader.GetInfo().bitsPerSample, 16);
  const std::vector<uint8_t> got = ReadAll(reader, 4096);
  const std::vector<uint8_t> ref = FfmpegRaw(s16, "s16le");
  ASSERT_EQ(got.size(), ref.size());
  int maxDiff = 0;
  for (size_t i = 0; i + 1 < got.size(); i += 2) {
    const int a = static_cast<int16_t>(got[i] | got[i + 1] << 8);
    const int b = static_cast<int16_t>(ref[i] | ref[i + 1] << 8);
    maxDiff = std::max(maxDiff, std::abs(a - b));
  }
  EXPECT_LE(maxDiff, 1);
}

TEST(StreamAudioReaderTest, MoreThanTwoChannelsAreDownmixedToStereo) {
  const std::string wav = Clip(
      "six_channels_48000.wav", "-f lavfi -i \"sine=frequency=440:sample_rate=48000:duration=1\"",
      "-af \"pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0\" -c:a pcm_s16le");
  StreamAudioReader reader;
  ASSERT_TRUE(reader.Open(wav));
  EXPECT_EQ(reader.GetInfo().channels, 2);
  EXPECT_EQ(reader.GetInfo().sampleRate, 48000u);
  const std::vector<uint8_t> got = ReadAll(reader, 2000);
  EXPECT_EQ(got.size(), 48000u * 4);
  int peak = 0;
  for (size_t i = 0; i + 1 < got.size(); i += 2)
    peak = std::max(peak, std::abs(static_cast<int16_t>(got[i] | got[i + 1] << 8)));
  EXPECT_GT(peak, 1000);
}

TEST(StreamAudioReaderTest, CodedTracksAreDecoded) {
  struct Coded {
    const char* name;
    const char* options;
  };
  for (const Coded& c :
       {Coded{"sweep.mp3", "-c:a libmp3lame -b:a 128k"}, Coded{"sweep.m4a", "-c:a aac -b:a 128k"},
        Coded{"sweep.ogg", "-c:a libvorbis"}, Coded{"sweep.flac", "-c:a flac"}}) {
    const std::string file = Clip(c.name, kStereoSweep, c.options);
    StreamAudioReader reader;
    ASSERT_TRUE(reader.Open(file)) << c.name;
    const AudioInfo info = reader.GetInfo();
    EXPECT_EQ(info.decodeKind, AudioDecodeKind::kCodec) << c.name;
    EXPECT_EQ(info.channels, 2) << c.name;
    EXPECT_EQ(info.sampleRate, 44100u) << c.name;
    EXPECT_NEAR(info.durationMs, 2000.0, 60.0) << c.name;
    const std::vector<uint8_t> got = ReadAll(reader, 1837);
    EXPECT_NEAR(got.size() / 4.0, 88200.0, 3000.0) << c.name;
  }
}

// Sound that begins 2 s after the pictures keeps its place in time: the track starts with 2 s
// of silence, however it is reached.
TEST(StreamAudioReaderTest, SoundThatBeginsAfterThePicturesStartsWithSilence) {
  const std::string late =
      Clip("sound_late.mkv",
           "-f lavfi -i testsrc2=s=64x48:r=25:d=4 -itsoffset 2 -f lavfi -i "
           "\"sine=frequency=440:sample_rate=8000:d=2\"",
           "-map 0:v -map 1:a -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a pcm_s16le");
  ASSERT_FALSE(late.empty());
  const std::vector<uint8_t> sound = FfmpegRaw(late, "s16le");
  ASSERT_EQ(sound.size(), 16000u * 2);

  StreamAudioReader reader;
  ASSERT_TRUE(reader.Open(late));
  EXPECT_EQ(reader.GetInfo().totalFrames, 32000u);
  EXPECT_EQ(reader.GetInfo().durationMs, 4000u);
  std::vector<uint8_t> expected(16000u * 2, 0);
  expected.insert(expected.end(), sound.begin(), sound.end());
  // Small pieces, so that the silence is handed out over several requests.
  EXPECT_EQ(ReadAll(reader, 918), expected);

  // From within the silence, and from within the sound.
  ByteBuffer piece;
  ASSERT_EQ(reader.ReadFramesAt(8000, 16000, piece), 16000);
  EXPECT_TRUE(std::equal(piece.Data(), piece.Data() + piece.Size(), expected.begin() + 16000));
  ByteBuffer after;
  ASSERT_EQ(reader.ReadFramesAt(20000, 100, after), 100);
  EXPECT_TRUE(std::equal(after.Data(), after.Data() + after.Size(), expected.begin() + 40000));

  // Sound alone starts at its own first sample.
  const std::string alone = Clip("sound_alone_late.mkv",
                                 "-itsoffset 2 -f lavfi -i "
                                 "\"sine=frequency=440:sample_rate=8000:d=2\"",
                                 "-c:a pcm_s16le");
  ASSERT_FALSE(alone.empty());
  StreamAudioReader single;
  ASSERT_TRUE(single.Open(alone));
  EXPECT_EQ(ReadAll(single, 918), FfmpegRaw(alone, "s16le"));
}

TEST(StreamAudioReaderTest, SoundOfAMovieIsFoundAndAMovieWithoutSoundIsRefused) {
  const std::string movie =
      Clip("movie.mp4", "-f lavfi -i testsrc=size=64x48:rate=10:duration=1 " + kStereoSweep,
           "-shortest -c:v mpeg4 -c:a aac");
  const std::string silent =
      Clip("silent.mp4", "-f lavfi -i testsrc=size=64x48:rate=10:duration=1", "-c:v mpeg4");
  AudioStore store(std::make_unique<testing::FakeMp3Library>());
  ASSERT_TRUE(store.Open(movie));
  EXPECT_EQ(store.ReaderKind(), AudioReaderKind::kStream);
  EXPECT_EQ(store.Channels(), 2u);
  EXPECT_FALSE(store.Open(silent));
  EXPECT_EQ(store.lastError, kAudioOpenError);
  EXPECT_FALSE(store.IsOpened());
}

}  // namespace
}  // namespace quillon
