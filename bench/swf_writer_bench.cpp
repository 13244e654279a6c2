// Throughput of the hot writer paths: one frame shape of many blocks, and the header
// normalisation pass over a frame's tags.
#include <benchmark/benchmark.h>

#include "swf/swf_writer.h"

namespace {

using quillon::SwfStyleChange;
using quillon::SwfWriter;

// A 640 x 480 frame of 16 x 16 blocks: 1200 rectangles, every one with its own fill.
void BM_FrameShape1200Blocks(benchmark::State& state) {
  SwfWriter w;
  if (!w.Open()) state.SkipWithError("open");
  for (auto _ : state) {
    w.Output()->Truncate(0);
    w.BeginTag(quillon::TagCode::kDefineShape2);
    w.Put16(1);
    w.WriteRect(quillon::SwfRect{0, 640, 0, 480});
    w.WriteShapeStyleBits(11, 0);
    uint32_t fill = 1;
    for (int y = 0; y < 480; y += 16) {
      for (int x = 0; x < 640; x += 16) {
        SwfStyleChange c;
        c.moveTo = SwfStyleChange::Point{x, y};
        c.fillStyle1 = fill++;
        w.WriteStyleChange(c, 11, 0);
        w.WriteStraightEdge(16, 0);
        w.WriteStraightEdge(0, 16);
        w.WriteStraightEdge(-16, 0);
        w.WriteStraightEdge(0, -16);
      }
    }
    w.WriteEndShape();
    w.EndTag();
    benchmark::DoNotOptimize(w.Output()->Data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w.Cursor());
}
BENCHMARK(BM_FrameShape1200Blocks);

// 2000 small tags (half of them shortened) behind one large bitmap tag.
void BM_CompactFrameTags(benchmark::State& state) {
  SwfWriter w;
  if (!w.Open()) state.SkipWithError("open");
  uint32_t end = 0;
  for (auto _ : state) {
    state.PauseTiming();
    w.Output()->Truncate(0);
    w.BeginTag(quillon::TagCode::kDefineBits);
    for (int i = 0; i < 20000; ++i) w.Put8(uint8_t(i));
    w.EndTag();
    for (int i = 0; i < 1000; ++i) {
      w.WritePlaceObject(uint16_t(i), uint16_t(i), nullptr);
      w.WriteRemoveObject2(uint16_t(i));
    }
    state.ResumeTiming();
    end = w.Compact(0, w.Cursor());
    benchmark::DoNotOptimize(end);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * end);
}
BENCHMARK(BM_CompactFrameTags);

}  // namespace
