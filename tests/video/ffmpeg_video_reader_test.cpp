// The FFmpeg reader against clips made by the ffmpeg command at build time.
#include "video/ffmpeg_video_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <random>
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
  // The packets from the one at 4 s on (in file order) are noise. The B-frames at 3.88 and
  // 3.92 s and the P-frame at 3.96 s come before it in the file and decode intact (as they do
  // with ffmpeg -threads 1), so the track ends just after the start of the last of them.
  EXPECT_EQ(reader.DurationMs(), 3961u);
  EXPECT_EQ(reader.FrameCount(), static_cast<uint32_t>(reader.DurationMs() * 0.001 * 25));
  EXPECT_TRUE(reader.IsReadableAt(reader.DurationMs() - 1));
  EXPECT_NE(reader.FrameAtTime(3000), nullptr);

  // Index first, data cut at 60 %: the track ends where the data does.
  ASSERT_TRUE(reader.Open(Clip("faststart_cut.mp4")));
  EXPECT_GT(reader.DurationMs(), 2000u);
  EXPECT_LT(reader.DurationMs(), 4500u);
  EXPECT_TRUE(reader.IsReadableAt(reader.DurationMs() - 1));
}

// One video packet of an MP4 file as ffprobe lists it, with whether its picture is one no
// other picture is decoded from (read from the file's own bytes: the first slice's nal_ref_idc).
struct VideoPacket {
  double start = 0.0;
  std::size_t pos = 0;
  std::size_t size = 0;
  bool nonReference = false;
  bool keyframe = false;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The H.264 packets of an MP4 file, in file order; empty when ffprobe fails.
std::vector<VideoPacket> VideoPackets(const std::string& path) {
  const std::string bytes = ReadFile(path);
  const std::string cmd =
      "ffprobe -v error -select_streams v -show_entries "
      "packet=pts_time,duration_time,size,pos,flags -of csv=p=0 \"" +
      path + "\"";
  std::vector<VideoPacket> packets;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (pipe == nullptr) return packets;
  double start = 0.0;
  double length = 0.0;
  unsigned long long size = 0;
  unsigned long long pos = 0;
  char flags[8] = {};
  while (std::fscanf(pipe, "%lf,%lf,%llu,%llu,%7s", &start, &length, &size, &pos, flags) == 5) {
    VideoPacket packet{start, pos, size, false, flags[0] == 'K'};
    if (pos + size > bytes.size()) break;
    // Length-prefixed NAL units (4-byte lengths): the first slice tells.
    for (std::size_t at = pos; at + 5 <= pos + size;) {
      const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(bytes[i]); };
      const std::size_t length4 = (std::size_t{byte(at)} << 24) |
                                  (std::size_t{byte(at + 1)} << 16) |
                                  (std::size_t{byte(at + 2)} << 8) | byte(at + 3);
      const uint8_t header = byte(at + 4);
      if ((header & 0x1F) == 1 || (header & 0x1F) == 5) {
        packet.nonReference = (header & 0x60) == 0;
        break;
      }
      at += 4 + length4;
    }
    packets.push_back(packet);
  }
  pclose(pipe);
  return packets;
}

// Overwrites bytes [from, to) of `bytes` with seeded noise, or with zeros for seed 0.
void Scramble(std::string& bytes, std::size_t from, std::size_t to, uint32_t seed) {
  std::mt19937 noise(seed);
  for (std::size_t i = from; i < to && i < bytes.size(); ++i) {
    bytes[i] = seed == 0 ? '\0' : static_cast<char>(noise() & 0xFF);
  }
}

// Opens the file with the readability shortcut and without it: the readable end must come out
// the same. For an intact file so must every question over the last two seconds, asked
// backwards so that each decodes afresh from a keyframe. (Past damage, later questions depend
// on the failures earlier ones found.)
void ExpectTheAnswersOfDecodingEverything(const std::string& path, bool everyQuestion) {
  SCOPED_TRACE(path);
  FfmpegVideoReader shortcut;
  FfmpegVideoReader everything;
  everything.SetReadabilityShortcut(false);
  const bool opened = everything.Open(path);
  ASSERT_EQ(shortcut.Open(path), opened);
  if (!opened) return;
  EXPECT_EQ(shortcut.DurationMs(), everything.DurationMs());
  EXPECT_EQ(shortcut.FrameCount(), everything.FrameCount());
  if (!everyQuestion) return;
  const int64_t end = everything.DurationMs();
  for (int64_t t = end - 1; t >= 0 && t > end - 2000; t -= 37) {
    const auto ms = static_cast<uint32_t>(t);
    EXPECT_EQ(shortcut.IsReadableAt(ms), everything.IsReadableAt(ms)) << "at " << ms;
  }
}

// Readability questions leave out the non-reference pictures before the asked time; damaged
// or missing, such pictures must not change an answer.
TEST(FfmpegVideoReaderTest, ReadabilityShortcutGivesTheAnswersOfDecodingEverything) {
  const std::string intact = Clip("h264_25.mp4");
  const std::vector<VideoPacket> packets = VideoPackets(intact);
  ASSERT_EQ(packets.size(), 150u);
  const std::string bytes = ReadFile(intact);
  std::vector<const VideoPacket*> late;  // non-reference pictures of the last 1.5 s
  for (const VideoPacket& p : packets) {
    if (p.nonReference && p.start >= 4.5) late.push_back(&p);
  }
  ASSERT_GE(late.size(), 8u);

  ExpectTheAnswersOfDecodingEverything(intact, true);
  {
    // The shortcut is taken at all: the same questions decode fewer pictures.
    FfmpegVideoReader shortcut;
    FfmpegVideoReader everything;
    everything.SetReadabilityShortcut(false);
    ASSERT_TRUE(shortcut.Open(intact));
    ASSERT_TRUE(everything.Open(intact));
    for (uint32_t t : {5999u, 4519u, 2999u}) {
      EXPECT_TRUE(shortcut.IsReadableAt(t));
      EXPECT_TRUE(everything.IsReadableAt(t));
    }
    EXPECT_GT(shortcut.GetStats().skippable, 0u);
    EXPECT_EQ(everything.GetStats().skippable, 0u);
    EXPECT_LT(shortcut.GetStats().framesDecoded, everything.GetStats().framesDecoded);
  }

  const std::string dir = std::string(QUILLON_TEST_BINARY_DIR) + "/test-clips/video/";
  // Each case: packets whose bytes from `from` on turn to noise (or zeros: seed 0).
  const auto damage = [&](const std::string& name, const std::vector<const VideoPacket*>& hit,
                          std::size_t from, uint32_t seed) {
    std::string damaged = bytes;
    for (const VideoPacket* p : hit) Scramble(damaged, p->pos + from, p->pos + p->size, seed);
    std::ofstream(dir + name, std::ios::binary) << damaged;
    ExpectTheAnswersOfDecodingEverything(dir + name, false);
  };
  // Slice data of the late non-reference pictures (lengths and headers kept); the last
  // non-reference picture whole, its length prefix included.
  damage("late_nonref_noise.mp4", late, 8, 3);
  damage("last_nonref_noise.mp4", {late.back()}, 0, 5);
  // The slice data of the file's last packets wiped, the reference pictures among them: the
  // decoder's errors then come while pictures are left out, and the question must be asked
  // again.
  damage("last_packet_wiped.mp4", {&packets.back()}, 8, 0);
  damage("last_packets_wiped.mp4", {&packets[147], &packets[148], &packets[149]}, 8, 0);
  // A keyframe near the end wiped: with pictures left out, those after it fail without a word
  // and the picture found lies before the pictures left out, so the question is asked again.
  const std::string busy = Clip("busy.mp4");
  const std::vector<VideoPacket> busyPackets = VideoPackets(busy);
  const auto key = std::find_if(busyPackets.rbegin(), busyPackets.rend(),
                                [](const VideoPacket& p) { return p.keyframe; });
  ASSERT_NE(key, busyPackets.rend());
  std::string wiped = ReadFile(busy);
  Scramble(wiped, key->pos + 8, key->pos + key->size, 0);
  std::ofstream(dir + "busy_keyframe_wiped.mp4", std::ios::binary) << wiped;
  ExpectTheAnswersOfDecodingEverything(dir + "busy_keyframe_wiped.mp4", false);

  // Index first, the data cut inside a non-reference picture: near the end (the stated length
  // stands) and two seconds before it (the length comes from the packets).
  const std::string faststart = dir + "nonref_faststart.mp4";
  const std::string remux = "ffmpeg -nostdin -v error -y -i \"" + intact +
                            "\" -c copy -movflags +faststart \"" + faststart + "\"";
  ASSERT_EQ(std::system(remux.c_str()), 0);
  const std::vector<VideoPacket> moved = VideoPackets(faststart);
  const std::string front = ReadFile(faststart);
  int cuts = 0;
  for (const double at : {5.5, 3.5}) {
    const auto cut = std::find_if(moved.begin(), moved.end(), [&](const VideoPacket& p) {
      return p.nonReference && p.start >= at;
    });
    ASSERT_NE(cut, moved.end());
    const std::string name = dir + "nonref_cut" + std::to_string(cuts++) + ".mp4";
    std::ofstream(name, std::ios::binary) << front.substr(0, cut->pos + cut->size / 2);
    ExpectTheAnswersOfDecodingEverything(name, false);
  }
}

// The length must not depend on the run or the machine. With frame threads, damage among the
// last packets gives a readable end that varies run by run and with the number of threads: the
// decoder's errors surface when a thread hands them over, and one surfacing while the decoder
// drains at the end of the file loses the intact pictures still inside it. Decoded with one
// thread, every error comes with its own packet: the movie ends just after the start of the
// last picture before the first damaged one, whatever threads the pictures are decoded with.
// The pictures up to that end are the same too: draining goes on past an error, so no intact
// picture a frame thread still holds is lost.
TEST(FfmpegVideoReaderTest, ReadableEndOfADamagedTailIsTheSameEveryTime) {
  const std::string dir = std::string(QUILLON_TEST_BINARY_DIR) + "/test-clips/video/";
  // Noise over the slice data of the last packets in file order: the last picture of the busy
  // clip (frame threads lost the two intact pictures before it), and the last four of the main
  // clip (frame threads gave 5761, 5841 or 6000 ms run by run).
  const struct {
    const char* source;
    std::size_t packets;
    const char* name;
  } cases[] = {{"busy.mp4", 1, "busy_last_noise.mp4"}, {"h264_25.mp4", 4, "last4_noise.mp4"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<VideoPacket> packets = VideoPackets(Clip(c.source));
    ASSERT_GT(packets.size(), c.packets);
    std::string bytes = ReadFile(Clip(c.source));
    double firstDamaged = 1e9;
    for (std::size_t i = packets.size() - c.packets; i < packets.size(); ++i) {
      Scramble(bytes, packets[i].pos + 8, packets[i].pos + packets[i].size, 3);
      firstDamaged = std::min(firstDamaged, packets[i].start);
    }
    std::ofstream(dir + c.name, std::ios::binary) << bytes;
    // Pictures every 40 ms.
    const auto expected = static_cast<uint32_t>(std::lround(firstDamaged * 1000.0)) - 40 + 1;
    std::vector<std::vector<uint8_t>> firstPictures;  // the last half second, one thread
    for (const int threads : {1, 0, 3, 8, 0, 3}) {
      SCOPED_TRACE(threads);
      FfmpegVideoReader reader;
      reader.SetPictureThreads(threads);
      ASSERT_TRUE(reader.Open(dir + c.name));
      EXPECT_EQ(reader.DurationMs(), expected);
      EXPECT_EQ(reader.FrameCount(), (expected - 1) / 40);
      std::vector<std::vector<uint8_t>> pictures;
      for (uint32_t t = expected - 500; t < expected; t += 40) {
        const auto image = reader.FrameAtTime(t);
        ASSERT_NE(image, nullptr) << t;
        pictures.push_back(Bytes(*image));
      }
      if (firstPictures.empty()) firstPictures = pictures;
      EXPECT_TRUE(pictures == firstPictures);
    }
  }
}

// The readable-end search first asks a decoder with frame threads and keeps its answer only when
// that pass met no trouble at all. On damage frame threads find other ends than one thread does
// (errors surface late, pictures still inside the decoder are lost while it drains), so a
// threaded answer taken despite trouble changes the length. With one picture thread there is no
// threaded try: that reader gives the answer every other thread count must give.
TEST(FfmpegVideoReaderTest, FrameThreadsNeverChangeTheReadableEnd) {
  const std::string dir = std::string(QUILLON_TEST_BINARY_DIR) + "/test-clips/video/";
  const std::string intact = Clip("h264_25.mp4");
  const std::vector<VideoPacket> packets = VideoPackets(intact);
  ASSERT_EQ(packets.size(), 150u);
  const std::string bytes = ReadFile(intact);
  std::vector<std::string> files;
  // Each reference picture among the last packets in file order, its slice data wiped.
  for (std::size_t i = packets.size() - 6; i < packets.size(); ++i) {
    if (packets[i].nonReference) continue;
    std::string damaged = bytes;
    Scramble(damaged, packets[i].pos + 8, packets[i].pos + packets[i].size, 0);
    files.push_back(dir + "threads_wiped" + std::to_string(i) + ".mp4");
    std::ofstream(files.back(), std::ios::binary) << damaged;
  }
  // The last three packets in file order turned to noise, lengths included.
  {
    std::string damaged = bytes;
    Scramble(damaged, packets[147].pos, packets[149].pos + packets[149].size, 7);
    files.push_back(dir + "threads_last3_noise.mp4");
    std::ofstream(files.back(), std::ios::binary) << damaged;
  }
  // Index first, the data cut off inside a picture at several places.
  const std::string faststart = dir + "threads_faststart.mp4";
  const std::string remux = "ffmpeg -nostdin -v error -y -i \"" + intact +
                            "\" -c copy -movflags +faststart \"" + faststart + "\"";
  ASSERT_EQ(std::system(remux.c_str()), 0);
  const std::vector<VideoPacket> moved = VideoPackets(faststart);
  ASSERT_EQ(moved.size(), 150u);
  const std::string front = ReadFile(faststart);
  for (const std::size_t i : {149u, 140u, 128u, 111u, 90u}) {
    files.push_back(dir + "threads_cut" + std::to_string(i) + ".mp4");
    std::ofstream(files.back(), std::ios::binary)
        << front.substr(0, moved[i].pos + moved[i].size / 2);
  }

  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    FfmpegVideoReader one;
    one.SetPictureThreads(1);
    ASSERT_TRUE(one.Open(file));
    for (const int threads : {2, 3, 8, 0}) {
      SCOPED_TRACE(threads);
      FfmpegVideoReader reader;
      reader.SetPictureThreads(threads);
      ASSERT_TRUE(reader.Open(file));
      EXPECT_EQ(reader.DurationMs(), one.DurationMs());
      EXPECT_EQ(reader.FrameCount(), one.FrameCount());
    }
  }
}

// On damage frame threads conceal errors by timing, so the pictures themselves (not only the
// length) of a damaged clip came out otherwise run by run, and pictures shown before a damaged
// reference picture but decoded from it came out before it. Every picture must be the one a
// one-thread reader gives, in the order an encoding run asks for them and after jumps (the
// one-thread decoder taking over then repeats the last seek); an intact clip keeps its frame
// threads throughout.
TEST(FfmpegVideoReaderTest, FrameThreadsNeverChangeThePicturesOfADamagedClip) {
  const std::string dir = std::string(QUILLON_TEST_BINARY_DIR) + "/test-clips/video/";
  const std::string intact = Clip("busy.mp4");
  const std::vector<VideoPacket> packets = VideoPackets(intact);
  ASSERT_EQ(packets.size(), 150u);
  const std::string bytes = ReadFile(intact);
  const auto damage = [&](const std::string& name, double from, double to, bool keyframes) {
    std::string damaged = bytes;
    for (const VideoPacket& p : packets) {
      if (!p.nonReference && p.keyframe == keyframes && p.start >= from && p.start < to) {
        Scramble(damaged, p.pos + 8, p.pos + p.size, 3);
      }
    }
    std::ofstream(dir + name, std::ios::binary) << damaged;
    return dir + name;
  };
  // The slice data of the reference pictures of the third second turned to noise; that of the
  // keyframe at 2.88 s (without the mend, frame threads gave other pictures from there in every
  // run).
  const std::string references = damage("threads_refs_noise.mp4", 2.0, 3.0, false);
  const std::string keyframe = damage("threads_key_noise.mp4", 2.8, 3.0, true);

  const auto framesOf = [](FfmpegVideoReader& reader, const std::vector<uint32_t>& order) {
    std::vector<std::vector<uint8_t>> frames;
    for (const uint32_t i : order) {
      const auto image = reader.FrameAtTime(i * 40);
      frames.push_back(image ? Bytes(*image) : std::vector<uint8_t>{});
    }
    return frames;
  };
  std::vector<uint32_t> inOrder;
  for (uint32_t i = 0; i < 150; ++i) inOrder.push_back(i);
  // Far ahead first, then back to before the damage and through it.
  std::vector<uint32_t> jumping;
  for (uint32_t i = 100; i < 130; ++i) jumping.push_back(i);
  for (uint32_t i = 30; i < 90; ++i) jumping.push_back(i);

  for (const std::string& file : {references, keyframe, intact}) {
    for (const std::vector<uint32_t>* order : {&inOrder, &jumping}) {
      SCOPED_TRACE(file + (order == &inOrder ? " in order" : " jumping"));
      FfmpegVideoReader one;
      one.SetPictureThreads(1);
      ASSERT_TRUE(one.Open(file));
      const std::vector<std::vector<uint8_t>> expected = framesOf(one, *order);
      for (const int threads : {2, 3, 8, 0}) {
        SCOPED_TRACE(threads);
        FfmpegVideoReader reader;
        reader.SetPictureThreads(threads);
        ASSERT_TRUE(reader.Open(file));
        ASSERT_EQ(reader.DurationMs(), one.DurationMs());
        const std::vector<std::vector<uint8_t>> frames = framesOf(reader, *order);
        for (std::size_t k = 0; k < frames.size(); ++k) {
          ASSERT_FALSE(frames[k].empty()) << "frame " << (*order)[k];
          ASSERT_TRUE(frames[k] == expected[k]) << "frame " << (*order)[k];
        }
        EXPECT_EQ(reader.GetStats().oneThreadSwitches, file == intact ? 0u : 1u);
      }
    }
  }
}

// A readability question shares the decoder with the pictures: whatever it left out, the
// pictures asked for after it are those of a reader that never left anything out.
TEST(FfmpegVideoReaderTest, PicturesAfterReadabilityQuestionsAreExact) {
  FfmpegVideoReader everything;
  everything.SetReadabilityShortcut(false);
  ASSERT_TRUE(everything.Open(Clip("h264_25.mp4")));
  std::vector<std::vector<uint8_t>> frames;
  for (uint32_t i = 0; i < 150; ++i) frames.push_back(Bytes(*everything.FrameAtTime(i * 40)));

  FfmpegVideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("h264_25.mp4")));
  // Ahead within a keyframe's stretch, far ahead, back, and the very end.
  for (uint32_t i : {20u, 23u, 95u, 61u, 149u, 130u}) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(reader.IsReadableAt(i * 40 + 20));
    for (uint32_t k = i; k < std::min(i + 6, 150u); ++k) {
      const auto image = reader.FrameAtTime(k * 40);
      ASSERT_NE(image, nullptr) << k;
      EXPECT_EQ(Bytes(*image), frames[k]) << "frame " << k;
    }
    // The one before goes back to its keyframe.
    const auto before = reader.FrameAtTime((i - 1) * 40);
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(Bytes(*before), frames[i - 1]);
  }
  EXPECT_GT(reader.GetStats().skippable, 0u);
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
  // A stated length a few milliseconds short of the pictures loses none of them.
  ASSERT_TRUE(reader.Open(Clip("opus_sound.mkv"))) << reader.OpenFailure();
  EXPECT_GE(reader.DurationMs(), 2000u);
  EXPECT_EQ(reader.FrameCount(), 50u);
}

TEST(FfmpegVideoReaderTest, PicturesThatBeginAfterTheSoundKeepTheirPlaceInTime) {
  FfmpegVideoReader pictures;
  ASSERT_TRUE(pictures.Open(Clip("gop25.mkv")));
  // Each time of `reader` shows the picture that `pictures` shows `delay` ms earlier (its first
  // before then).
  const auto expectShown = [&pictures](FfmpegVideoReader& reader, uint32_t delay,
                                       std::initializer_list<uint32_t> times) {
    for (const uint32_t ms : times) {
      const auto shown = reader.FrameAtTime(ms);
      ASSERT_NE(shown, nullptr) << ms;
      EXPECT_EQ(Bytes(*shown), Bytes(*pictures.FrameAtTime(ms > delay ? ms - delay : 0))) << ms;
    }
  };
  FfmpegVideoReader late;
  ASSERT_TRUE(late.Open(Clip("pictures_late.mkv"))) << late.OpenFailure();
  // The movie is as long as its sound, and its first picture stands in until pictures begin.
  EXPECT_NEAR(late.DurationMs(), 4000.0, 40.0);
  expectShown(late, 2000, {0, 500, 1990, 2000, 2500, 3000, 3960, 2040});

  // A lead of a coder's priming moves nothing: each picture stays on its own frame.
  FfmpegVideoReader primed;
  ASSERT_TRUE(primed.Open(Clip("primed.mkv"))) << primed.OpenFailure();
  EXPECT_NEAR(primed.DurationMs(), 2000.0, 40.0);
  expectShown(primed, 0, {0, 40, 1000, 1960});
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
// FFmpeg's own picture of the first frame of `source` through `filter`, read back losslessly.
std::unique_ptr<FrameImage> FfmpegTurned(const std::string& name, const std::string& filter,
                                         const std::string& source = Clip("h264_25.mp4")) {
  const std::string path = std::string(QUILLON_TEST_BINARY_DIR) + "/test-clips/video/" + name;
  const std::string cmd = "ffmpeg -nostdin -v error -y -i \"" + source + "\" -vf " + filter +
                          " -frames:v 1 -c:v qtrle -pix_fmt rgb24 \"" + path + "\"";
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

// Pixels that are not square are shown at their display shape, against FFmpeg's own scaling of
// the same pictures.
TEST(FfmpegVideoReaderTest, PicturesOfPixelsThatAreNotSquareAreShownAtTheirDisplayShape) {
  const struct {
    const char* name;
    const char* ratio;
    uint32_t shownWidth;
  } cases[] = {
      {"wide.mp4", "32/27", 190},  // 160 x 32 / 27 = 189.6
      {"narrow.mp4", "8/9", 142},  // 160 x 8 / 9 = 142.2
      {"square.mp4", "1/1", 160},
      {"absurd.mp4", "255/1", 160},  // a damaged header: left square
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Clip(c.name);
    const std::string cmd = "ffmpeg -nostdin -v error -y -i \"" + Clip("h264_25.mp4") +
                            "\" -frames:v 5 -vf setsar=" + c.ratio +
                            " -c:v libx264 -preset ultrafast \"" + path + "\"";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    FfmpegVideoReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.OpenFailure();
    EXPECT_EQ(reader.Width(), c.shownWidth);
    EXPECT_EQ(reader.Height(), 120u);
    const auto shown = reader.FrameAtTime(0);
    const auto expected =
        FfmpegTurned(std::string("expected_") + c.name + ".mov",
                     "scale=" + std::to_string(c.shownWidth) + ":120:flags=bilinear", path);
    ASSERT_NE(shown, nullptr);
    ASSERT_NE(expected, nullptr);
    EXPECT_LT(MeanDifference(*shown, *expected), 4.0);
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
