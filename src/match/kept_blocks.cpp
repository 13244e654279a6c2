#include "match/kept_blocks.h"

#include <algorithm>
#include <new>

#include "match/cell_grid.h"
#include "match/frame_use_store.h"

namespace quillon {

KeptBlocks::KeptBlocks() = default;
KeptBlocks::~KeptBlocks() = default;

void KeptBlocks::Setup(uint32_t width, uint32_t height, uint32_t blockWidth, uint32_t blockHeight,
                       uint32_t depth) {
  width_ = width;
  height_ = height;
  blockWidth_ = std::max<uint32_t>(blockWidth, 1);
  blockHeight_ = std::max<uint32_t>(blockHeight, 1);
  cols_ = width == 0 ? 0 : (width - 1) / blockWidth_ + 1;
  rows_ = height == 0 ? 0 : (height - 1) / blockHeight_ + 1;
  slotWidth_ = std::min(blockWidth_, width);
  slotHeight_ = std::min(blockHeight_, height);
  Clear();
  if (cols_ == 0 || rows_ == 0) return;
  try {
    frames_.resize(depth);
    for (Frame& kept : frames_) kept.slotOf.assign(std::size_t{cols_} * rows_, kNoSlot);
  } catch (const std::bad_alloc&) {
    // Nothing kept: every search reads the frames themselves.
    frames_.clear();
  }
}

void KeptBlocks::Clear() {
  frames_.clear();
  frames_.shrink_to_fit();
}

void KeptBlocks::BlockRect(uint32_t i, uint32_t& x, uint32_t& y, uint32_t& w, uint32_t& h) const {
  x = i % cols_ * blockWidth_;
  y = i / cols_ * blockHeight_;
  w = std::min(blockWidth_, width_ - x);
  h = std::min(blockHeight_, height_ - y);
}

bool KeptBlocks::CornerSet(const CellGrid& grid, uint32_t i) const {
  return grid.IsSet(i % cols_ * blockWidth_ / FrameUseStore::kCellSize,
                    i / cols_ * blockHeight_ / FrameUseStore::kCellSize);
}

void KeptBlocks::Release(Frame& kept) {
  std::fill(kept.slotOf.begin(), kept.slotOf.end(), kNoSlot);
  kept.stack.reset();
  kept.sums.clear();
  kept.used = false;
  kept.live = 0;
  kept.slots = 0;
}

void KeptBlocks::Keep(uint32_t frame, const FrameImage& image, const CellGrid& grid,
                      const std::vector<RegionSums>* sums) {
  if (frames_.empty()) return;
  Frame& kept = frames_[frame % frames_.size()];
  Release(kept);
  if (image.Width() != width_ || image.Height() != height_) return;
  const uint32_t blocks = cols_ * rows_;
  if (sums != nullptr && sums->size() != blocks) sums = nullptr;
  uint32_t count = 0;
  for (uint32_t i = 0; i < blocks; ++i) count += CornerSet(grid, i) ? 1 : 0;
  if (count > 0) {
    try {
      kept.stack = std::make_unique<FrameImage>(image.Tag());
    } catch (const std::bad_alloc&) {
      return;
    }
    if (uint64_t{count} * slotHeight_ > UINT32_MAX ||
        !kept.stack->Allocate(slotWidth_, count * slotHeight_)) {
      kept.stack.reset();
      return;
    }
    try {
      kept.sums.resize(count);
    } catch (const std::bad_alloc&) {
      kept.stack.reset();
      return;
    }
    uint32_t slot = 0;
    for (uint32_t i = 0; i < blocks; ++i) {
      if (!CornerSet(grid, i)) continue;
      uint32_t x, y, w, h;
      BlockRect(i, x, y, w, h);
      const auto top = static_cast<int32_t>(slot * slotHeight_);
      (void)kept.stack->CopyRect(0, top, static_cast<int32_t>(w), static_cast<int32_t>(h), image,
                                 static_cast<int32_t>(x), static_cast<int32_t>(y));
      if (sums != nullptr) {
        kept.sums[slot] = (*sums)[i];
      } else {
        // The block lies inside the stack by construction, so the selection cannot fail.
        (void)kept.stack->SelectRegion(0, top, static_cast<int32_t>(w), static_cast<int32_t>(h));
        kept.sums[slot] = kept.stack->RegionChannelSums();
      }
      kept.slotOf[i] = slot++;
    }
  }
  kept.used = true;
  kept.frame = frame;
  kept.live = count;
  kept.slots = count;
}

void KeptBlocks::Prune(const FrameUseStore& uses) {
  for (Frame& kept : frames_) {
    if (!kept.used || kept.live == 0) continue;
    const FrameUse* use = uses.GetFrameUse(kept.frame);
    for (uint32_t i = 0; i < kept.slotOf.size(); ++i) {
      if (kept.slotOf[i] == kNoSlot || (use != nullptr && CornerSet(use->grid, i))) continue;
      kept.slotOf[i] = kNoSlot;
      --kept.live;
    }
    if (kept.live == 0) {
      kept.stack.reset();
      kept.sums.clear();
      kept.slots = 0;
    } else if (4 * (kept.slots - kept.live) >= kept.slots) {
      // A quarter of the rows dead: worth a copy to give them back.
      Compact(kept);
    }
  }
}

void KeptBlocks::Compact(Frame& kept) {
  std::unique_ptr<FrameImage> stack;
  try {
    stack = std::make_unique<FrameImage>(kept.stack->Tag());
  } catch (const std::bad_alloc&) {
    return;
  }
  if (!stack->Allocate(slotWidth_, kept.live * slotHeight_)) return;
  uint32_t slot = 0;
  for (uint32_t i = 0; i < kept.slotOf.size(); ++i) {
    if (kept.slotOf[i] == kNoSlot) continue;
    uint32_t x, y, w, h;
    BlockRect(i, x, y, w, h);
    (void)stack->CopyRect(0, static_cast<int32_t>(slot * slotHeight_), static_cast<int32_t>(w),
                          static_cast<int32_t>(h), *kept.stack, 0,
                          static_cast<int32_t>(kept.slotOf[i] * slotHeight_));
    // Moving down only: a slot's sums never land on a place still to be read.
    kept.sums[slot] = kept.sums[kept.slotOf[i]];
    kept.slotOf[i] = slot++;
  }
  kept.sums.resize(kept.live);
  kept.stack = std::move(stack);
  kept.slots = kept.live;
}

const FrameImage* KeptBlocks::Find(uint32_t frame, uint32_t x, uint32_t y, uint32_t& top,
                                   RegionSums* sums) const {
  if (frames_.empty() || x % blockWidth_ != 0 || y % blockHeight_ != 0) return nullptr;
  const Frame& kept = frames_[frame % frames_.size()];
  const uint32_t c = x / blockWidth_;
  const uint32_t r = y / blockHeight_;
  if (!kept.used || kept.frame != frame || c >= cols_ || r >= rows_) return nullptr;
  const uint32_t slot = kept.slotOf[std::size_t{r} * cols_ + c];
  if (slot == kNoSlot) return nullptr;
  top = slot * slotHeight_;
  if (sums != nullptr) *sums = kept.sums[slot];
  return kept.stack.get();
}

uint32_t KeptBlocks::BlockCount() const {
  uint32_t count = 0;
  for (const Frame& kept : frames_) count += kept.live;
  return count;
}

std::size_t KeptBlocks::ByteSize() const {
  std::size_t bytes = 0;
  for (const Frame& kept : frames_) bytes += kept.stack ? kept.stack->ByteSize() : 0;
  return bytes;
}

}  // namespace quillon
