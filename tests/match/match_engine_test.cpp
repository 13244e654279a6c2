#include "match/match_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <tuple>

#include "match/frame_use_store.h"
#include "match/screen_use_store.h"
#include "synthetic_video.h"

namespace quillon {
namespace {

using synth::MakeSyntheticStore;
using synth::PaintNoise;
using synth::SyntheticMovie;

// The three matching stages over one synthetic movie, set up in the controller's order.
struct Rig {
  bool Init(const SyntheticMovie& movie, const MatchOptions& options, uint32_t cacheSize) {
    frames = MakeSyntheticStore(movie, cacheSize, &decodes);
    return frames && Attach(options);
  }
  bool Attach(const MatchOptions& options) {
    return engine.Setup(options, frames.get(), &uses, &screen) && uses.Setup(*frames) &&
           screen.Setup(*frames, engine.BlockWidth(), engine.BlockHeight()) && engine.Start();
  }
  const BlockCell& Cell(uint32_t frame, uint32_t index) const {
    return screen.GetFrameCells(frame)->cells[index];
  }

  uint32_t decodes = 0;
  std::unique_ptr<FrameStore> frames;
  FrameUseStore uses;
  ScreenUseStore screen;
  MatchEngine engine;
};

MatchOptions BlocksOf(int32_t pixels) {
  MatchOptions options;
  options.blockWidth = static_cast<float>(-pixels);
  options.blockHeight = static_cast<float>(-pixels);
  return options;
}

SyntheticMovie StaticNoise(uint32_t frameCount) {
  return SyntheticMovie{64, 48, frameCount, [](uint32_t, FrameImage& image) {
                          PaintNoise(image, 1, 0, 0, image.Width(), image.Height());
                          return true;
                        }};
}

SyntheticMovie Flat(uint32_t frameCount, uint8_t (*luma)(uint32_t frame)) {
  return SyntheticMovie{32, 32, frameCount, [luma](uint32_t frame, FrameImage& image) {
                          return image.FillRect(0, 0, 32, 32, Colour{luma(frame), 128, 128});
                        }};
}

class BlockSizeTest : public ::testing::TestWithParam<std::tuple<uint32_t, float, uint32_t>> {};

TEST_P(BlockSizeTest, FollowsTheSignRule) {
  const auto [size, value, expected] = GetParam();
  EXPECT_EQ(MatchEngine::BlockSize(size, value), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BlockSizeTest,
    ::testing::Values(std::make_tuple(320u, 10.0f, 32u), std::make_tuple(240u, 10.0f, 24u),
                      std::make_tuple(320u, 6.0f, 48u),  // 53 rounded down to 48
                      std::make_tuple(240u, 6.0f, 40u), std::make_tuple(640u, 5.0f, 128u),
                      std::make_tuple(320u, -20.0f, 16u),  // pixels rounded down to 8s
                      std::make_tuple(320u, -7.0f, 8u), std::make_tuple(320u, -24.0f, 24u),
                      std::make_tuple(2u, 0.5f, 8u),       // 4 rounds to 0
                      std::make_tuple(320u, 0.0f, 8u), std::make_tuple(320u, -0.5f, 8u),
                      std::make_tuple(100u, 200.0f, 8u)));

TEST(MatchEngineTest, BlockGridCoversTheFrame) {
  Rig rig;
  MatchOptions options;
  options.blockWidth = 6;
  options.blockHeight = 6;
  ASSERT_TRUE(rig.Init(SyntheticMovie{320, 240, 1, nullptr}, options, 2));
  EXPECT_EQ(rig.engine.BlockWidth(), 48u);
  EXPECT_EQ(rig.engine.BlockHeight(), 40u);
  EXPECT_EQ(rig.screen.Cols(), 7u);  // the last column is 32 pixels wide
  EXPECT_EQ(rig.screen.Rows(), 6u);
  ASSERT_TRUE(rig.engine.MatchFrame(0));
  // A flat frame: every block, the narrow ones too, is plain.
  EXPECT_EQ(rig.screen.GetFrameCells(0)->plainCount, 42u);
}

// The static-scene cycle: new bitmaps at frame 0, reuses of frame 0 while it lies within the
// search, then new bitmaps again.
TEST(MatchEngineTest, StaticSceneRenewsEverySearchedFramesPlusOne) {
  Rig rig;
  MatchOptions options = BlocksOf(16);
  options.searchedFrames = 4;
  ASSERT_TRUE(rig.Init(StaticNoise(12), options, 5));
  for (uint32_t f = 0; f < 12; ++f) {
    ASSERT_TRUE(rig.engine.MatchFrame(f)) << rig.engine.lastError;
    const uint32_t source = f / 5 * 5;
    for (uint32_t i = 0; i < rig.screen.CellCount(); ++i) {
      const BlockCell& cell = rig.Cell(f, i);
      ASSERT_EQ(cell.kind, BlockKind::kBitmap);
      EXPECT_EQ(cell.subKind, f == source ? BitmapSource::kNew : BitmapSource::kReuse) << f;
      EXPECT_EQ(cell.sourceFrame, source) << f;
    }
  }
  EXPECT_EQ(rig.decodes, 12u) << "every frame decoded once";
  EXPECT_TRUE(rig.uses.GetFrameUse(0)->grid.Get(0, 0));
  EXPECT_FALSE(rig.uses.GetFrameUse(1)->grid.Get(0, 0)) << "reuses mark their source only";
}

TEST(MatchEngineTest, NoSearchedFramesMeansNoReuse) {
  Rig rig;
  MatchOptions options = BlocksOf(16);
  options.searchedFrames = 0;
  ASSERT_TRUE(rig.Init(StaticNoise(3), options, 41));
  for (uint32_t f = 0; f < 3; ++f) {
    ASSERT_TRUE(rig.engine.MatchFrame(f));
    EXPECT_EQ(rig.screen.GetFrameCells(f)->newCount, rig.screen.CellCount());
  }
}

// A cache shorter than the search would slide the window past the frame being matched.
TEST(MatchEngineTest, SearchStaysInsideTheFrameCache) {
  Rig rig;
  MatchOptions options = BlocksOf(16);
  options.searchedFrames = 40;
  ASSERT_TRUE(rig.Init(StaticNoise(9), options, 3));
  EXPECT_EQ(rig.engine.SearchDepth(), 2u);
  for (uint32_t f = 0; f < 9; ++f) {
    ASSERT_TRUE(rig.engine.MatchFrame(f));
    EXPECT_EQ(rig.Cell(f, 0).sourceFrame, f / 3 * 3) << f;
  }
  EXPECT_EQ(rig.decodes, 9u);
}

// Between matching frame `before` - 1 and `before`: a frame's use cells cleared (a refused
// frame, a freed bitmap).
struct Clear {
  uint32_t before;
  uint32_t frame;
  uint32_t x, y, w, h;
};

// Matches every frame of the movie in turn, or each one ahead while the frame before it is
// "encoded", clearing cells as told; `redecided` gets the blocks decided again per frame.
std::unique_ptr<Rig> MatchAll(const SyntheticMovie& movie, const std::vector<Clear>& clears,
                              bool ahead, std::vector<uint32_t>& redecided) {
  auto rig = std::make_unique<Rig>();
  MatchOptions options = BlocksOf(16);
  options.searchedFrames = 4;
  EXPECT_TRUE(rig->Init(movie, options, 5));
  // As in a run: earlier frames are compared through the matching's copies of their blocks.
  rig->frames->LimitCache(2);
  for (uint32_t f = 0; f < movie.frameCount; ++f) {
    if (ahead && f > 0) {
      EXPECT_TRUE(rig->engine.HasSpeculation(f));
    }
    for (const Clear& c : clears) {
      if (c.before == f) {
        FrameUseStore::MarkCells(rig->uses.GetFrameUse(c.frame)->grid, c.x, c.y, c.w, c.h, false);
      }
    }
    EXPECT_TRUE(rig->engine.MatchFrame(f)) << rig->engine.lastError;
    redecided.push_back(ahead && f > 0 ? rig->engine.RedecidedBlocks() : 0);
    if (ahead && f + 1 < movie.frameCount) rig->engine.Speculate(f + 1);
  }
  return rig;
}

// Block i of frame f decided alike by both rigs.
void ExpectSameCell(const Rig& one, const Rig& other, uint32_t f, uint32_t i) {
  const BlockCell& a = one.Cell(f, i);
  const BlockCell& b = other.Cell(f, i);
  EXPECT_EQ(a.kind, b.kind) << f << " " << i;
  EXPECT_EQ(a.subKind, b.subKind) << f << " " << i;
  EXPECT_EQ(a.sourceFrame, b.sourceFrame) << f << " " << i;
  EXPECT_EQ(a.mirrorFlags, b.mirrorFlags) << f << " " << i;
  EXPECT_EQ(a.colour, b.colour) << f << " " << i;
  EXPECT_EQ(a.transient, b.transient) << f << " " << i;
}

void ExpectSameVerdicts(const Rig& inTurn, const Rig& ahead, uint32_t frameCount) {
  for (uint32_t f = 0; f < frameCount; ++f) {
    for (uint32_t i = 0; i < inTurn.screen.CellCount(); ++i) ExpectSameCell(inTurn, ahead, f, i);
    const CellGrid& ga = inTurn.uses.GetFrameUse(f)->grid;
    const CellGrid& gb = ahead.uses.GetFrameUse(f)->grid;
    EXPECT_TRUE(std::equal(ga.Bits(), ga.Bits() + ga.Rows() * ga.BytesPerRow(), gb.Bits())) << f;
  }
  // Every frame decoded once, however few the cache holds, and no block was missing.
  EXPECT_EQ(inTurn.decodes, frameCount);
  EXPECT_EQ(ahead.decodes, frameCount);
  EXPECT_EQ(inTurn.engine.FallbackReads(), 0u);
  EXPECT_EQ(ahead.engine.FallbackReads(), 0u);
}

// Matching a frame ahead, while the frame before is still being encoded, must end exactly as
// matching it in turn, even when the frame before then clears use cells (a refused frame, a
// freed bitmap): those blocks are decided again, the others keep their early verdicts.
TEST(MatchEngineTest, MatchingAheadEndsAsMatchingInTurn) {
  const std::vector<Clear> clears = {{3, 0, 0, 0, 64, 48}, {6, 3, 16, 16, 16, 16},
                                     {7, 3, 0, 0, 64, 48}};
  std::vector<uint32_t> none;
  std::vector<uint32_t> redecided;
  const auto inTurn = MatchAll(StaticNoise(12), clears, false, none);
  const auto ahead = MatchAll(StaticNoise(12), clears, true, redecided);
  ExpectSameVerdicts(*inTurn, *ahead, 12);
  // Frame 3 would have reused frame 0 everywhere, frames 6 and 7 frame 3; frame 6 lost one
  // block of it, frame 7 the rest. Nothing else changed under the early verdicts.
  const uint32_t all = inTurn->screen.CellCount();
  EXPECT_EQ(redecided, (std::vector<uint32_t>{0, 0, 0, all, 0, 0, 1, all - 1, 0, 0, 0, 0}));
  EXPECT_EQ(inTurn->Cell(3, 0).subKind, BitmapSource::kNew);
  EXPECT_EQ(inTurn->Cell(7, 0).sourceFrame, 7u);

  // Matching any other frame (a part that starts again at the frame) drops what was ahead.
  ahead->engine.Speculate(11);
  ASSERT_TRUE(ahead->engine.HasSpeculation(11));
  ASSERT_TRUE(ahead->engine.MatchFrame(10));
  EXPECT_FALSE(ahead->engine.HasSpeculation(11));
}

// Freed bitmaps of frames that no early verdict chose (the common case: the search window
// holds many) leave those verdicts standing; only blocks that lose the frame they reuse are
// searched again.
TEST(MatchEngineTest, LosingAFrameThatDidNotWinKeepsTheEarlyVerdicts) {
  // Two pictures taking turns: frame f reuses frame f - 2 while frame f - 1 holds the other.
  const SyntheticMovie turns{64, 48, 8, [](uint32_t frame, FrameImage& image) {
                               PaintNoise(image, 1 + frame % 2, 0, 0, 64, 48);
                               return true;
                             }};
  // Before frame 2: frame 1 (the other picture) goes. Before frame 4: half of frame 0, which
  // frame 4 reuses. Before frame 5: frame 1 again, already gone when frame 5 was matched ahead.
  const std::vector<Clear> clears = {{2, 1, 0, 0, 64, 48}, {4, 0, 0, 0, 32, 48},
                                     {5, 1, 0, 0, 64, 48}};
  std::vector<uint32_t> none;
  std::vector<uint32_t> redecided;
  const auto inTurn = MatchAll(turns, clears, false, none);
  const auto ahead = MatchAll(turns, clears, true, redecided);
  ExpectSameVerdicts(*inTurn, *ahead, 8);
  EXPECT_EQ(inTurn->Cell(2, 0).sourceFrame, 0u);
  EXPECT_EQ(inTurn->Cell(4, 0).subKind, BitmapSource::kNew) << "its half of frame 0 went";
  EXPECT_EQ(inTurn->Cell(4, 2).sourceFrame, 0u);
  const uint32_t half = inTurn->screen.CellCount() / 2;
  EXPECT_EQ(redecided, (std::vector<uint32_t>{0, 0, 0, 0, half, 0, 0, 0}));
}

// A block the copies lack (here a mark set behind the matching's back) is read from its frame
// decoded again: slower, the same verdict, counted, and one decode for all the frame's blocks.
TEST(MatchEngineTest, BlockNotKeptIsReadFromTheFrameDecodedAgain) {
  const SyntheticMovie movie{64, 48, 3, [](uint32_t frame, FrameImage& image) {
                               PaintNoise(image, frame == 1 ? 2 : 1, 0, 0, 64, 48);
                               return true;
                             }};
  MatchOptions options = BlocksOf(16);
  options.searchedFrames = 4;
  Rig rig;
  ASSERT_TRUE(rig.Init(movie, options, 41));
  rig.frames->LimitCache(1);
  const uint32_t all = rig.screen.CellCount();
  ASSERT_TRUE(rig.engine.MatchFrame(0));
  EXPECT_EQ(rig.engine.Kept().BlockCount(), all);
  // Frame 0 refused: its copies go with its marks once the next frame is recorded.
  FrameUseStore::MarkCells(rig.uses.GetFrameUse(0)->grid, 0, 0, 64, 48, false);
  ASSERT_TRUE(rig.engine.MatchFrame(1));
  EXPECT_EQ(rig.engine.Kept().BlockCount(), all) << "frame 1's blocks only";
  EXPECT_EQ(rig.engine.FallbackReads(), 0u);

  ASSERT_TRUE(rig.uses.AddUse(0, 0, 0, 64, 48));
  const uint32_t decodes = rig.decodes;
  ASSERT_TRUE(rig.engine.MatchFrame(2));
  for (uint32_t i = 0; i < all; ++i) {
    EXPECT_EQ(rig.Cell(2, i).subKind, BitmapSource::kReuse) << i;
    EXPECT_EQ(rig.Cell(2, i).sourceFrame, 0u) << i;
  }
  EXPECT_EQ(rig.engine.FallbackReads(), all);
  EXPECT_EQ(rig.decodes, decodes + 2) << "frame 2, and frame 0 once for all its blocks";
}

TEST(MatchEngineTest, PlainWinsTiesAndReuseNeedsAMarkedArea) {
  Rig rig;
  ASSERT_TRUE(rig.Init(Flat(2, [](uint32_t) -> uint8_t { return 90; }), BlocksOf(32), 41));
  ASSERT_TRUE(rig.engine.MatchFrame(0));
  EXPECT_EQ(rig.Cell(0, 0).kind, BlockKind::kPlain);
  EXPECT_EQ(rig.Cell(0, 0).colour, (Colour{90, 128, 128}));

  // Frame 0 marked as a bitmap: an identical reuse exists, the plain colour still wins.
  ASSERT_TRUE(rig.uses.AddUse(0, 0, 0, 32, 32));
  MatchResult result;
  ASSERT_TRUE(rig.engine.MatchBlock(1, 0, 0, 32, 32, result));
  EXPECT_EQ(result.kind, BlockKind::kPlain);

  MatchOptions noShapes = BlocksOf(32);
  noShapes.flags = MatchOptions::kImage;
  ASSERT_TRUE(rig.Attach(noShapes));
  ASSERT_TRUE(rig.engine.MatchBlock(1, 0, 0, 32, 32, result));
  EXPECT_EQ(result.subKind, BitmapSource::kNew) << "frame 0 is no bitmap in this run";
  ASSERT_TRUE(rig.uses.AddUse(0, 0, 0, 32, 32));
  ASSERT_TRUE(rig.engine.MatchBlock(1, 0, 0, 32, 32, result));
  EXPECT_EQ(result.kind, BlockKind::kBitmap);
  EXPECT_EQ(result.subKind, BitmapSource::kReuse);
  EXPECT_EQ(result.sourceFrame, 0u);
}

TEST(MatchEngineTest, NearerFrameWinsTiesAndThresholdDecides) {
  Rig rig;
  MatchOptions options = BlocksOf(32);
  options.flags = MatchOptions::kImage;
  options.limit = -10.0f;  // 10 percent of the largest distance, past the signature
  static constexpr uint8_t kLuma[] = {100, 120, 110, 101};
  ASSERT_TRUE(rig.Init(Flat(4, [](uint32_t f) { return kLuma[f]; }), options, 41));
  ASSERT_TRUE(rig.uses.AddUse(0, 0, 0, 32, 32));
  ASSERT_TRUE(rig.uses.AddUse(1, 0, 0, 32, 32));
  MatchResult result;
  ASSERT_TRUE(rig.engine.MatchBlock(2, 0, 0, 32, 32, result));  // 10 away from both
  EXPECT_EQ(result.subKind, BitmapSource::kReuse);
  EXPECT_EQ(result.sourceFrame, 1u);
  ASSERT_TRUE(rig.engine.MatchBlock(3, 0, 0, 32, 32, result));  // strictly nearer to frame 0
  EXPECT_EQ(result.sourceFrame, 0u);

  // The default quality limit is far stricter than a distance of 10 per pixel.
  options.limit = 80.0f;
  ASSERT_TRUE(rig.Attach(options));
  ASSERT_TRUE(rig.uses.AddUse(1, 0, 0, 32, 32));
  ASSERT_TRUE(rig.engine.MatchBlock(2, 0, 0, 32, 32, result));
  EXPECT_EQ(result.subKind, BitmapSource::kNew);
  EXPECT_EQ(result.sourceFrame, 2u);
}

TEST(MatchEngineTest, MirroredReuseOnlyWithCoordTransform) {
  SyntheticMovie movie{32, 16, 2, [](uint32_t frame, FrameImage& image) {
                         PaintNoise(image, 7, 0, 0, 32, 16);
                         if (frame == 1) {
                           for (uint32_t y = 0; y < 16; ++y) {
                             uint8_t* row = image.Row(y);
                             for (uint32_t x = 0; x < 16; ++x) {
                               for (uint32_t c = 0; c < 3; ++c) {
                                 std::swap(row[x * 3 + c], row[(31 - x) * 3 + c]);
                               }
                             }
                           }
                         }
                         return true;
                       }};
  MatchOptions options;
  options.blockWidth = -32;
  options.blockHeight = -16;
  options.flags |= MatchOptions::kCoordTransform;
  Rig rig;
  ASSERT_TRUE(rig.Init(movie, options, 41));
  ASSERT_TRUE(rig.engine.MatchFrame(0));
  ASSERT_TRUE(rig.engine.MatchFrame(1));
  EXPECT_EQ(rig.Cell(1, 0).subKind, BitmapSource::kReuse);
  EXPECT_EQ(rig.Cell(1, 0).mirrorFlags, MatchResult::kMirrorLeftRight);

  options.flags &= ~MatchOptions::kCoordTransform;
  ASSERT_TRUE(rig.Attach(options));
  ASSERT_TRUE(rig.engine.MatchFrame(0));
  ASSERT_TRUE(rig.engine.MatchFrame(1));
  EXPECT_EQ(rig.Cell(1, 0).subKind, BitmapSource::kNew);
}

// The channel-sum bound only passes over comparisons that would have lost: every verdict, its
// source frame and its flips come out as the full comparisons give them. The movie's frames
// take turns among three noise pictures, each frame shifting one channel by a few steps, some
// blocks flipped, so that the scores fall on both sides of the ceilings the searches pass.
TEST(MatchEngineTest, SumBoundLeavesEveryVerdictAsItWas) {
  const SyntheticMovie movie{64, 48, 18, [](uint32_t frame, FrameImage& image) {
                               PaintNoise(image, 1 + frame % 3, 0, 0, 64, 48);
                               const uint32_t channel = frame % 3;
                               const int32_t shift = static_cast<int32_t>(frame * 7 % 11) - 5;
                               for (uint32_t y = 0; y < 48; ++y) {
                                 uint8_t* row = image.Row(y);
                                 for (uint32_t x = 0; x < 64; ++x) {
                                   const int32_t v = row[x * 3 + channel] + shift;
                                   row[x * 3 + channel] =
                                       static_cast<uint8_t>(std::clamp(v, 0, 255));
                                 }
                                 // The left half's rows of the upper blocks read right to left.
                                 if (frame % 4 == 1 && y < 16) {
                                   for (uint32_t x = 0; x < 8; ++x) {
                                     for (uint32_t c = 0; c < 3; ++c) {
                                       std::swap(row[x * 3 + c], row[(15 - x) * 3 + c]);
                                     }
                                   }
                                 }
                               }
                               return true;
                             }};
  for (const bool mirrored : {false, true}) {
    for (const float limit : {80.0f, -0.05f, -0.2f, -1.0f}) {
      SCOPED_TRACE(testing::Message() << "mirrored " << mirrored << " limit " << limit);
      MatchOptions options = BlocksOf(16);
      options.searchedFrames = 6;
      options.limit = limit;
      options.plainBound = limit;
      if (mirrored) options.flags |= MatchOptions::kCoordTransform;
      Rig bound, full;
      ASSERT_TRUE(bound.Init(movie, options, 8));
      ASSERT_TRUE(full.Init(movie, options, 8));
      full.engine.SetSumBound(false);
      uint32_t reuses = 0;
      for (uint32_t f = 0; f < movie.frameCount; ++f) {
        ASSERT_TRUE(bound.engine.MatchFrame(f)) << bound.engine.lastError;
        ASSERT_TRUE(full.engine.MatchFrame(f)) << full.engine.lastError;
        for (uint32_t i = 0; i < full.screen.CellCount(); ++i) {
          ExpectSameCell(bound, full, f, i);
          reuses += full.Cell(f, i).subKind == BitmapSource::kReuse ? 1 : 0;
        }
      }
      // Not a vacuous comparison: some blocks were reused and some were not.
      EXPECT_GT(reuses, 0u);
      EXPECT_LT(reuses, (movie.frameCount - 1) * full.screen.CellCount());
    }
  }
}

TEST(MatchEngineTest, UndecodableFrameFailsTheRun) {
  SyntheticMovie movie = StaticNoise(4);
  movie.painter = [](uint32_t frame, FrameImage&) { return frame != 2; };
  Rig rig;
  ASSERT_TRUE(rig.Init(movie, BlocksOf(16), 41));
  EXPECT_EQ(rig.engine.Status(), MatchStatus::kRunning);
  ASSERT_TRUE(rig.engine.MatchFrame(0));
  ASSERT_TRUE(rig.engine.MatchFrame(1));
  EXPECT_FALSE(rig.engine.MatchFrame(2));
  EXPECT_EQ(rig.engine.Status(), MatchStatus::kFailed);
  EXPECT_FALSE(rig.engine.lastError.empty());
}

TEST(MatchEngineTest, EmptyVideoMatchesNothing) {
  Rig rig;
  rig.frames = std::make_unique<FrameStore>();
  ASSERT_TRUE(rig.frames->SetEmptyVideo(5, 500, 64, 48, 10.0));
  ASSERT_TRUE(rig.frames->SelectRange(0, 0xFFFFFFFFu));
  ASSERT_TRUE(rig.Attach(MatchOptions{}));
  for (uint32_t f = 0; f < rig.frames->RangeFrameCount(); ++f) {
    ASSERT_TRUE(rig.engine.MatchFrame(f));
    ASSERT_TRUE(rig.uses.PrepareFrame(f));
    ASSERT_TRUE(rig.screen.Diff(f));
    EXPECT_EQ(rig.Cell(f, 0).kind, BlockKind::kNone);
  }
  rig.engine.Finish();
  EXPECT_EQ(rig.engine.Status(), MatchStatus::kFinished);
  EXPECT_EQ(rig.engine.Progress(), 100);
}

// A huge frame's blocks each compare many pixels against many earlier frames: a cancelled run
// gives the frame up between blocks instead of recording verdicts of searches cut short.
TEST(MatchEngineTest, SetCancelFlagFailsTheFrameWithoutAVerdict) {
  Rig rig;
  ASSERT_TRUE(rig.Init(StaticNoise(3), BlocksOf(16), 4));
  std::atomic<bool> cancel{false};
  rig.engine.SetCancelFlag(&cancel);
  ASSERT_TRUE(rig.engine.MatchFrame(0));
  cancel = true;
  EXPECT_FALSE(rig.engine.MatchFrame(1));
  EXPECT_EQ(rig.engine.Status(), MatchStatus::kFailed);
  // The unchanged first block would have been a reuse of frame 0; nothing says so.
  EXPECT_EQ(rig.Cell(1, 0).kind, BlockKind::kNone);
  rig.engine.SetCancelFlag(nullptr);
}

}  // namespace
}  // namespace quillon
