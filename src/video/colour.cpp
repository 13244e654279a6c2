#include "video/colour.h"

#include <cstring>

#include "video/colour_fixed.h"
#include "video/vector_kernels.h"

namespace quillon {
namespace {

constexpr int kShift = kColourShift;
constexpr int64_t kOne = kColourOne;

// Clamp to [0, 255], then truncate: for the clamped range truncation is the floor.
inline uint8_t ClampShift(int64_t n) {
  const int64_t v = n >> kShift;
  return v < 0 ? 0 : v > 255 ? 255 : static_cast<uint8_t>(v);
}

}  // namespace

void RgbToYCbCr(const uint8_t* in, uint8_t* out) {
  const int64_t r = in[0], g = in[1], b = in[2];
  const int64_t y = kYr * r + kYg * g + kYb * b;
  const int64_t cb = kCbr * r + kCbg * g + kCbb * b + 128 * kOne;
  const int64_t cr = kCrr * r + kCrg * g + kCrb * b + 128 * kOne;
  out[0] = ClampShift(y);
  out[1] = ClampShift(cb);
  out[2] = ClampShift(cr);
}

void YCbCrToRgb(const uint8_t* in, uint8_t* out) {
  const int64_t y = int64_t{in[0]} * kOne;
  const int64_t cb = int64_t{in[1]} - 128;
  const int64_t cr = int64_t{in[2]} - 128;
  out[0] = ClampShift(y + kRcr * cr);
  out[1] = ClampShift(y + kGcb * cb + kGcr * cr);
  out[2] = ClampShift(y + kBcb * cb);
}

#if QUILLON_COLOUR_VECTORS
namespace {

constexpr int kSplit = kColourSplit;

struct ChannelTerms {
  __m128i rgHigh, bHigh, rgLow, bLow, offset;
};

__attribute__((target("ssse3"))) inline ChannelTerms Terms(int64_t r, int64_t g, int64_t b,
                                                           int32_t offsetUnits) {
  return ChannelTerms{
      _mm_setr_epi16(SplitHigh(r), SplitHigh(g), SplitHigh(r), SplitHigh(g), SplitHigh(r),
                     SplitHigh(g), SplitHigh(r), SplitHigh(g)),
      _mm_setr_epi16(SplitHigh(b), 0, SplitHigh(b), 0, SplitHigh(b), 0, SplitHigh(b), 0),
      _mm_setr_epi16(SplitLow(r), SplitLow(g), SplitLow(r), SplitLow(g), SplitLow(r),
                     SplitLow(g), SplitLow(r), SplitLow(g)),
      _mm_setr_epi16(SplitLow(b), 0, SplitLow(b), 0, SplitLow(b), 0, SplitLow(b), 0),
      _mm_set1_epi32(offsetUnits)};
}

__attribute__((target("ssse3"))) inline __m128i Channel(const ChannelTerms& t, __m128i rg,
                                                        __m128i bz) {
  const __m128i high = _mm_add_epi32(_mm_madd_epi16(rg, t.rgHigh), _mm_madd_epi16(bz, t.bHigh));
  const __m128i low = _mm_add_epi32(_mm_madd_epi16(rg, t.rgLow), _mm_madd_epi16(bz, t.bLow));
  const __m128i sum = _mm_add_epi32(_mm_add_epi32(high, t.offset), _mm_srai_epi32(low, kSplit));
  return _mm_srai_epi32(sum, kShift - kSplit);
}

// Four pixels per step from in to out (which may be the same bytes); a step loads 16 bytes, so
// it runs only while 6 pixels remain. bgr reads the source channels in reverse order.
__attribute__((target("ssse3"))) uint32_t RgbToYCbCrSsse3(const uint8_t* in, uint8_t* out,
                                                          uint32_t count, bool bgr) {
  const ChannelTerms y = Terms(kYr, kYg, kYb, 0);
  const ChannelTerms cb = Terms(kCbr, kCbg, kCbb, kChromaOffsetUnits);
  const ChannelTerms cr = Terms(kCrr, kCrg, kCrb, kChromaOffsetUnits);
  const __m128i pickRg =
      bgr ? _mm_setr_epi8(2, -1, 1, -1, 5, -1, 4, -1, 8, -1, 7, -1, 11, -1, 10, -1)
          : _mm_setr_epi8(0, -1, 1, -1, 3, -1, 4, -1, 6, -1, 7, -1, 9, -1, 10, -1);
  const __m128i pickB =
      bgr ? _mm_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1)
          : _mm_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1);
  const __m128i interleave = _mm_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1);
  uint32_t i = 0;
  for (; i + 6 <= count; i += 4, in += 12, out += 12) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i rg = _mm_shuffle_epi8(v, pickRg);
    const __m128i bz = _mm_shuffle_epi8(v, pickB);
    const __m128i vy = Channel(y, rg, bz);
    const __m128i vcb = Channel(cb, rg, bz);
    const __m128i vcr = Channel(cr, rg, bz);
    // Saturating packs clamp to [0, 255].
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(vy, vcb), _mm_packs_epi32(vcr, vcr));
    const __m128i packed = _mm_shuffle_epi8(bytes, interleave);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    const auto tail = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(packed, 8)));
    std::memcpy(out + 8, &tail, 4);
  }
  return i;
}

// The same arithmetic on eight pixels per step: the two 128-bit halves each hold four pixels
// (the byte shuffles work within halves). A step loads 28 bytes, so it runs while 10 remain.
__attribute__((target("avx2"))) uint32_t RgbToYCbCrAvx2(const uint8_t* in, uint8_t* out,
                                                        uint32_t count, bool bgr) {
  const YCbCrTerms256 terms = MakeYCbCrTerms256();
  const __m256i pickRg = _mm256_broadcastsi128_si256(
      bgr ? _mm_setr_epi8(2, -1, 1, -1, 5, -1, 4, -1, 8, -1, 7, -1, 11, -1, 10, -1)
          : _mm_setr_epi8(0, -1, 1, -1, 3, -1, 4, -1, 6, -1, 7, -1, 9, -1, 10, -1));
  const __m256i pickB = _mm256_broadcastsi128_si256(
      bgr ? _mm_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1)
          : _mm_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1));
  uint32_t i = 0;
  for (; i + 10 <= count; i += 8, in += 24, out += 24) {
    const __m256i v = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12)), 1);
    StoreYCbCr8(terms, _mm256_shuffle_epi8(v, pickRg), _mm256_shuffle_epi8(v, pickB), out);
  }
  return i;
}

bool HasSsse3() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
  }();
  return has;
}

}  // namespace
#endif

void RgbToYCbCr(const uint8_t* in, uint8_t* out, uint32_t count, bool bgr) {
  uint32_t done = 0;
#if QUILLON_COLOUR_VECTORS
  if (Avx2Kernels()) done = RgbToYCbCrAvx2(in, out, count, bgr);
  if (HasSsse3()) {
    done +=
        RgbToYCbCrSsse3(in + std::size_t{done} * 3, out + std::size_t{done} * 3, count - done, bgr);
  }
#endif
  in += std::size_t{done} * 3;
  out += std::size_t{done} * 3;
  for (uint32_t i = done; i < count; ++i, in += 3, out += 3) {
    if (bgr) {
      const uint8_t rgb[3] = {in[2], in[1], in[0]};
      RgbToYCbCr(rgb, out);
    } else {
      RgbToYCbCr(in, out);
    }
  }
}

void RgbToYCbCr(uint8_t* pixels, uint32_t count) {
  RgbToYCbCr(pixels, pixels, count, false);
}

namespace {

// y x 2^27 is a whole multiple of the fixed-point unit, so floor((y x 2^27 + C) / 2^27) equals
// y + floor(C / 2^27): every channel is the luma plus an offset of the chroma bytes alone, and
// tables of those offsets give the single-pixel results without 64-bit multiplies.
struct ChromaOffsets {
  int16_t red[256];   // by Cr
  int16_t blue[256];  // by Cb
  int64_t greenCb[256];
  int64_t greenCr[256];
};

const ChromaOffsets& Offsets() {
  static const ChromaOffsets table = [] {
    ChromaOffsets t{};
    for (int32_t v = 0; v < 256; ++v) {
      const int64_t c = v - 128;
      t.red[v] = static_cast<int16_t>((kRcr * c) >> kShift);
      t.blue[v] = static_cast<int16_t>((kBcb * c) >> kShift);
      t.greenCb[v] = kGcb * c;
      t.greenCr[v] = kGcr * c;
    }
    return t;
  }();
  return table;
}

inline uint8_t ClampByte(int32_t v) {
  return v < 0 ? 0 : v > 255 ? 255 : static_cast<uint8_t>(v);
}

// in and out may be the same bytes when outStep is 3.
template <int outStep>
void YCbCrRows(const uint8_t* in, uint8_t* out, uint32_t count) {
  const ChromaOffsets& t = Offsets();
  for (uint32_t i = 0; i < count; ++i, in += 3, out += outStep) {
    const int32_t y = in[0];
    const uint8_t cb = in[1], cr = in[2];
    const auto green = static_cast<int32_t>((t.greenCb[cb] + t.greenCr[cr]) >> kShift);
    uint8_t* o = out + (outStep - 3);
    if constexpr (outStep == 4) out[0] = 0xFF;
    o[0] = ClampByte(y + t.red[cr]);
    o[1] = ClampByte(y + green);
    o[2] = ClampByte(y + t.blue[cb]);
  }
}

#if QUILLON_COLOUR_VECTORS
// The chroma offsets in 32-bit lanes by the split of the row conversion, at 2^13 here so that
// every high part fits 16 bits: C = H x 2^13 + L with 0 <= L < 2^13, and for the pair sums
// S = H-sum x 2^13 + L-sum, floor(S / 2^27) = (H-sum + floor(L-sum / 2^13)) >> 14.
constexpr int kOffsetSplit = 13;
constexpr int16_t OffsetHigh(int64_t c) { return static_cast<int16_t>(c >> kOffsetSplit); }
constexpr int16_t OffsetLow(int64_t c) {
  return static_cast<int16_t>(c - (static_cast<int64_t>(OffsetHigh(c)) << kOffsetSplit));
}
static_assert(OffsetHigh(kBcb) < 32767 && OffsetHigh(kRcr) < 32767 &&
              OffsetHigh(kGcr) > -32768 && OffsetHigh(kGcb) > -32768);

struct OffsetTerms {
  __m256i high, low;
};

// Terms for the (Cb - 128, Cr - 128) pair of 16-bit lanes.
__attribute__((target("avx2"))) OffsetTerms MakeOffsetTerms(int64_t byCb, int64_t byCr) {
  const auto pair = [](int16_t first, int16_t second) {
    return static_cast<int32_t>(static_cast<uint16_t>(first) |
                                static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16);
  };
  return OffsetTerms{_mm256_set1_epi32(pair(OffsetHigh(byCb), OffsetHigh(byCr))),
                     _mm256_set1_epi32(pair(OffsetLow(byCb), OffsetLow(byCr)))};
}

__attribute__((target("avx2"))) inline __m256i Offset(const OffsetTerms& t, __m256i chroma) {
  const __m256i low = _mm256_srai_epi32(_mm256_madd_epi16(chroma, t.low), kOffsetSplit);
  return _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(chroma, t.high), low),
                           kShift - kOffsetSplit);
}

// Eight pixels a step, each 32-bit lane one pixel; a step loads 28 bytes, so it runs while 10
// remain. The packs clamp and the last shuffle lays out 0xFF, R, G, B.
__attribute__((target("avx2"))) uint32_t YCbCrToArgbAvx2(const uint8_t* in, uint8_t* out,
                                                         uint32_t count) {
  const OffsetTerms red = MakeOffsetTerms(0, kRcr);
  const OffsetTerms green = MakeOffsetTerms(kGcb, kGcr);
  const OffsetTerms blue = MakeOffsetTerms(kBcb, 0);
  const __m256i pickY = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1));
  const __m256i pickChroma = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(1, -1, 2, -1, 4, -1, 5, -1, 7, -1, 8, -1, 10, -1, 11, -1));
  const __m256i centre = _mm256_set1_epi16(128);
  const __m256i opaque = _mm256_set1_epi32(0xFF);
  const __m256i layout = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
  uint32_t i = 0;
  for (; i + 10 <= count; i += 8, in += 24, out += 32) {
    const __m256i v = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12)), 1);
    const __m256i y = _mm256_shuffle_epi8(v, pickY);
    const __m256i chroma = _mm256_sub_epi16(_mm256_shuffle_epi8(v, pickChroma), centre);
    const __m256i r = _mm256_add_epi32(y, Offset(red, chroma));
    const __m256i g = _mm256_add_epi32(y, Offset(green, chroma));
    const __m256i b = _mm256_add_epi32(y, Offset(blue, chroma));
    const __m256i bytes =
        _mm256_packus_epi16(_mm256_packs_epi32(opaque, r), _mm256_packs_epi32(g, b));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_shuffle_epi8(bytes, layout));
  }
  return i;
}
#endif

}  // namespace

void YCbCrToRgb(uint8_t* pixels, uint32_t count) {
  YCbCrRows<3>(pixels, pixels, count);
}

void YCbCrToArgb(const uint8_t* in, uint8_t* out, uint32_t count) {
  uint32_t done = 0;
#if QUILLON_COLOUR_VECTORS
  if (Avx2Kernels()) done = YCbCrToArgbAvx2(in, out, count);
#endif
  YCbCrRows<4>(in + std::size_t{done} * 3, out + std::size_t{done} * 4, count - done);
}

void SwapRedBlue(uint8_t* pixels, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i, pixels += 3) {
    const uint8_t t = pixels[0];
    pixels[0] = pixels[2];
    pixels[2] = t;
  }
}

}  // namespace quillon
