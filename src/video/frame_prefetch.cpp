#include "video/frame_prefetch.h"

#include <new>
#include <system_error>
#include <utility>

namespace quillon {

FramePrefetch::FramePrefetch(Loader loader) : loader_(std::move(loader)) {
  try {
    thread_ = std::thread([this] { Loop(); });
  } catch (const std::system_error&) {
    // Without the thread every frame is decoded where it is asked for: slower, never wrong.
  }
}

FramePrefetch::~FramePrefetch() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void FramePrefetch::Request(uint32_t index) {
  if (!Started()) return;
  std::unique_ptr<FrameImage> dropped;
  {
    std::unique_lock lock(mutex_);
    if (requested_ && index_ == index) return;
    // The thread holds no lock while it loads, so the picture it is making cannot be taken
    // from it: wait for it, then let it go.
    done_.wait(lock, [this] { return !loading_; });
    dropped = std::move(image_);
    requested_ = true;
    loading_ = true;
    index_ = index;
  }
  wake_.notify_one();
}

bool FramePrefetch::Take(uint32_t index, std::unique_ptr<FrameImage>& image) {
  std::unique_lock lock(mutex_);
  if (!requested_ || index_ != index) return false;
  done_.wait(lock, [this] { return !loading_; });
  image = std::move(image_);
  requested_ = false;
  return true;
}

void FramePrefetch::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || loading_; });
    if (stopping_) return;
    const uint32_t index = index_;
    lock.unlock();
    std::unique_ptr<FrameImage> image;
    try {
      image = loader_(index);
    } catch (const std::bad_alloc&) {
      image.reset();  // as a frame that did not decode: the owner's own attempt will say so
    }
    lock.lock();
    image_ = std::move(image);
    loading_ = false;
    done_.notify_all();
  }
}

}  // namespace quillon
