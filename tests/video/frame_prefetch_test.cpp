// The decoding-ahead thread: which frame it hands over, and that none of its work outlives it.
#include "video/frame_prefetch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace quillon {
namespace {

// A picture whose first byte names the frame it was made for.
std::unique_ptr<FrameImage> Marked(uint32_t index) {
  auto image = std::make_unique<FrameImage>();
  if (!image->Allocate(2, 2, Colour{static_cast<uint8_t>(index), 0, 0})) return nullptr;
  return image;
}

TEST(FramePrefetchTest, HandsOverOnlyTheFrameInHandAndOnlyOnce) {
  std::mutex mutex;
  std::vector<uint32_t> loaded;
  FramePrefetch prefetch([&](uint32_t index) {
    std::lock_guard lock(mutex);
    loaded.push_back(index);
    return index == 9 ? nullptr : Marked(index);
  });
  ASSERT_TRUE(prefetch.Started());

  std::unique_ptr<FrameImage> image;
  EXPECT_FALSE(prefetch.Take(5, image));  // nothing asked for yet
  prefetch.Request(5);
  prefetch.Request(5);
  EXPECT_FALSE(prefetch.Take(4, image));
  EXPECT_EQ(image, nullptr);
  ASSERT_TRUE(prefetch.Take(5, image));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->Row(0)[0], 5);
  EXPECT_FALSE(prefetch.Take(5, image));  // handed over already

  // A new request drops the frame in hand, loaded or not.
  prefetch.Request(6);
  prefetch.Request(7);
  EXPECT_FALSE(prefetch.Take(6, image));
  ASSERT_TRUE(prefetch.Take(7, image));
  EXPECT_EQ(image->Row(0)[0], 7);

  // A frame that did not decode is handed over as none.
  prefetch.Request(9);
  ASSERT_TRUE(prefetch.Take(9, image));
  EXPECT_EQ(image, nullptr);

  std::lock_guard lock(mutex);
  EXPECT_EQ(loaded, (std::vector<uint32_t>{5, 6, 7, 9}));
}

TEST(FramePrefetchTest, DestructionWaitsForTheLoadInFlight) {
  std::mutex mutex;
  std::condition_variable changed;
  bool started = false;
  bool release = false;
  std::atomic<bool> finished{false};
  {
    FramePrefetch prefetch([&](uint32_t index) {
      std::unique_lock lock(mutex);
      started = true;
      changed.notify_all();
      changed.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
      auto image = Marked(index);
      finished = true;
      return image;
    });
    prefetch.Request(3);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return started; }));
    release = true;
    changed.notify_all();
    // Destroyed with the picture still in the making and never taken.
  }
  EXPECT_TRUE(finished);
}

}  // namespace
}  // namespace quillon
