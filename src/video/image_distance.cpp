// Distance measures: the inner loops of block matching. Integer sums on raw bytes, widened to
// 64 bits per image (a frame-sized region overflows 32 bits above 22 017 pixels), no
// allocation; the row sums use SSE2, or AVX2 where the processor has it, since the compiler's
// -O2 cost model would not vectorise them.
#include "video/frame_image.h"

#include <algorithm>
#include <cmath>

#include "video/vector_kernels.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace quillon {
namespace {

// 32-bit partial sums stay exact for this many bytes (49152 x 255 x 255 < 2^32).
constexpr uint32_t kChunkBytes = 49152;

#if defined(__SSE2__)
// Adds the squared differences of n bytes (a multiple of 16) into the four 32-bit lanes of acc:
// bytes widened to 16 bits, each multiply-add gives d0^2 + d1^2 per lane.
inline void AddSquares16(__m128i& acc, const uint8_t* a, const uint8_t* b, uint32_t n) {
  const __m128i zero = _mm_setzero_si128();
  for (uint32_t i = 0; i < n; i += 16) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const __m128i dlo = _mm_sub_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero));
    const __m128i dhi = _mm_sub_epi16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero));
    acc = _mm_add_epi32(acc, _mm_madd_epi16(dlo, dlo));
    acc = _mm_add_epi32(acc, _mm_madd_epi16(dhi, dhi));
  }
}

inline uint32_t LaneSum(__m128i acc) {
  acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 8));
  acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 4));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(acc));
}

// The same on n bytes (a multiple of 16) into eight lanes: bytes widened straight from memory,
// 32 a step, a last 16 into the low half. No lane takes more than the four-lane form's share,
// so the chunk bound holds.
__attribute__((target("avx2"))) inline __m256i Widen16(const uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

__attribute__((target("avx2"))) inline void AddSquares32(__m256i& acc, const uint8_t* a,
                                                         const uint8_t* b, uint32_t n) {
  uint32_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i d0 = _mm256_sub_epi16(Widen16(a + i), Widen16(b + i));
    const __m256i d1 = _mm256_sub_epi16(Widen16(a + i + 16), Widen16(b + i + 16));
    acc = _mm256_add_epi32(acc, _mm256_add_epi32(_mm256_madd_epi16(d0, d0),
                                                 _mm256_madd_epi16(d1, d1)));
  }
  if (i < n) {
    const __m256i d = _mm256_sub_epi16(Widen16(a + i), Widen16(b + i));
    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(d, d));
  }
}

__attribute__((target("avx2"))) inline uint32_t LaneSum(__m256i acc) {
  return LaneSum(_mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1)));
}

// Exact sums of squares of up to kChunkBytes bytes, a multiple of 16.
uint32_t VectorSquares(const uint8_t* a, const uint8_t* b, uint32_t n) {
  __m128i acc = _mm_setzero_si128();
  AddSquares16(acc, a, b, n);
  return LaneSum(acc);
}

__attribute__((target("avx2"))) uint32_t VectorSquaresAvx2(const uint8_t* a, const uint8_t* b,
                                                           uint32_t n) {
  __m256i acc = _mm256_setzero_si256();
  AddSquares32(acc, a, b, n);
  return LaneSum(acc);
}
#endif

// Squared differences of the bytes from `from` to `to`, one at a time.
inline uint32_t TailSquares(const uint8_t* a, const uint8_t* b, uint32_t from, uint32_t to) {
  uint32_t sum = 0;
  for (uint32_t i = from; i < to; ++i) {
    const int32_t d = int32_t{a[i]} - int32_t{b[i]};
    sum += static_cast<uint32_t>(d * d);
  }
  return sum;
}

// Sum of squared byte differences of two runs of n bytes.
inline uint64_t SumSquares(const uint8_t* a, const uint8_t* b, uint32_t n) {
  uint64_t total = 0;
#if defined(__SSE2__)
  const bool avx2 = Avx2Kernels();
#endif
  while (n > 0) {
    const uint32_t m = std::min(n, kChunkBytes);
    uint32_t i = 0;
    uint32_t sum = 0;
#if defined(__SSE2__)
    i = m & ~uint32_t{15};
    sum = avx2 ? VectorSquaresAvx2(a, b, i) : VectorSquares(a, b, i);
#endif
    total += sum + TailSquares(a, b, i, m);
    a += m;
    b += m;
    n -= m;
  }
  return total;
}

// Rows summed between two looks at whether the sum has already reached its limit.
constexpr uint32_t kRowsPerLook = 8;

// When the row sums look at the running total: every kRowsPerLook rows, and before the vector
// lanes could take more than kChunkBytes bytes. Both vector widths look at the same rows, so a
// sum abandoned early is the same number on every processor.
class RowLooks {
 public:
  explicit RowLooks(uint32_t vectorBytes) : vectorBytes_(vectorBytes) {}
  // Asked once before each row y; true when the lanes are to be emptied into the total and the
  // total compared with the limit.
  bool Due(uint32_t y) {
    const bool due = pending_ + vectorBytes_ > kChunkBytes || (y % kRowsPerLook == 0 && y > 0);
    pending_ = (due ? 0 : pending_) + vectorBytes_;
    return due;
  }

 private:
  uint32_t vectorBytes_;
  uint32_t pending_ = 0;
};

#if defined(__SSE2__)
// The other picture is an earlier frame, rarely still in a near cache, and each row of a block
// is a short run the hardware prefetchers do not see coming: rows are asked for this many rows
// ahead.
constexpr uint32_t kRowsAhead = 6;

inline void PrefetchRow(const uint8_t* row, uint32_t bytes) {
  for (uint32_t i = 0; i < bytes; i += 64) {
    _mm_prefetch(reinterpret_cast<const char*>(row + i), _MM_HINT_T0);
  }
}

__attribute__((target("avx2"))) uint64_t SumSquaresRowsAvx2(const uint8_t* a, std::size_t strideA,
                                                            const uint8_t* b, std::size_t strideB,
                                                            uint32_t rowBytes, uint32_t rows,
                                                            uint64_t limit) {
  const uint32_t vectorBytes = rowBytes & ~uint32_t{15};
  RowLooks looks(vectorBytes);
  uint64_t total = 0;
  __m256i acc = _mm256_setzero_si256();
  for (uint32_t y = 0; y < rows; ++y, a += strideA, b += strideB) {
    if (looks.Due(y)) {
      total += LaneSum(acc);
      acc = _mm256_setzero_si256();
      if (total >= limit) return total;
    }
    if (y + kRowsAhead < rows) PrefetchRow(b + kRowsAhead * strideB, rowBytes);
    AddSquares32(acc, a, b, vectorBytes);
    total += TailSquares(a, b, vectorBytes, rowBytes);
  }
  return total + LaneSum(acc);
}
#endif

// Sum over `rows` rows of rowBytes bytes each; the vector lanes carry on from row to row and
// are emptied before they could overflow, so a small block pays for few horizontal sums.
// Every kRowsPerLook rows the sum so far is compared with limit; from limit on it is
// returned as it stands, short of the whole.
inline uint64_t SumSquaresRows(const uint8_t* a, std::size_t strideA, const uint8_t* b,
                               std::size_t strideB, uint32_t rowBytes, uint32_t rows,
                               uint64_t limit) {
  if (rowBytes > kChunkBytes) {
    uint64_t total = 0;
    for (uint32_t y = 0; y < rows && total < limit; ++y, a += strideA, b += strideB) {
      total += SumSquares(a, b, rowBytes);
    }
    return total;
  }
  uint64_t total = 0;
#if defined(__SSE2__)
  if (Avx2Kernels()) return SumSquaresRowsAvx2(a, strideA, b, strideB, rowBytes, rows, limit);
  const uint32_t vectorBytes = rowBytes & ~uint32_t{15};
  RowLooks looks(vectorBytes);
  __m128i acc = _mm_setzero_si128();
  for (uint32_t y = 0; y < rows; ++y, a += strideA, b += strideB) {
    if (looks.Due(y)) {
      total += LaneSum(acc);
      acc = _mm_setzero_si128();
      if (total >= limit) return total;
    }
    if (y + kRowsAhead < rows) PrefetchRow(b + kRowsAhead * strideB, rowBytes);
    AddSquares16(acc, a, b, vectorBytes);
    total += TailSquares(a, b, vectorBytes, rowBytes);
  }
  total += LaneSum(acc);
#else
  for (uint32_t y = 0; y < rows && total < limit; ++y, a += strideA, b += strideB) {
    total += SumSquares(a, b, rowBytes);
  }
#endif
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

// A colour repeated over 48 bytes (16 whole pixels), for row sums against that colour.
struct RepeatedColour {
  explicit RepeatedColour(const Colour& c) : colour(c) {
    for (uint32_t k = 0; k < 48; k += 3) {
      bytes[k] = c[0];
      bytes[k + 1] = c[1];
      bytes[k + 2] = c[2];
    }
  }
  alignas(16) uint8_t bytes[48];
  Colour colour;
};

// Sum of squared differences of a row of n bytes (whole pixels) to the repeated colour.
inline uint64_t SumSquaresToColour(const uint8_t* row, uint32_t n, const RepeatedColour& c) {
  uint64_t total = 0;
  uint32_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i* pattern = reinterpret_cast<const __m128i*>(c.bytes);
  const __m128i p0lo = _mm_unpacklo_epi8(_mm_load_si128(pattern), zero);
  const __m128i p0hi = _mm_unpackhi_epi8(_mm_load_si128(pattern), zero);
  const __m128i p1lo = _mm_unpacklo_epi8(_mm_load_si128(pattern + 1), zero);
  const __m128i p1hi = _mm_unpackhi_epi8(_mm_load_si128(pattern + 1), zero);
  const __m128i p2lo = _mm_unpacklo_epi8(_mm_load_si128(pattern + 2), zero);
  const __m128i p2hi = _mm_unpackhi_epi8(_mm_load_si128(pattern + 2), zero);
  while (i + 48 <= n) {
    // Bounded windows keep the 32-bit lanes exact.
    const uint32_t windowEnd = std::min(n, i + kChunkBytes);
    __m128i acc = zero;
    for (; i + 48 <= windowEnd; i += 48) {
      const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
      const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i + 16));
      const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i + 32));
      const __m128i d0 = _mm_sub_epi16(_mm_unpacklo_epi8(v0, zero), p0lo);
      const __m128i d1 = _mm_sub_epi16(_mm_unpackhi_epi8(v0, zero), p0hi);
      const __m128i d2 = _mm_sub_epi16(_mm_unpacklo_epi8(v1, zero), p1lo);
      const __m128i d3 = _mm_sub_epi16(_mm_unpackhi_epi8(v1, zero), p1hi);
      const __m128i d4 = _mm_sub_epi16(_mm_unpacklo_epi8(v2, zero), p2lo);
      const __m128i d5 = _mm_sub_epi16(_mm_unpackhi_epi8(v2, zero), p2hi);
      acc = _mm_add_epi32(acc, _mm_add_epi32(_mm_madd_epi16(d0, d0), _mm_madd_epi16(d1, d1)));
      acc = _mm_add_epi32(acc, _mm_add_epi32(_mm_madd_epi16(d2, d2), _mm_madd_epi16(d3, d3)));
      acc = _mm_add_epi32(acc, _mm_add_epi32(_mm_madd_epi16(d4, d4), _mm_madd_epi16(d5, d5)));
    }
    acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 8));
    acc = _mm_add_epi32(acc, _mm_srli_si128(acc, 4));
    total += static_cast<uint32_t>(_mm_cvtsi128_si32(acc));
  }
#endif
  for (; i < n; i += 3) total += PixelDistance(row + i, c.colour.data());
  return total;
}

float FrameImage::RegionDistanceToColour(const Colour& colour, float bound) const {
  const uint32_t count = RegionCount();
  if (count == 0) return kNoMatch;
  const RepeatedColour repeated(colour);
  const uint8_t* row = RegionPixels();
  uint64_t total = 0;
  for (uint32_t y = 0; y < region_.h; ++y, row += stride_) {
    const uint64_t rowSum = SumSquaresToColour(row, region_.w * 3, repeated);
    // No pixel can exceed the bound when the whole row does not; otherwise look at each
    // pixel. Checking row by row gives the same answer as stopping at the first pixel over it.
    if (static_cast<float>(rowSum) > bound) {
      for (uint32_t x = 0; x < region_.w; ++x) {
        if (static_cast<float>(PixelDistance(row + std::size_t{x} * 3, colour.data())) > bound) {
          return kNoMatch;
        }
      }
    }
    total += rowSum;
  }
  return static_cast<float>(total) / static_cast<float>(count);
}

namespace {

// The smallest sum whose mean over area pixels is not below ceiling, as the float mean is
// computed: from there on a difference cannot come out below ceiling.
uint64_t SumLimit(float ceiling, uint32_t area) {
  const auto mean = [area](uint64_t sum) {
    return static_cast<float>(sum) / static_cast<float>(area);
  };
  const double guess = std::ceil(static_cast<double>(ceiling) * area);
  if (!(guess < 9.0e18)) return UINT64_MAX;  // beyond every sum of bytes, or not a number
  uint64_t s = guess > 0 ? static_cast<uint64_t>(guess) : 0;
  // The float mean is monotonic in the sum but rounds; step onto the exact boundary.
  while (s > 0 && mean(s - 1) >= ceiling) --s;
  while (mean(s) < ceiling) ++s;
  return s;
}

}  // namespace

uint64_t FrameImage::DifferenceSumLimit(float ceiling, uint32_t count) {
  return SumLimit(ceiling, count);
}

uint64_t FrameImage::DifferenceFloor(const RegionSums& a, const RegionSums& b, uint32_t count) {
  if (count == 0) return 0;
  // A channel's difference of sums reaches 255 x count, whose square passes 64 bits once a
  // region holds some 70 million pixels.
  unsigned __int128 squares = 0;
  for (int c = 0; c < 3; ++c) {
    const uint64_t d =
        a.channel[c] > b.channel[c] ? a.channel[c] - b.channel[c] : b.channel[c] - a.channel[c];
    squares += static_cast<unsigned __int128>(d) * d;
  }
  // The sum of squares is a whole number, so the bound rounds up; at most 3 x 255^2 x count.
  return static_cast<uint64_t>((squares + count - 1) / count);
}

float FrameImage::RegionDifference(const FrameImage& other, int32_t ox, int32_t oy,
                                   float ceiling) const {
  const uint32_t w = region_.w, h = region_.h;
  if (w == 0 || h == 0) return kNoMatch;
  int32_t cx = ox, cy = oy, cw = static_cast<int32_t>(w), ch = static_cast<int32_t>(h);
  if (!other.ClipRect(cx, cy, cw, ch) || cx != ox || cy != oy || static_cast<uint32_t>(cw) != w ||
      static_cast<uint32_t>(ch) != h) {
    return kNoMatch;
  }
  const uint8_t* a = RegionPixels();
  const uint8_t* b = other.Row(static_cast<uint32_t>(oy)) + std::size_t(ox) * 3;
  const uint64_t total =
      SumSquaresRows(a, stride_, b, other.stride_, w * 3, h, SumLimit(ceiling, w * h));
  return static_cast<float>(total) / static_cast<float>(w * h);
}

float FrameImage::RegionDifferenceMirrored(const FrameImage& other, int32_t ox, int32_t oy,
                                           uint32_t& flags, float ceiling) const {
  flags = 0;
  const uint32_t w = region_.w, h = region_.h;
  if (w == 0 || h == 0) return kNoMatch;
  int32_t cx = ox, cy = oy, cw = static_cast<int32_t>(w), ch = static_cast<int32_t>(h);
  if (!other.ClipRect(cx, cy, cw, ch) || cx != ox || cy != oy || static_cast<uint32_t>(cw) != w ||
      static_cast<uint32_t>(ch) != h) {
    return kNoMatch;
  }
  const uint8_t* region = RegionPixels();
  const uint8_t* top = other.Row(static_cast<uint32_t>(oy)) + std::size_t(ox) * 3;
  const std::size_t otherStride = other.stride_;

  // Readings in the order they are tried; a later one must be strictly smaller to win.
  static constexpr uint32_t kReadings[4] = {0, kFlipVertical, kFlipHorizontal,
                                            kFlipHorizontal | kFlipVertical};
  // A reading that reaches the limit cannot come out below ceiling: it counts as not found.
  const uint64_t limit = SumLimit(ceiling, w * h);
  uint64_t best = limit;
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
