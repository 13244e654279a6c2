// Whole runs over synthetic clips: parts, their files, the status word and the figures.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <set>
#include <thread>

#include "swf/action_builder.h"
#include "swf/transport/bitmap_definitions.h"
#include "swf/transport/sound_stream.h"
#include "transport/synthetic_clip.h"

namespace quillon::testing {
namespace {

constexpr uint16_t kShowFrame = 1;
constexpr uint16_t kDefineShape2 = 22;
constexpr uint16_t kPlaceObject = 4;
constexpr uint16_t kRemoveObject2 = 28;
constexpr uint16_t kDoAction = 12;
constexpr uint16_t kEnd = 0;

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

TEST(TransportRunTest, SinglePartHasOneFramePerVideoFrameAndCleanDisplayList) {
  TransportRig rig;
  ASSERT_TRUE(rig.Prepare(ClipSpec{})) << rig.error;
  const std::string dir = FreshFolder("single_part");
  ASSERT_TRUE(rig.Run(dir)) << rig.error;
  EXPECT_EQ(rig.transport->Status(), TransportStatus::kFinished);
  EXPECT_EQ(rig.transport->PartCount(), 1u);
  EXPECT_FLOAT_EQ(rig.transport->Progress(), 100.0f);

  const SwfFile f = ReadSwfFile(dir + "encoded.swf");
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.version, 5);
  EXPECT_EQ(f.frameCount, 12);
  EXPECT_EQ(CountTags(f, kShowFrame), 12u);
  EXPECT_EQ(f.fileLength, ReadFileBytes(dir + "encoded.swf").size());
  EXPECT_EQ(f.frameRate, 12 * 256);
  // 100 % stage: exactly the video.
  EXPECT_EQ(f.stage, (SwfRect{0, 1280, 0, 960}));
  ASSERT_FALSE(f.tags.empty());
  EXPECT_EQ(f.tags.back().code, kEnd);
  EXPECT_FALSE(std::filesystem::exists(dir + "encoded2.swf"));

  // Every PlaceObject goes on a free depth, every RemoveObject2 takes an occupied one.
  std::set<uint16_t> occupied;
  std::set<uint16_t> shapes;
  for (const ParsedTag& t : f.tags) {
    if (t.code == kDefineShape2) shapes.insert(Le16(t.body, 0));
    if (t.code == kPlaceObject) {
      EXPECT_TRUE(shapes.count(Le16(t.body, 0)));
      EXPECT_TRUE(occupied.insert(Le16(t.body, 2)).second);
    }
    if (t.code == kRemoveObject2) {
      EXPECT_EQ(occupied.erase(Le16(t.body, 0)), 1u);
    }
  }
  EXPECT_EQ(rig.transport->EmittedFrames(), 12u);
  EXPECT_EQ(rig.transport->FrameCount(), 12u);
  EXPECT_EQ(rig.transport->BytesWritten(), f.fileLength);
}

// Bitmaps of a frame are encoded on several threads, and with more than one the next frame is
// decoded and matched while they are: the files must not show how many threads there were,
// whether frames are refused, parts split or bitmaps freed under the early verdicts.
TEST(TransportRunTest, OutputIsTheSameForEveryThreadCount) {
  struct Case {
    const char* name;
    ClipSpec clip;
    uint32_t extraFlags;
    uint32_t bitrateLimit;   // a tight one refuses frames part-way through their bitmaps
    uint32_t cacheSize = 0;  // 0: the default; 1 leaves no room to decode ahead
    uint32_t partSizeLimit = 0;
    float blockLimbo = -50.0f;  // 1: bitmaps freed a frame after their last use
  };
  const Case cases[] = {
      {"static", ClipSpec{.pattern = ClipPattern::kStatic}, TransportOptions::kZlib8, 0},
      {"noise", ClipSpec{.frames = 16, .pattern = ClipPattern::kNoise}, 0, 0},
      {"refused", ClipSpec{.frames = 16, .pattern = ClipPattern::kNoise, .sound = true},
       TransportOptions::kZlib8, 8 * 6000},
      {"one cached frame", ClipSpec{.frames = 16}, 0, 0, 1},
      {"parts", ClipSpec{.frames = 24, .pattern = ClipPattern::kNoise, .sound = true}, 0, 0, 0,
       6000},
      {"freed early", ClipSpec{.width = 128, .height = 96, .frames = 40}, 0, 0, 0, 0, 1.0f},
      {"mirrored, refused", ClipSpec{.frames = 24, .pattern = ClipPattern::kMirroredBlocks},
       TransportOptions::kZlib8, 8 * 1500},
  };
  for (const Case& c : cases) {
    std::vector<std::vector<uint8_t>> first;
    for (uint32_t threads : {1u, 1u, 2u, 3u, 8u}) {
      SCOPED_TRACE(std::string(c.name) + " on " + std::to_string(threads) + " threads");
      TransportRig rig;
      rig.settings.transport.flags |= c.extraFlags;
      rig.settings.transport.bitrateLimit = c.bitrateLimit;
      rig.settings.transport.partSizeLimit = c.partSizeLimit;
      rig.settings.transport.playerBlockLimbo = c.blockLimbo;
      if (c.cacheSize != 0) rig.settings.frame.cacheSize = c.cacheSize;
      ASSERT_TRUE(rig.Prepare(c.clip)) << rig.error;
      rig.transport->Bitmaps().SetThreads(threads);
      const std::string dir = FreshFolder(std::string("threads-") + c.name);
      ASSERT_TRUE(rig.Run(dir)) << rig.error;
      // Earlier frames were compared through the matching's copies of their blocks alone,
      // whatever was refused, freed or started anew, and the cache held two frames at most.
      EXPECT_EQ(rig.match->FallbackReads(), 0u);
      EXPECT_LE(rig.frames->HeldFrames(), 2u);
      std::vector<std::vector<uint8_t>> parts;
      for (uint32_t n = 1; n <= rig.transport->PartCount(); ++n) {
        parts.push_back(ReadFileBytes(SwfWriter::PartFileName(dir, n)));
        ASSERT_FALSE(parts.back().empty());
      }
      if (first.empty()) {
        first = parts;
        if (c.bitrateLimit != 0) {
          EXPECT_LT(rig.transport->EmittedFrames(), c.clip.frames);
        }
        if (c.partSizeLimit != 0) {
          EXPECT_GE(parts.size(), 3u);
        }
      } else {
        EXPECT_EQ(parts, first);
      }
    }
  }
}

TEST(TransportRunTest, StopBeforeRunCancelsWithoutWriting) {
  TransportRig rig;
  ASSERT_TRUE(rig.Prepare(ClipSpec{})) << rig.error;
  const std::string dir = FreshFolder("stopped");
  rig.transport->RequestStop();
  EXPECT_FALSE(rig.Run(dir));
  EXPECT_EQ(rig.transport->Status(), TransportStatus::kCancelled);
  EXPECT_FALSE(std::filesystem::exists(dir + "encoded.swf"));
}

TEST(TransportRunTest, UnwritableFolderIsReportedAsTemporaryFileError) {
  TransportRig rig;
  ASSERT_TRUE(rig.Prepare(ClipSpec{})) << rig.error;
  EXPECT_FALSE(rig.Run("/nonexistent-folder-for-quillon/"));
  EXPECT_EQ(rig.transport->Status(), TransportStatus::kError);
  EXPECT_EQ(rig.transport->ErrorText(), kPartWriteError);
}

TEST(TransportRunTest, PartSizeLimitSplitsIntoChainedParts) {
  TransportRig rig;
  rig.settings.transport.partSizeLimit = 6000;
  ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 24, .pattern = ClipPattern::kNoise})) << rig.error;
  const std::string dir = FreshFolder("part_split");
  ASSERT_TRUE(rig.Run(dir)) << rig.error;
  const uint32_t parts = rig.transport->PartCount();
  ASSERT_GE(parts, 2u);

  uint32_t frames = 0;
  for (uint32_t n = 1; n <= parts; ++n) {
    const std::string path = SwfWriter::PartFileName(dir, n);
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    const SwfFile f = ParseSwf(bytes);
    ASSERT_TRUE(f.ok) << path;
    EXPECT_LE(bytes.size(), 6000u + 64u) << path;  // the end actions may pass the limit a little
    frames += f.frameCount;
    EXPECT_EQ(f.frameCount, CountTags(f, kShowFrame)) << path;
    // The saving step rewrites the first tag after the header: it must be the part variables.
    ASSERT_FALSE(f.tags.empty());
    EXPECT_EQ(f.tags.front().code, kDoAction);
    const auto strings = PushedStrings(ParseActions(f.tags.front().body));
    ASSERT_GE(strings.size(), 2u);
    EXPECT_EQ(strings[0], "thisPartNum");
    EXPECT_EQ(strings[1], std::to_string(n));
    // The last frame of a part that is not the last loads the next part.
    if (n < parts) {
      bool loadsNext = false;
      for (const ParsedTag* t : TagsOf(f, kDoAction)) {
        const auto s = PushedStrings(ParseActions(t->body));
        if (!s.empty() && s[0] == "nextPart") loadsNext = true;
      }
      EXPECT_TRUE(loadsNext) << path;
      ASSERT_GE(f.tags.size(), 2u);
      EXPECT_EQ(f.tags[f.tags.size() - 2].code, kShowFrame) << path;
    }
  }
  EXPECT_EQ(frames, 24u);
  EXPECT_EQ(rig.transport->FrameCount(), 24u);
}

TEST(TransportRunTest, SinglePartCarriesNoPartVariables) {
  TransportRig rig;
  ASSERT_TRUE(rig.Prepare(ClipSpec{})) << rig.error;
  const std::string dir = FreshFolder("no_part_vars");
  ASSERT_TRUE(rig.Run(dir)) << rig.error;
  const SwfFile f = ReadSwfFile(dir + "encoded.swf");
  for (const ParsedTag* t : TagsOf(f, kDoAction)) {
    for (const std::string& s : PushedStrings(ParseActions(t->body))) {
      EXPECT_NE(s, "thisPartNum");
    }
  }
}

TEST(TransportRunTest, EmptyVideoWritesOnlyFramesWithoutShapes) {
  TransportRig rig;
  ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 6, .emptyVideo = true})) << rig.error;
  const std::string dir = FreshFolder("empty_video");
  ASSERT_TRUE(rig.Run(dir)) << rig.error;
  const SwfFile f = ReadSwfFile(dir + "encoded.swf");
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.frameCount, 6);
  EXPECT_EQ(CountTags(f, kDefineShape2), 0u);
  EXPECT_EQ(CountTags(f, kPlaceObject), 0u);
  EXPECT_EQ(CountTags(f, kShowFrame), 6u);
}

// A preloader of `frames` empty frames.
std::string WriteLongPreloader(const std::string& dir, uint32_t frames) {
  SwfWriter w;
  EXPECT_TRUE(w.Open());
  w.WriteFileHeader(5, SwfRect{0, 1280, 0, 960}, 12.0);
  for (uint32_t i = 0; i < frames; ++i) w.WriteShowFrame();
  w.WriteEnd();
  w.FinishPart(frames);
  EXPECT_TRUE(w.WritePartFile(dir, 1));
  return dir + "encoded.swf";
}

uint32_t ShapesInParts(const std::string& dir, uint32_t parts) {
  uint32_t shapes = 0;
  for (uint32_t n = 1; n <= parts; ++n) {
    shapes += CountTags(ReadSwfFile(SwfWriter::PartFileName(dir, n)), kDefineShape2);
  }
  return shapes;
}

TEST(TransportRunTest, PreloaderLongerThanAPartStillLeavesRoomForOneVideoFrame) {
  TransportRig rig;
  rig.settings.transport.playerLoader = WriteLongPreloader(FreshFolder("long_pre_src"), 16000);
  ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 2, .pattern = ClipPattern::kNoise})) << rig.error;
  const std::string dir = FreshFolder("long_preloader");
  ASSERT_TRUE(rig.Run(dir)) << rig.error;
  ASSERT_EQ(rig.transport->PartCount(), 2u);
  EXPECT_EQ(ShapesInParts(dir, 2), 2u);
  EXPECT_EQ(ReadSwfFile(dir + "encoded2.swf").frameCount, 16001);
}

TEST(TransportRunTest, PartFullDuringRepeatsGoesOnWithTheNextVideoFrame) {
  TransportRig rig;
  rig.settings.transport.playerLoader = WriteLongPreloader(FreshFolder("full_pre_src"), 15998);
  rig.settings.transport.playerFps = 24.0f;
  ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 3, .pattern = ClipPattern::kNoise})) << rig.error;
  const std::string dir = FreshFolder("full_in_repeats");
  ASSERT_TRUE(rig.Run(dir)) << rig.error;
  const uint32_t parts = rig.transport->PartCount();
  ASSERT_EQ(parts, 3u);
  // Each video frame is encoded exactly once, whichever part it lands in.
  EXPECT_EQ(ShapesInParts(dir, parts), 3u);
}

TEST(TransportRunTest, StopFromAnotherThreadCancelsTheRun) {
  TransportRig rig;
  ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 400, .pattern = ClipPattern::kNoise})) << rig.error;
  const std::string dir = FreshFolder("stop_thread");
  Transport& t = *rig.transport;
  std::thread poller([&t] {
    // Figures are read while they change, as the controller does; stop once frames flow.
    for (int i = 0; i < 200000 && t.Status() != TransportStatus::kCancelled &&
                    t.Status() != TransportStatus::kFinished;
         ++i) {
      if (t.FrameCount() >= 5) t.RequestStop();
      (void)t.Progress();
      (void)t.BytesWritten();
      std::this_thread::yield();
    }
  });
  const bool ok = rig.Run(dir);
  poller.join();
  if (ok) GTEST_SKIP() << "the run ended before the stop arrived";
  EXPECT_EQ(t.Status(), TransportStatus::kCancelled);
  EXPECT_LT(t.FrameCount(), 400u);
  EXPECT_LT(t.Progress(), 100.0f);
}

TEST(TransportRunTest, FinalFiguresDescribeTheRun) {
  TransportRig rig;
  ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 12, .pattern = ClipPattern::kNoise})) << rig.error;
  ASSERT_TRUE(rig.Run(FreshFolder("figures"))) << rig.error;
  const Transport& t = *rig.transport;
  EXPECT_EQ(t.EmittedFrames(), 12u);
  EXPECT_EQ(t.FramePixels(), 12u * 64 * 48);
  EXPECT_GT(t.EncodedPixels(), 0u);
  EXPECT_EQ(t.LargestPartBytes(), t.BytesWritten());
  // One second of movie: the bit rate is the file's bits.
  EXPECT_NEAR(t.BitRate(), static_cast<float>(t.BytesWritten() * 8), 1.0f);
  // OptimizeMemory estimate: k = (1 - sent / all pixels) x 7 + 5 frames of the stage.
  const double k = (1.0 - static_cast<double>(t.EncodedPixels()) / t.FramePixels()) * 7 + 5;
  EXPECT_EQ(t.PlayerMemory(),
            t.LargestPartBytes() + static_cast<uint64_t>(4.0 * 64 * 48 * k) + kPlayerMemoryBase);
}

TEST(TransportRunTest, OutputThatCannotGrowIsAnOutOfMemoryErrorNotAShortPart) {
  TransportRig rig;
  // Parts go to their files frame by frame: only a frame larger than the cap can hit it.
  ASSERT_TRUE(rig.Prepare(ClipSpec{.width = 256, .height = 192, .frames = 24,
                                   .pattern = ClipPattern::kNoise}))
      << rig.error;
  rig.transport->SetOutputLimit(20000);
  const std::string dir = FreshFolder("out_of_memory");
  EXPECT_FALSE(rig.Run(dir));
  EXPECT_EQ(rig.transport->Status(), TransportStatus::kError);
  EXPECT_EQ(rig.transport->ErrorText(), EngineErrorText(3));
  EXPECT_FALSE(std::filesystem::exists(dir + "encoded.swf"));
}

// Parts are written to their files as their frames are committed; the bytes must be those of
// the part assembled whole, wherever the part's end reaches back (a refused frame and its sound
// carried into the next part, parts ended by their size, the part variables put first).
TEST(TransportRunTest, PartsWrittenAsTheyGoAreTheBytesOfWholeParts) {
  struct Case {
    const char* name;
    ClipSpec clip;
    uint32_t bitrateLimit = 0;
    uint32_t partSizeLimit = 0;
    uint32_t preloaderFrames = 0;
  };
  const Case cases[] = {
      {"one part", ClipSpec{.frames = 16, .pattern = ClipPattern::kNoise, .sound = true}},
      {"refused", ClipSpec{.frames = 16, .pattern = ClipPattern::kNoise, .sound = true},
       8 * 6000},
      {"parts", ClipSpec{.frames = 24, .pattern = ClipPattern::kNoise, .sound = true}, 0, 6000},
      {"refused parts", ClipSpec{.frames = 30, .pattern = ClipPattern::kNoise, .sound = true},
       8 * 9000, 7000},
      {"preloader", ClipSpec{.frames = 12, .sound = true}, 0, 5000, 30},
      {"sound only", ClipSpec{.frames = 12, .emptyVideo = true, .sound = true}},
  };
  for (const Case& c : cases) {
    std::vector<std::vector<uint8_t>> whole;
    for (const bool stream : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (stream ? " streamed" : " whole"));
      TransportRig rig;
      rig.settings.transport.bitrateLimit = c.bitrateLimit;
      rig.settings.transport.partSizeLimit = c.partSizeLimit;
      if (c.preloaderFrames != 0) {
        rig.settings.transport.playerLoader = WriteLongPreloader(
            FreshFolder(std::string("stream-pre-") + c.name), c.preloaderFrames);
      }
      ASSERT_TRUE(rig.Prepare(c.clip)) << rig.error;
      rig.transport->SetStreamOutput(stream);
      const std::string dir = FreshFolder(std::string("stream-") + c.name);
      ASSERT_TRUE(rig.Run(dir)) << rig.error;
      std::vector<std::vector<uint8_t>> parts;
      uint64_t total = 0;
      for (uint32_t n = 1; n <= rig.transport->PartCount(); ++n) {
        parts.push_back(ReadFileBytes(SwfWriter::PartFileName(dir, n)));
        total += parts.back().size();
        const SwfFile f = ParseSwf(parts.back());
        ASSERT_TRUE(f.ok);
        EXPECT_EQ(f.fileLength, parts.back().size());
      }
      EXPECT_FALSE(std::filesystem::exists(
          SwfWriter::PartFileName(dir, rig.transport->PartCount() + 1)));
      EXPECT_EQ(rig.transport->BytesWritten(), total);
      if (!stream) {
        whole = parts;
        if (c.bitrateLimit != 0) {
          EXPECT_LT(rig.transport->EmittedFrames(), c.clip.frames);
        }
        if (c.partSizeLimit != 0) {
          EXPECT_GE(parts.size(), 2u);
        }
      } else {
        EXPECT_EQ(parts, whole);
      }
    }
  }
}

// The part buffer holds a frame or so, not the part: a long run fits a cap far below its size
// (the same cap fails the run when the part is assembled whole).
TEST(TransportRunTest, PartBufferStaysNearTheLargestFrame) {
  constexpr uint32_t kCap = 64 * 1024;
  for (const bool stream : {true, false}) {
    SCOPED_TRACE(stream ? "streamed" : "whole");
    TransportRig rig;
    ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 240, .pattern = ClipPattern::kNoise,
                                     .sound = true}))
        << rig.error;
    rig.transport->SetOutputLimit(kCap);
    rig.transport->SetStreamOutput(stream);
    const std::string dir = FreshFolder("stream-bounded");
    EXPECT_EQ(rig.Run(dir), stream) << rig.transport->ErrorText();
    if (stream) {
      EXPECT_EQ(rig.transport->PartCount(), 1u);
      EXPECT_GT(ReadFileBytes(dir + "encoded.swf").size(), 8u * kCap);
    } else {
      EXPECT_EQ(rig.transport->ErrorText(), EngineErrorText(3));
    }
  }
}

// A disk that fills up while a part is written: the run stops there with the file error and
// leaves no part behind.
TEST(TransportRunTest, AWriteFailureMidPartStopsTheRunAndLeavesNoPart) {
  TransportRig rig;
  ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 120, .pattern = ClipPattern::kNoise})) << rig.error;
  const std::string dir = FreshFolder("disk_full");
  std::error_code ec;
  std::filesystem::create_symlink("/dev/full", dir + "encoded.swf", ec);
  if (ec) GTEST_SKIP() << "no symbolic link to /dev/full: " << ec.message();
  EXPECT_FALSE(rig.Run(dir));
  EXPECT_EQ(rig.transport->Status(), TransportStatus::kError);
  EXPECT_EQ(rig.transport->ErrorText(), kPartWriteError);
  EXPECT_GT(rig.transport->FrameCount(), 0u);
  EXPECT_LT(rig.transport->FrameCount(), 120u);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir + "encoded.swf")));
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));
}

TEST(TransportRunTest, APictureThatDoesNotDecodeIsTheFilesFaultNotTheEngines) {
  TransportRig rig;
  ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 24, .undecodableFrom = 18})) << rig.error;
  EXPECT_FALSE(rig.Run(FreshFolder("undecodable")));
  EXPECT_EQ(rig.transport->Status(), TransportStatus::kError);
  EXPECT_EQ(rig.transport->ErrorText(),
            "FFmpeg could not decode the picture at 1.50 s: the file may be damaged or "
            "incomplete");
}

// A huge frame through every filter at their heaviest: in a Release build one 6144 x 6144
// frame takes about 2.7 s of filtering, which a cancel used to wait for (and then for the
// matching and bitmaps of that frame). Cancelled while its filters run, the run must end at
// once, as a cancelled run, not as a failed one. The picture is flat, so that painting it
// (which no cancel can shorten) costs next to nothing.
TEST(TransportRunTest, CancelDuringAHugeFramesFiltersEndsTheRunWithinASecond) {
  using Clock = std::chrono::steady_clock;
  std::atomic<bool> painted{false};
  TransportRig rig;
  FrameOptions& f = rig.settings.frame;
  f.resize = 99.0f;
  f.resizeMethod = 1;
  f.flags |= FrameOptions::kUniformSpanHorizontal | FrameOptions::kUniformSpanVertical |
             FrameOptions::kUniformBlockHorizontal | FrameOptions::kUniformBlockVertical;
  f.darken = 10.0f;
  f.darkLimit = 5.0f;
  f.lightQuantize = 6;
  f.chromaQuantize = 6;
  f.smooth = 50.0f;
  f.smoothCycles = kMaxSmoothCycles;
  f.cacheSize = 2;
  ASSERT_TRUE(rig.Prepare(ClipSpec{.width = 6144,
                                   .height = 6144,
                                   .frames = 3,
                                   .pattern = ClipPattern::kFlat,
                                   .painted = [&painted](uint32_t) { painted = true; }}))
      << rig.error;
  const std::string dir = FreshFolder("cancel_filters");
  std::future<bool> run = std::async(std::launch::async, [&rig, &dir] { return rig.Run(dir); });
  const Clock::time_point until = Clock::now() + std::chrono::seconds(120);
  while (!painted && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(painted);
  // Into the filter passes of the first frame.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Clock::time_point asked = Clock::now();
  rig.transport->RequestStop();
  const bool ended = run.wait_for(std::chrono::seconds(120)) == std::future_status::ready;
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count();
  ASSERT_TRUE(ended);
  EXPECT_FALSE(run.get());
  EXPECT_EQ(rig.transport->Status(), TransportStatus::kCancelled);
  EXPECT_EQ(rig.transport->ErrorText(), "");
  EXPECT_EQ(rig.transport->FrameCount(), 0u);
  // Generous for a loaded machine: the stages look at the flag every few milliseconds.
  EXPECT_LT(waited, 1000) << "ms from the cancel to the end of the run";
  std::printf("cancel to end of run: %lld ms\n", static_cast<long long>(waited));
}

}  // namespace
}  // namespace quillon::testing
