#include "match/cell_grid.h"

#include <algorithm>
#include <new>

namespace quillon {

bool CellGrid::Init(uint32_t cols, uint32_t rows, bool value) {
  const uint32_t bytesPerRow = cols == 0 ? 0 : (cols - 1) / 8 + 1;
  try {
    bits_.assign(std::size_t{rows} * bytesPerRow, value ? 0xFF : 0x00);
  } catch (const std::bad_alloc&) {
    bits_.clear();
    cols_ = rows_ = bytesPerRow_ = 0;
    return false;
  }
  cols_ = rows == 0 ? 0 : cols;
  rows_ = cols == 0 ? 0 : rows;
  bytesPerRow_ = rows == 0 ? 0 : bytesPerRow;
  if (value && cols_ % 8 != 0) {
    // Spare bits stay clear so that whole-byte comparisons of two grids mean what they say.
    const uint8_t lastMask = static_cast<uint8_t>((1u << (cols_ % 8)) - 1);
    for (uint32_t r = 0; r < rows_; ++r)
      bits_[std::size_t{r} * bytesPerRow_ + bytesPerRow_ - 1] = lastMask;
  }
  return true;
}

bool CellGrid::CopyTo(CellGrid& other) const {
  if (&other == this) return true;
  try {
    other.bits_.assign(bits_.begin(), bits_.end());
  } catch (const std::bad_alloc&) {
    return false;
  }
  other.cols_ = cols_;
  other.rows_ = rows_;
  other.bytesPerRow_ = bytesPerRow_;
  return true;
}

void CellGrid::SetRect(uint32_t c, uint32_t r, uint32_t w, uint32_t h, bool value) {
  if (c >= cols_ || r >= rows_) return;
  const uint32_t endC = c + std::min(w, cols_ - c);
  const uint32_t endR = r + std::min(h, rows_ - r);
  for (uint32_t row = r; row < endR; ++row) {
    uint8_t* line = bits_.data() + std::size_t{row} * bytesPerRow_;
    for (uint32_t col = c; col < endC; ++col) {
      const uint8_t bit = static_cast<uint8_t>(1u << (col % 8));
      if (value) {
        line[col / 8] |= bit;
      } else {
        line[col / 8] &= static_cast<uint8_t>(~bit);
      }
    }
  }
}

bool CellGrid::LargestRect(bool value, Rect& out) const {
  std::vector<uint32_t> scratch;
  return LargestRect(value, out, scratch);
}

bool CellGrid::LargestRect(bool value, Rect& out, std::vector<uint32_t>& scratch) const {
  const std::size_t cellCount = std::size_t{cols_} * rows_;
  if (cellCount == 0) return false;
  try {
    scratch.resize(cellCount);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // run[r][c]: cells equal to value from (c, r) rightwards, so that each anchor's row-by-row
  // growth costs one lookup per row instead of a walk along the row. A search repeated while
  // rectangles are cleared meets more and more rows without such a cell: those cost a fill.
  const uint8_t none = value ? 0x00 : 0xFF;
  const uint8_t lastMask =
      cols_ % 8 == 0 ? uint8_t{0xFF} : static_cast<uint8_t>((1u << (cols_ % 8)) - 1);
  for (uint32_t r = 0; r < rows_; ++r) {
    uint32_t* run = scratch.data() + std::size_t{r} * cols_;
    const uint8_t* line = bits_.data() + std::size_t{r} * bytesPerRow_;
    bool any = false;
    for (uint32_t i = 0; i + 1 < bytesPerRow_ && !any; ++i) any = line[i] != none;
    any = any || ((line[bytesPerRow_ - 1] ^ none) & lastMask) != 0;
    if (!any) {
      std::fill(run, run + cols_, 0u);
      continue;
    }
    uint32_t next = 0;
    for (uint32_t c = cols_; c-- > 0;) {
      // Whole bytes without a wanted cell (the last, partial byte never counts as whole).
      if (c % 8 == 7 && line[c / 8] == none) {
        std::fill(run + c - 7, run + c + 1, 0u);
        next = 0;
        c -= 7;
        continue;
      }
      next = Get(c, r) == value ? next + 1 : 0;
      run[c] = next;
    }
  }

  uint64_t bestArea = 0;
  for (uint32_t ar = 0; ar < rows_; ++ar) {
    for (uint32_t ac = 0; ac < cols_; ++ac) {
      // An anchor whose whole remaining grid is no larger cannot win (the first strictly
      // largest wins), so skipping it changes no result.
      if (uint64_t{cols_ - ac} * (rows_ - ar) <= bestArea) break;
      // No rectangle has its corner on an unwanted cell.
      if (scratch[std::size_t{ar} * cols_ + ac] == 0) continue;
      uint32_t limit = cols_;
      uint32_t width = 0;
      uint32_t height = 0;
      for (uint32_t r = ar; r < rows_; ++r) {
        const uint32_t run = std::min(scratch[std::size_t{r} * cols_ + ac], limit - ac);
        if (run == 0) break;
        const uint32_t g = r - ar + 1;
        if (r == ar) {
          width = run;
          height = 1;
          limit = ac + run;
        } else if (run >= width) {
          height = g;
        } else if (uint64_t{height} * width < uint64_t{g} * run) {
          width = run;
          height = g;
          limit = ac + run;
        } else {
          limit = ac + run;
        }
        // Neither the width nor the height can grow past these any more: an anchor that cannot
        // beat the best so far stops here, as it would not have won further down either.
        if (uint64_t{limit - ac} * (rows_ - ar) <= bestArea) break;
      }
      const uint64_t area = uint64_t{width} * height;
      if (area > bestArea) {
        bestArea = area;
        out = Rect{ac, ar, width, height};
        if (width == cols_ && height == rows_) return true;
      }
    }
  }
  return bestArea > 0;
}

}  // namespace quillon
