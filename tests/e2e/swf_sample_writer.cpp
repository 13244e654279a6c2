// Writes a small but complete SWF 5 movie with the stream writer, for an independent parser to
// check. Usage: swf_sample_writer <output folder>   (writes <folder>/encoded.swf)
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "swf/action_builder.h"
#include "swf/swf_writer.h"

namespace {

using quillon::ActionBuilder;
using quillon::kFixedOne;
using quillon::kPixelToTwipScale;
using quillon::SwfFillStyle;
using quillon::SwfMatrix;
using quillon::SwfRect;
using quillon::SwfRgb;
using quillon::SwfStyleChange;
using quillon::SwfWriter;
using quillon::TagCode;

constexpr int kWidth = 32;
constexpr int kHeight = 24;

// A 2 x 2 ARGB bitmap (format 5), zlib-compressed.
bool WriteLosslessBitmap(SwfWriter& w, uint16_t id) {
  const uint8_t argb[16] = {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00,
                            0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  std::vector<uint8_t> packed(compressBound(sizeof argb));
  uLongf packedSize = packed.size();
  if (compress2(packed.data(), &packedSize, argb, sizeof argb, 9) != Z_OK) return false;
  w.BeginTag(TagCode::kDefineBitsLossless);
  w.Put16(id);
  w.Put8(5);  // 32-bit ARGB
  w.Put16(2);
  w.Put16(2);
  w.Append(packed.data(), static_cast<uint32_t>(packedSize));
  w.EndTag();
  return true;
}

void DrawRect(SwfWriter& w, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t fill,
              uint32_t fillBits) {
  SwfStyleChange move;
  move.moveTo = SwfStyleChange::Point{x, y};
  move.fillStyle1 = fill;
  w.WriteStyleChange(move, fillBits, 0);
  w.WriteStraightEdge(width, 0);
  w.WriteStraightEdge(0, height);
  w.WriteStraightEdge(-width, 0);
  w.WriteStraightEdge(0, -height);
}

// A frame shape as the encoder draws them: pixel units, a solid and a clipped bitmap fill.
void WriteFrameShape(SwfWriter& w, uint16_t id, uint16_t bitmapId) {
  w.BeginTag(TagCode::kDefineShape2);
  w.Put16(id);
  w.WriteRect(SwfRect{0, kWidth, 0, kHeight});
  const std::vector<SwfFillStyle> fills = {
      SwfFillStyle::Solid(SwfRgb{0x20, 0x40, 0x60, 255}),
      SwfFillStyle::ClippedBitmap(bitmapId, SwfMatrix::Scale(kFixedOne * 4, kFixedOne * 4, 16, 8))};
  w.WriteFillStyles(fills, false);
  w.WriteLineStyles({}, false);
  const uint32_t fillBits = quillon::CountBits(static_cast<uint32_t>(fills.size()));
  w.WriteShapeStyleBits(fillBits, 0);
  DrawRect(w, 0, 0, 16, 24, 1, fillBits);
  DrawRect(w, 16, 8, 8, 8, 2, fillBits);
  w.WriteEndShape();
  w.EndTag();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  std::string prefix = argv[1];
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';

  SwfWriter w;
  if (!w.Open()) return 1;
  ActionBuilder actions(w);
  w.WriteFileHeader(quillon::kSwfVersion, SwfRect{0, kWidth * 20, 0, kHeight * 20}, 12.0);
  const uint32_t start = w.AfterHeaderPosition();
  w.WriteSetBackgroundColor(0x336699);
  w.WriteRectangleShape(63999, 0, 0, kWidth, kHeight, true);
  if (!WriteLosslessBitmap(w, 63998)) return 1;
  WriteFrameShape(w, 63997, 63998);
  const SwfMatrix toTwips = SwfMatrix::Scale(kPixelToTwipScale, kPixelToTwipScale);
  w.WritePlaceObject(63997, 1, &toTwips);
  actions.BeginAction();
  actions.PushString("who");
  actions.PushString("quillon");
  actions.SetVariable();
  actions.EndAction();
  w.WriteShowFrame();
  w.WriteRemoveObject2(1);
  w.WriteShowFrame();
  // Part chaining goes first, right behind the header, as in a real part.
  const uint32_t scriptStart = w.Cursor();
  actions.PartVariablesScript("encoded", 1, false);
  if (!w.Output()->MoveBlock(scriptStart, w.Cursor(), start)) return 1;
  w.Compact(start, w.Cursor());
  w.WriteEnd();
  w.FinishPart(2);
  if (!w.WritePartFile(prefix, 1)) {
    std::fprintf(stderr, "%s\n", w.lastError.c_str());
    return 1;
  }
  return 0;
}
