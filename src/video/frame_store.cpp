#include "video/frame_store.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "settings/encoder_settings.h"
#include "video/container_sniffer.h"
#include "video/ffmpeg_video_reader.h"

namespace quillon {

namespace {

constexpr const char* kUnsupportedFormat = "Video source has unsupported or damaged format";
constexpr const char* kDamagedFormat = "Video source has damaged format";
constexpr const char* kZeroCache = "Cache size cannot be set to 0";
constexpr const char* kZeroFps =
    "Cannot have 0 Frames Per Second - that wouldn't be fair to the rest of the world";
constexpr const char* kZeroWidth = "FrameWidth must be greater than 0";
constexpr const char* kOutOfMemory = "Out of memory";

// Whole frames of msPerFrame in a span of ms. 1000 / fps is rounded for most rates (30 fps gives
// 33.333333333333336), so an exact multiple such as 2000 ms at 30 fps divides to 59.99999999999999:
// truncated as it stands, the last frame of the movie would be lost. A millionth of a frame is far
// below anything a whole number of milliseconds can mean.
double WholeFrames(double ms, double msPerFrame) {
  return std::floor(ms / msPerFrame + 1e-6);
}

std::unique_ptr<VideoReader> DefaultReader(ReaderKind kind) {
  if (kind == ReaderKind::kStream) return std::make_unique<FfmpegVideoReader>();
  return nullptr;  // no QuickTime or AVIFile on this platform
}

// Output size and filter thresholds of a record whose resize is already a percentage.
void DeriveFilterFields(FrameOptions& o, uint32_t sourceWidth, uint32_t sourceHeight) {
  o.spanThreshold = static_cast<float>(QualityThreshold(o.uniformSpanLimit, o.signature[0]));
  o.blockThreshold = static_cast<float>(QualityThreshold(o.uniformBlockLimit, o.signature[1]));
  o.darkThreshold = static_cast<float>(o.darkLimit * 0.01 * 255);
  OutputFrameSize(o.resize, sourceWidth, sourceHeight, o.outputWidth, o.outputHeight);
}

// The frame filters in their fixed order. False when resizing runs out of memory (the frame
// would otherwise leave at the wrong size) or when cancel is set before the last pass ends.
bool ApplyFilters(FrameImage& image, const FrameOptions& o, const std::atomic<bool>* cancel) {
  if (o.resize != 100.0f &&
      !image.Resize(o.outputWidth, o.outputHeight, o.resizeMethod == 1 ? 1 : 0, cancel)) {
    return false;
  }
  if ((o.flags & FrameOptions::kUniformSpanHorizontal) &&
      !image.UniformSpanHorizontal(o.spanThreshold, o.uniformSpanSize, cancel)) {
    return false;
  }
  if ((o.flags & FrameOptions::kUniformSpanVertical) &&
      !image.UniformSpanVertical(o.spanThreshold, o.uniformSpanSize, cancel)) {
    return false;
  }
  if ((o.flags & FrameOptions::kUniformBlockHorizontal) &&
      !image.UniformBlockHorizontal(o.blockThreshold, o.uniformBlockSize, cancel)) {
    return false;
  }
  if ((o.flags & FrameOptions::kUniformBlockVertical) &&
      !image.UniformBlockVertical(o.blockThreshold, o.uniformBlockSize, cancel)) {
    return false;
  }
  if (o.darken != 0.0f && !image.Darken(static_cast<float>((100.0 - o.darken) * 0.01), cancel)) {
    return false;
  }
  if (o.darkLimit != 0.0f && !image.DarkLimit(o.darkThreshold, cancel)) return false;
  image.SelectAll();
  if (o.lightQuantize != 8 && !image.Quantise(o.lightQuantize, 0, cancel)) return false;
  if (o.chromaQuantize != 8 &&
      (!image.Quantise(o.chromaQuantize, 1, cancel) ||
       !image.Quantise(o.chromaQuantize, 2, cancel))) {
    return false;
  }
  if (o.smooth != 0.0f) {
    const uint32_t cycles = std::min(o.smoothCycles, kMaxSmoothCycles);
    for (uint32_t cycle = 0; cycle < cycles; ++cycle) {
      const bool done = cycle % 2 == 0 ? image.SmoothForward(o.smooth, cancel)
                                       : image.SmoothBackward(o.smooth, cancel);
      if (!done) return false;
    }
  }
  return true;
}

}  // namespace

FrameStore::FrameStore() : FrameStore(DefaultReader) {}

FrameStore::FrameStore(ReaderFactory factory)
    : factory_(std::move(factory)), options_(std::make_unique<FrameOptions>()) {}

FrameStore::~FrameStore() {
  StopPrefetching();
  ClearCache();
  CloseReader();
}

void FrameStore::CloseReader() {
  std::unique_ptr<VideoReader> old;
  {
    std::lock_guard lock(readerMutex_);
    old = std::move(reader_);
    readerKind_ = ReaderKind::kNone;
  }
  // Destroyed outside the lock: a reader's teardown may take a while.
}

void FrameStore::ClearCache() {
  for (auto& slot : cache_) slot.reset();
  cacheFirst_ = 0;
}

bool FrameStore::Open(const std::string& path) {
  StopPrefetching();
  CloseReader();
  cache_.clear();
  cacheFirst_ = 0;
  cacheSize_ = 0;
  outputFrameCount_ = 0;
  sourceDurationMs_ = 0;
  rangeStartSample_ = 0;
  rangeFrameCount_ = 0;
  rangeStartMs_ = 0;
  rangeDurationMs_ = 0;
  sourceFps_ = 0.0;
  outputFps_ = 0.0;
  msPerFrame_ = 0.0;
  sourceWidth_ = sourceHeight_ = 0;
  outputWidth_ = outputHeight_ = 0;

  const ContainerKind container = SniffContainer(path);
  struct Candidate {
    ReaderKind kind;
    ReaderMask bit;
    bool allowed;
  };
  const Candidate candidates[] = {
      {ReaderKind::kQuickTime, kReaderMaskQuickTime,
       container != ContainerKind::kAvi && container != ContainerKind::kMpeg},
      {ReaderKind::kStream, kReaderMaskStream, true},
      {ReaderKind::kAviFile, kReaderMaskAviFile, true},
  };
  std::unique_ptr<VideoReader> opened;
  ReaderKind openedKind = ReaderKind::kNone;
  std::string failure;
  for (const Candidate& c : candidates) {
    if ((readerMask_ & c.bit) == 0 || !c.allowed) continue;
    std::unique_ptr<VideoReader> reader;
    bool ok = false;
    try {
      reader = factory_ ? factory_(c.kind) : nullptr;
      if (!reader) continue;
      reader->SetWindowHandle(windowHandle_);
      ok = reader->Open(path);
    } catch (...) {
      ok = false;  // a back-end's failure, whatever form it takes, is only this candidate's
    }
    if (ok) {
      opened = std::move(reader);
      openedKind = c.kind;
      break;
    }
    if (reader && !reader->OpenFailure().empty()) failure = reader->OpenFailure();
  }
  if (!opened) {
    lastError = failure.empty() ? kUnsupportedFormat : failure;
    return false;
  }
  uint32_t w = 0;
  uint32_t h = 0;
  if (!opened->GetFrameSize(w, h) || w == 0 || h == 0) {
    lastError = kDamagedFormat;
    return false;
  }
  const VideoReader::Info info = opened->GetInfo();
  {
    std::lock_guard lock(readerMutex_);
    reader_ = std::move(opened);
    readerKind_ = openedKind;
    sourceWidth_ = outputWidth_ = w;
    sourceHeight_ = outputHeight_ = h;
    sourceDurationMs_ = info.durationMs;
    sourceFps_ = outputFps_ = info.fps;
    msPerFrame_ = 1000.0 / info.fps;
  }
  return true;
}

bool FrameStore::SetEmptyVideo(uint32_t frameCount, uint32_t durationMs, uint32_t width,
                               uint32_t height, double fps) {
  StopPrefetching();
  CloseReader();
  ClearCache();
  std::lock_guard lock(readerMutex_);
  readerKind_ = ReaderKind::kEmptyVideo;
  outputFrameCount_ = frameCount;
  sourceDurationMs_ = durationMs;
  sourceWidth_ = outputWidth_ = width;
  sourceHeight_ = outputHeight_ = height;
  sourceFps_ = outputFps_ = fps;
  msPerFrame_ = 1000.0 / fps;
  return true;
}

bool FrameStore::Configure(const FrameOptions& options) {
  StopPrefetching();
  std::lock_guard lock(readerMutex_);
  *options_ = options;
  if (options_->cacheSize == 0) {
    lastError = kZeroCache;
    return false;
  }
  ClearCache();
  try {
    cache_.resize(options_->cacheSize);
  } catch (const std::bad_alloc&) {
    cache_.clear();
    cacheSize_ = 0;
    lastError = kOutOfMemory;
    return false;
  }
  cache_.shrink_to_fit();
  cacheSize_ = options_->cacheSize;

  double rate = 0.0;
  // A source without a rate gives no usable output rate even when an absolute one is asked for.
  if (!OutputFrameRate(options_->fps, sourceFps_, rate) || !(rate > 0.0)) {
    lastError = kZeroFps;
    return false;
  }
  outputFps_ = rate;
  options_->fps = rate;
  msPerFrame_ = 1000.0 / outputFps_;
  const double frames = WholeFrames(sourceDurationMs_, msPerFrame_);
  outputFrameCount_ = frames < 1.0            ? 1
                      : frames > 4294967295.0 ? UINT32_MAX
                                              : static_cast<uint32_t>(frames);

  float percent = 0.0f;
  if (!ResizePercent(options_->resize, sourceWidth_, percent)) {
    lastError = kZeroWidth;
    return false;
  }
  options_->resize = percent;
  DeriveFilterFields(*options_, sourceWidth_, sourceHeight_);
  outputWidth_ = options_->outputWidth;
  outputHeight_ = options_->outputHeight;
  return true;
}

bool FrameStore::SelectRange(uint32_t startMs, uint32_t durationMs) {
  if (!reader_ && readerKind_ != ReaderKind::kEmptyVideo) return false;
  StopPrefetching();
  // The last readable millisecond is duration - 1: a start on or after the end moves there.
  if (startMs >= sourceDurationMs_) startMs = sourceDurationMs_ == 0 ? 0 : sourceDurationMs_ - 1;
  if (uint64_t{startMs} + durationMs > sourceDurationMs_) durationMs = sourceDurationMs_ - startMs;
  rangeStartMs_ = startMs;
  rangeDurationMs_ = durationMs;
  rangeStartSample_ = reader_ ? reader_->TimeToSample(startMs) : 0;
  const double frames = msPerFrame_ > 0.0 ? WholeFrames(durationMs, msPerFrame_) : 0.0;
  const uint64_t count = frames < 4294967295.0 ? static_cast<uint64_t>(frames) + 1 : UINT32_MAX;
  rangeFrameCount_ = static_cast<uint32_t>(std::min<uint64_t>(count, outputFrameCount_));
  ClearCache();
  LimitCache(0);
  return true;
}

void FrameStore::LimitCache(uint32_t frames) {
  const uint32_t held = frames == 0 ? cacheSize_ : std::min(frames, cacheSize_);
  if (held == cache_.size()) return;
  ClearCache();
  // Shrinking never throws; growing back may, and then leaves the smaller cache in place.
  try {
    cache_.resize(held);
  } catch (const std::bad_alloc&) {
  }
  cache_.shrink_to_fit();
}

std::unique_ptr<FrameImage> FrameStore::DecodeFrame(uint32_t index) {
  if (readerKind_ == ReaderKind::kEmptyVideo || index >= outputFrameCount_) return nullptr;
  try {
    return LoadFrame(index);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

FrameImage* FrameStore::GetFrame(uint32_t index) {
  if (readerKind_ == ReaderKind::kEmptyVideo || index >= outputFrameCount_) return nullptr;
  const uint32_t n = static_cast<uint32_t>(cache_.size());
  if (n == 0) return nullptr;
  const uint64_t c = cacheFirst_;
  const uint64_t i = index;
  std::size_t slot = 0;
  if (i >= c && i < c + n) {
    slot = static_cast<std::size_t>(i - c);
  } else if (i >= c + n) {
    // Forward: frames that fall out of the window are dropped from the front.
    const uint64_t first = i - n + 1;
    const std::size_t k = static_cast<std::size_t>(std::min<uint64_t>(first - c, n));
    for (std::size_t s = 0; s < k; ++s) cache_[s].reset();
    std::rotate(cache_.begin(), cache_.begin() + static_cast<std::ptrdiff_t>(k), cache_.end());
    cacheFirst_ = static_cast<uint32_t>(first);
    slot = n - 1;
  } else {
    // Backward: the old frames that still fit move to the end of the window.
    const std::size_t m = c < i + n ? static_cast<std::size_t>(i + n - c) : 0;
    for (std::size_t s = m; s < n; ++s) cache_[s].reset();
    std::rotate(cache_.begin(), cache_.begin() + static_cast<std::ptrdiff_t>(m), cache_.end());
    cacheFirst_ = index;
    slot = 0;
  }
  if (!cache_[slot] && !(prefetch_ && prefetch_->Take(index, cache_[slot]))) {
    cache_[slot] = LoadFrame(index);
  }
  return cache_[slot].get();
}

void FrameStore::StartPrefetching() {
  StopPrefetching();
  if (!reader_ || readerKind_ == ReaderKind::kEmptyVideo) return;
  prefetch_ = std::make_unique<FramePrefetch>([this](uint32_t index) { return LoadFrame(index); });
  if (!prefetch_->Started()) prefetch_.reset();
}

void FrameStore::StopPrefetching() {
  prefetch_.reset();
}

void FrameStore::Prefetch(uint32_t index) {
  if (!prefetch_ || index >= outputFrameCount_ || cache_.empty()) return;
  if (index >= cacheFirst_ && index - cacheFirst_ < cache_.size() && cache_[index - cacheFirst_]) {
    return;
  }
  prefetch_->Request(index);
}

std::unique_ptr<FrameImage> FrameStore::LoadFrame(uint32_t index) {
  // Once the run is cancelled nothing more is decoded: a stage asking again for a frame it was
  // just refused would otherwise decode a huge picture only to throw it away.
  if (!reader_ || CancelRequested(cancel_)) return nullptr;
  const double offset = std::min(index * msPerFrame_, 4294967295.0);
  uint64_t t = static_cast<uint64_t>(offset) + rangeStartMs_;
  // A range whose length is a whole number of frames puts its last frame exactly on the end
  // of the track, which no reader can decode: it shows the last readable picture instead.
  if (sourceDurationMs_ > 0 && t >= sourceDurationMs_) t = sourceDurationMs_ - 1;
  std::unique_ptr<FrameImage> image = reader_->FrameAtTime(static_cast<uint32_t>(t));
  if (!image || !ApplyFilters(*image, *options_, cancel_)) return nullptr;
  return image;
}

std::unique_ptr<RgbPicture> FrameStore::RenderPreview(uint32_t ms,
                                                      const FrameOptions* options) const {
  std::lock_guard lock(readerMutex_);
  if (!reader_ || readerKind_ == ReaderKind::kEmptyVideo) return nullptr;
  try {
    FrameOptions o = options != nullptr ? *options : *options_;
    // A record straight from the settings may still hold a width in pixels.
    float percent = 0.0f;
    if (!ResizePercent(o.resize, sourceWidth_, percent)) return nullptr;
    o.resize = percent;
    DeriveFilterFields(o, sourceWidth_, sourceHeight_);
    std::unique_ptr<FrameImage> image = reader_->FrameAtTime(ms);
    if (!image || !ApplyFilters(*image, o, nullptr)) return nullptr;
    return image->ExportRgb(false);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace quillon
