// Turns 8-bit planar Y'CbCr pictures, as video decoders deliver them, into the engine's packed
// Y, Cb, Cr rows without a general-purpose scaler.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon {

// The result equals the two-step route the engine takes for any other source: the decoder's
// colours become R, G, B bytes (rounded to the nearest, clamped to [0, 255]), which the engine
// converts to its own Y, Cb, Cr. Going through R, G, B keeps colours outside what R, G, B can
// show clamped the same way as on every other path, and keeps greys grey.
//
// Chroma is placed where the general scaler placed it before, so pictures do not move against
// earlier encodings: at half width one sample serves both pixels of a pair; at half height
// chroma row j stands on luma row 2j + 1 and row 2j takes the mean of rows j - 1 and j.
class YuvConverter {
 public:
  struct Planes {
    std::array<const uint8_t*, 3> data{};  // Y, Cb, Cr
    std::array<int32_t, 3> stride{};
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t chromaShiftX = 0;  // 0 or 1: chroma planes at full or half width
    uint32_t chromaShiftY = 0;  // likewise for the height
  };

  // The matrix as four coefficients in units of 1/65536 for limited-range chroma: Cr to red,
  // Cb to blue, Cb and Cr to green (subtracted). fullRange: luma spans 0-255 and chroma 1-255,
  // rather than 16-235 and 16-240.
  void SetMatrix(const std::array<int32_t, 4>& coefficients, bool fullRange);

  // Writes width x 3 bytes per row, rows outStride apart. False when the shape is one this
  // converter does not take (a shift above 1, a null plane, an empty picture) or memory runs
  // out; SetMatrix must have been called.
  [[nodiscard]] bool Convert(const Planes& in, uint8_t* out, std::size_t outStride);

  // The matrix in units of 1/65536: luma per step (and the offset, with the rounding half),
  // chroma per quarter step about the centre, so that mixing two rows needs no rounding.
  struct Terms {
    int32_t luma = 0;
    int32_t lumaOffset = 0;
    int32_t redCr = 0;
    int32_t blueCb = 0;
    int32_t greenCb = 0;
    int32_t greenCr = 0;
  };

 private:
  Terms terms_;
  bool ready_ = false;
  std::vector<uint8_t> rgbRow_;
  std::vector<int16_t> cbRow_, crRow_;  // this row's chroma, one per pixel
};

}  // namespace quillon
