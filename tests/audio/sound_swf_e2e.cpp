// End-to-end checks of the sound stream against an independent reader: the movie is written
// by the engine, then FFmpeg's own SWF demuxer and decoders take the sound back out.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "sound_swf_writer.h"

namespace quillon::testing {
namespace {

namespace fs = std::filesystem;

fs::path WorkDir() {
  const fs::path dir = fs::path(QUILLON_TEST_BINARY_DIR) / "audio_e2e";
  fs::create_directories(dir);
  return dir;
}

bool RunCommand(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

// Test processes run in parallel and share generated files: each is written under a name of
// its own and renamed into place whole.
fs::path Private(const fs::path& path) {
  fs::path p = path;
  p.replace_filename(path.stem().string() + "." + std::to_string(getpid()) +
                     path.extension().string());
  return p;
}

bool Generate(const std::string& ffmpegArgs, const fs::path& path) {
  if (fs::exists(path)) return true;
  const fs::path tmp = Private(path);
  if (!RunCommand("ffmpeg -nostdin -v error -y " + ffmpegArgs + " \"" + tmp.string() + "\""))
    return false;
  std::error_code ec;
  fs::rename(tmp, path, ec);
  return !ec;
}

// A falling-pitch sweep on the left and a rising one on the right, so that swapped or mixed
// channels do not correlate.
std::string MakeSource(const std::string& name, uint32_t rate, uint32_t channels,
                       double seconds = 2.0) {
  const fs::path path = WorkDir() / name;
  const std::string left = "0.6*sin(2*PI*(900-300*t)*t)";
  const std::string right = "0.4*sin(2*PI*(250+250*t)*t)";
  const std::string expr = channels == 2 ? left + "|" + right : left;
  const std::string args = "-f lavfi -i \"aevalsrc=" + expr + ":s=" + std::to_string(rate) +
                           ":d=" + std::to_string(seconds) + "\" -c:a pcm_s16le";
  return Generate(args, path) ? path.string() : std::string();
}

struct Pcm {
  std::vector<int16_t> samples;
  uint32_t channels = 1;
  uint32_t rate = 0;
  size_t Frames() const { return samples.size() / channels; }
  double Seconds() const { return static_cast<double>(Frames()) / rate; }
};

// FFmpeg finds the format itself: every movie must be recognisable without being named.
Pcm Decode(const std::string& input, uint32_t rate, uint32_t channels) {
  Pcm pcm;
  pcm.channels = channels;
  pcm.rate = rate;
  const std::string raw =
      Private(input + "." + std::to_string(rate) + "." + std::to_string(channels) + ".raw")
          .string();
  const std::string cmd = "ffmpeg -nostdin -v error -y -i \"" + input + "\" -f s16le -ac " +
                          std::to_string(channels) + " -ar " + std::to_string(rate) + " \"" + raw +
                          "\"";
  if (!RunCommand(cmd)) return pcm;
  std::ifstream in(raw, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  pcm.samples.resize(bytes.size() / 2);
  std::memcpy(pcm.samples.data(), bytes.data(), pcm.samples.size() * 2);
  return pcm;
}

// The sample rate FFmpeg reports for the SWF's sound stream.
uint32_t ProbedRate(const std::string& swf) {
  const std::string out = Private(swf + ".probe").string();
  const std::string cmd =
      "ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate "
      "-of default=nw=1:nk=1 \"" +
      swf + "\" > \"" + out + "\"";
  if (!RunCommand(cmd)) return 0;
  std::ifstream in(out);
  uint32_t rate = 0;
  in >> rate;
  return rate;
}

double Correlation(const Pcm& a, const Pcm& b, uint32_t channel, int64_t lag, size_t stride) {
  // b is a delayed by lag frames.
  double ab = 0, aa = 0, bb = 0;
  const int64_t na = static_cast<int64_t>(a.Frames());
  const int64_t nb = static_cast<int64_t>(b.Frames());
  for (int64_t i = std::max<int64_t>(0, -lag); i < na && i + lag < nb; i += stride) {
    const double x = a.samples[i * a.channels + channel];
    const double y = b.samples[(i + lag) * b.channels + channel];
    ab += x * y;
    aa += x * x;
    bb += y * y;
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

struct Alignment {
  double correlation = 0;
  int64_t lag = 0;
};

// Best normalised cross-correlation of decoded against source over lags [minLag, maxLag]:
// a coarse pass on every 8th frame, then a full pass around its best lag.
Alignment Align(const Pcm& source, const Pcm& decoded, uint32_t channel, int64_t minLag,
                int64_t maxLag) {
  Alignment coarse;
  for (int64_t lag = minLag; lag <= maxLag; lag += 4) {
    const double c = Correlation(source, decoded, channel, lag, 8);
    if (c > coarse.correlation) coarse = {c, lag};
  }
  Alignment fine;
  for (int64_t lag = coarse.lag - 6; lag <= coarse.lag + 6; ++lag) {
    const double c = Correlation(source, decoded, channel, lag, 1);
    if (c > fine.correlation) fine = {c, lag};
  }
  return fine;
}

double Rms(const Pcm& pcm, size_t from, size_t to) {
  double sum = 0;
  to = std::min(to, pcm.samples.size());
  for (size_t i = from; i < to; ++i) sum += double(pcm.samples[i]) * pcm.samples[i];
  return to > from ? std::sqrt(sum / double(to - from)) : 0.0;
}

struct Case {
  const char* name;
  uint32_t sourceRate;
  uint32_t sourceChannels;
  bool mp3;
  uint32_t outRate;  // Audio.Rate
  uint32_t bits;     // ADPCM bits
  uint32_t kbps;     // MP3
  bool forceMono;
};

class SoundSwfRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(SoundSwfRoundTrip, DecodesBackToTheSourceSound) {
  const Case& c = GetParam();
  const std::string src = MakeSource(
      "src_" + std::to_string(c.sourceRate) + "_" + std::to_string(c.sourceChannels) + ".wav",
      c.sourceRate, c.sourceChannels);
  ASSERT_FALSE(src.empty());
  SoundSwfRequest request;
  request.input = src;
  request.output = (WorkDir() / (std::string(c.name) + ".swf")).string();
  request.audio.flags = AudioOptions::kProcess | (c.mp3 ? AudioOptions::kCompressionMp3 : 0) |
                        (c.forceMono ? AudioOptions::kForceMono : 0);
  request.audio.rate = static_cast<int32_t>(c.outRate);
  request.audio.adpcmBits = static_cast<uint8_t>(c.bits);
  request.audio.mp3kbps = static_cast<int32_t>(c.kbps);
  SoundSwfResult result;
  std::string error;
  ASSERT_TRUE(WriteSoundOnlySwf(request, result, error)) << error;
  ASSERT_EQ(result.mp3, c.mp3) << "MP3 encoder library not usable";

  // An MP3 stream cannot carry 5512 Hz; it is encoded at 11025 instead.
  const uint32_t streamRate = c.mp3 && c.outRate == 5512 ? 11025 : c.outRate;
  EXPECT_EQ(ProbedRate(request.output), streamRate);

  const uint32_t channels = c.sourceChannels == 2 && !c.forceMono ? 2 : 1;
  const Pcm decoded = Decode(request.output, streamRate, channels);
  Pcm source = Decode(src, streamRate, channels);
  ASSERT_GT(decoded.Frames(), 0u);
  ASSERT_GT(source.Frames(), 0u);

  const double frameSeconds = 1.0 / request.fps;
  EXPECT_NEAR(decoded.Seconds(), result.selectionMs / 1000.0, frameSeconds);

  for (uint32_t ch = 0; ch < channels; ++ch) {
    // The MP3 coder and decoder delay the sound by a few frames of MP3; ADPCM does not.
    const int64_t maxLag = c.mp3 ? 4096 : 64;
    const Alignment a = Align(source, decoded, ch, -64, maxLag);
    EXPECT_GE(a.correlation, 0.95) << "channel " << ch << " lag " << a.lag;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SoundSwfRoundTrip,
    ::testing::Values(Case{"adpcm4_stereo_44100_to_22050", 44100, 2, false, 22050, 4, 0, false},
                      // Mono 11025 Hz is left out: its 918-frame blocks end in 7 padding bits,
                      // which stream decoders read as one more 5-bit code per block.
                      Case{"adpcm5_stereo_11025", 11025, 2, false, 11025, 5, 0, false},
                      Case{"adpcm4_48000_to_44100", 48000, 2, false, 44100, 4, 0, false},
                      Case{"adpcm5_stereo_forced_mono", 22050, 2, false, 22050, 5, 0, true},
                      Case{"mp3_64_stereo_44100", 44100, 2, true, 44100, 0, 64, false},
                      Case{"mp3_32_mono_22050", 22050, 1, true, 22050, 0, 32, false},
                      Case{"mp3_48_from_48000_to_22050", 48000, 2, true, 22050, 0, 48, false},
                      Case{"mp3_32_rate_5512_goes_11025", 22050, 1, true, 5512, 0, 32, false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

class SoundSwfLevelAndStart : public ::testing::Test {
 protected:
  Pcm Encode(const std::string& name, float volume, float offsetMs, uint32_t startMs = 0,
             uint32_t durationMs = 0xFFFFFFFFu, bool mp3 = false) {
    SoundSwfRequest request;
    request.input = MakeSource("src_22050_1.wav", 22050, 1);
    request.output = (WorkDir() / (name + ".swf")).string();
    request.audio.flags = AudioOptions::kProcess | (mp3 ? AudioOptions::kCompressionMp3 : 0);
    request.audio.rate = 22050;
    request.audio.adpcmBits = 5;
    request.audio.mp3kbps = 48;
    request.audio.volume = volume;
    request.audio.offset = offsetMs;
    request.startMs = startMs;
    request.durationMs = durationMs;
    SoundSwfResult result;
    std::string error;
    EXPECT_TRUE(WriteSoundOnlySwf(request, result, error)) << error;
    selectionMs = result.selectionMs;
    return Decode(request.output, 22050, 1);
  }
  uint32_t selectionMs = 0;
};

TEST_F(SoundSwfLevelAndStart, VolumeScalesTheDecodedLevel) {
  const Pcm full = Encode("volume100", 100.0f, 0.0f);
  const Pcm half = Encode("volume50", 50.0f, 0.0f);
  const Pcm loud = Encode("volume150", 150.0f, 0.0f);
  const double base = Rms(full, 0, full.samples.size());
  ASSERT_GT(base, 1000.0);
  EXPECT_NEAR(Rms(half, 0, half.samples.size()) / base, 0.5, 0.05);
  EXPECT_NEAR(Rms(loud, 0, loud.samples.size()) / base, 1.5, 0.08);
}

TEST_F(SoundSwfLevelAndStart, OffsetMovesTheStartBothWays) {
  const Pcm source = Decode(MakeSource("src_22050_1.wav", 22050, 1), 22050, 1);
  const Pcm later = Encode("offset_plus500", 100.0f, 500.0f);
  const Pcm earlier = Encode("offset_minus500", 100.0f, -500.0f);
  // Positive: half a second of silence, then the source from its start.
  EXPECT_LT(Rms(later, 0, 10000), 50.0);
  const Alignment a = Align(source, later, 0, 10000, 12000);
  EXPECT_NEAR(static_cast<double>(a.lag), 11025.0, 2.0);
  EXPECT_GE(a.correlation, 0.95);
  // Negative: the sound starts half a second into the source.
  const Alignment b = Align(source, earlier, 0, -12000, -10000);
  EXPECT_NEAR(static_cast<double>(b.lag), -11025.0, 2.0);
  EXPECT_GE(b.correlation, 0.95);
}

TEST_F(SoundSwfLevelAndStart, SelectionStartAndLengthAreKept) {
  const Pcm source = Decode(MakeSource("src_22050_1.wav", 22050, 1), 22050, 1);
  for (bool mp3 : {false, true}) {
    const Pcm part = Encode(mp3 ? "range_mp3" : "range_adpcm", 100.0f, 0.0f, 500, 1000, mp3);
    EXPECT_NEAR(part.Seconds(), 1.0, 1.0 / 12.0) << (mp3 ? "mp3" : "adpcm");
    const Alignment a = Align(source, part, 0, -11025 - 64, -11025 + (mp3 ? 4096 : 64));
    EXPECT_GE(a.correlation, 0.95) << (mp3 ? "mp3" : "adpcm") << " lag " << a.lag;
  }
}

// The same check through the whole program: the batch command encodes a movie with video
// and sound, and the sound stream must survive among the bitmaps, shapes and parts.
TEST(ProgramSoundTest, MovieSoundSurvivesTheWholeEncoder) {
  const fs::path dir = WorkDir();
  const fs::path movie = dir / "movie_with_sound.mp4";
  ASSERT_TRUE(
      Generate("-f lavfi -i testsrc=size=160x120:rate=12:duration=3 -f lavfi -i "
               "\"aevalsrc=0.6*sin(2*PI*(900-300*t)*t)|0.4*sin(2*PI*(250+250*t)*t):"
               "s=44100:d=3\" -shortest -c:v mpeg4 -c:a aac -b:a 192k",
               movie));
  const fs::path adpcm = dir / "adpcm4.settings";
  {
    std::ofstream out(adpcm);
    out << "Audio.Compression=ADPCM\nAudio.ADPCMBits=4\nAudio.Rate=22050\n";
  }
  const Pcm source = Decode(movie.string(), 22050, 2);
  ASSERT_GT(source.Frames(), 0u);
  for (const bool mp3 : {true, false}) {
    const fs::path swf = dir / (mp3 ? "program_mp3.swf" : "program_adpcm.swf");
    fs::remove(swf);
    const std::string settings = mp3 ? "" : " -s \"" + adpcm.string() + "\"";
    ASSERT_TRUE(RunCommand(std::string("\"") + QUILLON_PROGRAM + "\" \"" + movie.string() +
                           "\" \"" + swf.string() + "\"" + settings + " -l \"" +
                           (dir / "program.log").string() + "\""));
    const Pcm decoded = Decode(swf.string(), 22050, 2);
    EXPECT_NEAR(decoded.Seconds(), source.Seconds(), 1.0 / 12.0) << (mp3 ? "mp3" : "adpcm");
    for (uint32_t ch = 0; ch < 2; ++ch) {
      const Alignment a = Align(source, decoded, ch, -64, mp3 ? 4096 : 64);
      EXPECT_GE(a.correlation, 0.95) << (mp3 ? "mp3" : "adpcm") << " channel " << ch;
    }
  }
}

}  // namespace
}  // namespace quillon::testing
