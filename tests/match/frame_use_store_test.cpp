#include "match/frame_use_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <vector>

#include "match/cell_grid.h"

namespace quillon {
namespace {

std::vector<CellGrid::Rect> CellsOf(const FrameUse& use) {
  std::vector<CellGrid::Rect> out;
  for (const UseRect& r : use.rects) out.push_back({r.x, r.y, r.w, r.h});
  return out;
}

TEST(CellGridTest, LargestRectTakesTheTallerNarrowerShapeOnlyWhenStrictlyLarger) {
  CellGrid grid;
  ASSERT_TRUE(grid.Init(5, 4, false));
  // From anchor (0, 0): 2 x 1, then rows of width 1 until 1 x 3 beats it.
  grid.SetRect(0, 0, 2, 1, true);
  grid.SetRect(0, 1, 1, 2, true);
  CellGrid::Rect rect;
  ASSERT_TRUE(grid.LargestRect(true, rect));
  EXPECT_EQ(rect, (CellGrid::Rect{0, 0, 1, 3}));

  // A narrower row that does not pay off narrows the limit for the rows below it: the wide
  // row 2 cannot widen the rectangle again.
  ASSERT_TRUE(grid.Init(5, 4, false));
  grid.SetRect(0, 0, 4, 1, true);
  grid.SetRect(0, 1, 1, 1, true);
  grid.SetRect(0, 2, 4, 1, true);
  ASSERT_TRUE(grid.LargestRect(true, rect));
  EXPECT_EQ(rect, (CellGrid::Rect{0, 0, 4, 1}));
}

TEST(CellGridTest, LargestRectOfClearCellsAndOfNothing) {
  CellGrid grid;
  ASSERT_TRUE(grid.Init(9, 2, true));  // spans two bytes per row
  grid.SetRect(8, 1, 5, 5, false);     // clipped to the one last cell
  CellGrid::Rect rect;
  ASSERT_TRUE(grid.LargestRect(false, rect));
  EXPECT_EQ(rect, (CellGrid::Rect{8, 1, 1, 1}));
  ASSERT_TRUE(grid.LargestRect(true, rect));
  EXPECT_EQ(rect, (CellGrid::Rect{0, 0, 8, 2}));
  grid.SetRect(0, 0, 9, 2, false);
  EXPECT_FALSE(grid.LargestRect(true, rect));
}

// The anchor scan as first written, without its shortcuts: the search must give the same
// rectangle on any grid, as the rectangles decide the output.
CellGrid::Rect PlainLargestRect(const CellGrid& grid, bool value) {
  CellGrid::Rect best{0, 0, 0, 0};
  uint64_t bestArea = 0;
  for (uint32_t ar = 0; ar < grid.Rows(); ++ar) {
    for (uint32_t ac = 0; ac < grid.Cols(); ++ac) {
      uint32_t limit = grid.Cols(), width = 0, height = 0;
      for (uint32_t r = ar; r < grid.Rows(); ++r) {
        uint32_t run = 0;
        while (ac + run < limit && grid.Get(ac + run, r) == value) ++run;
        if (run == 0) break;
        const uint32_t g = r - ar + 1;
        if (r == ar) {
          width = run, height = 1;
        } else if (run >= width) {
          height = g;
        } else if (uint64_t{height} * width < uint64_t{g} * run) {
          width = run, height = g;
        }
        limit = ac + std::min(run, width);
      }
      if (uint64_t{width} * height > bestArea) {
        bestArea = uint64_t{width} * height;
        best = CellGrid::Rect{ac, ar, width, height};
      }
    }
  }
  return best;
}

TEST(CellGridTest, LargestRectAgreesWithThePlainScanWhileRectanglesAreCleared) {
  std::mt19937 random(2026);
  for (uint32_t round = 0; round < 60; ++round) {
    const uint32_t cols = 1 + random() % 70, rows = 1 + random() % 30;
    CellGrid grid;
    ASSERT_TRUE(grid.Init(cols, rows, false));
    // Blobs of marks over sparse noise, the shapes a frame's changes leave, wide enough to fill
    // whole bytes of the grid.
    for (uint32_t i = 0; i < 6; ++i) {
      grid.SetRect(random() % cols, random() % rows, 1 + random() % 24, 1 + random() % 9, true);
    }
    for (uint32_t i = 0; i < cols * rows / 10; ++i) {
      grid.SetRect(random() % cols, random() % rows, 1, 1, round % 2 == 0);
    }
    const bool value = round % 3 != 2;
    std::vector<uint32_t> scratch;
    CellGrid::Rect rect;
    while (grid.LargestRect(value, rect, scratch)) {
      ASSERT_EQ(rect, PlainLargestRect(grid, value)) << cols << "x" << rows << " round " << round;
      grid.SetRect(rect.c, rect.r, rect.w, rect.h, !value);
    }
    ASSERT_EQ(PlainLargestRect(grid, value).w, 0u);
  }
}

class FrameUseStoreTest : public ::testing::Test {
 protected:
  FrameUseStore store;
};

TEST_F(FrameUseStoreTest, AddUseWidensToWholeCells) {
  ASSERT_TRUE(store.Setup(2, 64, 32));
  ASSERT_TRUE(store.AddUse(0, 13, 5, 10, 3));  // pixels (13, 5)-(23, 8) -> cells (1, 0), (2, 0)
  const CellGrid& grid = store.GetFrameUse(0)->grid;
  for (uint32_t r = 0; r < grid.Rows(); ++r) {
    for (uint32_t c = 0; c < grid.Cols(); ++c) {
      EXPECT_EQ(grid.Get(c, r), r == 0 && (c == 1 || c == 2)) << c << "," << r;
    }
  }
  ASSERT_TRUE(store.PrepareFrame(0));
  EXPECT_EQ(CellsOf(*store.GetFrameUse(0)), (std::vector<CellGrid::Rect>{{8, 0, 16, 8}}));
  EXPECT_FALSE(store.AddUse(2, 0, 0, 8, 8));
  EXPECT_FALSE(store.PrepareFrame(2));
  EXPECT_EQ(store.GetFrameUse(2), nullptr);
}

TEST_F(FrameUseStoreTest, RectanglesAreCutAtTheFrameEdge) {
  ASSERT_TRUE(store.Setup(1, 100, 20));
  EXPECT_EQ(store.GridCols(), 13u);
  EXPECT_EQ(store.GridRows(), 3u);
  ASSERT_TRUE(store.AddUse(0, 96, 0, 4, 8));
  ASSERT_TRUE(store.PrepareFrame(0));
  EXPECT_EQ(CellsOf(*store.GetFrameUse(0)), (std::vector<CellGrid::Rect>{{96, 0, 4, 8}}));

  // Fully marked: one rectangle, the whole frame.
  ASSERT_TRUE(store.AddUse(0, 0, 0, 100, 20));
  ASSERT_TRUE(store.PrepareFrame(0));
  EXPECT_EQ(CellsOf(*store.GetFrameUse(0)), (std::vector<CellGrid::Rect>{{0, 0, 100, 20}}));
  const UseRect& rect = store.GetFrameUse(0)->rects[0];
  EXPECT_EQ(rect.useCount, 0u);
  EXPECT_EQ(rect.releaseFrame, UseRect::kNotScheduled);
  EXPECT_EQ(rect.shrunkImage, nullptr);
}

// The 3 x 1 bar and the 1 x 3 column tie; the earlier anchor's bar wins.
TEST_F(FrameUseStoreTest, LShapeGivesTheBarThenTheRestOfTheColumn) {
  ASSERT_TRUE(store.Setup(1, 32, 24));
  ASSERT_TRUE(store.AddUse(0, 0, 0, 24, 8));
  ASSERT_TRUE(store.AddUse(0, 0, 8, 8, 16));
  ASSERT_TRUE(store.PrepareFrame(0));
  EXPECT_EQ(CellsOf(*store.GetFrameUse(0)),
            (std::vector<CellGrid::Rect>{{0, 0, 24, 8}, {0, 8, 8, 16}}));
  // The grid keeps its marks for the search of later frames.
  EXPECT_TRUE(store.GetFrameUse(0)->grid.Get(0, 2));
  EXPECT_TRUE(store.GetFrameUse(0)->grid.Get(2, 0));
}

TEST_F(FrameUseStoreTest, FindRectAndClearedCells) {
  ASSERT_TRUE(store.Setup(2, 64, 64));
  ASSERT_TRUE(store.AddUse(1, 0, 0, 16, 16));
  ASSERT_TRUE(store.AddUse(1, 32, 32, 8, 8));
  ASSERT_TRUE(store.PrepareFrame(1));
  ASSERT_EQ(store.GetFrameUse(1)->rects.size(), 2u);
  UseRect* first = store.FindRect(1, 15, 15);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->x, 0u);
  EXPECT_EQ(first->w, 16u);
  UseRect* second = store.FindRect(1, 39, 32);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->x, 32u);
  EXPECT_EQ(store.FindRect(1, 16, 0), nullptr);
  EXPECT_EQ(store.FindRect(0, 0, 0), nullptr);
  EXPECT_EQ(store.FindRect(2, 0, 0), nullptr);

  // A freed bitmap's cells are cleared; the next cut no longer contains them.
  FrameUseStore::MarkCells(store.GetFrameUse(1)->grid, first->x, first->y, first->w, first->h,
                           false);
  ASSERT_TRUE(store.PrepareFrame(1));
  EXPECT_EQ(CellsOf(*store.GetFrameUse(1)), (std::vector<CellGrid::Rect>{{32, 32, 8, 8}}));
}

TEST_F(FrameUseStoreTest, EmptyVideoKeepsBookkeepingOnly) {
  ASSERT_TRUE(store.Setup(3, 64, 48, /*emptyVideo=*/true));
  ASSERT_TRUE(store.AddUse(1, 0, 0, 64, 48));
  ASSERT_TRUE(store.PrepareFrame(1));
  EXPECT_TRUE(store.GetFrameUse(1)->rects.empty());
  EXPECT_EQ(store.FindRect(1, 0, 0), nullptr);
}

// Every marked cell ends up in exactly one rectangle, and nothing else does.
TEST_F(FrameUseStoreTest, RectanglesPartitionTheMarkedCellsOfRandomGrids) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 200; ++round) {
    const uint32_t width = 1 + random() % 90;
    const uint32_t height = 1 + random() % 70;
    ASSERT_TRUE(store.Setup(1, width, height));
    const int marks = static_cast<int>(random() % 12);
    for (int i = 0; i < marks; ++i) {
      ASSERT_TRUE(store.AddUse(0, random() % width, random() % height, 1 + random() % 40,
                               1 + random() % 40));
    }
    ASSERT_TRUE(store.PrepareFrame(0));
    const FrameUse& use = *store.GetFrameUse(0);
    std::vector<int> hits(std::size_t{use.grid.Cols()} * use.grid.Rows(), 0);
    for (const UseRect& rect : use.rects) {
      ASSERT_EQ(rect.x % 8, 0u);
      ASSERT_EQ(rect.y % 8, 0u);
      ASSERT_GT(rect.w, 0u);
      ASSERT_GT(rect.h, 0u);
      ASSERT_LE(rect.x + rect.w, width);
      ASSERT_LE(rect.y + rect.h, height);
      for (uint32_t y = rect.y; y < rect.y + rect.h; y += 8) {
        for (uint32_t x = rect.x; x < rect.x + rect.w; x += 8) {
          ++hits[std::size_t{y / 8} * use.grid.Cols() + x / 8];
        }
      }
    }
    for (uint32_t r = 0; r < use.grid.Rows(); ++r) {
      for (uint32_t c = 0; c < use.grid.Cols(); ++c) {
        ASSERT_EQ(hits[std::size_t{r} * use.grid.Cols() + c], use.grid.Get(c, r) ? 1 : 0)
            << "round " << round << " cell " << c << "," << r;
      }
    }
  }
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// The Transport draws each bitmap block from the one rectangle holding its corner, so blocks
// whose size is a multiple of the cell size must never be cut apart.
TEST(FrameUseStoreBlocksTest, BlocksOfWholeCellsStayInOneRectangle) {
  std::mt19937 random(77);
  for (int round = 0; round < 1500; ++round) {
    const uint32_t block = 8 * (1 + random() % 4);
    const uint32_t width = block * (1 + random() % 8) - random() % 2 * (random() % block);
    const uint32_t height = block * (1 + random() % 6) - random() % 2 * (random() % block);
    const uint32_t cols = (width - 1) / block + 1;
    const uint32_t rows = (height - 1) / block + 1;
    FrameUseStore store;
    ASSERT_TRUE(store.Setup(1, width, height));
    std::vector<bool> marked(cols * rows);
    const uint32_t density = random() % 100;
    for (uint32_t i = 0; i < cols * rows; ++i) {
      marked[i] = random() % 100 < density;
      const uint32_t x = i % cols * block;
      const uint32_t y = i / cols * block;
      if (marked[i]) {
        ASSERT_TRUE(store.AddUse(0, x, y, std::min(block, width - x), std::min(block, height - y)));
      }
    }
    ASSERT_TRUE(store.PrepareFrame(0));
    for (uint32_t i = 0; i < cols * rows; ++i) {
      if (!marked[i]) continue;
      const uint32_t x = i % cols * block;
      const uint32_t y = i / cols * block;
      const UseRect* rect = store.FindRect(0, x, y);
      ASSERT_NE(rect, nullptr);
      ASSERT_LE(x + std::min(block, width - x), rect->x + rect->w) << "round " << round;
      ASSERT_LE(y + std::min(block, height - y), rect->y + rect->h) << "round " << round;
    }
  }
}

// Cutting a huge frame's scattered marks takes a search over every cell per rectangle: a
// cancelled run gives the frame up rather than wait, and no partial list is left behind.
TEST_F(FrameUseStoreTest, SetCancelFlagGivesTheFrameUpWithAnEmptyList) {
  ASSERT_TRUE(store.Setup(1, 32, 24));
  ASSERT_TRUE(store.AddUse(0, 0, 0, 24, 8));
  ASSERT_TRUE(store.AddUse(0, 0, 8, 8, 16));
  std::atomic<bool> cancel{false};
  store.SetCancelFlag(&cancel);
  ASSERT_TRUE(store.PrepareFrame(0));
  EXPECT_EQ(store.GetFrameUse(0)->rects.size(), 2u);
  cancel = true;
  EXPECT_FALSE(store.PrepareFrame(0));
  EXPECT_TRUE(store.GetFrameUse(0)->rects.empty());
  EXPECT_TRUE(store.GetFrameUse(0)->grid.Get(0, 2));  // the marks stay for later frames
  store.SetCancelFlag(nullptr);
}

}  // namespace
}  // namespace quillon
