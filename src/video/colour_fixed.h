// The engine's R, G, B -> Y, Cb, Cr conversion in fixed point, and its eight-pixel AVX2 and
// sixteen-pixel AVX-512 steps, shared by the row conversion and the decoder-picture conversion
// that makes R, G, B in registers and should not store them on the way.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
// GCC 12's 512-bit intrinsics start from a deliberately undefined register that its own
// uninitialised-use warnings then report at every use.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#define QUILLON_COLOUR_VECTORS 1
#endif

namespace quillon {

// Every coefficient is a single-precision constant; the product of one with a byte, and the
// sum of three such products, are exact in double precision, so the double result is a whole
// multiple of 2^-27. Computing that multiple in 64-bit integers gives the same truncated bytes
// as the double evaluation, bit for bit, at a fraction of the cost (checked for all 2^24
// inputs when this was written).
inline constexpr int kColourShift = 27;
inline constexpr int64_t kColourOne = int64_t{1} << kColourShift;

constexpr int64_t ColourFixed(float c) {
  return static_cast<int64_t>(static_cast<double>(c) * static_cast<double>(kColourOne));
}
constexpr bool ColourFixedIsExact(float c) {
  return static_cast<double>(ColourFixed(c)) ==
         static_cast<double>(c) * static_cast<double>(kColourOne);
}

inline constexpr int64_t kYr = ColourFixed(0.299f), kYg = ColourFixed(0.587f),
                         kYb = ColourFixed(0.114f);
inline constexpr int64_t kCbr = ColourFixed(-0.16874f), kCbg = ColourFixed(-0.33126f),
                         kCbb = ColourFixed(0.5f);
inline constexpr int64_t kCrr = ColourFixed(0.5f), kCrg = ColourFixed(-0.41869f),
                         kCrb = ColourFixed(-0.08131f);
inline constexpr int64_t kRcr = ColourFixed(1.402f), kGcb = ColourFixed(-0.34414f),
                         kGcr = ColourFixed(-0.71414f);
inline constexpr int64_t kBcb = ColourFixed(1.772f);
static_assert(ColourFixedIsExact(0.299f) && ColourFixedIsExact(0.587f) &&
              ColourFixedIsExact(0.114f) && ColourFixedIsExact(-0.16874f) &&
              ColourFixedIsExact(-0.33126f) && ColourFixedIsExact(-0.41869f) &&
              ColourFixedIsExact(-0.08131f) && ColourFixedIsExact(1.402f) &&
              ColourFixedIsExact(-0.34414f) && ColourFixedIsExact(-0.71414f) &&
              ColourFixedIsExact(1.772f));

// The vector forms split every fixed-point coefficient C into H x 2^12 + L with H a signed
// 16-bit value and 0 <= L < 2^12, so that 16-bit multiply-adds give the exact sums
// SH = sum of H x v and SL = sum of L x v. floor(C-sum / 2^27) = (SH + floor(SL / 2^12)) >> 15,
// because the remainder SL mod 2^12 adds less than one unit of 2^-15 to a multiple of 2^-15.
inline constexpr int kColourSplit = 12;
constexpr int16_t SplitHigh(int64_t c) { return static_cast<int16_t>(c >> kColourSplit); }
constexpr int16_t SplitLow(int64_t c) {
  return static_cast<int16_t>(c - (static_cast<int64_t>(SplitHigh(c)) << kColourSplit));
}
static_assert(SplitHigh(kYg) < 32767 && SplitHigh(kCbb) < 32767 && SplitHigh(kCrr) < 32767);
// The offset of 128 for the chroma channels in units of 2^-15.
inline constexpr int32_t kChromaOffsetUnits = 128 << (kColourShift - kColourSplit);

#if QUILLON_COLOUR_VECTORS
// One output channel's split coefficients for eight pixels: (R, G) pairs and (B, 0) pairs of
// 16-bit lanes, as every 32-bit lane holds one pixel.
struct ChannelTerms256 {
  __m256i rgHigh, bHigh, rgLow, bLow, offset;
};

// Two 16-bit lanes, first in the low half, as one 32-bit lane.
constexpr int32_t SplitPair(int16_t first, int16_t second) {
  return static_cast<int32_t>(static_cast<uint16_t>(first) |
                              static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16);
}

__attribute__((target("avx2"))) inline ChannelTerms256 MakeChannelTerms256(
    int64_t r, int64_t g, int64_t b, int32_t offsetUnits) {
  return ChannelTerms256{_mm256_set1_epi32(SplitPair(SplitHigh(r), SplitHigh(g))),
                         _mm256_set1_epi32(SplitPair(SplitHigh(b), 0)),
                         _mm256_set1_epi32(SplitPair(SplitLow(r), SplitLow(g))),
                         _mm256_set1_epi32(SplitPair(SplitLow(b), 0)),
                         _mm256_set1_epi32(offsetUnits)};
}

struct YCbCrTerms256 {
  ChannelTerms256 y, cb, cr;
};

__attribute__((target("avx2"))) inline YCbCrTerms256 MakeYCbCrTerms256() {
  return YCbCrTerms256{MakeChannelTerms256(kYr, kYg, kYb, 0),
                       MakeChannelTerms256(kCbr, kCbg, kCbb, kChromaOffsetUnits),
                       MakeChannelTerms256(kCrr, kCrg, kCrb, kChromaOffsetUnits)};
}

// floor(C-sum / 2^27) per 32-bit lane, unclamped.
__attribute__((target("avx2"))) inline __m256i Channel256(const ChannelTerms256& t, __m256i rg,
                                                          __m256i bz) {
  const __m256i high =
      _mm256_add_epi32(_mm256_madd_epi16(rg, t.rgHigh), _mm256_madd_epi16(bz, t.bHigh));
  const __m256i low =
      _mm256_add_epi32(_mm256_madd_epi16(rg, t.rgLow), _mm256_madd_epi16(bz, t.bLow));
  const __m256i sum =
      _mm256_add_epi32(_mm256_add_epi32(high, t.offset), _mm256_srai_epi32(low, kColourSplit));
  return _mm256_srai_epi32(sum, kColourShift - kColourSplit);
}

// Eight pixels' Y, Cb, Cr into 24 bytes at out. rg: per 32-bit lane R in the low and G in the
// high 16 bits; bz: B in the low 16 bits, 0 above; pixels 0-3 in the low 128-bit half.
__attribute__((target("avx2"))) inline void StoreYCbCr8(const YCbCrTerms256& t, __m256i rg,
                                                        __m256i bz, uint8_t* out) {
  const __m256i vy = Channel256(t.y, rg, bz);
  const __m256i vcb = Channel256(t.cb, rg, bz);
  const __m256i vcr = Channel256(t.cr, rg, bz);
  // Saturating packs clamp to [0, 255]; they and the byte shuffle work within halves.
  const __m256i bytes =
      _mm256_packus_epi16(_mm256_packs_epi32(vy, vcb), _mm256_packs_epi32(vcr, vcr));
  const __m256i interleave = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1));
  const __m256i packed = _mm256_shuffle_epi8(bytes, interleave);
  const __m128i lo = _mm256_castsi256_si128(packed);
  const __m128i hi = _mm256_extracti128_si256(packed, 1);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), lo);
  const auto loTail = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(lo, 8)));
  std::memcpy(out + 8, &loTail, 4);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12), hi);
  const auto hiTail = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(hi, 8)));
  std::memcpy(out + 20, &hiTail, 4);
}

// The same on sixteen pixels in 512-bit registers, with B in the high 16 bits of its lane and
// 256 in the low ones: the chroma offset then rides on the multiply-add (256 x 2^14 is 128 in
// units of 2^-15), and B and G need no shift into place.
struct ChannelTerms512 {
  __m512i rgHigh, bHigh, rgLow, bLow;
};

struct YCbCrTerms512 {
  ChannelTerms512 y, cb, cr;
};

inline constexpr int32_t kChromaOffsetPerOne = kChromaOffsetUnits / 256;
static_assert(kChromaOffsetPerOne * 256 == kChromaOffsetUnits && kChromaOffsetPerOne < 32768);

__attribute__((target("avx512f,avx512bw,avx512vnni"))) inline ChannelTerms512 MakeChannelTerms512(
    int64_t r, int64_t g, int64_t b, int16_t offsetPerOne) {
  return ChannelTerms512{_mm512_set1_epi32(SplitPair(SplitHigh(r), SplitHigh(g))),
                         _mm512_set1_epi32(SplitPair(offsetPerOne, SplitHigh(b))),
                         _mm512_set1_epi32(SplitPair(SplitLow(r), SplitLow(g))),
                         _mm512_set1_epi32(SplitPair(0, SplitLow(b)))};
}

__attribute__((target("avx512f,avx512bw,avx512vnni"))) inline YCbCrTerms512 MakeYCbCrTerms512() {
  return YCbCrTerms512{MakeChannelTerms512(kYr, kYg, kYb, 0),
                       MakeChannelTerms512(kCbr, kCbg, kCbb, kChromaOffsetPerOne),
                       MakeChannelTerms512(kCrr, kCrg, kCrb, kChromaOffsetPerOne)};
}

__attribute__((target("avx512f,avx512bw,avx512vnni"))) inline __m512i Channel512(
    const ChannelTerms512& t, __m512i rg, __m512i ob) {
  const __m512i high = _mm512_dpwssd_epi32(_mm512_madd_epi16(rg, t.rgHigh), ob, t.bHigh);
  const __m512i low = _mm512_dpwssd_epi32(_mm512_madd_epi16(rg, t.rgLow), ob, t.bLow);
  return _mm512_srai_epi32(_mm512_add_epi32(high, _mm512_srai_epi32(low, kColourSplit)),
                           kColourShift - kColourSplit);
}

// Sixteen pixels' Y, Cb, Cr into the first 3 x count bytes at out (count <= 16; nothing is
// written beyond them). rg: per 32-bit lane R in the low and G in the high 16 bits; ob: 256 in
// the low and B in the high 16 bits; pixels in lane order.
__attribute__((target("avx512f,avx512bw,avx512vnni"))) inline void StoreYCbCr16(
    const YCbCrTerms512& t, __m512i rg, __m512i ob, uint8_t* out, uint32_t count = 16) {
  const __m512i vy = Channel512(t.y, rg, ob);
  const __m512i vcb = Channel512(t.cb, rg, ob);
  const __m512i vcr = Channel512(t.cr, rg, ob);
  // Packs and byte shuffle work within 128-bit quarters, each holding 12 bytes of four pixels;
  // a dword permute closes the gaps.
  const __m512i bytes =
      _mm512_packus_epi16(_mm512_packs_epi32(vy, vcb), _mm512_packs_epi32(vcr, vcr));
  const __m512i quarter =
      _mm512_castsi128_si512(_mm_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1));
  const __m512i interleave = _mm512_shuffle_i32x4(quarter, quarter, 0);
  const __m512i gather = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 0, 0, 0, 0);
  const __m512i packed = _mm512_permutexvar_epi32(gather, _mm512_shuffle_epi8(bytes, interleave));
  const auto mask = static_cast<__mmask64>((uint64_t{1} << (3 * count)) - 1);
  _mm512_mask_storeu_epi8(out, mask, packed);
}
#endif

}  // namespace quillon
