#include "match/kept_blocks.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "match/cell_grid.h"
#include "match/frame_use_store.h"
#include "synthetic_video.h"

namespace quillon {
namespace {

using synth::PaintNoise;

// 40 x 24 pixels in blocks of 16: three columns (the last 8 wide), two rows (the last 8 high).
constexpr uint32_t kWidth = 40;
constexpr uint32_t kHeight = 24;
constexpr uint32_t kBlock = 16;

struct Block {
  uint32_t x, y, w, h;
};
constexpr Block kBlocks[] = {{0, 0, 16, 16},  {16, 0, 16, 16}, {32, 0, 8, 16},
                             {0, 16, 16, 8}, {16, 16, 16, 8}, {32, 16, 8, 8}};

std::unique_ptr<FrameImage> Noise(uint32_t seed) {
  auto image = std::make_unique<FrameImage>();
  EXPECT_TRUE(image->Allocate(kWidth, kHeight));
  PaintNoise(*image, seed, 0, 0, kWidth, kHeight);
  return image;
}

// The kept copy gives every sum the frame itself gives, mirrored readings and the block's
// channel sums included.
void ExpectSameSums(const KeptBlocks& kept, uint32_t frame, FrameImage& image, const Block& b) {
  uint32_t top = 0;
  RegionSums sums;
  const FrameImage* stack = kept.Find(frame, b.x, b.y, top, &sums);
  ASSERT_NE(stack, nullptr) << b.x << "," << b.y;
  const std::unique_ptr<FrameImage> probeOwned = Noise(99);
  FrameImage& probe = *probeOwned;
  ASSERT_TRUE(probe.SelectRegion(static_cast<int32_t>(b.x), static_cast<int32_t>(b.y),
                                 static_cast<int32_t>(b.w), static_cast<int32_t>(b.h)));
  const float whole = probe.RegionDifference(image, static_cast<int32_t>(b.x),
                                             static_cast<int32_t>(b.y));
  EXPECT_GT(whole, 0.0f);
  EXPECT_EQ(probe.RegionDifference(*stack, 0, static_cast<int32_t>(top)), whole);
  uint32_t flagsWhole = 0;
  uint32_t flagsKept = 0;
  EXPECT_EQ(probe.RegionDifferenceMirrored(*stack, 0, static_cast<int32_t>(top), flagsKept),
            probe.RegionDifferenceMirrored(image, static_cast<int32_t>(b.x),
                                           static_cast<int32_t>(b.y), flagsWhole));
  EXPECT_EQ(flagsKept, flagsWhole);
  ASSERT_TRUE(image.SelectRegion(static_cast<int32_t>(b.x), static_cast<int32_t>(b.y),
                                 static_cast<int32_t>(b.w), static_cast<int32_t>(b.h)));
  EXPECT_EQ(image.RegionDifference(*stack, 0, static_cast<int32_t>(top)), 0.0f);
  const RegionSums own = image.RegionChannelSums();
  for (int c = 0; c < 3; ++c) EXPECT_EQ(sums.channel[c], own.channel[c]) << b.x << "," << b.y;
}

// The sums of every block of the grid, as the matching hands them over.
std::vector<RegionSums> GridSums(FrameImage& image) {
  std::vector<RegionSums> sums;
  for (const Block& b : kBlocks) {
    EXPECT_TRUE(image.SelectRegion(static_cast<int32_t>(b.x), static_cast<int32_t>(b.y),
                                   static_cast<int32_t>(b.w), static_cast<int32_t>(b.h)));
    sums.push_back(image.RegionChannelSums());
  }
  return sums;
}

TEST(KeptBlocksTest, KeepsExactlyTheBlocksWhoseCornerCellIsSet) {
  FrameUseStore uses;
  ASSERT_TRUE(uses.Setup(1, kWidth, kHeight));
  CellGrid& grid = uses.GetFrameUse(0)->grid;
  grid.SetRect(0, 0, 1, 1, true);  // block 0's corner
  grid.SetRect(4, 0, 1, 1, true);  // the narrow right block's corner
  grid.SetRect(2, 2, 1, 1, true);  // the short bottom middle block's corner
  grid.SetRect(3, 1, 1, 1, true);  // inside block 1 but not its corner: not searchable
  const std::unique_ptr<FrameImage> imageOwned = Noise(5);
  FrameImage& image = *imageOwned;

  KeptBlocks kept;
  kept.Setup(kWidth, kHeight, kBlock, kBlock, 4);
  kept.Keep(0, image, grid);
  EXPECT_EQ(kept.BlockCount(), 3u);
  for (const int i : {0, 2, 4}) ExpectSameSums(kept, 0, image, kBlocks[i]);
  uint32_t top = 0;
  for (const int i : {1, 3, 5}) {
    EXPECT_EQ(kept.Find(0, kBlocks[i].x, kBlocks[i].y, top), nullptr) << i;
  }
  EXPECT_EQ(kept.Find(0, 8, 0, top), nullptr) << "not a block position";
  EXPECT_EQ(kept.Find(0, 48, 0, top), nullptr) << "outside the frame";
  EXPECT_EQ(kept.Find(1, 0, 0, top), nullptr) << "a frame never kept";

  // Sums handed over are filed by block, not by place in the stack; a list that does not
  // cover the grid is passed over.
  for (const std::size_t given : {std::size_t{6}, std::size_t{5}}) {
    std::vector<RegionSums> sums = GridSums(image);
    sums.resize(given);
    KeptBlocks handed;
    handed.Setup(kWidth, kHeight, kBlock, kBlock, 4);
    handed.Keep(0, image, grid, &sums);
    for (const int i : {0, 2, 4}) ExpectSameSums(handed, 0, image, kBlocks[i]);
  }

  // Without a search there is nothing to keep.
  KeptBlocks none;
  none.Setup(kWidth, kHeight, kBlock, kBlock, 0);
  none.Keep(0, image, grid);
  EXPECT_EQ(none.Find(0, 0, 0, top), nullptr);
  EXPECT_EQ(none.ByteSize(), 0u);
}

// Freed bitmaps, refused frames and part starts clear cells: their blocks are let go, the
// pictures shrink, and the blocks still searchable keep their pixels.
TEST(KeptBlocksTest, PruneLetsGoOfClearedBlocksAndKeepsTheRestIntact) {
  FrameUseStore uses;
  ASSERT_TRUE(uses.Setup(2, kWidth, kHeight));
  ASSERT_TRUE(uses.AddUse(0, 0, 0, kWidth, kHeight));
  ASSERT_TRUE(uses.AddUse(1, 0, 0, kWidth, kHeight));
  const std::unique_ptr<FrameImage> image0Owned = Noise(1);
  FrameImage& image0 = *image0Owned;
  const std::unique_ptr<FrameImage> image1Owned = Noise(2);
  FrameImage& image1 = *image1Owned;
  KeptBlocks kept;
  kept.Setup(kWidth, kHeight, kBlock, kBlock, 4);
  kept.Keep(0, image0, uses.GetFrameUse(0)->grid);
  kept.Keep(1, image1, uses.GetFrameUse(1)->grid);
  EXPECT_EQ(kept.BlockCount(), 12u);
  const std::size_t full = kept.ByteSize();

  // A cell cleared away from the corners changes nothing.
  FrameUseStore::MarkCells(uses.GetFrameUse(0)->grid, 8, 8, 8, 8, false);
  kept.Prune(uses);
  EXPECT_EQ(kept.BlockCount(), 12u);
  EXPECT_EQ(kept.ByteSize(), full);

  // Two of frame 0's six blocks lose their corner: a third of its picture is given back.
  FrameUseStore::MarkCells(uses.GetFrameUse(0)->grid, 16, 0, 24, 8, false);
  kept.Prune(uses);
  EXPECT_EQ(kept.BlockCount(), 10u);
  EXPECT_LT(kept.ByteSize(), full);
  uint32_t top = 0;
  EXPECT_EQ(kept.Find(0, 16, 0, top), nullptr);
  EXPECT_EQ(kept.Find(0, 32, 0, top), nullptr);
  for (const int i : {0, 3, 4, 5}) ExpectSameSums(kept, 0, image0, kBlocks[i]);
  for (const Block& b : kBlocks) ExpectSameSums(kept, 1, image1, b);

  // A whole frame cleared (refused, or before a part start) keeps nothing.
  FrameUseStore::MarkCells(uses.GetFrameUse(1)->grid, 0, 0, kWidth, kHeight, false);
  kept.Prune(uses);
  EXPECT_EQ(kept.BlockCount(), 4u);
  EXPECT_EQ(kept.Find(1, 0, 0, top), nullptr);
  for (const int i : {0, 3, 4, 5}) ExpectSameSums(kept, 0, image0, kBlocks[i]);
}

TEST(KeptBlocksTest, HoldsTheLastFramesOfTheSearchDepth) {
  FrameUseStore uses;
  ASSERT_TRUE(uses.Setup(4, kWidth, kHeight));
  KeptBlocks kept;
  kept.Setup(kWidth, kHeight, kBlock, kBlock, 2);
  std::vector<std::unique_ptr<FrameImage>> images;
  for (uint32_t f = 0; f < 4; ++f) images.push_back(Noise(f + 1));
  for (uint32_t f = 0; f < 3; ++f) {
    ASSERT_TRUE(uses.AddUse(f, 0, 0, kWidth, kHeight));
    kept.Keep(f, *images[f], uses.GetFrameUse(f)->grid);
  }
  uint32_t top = 0;
  EXPECT_EQ(kept.Find(0, 0, 0, top), nullptr) << "out of the search depth";
  ExpectSameSums(kept, 1, *images[1], kBlocks[0]);
  ExpectSameSums(kept, 2, *images[2], kBlocks[5]);
  EXPECT_EQ(kept.BlockCount(), 12u);

  // A frame kept again (matched again when a part starts at it) replaces its first copy.
  FrameUseStore::MarkCells(uses.GetFrameUse(2)->grid, 0, 0, kWidth, kHeight, false);
  ASSERT_TRUE(uses.AddUse(2, 16, 16, 16, 8));
  kept.Keep(2, *images[3], uses.GetFrameUse(2)->grid);
  EXPECT_EQ(kept.BlockCount(), 7u);
  EXPECT_EQ(kept.Find(2, 0, 0, top), nullptr);
  ExpectSameSums(kept, 2, *images[3], kBlocks[4]);
  ExpectSameSums(kept, 1, *images[1], kBlocks[4]);
}

}  // namespace
}  // namespace quillon
