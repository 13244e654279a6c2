#include "video/frame_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "video/vector_kernels.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace quillon {
namespace {

// Keeps every byte offset and w x h count within 32 bits with room to spare.
constexpr uint64_t kMaxImageBytes = uint64_t{1} << 31;

uint32_t StrideFor(uint32_t width) { return (width * 3 + 3) & ~uint32_t{3}; }

}  // namespace

void FrameImage::FreeDeleter::operator()(uint8_t* p) const { std::free(p); }

FrameImage::FrameImage(ColourTag tag) : colourTag_(tag) {}

FrameImage::~FrameImage() = default;

bool FrameImage::LoadFrom(const uint8_t* /*packedDib*/, std::size_t /*size*/) { return false; }

bool FrameImage::Allocate(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0) return false;
  const uint64_t stride = (uint64_t{width} * 3 + 3) & ~uint64_t{3};
  const uint64_t bytes = stride * height;
  if (bytes > kMaxImageBytes) return false;
  if (width != width_ || height != height_ || !pixels_) {
    if (bytes > capacity_ || !pixels_) {
      auto* fresh = static_cast<uint8_t*>(std::malloc(static_cast<std::size_t>(bytes)));
      if (fresh == nullptr) return false;
      pixels_.reset(fresh);
      capacity_ = static_cast<std::size_t>(bytes);
    }
    width_ = width;
    height_ = height;
    stride_ = static_cast<uint32_t>(stride);
  }
  SelectAll();
  return true;
}

bool FrameImage::Allocate(uint32_t width, uint32_t height, const Colour& fill) {
  if (!Allocate(width, height)) return false;
  for (uint32_t y = 0; y < height_; ++y) {
    uint8_t* p = Row(y);
    for (uint32_t x = 0; x < width_; ++x, p += 3) {
      p[0] = fill[0];
      p[1] = fill[1];
      p[2] = fill[2];
    }
    // Padding bytes are zeroed so that whole-buffer copies and comparisons are deterministic.
    std::memset(p, 0, stride_ - width_ * 3);
  }
  return true;
}

void FrameImage::Swap(FrameImage& other) noexcept {
  std::swap(width_, other.width_);
  std::swap(height_, other.height_);
  std::swap(stride_, other.stride_);
  std::swap(pixels_, other.pixels_);
  std::swap(capacity_, other.capacity_);
  std::swap(region_, other.region_);
  std::swap(regionOffset_, other.regionOffset_);
  std::swap(colourTag_, other.colourTag_);
}

void FrameImage::SetRegion(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  region_ = Region{x, y, w, h};
  regionOffset_ = std::size_t{y} * stride_ + std::size_t{x} * 3;
}

bool FrameImage::ClipRect(int32_t& x, int32_t& y, int32_t& w, int32_t& h) const {
  int64_t cx = x, cy = y, cw = w, ch = h;
  if (cx < 0) {
    cw += cx;
    cx = 0;
  }
  if (cy < 0) {
    ch += cy;
    cy = 0;
  }
  if (cx >= int64_t{width_} || cy >= int64_t{height_} || cw <= 0 || ch <= 0) return false;
  cw = std::min<int64_t>(cw, int64_t{width_} - cx);
  ch = std::min<int64_t>(ch, int64_t{height_} - cy);
  x = static_cast<int32_t>(cx);
  y = static_cast<int32_t>(cy);
  w = static_cast<int32_t>(cw);
  h = static_cast<int32_t>(ch);
  return true;
}

bool FrameImage::SelectRegion(int32_t x, int32_t y, int32_t w, int32_t h) {
  if (!ClipRect(x, y, w, h)) return false;
  SetRegion(static_cast<uint32_t>(x), static_cast<uint32_t>(y), static_cast<uint32_t>(w),
            static_cast<uint32_t>(h));
  return true;
}

void FrameImage::SelectAll() { SetRegion(0, 0, width_, height_); }

namespace {

// 48 bytes hold 16 whole pixels, so byte k of every 48 belongs to channel k mod 3. The vector
// sums add each 48-byte group into 48 16-bit lanes, one per position, and fold the lanes into
// the channels only every kGroupsPerFold groups (255 x 256 still fits in 16 bits).
#if defined(__SSE2__)
constexpr uint32_t kGroupBytes = 48;
constexpr uint32_t kGroupsPerFold = 256;
// The picture is often one just converted on another thread, in another core's cache: rows are
// asked for this many rows ahead.
constexpr uint32_t kRowsAhead = 6;

void FoldLanes(const uint16_t lanes[kGroupBytes], uint64_t sums[3]) {
  for (uint32_t k = 0; k < kGroupBytes; k += 3) {
    sums[0] += lanes[k];
    sums[1] += lanes[k + 1];
    sums[2] += lanes[k + 2];
  }
}

// Runs add(p, groups) on every row's whole groups, at most kGroupsPerFold between two folds,
// fold() emptying the lanes into the sums.
template <typename Add, typename Fold>
inline void ForEachGroupRun(const uint8_t* row, std::size_t stride, uint32_t groupsPerRow,
                            uint32_t rows, Add add, Fold fold) {
  uint32_t pending = 0;
  for (uint32_t y = 0; y < rows; ++y, row += stride) {
    if (y + kRowsAhead < rows) {
      for (uint32_t i = 0; i < groupsPerRow * kGroupBytes; i += 64) {
        _mm_prefetch(reinterpret_cast<const char*>(row + kRowsAhead * stride + i), _MM_HINT_T0);
      }
    }
    for (uint32_t g = 0; g < groupsPerRow;) {
      const uint32_t run = std::min(groupsPerRow - g, kGroupsPerFold - pending);
      add(row + std::size_t{g} * kGroupBytes, run);
      g += run;
      pending += run;
      if (pending == kGroupsPerFold) {
        fold();
        pending = 0;
      }
    }
  }
  if (pending > 0) fold();
}

void GroupSums(const uint8_t* row, std::size_t stride, uint32_t groupsPerRow, uint32_t rows,
               uint64_t sums[3]) {
  const __m128i zero = _mm_setzero_si128();
  __m128i acc[6];
  for (__m128i& a : acc) a = zero;
  auto add = [&acc, zero](const uint8_t* p, uint32_t groups) {
    for (uint32_t i = 0; i < groups; ++i, p += kGroupBytes) {
      for (int j = 0; j < 3; ++j) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * j));
        acc[2 * j] = _mm_add_epi16(acc[2 * j], _mm_unpacklo_epi8(v, zero));
        acc[2 * j + 1] = _mm_add_epi16(acc[2 * j + 1], _mm_unpackhi_epi8(v, zero));
      }
    }
  };
  auto fold = [&acc, zero, sums]() {
    alignas(16) uint16_t lanes[kGroupBytes];
    for (int j = 0; j < 6; ++j) {
      _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 8 * j), acc[j]);
      acc[j] = zero;
    }
    FoldLanes(lanes, sums);
  };
  ForEachGroupRun(row, stride, groupsPerRow, rows, add, fold);
}

__attribute__((target("avx2"))) inline __m256i WidenBytes(const uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Sixteen bytes widened into one 256-bit register: three loads and three adds a group.
__attribute__((target("avx2"))) void GroupSumsAvx2(const uint8_t* row, std::size_t stride,
                                                   uint32_t groupsPerRow, uint32_t rows,
                                                   uint64_t sums[3]) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i acc0 = zero, acc1 = zero, acc2 = zero;
  auto add = [&acc0, &acc1, &acc2](const uint8_t* p, uint32_t groups)
                 __attribute__((target("avx2"))) {
    for (uint32_t i = 0; i < groups; ++i, p += kGroupBytes) {
      acc0 = _mm256_add_epi16(acc0, WidenBytes(p));
      acc1 = _mm256_add_epi16(acc1, WidenBytes(p + 16));
      acc2 = _mm256_add_epi16(acc2, WidenBytes(p + 32));
    }
  };
  auto fold = [&acc0, &acc1, &acc2, zero, sums]() __attribute__((target("avx2"))) {
    alignas(32) uint16_t lanes[kGroupBytes];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), acc0);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes + 16), acc1);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes + 32), acc2);
    acc0 = acc1 = acc2 = zero;
    FoldLanes(lanes, sums);
  };
  ForEachGroupRun(row, stride, groupsPerRow, rows, add, fold);
}
#endif

// Per-channel byte sums over `rows` rows of n bytes (whole pixels) each.
void ChannelSums(const uint8_t* row, std::size_t stride, uint32_t n, uint32_t rows,
                 uint64_t sums[3]) {
#if defined(__SSE2__)
  const uint32_t groupsPerRow = n / kGroupBytes;
  if (groupsPerRow > 0) {
    if (Avx2Kernels()) {
      GroupSumsAvx2(row, stride, groupsPerRow, rows, sums);
    } else {
      GroupSums(row, stride, groupsPerRow, rows, sums);
    }
  }
  const uint32_t vectorBytes = groupsPerRow * kGroupBytes;
#else
  const uint32_t vectorBytes = 0;
#endif
  for (uint32_t y = 0; y < rows; ++y, row += stride) {
    for (uint32_t i = vectorBytes; i < n; i += 3) {
      sums[0] += row[i];
      sums[1] += row[i + 1];
      sums[2] += row[i + 2];
    }
  }
}

}  // namespace

Colour FrameImage::RegionAverage() const {
  return AverageOf(RegionChannelSums(), RegionCount());
}

RegionSums FrameImage::RegionChannelSums() const {
  RegionSums sums;
  if (RegionCount() > 0) {
    ChannelSums(RegionPixels(), stride_, region_.w * 3, region_.h, sums.channel);
  }
  return sums;
}

Colour FrameImage::AverageOf(const RegionSums& sums, uint32_t count) {
  if (count == 0) return Colour{0, 0, 0};
  const uint64_t* c = sums.channel;
  return Colour{static_cast<uint8_t>(c[0] / count), static_cast<uint8_t>(c[1] / count),
                static_cast<uint8_t>(c[2] / count)};
}

bool FrameImage::FillRect(int32_t x, int32_t y, int32_t w, int32_t h, const Colour& colour) {
  if (!ClipRect(x, y, w, h)) return false;
  for (int32_t r = 0; r < h; ++r) {
    uint8_t* p = Row(static_cast<uint32_t>(y + r)) + std::size_t(x) * 3;
    for (int32_t c = 0; c < w; ++c, p += 3) {
      p[0] = colour[0];
      p[1] = colour[1];
      p[2] = colour[2];
    }
  }
  return true;
}

bool FrameImage::CopyRect(int32_t x, int32_t y, int32_t w, int32_t h, const FrameImage& source,
                          int32_t sourceX, int32_t sourceY) {
  // Both origins move together so that every copied pixel keeps its partner in the source.
  int64_t dx = x, dy = y, sx = sourceX, sy = sourceY, cw = w, ch = h;
  if (dx < 0) { sx -= dx; cw += dx; dx = 0; }
  if (dy < 0) { sy -= dy; ch += dy; dy = 0; }
  if (sx < 0) { dx -= sx; cw += sx; sx = 0; }
  if (sy < 0) { dy -= sy; ch += sy; sy = 0; }
  cw = std::min({cw, int64_t{width_} - dx, int64_t{source.width_} - sx});
  ch = std::min({ch, int64_t{height_} - dy, int64_t{source.height_} - sy});
  if (cw <= 0 || ch <= 0) return false;
  const std::size_t rowBytes = static_cast<std::size_t>(cw) * 3;
  for (int64_t r = 0; r < ch; ++r) {
    std::memmove(Row(static_cast<uint32_t>(dy + r)) + dx * 3,
                 source.Row(static_cast<uint32_t>(sy + r)) + sx * 3, rowBytes);
  }
  return true;
}

bool FrameImage::CopyTo(FrameImage& other) const {
  if (&other == this) return true;
  if (!pixels_) return false;
  if (!other.Allocate(width_, height_)) return false;
  std::memcpy(other.pixels_.get(), pixels_.get(), ByteSize());
  other.colourTag_ = colourTag_;
  return true;
}

bool FrameImage::LoadRows(uint32_t width, uint32_t sourceStride, int32_t rowCount,
                          const uint8_t* bits, bool swap, std::size_t bitsSize) {
  if (bits == nullptr || width == 0 || rowCount == 0) return false;
  const uint64_t rowBytes = uint64_t{width} * 3;
  if (sourceStride < rowBytes) return false;
  const int64_t signedRows = rowCount;
  const uint64_t rows = static_cast<uint64_t>(signedRows < 0 ? -signedRows : signedRows);
  if (rows > UINT32_MAX) return false;
  // Only the pixels of the last row are read, not its padding.
  const uint64_t needed = (rows - 1) * sourceStride + rowBytes;
  if (bitsSize != kUncheckedSize && needed > bitsSize) return false;
  if (!Allocate(width, static_cast<uint32_t>(rows))) return false;
  const std::size_t pad = stride_ - static_cast<std::size_t>(rowBytes);
  for (uint32_t i = 0; i < height_; ++i) {
    const uint64_t sourceRow = rowCount > 0 ? i : rows - 1 - i;
    uint8_t* out = Row(i);
    RgbToYCbCr(bits + sourceRow * sourceStride, out, width, swap);
    std::memset(out + rowBytes, 0, pad);
  }
  colourTag_ = ColourTag::kYCbCr;
  return true;
}

std::unique_ptr<RgbPicture> FrameImage::ExportRgb(int32_t x, int32_t y, int32_t w, int32_t h,
                                                  bool grey) const {
  if (!ClipRect(x, y, w, h)) return nullptr;
  try {
    auto picture = std::make_unique<RgbPicture>();
    picture->width = static_cast<uint32_t>(w);
    picture->height = static_cast<uint32_t>(h);
    picture->pixels.resize(std::size_t(w) * 3 * std::size_t(h));
    uint8_t* out = picture->pixels.data();
    for (int32_t r = 0; r < h; ++r) {
      const uint8_t* in = Row(static_cast<uint32_t>(y + r)) + std::size_t(x) * 3;
      for (int32_t c = 0; c < w; ++c, in += 3, out += 3) {
        if (colourTag_ == ColourTag::kYCbCr) {
          if (grey) {
            out[0] = out[1] = out[2] = in[0];
          } else {
            YCbCrToRgb(in, out);
          }
        } else if (grey) {
          out[0] = out[1] = out[2] =
              static_cast<uint8_t>((uint32_t{in[0]} + in[1] + in[2]) / 3);
        } else {
          out[0] = in[0];
          out[1] = in[1];
          out[2] = in[2];
        }
      }
    }
    return picture;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<RgbPicture> FrameImage::ExportRgb(bool grey) const {
  return ExportRgb(0, 0, static_cast<int32_t>(width_), static_cast<int32_t>(height_), grey);
}

namespace {

// Reads a little-endian field of a bitmap header.
uint32_t Read32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

constexpr std::size_t kDibHeaderSize = 40;
constexpr uint32_t kBiRgb = 0;

}  // namespace

bool VideoFrame::LoadFrom(const uint8_t* packedDib, std::size_t size) {
  if (packedDib == nullptr || size < kDibHeaderSize) return false;
  const auto biWidth = static_cast<int32_t>(Read32(packedDib + 4));
  const auto biHeight = static_cast<int32_t>(Read32(packedDib + 8));
  const uint16_t bitCount = Read16(packedDib + 14);
  const uint32_t compression = Read32(packedDib + 16);
  if (biWidth <= 0 || biHeight == 0 || biHeight == INT32_MIN || compression != kBiRgb) {
    return false;
  }
  const uint8_t* bits = packedDib + kDibHeaderSize;
  const std::size_t bitsSize = size - kDibHeaderSize;
  const auto width = static_cast<uint32_t>(biWidth);
  if (bitCount == 24) {
    const uint64_t stride = (uint64_t{width} * 3 + 3) & ~uint64_t{3};
    if (stride > UINT32_MAX) return false;
    return LoadRows(width, static_cast<uint32_t>(stride), -biHeight, bits, true, bitsSize);
  }
  if (bitCount != 32) return false;
  // 32-bit rows (blue, green, red, unused) are packed down to 24 bits first.
  const uint64_t rows = biHeight < 0 ? uint64_t(-int64_t{biHeight}) : uint64_t(biHeight);
  const uint64_t sourceStride = uint64_t{width} * 4;
  if (sourceStride * rows > bitsSize || sourceStride * rows > kMaxImageBytes) return false;
  try {
    const uint32_t packedStride = StrideFor(width);
    std::vector<uint8_t> packed(static_cast<std::size_t>(packedStride * rows));
    for (uint64_t r = 0; r < rows; ++r) {
      const uint8_t* in = bits + r * sourceStride;
      uint8_t* out = packed.data() + r * packedStride;
      for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
      }
    }
    return LoadRows(width, packedStride, -biHeight, packed.data(), true, packed.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool FrameImage::HalveWidth(FrameImage& target, float limit, int32_t method) const {
  if (width_ < 16) return false;
  FrameImage temp;
  FrameImage& out = &target == this ? temp : target;
  if (!out.Allocate(width_ / 2, height_)) return false;
  out.colourTag_ = colourTag_;
  const float bound = method == 1 ? 2.0f * limit : limit;
  for (uint32_t y = 0; y < height_; ++y) {
    const uint8_t* in = Row(y);
    uint8_t* o = out.Row(y);
    for (uint32_t i = 0; i < out.width_; ++i, in += 6, o += 3) {
      if (static_cast<float>(PixelDistance(in, in + 3)) > bound) return false;
      if (method == 1) {
        o[0] = static_cast<uint8_t>((in[0] + in[3]) / 2);
        o[1] = static_cast<uint8_t>((in[1] + in[4]) / 2);
        o[2] = static_cast<uint8_t>((in[2] + in[5]) / 2);
      } else {
        o[0] = in[0];
        o[1] = in[1];
        o[2] = in[2];
      }
    }
  }
  if (&out == &temp) target.Swap(temp);
  return true;
}

bool FrameImage::HalveHeight(FrameImage& target, float limit, int32_t method) const {
  if (height_ < 16) return false;
  FrameImage temp;
  FrameImage& out = &target == this ? temp : target;
  if (!out.Allocate(width_, height_ / 2)) return false;
  out.colourTag_ = colourTag_;
  const float bound = method == 1 ? 2.0f * limit : limit;
  for (uint32_t y = 0; y < out.height_; ++y) {
    const uint8_t* a = Row(2 * y);
    const uint8_t* b = Row(2 * y + 1);
    uint8_t* o = out.Row(y);
    for (uint32_t x = 0; x < width_; ++x, a += 3, b += 3, o += 3) {
      if (static_cast<float>(PixelDistance(a, b)) > bound) return false;
      if (method == 1) {
        o[0] = static_cast<uint8_t>((a[0] + b[0]) / 2);
        o[1] = static_cast<uint8_t>((a[1] + b[1]) / 2);
        o[2] = static_cast<uint8_t>((a[2] + b[2]) / 2);
      } else {
        o[0] = a[0];
        o[1] = a[1];
        o[2] = a[2];
      }
    }
  }
  if (&out == &temp) target.Swap(temp);
  return true;
}

}  // namespace quillon
