#include "match/frame_use_store.h"

#include <algorithm>
#include <new>

#include "video/frame_store.h"

namespace quillon {

namespace {

constexpr uint32_t kInitialRects = 128;

}  // namespace

FrameUseStore::FrameUseStore() = default;
FrameUseStore::~FrameUseStore() = default;

bool FrameUseStore::Setup(const FrameStore& store) {
  return Setup(store.RangeFrameCount(), store.OutputWidth(), store.OutputHeight(),
               store.GetReaderKind() == ReaderKind::kEmptyVideo);
}

bool FrameUseStore::Setup(uint32_t frameCount, uint32_t width, uint32_t height, bool emptyVideo) {
  Reset();
  cols_ = width == 0 ? 0 : (width - 1) / kCellSize + 1;
  rows_ = height == 0 ? 0 : (height - 1) / kCellSize + 1;
  try {
    frames_.resize(frameCount);
  } catch (const std::bad_alloc&) {
    Reset();
    lastError = "Out of memory";
    return false;
  }
  for (FrameUse& use : frames_) {
    if (!use.grid.Init(cols_, rows_, false)) {
      Reset();
      lastError = "Out of memory";
      return false;
    }
  }
  frameCount_ = frameCount;
  width_ = width;
  height_ = height;
  emptyVideo_ = emptyVideo;
  return true;
}

void FrameUseStore::Reset() {
  std::vector<FrameUse>().swap(frames_);
  frameCount_ = 0;
  width_ = height_ = cols_ = rows_ = 0;
  emptyVideo_ = false;
}

FrameUse* FrameUseStore::GetFrameUse(uint32_t frame) {
  return frame < frameCount_ ? &frames_[frame] : nullptr;
}

const FrameUse* FrameUseStore::GetFrameUse(uint32_t frame) const {
  return frame < frameCount_ ? &frames_[frame] : nullptr;
}

bool FrameUseStore::AddUse(uint32_t frame, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  if (frame >= frameCount_) return false;
  if (w == 0 || h == 0) return true;
  // Widened to whole cells: the rectangle may start inside a cell and end inside another.
  const uint32_t cellW = (w + x % kCellSize - 1) / kCellSize + 1;
  const uint32_t cellH = (h + y % kCellSize - 1) / kCellSize + 1;
  frames_[frame].grid.SetRect(x / kCellSize, y / kCellSize, cellW, cellH, true);
  return true;
}

void FrameUseStore::MarkCells(CellGrid& grid, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                              bool value) {
  if (w == 0 || h == 0) return;
  grid.SetRect(x / kCellSize, y / kCellSize, (w - 1) / kCellSize + 1, (h - 1) / kCellSize + 1,
               value);
}

bool FrameUseStore::PrepareFrame(uint32_t frame) {
  if (frame >= frameCount_) return false;
  FrameUse& use = frames_[frame];
  use.rects.clear();
  if (emptyVideo_) return true;
  try {
    if (use.rects.capacity() == 0) use.rects.reserve(kInitialRects);
    if (!use.grid.CopyTo(work_)) throw std::bad_alloc();
    // Sized here so that the search below cannot stop early for want of memory.
    runScratch_.resize(std::size_t{cols_} * rows_);
    CellGrid::Rect cells;
    while (work_.LargestRect(true, cells, runScratch_)) {
      if (CancelRequested(cancel_)) {
        use.rects.clear();
        lastError = "The run was cancelled";
        return false;
      }
      UseRect& rect = use.rects.emplace_back();
      rect.x = cells.c * kCellSize;
      rect.y = cells.r * kCellSize;
      rect.w =
          static_cast<uint32_t>(std::min<uint64_t>(uint64_t{cells.w} * kCellSize, width_ - rect.x));
      rect.h = static_cast<uint32_t>(
          std::min<uint64_t>(uint64_t{cells.h} * kCellSize, height_ - rect.y));
      work_.SetRect(cells.c, cells.r, cells.w, cells.h, false);
    }
  } catch (const std::bad_alloc&) {
    // A missing rectangle would leave marked cells that FindRect cannot resolve later.
    use.rects.clear();
    lastError = "Out of memory";
    return false;
  }
  return true;
}

UseRect* FrameUseStore::FindRect(uint32_t frame, uint32_t px, uint32_t py) {
  if (emptyVideo_ || frame >= frameCount_) return nullptr;
  for (UseRect& rect : frames_[frame].rects) {
    if (rect.x <= px && px - rect.x < rect.w && rect.y <= py && py - rect.y < rect.h) return &rect;
  }
  return nullptr;
}

}  // namespace quillon
