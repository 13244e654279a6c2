// The video side of an encoding run: opens the movie's video track through a reader, turns the
// frame options into output timing and size, and hands out filtered output frames by index
// from a sliding cache.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "video/frame_image.h"
#include "video/frame_prefetch.h"
#include "video/video_reader.h"

namespace quillon {

struct FrameOptions;

// Calling order: construct, SetWindowHandle / SetReaderMask, Open, Configure, SelectRange, then
// GetFrame for the frames of the range (mostly increasing; earlier frames are asked for again).
// A new Configure or SelectRange may follow between runs. Driven by one thread at a time,
// except RenderPreview, which a preview thread may call concurrently.
class FrameStore {
 public:
  // Makes an unopened reader of one kind, or null when that kind is not offered here. The
  // default factory offers the stream slot (decoded through FFmpeg) only.
  using ReaderFactory = std::function<std::unique_ptr<VideoReader>(ReaderKind)>;

  FrameStore();
  explicit FrameStore(ReaderFactory factory);
  ~FrameStore();
  FrameStore(const FrameStore&) = delete;
  FrameStore& operator=(const FrameStore&) = delete;

  void SetWindowHandle(void* handle) { windowHandle_ = handle; }
  void SetReaderMask(ReaderMask mask) { readerMask_ = mask; }
  ReaderMask GetReaderMask() const { return readerMask_; }

  // Closes the current reader, clears every timing figure and the cache, then tries the allowed
  // readers in turn. Output figures start equal to the source's. False with lastError set.
  [[nodiscard]] bool Open(const std::string& path);
  // A movie without readable video: no reader, GetFrame always null, the given figures as both
  // source and output values. Always true.
  bool SetEmptyVideo(uint32_t frameCount, uint32_t durationMs, uint32_t width, uint32_t height,
                     double fps);
  // Copies the options, fixes output rate, frame count, size and the filter thresholds, and
  // empties the cache. The copy's FPS is overwritten with the rate actually used.
  [[nodiscard]] bool Configure(const FrameOptions& options);
  // Clamps the range to the track, fixes the range's frame count and empties the cache.
  // False when there is no reader (empty video is fine).
  [[nodiscard]] bool SelectRange(uint32_t startMs, uint32_t durationMs);
  // Output frame `index` of the range, filtered; owned by the cache and valid until the cache
  // window moves past it or the next SelectRange / Configure / Open / destruction. Null for
  // empty video, an index beyond the track or a frame that does not decode.
  FrameImage* GetFrame(uint32_t index);
  // While set, a frame being filtered when the flag turns true is abandoned and none is decoded
  // after (GetFrame gives null and caches nothing), so that a cancelled run need not wait for a
  // huge frame. Set by the thread driving the store, for the length of a run; null (the
  // default) never cancels. Previews ignore it.
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  // The filtered frame at `ms` (from the track start) as an R, G, B picture the caller owns, for
  // the settings preview. Uses `options` when given, else the configured copy; touches only the
  // reader, never the cache. Null for empty video or a frame that does not decode.
  std::unique_ptr<RgbPicture> RenderPreview(uint32_t ms, const FrameOptions* options = nullptr) const;

  // Decoding ahead, for the length of a run: while on, Prefetch(index) decodes and filters that
  // frame on a thread of the store's own, and GetFrame(index) takes the picture over instead of
  // decoding it. The cache window still moves only through GetFrame, so the frames kept and
  // the pictures handed out are those of a run without it. StopPrefetching waits for the frame
  // in hand and ends the thread; Open, Configure, SelectRange and destruction stop it too.
  void StartPrefetching();
  void StopPrefetching();
  bool Prefetching() const { return prefetch_ != nullptr; }
  // Does nothing while off, for an index outside the track, or for a frame already cached.
  void Prefetch(uint32_t index);

  // Frame.CacheSize once configured. It bounds how far back a match may look, whatever the
  // cache holds.
  uint32_t CacheSize() const { return cacheSize_; }
  // Frames the cache holds at once from now on: `frames`, at most CacheSize; 0 gives CacheSize
  // again, as do Configure, SelectRange and Open. A run whose earlier frames are read elsewhere
  // needs only the frames it reads whole. Empties the cache when the number changes.
  void LimitCache(uint32_t frames);
  uint32_t HeldFrames() const { return static_cast<uint32_t>(cache_.size()); }
  // Output frame `index` decoded and filtered afresh for the caller, as GetFrame would make it,
  // without touching the cache; null as GetFrame. Safe while decoding ahead.
  std::unique_ptr<FrameImage> DecodeFrame(uint32_t index);
  uint32_t OutputWidth() const { return outputWidth_; }
  uint32_t OutputHeight() const { return outputHeight_; }
  double OutputFps() const { return outputFps_; }
  double MsPerFrame() const { return msPerFrame_; }
  uint32_t OutputFrameCount() const { return outputFrameCount_; }
  uint32_t RangeFrameCount() const { return rangeFrameCount_; }
  uint32_t RangeStartMs() const { return rangeStartMs_; }
  uint32_t RangeDurationMs() const { return rangeDurationMs_; }
  int32_t RangeStartSample() const { return rangeStartSample_; }
  uint32_t SourceWidth() const { return sourceWidth_; }
  uint32_t SourceHeight() const { return sourceHeight_; }
  double SourceFps() const { return sourceFps_; }
  uint32_t SourceDurationMs() const { return sourceDurationMs_; }
  ReaderKind GetReaderKind() const { return readerKind_; }
  // The configured copy of the options, with its derived fields filled in.
  const FrameOptions& Options() const { return *options_; }
  // The open reader (null when none), for figures the store does not mirror.
  const VideoReader* Reader() const { return reader_.get(); }

  std::string lastError;

 private:
  void CloseReader();
  void ClearCache();
  // Decodes output frame i at its source time and applies the filters; null on failure.
  std::unique_ptr<FrameImage> LoadFrame(uint32_t index);

  ReaderFactory factory_;
  ReaderMask readerMask_ = kReaderMaskAll;
  void* windowHandle_ = nullptr;

  uint32_t outputFrameCount_ = 0;
  uint32_t sourceDurationMs_ = 0;
  int32_t rangeStartSample_ = 0;
  uint32_t rangeFrameCount_ = 0;
  uint32_t rangeStartMs_ = 0;
  uint32_t rangeDurationMs_ = 0;
  uint32_t cacheFirst_ = 0;
  uint32_t cacheSize_ = 0;
  // One slot per cached output frame, cacheFirst_ + slot; null for an empty slot. CacheSize
  // slots unless LimitCache asked for fewer.
  std::vector<std::unique_ptr<FrameImage>> cache_;
  double sourceFps_ = 0.0;
  double outputFps_ = 0.0;
  double msPerFrame_ = 0.0;
  ReaderKind readerKind_ = ReaderKind::kNone;
  // Replaced only under readerMutex_, which RenderPreview holds while it uses the reader, so a
  // preview in flight never sees its reader destroyed.
  std::unique_ptr<VideoReader> reader_;
  mutable std::mutex readerMutex_;
  uint32_t sourceWidth_ = 0;
  uint32_t sourceHeight_ = 0;
  uint32_t outputWidth_ = 0;
  uint32_t outputHeight_ = 0;
  std::unique_ptr<FrameOptions> options_;
  const std::atomic<bool>* cancel_ = nullptr;
  // Reads reader_ and the figures above from its own thread: none of them may change while it
  // lives, which is why every operation that changes them stops it first.
  std::unique_ptr<FramePrefetch> prefetch_;
};

}  // namespace quillon
