// Distance measures: the inner loops of block matching. Integer sums on raw bytes, widened to
// 64 bits per image (a frame-sized region overflows 32 bits above 22 017 pixels), no
// allocation; the row sum uses SSE2 where the compiler's -O2 cost model would not vectorise.
#include "video/frame_image.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillon {
namespace {

// 32-bit partial sums stay exact for this many bytes (49152 x 255 x 255 < 2^32).
constexpr uint32_t kChunkBytes = 49152;

// Sum of squared byte differences of two runs of n bytes.
inline uint64_t SumSquares(const uint8_t* a, const uint8_t* b, uint32_t n) {
  uint64_t total = 0;
  while (n > 0) {
    const uint32_t m = std::min(n, kChunkBytes);
    uint32_t i = 0;
    uint32_t sum = 0;
#if defined(__SSE2__)
    // Bytes widened to 16 bits; each multiply-add gives d0^2 + d1^2 per 32-bit lane.
    const __m128i zero = _mm_setzero_si128();
    __m128i acc = zero;
    for (; i + 16 <= m; i += 16) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
      const __m128i dlo = _mm_sub_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero));
      const __m128i dhi = _mm_sub_epi16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero));
      acc = _mm_add_epi32(acc, _mm_madd_epi16(dlo, dlo));
      acc = _mm_add_epi32(acc, _mm_madd_epi16(dhi, dhi));
    }
    acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 8));
    acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 4));
    sum = static_cast<uint32_t>(_mm_cvtsi128_si32(acc));
#endif
    for (; i < m; ++i) {
      const int32_t d = int32_t{a[i]} - int32_t{b[i]};
      sum += static_cast<uint32_t>(d * d);
    }
    total += sum;
    a += m;
    b += m;
    n -= m;
  }
  return total;
}

// The same, with b's pixels read from right to left: pixel i of a against pixel w - 1 - i of b.
inline uint64_t SumSquaresReversed(const uint8_t* a, const uint8_t* b, uint32_t w) {
  uint64_t total = 0;
  const uint8_t* last = b + std::size_t{w - 1} * 3;
  for (uint32_t i = 0; i < w; ++i) {
    const uint8_t* p = a + std::size_t{i} * 3;
    const uint8_t* q = last - std::size_t{i} * 3;
    const int32_t d0 = int32_t{p[0]} - q[0];
    const int32_t d1 = int32_t{p[1]} - q[1];
    const int32_t d2 = int32_t{p[2]} - q[2];
    total += static_cast<uint32_t>(d0 * d0 + d1 * d1 + d2 * d2);
  }
  return total;
}

}  // namespace

float FrameImage::RegionDistanceToColour(const Colour& colour, float bound) const {
  const uint32_t count = RegionCount();
  if (count == 0) return kNoMatch;
  const int32_t c0 = colour[0], c1 = colour[1], c2 = colour[2];
  const uint8_t* row = RegionPixels();
  uint64_t total = 0;
  for (uint32_t y = 0; y < region_.h; ++y, row += stride_) {
    // Branch-free over the row; the bound is checked once per row, which gives the same
    // answer as stopping at the first pixel over it.
    uint32_t rowMax = 0;
    uint64_t rowSum = 0;
    for (uint32_t x = 0; x < region_.w; ++x) {
      const uint8_t* p = row + std::size_t{x} * 3;
      const int32_t d0 = p[0] - c0, d1 = p[1] - c1, d2 = p[2] - c2;
      const auto d = static_cast<uint32_t>(d0 * d0 + d1 * d1 + d2 * d2);
      rowMax = std::max(rowMax, d);
      rowSum += d;
    }
    if (static_cast<float>(rowMax) > bound) return kNoMatch;
    total += rowSum;
  }
  return static_cast<float>(total) / static_cast<float>(count);
}

float FrameImage::RegionDifference(const FrameImage& other, int32_t ox, int32_t oy) const {
  const uint32_t w = region_.w, h = region_.h;
  if (w == 0 || h == 0) return kNoMatch;
  int32_t cx = ox, cy = oy, cw = static_cast<int32_t>(w), ch = static_cast<int32_t>(h);
  if (!other.ClipRect(cx, cy, cw, ch) || cx != ox || cy != oy ||
      static_cast<uint32_t>(cw) != w || static_cast<uint32_t>(ch) != h) {
    return kNoMatch;
  }
  const uint8_t* a = RegionPixels();
  const uint8_t* b = other.Row(static_cast<uint32_t>(oy)) + std::size_t(ox) * 3;
  uint64_t total = 0;
  for (uint32_t y = 0; y < h; ++y, a += stride_, b += other.stride_) {
    total += SumSquares(a, b, w * 3);
  }
  return static_cast<float>(total) / static_cast<float>(w * h);
}

float FrameImage::RegionDifferenceMirrored(const FrameImage& other, int32_t ox, int32_t oy,
                                           uint32_t& flags) const {
  flags = 0;
  const uint32_t w = region_.w, h = region_.h;
  if (w == 0 || h == 0) return kNoMatch;
  int32_t cx = ox, cy = oy, cw = static_cast<int32_t>(w), ch = static_cast<int32_t>(h);
  if (!other.ClipRect(cx, cy, cw, ch) || cx != ox || cy != oy ||
      static_cast<uint32_t>(cw) != w || static_cast<uint32_t>(ch) != h) {
    return kNoMatch;
  }
  const uint8_t* region = RegionPixels();
  const uint8_t* top = other.Row(static_cast<uint32_t>(oy)) + std::size_t(ox) * 3;
  const std::size_t otherStride = other.stride_;

  // Readings in the order they are tried; a later one must be strictly smaller to win.
  static constexpr uint32_t kReadings[4] = {0, kFlipVertical, kFlipHorizontal,
                                            kFlipHorizontal | kFlipVertical};
  uint64_t best = UINT64_MAX;
  for (const uint32_t reading : kReadings) {
    const bool vertical = (reading & kFlipVertical) != 0;
    const bool horizontal = (reading & kFlipHorizontal) != 0;
    uint64_t sum = 0;
    const uint8_t* a = region;
    for (uint32_t y = 0; y < h && sum < best; ++y, a += stride_) {
      const uint8_t* b = top + (vertical ? h - 1 - y : y) * otherStride;
      sum += horizontal ? SumSquaresReversed(a, b, w) : SumSquares(a, b, w * 3);
    }
    // An abandoned reading already reached best and cannot win.
    if (sum < best) {
      best = sum;
      flags = reading;
      if (best == 0) break;
    }
  }
  return static_cast<float>(best) / static_cast<float>(w * h);
}

}  // namespace quillon
