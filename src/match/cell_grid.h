// A bit per 8 x 8-pixel cell: the use grids of the frames and the search for the largest
// rectangle of equal cells that turns a grid into bitmap rectangles.
#pragma once

#include <cstdint>
#include <vector>

namespace quillon {

// Invariant: bits holds rows x bytesPerRow bytes, bytesPerRow = (cols - 1) / 8 + 1 (0 for an
// empty grid); cell (c, r) is bit c % 8 (least significant first) of byte r x bytesPerRow + c / 8.
// The spare bits at the end of each row are kept clear.
class CellGrid {
 public:
  // A rectangle in cells.
  struct Rect {
    uint32_t c = 0;
    uint32_t r = 0;
    uint32_t w = 0;
    uint32_t h = 0;
    bool operator==(const Rect&) const = default;
  };

  // Sizes the grid and sets every cell to value. False (grid emptied) when memory runs out.
  [[nodiscard]] bool Init(uint32_t cols, uint32_t rows, bool value);
  // other becomes a copy of this grid (reusing its storage when large enough).
  [[nodiscard]] bool CopyTo(CellGrid& other) const;
  // Sets or clears the cells of (c, r, w, h), clipped to the grid.
  void SetRect(uint32_t c, uint32_t r, uint32_t w, uint32_t h, bool value);
  bool Get(uint32_t c, uint32_t r) const {
    return (bits_[std::size_t{r} * bytesPerRow_ + c / 8] >> (c % 8)) & 1u;
  }
  // True when (c, r) lies inside the grid and is set.
  bool IsSet(uint32_t c, uint32_t r) const { return c < cols_ && r < rows_ && Get(c, r); }

  // The largest rectangle of cells equal to value, by the anchor scan: anchors in row-major
  // order, each grown row by row (a narrower row either extends a taller, narrower rectangle
  // when that is strictly larger, or ends the widening); the first strictly largest wins and a
  // rectangle covering the whole grid ends the scan. False when no cell equals value.
  // scratch holds per-cell run lengths between calls so that repeated searches do not allocate.
  [[nodiscard]] bool LargestRect(bool value, Rect& out, std::vector<uint32_t>& scratch) const;
  [[nodiscard]] bool LargestRect(bool value, Rect& out) const;

  uint32_t Cols() const { return cols_; }
  uint32_t Rows() const { return rows_; }
  uint32_t BytesPerRow() const { return bytesPerRow_; }
  const uint8_t* Bits() const { return bits_.data(); }

 private:
  uint32_t cols_ = 0;
  uint32_t rows_ = 0;
  uint32_t bytesPerRow_ = 0;
  std::vector<uint8_t> bits_;
};

}  // namespace quillon
