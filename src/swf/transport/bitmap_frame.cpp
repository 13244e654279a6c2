// The per-frame loops of the bitmap stage over the matching stages' records.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>

#include "match/frame_use_store.h"
#include "match/screen_use_store.h"
#include "swf/transport/bitmap_definitions.h"
#include "swf/transport/worker_pool.h"
#include "video/frame_store.h"

namespace quillon {

namespace {

void ForgetEncodings(FrameUse* use) {
  if (use == nullptr) return;
  for (UseRect& r : use->rects) {
    r.shrunkImage.reset();
    r.payload = nullptr;
  }
}

}  // namespace

void BitmapDefinitions::ClearFrameBitmaps(uint32_t frame) {
  ForgetEncodings(uses_ ? uses_->GetFrameUse(frame) : nullptr);
  bitmaps_.clear();
  encodedPixels_ = 0;
}

bool BitmapDefinitions::EncodeFrameBitmaps(uint32_t frame, uint32_t budget, uint32_t& usedBytes,
                                           const std::function<void()>& alongside) {
  // A frame without new bitmaps is not decoded at all.
  const FrameUse* use = uses_ ? uses_->GetFrameUse(frame) : nullptr;
  const FrameImage* image = use != nullptr && !use->rects.empty() && frames_ != nullptr
                                ? frames_->GetFrame(frame)
                                : nullptr;
  return EncodeFrameBitmaps(frame, image, budget, usedBytes, alongside);
}

bool BitmapDefinitions::EncodeFrameBitmaps(uint32_t frame, const FrameImage* image, uint32_t budget,
                                           uint32_t& usedBytes,
                                           const std::function<void()>& alongside) {
  usedBytes = 0;
  bitmaps_.clear();
  RestartPayloads();
  FrameUse* use = uses_ ? uses_->GetFrameUse(frame) : nullptr;
  if (use == nullptr) {
    lastError = "No use entry for the frame";
    return false;
  }
  if (use->rects.empty()) return true;
  if (image == nullptr) {
    lastError = "Frame not available";
    return false;
  }
  // Which records are drawn only for a frame or so: asked before any thread starts, since the
  // screen store is not to be read from several threads.
  std::vector<uint8_t> transient(use->rects.size(), 0);
  if (screen_ != nullptr) {
    for (std::size_t i = 0; i < transient.size(); ++i) {
      const UseRect& r = use->rects[i];
      transient[i] = screen_->AllTransient(frame, r.x, r.y, r.w, r.h) ? 1 : 0;
    }
  }
  std::vector<FrameBitmap> results(use->rects.size());
  std::size_t accepted = 0;
  uint64_t used = 0;
  const bool encoded =
      EncodeRecords(*image, use->rects, transient, budget, alongside, results, accepted, used);
  for (std::size_t i = 0; i < accepted; ++i) {
    UseRect& r = use->rects[i];
    FrameBitmap& b = results[i];
    r.shrunkImage = std::move(b.shrunk);
    r.encoding = b.encoding;
    r.payload = b.payload;
    r.scaleX = b.scaleX;
    r.scaleY = b.scaleY;
    bitmaps_.push_back(std::move(b));
  }
  nextPayload_ = static_cast<uint32_t>(accepted);
  if (!encoded) return false;
  usedBytes = static_cast<uint32_t>(std::min<uint64_t>(used, UINT32_MAX));
  return true;
}

bool BitmapDefinitions::EncodeRecords(const FrameImage& image, const std::vector<UseRect>& rects,
                                      const std::vector<uint8_t>& transient, uint32_t budget,
                                      const std::function<void()>& alongside,
                                      std::vector<FrameBitmap>& results, std::size_t& accepted,
                                      uint64_t& used) {
  const std::size_t count = rects.size();
  // Work alongside is worth a thread even for a single record.
  const bool shared = count > 1 || (alongside && count > 0);
  if (shared && !pool_) pool_ = std::make_unique<WorkerPool>(threads_);
  const uint32_t threads = shared ? pool_->Threads() : 1;
  while (workspaces_.size() < threads) workspaces_.push_back(std::make_unique<Workspace>());

  // Records are handed out in order; finished ones are taken in order, so the budget stops at
  // the same record as it would one at a time. Records handed out before the stop was known
  // are encoded for nothing and left out.
  enum : uint8_t { kPending, kEncoded, kFailed };
  std::vector<uint8_t> state(count, kPending);
  std::vector<std::string> errors(count);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex order;
  bool failed = false;
  std::string failure;
  accepted = 0;
  used = 0;

  auto job = [&](uint32_t worker) {
    if (worker == 0 && alongside) alongside();
    Workspace& work = *workspaces_[worker];
    while (!stop.load(std::memory_order_relaxed)) {
      // A cancelled run throws the frame away: no record is worth beginning.
      if (CancelRequested(cancel_)) {
        std::lock_guard<std::mutex> lock(order);
        failed = true;
        failure = "The run was cancelled";
        stop.store(true);
        return;
      }
      const std::size_t i = next.fetch_add(1);
      if (i >= count) return;
      bool ok = false;
      if (i < payloads_.size()) {
        const UseRect& r = rects[i];
        ok = EncodeInto(image, static_cast<int32_t>(r.x), static_cast<int32_t>(r.y),
                        static_cast<int32_t>(r.w), static_cast<int32_t>(r.h), transient[i] != 0,
                        payloads_[i], work, results[i]);
        if (!ok) errors[i] = work.error;
      } else {
        errors[i] = "Out of payload buffers";
      }
      std::lock_guard<std::mutex> lock(order);
      state[i] = ok ? kEncoded : kFailed;
      while (!stop.load(std::memory_order_relaxed) && accepted < count &&
             state[accepted] != kPending) {
        if (state[accepted] == kFailed) {
          failed = true;
          failure = errors[accepted];
          stop.store(true);
          break;
        }
        used += results[accepted].payload->Size();
        ++accepted;
        // Once the budget is used up the frame will be refused: the rest need no encoding.
        if (used >= budget) stop.store(true);
      }
    }
  };
  if (threads == 1) {
    job(0);
  } else {
    pool_->Run(job);
  }
  if (failed) lastError = failure;
  return !failed;
}

bool BitmapDefinitions::DefineFrameBitmaps(uint32_t frame, SwfWriter& writer) {
  FrameUse* use = uses_ ? uses_->GetFrameUse(frame) : nullptr;
  if (use == nullptr) {
    lastError = "No use entry for the frame";
    return false;
  }
  if (bitmaps_.size() != use->rects.size()) {
    lastError = "Frame bitmaps not all encoded";
    return false;
  }
  encodedPixels_ = 0;
  for (std::size_t i = 0; i < bitmaps_.size(); ++i) {
    if (!DefineBitmap(writer, static_cast<uint16_t>(use->rects[i].characterId), bitmaps_[i])) {
      return false;
    }
  }
  return true;
}

void BitmapDefinitions::ReleaseFrameBitmaps(uint32_t frame) {
  ForgetEncodings(uses_ ? uses_->GetFrameUse(frame) : nullptr);
  bitmaps_.clear();
}

}  // namespace quillon
