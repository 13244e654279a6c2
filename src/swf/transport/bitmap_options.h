// The settings the bitmap stage reads, with its thresholds derived once per run.
#pragma once

#include <cstdint>

namespace quillon {

struct TransportOptions;

// Kept apart from TransportOptions so the hot encoding code sees plain, ready values.
struct BitmapOptions {
  uint32_t flags = 0;  // TransportOptions::kJpeg ... kTransientResizeVertical
  int32_t jpegQuality = 65;
  int32_t zlibQuality = 9;
  uint32_t zlib8Palette = 32;  // taken up to 256 by the encoder
  uint32_t zlib8UniqueLimit = 99999;
  int32_t resizeMethod = 1;
  int32_t transientResizeMethod = 1;
  // Squared colour distances (0 ... 195075).
  float paletteThreshold = 0.0f;
  float resizeThreshold = 0.0f;
  float transientResizeThreshold = 0.0f;
};

// Thresholds: palette = ZLIB8PaletteDiffLimit percent of the largest distance; resize and
// transient resize = the quality limits through the two quads of Transport.Signature.
BitmapOptions MakeBitmapOptions(const TransportOptions& transport);

}  // namespace quillon
