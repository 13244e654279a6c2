// The FFmpeg reader against clips made by the ffmpeg command at build time.
#include "video/ffmpeg_video_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "video/colour.h"
#include "video/frame_image.h"

namespace quillon {
namespace {

std::string Clip(const std::string& name) {
  return std::string(QUILLON_TEST_BINARY_DIR) + "/test-clips/video/" + name;
}

std::vector<uint8_t> Bytes(const FrameImage& image) {
  return std::vector<uint8_t>(image.Pixels(), image.Pixels() + image.ByteSize());
}

struct ClipCase {
  const char* file;
  uint32_t width;
  uint32_t height;
  double fps;
  uint32_t durationMs;  // expected within one frame
};

class FfmpegVideoReaderContainerTest : public testing::TestWithParam<ClipCase> {};

TEST_P(FfmpegVideoReaderContainerTest, OpensAndDecodesFirstAndLastFrame) {
  const ClipCase& c = GetParam();
  FfmpegVideoReader reader;
  ASSERT_TRUE(reader.Open(Clip(c.file)));
  EXPECT_EQ(reader.Width(), c.width);
  EXPECT_EQ(reader.Height(), c.height);
  EXPECT_NEAR(reader.Fps(), c.fps, 0.01);
  EXPECT_NEAR(static_cast<double>(reader.DurationMs()), c.durationMs, 1000.0 / c.fps + 1);
  EXPECT_EQ(reader.MsPerSample(), static_cast<uint32_t>(1000.0 / reader.Fps()));
  EXPECT_EQ(reader.FrameCount(), static_cast<uint32_t>(reader.DurationMs() * 0.001 * reader.Fps()));

  auto first = reader.FrameAtTime(0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Width(), c.width);
  EXPECT_EQ(first->Height(), c.height);
  EXPECT_EQ(first->Tag(), ColourTag::kYCbCr);
  auto last = reader.FrameAtTime(reader.DurationMs() - 1);
  ASSERT_NE(last, nullptr);
  EXPECT_TRUE(reader.IsReadableAt(reader.DurationMs() - 1));
  EXPECT_FALSE(reader.IsReadableAt(reader.DurationMs()));
  EXPECT_EQ(reader.FrameAtTime(reader.DurationMs()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Containers, FfmpegVideoReaderContainerTest,
                         testing::Values(ClipCase{"h264_25.mp4", 160, 120, 25.0, 6000},
                                         ClipCase{"ntsc.mp4", 96, 64, 29.97, 2002},
                                         ClipCase{"yuv444.mkv", 96, 64, 30.0, 2000},
                                         ClipCase{"vp8.webm", 96, 64, 24.0, 2000},
                                         ClipCase{"mjpeg.avi", 96, 64, 25.0, 2000},
                                         ClipCase{"qtrle.mov", 96, 64, 10.0, 2000},
                                         ClipCase{"anim.gif", 96, 64, 10.0, 1000},
                                         ClipCase{"mpeg2.mpg", 96, 64, 25.0, 2000},
                                         ClipCase{"h264.ts", 96, 64, 25.0, 2000},
                                         ClipCase{"flv1.flv", 96, 64, 25.0, 2000},
                                         ClipCase{"still.png", 64, 48, 25.0, 40}),
                         [](const testing::TestParamInfo<ClipCase>& info) {
                           std::string name = info.param.file;
                           for (char& ch : name) {
                             if (ch == '.') ch = '_';
                           }
                           return name;
                         });

TEST(FfmpegVideoReaderTest, ConvertsColoursToYCbCr) {
  // Lossless RGB: exact. 4:2:0 video in limited range: within rounding.
  struct Flat {
    const char* file;
    uint8_t rgb[3];
    int tolerance;
  };
  for (const Flat& f :
       {Flat{"red_rgb.mov", {0xC8, 0x32, 0x32}, 0}, Flat{"grey_420.mp4", {0xC8, 0xC8, 0xC8}, 2}}) {
    SCOPED_TRACE(f.file);
    FfmpegVideoReader reader;
    ASSERT_TRUE(reader.Open(Clip(f.file)));
    auto image = reader.FrameAtTime(500);
    ASSERT_NE(image, nullptr);
    uint8_t expected[3];
    RgbToYCbCr(f.rgb, expected);
    for (uint32_t y = 0; y < image->Height(); y += 7) {
      for (uint32_t x = 0; x < image->Width(); x += 5) {
        const uint8_t* p = image->Row(y) + x * 3;
        for (int ch = 0; ch < 3; ++ch) {
          ASSERT_NEAR(p[ch], expected[ch], f.tolerance) << x << "," << y << " channel " << ch;
        }
      }
    }
  }
}

TEST(FfmpegVideoReaderTest, SequentialTimesDecodeEachFrameOnceWithoutSeeking) {
  FfmpegVideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("h264_25.mp4")));
  ASSERT_EQ(reader.FrameCount(), 150u);
  std::vector<std::vector<uint8_t>> frames;
  for (uint32_t i = 0; i < 150; ++i) {
    auto image = reader.FrameAtTime(i * 40);
    ASSERT_NE(image, nullptr) << i;
    frames.push_back(Bytes(*image));
    // A second ask for the same time, and one between two frames, decode nothing new.
    ASSERT_NE(reader.FrameAtTime(i * 40 + 20), nullptr);
  }
  const auto stats = reader.GetStats();
  EXPECT_LE(stats.framesDecoded, 150u);
  EXPECT_EQ(stats.seeks, 0u);
  // testsrc2 moves every frame: no two neighbours may be the same picture.
  for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_NE(frames[i - 1], frames[i]) << i;
}

TEST(FfmpegVideoReaderTest, RandomAccessMatchesSequentialDecoding) {
  FfmpegVideoReader sequential;
  FfmpegVideoReader random;
  ASSERT_TRUE(sequential.Open(Clip("h264_25.mp4")));
  ASSERT_TRUE(random.Open(Clip("h264_25.mp4")));
  std::vector<std::vector<uint8_t>> frames;
  for (uint32_t i = 0; i < 150; ++i) frames.push_back(Bytes(*sequential.FrameAtTime(i * 40)));
  // Backward steps, far jumps ahead and short steps ahead, in a fixed pseudo-random order.
  uint32_t state = 12345;
  for (int n = 0; n < 40; ++n) {
    state = state * 1103515245u + 12345u;
    const uint32_t i = (state >> 8) % 150;
    auto image = random.FrameAtTime(i * 40 + 20);
    ASSERT_NE(image, nullptr) << i;
    ASSERT_EQ(Bytes(*image), frames[i]) << "frame " << i;
  }
  EXPECT_GT(random.GetStats().seeks, 0u);
}

// Opening finds the readable end, and a first request late in the movie lands there, from the
// keyframe before it (one a second): neither decodes the movie from its start.
TEST(FfmpegVideoReaderTest, FirstRequestFarInSeeksToTheKeyframeBeforeIt) {
  FfmpegVideoReader sequential;
  ASSERT_TRUE(sequential.Open(Clip("h264_25.mp4")));
  std::vector<uint8_t> expected;
  for (uint32_t i = 0; i <= 130; ++i) expected = Bytes(*sequential.FrameAtTime(i * 40));

  FfmpegVideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("h264_25.mp4")));
  EXPECT_EQ(reader.DurationMs(), sequential.DurationMs());
  auto image = reader.FrameAtTime(130 * 40 + 20);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(Bytes(*image), expected);
  EXPECT_EQ(reader.GetStats().seeks, 1u);
  EXPECT_LE(reader.GetStats().framesDecoded, 30u);
  // From there on, in order, without seeking again.
  ASSERT_NE(reader.FrameAtTime(131 * 40), nullptr);
  EXPECT_EQ(reader.GetStats().seeks, 1u);
}

TEST(FfmpegVideoReaderTest, FrameTimesFollowThePresentationTimes) {
  // 29.97 fps: frame k starts at k x 33.3667 ms; the times a 29.97 fps output asks for
  // (truncated) must each land on their own frame.
  FfmpegVideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("ntsc.mp4")));
  const double msPerFrame = 1000.0 / reader.Fps();
  std::vector<uint8_t> previous;
  for (uint32_t i = 0; i < 59; ++i) {
    auto image = reader.FrameAtTime(static_cast<uint32_t>(i * msPerFrame));
    ASSERT_NE(image, nullptr);
    auto bytes = Bytes(*image);
    EXPECT_NE(bytes, previous) << i;
    previous = std::move(bytes);
  }
  EXPECT_LE(reader.GetStats().framesDecoded, 60u);
  EXPECT_EQ(reader.GetStats().seeks, 0u);
  EXPECT_EQ(reader.TimeToSample(1001),
            static_cast<int32_t>(1001.0 / reader.DurationMs() * reader.FrameCount()));
}

TEST(FfmpegVideoReaderTest, FindsTheReadableEndOfADamagedTail) {
  FfmpegVideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("damaged.mp4")));
  // The last 2 of 6 seconds are noise; the B-frames just before them lose their reference.
  // The search ends just after the start of the last readable frame.
  EXPECT_GE(reader.DurationMs(), 3800u);
  EXPECT_LE(reader.DurationMs(), 3961u);
  EXPECT_EQ(reader.FrameCount(), static_cast<uint32_t>(reader.DurationMs() * 0.001 * 25));
  EXPECT_TRUE(reader.IsReadableAt(reader.DurationMs() - 1));
  EXPECT_NE(reader.FrameAtTime(3000), nullptr);

  // Index first, data cut at 60 %: the track ends where the data does.
  ASSERT_TRUE(reader.Open(Clip("faststart_cut.mp4")));
  EXPECT_GT(reader.DurationMs(), 2000u);
  EXPECT_LT(reader.DurationMs(), 4500u);
  EXPECT_TRUE(reader.IsReadableAt(reader.DurationMs() - 1));
}

TEST(FfmpegVideoReaderTest, LengthsCountFromTheStreamsOwnFirstTimestamp) {
  // 2 s at 25 fps each: a stream starting at 100 000 s, and raw streams that state no length.
  for (const char* name : {"late.mkv", "raw.h264", "raw.mjpeg", "raw.m2v"}) {
    SCOPED_TRACE(name);
    FfmpegVideoReader reader;
    ASSERT_TRUE(reader.Open(Clip(name))) << reader.OpenFailure();
    EXPECT_NEAR(reader.DurationMs(), 2000.0, 40.0);
    EXPECT_NEAR(reader.FrameCount(), 50.0, 1.0);
    EXPECT_NE(reader.FrameAtTime(0), nullptr);
    EXPECT_NE(reader.FrameAtTime(1000), nullptr);
    EXPECT_NE(reader.FrameAtTime(reader.DurationMs() - 1), nullptr);
  }
  // Sound that outlasts the pictures keeps the last picture on until it ends.
  FfmpegVideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("long_sound.mkv")));
  EXPECT_NEAR(reader.DurationMs(), 4000.0, 40.0);
}

TEST(FfmpegVideoReaderTest, DamagedFirstPictureIsStoodInForByTheFirstGoodOne) {
  FfmpegVideoReader intact;
  ASSERT_TRUE(intact.Open(Clip("gop25.mkv")));
  FfmpegVideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("first_damaged.mkv"))) << reader.OpenFailure();
  EXPECT_NEAR(reader.DurationMs(), 2000.0, 40.0);
  // Up to the next keyframe nothing decodes; its picture is shown from the start.
  const auto first = reader.FrameAtTime(0);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(reader.IsReadableAt(0));
  const auto keyframe = intact.FrameAtTime(1000);
  ASSERT_NE(keyframe, nullptr);
  EXPECT_EQ(Bytes(*first), Bytes(*keyframe));
  EXPECT_NE(reader.FrameAtTime(500), nullptr);
  EXPECT_NE(reader.FrameAtTime(1500), nullptr);

  // With no picture that decodes at all, the open fails and says why.
  EXPECT_FALSE(reader.Open(Clip("all_damaged.mkv")));
  EXPECT_NE(reader.OpenFailure().find("no picture of its video could be decoded"),
            std::string::npos)
      << reader.OpenFailure();
}

// The clip with its track header's matrix set to turn the picture for display, as phones
// store upright video: {a, b, c, d} in 16.16 fixed point.
std::string TurnedClip(const std::string& name, const std::array<int32_t, 4>& abcd) {
  std::ifstream in(Clip("h264_25.mp4"), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t tkhd = bytes.find("tkhd");
  if (tkhd == std::string::npos || tkhd + 80 > bytes.size()) return {};
  // Type, version and flags, times, track id, duration, layer, group, volume: then the matrix.
  const std::size_t matrix = tkhd + 44;
  const int32_t values[9] = {abcd[0], abcd[1], 0, abcd[2], abcd[3], 0, 0, 0, 0x40000000};
  for (int i = 0; i < 9; ++i) {
    for (int k = 0; k < 4; ++k) {
      bytes[matrix + 4 * i + k] =
          static_cast<char>(static_cast<uint32_t>(values[i]) >> (24 - 8 * k));
    }
  }
  const std::string path = std::string(QUILLON_TEST_BINARY_DIR) + "/test-clips/video/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// What the ffmpeg command makes of frame 0 with a transpose filter, in the reader's colours.
std::unique_ptr<FrameImage> FfmpegTurned(const std::string& name, const std::string& filter) {
  const std::string path = std::string(QUILLON_TEST_BINARY_DIR) + "/test-clips/video/" + name;
  const std::string cmd = "ffmpeg -nostdin -v error -y -i \"" + Clip("h264_25.mp4") + "\" -vf " +
                          filter + " -frames:v 1 -c:v qtrle -pix_fmt rgb24 \"" + path + "\"";
  if (std::system(cmd.c_str()) != 0) return nullptr;
  FfmpegVideoReader reader;
  if (!reader.Open(path)) return nullptr;
  return reader.FrameAtTime(0);
}

double MeanDifference(const FrameImage& a, const FrameImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return 255.0;
  double sum = 0.0;
  for (uint32_t y = 0; y < a.Height(); ++y) {
    for (uint32_t x = 0; x < 3 * a.Width(); ++x) sum += std::abs(a.Row(y)[x] - b.Row(y)[x]);
  }
  return sum / (3.0 * a.Width() * a.Height());
}

TEST(FfmpegVideoReaderTest, PicturesAreTurnedAsTheStreamAsksForDisplay) {
  constexpr int32_t kOne = 0x10000;
  const struct {
    const char* name;
    std::array<int32_t, 4> abcd;
    const char* filter;
  } cases[] = {
      {"turn90.mp4", {0, kOne, -kOne, 0}, "transpose=clock"},
      {"turn180.mp4", {-kOne, 0, 0, -kOne}, "hflip,vflip"},
      {"turn270.mp4", {0, -kOne, kOne, 0}, "transpose=cclock"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = TurnedClip(c.name, c.abcd);
    ASSERT_FALSE(path.empty());
    FfmpegVideoReader reader;
    ASSERT_TRUE(reader.Open(path));
    const bool sideways = c.abcd[0] == 0;
    EXPECT_EQ(reader.Width(), sideways ? 120u : 160u);
    EXPECT_EQ(reader.Height(), sideways ? 160u : 120u);
    const auto turned = reader.FrameAtTime(0);
    const auto expected = FfmpegTurned(std::string("expected_") + c.name + ".mov", c.filter);
    ASSERT_NE(turned, nullptr);
    ASSERT_NE(expected, nullptr);
    // Scaler rounding differs a little between the two paths; a wrong turn differs a lot.
    EXPECT_LT(MeanDifference(*turned, *expected), 4.0);
  }
}

TEST(FfmpegVideoReaderTest, TwoThreadsReadTheSameFrames) {
  FfmpegVideoReader reference;
  ASSERT_TRUE(reference.Open(Clip("h264_25.mp4")));
  std::vector<std::vector<uint8_t>> frames;
  for (uint32_t i = 0; i < 50; ++i) frames.push_back(Bytes(*reference.FrameAtTime(i * 40)));

  FfmpegVideoReader shared;
  ASSERT_TRUE(shared.Open(Clip("h264_25.mp4")));
  std::vector<int> mismatches(2, 0);
  auto run = [&](int who) {
    for (uint32_t n = 0; n < 50; ++n) {
      // One thread walks forward, the other backward: every request moves the decoder.
      const uint32_t i = who == 0 ? n : 49 - n;
      auto image = shared.FrameAtTime(i * 40);
      if (!image || Bytes(*image) != frames[i]) ++mismatches[who];
    }
  };
  std::thread a(run, 0);
  std::thread b(run, 1);
  a.join();
  b.join();
  EXPECT_EQ(mismatches[0], 0);
  EXPECT_EQ(mismatches[1], 0);
}

TEST(FfmpegVideoReaderTest, AFailedReopenLeavesTheReaderClosed) {
  FfmpegVideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("qtrle.mov")));
  EXPECT_FALSE(reader.Open(Clip("tone.wav")));
  EXPECT_EQ(reader.DurationMs(), 0u);
  EXPECT_EQ(reader.FrameAtTime(0), nullptr);
}

}  // namespace
}  // namespace quillon
