#include "video/yuv_converter.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "video/colour.h"
#include "video/colour_fixed.h"
#include "video/vector_kernels.h"

namespace quillon {
namespace {

constexpr int kShift = 16;
constexpr int32_t kHalf = 1 << (kShift - 1);
// Chroma in quarter units: four times a byte, or twice the sum of two rows.
constexpr int32_t kQuarterCentre = 4 * 128;

// One row of R, G, B bytes from luma and per-pixel chroma (quarter units about the centre).
// Plain array arithmetic that the compiler turns into vector code.
void RgbPixels(const uint8_t* __restrict luma, const int16_t* __restrict cb,
               const int16_t* __restrict cr, uint32_t count, const YuvConverter::Terms& terms,
               uint8_t* __restrict rgb) {
  // Copies: the stores could alias the terms for all the compiler knows.
  const YuvConverter::Terms k = terms;
  for (std::size_t i = 0; i < count; ++i) {
    const int32_t l = k.luma * luma[i] + k.lumaOffset;
    const int32_t r = (l + k.redCr * cr[i]) >> kShift;
    const int32_t g = (l - k.greenCb * cb[i] - k.greenCr * cr[i]) >> kShift;
    const int32_t b = (l + k.blueCb * cb[i]) >> kShift;
    rgb[3 * i] = static_cast<uint8_t>(std::clamp(r, 0, 255));
    rgb[3 * i + 1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
    rgb[3 * i + 2] = static_cast<uint8_t>(std::clamp(b, 0, 255));
  }
}

#if QUILLON_COLOUR_VECTORS
// Both steps in one pass, eight pixels a step: the same 32-bit arithmetic and clamping as
// RgbPixels, then the engine's conversion straight from the registers, so no R, G, B byte is
// stored and read back. Returns the pixels done (a multiple of 8); the rest is for the two-step
// route.
__attribute__((target("avx2"))) uint32_t YCbCrPixelsAvx2(const uint8_t* luma, const int16_t* cb,
                                                         const int16_t* cr, uint32_t count,
                                                         const YuvConverter::Terms& k,
                                                         uint8_t* out) {
  const YCbCrTerms256 terms = MakeYCbCrTerms256();
  const __m256i lumaScale = _mm256_set1_epi32(k.luma);
  const __m256i lumaOffset = _mm256_set1_epi32(k.lumaOffset);
  const __m256i redCr = _mm256_set1_epi32(k.redCr);
  const __m256i blueCb = _mm256_set1_epi32(k.blueCb);
  const __m256i greenCb = _mm256_set1_epi32(k.greenCb);
  const __m256i greenCr = _mm256_set1_epi32(k.greenCr);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i top = _mm256_set1_epi32(255);
  auto clampShift = [zero, top](__m256i v) __attribute__((target("avx2"))) {
    return _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(v, kShift), zero), top);
  };
  uint32_t i = 0;
  for (; i + 8 <= count; i += 8, out += 24) {
    const __m256i y =
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(luma + i)));
    const __m256i vb =
        _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + i)));
    const __m256i vr =
        _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + i)));
    const __m256i l = _mm256_add_epi32(_mm256_mullo_epi32(lumaScale, y), lumaOffset);
    const __m256i r = clampShift(_mm256_add_epi32(l, _mm256_mullo_epi32(redCr, vr)));
    const __m256i g = clampShift(_mm256_sub_epi32(
        _mm256_sub_epi32(l, _mm256_mullo_epi32(greenCb, vb)), _mm256_mullo_epi32(greenCr, vr)));
    const __m256i b = clampShift(_mm256_add_epi32(l, _mm256_mullo_epi32(blueCb, vb)));
    StoreYCbCr8(terms, _mm256_or_si256(r, _mm256_slli_epi32(g, 16)), b, out);
  }
  return i;
}

// The chroma terms as (coefficient, 0) pairs of 16-bit lanes, green negated: against chroma
// sign-extended to 32 bits, one multiply-add-accumulate gives the exact 32-bit product and sum
// where a 32-bit multiply and an add cost three.
struct ChromaPairs512 {
  __m512i redCr, greenCb, greenCr, blueCb;
};

constexpr bool FitsInt16(int32_t v) {
  return v >= -32768 && v <= 32767;
}

// Sixteen pixels of YCbCrPixelsAvx2's arithmetic, count <= 16 of them stored. The clamp to
// [0, 255] happens before the shift by kShift, which leaves each byte in bits 16-23, where G
// and B are wanted. kBlueFits: blueCb fits 16 bits (at limited range it does not for the
// common matrices).
template <bool kBlueFits>
__attribute__((target("avx512f,avx512bw,avx512vnni"))) inline void YCbCrStep16(
    const YCbCrTerms512& terms, const ChromaPairs512& pairs, const YuvConverter::Terms& k,
    __m512i y, __m512i vb, __m512i vr, uint8_t* out, uint32_t count) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i top = _mm512_set1_epi32((256 << kShift) - 1);
  const __m512i highHalf = _mm512_set1_epi32(static_cast<int32_t>(0xFFFF0000u));
  const __m512i l = _mm512_add_epi32(_mm512_mullo_epi32(_mm512_set1_epi32(k.luma), y),
                                     _mm512_set1_epi32(k.lumaOffset));
  const __m512i r = _mm512_dpwssd_epi32(l, vr, pairs.redCr);
  const __m512i g =
      _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(l, vb, pairs.greenCb), vr, pairs.greenCr);
  const __m512i b = kBlueFits
                        ? _mm512_dpwssd_epi32(l, vb, pairs.blueCb)
                        : _mm512_add_epi32(l, _mm512_mullo_epi32(vb, _mm512_set1_epi32(k.blueCb)));
  const auto clamp =
      [zero, top](__m512i v) __attribute__((target("avx512f,avx512bw,avx512vnni"))) {
    return _mm512_min_epi32(_mm512_max_epi32(v, zero), top);
  };
  // (a & b) | c in one instruction.
  constexpr int kAndOr = 0xEA;
  const __m512i rg =
      _mm512_ternarylogic_epi32(clamp(g), highHalf, _mm512_srli_epi32(clamp(r), kShift), kAndOr);
  const __m512i ob = _mm512_ternarylogic_epi32(clamp(b), highHalf, _mm512_set1_epi32(256), kAndOr);
  StoreYCbCr16(terms, rg, ob, out, count);
}

// YCbCrPixelsAvx2 sixteen pixels a step, the last few under masks: does the whole row.
template <bool kBlueFits>
__attribute__((target("avx512f,avx512bw,avx512vnni"))) void YCbCrPixelsAvx512(
    const uint8_t* luma, const int16_t* cb, const int16_t* cr, uint32_t count,
    const YuvConverter::Terms& k, uint8_t* out) {
  const YCbCrTerms512 terms = MakeYCbCrTerms512();
  const ChromaPairs512 pairs{_mm512_set1_epi32(SplitPair(static_cast<int16_t>(k.redCr), 0)),
                             _mm512_set1_epi32(SplitPair(static_cast<int16_t>(-k.greenCb), 0)),
                             _mm512_set1_epi32(SplitPair(static_cast<int16_t>(-k.greenCr), 0)),
                             _mm512_set1_epi32(SplitPair(static_cast<int16_t>(k.blueCb), 0))};
  uint32_t i = 0;
  for (; i + 16 <= count; i += 16, out += 48) {
    const __m512i y =
        _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + i)));
    const __m512i vb =
        _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cb + i)));
    const __m512i vr =
        _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cr + i)));
    YCbCrStep16<kBlueFits>(terms, pairs, k, y, vb, vr, out, 16);
  }
  if (i < count) {
    // Masked loads touch nothing beyond the row.
    const uint32_t rest = count - i;
    const auto mask = static_cast<__mmask32>((uint32_t{1} << rest) - 1);
    const __m512i y =
        _mm512_cvtepu8_epi32(_mm512_castsi512_si128(_mm512_maskz_loadu_epi8(mask, luma + i)));
    const __m512i vb =
        _mm512_cvtepi16_epi32(_mm512_castsi512_si256(_mm512_maskz_loadu_epi16(mask, cb + i)));
    const __m512i vr =
        _mm512_cvtepi16_epi32(_mm512_castsi512_si256(_mm512_maskz_loadu_epi16(mask, cr + i)));
    YCbCrStep16<kBlueFits>(terms, pairs, k, y, vb, vr, out, rest);
  }
}

// The AVX-512 form where it can take these terms; the pixels done.
uint32_t YCbCrPixelsWide(const uint8_t* luma, const int16_t* cb, const int16_t* cr, uint32_t count,
                         const YuvConverter::Terms& k, uint8_t* out) {
  if (!FitsInt16(k.redCr) || !FitsInt16(-k.greenCb) || !FitsInt16(-k.greenCr)) return 0;
  if (FitsInt16(k.blueCb)) {
    YCbCrPixelsAvx512<true>(luma, cb, cr, count, k, out);
  } else {
    YCbCrPixelsAvx512<false>(luma, cb, cr, count, k, out);
  }
  return count;
}
#endif

// A row of chroma per pixel in quarter units about the centre: twice the sum of the two source
// rows (the same row twice where chroma is at full height), each sample repeated for a pair at
// half width.
template <uint32_t shiftX>
void ChromaRow(const uint8_t* __restrict own, const uint8_t* __restrict other, uint32_t count,
               int16_t* __restrict out) {
  for (std::size_t c = 0; c < count; ++c) {
    const auto v = static_cast<int16_t>((own[c] + other[c]) * 2 - kQuarterCentre);
    out[c << shiftX] = v;
    if constexpr (shiftX == 1) out[2 * c + 1] = v;
  }
}

}  // namespace

void YuvConverter::SetMatrix(const std::array<int32_t, 4>& coefficients, bool fullRange) {
  // Full-range chroma spans 255 steps where limited-range chroma spans 224.
  const double chromaScale = (fullRange ? 224.0 / 255.0 : 1.0) / 4.0;
  const double lumaScale = fullRange ? 1.0 : 255.0 / 219.0;
  const int32_t lumaOffset = fullRange ? 0 : 16;
  terms_.luma = static_cast<int32_t>(std::lround(lumaScale * (1 << kShift)));
  terms_.lumaOffset = kHalf - lumaOffset * terms_.luma;
  auto chroma = [chromaScale](int32_t c) {
    return static_cast<int32_t>(std::lround(c * chromaScale));
  };
  terms_.redCr = chroma(coefficients[0]);
  terms_.blueCb = chroma(coefficients[1]);
  terms_.greenCb = chroma(coefficients[2]);
  terms_.greenCr = chroma(coefficients[3]);
  ready_ = true;
}

bool YuvConverter::Convert(const Planes& in, uint8_t* out, std::size_t outStride) {
  if (!ready_ || out == nullptr || in.width == 0 || in.height == 0 || in.chromaShiftX > 1 ||
      in.chromaShiftY > 1 || in.data[0] == nullptr || in.data[1] == nullptr ||
      in.data[2] == nullptr) {
    return false;
  }
  const uint32_t w = in.width;
  const uint32_t chromaWidth = (w + in.chromaShiftX) >> in.chromaShiftX;
  try {
    // Slack after the row: the vector conversion reads whole 16-byte groups.
    if (rgbRow_.size() < std::size_t{w} * 3 + 16) rgbRow_.resize(std::size_t{w} * 3 + 16);
    // One chroma value per pixel, for a whole last pair too.
    if (cbRow_.size() < std::size_t{chromaWidth} << in.chromaShiftX) {
      cbRow_.resize(std::size_t{chromaWidth} << in.chromaShiftX);
      crRow_.resize(std::size_t{chromaWidth} << in.chromaShiftX);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  auto planeRow = [&in](int plane, uint32_t row) {
    return in.data[static_cast<std::size_t>(plane)] +
           static_cast<std::ptrdiff_t>(row) * in.stride[static_cast<std::size_t>(plane)];
  };
  int16_t* cb = cbRow_.data();
  int16_t* cr = crRow_.data();
  for (uint32_t y = 0; y < in.height; ++y) {
    // This row's chroma: at half height, an odd row takes its chroma row and an even row lies
    // halfway between that one and the one above (the first row has none above it).
    const uint32_t own = y >> in.chromaShiftY;
    const uint32_t other = in.chromaShiftY == 0 || (y & 1) != 0 || own == 0 ? own : own - 1;
    if (in.chromaShiftX == 0) {
      ChromaRow<0>(planeRow(1, own), planeRow(1, other), chromaWidth, cb);
      ChromaRow<0>(planeRow(2, own), planeRow(2, other), chromaWidth, cr);
    } else {
      ChromaRow<1>(planeRow(1, own), planeRow(1, other), chromaWidth, cb);
      ChromaRow<1>(planeRow(2, own), planeRow(2, other), chromaWidth, cr);
    }
    const uint8_t* luma = planeRow(0, y);
    uint8_t* row = out + std::size_t{y} * outStride;
    uint32_t done = 0;
#if QUILLON_COLOUR_VECTORS
    if (Avx512Kernels()) done = YCbCrPixelsWide(luma, cb, cr, w, terms_, row);
    if (done == 0 && Avx2Kernels()) done = YCbCrPixelsAvx2(luma, cb, cr, w, terms_, row);
#endif
    if (done < w) {
      RgbPixels(luma + done, cb + done, cr + done, w - done, terms_, rgbRow_.data());
      RgbToYCbCr(rgbRow_.data(), row + std::size_t{done} * 3, w - done, false);
    }
  }
  return true;
}

}  // namespace quillon
