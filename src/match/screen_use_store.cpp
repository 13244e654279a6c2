#include "match/screen_use_store.h"

#include <new>

#include "video/frame_store.h"

namespace quillon {

namespace {

constexpr uint32_t kInitialRects = 128;

// Flags of ScreenUseStore::inRemovals_.
constexpr uint8_t kListed = 1;
constexpr uint8_t kStillShown = 2;

bool IsNewBitmap(const BlockCell& cell) {
  return cell.kind == BlockKind::kBitmap && cell.subKind == BitmapSource::kNew;
}

// The same area read another way round is another picture, so the mirror flags count too.
bool SameBitmapArea(const BlockCell& a, const BlockCell& b) {
  return a.sourceFrame == b.sourceFrame && a.sourceX == b.sourceX && a.sourceY == b.sourceY &&
         a.mirrorFlags == b.mirrorFlags;
}

}  // namespace

ScreenUseStore::ScreenUseStore() = default;
ScreenUseStore::~ScreenUseStore() = default;

bool ScreenUseStore::Setup(const FrameStore& store, uint32_t blockWidth, uint32_t blockHeight) {
  return Setup(store.RangeFrameCount(), store.OutputWidth(), store.OutputHeight(), blockWidth,
               blockHeight, store.GetReaderKind() == ReaderKind::kEmptyVideo);
}

bool ScreenUseStore::Setup(uint32_t frameCount, uint32_t width, uint32_t height,
                           uint32_t blockWidth, uint32_t blockHeight, bool emptyVideo) {
  Reset();
  if (blockWidth == 0 || blockHeight == 0) {
    lastError = "Block size cannot be 0";
    return false;
  }
  const uint32_t cols = width == 0 ? 0 : (width - 1) / blockWidth + 1;
  const uint32_t rows = height == 0 ? 0 : (height - 1) / blockHeight + 1;
  const uint64_t cellCount = uint64_t{cols} * rows;
  try {
    if (cellCount > UINT32_MAX) throw std::bad_alloc();
    frames_.resize(frameCount);
    for (FrameCells& cells : frames_) cells.cells.resize(cellCount);
    screen_.resize(cellCount);
    removals_.reserve(cellCount);
    inRemovals_.assign(frameCount, 0);
    rects_.reserve(kInitialRects);
  } catch (const std::bad_alloc&) {
    Reset();
    lastError = "Out of memory";
    return false;
  }
  blockWidth_ = blockWidth;
  blockHeight_ = blockHeight;
  cols_ = cols;
  rows_ = rows;
  cellCount_ = static_cast<uint32_t>(cellCount);
  width_ = width;
  height_ = height;
  frameCount_ = frameCount;
  partStart_ = 0;
  emptyVideo_ = emptyVideo;
  return true;
}

void ScreenUseStore::Reset() {
  std::vector<FrameCells>().swap(frames_);
  std::vector<ScreenCell>().swap(screen_);
  std::vector<uint32_t>().swap(removals_);
  std::vector<uint8_t>().swap(inRemovals_);
  std::vector<ScreenRect>().swap(rects_);
  blockWidth_ = blockHeight_ = 0;
  cols_ = rows_ = cellCount_ = 0;
  width_ = height_ = frameCount_ = partStart_ = 0;
  emptyVideo_ = false;
}

bool ScreenUseStore::RecordBlock(uint32_t frame, uint32_t x, uint32_t y,
                                 const MatchResult& result) {
  if (frame >= frameCount_ || blockWidth_ == 0) return false;
  const uint32_t col = x / blockWidth_;
  const uint32_t row = y / blockHeight_;
  if (col >= cols_ || row >= rows_) return false;
  if (result.kind != BlockKind::kBitmap && result.kind != BlockKind::kPlain) return false;

  FrameCells& frameCells = frames_[frame];
  BlockCell& cell = frameCells.cells[std::size_t{row} * cols_ + col];
  // A block recorded again replaces its verdict; the counts follow the replacement.
  if (IsNewBitmap(cell)) --frameCells.newCount;
  if (cell.kind == BlockKind::kPlain) --frameCells.plainCount;

  cell = BlockCell{};
  cell.kind = result.kind;
  if (result.kind == BlockKind::kBitmap) {
    cell.sourceFrame = result.sourceFrame;
    cell.sourceX = result.x;
    cell.sourceY = result.y;
    cell.mirrorFlags = static_cast<uint8_t>(result.mirrorFlags);
    cell.subKind = result.subKind;
    if (cell.subKind == BitmapSource::kNew) ++frameCells.newCount;
  } else {
    cell.colour = result.colour;
    ++frameCells.plainCount;
  }
  return true;
}

void ScreenUseStore::MarkTransient(uint32_t frame) {
  if (frame == 0 || frame >= frameCount_) return;
  std::vector<BlockCell>& before = frames_[frame - 1].cells;
  const std::vector<BlockCell>& now = frames_[frame].cells;
  for (uint32_t i = 0; i < cellCount_; ++i) {
    BlockCell& p = before[i];
    if (!IsNewBitmap(p)) continue;
    const BlockCell& q = now[i];
    const bool shownAgain = q.kind == BlockKind::kBitmap && q.subKind == BitmapSource::kReuse &&
                            q.sourceFrame == frame - 1 && q.sourceX == p.sourceX &&
                            q.sourceY == p.sourceY;
    if (!shownAgain) p.transient = true;
  }
}

bool ScreenUseStore::Diff(uint32_t frame) {
  if (frame >= frameCount_) return false;
  removals_.clear();
  if (emptyVideo_) return true;

  auto listRemoval = [this](uint32_t placed) {
    if (placed < frameCount_ && inRemovals_[placed] == 0) {
      inRemovals_[placed] = kListed;
      removals_.push_back(placed);  // room for cellCount entries was reserved at set-up
    }
  };
  auto place = [frame](BlockCell& p, ScreenCell& q) {
    p.place = p.kind == BlockKind::kBitmap;
    q.shown = p;
    q.placedFrame = frame;
    q.characterId = 0;
    q.changed = true;
  };

  std::vector<BlockCell>& cells = frames_[frame].cells;
  const bool continuing = frame > partStart_;
  for (uint32_t i = 0; i < cellCount_; ++i) {
    BlockCell& p = cells[i];
    ScreenCell& q = screen_[i];
    if (continuing && p.kind == q.shown.kind) {
      bool unchanged = true;
      if (p.kind == BlockKind::kBitmap) {
        unchanged = SameBitmapArea(p, q.shown);
        if (unchanged) p.place = false;
      } else if (p.kind == BlockKind::kPlain) {
        unchanged = p.colour == q.shown.colour;
      }
      if (unchanged) {
        q.changed = false;
      } else {
        listRemoval(q.placedFrame);
        place(p, q);
      }
    } else {
      if (continuing) listRemoval(q.placedFrame);
      place(p, q);
    }
    q.covered = false;
  }

  // A frame stays on the display list while any cell still shows content it placed.
  for (const ScreenCell& q : screen_) {
    if (q.placedFrame < frameCount_ && inRemovals_[q.placedFrame] == kListed) {
      inRemovals_[q.placedFrame] = kStillShown;
    }
  }
  std::size_t kept = 0;
  for (uint32_t f : removals_) {
    if (inRemovals_[f] == kListed) removals_[kept++] = f;
    inRemovals_[f] = 0;
  }
  removals_.resize(kept);
  return true;
}

bool ScreenUseStore::Qualifies(const ScreenCell& anchor, uint32_t anchorCol, uint32_t anchorRow,
                               uint32_t col, uint32_t row) const {
  const ScreenCell& cell = screen_[std::size_t{row} * cols_ + col];
  if (cell.covered || !cell.changed || cell.shown.kind != anchor.shown.kind) return false;
  if (anchor.shown.kind == BlockKind::kPlain) return cell.shown.colour == anchor.shown.colour;
  // A mirrored block is drawn by a fill of its own reading, placed from the block's own edge;
  // along a mirrored axis blocks are never one contiguous piece, so they merge only across it.
  const uint8_t flags = anchor.shown.mirrorFlags;
  if (cell.shown.mirrorFlags != flags) return false;
  if ((flags & MatchResult::kMirrorLeftRight) != 0 && col != anchorCol) return false;
  if ((flags & MatchResult::kMirrorTopBottom) != 0 && row != anchorRow) return false;
  // One contiguous piece of one bitmap: the source moves exactly as the stage position does.
  return cell.characterId == anchor.characterId &&
         uint64_t{cell.shown.sourceX} ==
             uint64_t{anchor.shown.sourceX} + uint64_t{col - anchorCol} * blockWidth_ &&
         uint64_t{cell.shown.sourceY} ==
             uint64_t{anchor.shown.sourceY} + uint64_t{row - anchorRow} * blockHeight_;
}

bool ScreenUseStore::LargestChangedRect(ScreenRect& out) const {
  uint64_t bestArea = 0;
  for (uint32_t ar = 0; ar < rows_; ++ar) {
    const uint32_t ay = ar * blockHeight_;
    for (uint32_t ac = 0; ac < cols_; ++ac) {
      const uint32_t ax = ac * blockWidth_;
      // The rest of the grid from this anchor is no larger than the best: it cannot win.
      if (uint64_t{cols_ - ac} * blockWidth_ * (uint64_t{rows_ - ar} * blockHeight_) <= bestArea) {
        break;
      }
      const ScreenCell& anchor = screen_[std::size_t{ar} * cols_ + ac];
      if (anchor.shown.kind != BlockKind::kBitmap && anchor.shown.kind != BlockKind::kPlain) {
        continue;
      }
      uint64_t limit = width_;
      uint64_t width = 0;
      uint64_t height = 0;
      for (uint32_t r = ar; r < rows_; ++r) {
        uint64_t run = 0;
        for (uint32_t c = ac; c < cols_ && uint64_t{c} * blockWidth_ < limit; ++c) {
          if (!Qualifies(anchor, ac, ar, c, r)) break;
          run += blockWidth_;
        }
        if (run == 0) break;
        if (r == ar) {
          width = run;
          height = blockHeight_;
          limit = ax + run;
          continue;
        }
        const uint64_t g = uint64_t{r + 1} * blockHeight_ - ay;
        if (run >= width) {
          height = g;
        } else if (height * width < g * run) {
          width = run;
          height = g;
          limit = ax + run;
        } else {
          limit = ax + run;
        }
      }
      const uint64_t area = width * height;
      if (area > bestArea) {
        bestArea = area;
        out = ScreenRect{};
        out.x = ax;
        out.y = ay;
        out.w = static_cast<uint32_t>(width);
        out.h = static_cast<uint32_t>(height);
        if (width >= width_ && height >= height_) return true;
      }
    }
  }
  return bestArea > 0;
}

bool ScreenUseStore::NewRects() {
  rects_.clear();
  if (emptyVideo_) return true;
  ScreenRect rect;
  try {
    while (LargestChangedRect(rect)) {
      rects_.push_back(rect);
      const uint32_t c0 = rect.x / blockWidth_;
      const uint32_t r0 = rect.y / blockHeight_;
      const uint32_t c1 = c0 + rect.w / blockWidth_;
      const uint32_t r1 = r0 + rect.h / blockHeight_;
      for (uint32_t r = r0; r < r1 && r < rows_; ++r) {
        for (uint32_t c = c0; c < c1 && c < cols_; ++c) {
          screen_[std::size_t{r} * cols_ + c].covered = true;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    lastError = "Out of memory";
    return false;
  }
  return true;
}

bool ScreenUseStore::AllTransient(uint32_t frame, uint32_t x, uint32_t y, uint32_t w,
                                  uint32_t h) const {
  if (frame >= frameCount_) return false;
  const std::vector<BlockCell>& cells = frames_[frame].cells;
  for (uint64_t py = y; py < uint64_t{y} + h; py += blockHeight_) {
    const uint64_t row = py / blockHeight_;
    if (row >= rows_) break;
    for (uint64_t px = x; px < uint64_t{x} + w; px += blockWidth_) {
      const uint64_t col = px / blockWidth_;
      if (col >= cols_) break;
      const BlockCell& cell = cells[row * cols_ + col];
      if (cell.kind == BlockKind::kBitmap && !cell.transient) return false;
    }
  }
  return true;
}

ScreenCell* ScreenUseStore::GetScreenCell(uint32_t col, uint32_t row) {
  return col < cols_ && row < rows_ ? &screen_[std::size_t{row} * cols_ + col] : nullptr;
}

const ScreenCell* ScreenUseStore::GetScreenCell(uint32_t col, uint32_t row) const {
  return col < cols_ && row < rows_ ? &screen_[std::size_t{row} * cols_ + col] : nullptr;
}

FrameCells* ScreenUseStore::GetFrameCells(uint32_t frame) {
  return frame < frameCount_ ? &frames_[frame] : nullptr;
}

const FrameCells* ScreenUseStore::GetFrameCells(uint32_t frame) const {
  return frame < frameCount_ ? &frames_[frame] : nullptr;
}

}  // namespace quillon
