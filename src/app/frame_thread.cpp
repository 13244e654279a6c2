#include "app/frame_thread.h"

#include <cstring>
#include <memory>

#include "video/frame_image.h"
#include "video/frame_store.h"

namespace quillon {

namespace {

// The preview's packed R, G, B rows as a QImage (whose rows are 4-byte aligned); null when
// there is no picture or memory runs out.
QImage ToImage(const RgbPicture* picture) {
  if (picture == nullptr || picture->width == 0 || picture->height == 0) return QImage();
  const std::size_t rowBytes = std::size_t{picture->width} * 3;
  if (picture->pixels.size() < rowBytes * picture->height) return QImage();
  QImage image(static_cast<int>(picture->width), static_cast<int>(picture->height),
               QImage::Format_RGB888);
  if (image.isNull()) return image;
  for (uint32_t y = 0; y < picture->height; ++y) {
    std::memcpy(image.scanLine(static_cast<int>(y)), picture->pixels.data() + rowBytes * y,
                rowBytes);
  }
  return image;
}

}  // namespace

FrameThread::FrameThread(QObject* parent) : QObject(parent) {
  // Queued: the worker only posts; the window thread drops pictures of an earlier movie.
  connect(this, &FrameThread::Rendered, this, &FrameThread::OnRendered, Qt::QueuedConnection);
  worker_ = std::thread([this] { Run(); });
}

FrameThread::~FrameThread() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

void FrameThread::Attach(const FrameStore* store) {
  std::unique_lock lock(mutex_);
  store_ = store;
  ++generation_;
  lastShown_ = -1;
  // The render in flight may still be reading the previous store.
  idle_.wait(lock, [this] { return !busy_; });
  lock.unlock();
  wake_.notify_all();
}

void FrameThread::SetOptions(const FrameOptions& options) {
  std::lock_guard lock(mutex_);
  options_ = options;
}

void FrameThread::Request(uint32_t ms, bool force) {
  {
    std::lock_guard lock(mutex_);
    if (force) lastShown_ = -1;
    requested_ = ms;
  }
  wake_.notify_all();
}

uint64_t FrameThread::RenderCount() const {
  std::lock_guard lock(mutex_);
  return renders_;
}

void FrameThread::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(
        lock, [this] { return quit_ || (store_ != nullptr && int64_t{requested_} != lastShown_); });
    if (quit_) return;
    const FrameStore* store = store_;
    const uint32_t ms = requested_;
    const FrameOptions options = options_;
    const quint64 generation = generation_;
    // Taken as shown before rendering: a request for another time (or a forced one) that
    // arrives meanwhile is rendered next.
    lastShown_ = ms;
    busy_ = true;
    ++renders_;
    lock.unlock();

    std::unique_ptr<RgbPicture> picture = store->RenderPreview(ms, &options);
    QImage image = ToImage(picture.get());
    picture.reset();

    lock.lock();
    busy_ = false;
    idle_.notify_all();
    lock.unlock();
    emit Rendered(image, ms, generation, QPrivateSignal());
    lock.lock();
  }
}

void FrameThread::OnRendered(const QImage& image, uint32_t ms, quint64 generation) {
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
  }
  emit FrameReady(image, ms);
}

}  // namespace quillon
