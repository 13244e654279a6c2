// The three bitmap encoders: baseline JPEG (tables and abbreviated image as separate streams),
// 32-bit ARGB zlib and 8-bit palette zlib.
#include "video/frame_image.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <new>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>
#include <zlib.h>

#include "swf/byte_buffer.h"

namespace quillon {
namespace {

// ---- JPEG ---------------------------------------------------------------------------------

constexpr std::size_t kJpegBlockSize = 4096;

struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

// The library's warnings and traces would go to stderr; the engine stays silent.
void JpegOutputMessage(j_common_ptr /*cinfo*/) {}

// Appends the compressed stream to a ByteBuffer (or drops it when there is none) through one
// block from the compressor's image pool.
struct JpegDestination {
  jpeg_destination_mgr pub;
  ByteBuffer* target;
  JOCTET* block;
};

void JpegInitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  dest->block = static_cast<JOCTET*>((*cinfo->mem->alloc_small)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kJpegBlockSize));
  dest->pub.next_output_byte = dest->block;
  dest->pub.free_in_buffer = kJpegBlockSize;
}

void JpegAppend(j_compress_ptr cinfo, std::size_t n) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  if (dest->target == nullptr || n == 0) return;
  if (dest->target->Append(dest->block, static_cast<uint32_t>(n)) != n) {
    ERREXIT(cinfo, JERR_FILE_WRITE);
  }
}

boolean JpegEmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  JpegAppend(cinfo, kJpegBlockSize);
  dest->pub.next_output_byte = dest->block;
  dest->pub.free_in_buffer = kJpegBlockSize;
  return TRUE;
}

void JpegTermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  JpegAppend(cinfo, kJpegBlockSize - dest->pub.free_in_buffer);
}

// Kept free of objects with destructors: a library error leaves it through longjmp.
bool CompressJpeg(ByteBuffer* tables, ByteBuffer* image, const uint8_t* first,
                  std::size_t stride, uint32_t w, uint32_t h, J_COLOR_SPACE space,
                  int32_t quality) {
  jpeg_compress_struct cinfo;
  JpegErrorManager err;
  JpegDestination dest;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegErrorExit;
  err.pub.output_message = JpegOutputMessage;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  dest.pub.init_destination = JpegInitDestination;
  dest.pub.empty_output_buffer = JpegEmptyOutputBuffer;
  dest.pub.term_destination = JpegTermDestination;
  dest.target = tables;
  dest.block = nullptr;
  cinfo.dest = &dest.pub;

  cinfo.image_width = w;
  cinfo.image_height = h;
  cinfo.input_components = 3;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  // Writing the tables marks them as sent, so the image stream that follows leaves them out.
  jpeg_write_tables(&cinfo);
  if (image != nullptr) {
    dest.target = image;
    jpeg_start_compress(&cinfo, FALSE);
    for (uint32_t y = 0; y < h; ++y) {
      JSAMPROW row = const_cast<JSAMPROW>(first + y * stride);
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
  }
  jpeg_destroy_compress(&cinfo);
  return true;
}

// ---- zlib ---------------------------------------------------------------------------------

// Compresses src into out (emptied first), reserving at least the room zlib needs.
bool CompressInto(ByteBuffer& out, const std::vector<uint8_t>& src, int32_t level) {
  const auto srcLen = static_cast<uLong>(src.size());
  const uLong room = std::max<uLong>(srcLen + srcLen / 100 + 12, compressBound(srcLen));
  if (room > UINT32_MAX) return false;
  out.Truncate(0);
  uint8_t* dst = out.Reserve(static_cast<uint32_t>(room));
  if (dst == nullptr) return false;
  uLongf dstLen = room;
  if (compress2(dst, &dstLen, src.data(), srcLen, level) != Z_OK) return false;
  out.Truncate(static_cast<uint32_t>(dstLen));
  return true;
}

// As CompressInto, but stops once more than limit bytes would be produced (overLimit set).
// deflate's bytes do not depend on how the output space is handed to it, so a stream that fits
// is identical to compress2's.
bool CompressBoundedInto(ByteBuffer& out, const std::vector<uint8_t>& src, int32_t level,
                         uint32_t limit, bool& overLimit) {
  overLimit = false;
  const auto srcLen = static_cast<uLong>(src.size());
  const uLong room = std::max<uLong>(srcLen + srcLen / 100 + 12, compressBound(srcLen));
  if (room > UINT32_MAX) return false;
  const uLong cap = std::min<uLong>(room, uLong{limit} + 1);
  out.Truncate(0);
  uint8_t* dst = out.Reserve(static_cast<uint32_t>(cap));
  if (dst == nullptr) return false;
  z_stream stream{};
  if (deflateInit(&stream, level) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(src.data());
  stream.avail_in = static_cast<uInt>(srcLen);
  stream.next_out = dst;
  stream.avail_out = static_cast<uInt>(cap);
  const int result = deflate(&stream, Z_FINISH);
  const uLong produced = stream.total_out;
  deflateEnd(&stream);
  if (result == Z_STREAM_END && produced <= limit) {
    out.Truncate(static_cast<uint32_t>(produced));
    return true;
  }
  // Either the finished stream is longer than the limit or the space up to it ran out.
  const bool spaceRanOut = (result == Z_OK || result == Z_BUF_ERROR) && cap < room;
  if ((result == Z_STREAM_END && produced > limit) || spaceRanOut) {
    out.Truncate(0);
    overLimit = true;
    return true;
  }
  return false;
}

inline void ToRgb(ColourTag tag, const uint8_t* in, uint8_t* out) {
  if (tag == ColourTag::kYCbCr) {
    YCbCrToRgb(in, out);
  } else {
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
  }
}

inline uint32_t Pack(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}

// Distinct colours in order of first appearance with their pixel counts; open addressing on
// the packed 24-bit value.
class ColourCounter {
 public:
  explicit ColourCounter(uint32_t expected) {
    uint32_t size = 64;
    // Starts small for huge limits; Add grows the table as colours arrive.
    while (size < uint64_t{expected} * 2 && size < (1u << 16)) size <<= 1;
    slots_.assign(size, kEmpty);
    mask_ = size - 1;
  }
  // Index of the colour in colours(), added when new.
  uint32_t Add(uint32_t colour) {
    uint32_t slot = (colour * 2654435761u) & mask_;
    while (true) {
      const uint32_t entry = slots_[slot];
      if (entry == kEmpty) {
        if (colours.size() * 2 >= slots_.size()) Grow();
        return Insert(colour);
      }
      if (colours[entry] == colour) {
        ++counts[entry];
        return entry;
      }
      slot = (slot + 1) & mask_;
    }
  }
  std::vector<uint32_t> colours;
  std::vector<uint32_t> counts;

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;
  uint32_t Insert(uint32_t colour) {
    uint32_t slot = (colour * 2654435761u) & mask_;
    while (slots_[slot] != kEmpty) slot = (slot + 1) & mask_;
    const auto index = static_cast<uint32_t>(colours.size());
    slots_[slot] = index;
    colours.push_back(colour);
    counts.push_back(1);
    return index;
  }
  void Grow() {
    slots_.assign(slots_.size() * 2, kEmpty);
    mask_ = static_cast<uint32_t>(slots_.size() - 1);
    for (uint32_t i = 0; i < colours.size(); ++i) {
      uint32_t slot = (colours[i] * 2654435761u) & mask_;
      while (slots_[slot] != kEmpty) slot = (slot + 1) & mask_;
      slots_[slot] = i;
    }
  }
  std::vector<uint32_t> slots_;
  uint32_t mask_ = 0;
};

inline uint32_t PackedDistance(uint32_t a, uint32_t b) {
  const int32_t d0 = int32_t(a & 0xFF) - int32_t(b & 0xFF);
  const int32_t d1 = int32_t(a >> 8 & 0xFF) - int32_t(b >> 8 & 0xFF);
  const int32_t d2 = int32_t(a >> 16 & 0xFF) - int32_t(b >> 16 & 0xFF);
  return static_cast<uint32_t>(d0 * d0 + d1 * d1 + d2 * d2);
}

// The lossless bitmap's pixels: 0xFF, R, G, B for each pixel of an already clipped rectangle,
// rows without padding.
std::vector<uint8_t> ArgbPixels(const FrameImage& image, int32_t x, int32_t y, int32_t w,
                                int32_t h) {
  std::vector<uint8_t> argb(std::size_t(w) * std::size_t(h) * 4);
  uint8_t* o = argb.data();
  for (int32_t r = 0; r < h; ++r) {
    const uint8_t* in = image.Row(static_cast<uint32_t>(y + r)) + std::size_t(x) * 3;
    for (int32_t c = 0; c < w; ++c, in += 3, o += 4) {
      o[0] = 0xFF;
      ToRgb(image.Tag(), in, o + 1);
    }
  }
  return argb;
}

}  // namespace

bool FrameImage::EncodeJpeg(ByteBuffer* tables, ByteBuffer* image, int32_t x, int32_t y,
                            int32_t w, int32_t h, int32_t quality) const {
  if (tables != nullptr) tables->Truncate(0);
  if (image != nullptr) image->Truncate(0);
  J_COLOR_SPACE space;
  if (colourTag_ == ColourTag::kYCbCr) {
    space = JCS_YCbCr;
  } else if (colourTag_ == ColourTag::kRgb) {
    space = JCS_RGB;
  } else {
    return false;
  }
  if (!ClipRect(x, y, w, h)) return false;
  // JPEG sizes are 16-bit.
  if (w > 65500 || h > 65500) return false;
  const uint8_t* first = Row(static_cast<uint32_t>(y)) + std::size_t(x) * 3;
  return CompressJpeg(tables, image, first, stride_, static_cast<uint32_t>(w),
                      static_cast<uint32_t>(h), space, quality);
}

bool FrameImage::EncodeJpeg(ByteBuffer* tables, ByteBuffer* image, int32_t quality) const {
  return EncodeJpeg(tables, image, 0, 0, static_cast<int32_t>(width_),
                    static_cast<int32_t>(height_), quality);
}

bool FrameImage::EncodeZlib32(ByteBuffer& out, int32_t x, int32_t y, int32_t w, int32_t h,
                              int32_t level) const {
  out.Truncate(0);
  if (!ClipRect(x, y, w, h)) return false;
  try {
    const std::vector<uint8_t> argb = ArgbPixels(*this, x, y, w, h);
    return CompressInto(out, argb, level);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool FrameImage::EncodeZlib32(ByteBuffer& out, int32_t x, int32_t y, int32_t w, int32_t h,
                              int32_t level, uint32_t byteLimit, bool& overLimit) const {
  overLimit = false;
  out.Truncate(0);
  if (!ClipRect(x, y, w, h)) return false;
  try {
    const std::vector<uint8_t> argb = ArgbPixels(*this, x, y, w, h);
    return CompressBoundedInto(out, argb, level, byteLimit, overLimit);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool FrameImage::EncodeZlib8(ByteBuffer& out, int32_t x, int32_t y, int32_t w, int32_t h,
                             int32_t level, float distanceLimit, uint32_t& paletteSize,
                             uint32_t uniqueLimit) const {
  out.Truncate(0);
  if (!ClipRect(x, y, w, h)) return false;
  try {
    const auto pixelCount = static_cast<uint32_t>(w) * static_cast<uint32_t>(h);
    // Every pixel's colour index, so that the nearest palette entry is found once per colour.
    std::vector<uint32_t> pixelColour(pixelCount);
    ColourCounter counter(std::min(pixelCount, uniqueLimit) + 1);
    uint32_t k = 0;
    for (int32_t r = 0; r < h; ++r) {
      const uint8_t* in = Row(static_cast<uint32_t>(y + r)) + std::size_t(x) * 3;
      for (int32_t c = 0; c < w; ++c, in += 3) {
        pixelColour[k++] = counter.Add(Pack(in));
        if (counter.colours.size() > uniqueLimit) return false;
      }
    }
    const auto distinct = static_cast<uint32_t>(counter.colours.size());

    // The most frequent colours, earliest first among equal counts.
    const uint32_t n = std::min({paletteSize, 256u, distinct});
    if (n == 0) return false;
    std::vector<uint32_t> order(distinct);
    for (uint32_t i = 0; i < distinct; ++i) order[i] = i;
    std::partial_sort(order.begin(), order.begin() + n, order.end(),
                      [&counter](uint32_t a, uint32_t b) {
                        const uint32_t ca = counter.counts[a], cb = counter.counts[b];
                        return ca != cb ? ca > cb : a < b;
                      });
    std::vector<uint32_t> palette(n);
    for (uint32_t i = 0; i < n; ++i) palette[i] = counter.colours[order[i]];

    // Nearest palette entry of every distinct colour: first of equal distances, an exact match
    // ends the search.
    std::vector<uint8_t> nearest(distinct);
    for (uint32_t i = 0; i < distinct; ++i) {
      const uint32_t colour = counter.colours[i];
      uint32_t bestIndex = 0;
      uint32_t bestDistance = UINT32_MAX;
      for (uint32_t j = 0; j < n; ++j) {
        const uint32_t d = PackedDistance(colour, palette[j]);
        if (d < bestDistance) {
          bestDistance = d;
          bestIndex = j;
          if (d == 0) break;
        }
      }
      if (static_cast<float>(bestDistance) > distanceLimit) return false;
      nearest[i] = static_cast<uint8_t>(bestIndex);
    }

    const std::size_t rowBytes = (std::size_t(w) + 3) & ~std::size_t{3};
    std::vector<uint8_t> data(std::size_t{n} * 3 + rowBytes * std::size_t(h), 0);
    for (uint32_t j = 0; j < n; ++j) {
      const uint8_t entry[3] = {static_cast<uint8_t>(palette[j]),
                                static_cast<uint8_t>(palette[j] >> 8),
                                static_cast<uint8_t>(palette[j] >> 16)};
      ToRgb(colourTag_, entry, data.data() + std::size_t{j} * 3);
    }
    k = 0;
    for (int32_t r = 0; r < h; ++r) {
      uint8_t* o = data.data() + std::size_t{n} * 3 + std::size_t(r) * rowBytes;
      for (int32_t c = 0; c < w; ++c) o[c] = nearest[pixelColour[k++]];
    }
    if (!CompressInto(out, data, level)) return false;
    paletteSize = n;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace quillon
