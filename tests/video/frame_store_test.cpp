// FrameStore against a scripted reader: reader choice, derived timing and size, the sliding
// cache and the filter order.
#include "video/frame_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/encoder_settings.h"
#include "video/frame_image.h"

namespace quillon {
namespace {

// What the fake readers of one store did.
struct Script {
  bool openResult = true;
  bool throwOnOpen = false;
  uint32_t width = 64;
  uint32_t height = 48;
  uint32_t durationMs = 10000;
  double fps = 25.0;
  bool decodes = true;
  uint8_t luma = 100;
  std::vector<ReaderKind> created;
  std::vector<uint32_t> times;  // every FrameAtTime request, in order
  std::atomic<bool>* cancelOnDecode = nullptr;  // set by each decode: a cancel mid-frame
};

class FakeReader : public VideoReader {
 public:
  explicit FakeReader(Script& script) : script_(script) {}
  int32_t TimeToSample(uint32_t ms) const override {
    return static_cast<int32_t>(ms / msPerSample);
  }
  uint32_t SampleToTime(int32_t sample) const override {
    return static_cast<uint32_t>(sample) * msPerSample;
  }
  bool Open(const std::string&) override {
    if (script_.throwOnOpen) throw std::runtime_error("platform failure");
    if (!script_.openResult) return false;
    fps = script_.fps;
    durationMs = script_.durationMs;
    msPerSample = fps > 0 ? static_cast<uint32_t>(1000 / fps) : 40;
    frameCount = durationMs / msPerSample;
    width = script_.width;
    height = script_.height;
    return true;
  }
  void Close() override {}
  std::unique_ptr<FrameImage> FrameAtSample(int32_t sample) override {
    return FrameAtTime(SampleToTime(sample));
  }
  std::unique_ptr<FrameImage> FrameAtTime(uint32_t ms) override {
    script_.times.push_back(ms);
    if (script_.cancelOnDecode != nullptr) *script_.cancelOnDecode = true;
    if (!script_.decodes) return nullptr;
    auto image = std::make_unique<FrameImage>();
    // Channel 1 carries the time's low byte so tests can tell frames apart.
    if (!image->Allocate(script_.width, script_.height,
                         Colour{script_.luma, static_cast<uint8_t>(ms & 0xFF), 128})) {
      return nullptr;
    }
    return image;
  }
  bool IsReadableAt(uint32_t ms) override { return ms < durationMs; }

 private:
  Script& script_;
};

FrameStore MakeStore(Script& script, std::vector<ReaderKind> offered = {ReaderKind::kStream}) {
  return FrameStore([&script, offered](ReaderKind kind) -> std::unique_ptr<VideoReader> {
    script.created.push_back(kind);
    for (ReaderKind k : offered) {
      if (k == kind) return std::make_unique<FakeReader>(script);
    }
    return nullptr;
  });
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
  // Named after the test too: ctest runs the cases side by side in separate processes.
  const std::string path = std::string(QUILLON_TEST_BINARY_DIR) + "/frame_store_" +
                           testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                           name;
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

TEST(FrameStoreTest, TriesReadersInOrderAndSkipsQuickTimeForMpegAndAvi) {
  const std::string mpeg = WriteFile("mpeg.bin", std::string("\x00\x00\x01\xBA", 4) + "12345678");
  const std::string avi = WriteFile("avi.bin", "riff1234avi LIST");
  const std::string other = WriteFile("other.bin", "ftypisom0000");
  const ReaderKind kAll[] = {ReaderKind::kQuickTime, ReaderKind::kStream, ReaderKind::kAviFile};
  struct Case {
    std::string path;
    std::vector<ReaderKind> tried;
  };
  for (const Case& c :
       {Case{mpeg, {ReaderKind::kStream, ReaderKind::kAviFile}},
        Case{avi, {ReaderKind::kStream, ReaderKind::kAviFile}},
        Case{other, {ReaderKind::kQuickTime, ReaderKind::kStream, ReaderKind::kAviFile}}}) {
    Script script;
    script.openResult = false;
    FrameStore store = MakeStore(script, {kAll[0], kAll[1], kAll[2]});
    EXPECT_FALSE(store.Open(c.path));
    EXPECT_EQ(script.created, c.tried) << c.path;
    EXPECT_EQ(store.GetReaderKind(), ReaderKind::kNone);
    EXPECT_EQ(store.lastError, "Video source has unsupported or damaged format");
  }

  // The mask removes candidates; the first that opens is kept.
  Script script;
  FrameStore store = MakeStore(script, {kAll[0], kAll[1], kAll[2]});
  store.SetReaderMask(kReaderMaskAviFile);
  ASSERT_TRUE(store.Open(other));
  EXPECT_EQ(script.created, std::vector<ReaderKind>{ReaderKind::kAviFile});
  EXPECT_EQ(store.GetReaderKind(), ReaderKind::kAviFile);
  store.SetReaderMask(0);
  EXPECT_FALSE(store.Open(other));
  // A back-end that throws is only a candidate that did not open.
  script.throwOnOpen = true;
  store.SetReaderMask(kReaderMaskAll);
  EXPECT_FALSE(store.Open(other));
  EXPECT_EQ(store.lastError, "Video source has unsupported or damaged format");
}

TEST(FrameStoreTest, ReaderWithoutAFrameSizeIsADamagedFormat) {
  Script script;
  script.width = 0;  // unknown size, and sample 0 does not decode either
  script.decodes = false;
  FrameStore store = MakeStore(script);
  EXPECT_FALSE(store.Open(WriteFile("x.bin", "ftypisom0000")));
  EXPECT_EQ(store.lastError, "Video source has damaged format");
}

class FrameStoreConfigureTest : public testing::Test {
 protected:
  void SetUp() override {
    script.width = 640;
    script.height = 360;
    ASSERT_TRUE(store.Open(WriteFile("x.bin", "ftypisom0000")));
  }
  Script script;
  FrameStore store = MakeStore(script);
  FrameOptions options;
};

TEST_F(FrameStoreConfigureTest, OutputRateFollowsFpsSetting) {
  EXPECT_EQ(store.GetFrame(0), nullptr);  // opened but not configured
  EXPECT_TRUE(script.times.empty());
  struct Case {
    double setting;
    double rate;
  };
  for (const Case& c : {Case{0.0, 25.0}, Case{-100.0, 25.0}, Case{-50.0, 12.5}, Case{60.0, 25.0},
                        Case{12.0, 12.0}}) {
    options.fps = c.setting;
    ASSERT_TRUE(store.Configure(options)) << c.setting;
    EXPECT_DOUBLE_EQ(store.OutputFps(), c.rate) << c.setting;
    EXPECT_DOUBLE_EQ(store.Options().fps, c.rate) << c.setting;
    EXPECT_DOUBLE_EQ(store.MsPerFrame(), 1000.0 / c.rate);
    EXPECT_EQ(store.OutputFrameCount(), static_cast<uint32_t>(10000 / (1000.0 / c.rate)));
  }
}

// 1000 / fps is inexact at most rates, and a track of a whole number of frames divides to just
// under that number: the last frame must not be lost to the rounding.
TEST(FrameStoreFrameCountTest, WholeNumberOfFramesIsNotLostToRounding) {
  struct Case {
    double fps;
    uint32_t durationMs;
    uint32_t frames;
    uint32_t framesInASecond;  // a selection of 1000 ms counts its end frame as well
  };
  for (const Case& c : {Case{15.0, 2000, 30, 16}, Case{30.0, 2000, 60, 31},
                        Case{60.0, 2000, 120, 61}, Case{120.0, 2000, 240, 121},
                        Case{240.0, 2000, 480, 241}, Case{30.0, 7000, 210, 31},
                        Case{30000.0 / 1001.0, 1001, 30, 30}, Case{30.0, 1999, 59, 31},
                        Case{12.5, 2079, 25, 13}}) {
    Script script;
    script.fps = c.fps;
    script.durationMs = c.durationMs;
    FrameStore store = MakeStore(script);
    ASSERT_TRUE(store.Open(WriteFile("x.bin", "ftypisom0000")));
    ASSERT_TRUE(store.Configure(FrameOptions{})) << c.fps;
    EXPECT_EQ(store.OutputFrameCount(), c.frames) << c.fps << " fps, " << c.durationMs << " ms";
    ASSERT_TRUE(store.SelectRange(0, 1000));
    EXPECT_EQ(store.RangeFrameCount(), c.framesInASecond) << c.fps << " fps";
  }
}

TEST_F(FrameStoreConfigureTest, OutputSizeFollowsResizeSetting) {
  options.resize = -320.0f;
  ASSERT_TRUE(store.Configure(options));
  EXPECT_EQ(store.OutputWidth(), 320u);
  EXPECT_EQ(store.OutputHeight(), 180u);
  EXPECT_FLOAT_EQ(store.Options().resize, 50.0f);
  EXPECT_EQ(store.Options().outputWidth, 320u);

  options.resize = 150.0f;
  ASSERT_TRUE(store.Configure(options));
  EXPECT_EQ(store.OutputWidth(), 640u);
  EXPECT_EQ(store.OutputHeight(), 360u);

  options.resize = 33.0f;  // 211.2 x 118.8: rounded half up
  ASSERT_TRUE(store.Configure(options));
  EXPECT_EQ(store.OutputWidth(), 211u);
  EXPECT_EQ(store.OutputHeight(), 119u);
}

TEST_F(FrameStoreConfigureTest, DerivesFilterThresholds) {
  options.uniformSpanLimit = 50.0f;  // the knee of 8, 0, 50, 0.5: 0.5
  options.uniformBlockLimit = -2.0f;  // bypasses the signature
  options.darkLimit = 10.0f;
  ASSERT_TRUE(store.Configure(options));
  EXPECT_FLOAT_EQ(store.Options().spanThreshold, static_cast<float>(0.5 * 1950.75));
  EXPECT_FLOAT_EQ(store.Options().blockThreshold, static_cast<float>(3901.5));
  EXPECT_FLOAT_EQ(store.Options().darkThreshold, 25.5f);
}

TEST_F(FrameStoreConfigureTest, RefusesBadOptionsWithTheirMessages) {
  options.cacheSize = 0;
  EXPECT_FALSE(store.Configure(options));
  EXPECT_EQ(store.lastError, "Cache size cannot be set to 0");

  FrameStore empty = MakeStore(script);
  empty.SetEmptyVideo(12, 1000, 0, 300, 0.0);
  options = FrameOptions{};
  EXPECT_FALSE(empty.Configure(options));
  EXPECT_EQ(empty.lastError,
            "Cannot have 0 Frames Per Second - that wouldn't be fair to the rest of the world");
  empty.SetEmptyVideo(12, 1000, 0, 300, 12.0);
  options.resize = -320.0f;
  EXPECT_FALSE(empty.Configure(options));
  EXPECT_EQ(empty.lastError, "FrameWidth must be greater than 0");
}

TEST_F(FrameStoreConfigureTest, SelectRangeClampsToTheTrack) {
  ASSERT_TRUE(store.Configure(options));
  ASSERT_TRUE(store.SelectRange(20000, 5000));  // start beyond the end
  EXPECT_EQ(store.RangeStartMs(), 9999u);
  EXPECT_EQ(store.RangeFrameCount(), 1u);
  EXPECT_EQ(store.RangeStartSample(), 9999 / 40);

  ASSERT_TRUE(store.SelectRange(2000, 0xFFFFFFFFu));  // to the end of the movie
  EXPECT_EQ(store.RangeDurationMs(), 8000u);
  EXPECT_EQ(store.RangeFrameCount(), 201u);
  ASSERT_TRUE(store.SelectRange(0, 0xFFFFFFFFu));
  EXPECT_EQ(store.RangeFrameCount(), 250u);  // at most the track's frame count

  FrameStore closed = MakeStore(script);
  EXPECT_FALSE(closed.SelectRange(0, 1000));
}

TEST_F(FrameStoreConfigureTest, LoadsFramesAtTruncatedTimesFromTheRangeStart) {
  options.fps = 30.0;
  script.fps = 29.97;
  ASSERT_TRUE(store.Open(WriteFile("x.bin", "ftypisom0000")));
  ASSERT_TRUE(store.Configure(options));
  ASSERT_TRUE(store.SelectRange(1000, 0xFFFFFFFFu));
  for (uint32_t i = 0; i < 4; ++i) ASSERT_NE(store.GetFrame(i), nullptr);
  const double ms = 1000.0 / 29.97;
  EXPECT_EQ(script.times, (std::vector<uint32_t>{1000, 1000 + static_cast<uint32_t>(ms),
                                                 1000 + static_cast<uint32_t>(2 * ms),
                                                 1000 + static_cast<uint32_t>(3 * ms)}));
  // A range ending exactly on the end of the track asks for its last readable millisecond.
  ASSERT_TRUE(store.Open(WriteFile("x.bin", "ftypisom0000")));
  options.fps = 25.0;
  script.fps = 25.0;
  ASSERT_TRUE(store.Configure(options));
  ASSERT_TRUE(store.SelectRange(40, 0xFFFFFFFFu));
  ASSERT_EQ(store.RangeFrameCount(), 250u);
  script.times.clear();
  ASSERT_NE(store.GetFrame(249), nullptr);
  EXPECT_EQ(script.times, std::vector<uint32_t>{9999});
}

class FrameStoreCacheTest : public FrameStoreConfigureTest {
 protected:
  void SetUp() override {
    FrameStoreConfigureTest::SetUp();
    options.cacheSize = 4;
    ASSERT_TRUE(store.Configure(options));
    ASSERT_TRUE(store.SelectRange(0, 0xFFFFFFFFu));
  }
  // Asks for the frames in order and returns the output frames that were decoded.
  std::vector<uint32_t> Ask(std::vector<uint32_t> frames) {
    script.times.clear();
    for (uint32_t i : frames) {
      FrameImage* image = store.GetFrame(i);
      EXPECT_NE(image, nullptr);
      if (image != nullptr) {
        // The slot returned holds the frame asked for.
        EXPECT_EQ(image->Row(0)[1], static_cast<uint8_t>((i * 40) & 0xFF)) << i;
      }
    }
    std::vector<uint32_t> decoded;
    for (uint32_t t : script.times) decoded.push_back(t / 40);
    return decoded;
  }
};

TEST_F(FrameStoreCacheTest, RevisitsWithinTheWindowDecodeNothing) {
  // After the jump to 9 the window is 6..9 with only 9 loaded: 8, 7, 6 load into their slots.
  EXPECT_EQ(Ask({0, 1, 1, 2, 0, 3, 4, 2, 5, 9, 8, 7, 6, 9, 7}),
            (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 9, 8, 7, 6}));
}

TEST_F(FrameStoreCacheTest, FrameLeavingTheWindowIsDecodedAgain) {
  EXPECT_EQ(Ask({0, 1, 2, 3, 4, 0}), (std::vector<uint32_t>{0, 1, 2, 3, 4, 0}));
}

TEST_F(FrameStoreCacheTest, BackwardMoveKeepsTheFramesThatStillFit) {
  // Window 10..13; going back to 8 keeps 10 and 11 at the end of the new window 8..11.
  EXPECT_EQ(Ask({10, 11, 12, 13, 8, 10, 11, 9}), (std::vector<uint32_t>{10, 11, 12, 13, 8, 9}));
  // Back past the whole window keeps nothing.
  EXPECT_EQ(Ask({1, 8}), (std::vector<uint32_t>{1, 8}));
  // A jump forward by less than the window keeps the overlap.
  EXPECT_EQ(Ask({2, 3, 4, 6, 3, 4}), (std::vector<uint32_t>{2, 3, 4, 6}));
}

// Decoding ahead must not show: the same frames are decoded once each, in the same order, and
// the window drops the same ones, whether the next frame was prefetched or not.
TEST_F(FrameStoreCacheTest, PrefetchedFramesAreThoseDecodedInPlace) {
  const std::vector<uint32_t> plain = Ask({0, 1, 2, 3, 4, 5, 0});
  store.StartPrefetching();
  ASSERT_TRUE(store.Prefetching());
  script.times.clear();
  for (uint32_t i = 10; i < 16; ++i) {
    FrameImage* image = store.GetFrame(i);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Row(0)[1], static_cast<uint8_t>((i * 40) & 0xFF)) << i;
    store.Prefetch(i + 1);
    store.Prefetch(i + 1);  // asked twice, decoded once
    store.Prefetch(i);      // cached already: nothing to do
  }
  // Drops 16, which was never asked for (its decoding may or may not have begun).
  store.StopPrefetching();
  std::vector<uint32_t> decoded;
  for (uint32_t t : script.times) decoded.push_back(t / 40);
  if (decoded.size() == 7) {
    EXPECT_EQ(decoded.back(), 16u);
  }
  decoded.resize(std::min<std::size_t>(decoded.size(), 6));
  EXPECT_EQ(decoded, (std::vector<uint32_t>{10, 11, 12, 13, 14, 15}));
  // The window holds 12..15 as it would have without decoding ahead: 12 is cached, 11 is not.
  EXPECT_EQ(Ask({12, 11}), (std::vector<uint32_t>{11}));
  EXPECT_EQ(plain, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 0}));

  // A frame that does not decode ahead is no frame, as in place; the next request tries again.
  store.StartPrefetching();
  script.decodes = false;
  store.Prefetch(40);
  EXPECT_EQ(store.GetFrame(40), nullptr);
  script.decodes = true;
  EXPECT_NE(store.GetFrame(40), nullptr);

  // Everything that changes what a frame is stops the thread first.
  store.Prefetch(41);
  ASSERT_TRUE(store.SelectRange(0, 5000));
  EXPECT_FALSE(store.Prefetching());
  store.StartPrefetching();
  ASSERT_TRUE(store.Configure(options));
  EXPECT_FALSE(store.Prefetching());
}

// A run reads only a couple of frames whole: the cache then holds no more than asked, a fresh
// decode for the matching moves nothing, and a new selection brings the whole cache back.
TEST_F(FrameStoreCacheTest, LimitedCacheHoldsOnlyTheFramesAskedFor) {
  store.LimitCache(2);
  EXPECT_EQ(store.HeldFrames(), 2u);
  EXPECT_EQ(store.CacheSize(), 4u) << "the setting keeps bounding the search";
  EXPECT_EQ(Ask({0, 1, 0, 2, 1, 3, 2, 0}), (std::vector<uint32_t>{0, 1, 2, 3, 0}));

  // Window 0..1 now, with 0 in it; a fresh decode of 3 is the frame GetFrame would give and
  // moves nothing.
  script.times.clear();
  const std::unique_ptr<FrameImage> aside = store.DecodeFrame(3);
  ASSERT_NE(aside, nullptr);
  EXPECT_EQ(aside->Row(0)[1], static_cast<uint8_t>(3 * 40));
  EXPECT_EQ(store.DecodeFrame(100000), nullptr);
  EXPECT_EQ(Ask({0, 3}), (std::vector<uint32_t>{3}));

  store.LimitCache(10);
  EXPECT_EQ(store.HeldFrames(), 4u) << "never more than the setting";
  store.LimitCache(1);
  EXPECT_EQ(Ask({5, 6, 5}), (std::vector<uint32_t>{5, 6, 5}));
  ASSERT_TRUE(store.SelectRange(0, 0xFFFFFFFFu));
  EXPECT_EQ(store.HeldFrames(), 4u);
  EXPECT_EQ(Ask({5, 6, 5}), (std::vector<uint32_t>{5, 6}));
}

TEST_F(FrameStoreCacheTest, NothingBeyondTheTrackOrForEmptyVideo) {
  EXPECT_EQ(store.GetFrame(250), nullptr);
  EXPECT_TRUE(script.times.empty());
  script.decodes = false;
  EXPECT_EQ(store.GetFrame(7), nullptr);
  script.decodes = true;
  EXPECT_NE(store.GetFrame(7), nullptr);  // a failed load leaves the slot empty

  ASSERT_TRUE(store.SetEmptyVideo(12, 1000, 400, 300, 12.0));
  EXPECT_EQ(store.GetReaderKind(), ReaderKind::kEmptyVideo);
  ASSERT_TRUE(store.Configure(options));
  ASSERT_TRUE(store.SelectRange(0, 1000));
  EXPECT_EQ(store.OutputWidth(), 400u);
  EXPECT_EQ(store.RangeFrameCount(), 12u);
  EXPECT_EQ(store.RangeStartSample(), 0);
  EXPECT_EQ(store.GetFrame(0), nullptr);
  EXPECT_EQ(store.RenderPreview(0), nullptr);
}

TEST_F(FrameStoreConfigureTest, AppliesFiltersInOrder) {
  // Darken by half before the dark limit: 100 -> 50, which is below 30 % (76.5) and turns
  // black. The other way round the pixel would stay at 50.
  options.resize = -320.0f;
  options.darken = 50.0f;
  options.darkLimit = 30.0f;
  options.lightQuantize = 4;
  ASSERT_TRUE(store.Configure(options));
  ASSERT_TRUE(store.SelectRange(0, 0xFFFFFFFFu));
  FrameImage* image = store.GetFrame(3);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->Width(), 320u);
  EXPECT_EQ(image->Height(), 180u);
  // Black after the dark limit, then quantised to 4 bits: 0x00 -> 0x08.
  EXPECT_EQ(image->Row(0)[0], 0x08);
  EXPECT_EQ(image->Row(0)[1], 128);

  options = FrameOptions{};
  options.darken = 20.0f;  // 100 x 0.8
  ASSERT_TRUE(store.Configure(options));
  ASSERT_TRUE(store.SelectRange(0, 0xFFFFFFFFu));
  ASSERT_NE(store.GetFrame(0), nullptr);
  EXPECT_EQ(store.GetFrame(0)->Row(5)[3 * 5], 80);
}

TEST_F(FrameStoreConfigureTest, RenderPreviewUsesTheGivenOptionsAndLeavesTheCacheAlone) {
  ASSERT_TRUE(store.Configure(options));
  ASSERT_TRUE(store.SelectRange(0, 0xFFFFFFFFu));
  FrameImage* cached = store.GetFrame(0);
  ASSERT_NE(cached, nullptr);
  FrameOptions preview;
  preview.resize = -80.0f;  // straight from the settings: still a width in pixels
  auto picture = store.RenderPreview(400, &preview);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->width, 80u);
  EXPECT_EQ(picture->height, 45u);
  // Y 100, Cb = time low byte (400 & 0xFF = 144), Cr 128, back to R, G, B.
  uint8_t expected[3] = {100, 144, 128};
  YCbCrToRgb(expected, expected);
  EXPECT_EQ(picture->pixels[0], expected[0]);
  EXPECT_EQ(picture->pixels[1], expected[1]);
  EXPECT_EQ(picture->pixels[2], expected[2]);
  EXPECT_EQ(store.GetFrame(0), cached);
  EXPECT_EQ(store.OutputWidth(), 640u);
  auto configured = store.RenderPreview(0);
  ASSERT_NE(configured, nullptr);
  EXPECT_EQ(configured->width, 640u);
}

// A frame abandoned for a cancel is no frame: nothing half filtered stays in the cache to be
// handed out later, nothing more is decoded while the flag stays set, and the preview (never
// cancelled) is not affected.
TEST_F(FrameStoreConfigureTest, CancelledFramesAreNeitherReturnedNorCachedNorDecodedAgain) {
  options.darken = 20.0f;  // 100 x 0.8
  ASSERT_TRUE(store.Configure(options));
  ASSERT_TRUE(store.SelectRange(0, 0xFFFFFFFFu));
  std::atomic<bool> cancel{false};
  store.SetCancelFlag(&cancel);
  script.cancelOnDecode = &cancel;  // the cancel comes once the picture is decoded
  script.times.clear();
  EXPECT_EQ(store.GetFrame(2), nullptr);
  script.cancelOnDecode = nullptr;
  EXPECT_EQ(store.GetFrame(2), nullptr);
  EXPECT_EQ(store.GetFrame(3), nullptr);
  EXPECT_EQ(script.times, std::vector<uint32_t>{80});
  EXPECT_NE(store.RenderPreview(80), nullptr);

  cancel = false;
  script.times.clear();
  FrameImage* frame = store.GetFrame(2);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(script.times, std::vector<uint32_t>{80});  // decoded again, not taken from the cache
  EXPECT_EQ(frame->Row(5)[3 * 5], 80);
  store.SetCancelFlag(nullptr);
}

}  // namespace
}  // namespace quillon
