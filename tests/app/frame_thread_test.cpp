#include "app/frame_thread.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <thread>

#include "frame_test_support.h"
#include "video/frame_image.h"
#include "video/frame_store.h"
#include "video/video_reader.h"

namespace quillon {
namespace {

using testing::OpenPatternStore;
using testing::WaitForPicture;

bool SamePixels(const QImage& image, const RgbPicture& picture) {
  if (image.width() != int(picture.width) || image.height() != int(picture.height)) return false;
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  for (int y = 0; y < rgb.height(); ++y) {
    if (std::memcmp(rgb.constScanLine(y),
                    picture.pixels.data() + std::size_t(y) * picture.width * 3,
                    std::size_t(picture.width) * 3) != 0) {
      return false;
    }
  }
  return true;
}

// A reader whose decodes wait at a gate the test opens, so that a render can be held in flight.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int waiting = 0;
  std::vector<uint32_t> times;  // every decoded time, in order
  std::atomic<bool> decodeEnded{false};

  void Open() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
  bool WaitUntilWaiting() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [this] { return waiting > 0; });
  }
};

class GatedReader : public VideoReader {
 public:
  explicit GatedReader(Gate& gate) : gate_(gate) {}
  int32_t TimeToSample(uint32_t ms) const override { return static_cast<int32_t>(ms / 40); }
  uint32_t SampleToTime(int32_t sample) const override {
    return static_cast<uint32_t>(sample) * 40;
  }
  bool Open(const std::string&) override {
    fps = 25.0;
    durationMs = 10000;
    msPerSample = 40;
    frameCount = 250;
    width = 32;
    height = 24;
    return true;
  }
  void Close() override {}
  std::unique_ptr<FrameImage> FrameAtSample(int32_t sample) override {
    return FrameAtTime(SampleToTime(sample));
  }
  std::unique_ptr<FrameImage> FrameAtTime(uint32_t ms) override {
    {
      std::unique_lock lock(gate_.mutex);
      gate_.times.push_back(ms);
      ++gate_.waiting;
      gate_.changed.notify_all();
      gate_.changed.wait_for(lock, std::chrono::seconds(10), [this] { return gate_.open; });
      --gate_.waiting;
    }
    auto image = std::make_unique<FrameImage>();
    if (!image->Allocate(32, 24, Colour{100, 128, 128})) return nullptr;
    gate_.decodeEnded = true;
    return image;
  }
  bool IsReadableAt(uint32_t ms) override { return ms < durationMs; }

 private:
  Gate& gate_;
};

std::unique_ptr<FrameStore> GatedStore(Gate& gate) {
  auto store = std::make_unique<FrameStore>([&gate](ReaderKind) -> std::unique_ptr<VideoReader> {
    return std::make_unique<GatedReader>(gate);
  });
  return store->Open("gated") ? std::move(store) : nullptr;
}

// A worker attached to a gated store, held inside the render of its first request.
class GatedFrameThreadTest : public ::testing::Test {
 protected:
  void HoldRenderAt(uint32_t ms) {
    store = GatedStore(gate);
    ASSERT_NE(store, nullptr);
    thread.Attach(store.get());
    thread.Request(ms, true);
    ASSERT_TRUE(gate.WaitUntilWaiting());
  }
  Gate gate;
  std::unique_ptr<FrameStore> store;
  FrameThread thread;
  QSignalSpy ready{&thread, &FrameThread::FrameReady};
};

TEST_F(GatedFrameThreadTest, RequestsDuringARenderCollapseIntoTheLastOne) {
  HoldRenderAt(0);
  for (uint32_t i = 1; i < 100; ++i) thread.Request(i * 40, false);
  gate.Open();
  ASSERT_TRUE(WaitForPicture(ready, 99 * 40));
  EXPECT_EQ(thread.RenderCount(), 2u);
  std::lock_guard lock(gate.mutex);
  EXPECT_EQ(gate.times, (std::vector<uint32_t>{0, 99 * 40}));
}

TEST_F(GatedFrameThreadTest, DetachReturnsOnlyAfterTheRenderInFlight) {
  HoldRenderAt(1000);
  std::atomic<bool> detaching{false};
  bool renderEndedFirst = false;
  std::thread detacher([&] {
    detaching = true;
    thread.Attach(nullptr);
    renderEndedFirst = gate.decodeEnded;
  });
  while (!detaching) std::this_thread::yield();
  // Gives a detach that does not wait the time to come back before the render ends.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  gate.Open();
  detacher.join();
  EXPECT_TRUE(renderEndedFirst);
  store.reset();
}

TEST(FrameThreadTest, ABurstOfRequestsRendersTheLastOneAndFewOthers) {
  auto opened = OpenPatternStore();
  ASSERT_NE(opened, nullptr);
  FrameStore& store = *opened;
  FrameOptions options;
  options.resize = 50.0f;
  options.smooth = 40.0f;
  options.smoothCycles = 2;
  FrameThread thread;
  thread.SetOptions(options);
  thread.Attach(&store);
  QSignalSpy ready(&thread, &FrameThread::FrameReady);
  for (uint32_t i = 0; i < 100; ++i) thread.Request(i * 40, false);
  ASSERT_TRUE(WaitForPicture(ready, 99 * 40));
  EXPECT_LE(thread.RenderCount(), 10u);
  EXPECT_EQ(ready.count(), static_cast<int>(thread.RenderCount()));

  // The picture is the store's own preview with the page's options.
  const QImage last = ready.last().at(0).value<QImage>();
  const auto expected = store.RenderPreview(99 * 40, &options);
  ASSERT_NE(expected, nullptr);
  EXPECT_EQ(last.width(), 80);
  EXPECT_TRUE(SamePixels(last, *expected));

  // The same time again is not rendered again unless forced.
  const uint64_t renders = thread.RenderCount();
  thread.Request(99 * 40, false);
  thread.Request(99 * 40, true);
  ready.clear();
  ASSERT_TRUE(WaitForPicture(ready, 99 * 40));
  EXPECT_EQ(thread.RenderCount(), renders + 1);
}

TEST(FrameThreadTest, DetachingStopsReadingTheStoreAndDropsItsPictures) {
  FrameThread thread;
  QSignalSpy ready(&thread, &FrameThread::FrameReady);
  for (uint32_t round = 0; round < 12; ++round) {
    auto store = OpenPatternStore();
    ASSERT_NE(store, nullptr);
    const uint64_t before = thread.RenderCount();
    thread.Attach(store.get());
    // Far back and forth in the file: every render seeks.
    thread.Request(round % 2 == 0 ? 5900 : 100 + round * 40, true);
    // Half the rounds detach while the render is certainly under way.
    while (round % 2 == 1 && thread.RenderCount() == before) std::this_thread::yield();
    thread.Attach(nullptr);
    store.reset();  // a render still reading it would be a use after free
  }
  // Pictures of the stores now gone never reach the page, even those posted before detaching.
  auto last = OpenPatternStore();
  ASSERT_NE(last, nullptr);
  ready.clear();
  thread.Request(2000, true);
  thread.Attach(last.get());
  ASSERT_TRUE(WaitForPicture(ready, 2000));
  for (const QList<QVariant>& args : ready) EXPECT_EQ(args.at(1).toUInt(), 2000u);
  EXPECT_FALSE(ready.last().at(0).value<QImage>().isNull());
}

TEST(FrameThreadTest, ClosingWhileRenderingWaitsForTheRender) {
  for (int round = 0; round < 4; ++round) {
    auto store = OpenPatternStore();
    ASSERT_NE(store, nullptr);
    auto thread = std::make_unique<FrameThread>();
    thread->Attach(store.get());
    thread->Request(5000 - round * 1000, true);
    while (thread->RenderCount() == 0) std::this_thread::yield();
    thread.reset();  // joins before the store goes
  }
}

TEST(FrameThreadTest, ATimeWithoutAFrameGivesAnEmptyPicture) {
  auto opened = OpenPatternStore();
  ASSERT_NE(opened, nullptr);
  FrameStore& store = *opened;
  FrameThread thread;
  thread.Attach(&store);
  QSignalSpy ready(&thread, &FrameThread::FrameReady);
  thread.Request(60000, true);
  ASSERT_TRUE(WaitForPicture(ready, 60000));
  EXPECT_TRUE(ready.last().at(0).value<QImage>().isNull());
}

}  // namespace
}  // namespace quillon
