#include "match/screen_use_store.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillon {
namespace {

MatchResult NewBitmap(uint32_t frame, uint32_t x, uint32_t y) {
  MatchResult r;
  r.kind = BlockKind::kBitmap;
  r.subKind = BitmapSource::kNew;
  r.x = x;
  r.y = y;
  r.sourceFrame = frame;
  return r;
}

MatchResult Reuse(uint32_t source, uint32_t x, uint32_t y, uint32_t mirror = 0) {
  MatchResult r = NewBitmap(source, x, y);
  r.subKind = BitmapSource::kReuse;
  r.mirrorFlags = mirror;
  return r;
}

MatchResult Plain(uint8_t y, uint8_t cb = 128, uint8_t cr = 128) {
  MatchResult r;
  r.kind = BlockKind::kPlain;
  r.colour = Colour{y, cb, cr};
  return r;
}

// 64 x 64 pixels in 32 x 32 blocks: a 2 x 2 stage.
class ScreenUseStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store.Setup(10, 64, 64, 32, 32)); }

  // Every block of frame f as its own new bitmap.
  void RecordAllNew(uint32_t f) {
    for (uint32_t y = 0; y < 64; y += 32) {
      for (uint32_t x = 0; x < 64; x += 32)
        ASSERT_TRUE(store.RecordBlock(f, x, y, NewBitmap(f, x, y)));
    }
  }
  void RecordAllReuse(uint32_t f, uint32_t source) {
    for (uint32_t y = 0; y < 64; y += 32) {
      for (uint32_t x = 0; x < 64; x += 32)
        ASSERT_TRUE(store.RecordBlock(f, x, y, Reuse(source, x, y)));
    }
  }
  // What the Transport does between Diff and NewRects: one character id per source frame.
  void GiveCharacterIds() {
    for (uint32_t r = 0; r < store.Rows(); ++r) {
      for (uint32_t c = 0; c < store.Cols(); ++c) {
        ScreenCell* cell = store.GetScreenCell(c, r);
        if (cell->changed && cell->shown.kind == BlockKind::kBitmap) {
          cell->characterId = 100 + cell->shown.sourceFrame;
        }
      }
    }
  }

  ScreenUseStore store;
};

TEST_F(ScreenUseStoreTest, RecordBlockStoresVerdictsAndCounts) {
  ASSERT_TRUE(store.RecordBlock(0, 0, 0, NewBitmap(0, 0, 0)));
  ASSERT_TRUE(store.RecordBlock(0, 63, 0, Plain(7, 8, 9)));  // any pixel of the block
  ASSERT_TRUE(store.RecordBlock(0, 0, 32, Reuse(0, 0, 0, 1)));
  const FrameCells* cells = store.GetFrameCells(0);
  ASSERT_NE(cells, nullptr);
  EXPECT_EQ(cells->newCount, 1u);
  EXPECT_EQ(cells->plainCount, 1u);
  EXPECT_EQ(cells->cells[1].colour, (Colour{7, 8, 9}));
  EXPECT_EQ(cells->cells[2].mirrorFlags, 1u);
  EXPECT_EQ(cells->cells[2].sourceY, 0u);
  // Recording a block again replaces its verdict without counting it twice.
  ASSERT_TRUE(store.RecordBlock(0, 0, 0, Plain(1)));
  EXPECT_EQ(cells->newCount, 0u);
  EXPECT_EQ(cells->plainCount, 2u);

  EXPECT_FALSE(store.RecordBlock(10, 0, 0, Plain(1)));
  EXPECT_FALSE(store.RecordBlock(0, 64, 0, Plain(1)));
  EXPECT_FALSE(store.RecordBlock(0, 0, 0, MatchResult{}));
  EXPECT_FALSE(store.Diff(10));
  EXPECT_EQ(store.GetFrameCells(10), nullptr);
  EXPECT_EQ(store.GetScreenCell(2, 0), nullptr);
}

TEST_F(ScreenUseStoreTest, IdenticalFramesChangeNothing) {
  RecordAllNew(0);
  ASSERT_TRUE(store.Diff(0));
  EXPECT_TRUE(store.Removals().empty());
  GiveCharacterIds();
  ASSERT_TRUE(store.NewRects());
  // Four different bitmap pieces of one frame, but contiguous: one rectangle.
  ASSERT_EQ(store.Rects().size(), 1u);
  EXPECT_TRUE(store.GetFrameCells(0)->cells[3].place);

  RecordAllReuse(1, 0);
  store.MarkTransient(1);
  EXPECT_FALSE(store.GetFrameCells(0)->cells[0].transient);
  ASSERT_TRUE(store.Diff(1));
  EXPECT_TRUE(store.Removals().empty());
  ASSERT_TRUE(store.NewRects());
  EXPECT_TRUE(store.Rects().empty());
  for (const BlockCell& cell : store.GetFrameCells(1)->cells) EXPECT_FALSE(cell.place);
  EXPECT_EQ(store.GetScreenCell(1, 1)->placedFrame, 0u);
  EXPECT_FALSE(store.GetScreenCell(1, 1)->changed);
}

TEST_F(ScreenUseStoreTest, FrameLeavesTheScreenWhenItsLastCellIsReplaced) {
  RecordAllNew(0);
  ASSERT_TRUE(store.Diff(0));
  for (uint32_t f = 1; f <= 7; ++f) {
    RecordAllReuse(f, 0);
    // Frame 3 places new bitmaps in the top row; frames 4 to 6 keep showing them.
    if (f >= 3) {
      ASSERT_TRUE(store.RecordBlock(f, 0, 0, f == 3 ? NewBitmap(3, 0, 0) : Reuse(3, 0, 0)));
      ASSERT_TRUE(store.RecordBlock(f, 32, 0, f == 3 ? NewBitmap(3, 32, 0) : Reuse(3, 32, 0)));
    }
    if (f == 7) {
      ASSERT_TRUE(store.RecordBlock(7, 0, 0, Plain(50)));
    }
    ASSERT_TRUE(store.Diff(f));
    if (f == 3) {
      EXPECT_TRUE(store.Removals().empty()) << "frame 0 still shows the bottom row";
    }
    if (f == 7) {
      // The top-right cell still shows frame 3: nothing can go.
      EXPECT_TRUE(store.Removals().empty());
    }
  }
  RecordAllReuse(8, 0);
  ASSERT_TRUE(store.RecordBlock(8, 0, 0, Plain(50)));
  ASSERT_TRUE(store.RecordBlock(8, 32, 0, Plain(60)));
  ASSERT_TRUE(store.Diff(8));
  EXPECT_EQ(store.Removals(), (std::vector<uint32_t>{3}));
  EXPECT_TRUE(store.GetScreenCell(1, 0)->changed);
  EXPECT_FALSE(store.GetScreenCell(0, 0)->changed);  // same colour as frame 7

  // The bottom row goes plain as well: frame 0 shows nothing any more, frames 7 and 8 do.
  ASSERT_TRUE(store.RecordBlock(9, 0, 0, Plain(50)));
  ASSERT_TRUE(store.RecordBlock(9, 32, 0, Plain(60)));
  ASSERT_TRUE(store.RecordBlock(9, 0, 32, Plain(50)));
  ASSERT_TRUE(store.RecordBlock(9, 32, 32, Plain(60)));
  ASSERT_TRUE(store.Diff(9));
  EXPECT_EQ(store.Removals(), (std::vector<uint32_t>{0}));
}

TEST_F(ScreenUseStoreTest, MirroredReuseOfTheShownAreaIsANewPicture) {
  RecordAllNew(0);
  ASSERT_TRUE(store.Diff(0));
  RecordAllReuse(1, 0);
  ASSERT_TRUE(store.RecordBlock(1, 0, 0, Reuse(0, 0, 0, MatchResult::kMirrorLeftRight)));
  ASSERT_TRUE(store.Diff(1));
  EXPECT_TRUE(store.GetScreenCell(0, 0)->changed);
  EXPECT_TRUE(store.GetFrameCells(1)->cells[0].place);
  EXPECT_FALSE(store.GetScreenCell(1, 0)->changed);
  // Frame 0 still shows three cells, so it stays.
  EXPECT_TRUE(store.Removals().empty());
  // The same area read the same mirrored way again is unchanged.
  RecordAllReuse(2, 0);
  ASSERT_TRUE(store.RecordBlock(2, 0, 0, Reuse(0, 0, 0, MatchResult::kMirrorLeftRight)));
  ASSERT_TRUE(store.Diff(2));
  EXPECT_FALSE(store.GetScreenCell(0, 0)->changed);
}

TEST_F(ScreenUseStoreTest, MirroredCellsMergeOnlyAcrossTheirMirroredAxis) {
  RecordAllNew(0);
  ASSERT_TRUE(store.Diff(0));
  // Left-right mirrored everywhere: each column is one piece downwards, never across.
  for (uint32_t y = 0; y < 64; y += 32) {
    for (uint32_t x = 0; x < 64; x += 32)
      ASSERT_TRUE(store.RecordBlock(1, x, y, Reuse(0, x, y, MatchResult::kMirrorLeftRight)));
  }
  ASSERT_TRUE(store.Diff(1));
  GiveCharacterIds();
  ASSERT_TRUE(store.NewRects());
  ASSERT_EQ(store.Rects().size(), 2u);
  EXPECT_EQ(store.Rects()[0].w, 32u);
  EXPECT_EQ(store.Rects()[0].h, 64u);
  // Top-bottom on the top row only: flags differ between the rows, and the top row's
  // cells are one piece only across.
  ASSERT_TRUE(store.RecordBlock(2, 0, 0, Reuse(0, 0, 0, MatchResult::kMirrorTopBottom)));
  ASSERT_TRUE(store.RecordBlock(2, 32, 0, Reuse(0, 32, 0, MatchResult::kMirrorTopBottom)));
  ASSERT_TRUE(store.RecordBlock(2, 0, 32, Reuse(0, 0, 32)));
  ASSERT_TRUE(store.RecordBlock(2, 32, 32, Reuse(0, 32, 32)));
  ASSERT_TRUE(store.Diff(2));
  GiveCharacterIds();
  ASSERT_TRUE(store.NewRects());
  ASSERT_EQ(store.Rects().size(), 2u);
  EXPECT_EQ(store.Rects()[0].w, 64u);
  EXPECT_EQ(store.Rects()[0].h, 32u);
  EXPECT_EQ(store.Rects()[1].y, 32u);
  EXPECT_EQ(store.Rects()[1].w, 64u);
}

TEST_F(ScreenUseStoreTest, TransientNewBitmaps) {
  RecordAllNew(5);
  // Frame 6: cell 0 shows frame 5's bitmap again, cell 1 a different new one, cell 2 the same
  // frame's bitmap from another place, cell 3 a plain colour.
  ASSERT_TRUE(store.RecordBlock(6, 0, 0, Reuse(5, 0, 0)));
  ASSERT_TRUE(store.RecordBlock(6, 32, 0, NewBitmap(6, 32, 0)));
  ASSERT_TRUE(store.RecordBlock(6, 0, 32, Reuse(5, 32, 32)));
  ASSERT_TRUE(store.RecordBlock(6, 32, 32, Plain(9)));
  store.MarkTransient(6);
  const std::vector<BlockCell>& cells = store.GetFrameCells(5)->cells;
  EXPECT_FALSE(cells[0].transient);
  EXPECT_TRUE(cells[1].transient);
  EXPECT_TRUE(cells[2].transient);
  EXPECT_TRUE(cells[3].transient);
  EXPECT_FALSE(store.AllTransient(5, 0, 0, 64, 64));
  EXPECT_TRUE(store.AllTransient(5, 32, 0, 32, 64));
  // Plain cells do not count.
  ASSERT_TRUE(store.RecordBlock(5, 0, 0, Plain(1)));
  EXPECT_TRUE(store.AllTransient(5, 0, 0, 64, 64));
  EXPECT_FALSE(store.AllTransient(10, 0, 0, 64, 64));
}

TEST_F(ScreenUseStoreTest, ChangedCellsMergeOnlyWhenTheyShowOnePiece) {
  // Four cells from one bitmap at consecutive source positions.
  RecordAllNew(0);
  ASSERT_TRUE(store.Diff(0));
  GiveCharacterIds();
  ASSERT_TRUE(store.NewRects());
  ASSERT_EQ(store.Rects().size(), 1u);
  EXPECT_EQ(store.Rects()[0].w, 64u);
  EXPECT_EQ(store.Rects()[0].h, 64u);
  EXPECT_TRUE(store.GetScreenCell(1, 1)->covered);

  // Top row from frame 1, bottom row from frame 2: two bitmaps, two rectangles.
  ASSERT_TRUE(store.RecordBlock(3, 0, 0, Reuse(1, 0, 0)));
  ASSERT_TRUE(store.RecordBlock(3, 32, 0, Reuse(1, 32, 0)));
  ASSERT_TRUE(store.RecordBlock(3, 0, 32, Reuse(2, 0, 32)));
  ASSERT_TRUE(store.RecordBlock(3, 32, 32, Reuse(2, 32, 32)));
  ASSERT_TRUE(store.Diff(3));
  GiveCharacterIds();
  ASSERT_TRUE(store.NewRects());
  ASSERT_EQ(store.Rects().size(), 2u);
  EXPECT_EQ(store.Rects()[0].y, 0u);
  EXPECT_EQ(store.Rects()[0].w, 64u);
  EXPECT_EQ(store.Rects()[1].y, 32u);

  // One bitmap with its columns swapped: each column is contiguous only downwards.
  ASSERT_TRUE(store.RecordBlock(4, 0, 0, Reuse(0, 32, 0)));
  ASSERT_TRUE(store.RecordBlock(4, 32, 0, Reuse(0, 0, 0)));
  ASSERT_TRUE(store.RecordBlock(4, 0, 32, Reuse(0, 32, 32)));
  ASSERT_TRUE(store.RecordBlock(4, 32, 32, Reuse(0, 0, 32)));
  ASSERT_TRUE(store.Diff(4));
  GiveCharacterIds();
  ASSERT_TRUE(store.NewRects());
  ASSERT_EQ(store.Rects().size(), 2u);
  EXPECT_EQ(store.Rects()[0].w, 32u);
  EXPECT_EQ(store.Rects()[0].h, 64u);
  EXPECT_EQ(store.Rects()[1].x, 32u);

  // Plain cells merge by colour; an unchanged cell is never drawn.
  ASSERT_TRUE(store.RecordBlock(5, 0, 0, Plain(10)));
  ASSERT_TRUE(store.RecordBlock(5, 32, 0, Plain(10)));
  ASSERT_TRUE(store.RecordBlock(5, 0, 32, Plain(10, 129)));
  ASSERT_TRUE(store.RecordBlock(5, 32, 32, Reuse(0, 0, 32)));
  ASSERT_TRUE(store.Diff(5));
  ASSERT_TRUE(store.NewRects());
  ASSERT_EQ(store.Rects().size(), 2u);
  EXPECT_EQ(store.Rects()[0].w, 64u);
  EXPECT_EQ(store.Rects()[0].h, 32u);
  EXPECT_EQ(store.Rects()[1].x, 0u);
  EXPECT_EQ(store.Rects()[1].y, 32u);
  EXPECT_EQ(store.Rects()[1].w, 32u);
}

TEST_F(ScreenUseStoreTest, FirstFrameOfAPartPlacesEverythingAndRemovesNothing) {
  RecordAllNew(3);
  ASSERT_TRUE(store.Diff(3));
  // Frame 4 shows exactly what frame 3 left on the stage, but a new part starts there.
  RecordAllReuse(4, 3);
  ASSERT_TRUE(store.RecordBlock(4, 0, 0, Plain(3)));
  store.SetPartStart(4);
  ASSERT_TRUE(store.Diff(4));
  EXPECT_TRUE(store.Removals().empty());
  for (uint32_t r = 0; r < 2; ++r) {
    for (uint32_t c = 0; c < 2; ++c) {
      EXPECT_TRUE(store.GetScreenCell(c, r)->changed);
      EXPECT_EQ(store.GetScreenCell(c, r)->placedFrame, 4u);
    }
  }
  EXPECT_TRUE(store.GetFrameCells(4)->cells[3].place);
  EXPECT_FALSE(store.GetFrameCells(4)->cells[0].place);  // plain cells are never placed
}

TEST(ScreenUseStoreGridTest, LastColumnReachesPastTheFrame) {
  ScreenUseStore store;
  ASSERT_TRUE(store.Setup(1, 100, 40, 32, 32));
  EXPECT_EQ(store.Cols(), 4u);
  EXPECT_EQ(store.Rows(), 2u);
  for (uint32_t y = 0; y < 40; y += 32) {
    for (uint32_t x = 0; x < 100; x += 32) ASSERT_TRUE(store.RecordBlock(0, x, y, Plain(5)));
  }
  ASSERT_TRUE(store.Diff(0));
  ASSERT_TRUE(store.NewRects());
  ASSERT_EQ(store.Rects().size(), 1u);
  EXPECT_EQ(store.Rects()[0].x + store.Rects()[0].w, 128u);
  EXPECT_EQ(store.Rects()[0].h, 64u);

  EXPECT_FALSE(store.Setup(1, 100, 40, 0, 32));
}

TEST(ScreenUseStoreGridTest, EmptyVideoListsNothing) {
  ScreenUseStore store;
  ASSERT_TRUE(store.Setup(2, 64, 64, 32, 32, /*emptyVideo=*/true));
  ASSERT_TRUE(store.RecordBlock(1, 0, 0, Plain(5)));
  ASSERT_TRUE(store.Diff(1));
  EXPECT_TRUE(store.Removals().empty());
  ASSERT_TRUE(store.NewRects());
  EXPECT_TRUE(store.Rects().empty());
}

}  // namespace
}  // namespace quillon
