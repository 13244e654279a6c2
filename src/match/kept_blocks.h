// Copies of the blocks of the last frames matched that a later search may still compare with,
// so that the frame cache need not hold those frames whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "video/frame_image.h"

namespace quillon {

class CellGrid;
class FrameUseStore;

// A search reads an earlier frame only at a block of the run's fixed grid, and only where that
// frame's use grid has the block's corner cell set. Cells are set only when a frame is recorded
// (its new bitmaps) or reused (where they are set already), so once a frame is recorded the
// blocks it may be read at can only become fewer: a copy of them taken then serves every later
// search of the frame. Each frame's blocks are stacked in one picture a block wide, one block
// after another, so that a block is an ordinary region of an ordinary image.
//
// Holds the last `depth` frames kept (frame % depth picks the slot); a frame kept again
// replaces its earlier copy.
class KeptBlocks {
 public:
  KeptBlocks();
  ~KeptBlocks();
  KeptBlocks(const KeptBlocks&) = delete;
  KeptBlocks& operator=(const KeptBlocks&) = delete;

  // Empties the store and fixes the block grid of the frames to come; depth 0 keeps nothing.
  void Setup(uint32_t width, uint32_t height, uint32_t blockWidth, uint32_t blockHeight,
             uint32_t depth);
  // Gives every picture back; nothing is kept until the next Setup.
  void Clear();
  // Copies the blocks of `image` whose corner cell is set in `grid`, in place of whatever the
  // frame's slot held. A copy that finds no memory is left out: its blocks read as not kept.
  // `sums`, when it holds one entry per block of the grid (row-major), gives the blocks'
  // channel sums, which are otherwise taken from the copies.
  void Keep(uint32_t frame, const FrameImage& image, const CellGrid& grid,
            const std::vector<RegionSums>* sums = nullptr);
  // Lets go of the kept blocks whose corner cell their frame's use grid no longer has set.
  void Prune(const FrameUseStore& uses);
  // The picture holding frame's block at (x, y), a block position, with the block's first row
  // in `top` (its first column is 0) and, when asked, its channel sums, taken as it was kept;
  // null when the block is not kept.
  const FrameImage* Find(uint32_t frame, uint32_t x, uint32_t y, uint32_t& top,
                         RegionSums* sums = nullptr) const;

  // Blocks held, and the pixel bytes the pictures take (for tests and measurements).
  uint32_t BlockCount() const;
  std::size_t ByteSize() const;

 private:
  static constexpr uint32_t kNoSlot = 0xFFFFFFFF;

  struct Frame {
    bool used = false;
    uint32_t frame = 0;
    uint32_t live = 0;   // blocks still kept
    uint32_t slots = 0;  // blocks the stack has room for; those not live are dead rows
    // Per block of the grid (row-major): its place in the stack, or kNoSlot.
    std::vector<uint32_t> slotOf;
    // Per place in the stack: the block's channel sums, so that a search can bound its
    // difference to a block without reading it.
    std::vector<RegionSums> sums;
    std::unique_ptr<FrameImage> stack;
  };

  // Pixel rectangle of block i of the grid, cut at the frame's edges.
  void BlockRect(uint32_t i, uint32_t& x, uint32_t& y, uint32_t& w, uint32_t& h) const;
  bool CornerSet(const CellGrid& grid, uint32_t i) const;
  // The frame's stack rebuilt with its live blocks only (left as it is without memory).
  void Compact(Frame& kept);
  void Release(Frame& kept);

  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t blockWidth_ = 8;
  uint32_t blockHeight_ = 8;
  uint32_t cols_ = 0;
  uint32_t rows_ = 0;
  uint32_t slotWidth_ = 0;  // a block, cut to the frame when the frame is smaller
  uint32_t slotHeight_ = 0;
  std::vector<Frame> frames_;
};

}  // namespace quillon
