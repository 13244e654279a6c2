// The readable-end search shared by every reader, against scripted readability.
#include "video/video_reader.h"

#include <gtest/gtest.h>

#include <functional>

#include "video/frame_image.h"

namespace quillon {
namespace {

// 40 ms samples; readability decided by a predicate.
class ScriptedReader : public VideoReader {
 public:
  explicit ScriptedReader(std::function<bool(uint32_t)> readable)
      : readable_(std::move(readable)) {}
  int32_t TimeToSample(uint32_t ms) const override { return static_cast<int32_t>(ms / 40); }
  uint32_t SampleToTime(int32_t sample) const override {
    return static_cast<uint32_t>(sample) * 40;
  }
  bool Open(const std::string&) override { return true; }
  void Close() override {}
  std::unique_ptr<FrameImage> FrameAtSample(int32_t sample) override {
    if (!IsReadableAt(SampleToTime(sample))) return nullptr;
    auto image = std::make_unique<FrameImage>();
    if (!image->Allocate(24, 16)) return nullptr;
    return image;
  }
  std::unique_ptr<FrameImage> FrameAtTime(uint32_t ms) override {
    return FrameAtSample(TimeToSample(ms));
  }
  bool IsReadableAt(uint32_t ms) override {
    ++checks;
    return readable_(ms);
  }
  int checks = 0;

 private:
  std::function<bool(uint32_t)> readable_;
};

TEST(VideoReaderTest, ReadableEndIsTheWholeTrackWhenTheLastMillisecondReads) {
  ScriptedReader reader([](uint32_t ms) { return ms < 10000; });
  EXPECT_EQ(reader.FindReadableEnd(10000), 10000u);
  EXPECT_EQ(reader.checks, 1);
}

TEST(VideoReaderTest, ReadableEndStopsJustAfterTheLastReadableSample) {
  // Readable up to 7999 ms: the search settles on sample 199 (7960 ms) and ends at 7961.
  ScriptedReader reader([](uint32_t ms) { return ms < 8000; });
  EXPECT_EQ(reader.FindReadableEnd(10000), 7961u);
  // Readable only in the first 30 ms: the coarse steps run below 0.
  ScriptedReader early([](uint32_t ms) { return ms < 30; });
  EXPECT_EQ(early.FindReadableEnd(10000), 1u);
}

TEST(VideoReaderTest, ReadableEndIsZeroWhenNothingReads) {
  ScriptedReader reader([](uint32_t) { return false; });
  EXPECT_EQ(reader.FindReadableEnd(10000), 0u);
  EXPECT_EQ(reader.FindReadableEnd(0), 0u);
  uint32_t w = 0;
  uint32_t h = 0;
  EXPECT_FALSE(reader.GetFrameSize(w, h));
}

TEST(VideoReaderTest, FrameSizeComesFromSampleZeroWhenUnknown) {
  ScriptedReader reader([](uint32_t) { return true; });
  uint32_t w = 0;
  uint32_t h = 0;
  ASSERT_TRUE(reader.GetFrameSize(w, h));
  EXPECT_EQ(w, 24u);
  EXPECT_EQ(h, 16u);
}

}  // namespace
}  // namespace quillon
