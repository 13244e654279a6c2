// The frame filters, in place on the frame buffer (only resizing needs a scratch image).
#include "video/frame_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillon {
namespace {

// Lines between two looks at the cancel flag: a look costs next to nothing, and even 16384
// pixels of the slowest pass (a column) take well under a millisecond each.
constexpr uint32_t kLinesPerCancelCheck = 16;

inline bool CheckNow(uint32_t line, const std::atomic<bool>* cancel) {
  return line % kLinesPerCancelCheck == 0 && CancelRequested(cancel);
}

inline uint8_t ClampTruncate(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 255.0f) return 255;
  return static_cast<uint8_t>(v);
}

// A run of `count` pixels `step` bytes apart becomes its per-channel average.
void AverageRun(uint8_t* first, uint32_t count, std::size_t step) {
  uint32_t s0 = 0, s1 = 0, s2 = 0;
  uint8_t* p = first;
  for (uint32_t i = 0; i < count; ++i, p += step) {
    s0 += p[0];
    s1 += p[1];
    s2 += p[2];
  }
  uint8_t a0, a1, a2;
  if (count == 2) {
    // The common run (the default span length is 2): a shift instead of three divisions.
    a0 = static_cast<uint8_t>(s0 >> 1);
    a1 = static_cast<uint8_t>(s1 >> 1);
    a2 = static_cast<uint8_t>(s2 >> 1);
  } else {
    a0 = static_cast<uint8_t>(s0 / count);
    a1 = static_cast<uint8_t>(s1 / count);
    a2 = static_cast<uint8_t>(s2 / count);
  }
  p = first;
  for (uint32_t i = 0; i < count; ++i, p += step) {
    p[0] = a0;
    p[1] = a1;
    p[2] = a2;
  }
}

// Uniform span along one line of `length` pixels `step` bytes apart. Sums stay in 32 bits:
// a run never holds more pixels than one image line.
void SpanLine(uint8_t* line, uint32_t length, std::size_t step, float threshold,
              uint32_t maxRun) {
  uint32_t start = 0;
  const uint8_t* anchor = line;
  for (uint32_t x = 1; x < length; ++x) {
    const uint8_t* p = line + x * step;
    if (static_cast<float>(PixelDistance(p, anchor)) > threshold || x - start >= maxRun) {
      if (x - start >= 2) AverageRun(line + start * step, x - start, step);
      start = x;
      anchor = p;
    }
  }
  if (length - start >= 2) AverageRun(line + start * step, length - start, step);
}

// Uniform block on one segment of `count` pixels `step` bytes apart: the average, then the
// mean distance to it with the per-pixel bound, as the distance measure computes it.
void BlockSegment(uint8_t* first, uint32_t count, std::size_t step, float threshold) {
  uint32_t s0 = 0, s1 = 0, s2 = 0;
  uint8_t* p = first;
  for (uint32_t i = 0; i < count; ++i, p += step) {
    s0 += p[0];
    s1 += p[1];
    s2 += p[2];
  }
  const uint8_t average[3] = {static_cast<uint8_t>(s0 / count), static_cast<uint8_t>(s1 / count),
                              static_cast<uint8_t>(s2 / count)};
  uint64_t sum = 0;
  p = first;
  for (uint32_t i = 0; i < count; ++i, p += step) {
    const uint32_t d = PixelDistance(p, average);
    if (static_cast<float>(d) > threshold) return;
    sum += d;
  }
  const float mean = static_cast<float>(sum) / static_cast<float>(count);
  if (!(mean < threshold)) return;
  p = first;
  for (uint32_t i = 0; i < count; ++i, p += step) {
    p[0] = average[0];
    p[1] = average[1];
    p[2] = average[2];
  }
}

}  // namespace

bool FrameImage::Resize(uint32_t width, uint32_t height, int32_t method,
                        const std::atomic<bool>* cancel) {
  if (width == 0 || height == 0 || !pixels_) return false;
  if (width == width_ && height == height_) return true;
  FrameImage scratch(ColourTag::kPlain);
  if (!scratch.Allocate(width, height)) return false;
  const float sx = static_cast<float>(static_cast<double>(width_) / width);
  const float sy = static_cast<float>(static_cast<double>(height_) / height);
  const uint32_t lastX = width_ - 1, lastY = height_ - 1;
  if (method == 1) {
    // Source areas of trunc(sx) x trunc(sy) pixels, at least one pixel when enlarging.
    const auto areaW = static_cast<int32_t>(std::max(1.0f, sx));
    const auto areaH = static_cast<int32_t>(std::max(1.0f, sy));
    const Region saved = region_;
    float yi = 0.0f;
    for (uint32_t i = 0; i < height; ++i, yi += sy) {
      if (CheckNow(i, cancel)) {
        SetRegion(saved.x, saved.y, saved.w, saved.h);
        return false;
      }
      uint8_t* out = scratch.Row(i);
      const auto top = std::min(static_cast<uint32_t>(yi), lastY);
      float xj = 0.0f;
      for (uint32_t j = 0; j < width; ++j, xj += sx, out += 3) {
        const auto left = std::min(static_cast<uint32_t>(xj), lastX);
        if (!SelectRegion(static_cast<int32_t>(left), static_cast<int32_t>(top), areaW, areaH)) {
          SetRegion(left, top, 1, 1);
        }
        const Colour c = RegionAverage();
        out[0] = c[0];
        out[1] = c[1];
        out[2] = c[2];
      }
    }
    SetRegion(saved.x, saved.y, saved.w, saved.h);
  } else {
    // Extended-precision accumulators: the sampled positions follow repeated addition.
    long double yi = 0.0L;
    for (uint32_t i = 0; i < height; ++i, yi += sy) {
      if (CheckNow(i, cancel)) return false;
      uint8_t* out = scratch.Row(i);
      const uint8_t* in = Row(std::min(static_cast<uint32_t>(yi), lastY));
      long double xj = 0.0L;
      for (uint32_t j = 0; j < width; ++j, xj += sx, out += 3) {
        const uint8_t* p = in + std::size_t{std::min(static_cast<uint32_t>(xj), lastX)} * 3;
        out[0] = p[0];
        out[1] = p[1];
        out[2] = p[2];
      }
    }
  }
  for (uint32_t i = 0; i < height; ++i) {
    uint8_t* row = scratch.Row(i);
    std::memset(row + std::size_t{width} * 3, 0, scratch.stride_ - std::size_t{width} * 3);
  }
  scratch.colourTag_ = colourTag_;
  Swap(scratch);
  SelectAll();
  return true;
}

bool FrameImage::UniformSpanHorizontal(float threshold, uint32_t maxRun,
                                       const std::atomic<bool>* cancel) {
  if (!pixels_) return true;
  for (uint32_t y = 0; y < height_; ++y) {
    if (CheckNow(y, cancel)) return false;
    SpanLine(Row(y), width_, 3, threshold, maxRun);
  }
  return true;
}

bool FrameImage::UniformSpanVertical(float threshold, uint32_t maxRun,
                                     const std::atomic<bool>* cancel) {
  if (!pixels_) return true;
  for (uint32_t x = 0; x < width_; ++x) {
    if (CheckNow(x, cancel)) return false;
    SpanLine(pixels_.get() + std::size_t{x} * 3, height_, stride_, threshold, maxRun);
  }
  return true;
}

bool FrameImage::UniformBlockHorizontal(float threshold, uint32_t segment,
                                        const std::atomic<bool>* cancel) {
  if (!pixels_ || segment == 0) return true;
  for (uint32_t y = 0; y < height_; ++y) {
    if (CheckNow(y, cancel)) return false;
    uint8_t* row = Row(y);
    for (uint32_t x = 0; x < width_; x += segment) {
      BlockSegment(row + std::size_t{x} * 3, std::min(segment, width_ - x), 3, threshold);
    }
  }
  return true;
}

bool FrameImage::UniformBlockVertical(float threshold, uint32_t segment,
                                      const std::atomic<bool>* cancel) {
  if (!pixels_ || segment == 0) return true;
  for (uint32_t x = 0; x < width_; ++x) {
    if (CheckNow(x, cancel)) return false;
    uint8_t* column = pixels_.get() + std::size_t{x} * 3;
    for (uint32_t y = 0; y < height_; y += segment) {
      BlockSegment(column + std::size_t{y} * stride_, std::min(segment, height_ - y), stride_,
                   threshold);
    }
  }
  return true;
}

bool FrameImage::Darken(float factor, const std::atomic<bool>* cancel) {
  for (uint32_t y = 0; y < height_; ++y) {
    if (CheckNow(y, cancel)) return false;
    uint8_t* p = Row(y);
    for (uint32_t x = 0; x < width_; ++x, p += 3) {
      p[0] = ClampTruncate(static_cast<float>(p[0]) * factor);
    }
  }
  return true;
}

bool FrameImage::DarkLimit(float threshold, const std::atomic<bool>* cancel) {
  for (uint32_t y = 0; y < height_; ++y) {
    if (CheckNow(y, cancel)) return false;
    uint8_t* p = Row(y);
    for (uint32_t x = 0; x < width_; ++x, p += 3) {
      if (static_cast<float>(p[0]) < threshold) {
        p[0] = 0;
        p[1] = 128;
        p[2] = 128;
      }
    }
  }
  return true;
}

bool FrameImage::Quantise(uint32_t bits, uint32_t channel, const std::atomic<bool>* cancel) {
  if (bits >= 8 || channel > 2 || !pixels_) return true;
  // k in 8 bits: 0 bits kept gives k = 0, so the mask and the middle bit are both 0.
  const auto k = static_cast<uint8_t>(1u << (8 - bits));
  const auto keep = static_cast<uint8_t>(~static_cast<uint8_t>(k - 1));
  const auto middle = static_cast<uint8_t>(k / 2);
  uint8_t* row = pixels_.get() + regionOffset_ + channel;
  for (uint32_t y = 0; y < region_.h; ++y, row += stride_) {
    if (CheckNow(y, cancel)) return false;
    uint8_t* p = row;
    for (uint32_t x = 0; x < region_.w; ++x, p += 3) {
      *p = static_cast<uint8_t>((*p & keep) | middle);
    }
  }
  return true;
}

namespace {

// One smoothing step on `count` bytes: out[i] = trunc((e x (n1 + n2 + n3) + self) / d). The
// neighbour rows are given as byte offsets from the pixel byte. In-place safe in both
// directions: every group of four loads all its inputs before storing, and the neighbours it
// reads lie outside the bytes already written by the pass.
#if defined(__SSE2__)
inline __m128 LoadFloats(const uint8_t* p) {
  int32_t word;
  std::memcpy(&word, p, 4);
  const __m128i zero = _mm_setzero_si128();
  const __m128i bytes = _mm_cvtsi32_si128(word);
  return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
}

// trunc of four floats, clamped to [0, 255] like ClampTruncate (NaN gives 0).
inline void StoreBytes(uint8_t* p, __m128 v) {
  const __m128i ints = _mm_cvttps_epi32(_mm_min_ps(_mm_set1_ps(255.0f), v));
  const __m128i words = _mm_packs_epi32(ints, ints);
  const auto packed = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
  std::memcpy(p, &packed, 4);
}
#endif

void SmoothForwardRow(uint8_t* p, const uint8_t* below, uint32_t count, float e, float d) {
  uint32_t i = 0;
#if defined(__SSE2__)
  const __m128 ve = _mm_set1_ps(e), vd = _mm_set1_ps(d);
  for (; i + 4 <= count; i += 4) {
    const __m128 self = LoadFloats(p + i);
    const __m128 n = _mm_add_ps(_mm_add_ps(LoadFloats(p + i + 3), LoadFloats(below + i)),
                                LoadFloats(below + i + 3));
    StoreBytes(p + i, _mm_div_ps(_mm_add_ps(_mm_mul_ps(ve, n), self), vd));
  }
#endif
  for (; i < count; ++i) {
    const int32_t neighbours = p[i + 3] + below[i] + below[i + 3];
    p[i] = ClampTruncate((e * static_cast<float>(neighbours) + p[i]) / d);
  }
}

// Bytes count - 1 down to 0 of p (which starts one pixel in), reading left and above.
void SmoothBackwardRow(uint8_t* p, const uint8_t* above, uint32_t count, float e, float d) {
  uint32_t i = count;
#if defined(__SSE2__)
  const __m128 ve = _mm_set1_ps(e), vd = _mm_set1_ps(d);
  for (; i >= 4; i -= 4) {
    const uint32_t at = i - 4;
    const __m128 self = LoadFloats(p + at);
    const __m128 n = _mm_add_ps(_mm_add_ps(LoadFloats(p + at - 3), LoadFloats(above + at)),
                                LoadFloats(above + at - 3));
    StoreBytes(p + at, _mm_div_ps(_mm_add_ps(_mm_mul_ps(ve, n), self), vd));
  }
#endif
  while (i > 0) {
    --i;
    uint8_t* q = p + i;
    const uint8_t* up = above + i;
    const int32_t neighbours = q[-3] + up[0] + up[-3];
    *q = ClampTruncate((e * static_cast<float>(neighbours) + *q) / d);
  }
}

}  // namespace

// Each pass reads only neighbours it has not written yet, so it equals a filter over the
// unchanged image while working in place. The sums are integers, converted exactly; the float
// arithmetic is the same single-precision sequence in the vector and scalar forms.
bool FrameImage::SmoothForward(float smooth, const std::atomic<bool>* cancel) {
  if (height_ < 2 || width_ < 2) return true;
  const float s = smooth * 0.01f;
  const float e = s * 0.33333334f;
  const float d = s + 1.0f;
  for (uint32_t y = 0; y + 1 < height_; ++y) {
    if (CheckNow(y, cancel)) return false;
    SmoothForwardRow(Row(y), Row(y + 1), (width_ - 1) * 3, e, d);
  }
  return true;
}

bool FrameImage::SmoothBackward(float smooth, const std::atomic<bool>* cancel) {
  if (height_ < 2 || width_ < 2) return true;
  const float s = smooth * 0.01f;
  const float e = s * 0.33333334f;
  const float d = s + 1.0f;
  for (uint32_t y = height_ - 1; y >= 1; --y) {
    if (CheckNow(height_ - 1 - y, cancel)) return false;
    SmoothBackwardRow(Row(y) + 3, Row(y - 1) + 3, (width_ - 1) * 3, e, d);
  }
  return true;
}

}  // namespace quillon
