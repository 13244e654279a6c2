// The Timeline page's picture worker: renders the filtered frame at the latest requested time on
// a thread of its own and hands each finished picture to the window thread.
#pragma once

#include <QImage>
#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "settings/encoder_settings.h"

namespace quillon {

class FrameStore;

// Requests are coalesced: the worker renders only the time asked for last, so a burst of cursor
// moves costs one or two renders. Pictures reach FrameReady on the thread that owns this object
// (the window thread), never painted from the worker.
//
// The store may be read by the encoding thread at the same time: RenderPreview holds the store's
// reader lock and the reader decodes under a lock of its own, and a decode's picture does not
// depend on where the other thread left the decoder.
class FrameThread : public QObject {
  Q_OBJECT
 public:
  explicit FrameThread(QObject* parent = nullptr);
  // Stops the worker; waits at most for the render in flight.
  ~FrameThread() override;
  FrameThread(const FrameThread&) = delete;
  FrameThread& operator=(const FrameThread&) = delete;

  // Points the worker at a movie's frames (null: none) and forgets what it has shown. Returns
  // once the worker no longer uses the previous store (at most one render's wait), so the caller
  // may destroy that store; pictures of the previous store still on their way are dropped.
  void Attach(const FrameStore* store);
  // The filter record of the next renders (the live copy the settings pages push).
  void SetOptions(const FrameOptions& options);
  // Asks for the picture at ms. Without force, a time equal to the last one rendered is not
  // rendered again.
  void Request(uint32_t ms, bool force);

  // Renders started since construction, for tests and measurements.
  uint64_t RenderCount() const;

 signals:
  // A finished picture for `ms`; a null image when the movie has no frame there.
  void FrameReady(const QImage& image, uint32_t ms);
  // Worker to window thread; `generation` names the Attach the picture belongs to.
  void Rendered(const QImage& image, uint32_t ms, quint64 generation, QPrivateSignal);

 private:
  void Run();
  void OnRendered(const QImage& image, uint32_t ms, quint64 generation);

  mutable std::mutex mutex_;
  std::condition_variable wake_;  // a request, an attach or quit
  std::condition_variable idle_;  // a render finished
  const FrameStore* store_ = nullptr;
  FrameOptions options_;
  uint32_t requested_ = 0;
  // The time taken for the last render; -1 makes the next request render whatever its time.
  int64_t lastShown_ = -1;
  bool busy_ = false;
  bool quit_ = false;
  uint64_t renders_ = 0;
  // Counts Attach calls: a picture rendered before the last one is stale.
  quint64 generation_ = 0;
  std::thread worker_;
};

}  // namespace quillon
