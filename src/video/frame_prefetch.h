// Decodes the next output frame on a thread of its own while the encoding thread still works
// on the current one, so that decoding and filtering leave the encoding thread's path.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "video/frame_image.h"

namespace quillon {

// One frame in hand at a time. The loader must be safe to call from the prefetch thread while
// its owner goes on (the frame store's LoadFrame reads only the reader, which serialises its own
// decoding, and figures that stay fixed while the prefetcher lives). The thread starts with the
// object and is joined by its destructor, after the load in flight (if any) has finished.
class FramePrefetch {
 public:
  using Loader = std::function<std::unique_ptr<FrameImage>(uint32_t index)>;

  // False from Started() when no thread could be made; Request then does nothing and the
  // caller decodes on its own, as it would without the prefetcher.
  explicit FramePrefetch(Loader loader);
  ~FramePrefetch();
  FramePrefetch(const FramePrefetch&) = delete;
  FramePrefetch& operator=(const FramePrefetch&) = delete;

  bool Started() const { return thread_.joinable(); }
  // Starts loading frame index unless it is the one already in hand; a different frame in
  // hand is waited for and dropped first.
  void Request(uint32_t index);
  // True when index is the frame in hand: waits for its load to finish and moves the picture
  // out (null when it did not decode). False, and image untouched, for any other index.
  bool Take(uint32_t index, std::unique_ptr<FrameImage>& image);

 private:
  void Loop();

  Loader loader_;
  std::mutex mutex_;
  std::condition_variable wake_;  // a request or the end for the thread
  std::condition_variable done_;  // a finished load for the owner
  bool stopping_ = false;
  bool requested_ = false;  // a frame is in hand (loading or loaded, not yet taken)
  bool loading_ = false;    // its load has not finished yet
  uint32_t index_ = 0;
  std::unique_ptr<FrameImage> image_;
  std::thread thread_;  // last: it starts once everything above is in place
};

}  // namespace quillon
