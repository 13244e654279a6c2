#include "video/colour.h"

namespace quillon {
namespace {

// Coefficients are single-precision constants; products and sums are formed in double.
constexpr double kYr = 0.299f, kYg = 0.587f, kYb = 0.114f;
constexpr double kCbr = -0.16874f, kCbg = -0.33126f, kCbb = 0.5f;
constexpr double kCrr = 0.5f, kCrg = -0.41869f, kCrb = -0.08131f;
constexpr double kRcr = 1.402f, kGcb = -0.34414f, kGcr = -0.71414f, kBcb = 1.772f;

inline uint8_t ClampTruncate(double v) {
  if (v <= 0.0) return 0;
  if (v >= 255.0) return 255;
  return static_cast<uint8_t>(v);
}

}  // namespace

void RgbToYCbCr(const uint8_t* in, uint8_t* out) {
  const double r = in[0], g = in[1], b = in[2];
  const double y = kYr * r + kYg * g + kYb * b;
  const double cb = kCbr * r + kCbg * g + kCbb * b + 128.0;
  const double cr = kCrr * r + kCrg * g + kCrb * b + 128.0;
  out[0] = ClampTruncate(y);
  out[1] = ClampTruncate(cb);
  out[2] = ClampTruncate(cr);
}

void YCbCrToRgb(const uint8_t* in, uint8_t* out) {
  const double y = in[0];
  const double cb = static_cast<double>(in[1]) - 128.0;
  const double cr = static_cast<double>(in[2]) - 128.0;
  const double r = y + kRcr * cr;
  const double g = y + kGcb * cb + kGcr * cr;
  const double b = y + kBcb * cb;
  out[0] = ClampTruncate(r);
  out[1] = ClampTruncate(g);
  out[2] = ClampTruncate(b);
}

void RgbToYCbCr(uint8_t* pixels, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i, pixels += 3) RgbToYCbCr(pixels, pixels);
}

void YCbCrToRgb(uint8_t* pixels, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i, pixels += 3) YCbCrToRgb(pixels, pixels);
}

void SwapRedBlue(uint8_t* pixels, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i, pixels += 3) {
    const uint8_t t = pixels[0];
    pixels[0] = pixels[2];
    pixels[2] = t;
  }
}

}  // namespace quillon
