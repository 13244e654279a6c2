// Three-byte pixel colours and the JPEG colour-space conversions every stage shares.
#pragma once

#include <array>
#include <cstdint>

namespace quillon {

// A colour passed between operations: the three bytes of a pixel in memory order
// (Y, Cb, Cr for video frames; R, G, B for images tagged so).
using Colour = std::array<uint8_t, 3>;

// What the three bytes of a pixel mean.
enum class ColourTag : int32_t {
  kPlain = 0,  // scratch storage without meaning
  kRgb = 1,
  kYCbCr = 2,
};

// Sum over the three channels of the squared byte differences.
inline uint32_t PixelDistance(const uint8_t* a, const uint8_t* b) {
  const int32_t d0 = int32_t{a[0]} - b[0];
  const int32_t d1 = int32_t{a[1]} - b[1];
  const int32_t d2 = int32_t{a[2]} - b[2];
  return static_cast<uint32_t>(d0 * d0 + d1 * d1 + d2 * d2);
}

// In-place conversions of `count` packed 3-byte pixels. The coefficients are 32-bit floats;
// the results equal evaluating them in double precision and truncating after clamping to
// [0, 255], which keeps greys exact in both directions ((v, v, v) <-> (v, 128, 128)) where
// single-precision sums do not.
void RgbToYCbCr(uint8_t* pixels, uint32_t count);
// From in to out (the same bytes or not overlapping); bgr: the source is blue-green-red.
void RgbToYCbCr(const uint8_t* in, uint8_t* out, uint32_t count, bool bgr);
void YCbCrToRgb(uint8_t* pixels, uint32_t count);
// Four bytes 0xFF, R, G, B per pixel (the lossless bitmaps' layout) from packed Y, Cb, Cr,
// with the same R, G, B as YCbCrToRgb.
void YCbCrToArgb(const uint8_t* in, uint8_t* out, uint32_t count);
// Exchanges bytes 0 and 2 of every pixel (blue-green-red <-> red-green-blue).
void SwapRedBlue(uint8_t* pixels, uint32_t count);

// Single-pixel forms (from `in` to `out`, which may be the same three bytes).
void RgbToYCbCr(const uint8_t* in, uint8_t* out);
void YCbCrToRgb(const uint8_t* in, uint8_t* out);

}  // namespace quillon
