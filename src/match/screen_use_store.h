// What the Flash stage shows, block by block: the verdicts of every frame, the running screen
// state, and from them the shapes that no longer show anything, the changed areas merged into
// rectangles, and the new bitmaps that lived for one frame only.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "match/match_engine.h"
#include "video/colour.h"

namespace quillon {

class FrameStore;

// The verdict of one block in one frame.
struct BlockCell {
  BlockKind kind = BlockKind::kNone;
  BitmapSource subKind = BitmapSource::kNone;  // kBitmap
  uint8_t mirrorFlags = 0;                     // kBitmap: MatchResult mirror bits
  // kBitmap: a new bitmap of this frame that the next frame does not show unchanged.
  bool transient = false;
  // kBitmap: the Transport must draw this block in this frame.
  bool place = false;
  Colour colour{};           // kPlain
  uint32_t sourceFrame = 0;  // kBitmap
  uint32_t sourceX = 0;      // kBitmap: source rectangle, pixels
  uint32_t sourceY = 0;
};

// The verdicts of one frame, one cell per block in row-major order.
struct FrameCells {
  std::vector<BlockCell> cells;
  uint32_t newCount = 0;    // cells of new bitmaps
  uint32_t plainCount = 0;  // plain-colour cells
};

// One block of the stage.
struct ScreenCell {
  BlockCell shown;           // the verdict whose content is on the stage
  uint32_t placedFrame = 0;  // frame in which that content was placed
  // Written by the Transport for changed bitmap cells; 0 whenever the content changes.
  uint32_t characterId = 0;
  bool covered = false;  // already inside a ScreenRect of this frame
  bool changed = false;  // the content changed in this frame
};

// A rectangle of changed cells to draw with one fill, in pixels (multiples of the block size,
// not cut at the frame edge).
struct ScreenRect {
  uint32_t x = 0;
  uint32_t y = 0;
  uint32_t w = 0;
  uint32_t h = 0;
  std::array<uint32_t, 9> transportWords{};  // the Transport's own
};

// Per frame m: MatchFrame(m) records every block and marks transients; then the Transport calls
// Diff(m), removes the listed frames' shapes, writes character ids into the changed bitmap
// cells, and draws the NewRects. SetPartStart precedes the first Diff of every part.
class ScreenUseStore {
 public:
  ScreenUseStore();
  ~ScreenUseStore();
  ScreenUseStore(const ScreenUseStore&) = delete;
  ScreenUseStore& operator=(const ScreenUseStore&) = delete;

  // Reset, then the block grid over the store's output size and one FrameCells per frame of
  // its range. False (lastError "Out of memory") when memory runs out or a block size is 0.
  [[nodiscard]] bool Setup(const FrameStore& store, uint32_t blockWidth, uint32_t blockHeight);
  // The same from the figures themselves; emptyVideo stands for a store without video.
  [[nodiscard]] bool Setup(uint32_t frameCount, uint32_t width, uint32_t height,
                           uint32_t blockWidth, uint32_t blockHeight, bool emptyVideo = false);
  void Reset();

  // Stores the verdict in the block at pixel (x, y). False for a frame outside the range, a
  // point outside the frame or a verdict without a kind.
  [[nodiscard]] bool RecordBlock(uint32_t frame, uint32_t x, uint32_t y, const MatchResult& result);
  // Marks the new bitmaps of frame - 1 that frame does not show again unchanged.
  void MarkTransient(uint32_t frame);
  void SetPartStart(uint32_t frame) { partStart_ = frame; }
  // Brings the screen up to the frame and fills Removals(). False for a frame outside the range.
  [[nodiscard]] bool Diff(uint32_t frame);
  // Frames none of whose placed content is still on the screen, in the order found.
  const std::vector<uint32_t>& Removals() const { return removals_; }
  // Merges the changed cells of the last Diff into Rects(). False when memory runs out.
  [[nodiscard]] bool NewRects();
  const std::vector<ScreenRect>& Rects() const { return rects_; }
  // True when every bitmap cell of the frame inside the pixel rectangle is transient (plain
  // cells do not count). False for a frame outside the range.
  bool AllTransient(uint32_t frame, uint32_t x, uint32_t y, uint32_t w, uint32_t h) const;

  // The stage cell at column col, row row; null outside the grid.
  ScreenCell* GetScreenCell(uint32_t col, uint32_t row);
  const ScreenCell* GetScreenCell(uint32_t col, uint32_t row) const;
  // Null for a frame outside the range.
  FrameCells* GetFrameCells(uint32_t frame);
  const FrameCells* GetFrameCells(uint32_t frame) const;

  uint32_t BlockWidth() const { return blockWidth_; }
  uint32_t BlockHeight() const { return blockHeight_; }
  uint32_t Cols() const { return cols_; }
  uint32_t Rows() const { return rows_; }
  uint32_t CellCount() const { return cellCount_; }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  uint32_t FrameCount() const { return frameCount_; }
  uint32_t PartStart() const { return partStart_; }

  std::string lastError;

 private:
  // The largest rectangle of changed, uncovered cells showing one colour or one contiguous
  // piece of one bitmap; false when none is left.
  bool LargestChangedRect(ScreenRect& out) const;
  // Whether the cell at (col, row) may join a rectangle anchored at (anchorCol, anchorRow).
  bool Qualifies(const ScreenCell& anchor, uint32_t anchorCol, uint32_t anchorRow, uint32_t col,
                 uint32_t row) const;

  uint32_t blockWidth_ = 0;
  uint32_t blockHeight_ = 0;
  uint32_t cols_ = 0;
  uint32_t rows_ = 0;
  uint32_t cellCount_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t frameCount_ = 0;
  uint32_t partStart_ = 0;
  bool emptyVideo_ = false;
  std::vector<FrameCells> frames_;
  std::vector<ScreenCell> screen_;
  std::vector<uint32_t> removals_;
  // Per frame: 1 while the frame is in removals_ (keeps the "not yet in it" test O(1)).
  std::vector<uint8_t> inRemovals_;
  std::vector<ScreenRect> rects_;
};

}  // namespace quillon
