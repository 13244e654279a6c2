// The per-frame loops of the bitmap stage over the matching stages' records.
#include <algorithm>

#include "match/frame_use_store.h"
#include "match/screen_use_store.h"
#include "swf/transport/bitmap_definitions.h"
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

bool BitmapDefinitions::EncodeFrameBitmaps(uint32_t frame, uint32_t budget, uint32_t& usedBytes) {
  // A frame without new bitmaps is not decoded at all.
  const FrameUse* use = uses_ ? uses_->GetFrameUse(frame) : nullptr;
  const FrameImage* image = use != nullptr && !use->rects.empty() && frames_ != nullptr
                                ? frames_->GetFrame(frame)
                                : nullptr;
  return EncodeFrameBitmaps(frame, image, budget, usedBytes);
}

bool BitmapDefinitions::EncodeFrameBitmaps(uint32_t frame, const FrameImage* image, uint32_t budget,
                                           uint32_t& usedBytes) {
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
  uint64_t used = 0;
  for (UseRect& r : use->rects) {
    const bool transient = screen_ != nullptr && screen_->AllTransient(frame, r.x, r.y, r.w, r.h);
    FrameBitmap b;
    if (!EncodeBitmap(*image, static_cast<int32_t>(r.x), static_cast<int32_t>(r.y),
                      static_cast<int32_t>(r.w), static_cast<int32_t>(r.h), transient, b)) {
      return false;
    }
    r.shrunkImage = std::move(b.shrunk);
    r.encoding = b.encoding;
    r.payload = b.payload;
    r.scaleX = b.scaleX;
    r.scaleY = b.scaleY;
    used += b.payload->Size();
    bitmaps_.push_back(std::move(b));
    // Once the budget is used up the frame will be refused: the rest need no encoding.
    if (used >= budget) break;
  }
  usedBytes = static_cast<uint32_t>(std::min<uint64_t>(used, UINT32_MAX));
  return true;
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
