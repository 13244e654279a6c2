// Writes the hand-made movies the player tests need, with the project's own SWF writer:
//   rect.swf     64 x 48, two frames of plain rectangles, stops on the second
//   corrupt.swf  rect.swf with a damaged signature, for the load-error check
//   overlay.swf  an overlay of <width> x <height> pixels with one yellow rectangle at depth 1
// Usage: player_movie_writer <output folder> <overlay width> <overlay height>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "swf/action_builder.h"
#include "swf/swf_writer.h"

namespace {

using quillon::ActionBuilder;
using quillon::SwfFillStyle;
using quillon::SwfMatrix;
using quillon::SwfRect;
using quillon::SwfRgb;
using quillon::SwfStyleChange;
using quillon::SwfWriter;
using quillon::TagCode;

constexpr int32_t kTwips = 20;

// One solid-filled rectangle in twips, as DefineShape (code 2).
void WriteSolidRect(SwfWriter& w, uint16_t id, int32_t x, int32_t y, int32_t width,
                    int32_t height, uint32_t rrggbb) {
  w.BeginTag(TagCode::kDefineShape);
  w.Put16(id);
  w.WriteRect(SwfRect{x, x + width, y, y + height});
  w.WriteFillStyles({SwfFillStyle::Solid(SwfRgb::FromRgb(rrggbb))}, false);
  w.WriteLineStyles({}, false);
  w.WriteShapeStyleBits(1, 0);
  SwfStyleChange move;
  move.moveTo = SwfStyleChange::Point{x, y};
  move.fillStyle1 = 1;
  w.WriteStyleChange(move, 1, 0);
  w.WriteStraightEdge(width, 0);
  w.WriteStraightEdge(0, height);
  w.WriteStraightEdge(-width, 0);
  w.WriteStraightEdge(0, -height);
  w.WriteEndShape();
  w.EndTag();
}

bool Finish(SwfWriter& w, const std::string& folder, const char* name, uint32_t frames,
            bool damage = false) {
  w.Compact(w.AfterHeaderPosition(), w.Cursor());
  w.WriteEnd();
  w.FinishPart(frames);
  if (w.OutputFailed()) return false;
  const std::string path = folder + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  if (damage) w.Output()->Data()[0] = 'Q';
  const uint32_t length = w.Cursor();
  const bool ok = std::fwrite(w.Output()->Data(), 1, length, f) == length;
  return std::fclose(f) == 0 && ok;
}

// Frame 1: the whole stage red. Frame 2: green left half, blue right half, then stop. A player
// that shows frame 1 after playing through has not reached the end.
bool WriteRectMovie(const std::string& folder) {
  constexpr int32_t kW = 64 * kTwips;
  constexpr int32_t kH = 48 * kTwips;
  for (int pass = 0; pass < 2; ++pass) {
    SwfWriter w;
    if (!w.Open()) return false;
    ActionBuilder actions(w);
    w.WriteFileHeader(quillon::kSwfVersion, SwfRect{0, kW, 0, kH}, 12.0);
    w.WriteSetBackgroundColor(0xFFFFFF);
    WriteSolidRect(w, 1, 0, 0, kW, kH, 0xFF0000);
    w.WritePlaceObject(1, 1, nullptr);
    w.WriteShowFrame();
    w.WriteRemoveObject2(1);
    WriteSolidRect(w, 2, 0, 0, kW / 2, kH, 0x00FF00);
    WriteSolidRect(w, 3, kW / 2, 0, kW / 2, kH, 0x0000FF);
    w.WritePlaceObject(2, 2, nullptr);
    w.WritePlaceObject(3, 3, nullptr);
    actions.StopScript();
    w.WriteShowFrame();
    if (pass == 0) {
      if (!Finish(w, folder, "rect.swf", 2)) return false;
    } else {
      if (!Finish(w, folder, "corrupt.swf", 2, true)) return false;
    }
  }
  return true;
}

// The overlay's stage is the video's size, so the video fills it; the rectangle sits at
// pixels (8, 8) to (40, 32).
bool WriteOverlay(const std::string& folder, int32_t width, int32_t height) {
  SwfWriter w;
  if (!w.Open()) return false;
  w.WriteFileHeader(quillon::kSwfVersion, SwfRect{0, width * kTwips, 0, height * kTwips}, 12.0);
  // Dropped by the merge: the encoder's own background wins.
  w.WriteSetBackgroundColor(0xFF00FF);
  WriteSolidRect(w, 1, 8 * kTwips, 8 * kTwips, 32 * kTwips, 24 * kTwips, 0xFFFF00);
  w.WritePlaceObject(1, 1, nullptr);
  w.WriteShowFrame();
  return Finish(w, folder, "overlay.swf", 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <output folder> <overlay width> <overlay height>\n", argv[0]);
    return 2;
  }
  std::string folder = argv[1];
  if (!folder.empty() && folder.back() != '/') folder += '/';
  const int32_t width = std::atoi(argv[2]);
  const int32_t height = std::atoi(argv[3]);
  if (width <= 0 || height <= 0 || !WriteRectMovie(folder) || !WriteOverlay(folder, width, height)) {
    std::fprintf(stderr, "could not write the movies into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
