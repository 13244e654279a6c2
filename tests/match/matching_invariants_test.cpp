// Randomised runs of the three matching stages with a stand-in for the Transport's per-frame
// steps, checking what the Transport relies on over many frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "match/frame_use_store.h"
#include "match/match_engine.h"
#include "match/screen_use_store.h"
#include "synthetic_video.h"

namespace quillon {
namespace {

constexpr uint32_t kWidth = 96;
constexpr uint32_t kHeight = 64;
constexpr uint32_t kBlock = 16;
constexpr uint32_t kCols = kWidth / kBlock;
constexpr uint32_t kRows = kHeight / kBlock;
constexpr uint32_t kFrames = 90;
constexpr uint32_t kPartStart = 45;
constexpr int32_t kSearched = 6;

// Per frame and block, the pattern shown: flat colours and noise, changing, staying and coming
// back from earlier frames at random.
std::vector<std::vector<uint32_t>> MakeScript(uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::vector<uint32_t>> script(kFrames, std::vector<uint32_t>(kCols * kRows));
  uint32_t nextId = 0;
  for (uint32_t& id : script[0]) id = nextId++;
  for (uint32_t f = 1; f < kFrames; ++f) {
    for (uint32_t b = 0; b < kCols * kRows; ++b) {
      const uint32_t roll = random() % 100;
      if (roll < 12) {
        script[f][b] = nextId++;
      } else if (roll < 22) {
        script[f][b] = script[f - 1 - std::min<uint32_t>(f - 1, random() % 10)][b];
      } else {
        script[f][b] = script[f - 1][b];
      }
    }
  }
  return script;
}

void PaintPattern(FrameImage& image, uint32_t id, uint32_t x, uint32_t y) {
  if (id % 3 == 0) {
    (void)image.FillRect(
        x, y, kBlock, kBlock,
        Colour{static_cast<uint8_t>(16 + id * 37 % 200), static_cast<uint8_t>(100 + id % 50), 128});
  } else {
    synth::PaintNoise(image, id, x, y, kBlock, kBlock);
  }
}

bool PaintFrame(const std::vector<std::vector<uint32_t>>& script, uint32_t f, FrameImage& image) {
  for (uint32_t r = 0; r < kRows; ++r) {
    for (uint32_t c = 0; c < kCols; ++c)
      PaintPattern(image, script[f][r * kCols + c], c * kBlock, r * kBlock);
  }
  return true;
}

// Seed, and the block option: -20 pixels must give the same 16-pixel grid as -16, since blocks
// that straddle the use grids' 8 x 8 cells would show pixels never defined as a bitmap.
class MatchingInvariantsTest : public ::testing::TestWithParam<std::tuple<uint32_t, float>> {};

TEST_P(MatchingInvariantsTest, StageBookkeepingHoldsOverManyFrames) {
  const auto [seed, blockOption] = GetParam();
  const auto script = MakeScript(seed);
  synth::SyntheticMovie movie{kWidth, kHeight, kFrames, [&script](uint32_t f, FrameImage& image) {
                                return PaintFrame(script, f, image);
                              }};
  auto frames = synth::MakeSyntheticStore(movie, kSearched + 1);
  ASSERT_NE(frames, nullptr);
  MatchOptions options;
  options.blockWidth = blockOption;
  options.blockHeight = blockOption;
  options.searchedFrames = kSearched;
  FrameUseStore uses;
  ScreenUseStore screen;
  MatchEngine engine;
  ASSERT_TRUE(engine.Setup(options, frames.get(), &uses, &screen));
  ASSERT_EQ(engine.BlockWidth(), kBlock);
  ASSERT_EQ(engine.BlockHeight(), kBlock);
  ASSERT_TRUE(uses.Setup(*frames));
  ASSERT_TRUE(screen.Setup(*frames, engine.BlockWidth(), engine.BlockHeight()));
  ASSERT_TRUE(engine.Start());

  // Reference pictures, painted independently of the frame cache.
  std::vector<std::unique_ptr<FrameImage>> pictures;
  for (uint32_t f = 0; f < kFrames; ++f) {
    pictures.push_back(std::make_unique<FrameImage>());
    ASSERT_TRUE(pictures.back()->Allocate(kWidth, kHeight));
    PaintFrame(script, f, *pictures.back());
  }

  uint32_t nextCharacterId = 1;
  std::set<uint32_t> live;  // frames whose placed content may still be on the stage
  uint32_t reuses = 0;
  uint32_t removals = 0;
  for (uint32_t m = 0; m < kFrames; ++m) {
    SCOPED_TRACE(::testing::Message() << "frame " << m);
    if (m == kPartStart) {
      // A new part cannot show bitmaps of the previous one.
      for (uint32_t f = m - kSearched - 1; f < m; ++f) {
        FrameUseStore::MarkCells(uses.GetFrameUse(f)->grid, 0, 0, kWidth, kHeight, false);
      }
      screen.SetPartStart(m);
      live.clear();
    }
    ASSERT_TRUE(engine.MatchFrame(m)) << engine.lastError;
    ASSERT_TRUE(uses.PrepareFrame(m));

    // No two bitmap rectangles of a frame overlap.
    std::vector<int> hits(kCols * 2 * kRows * 2, 0);
    for (UseRect& rect : uses.GetFrameUse(m)->rects) {
      rect.characterId = nextCharacterId++;
      for (uint32_t y = rect.y; y < rect.y + rect.h; y += 8) {
        for (uint32_t x = rect.x; x < rect.x + rect.w; x += 8) {
          ASSERT_EQ(++hits[(y / 8) * kCols * 2 + x / 8], 1);
        }
      }
    }

    ASSERT_TRUE(screen.Diff(m));
    for (uint32_t r : screen.Removals()) {
      ASSERT_TRUE(live.count(r)) << "frame " << r << " removed twice or never placed";
      live.erase(r);
      ++removals;
    }
    for (uint32_t i = 0; i < screen.CellCount(); ++i) {
      ScreenCell& cell = *screen.GetScreenCell(i % kCols, i / kCols);
      ASSERT_NE(cell.shown.kind, BlockKind::kNone);
      if (cell.changed) live.insert(m);
      if (cell.changed && cell.shown.kind == BlockKind::kBitmap) {
        // The whole block must come from the one bitmap that holds its corner.
        const UseRect* rect =
            uses.FindRect(cell.shown.sourceFrame, cell.shown.sourceX, cell.shown.sourceY);
        ASSERT_NE(rect, nullptr);
        ASSERT_LE(cell.shown.sourceX + kBlock, rect->x + rect->w);
        ASSERT_LE(cell.shown.sourceY + kBlock, rect->y + rect->h);
        cell.characterId = rect->characterId;
      }
    }
    // Every removed frame shows nothing any more, every frame still showing something is kept.
    std::set<uint32_t> shown;
    for (uint32_t i = 0; i < screen.CellCount(); ++i) {
      shown.insert(screen.GetScreenCell(i % kCols, i / kCols)->placedFrame);
    }
    ASSERT_EQ(shown, live);

    // The stage shows the current picture exactly.
    for (uint32_t i = 0; i < screen.CellCount(); ++i) {
      const BlockCell& shownCell = screen.GetScreenCell(i % kCols, i / kCols)->shown;
      const uint32_t bx = i % kCols * kBlock;
      const uint32_t by = i / kCols * kBlock;
      if (shownCell.kind == BlockKind::kBitmap && shownCell.sourceFrame != m) ++reuses;
      bool same = true;
      for (uint32_t y = 0; y < kBlock; ++y) {
        for (uint32_t x = 0; x < kBlock; ++x) {
          const uint8_t* want = pictures[m]->Row(by + y) + (bx + x) * 3;
          const uint8_t* got = shownCell.kind == BlockKind::kPlain
                                   ? shownCell.colour.data()
                                   : pictures[shownCell.sourceFrame]->Row(shownCell.sourceY + y) +
                                         (shownCell.sourceX + x) * 3;
          same = same && std::equal(want, want + 3, got);
        }
      }
      ASSERT_TRUE(same) << "block " << i;
    }

    ASSERT_TRUE(screen.NewRects());
    // Every drawn (changed) cell lies in exactly one rectangle, of one fill.
    std::vector<int> drawn(screen.CellCount(), 0);
    for (const ScreenRect& rect : screen.Rects()) {
      ASSERT_EQ(rect.x % kBlock, 0u);
      ASSERT_EQ(rect.w % kBlock, 0u);
      const ScreenCell& corner = *screen.GetScreenCell(rect.x / kBlock, rect.y / kBlock);
      for (uint32_t y = rect.y; y < rect.y + rect.h; y += kBlock) {
        for (uint32_t x = rect.x; x < rect.x + rect.w; x += kBlock) {
          const ScreenCell& cell = *screen.GetScreenCell(x / kBlock, y / kBlock);
          ++drawn[(y / kBlock) * kCols + x / kBlock];
          ASSERT_EQ(cell.shown.kind, corner.shown.kind);
          if (cell.shown.kind == BlockKind::kPlain) {
            ASSERT_EQ(cell.shown.colour, corner.shown.colour);
          } else {
            ASSERT_EQ(cell.characterId, corner.characterId);
            ASSERT_EQ(cell.shown.sourceX - corner.shown.sourceX, x - rect.x);
            ASSERT_EQ(cell.shown.sourceY - corner.shown.sourceY, y - rect.y);
          }
        }
      }
    }
    for (uint32_t i = 0; i < screen.CellCount(); ++i) {
      ASSERT_EQ(drawn[i], screen.GetScreenCell(i % kCols, i / kCols)->changed ? 1 : 0)
          << "cell " << i;
    }
  }
  // The script must have exercised reuse and removal, or the checks above prove little.
  EXPECT_GT(reuses, 100u);
  EXPECT_GT(removals, 10u);
}

INSTANTIATE_TEST_SUITE_P(Seeds, MatchingInvariantsTest,
                         ::testing::Combine(::testing::Values(1u, 2u, 20261208u),
                                            ::testing::Values(-16.0f, -20.0f)));

}  // namespace
}  // namespace quillon
