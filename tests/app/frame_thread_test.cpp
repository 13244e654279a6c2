#include "app/frame_thread.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <cstring>
#include <memory>
#include <thread>

#include "frame_test_support.h"
#include "video/frame_store.h"

namespace quillon {
namespace {

using testing::PatternClip;
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

TEST(FrameThreadTest, ABurstOfRequestsRendersTheLastOneAndFewOthers) {
  const std::string clip = PatternClip();
  ASSERT_FALSE(clip.empty());
  FrameStore store;
  ASSERT_TRUE(store.Open(clip));
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
  const std::string clip = PatternClip();
  ASSERT_FALSE(clip.empty());
  FrameThread thread;
  QSignalSpy ready(&thread, &FrameThread::FrameReady);
  for (uint32_t round = 0; round < 12; ++round) {
    auto store = std::make_unique<FrameStore>();
    ASSERT_TRUE(store->Open(clip));
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
  FrameStore last;
  ASSERT_TRUE(last.Open(clip));
  ready.clear();
  thread.Request(2000, true);
  thread.Attach(&last);
  ASSERT_TRUE(WaitForPicture(ready, 2000));
  for (const QList<QVariant>& args : ready) EXPECT_EQ(args.at(1).toUInt(), 2000u);
  EXPECT_FALSE(ready.last().at(0).value<QImage>().isNull());
}

TEST(FrameThreadTest, ClosingWhileRenderingWaitsForTheRender) {
  const std::string clip = PatternClip();
  ASSERT_FALSE(clip.empty());
  for (int round = 0; round < 4; ++round) {
    FrameStore store;
    ASSERT_TRUE(store.Open(clip));
    auto thread = std::make_unique<FrameThread>();
    thread->Attach(&store);
    thread->Request(5000 - round * 1000, true);
    while (thread->RenderCount() == 0) std::this_thread::yield();
    thread.reset();  // joins before the store goes
  }
}

TEST(FrameThreadTest, ATimeWithoutAFrameGivesAnEmptyPicture) {
  const std::string clip = PatternClip();
  ASSERT_FALSE(clip.empty());
  FrameStore store;
  ASSERT_TRUE(store.Open(clip));
  FrameThread thread;
  thread.Attach(&store);
  QSignalSpy ready(&thread, &FrameThread::FrameReady);
  thread.Request(60000, true);
  ASSERT_TRUE(WaitForPicture(ready, 60000));
  EXPECT_TRUE(ready.last().at(0).value<QImage>().isNull());
}

}  // namespace
}  // namespace quillon
