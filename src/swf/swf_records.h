// Plain SWF record types (rectangles, matrices, colour transforms, styles) and the
// bit-width rule their packed forms share.
#pragma once

#include <cstdint>
#include <optional>

namespace quillon {

// 16.16 fixed point: 65536 is 1.0.
constexpr int32_t kFixedOne = 65536;
// Shapes are drawn in pixels and placed with this scale, so one shape unit is one pixel.
constexpr int32_t kTwipsPerPixel = 20;
constexpr int32_t kPixelToTwipScale = kTwipsPerPixel * kFixedOne;  // 1310720

// Number of significant bits of v (0 for 0).
constexpr uint32_t CountBits(uint32_t v) {
  uint32_t n = 0;
  while (v > 15) {
    v >>= 4;
    n += 4;
  }
  while (v > 0) {
    v >>= 1;
    ++n;
  }
  return n;
}

// |v| without overflow for INT32_MIN.
constexpr uint32_t Magnitude(int32_t v) {
  return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
}

// Width of a signed field that must hold values up to the given magnitude.
constexpr uint32_t SignedBits(uint32_t magnitude) {
  return CountBits(magnitude) + 1;
}

// Colour held as 0xRRGGBB.
struct SwfRgb {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  uint8_t a = 255;  // written only in records with alpha

  static constexpr SwfRgb FromRgb(uint32_t rrggbb) {
    return SwfRgb{static_cast<uint8_t>(rrggbb >> 16), static_cast<uint8_t>(rrggbb >> 8),
                  static_cast<uint8_t>(rrggbb), 255};
  }
  friend constexpr bool operator==(const SwfRgb&, const SwfRgb&) = default;
};

// In twips for the stage, in shape units (pixels) for shape bounds.
struct SwfRect {
  int32_t xMin = 0;
  int32_t xMax = 0;
  int32_t yMin = 0;
  int32_t yMax = 0;
  friend constexpr bool operator==(const SwfRect&, const SwfRect&) = default;
};

// Scale and skew in 16.16 fixed point; translation in the parent's units (twips on the main
// timeline, pixels inside a bitmap fill of a pixel-unit shape).
struct SwfMatrix {
  int32_t scaleX = kFixedOne;
  int32_t rotateSkew0 = 0;
  int32_t rotateSkew1 = 0;
  int32_t scaleY = kFixedOne;
  int32_t translateX = 0;
  int32_t translateY = 0;

  static constexpr SwfMatrix Scale(int32_t sx, int32_t sy, int32_t tx = 0, int32_t ty = 0) {
    return SwfMatrix{sx, 0, 0, sy, tx, ty};
  }
  friend constexpr bool operator==(const SwfMatrix&, const SwfMatrix&) = default;
};

struct SwfColorTransform {
  static constexpr uint8_t kHasMultiply = 0x01;
  static constexpr uint8_t kHasAdd = 0x02;

  uint8_t flags = 0;
  int16_t alphaMultiply = 256;
  int16_t alphaAdd = 0;
  int16_t redMultiply = 256;
  int16_t redAdd = 0;
  int16_t greenMultiply = 256;
  int16_t greenAdd = 0;
  int16_t blueMultiply = 256;
  int16_t blueAdd = 0;
};

enum class FillKind : uint8_t {
  kSolid = 0x00,
  kClippedBitmap = 0x41,
};

struct SwfFillStyle {
  FillKind kind = FillKind::kSolid;
  SwfRgb color;            // solid
  uint16_t bitmapId = 0;   // clipped bitmap
  SwfMatrix bitmapMatrix;  // clipped bitmap

  static SwfFillStyle Solid(SwfRgb c) { return SwfFillStyle{FillKind::kSolid, c, 0, {}}; }
  static SwfFillStyle ClippedBitmap(uint16_t id, const SwfMatrix& m) {
    return SwfFillStyle{FillKind::kClippedBitmap, {}, id, m};
  }
};

struct SwfLineStyle {
  uint16_t width = 0;  // in shape units
  SwfRgb color;
};

// A non-edge shape record. Each present field sets its state bit; moveTo is absolute.
struct SwfStyleChange {
  struct Point {
    int32_t x = 0;
    int32_t y = 0;
  };
  std::optional<Point> moveTo;
  std::optional<uint32_t> fillStyle0;
  std::optional<uint32_t> fillStyle1;
  std::optional<uint32_t> lineStyle;
};

}  // namespace quillon
