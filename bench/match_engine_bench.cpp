// MatchFrame per frame on 640 x 360 scenes with 40 searched frames: a static scene (every block
// reuses), full motion (every block new after comparing against 40 marked frames, the worst
// case) and a talking head (a square moving over a still background).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "match/frame_use_store.h"
#include "match/match_engine.h"
#include "match/screen_use_store.h"
#include "synthetic_video.h"

namespace quillon {
namespace {

constexpr uint32_t kWidth = 640;
constexpr uint32_t kHeight = 360;
constexpr uint32_t kFrames = 200;
constexpr uint32_t kDistinct = 64;  // more than the search reaches back

enum Scene : int64_t { kStatic = 0, kFullMotion = 1, kTalkingHead = 2 };

// Pictures are painted once; the reader then only copies them, so decoding is cheap and, being
// done before the timed call, not measured at all.
struct Pictures {
  Pictures() {
    for (uint32_t i = 0; i < kDistinct; ++i) {
      auto image = std::make_unique<FrameImage>();
      if (!image->Allocate(kWidth, kHeight)) continue;
      synth::PaintNoise(*image, 1000 + i, 0, 0, kWidth, kHeight);
      noise.push_back(std::move(image));
    }
    square = std::make_unique<FrameImage>();
    if (square->Allocate(96, 96)) synth::PaintNoise(*square, 77, 0, 0, 96, 96);
  }
  std::vector<std::unique_ptr<FrameImage>> noise;
  std::unique_ptr<FrameImage> square;
};

const Pictures& SharedPictures() {
  static const Pictures pictures;
  return pictures;
}

bool Paint(Scene scene, uint32_t frame, FrameImage& image) {
  const Pictures& p = SharedPictures();
  const FrameImage& base = *p.noise[scene == kFullMotion ? frame % kDistinct : 0];
  std::memcpy(image.Pixels(), base.Pixels(), base.ByteSize());
  if (scene == kTalkingHead) {
    // Sways left and right by 4 pixels a frame, bobbing a little.
    const uint32_t phase = frame % 100;
    const int32_t x = 200 + 4 * static_cast<int32_t>(phase < 50 ? phase : 100 - phase);
    const int32_t y = 120 + static_cast<int32_t>(frame % 8);
    return image.CopyRect(x, y, 96, 96, *p.square, 0, 0);
  }
  return true;
}

struct Run {
  explicit Run(Scene scene) {
    synth::SyntheticMovie movie{kWidth, kHeight, kFrames, [scene](uint32_t f, FrameImage& image) {
                                  return Paint(scene, f, image);
                                }};
    frames = synth::MakeSyntheticStore(movie, 41);
  }
  bool Restart(const MatchOptions& options) {
    next = 0;
    return frames && engine.Setup(options, frames.get(), &uses, &screen) && uses.Setup(*frames) &&
           screen.Setup(*frames, engine.BlockWidth(), engine.BlockHeight()) && engine.Start();
  }
  std::unique_ptr<FrameStore> frames;
  FrameUseStore uses;
  ScreenUseStore screen;
  MatchEngine engine;
  uint32_t next = 0;
};

void BM_MatchFrame(benchmark::State& state) {
  const Scene scene = static_cast<Scene>(state.range(0));
  MatchOptions options;  // defaults: 5 x 5 blocks, image and shape matching
  options.searchedFrames = 40;
  if (state.range(1) > 0) {
    options.blockWidth = -static_cast<float>(state.range(1));
    options.blockHeight = -static_cast<float>(state.range(1));
  }
  Run run(scene);
  uint64_t reused = 0;
  uint64_t blocks = 0;
  auto restart = [&] {
    if (!run.Restart(options)) return false;
    // Fill the search window first: only frames with 40 earlier ones are timed.
    for (; run.next < 41; ++run.next) {
      if (!run.engine.MatchFrame(run.next)) return false;
    }
    return true;
  };
  if (!restart()) {
    state.SkipWithError("set-up failed");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    bool ok = run.next < kFrames || restart();
    ok = ok && run.frames->GetFrame(run.next) != nullptr;
    state.ResumeTiming();
    if (!ok || !run.engine.MatchFrame(run.next)) {
      state.SkipWithError("MatchFrame failed");
      break;
    }
    state.PauseTiming();
    const FrameCells& cells = *run.screen.GetFrameCells(run.next);
    for (const BlockCell& cell : cells.cells) reused += cell.subKind == BitmapSource::kReuse;
    blocks += cells.cells.size();
    ++run.next;
    state.ResumeTiming();
  }
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["reused"] = blocks ? static_cast<double>(reused) / blocks : 0.0;
  state.counters["blocks"] = static_cast<double>(run.screen.CellCount());
}

// The Transport's per-frame calls into the stores after matching: cutting the frame's bitmap
// rectangles, the stage difference and the merged rectangles to draw (matching not timed).
void BM_FrameBookkeeping(benchmark::State& state) {
  const Scene scene = static_cast<Scene>(state.range(0));
  MatchOptions options;
  options.searchedFrames = 40;
  options.blockWidth = -static_cast<float>(state.range(1));
  options.blockHeight = -static_cast<float>(state.range(1));
  Run run(scene);
  if (!run.Restart(options)) {
    state.SkipWithError("set-up failed");
    return;
  }
  uint64_t rects = 0;
  for (auto _ : state) {
    state.PauseTiming();
    bool ok = run.next < kFrames || run.Restart(options);
    ok = ok && run.engine.MatchFrame(run.next);
    state.ResumeTiming();
    ok = ok && run.uses.PrepareFrame(run.next) && run.screen.Diff(run.next);
    if (ok) {
      // Character ids as the Transport gives them, so that bitmap cells can merge.
      uint32_t id = 1;
      for (UseRect& rect : run.uses.GetFrameUse(run.next)->rects) rect.characterId = id++;
      for (uint32_t r = 0; r < run.screen.Rows(); ++r) {
        for (uint32_t c = 0; c < run.screen.Cols(); ++c) {
          ScreenCell& cell = *run.screen.GetScreenCell(c, r);
          if (!cell.changed || cell.shown.kind != BlockKind::kBitmap) continue;
          const UseRect* rect =
              run.uses.FindRect(cell.shown.sourceFrame, cell.shown.sourceX, cell.shown.sourceY);
          cell.characterId = rect ? rect->characterId + 1000 * cell.shown.sourceFrame : 0;
        }
      }
      ok = run.screen.NewRects();
    }
    if (!ok) {
      state.SkipWithError("bookkeeping failed");
      break;
    }
    rects += run.screen.Rects().size();
    ++run.next;
  }
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["rects"] =
      state.iterations() ? static_cast<double>(rects) / static_cast<double>(state.iterations())
                         : 0.0;
}

BENCHMARK(BM_FrameBookkeeping)
    ->ArgNames({"scene", "block"})
    ->Args({kFullMotion, 8})
    ->Args({kTalkingHead, 8})
    ->Args({kTalkingHead, 16})
    ->Unit(benchmark::kMicrosecond);

// Scene, then the block size in pixels (0: the default of 5 blocks across and down).
BENCHMARK(BM_MatchFrame)
    ->ArgNames({"scene", "block"})
    ->Args({kStatic, 0})
    ->Args({kFullMotion, 0})
    ->Args({kTalkingHead, 0})
    ->Args({kStatic, 16})
    ->Args({kFullMotion, 16})
    ->Args({kTalkingHead, 16})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillon
