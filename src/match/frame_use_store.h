// Which areas of every output frame are defined in the movie as bitmaps, on a grid of 8 x 8
// cells, and the bitmap rectangles each frame's marked area is cut into.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "match/cell_grid.h"
#include "video/frame_image.h"

namespace quillon {

class ByteBuffer;
class FrameStore;

// One bitmap rectangle of a frame. The matching stages fill the rectangle and the bookkeeping
// defaults; the Transport owns the rest (character id, use counting, encoding results).
struct UseRect {
  // releaseFrame when the bitmap is not scheduled for release.
  static constexpr uint32_t kNotScheduled = 0x0FFFFFFF;

  uint32_t x = 0;            // word 0: pixels, multiple of 8
  uint32_t y = 0;            // word 1: pixels, multiple of 8
  uint32_t w = 0;            // word 2: pixels, cut at the frame's right edge
  uint32_t h = 0;            // word 3: pixels, cut at the frame's bottom edge
  uint32_t characterId = 0;  // word 4: assigned by the Transport
  // word 5: the halved copy when the Transport shrank the bitmap, else null.
  std::unique_ptr<FrameImage> shrunkImage;
  uint32_t useCount = 0;                  // word 6: references from frames still to be shown
  uint32_t releaseFrame = kNotScheduled;  // word 7: frame after which it may be freed
  uint32_t encoding = 0;                  // word 8: 1 JPEG, 2 ZLIB32, 4 + 256 x palette ZLIB8
  ByteBuffer* payload = nullptr;          // word 9: borrowed for the current frame only
  uint32_t spare = 0;                     // word 10
  float scaleX = 1.0f;                    // word 11: stored width / w
  float scaleY = 1.0f;                    // word 12: stored height / h
};

// The use grid and the bitmap rectangles of one output frame.
struct FrameUse {
  CellGrid grid;
  // Empty until the frame's first PrepareFrame; rebuilt by every PrepareFrame.
  std::vector<UseRect> rects;
};

// Calling order in a run, per output frame m: the MatchEngine's AddUse for every bitmap block,
// then the Transport's PrepareFrame(m), character ids for the UseRect list of m, and FindRect
// for the reused blocks of later frames. Marks are only added by AddUse and only removed by the
// Transport's MarkCells with value false.
class FrameUseStore {
 public:
  static constexpr uint32_t kCellSize = 8;

  FrameUseStore();
  ~FrameUseStore();
  FrameUseStore(const FrameUseStore&) = delete;
  FrameUseStore& operator=(const FrameUseStore&) = delete;

  // Reset, then one FrameUse with a clear grid per frame of the store's range at its output
  // size. False (lastError "Out of memory") when memory runs out.
  [[nodiscard]] bool Setup(const FrameStore& store);
  // The same from the figures themselves; emptyVideo stands for a store without video.
  [[nodiscard]] bool Setup(uint32_t frameCount, uint32_t width, uint32_t height,
                           bool emptyVideo = false);
  void Reset();

  // Null when frame >= FrameCount().
  FrameUse* GetFrameUse(uint32_t frame);
  const FrameUse* GetFrameUse(uint32_t frame) const;

  // Marks the pixel rectangle widened to whole cells. False when frame >= FrameCount().
  [[nodiscard]] bool AddUse(uint32_t frame, uint32_t x, uint32_t y, uint32_t w, uint32_t h);
  // Sets or clears the cells from (x / 8, y / 8), (w - 1) / 8 + 1 cells wide and
  // (h - 1) / 8 + 1 high (nothing for an empty rectangle), clipped to the grid.
  static void MarkCells(CellGrid& grid, uint32_t x, uint32_t y, uint32_t w, uint32_t h, bool value);

  // Cuts the frame's marked area into rectangles (largest first); the grid keeps its marks.
  // False when frame >= FrameCount() or memory runs out (lastError set), and when the cancel
  // flag turns true between two rectangles (the list is then empty). Empty video: an empty
  // list and true.
  [[nodiscard]] bool PrepareFrame(uint32_t frame);
  // Null (the default) never cancels; set for the length of a run, since each rectangle of a
  // huge frame's many is a search over all its cells.
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  // The first rectangle of the frame's list containing the pixel, or null (also for empty video
  // and frames outside the range).
  UseRect* FindRect(uint32_t frame, uint32_t px, uint32_t py);

  uint32_t FrameCount() const { return frameCount_; }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  uint32_t GridCols() const { return cols_; }
  uint32_t GridRows() const { return rows_; }

  std::string lastError;

 private:
  std::vector<FrameUse> frames_;
  uint32_t frameCount_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t cols_ = 0;
  uint32_t rows_ = 0;
  bool emptyVideo_ = false;
  // Reused by PrepareFrame so that cutting a frame does not allocate.
  CellGrid work_;
  std::vector<uint32_t> runScratch_;
  const std::atomic<bool>* cancel_ = nullptr;
};

}  // namespace quillon
