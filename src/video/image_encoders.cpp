// The three bitmap encoders: baseline JPEG (tables and abbreviated image as separate streams),
// 32-bit ARGB zlib and 8-bit palette zlib.
#include "video/frame_image.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>
#include <libdeflate.h>
#include <zlib.h>

#include "swf/byte_buffer.h"

namespace quillon {
namespace {

// ---- JPEG ---------------------------------------------------------------------------------

constexpr std::size_t kJpegBlockSize = 4096;

// Rows between two looks at a cancel flag.
constexpr uint32_t kRowsPerCancelCheck = 16;

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
bool CompressJpeg(ByteBuffer* tables, ByteBuffer* image, const uint8_t* first, std::size_t stride,
                  uint32_t w, uint32_t h, J_COLOR_SPACE space, int32_t quality,
                  const std::atomic<bool>* cancel) {
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
      if (y % kRowsPerCancelCheck == 0 && CancelRequested(cancel)) {
        jpeg_destroy_compress(&cinfo);
        return false;
      }
      JSAMPROW row = const_cast<JSAMPROW>(first + y * stride);
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
  }
  jpeg_destroy_compress(&cinfo);
  return true;
}

// ---- zlib ---------------------------------------------------------------------------------

enum class DeflateOutcome { kDone, kOverLimit, kFailed };

// Output room handed to deflate at a time when a cancel flag is to be looked at in between.
constexpr uLong kDeflatePiece = 64 * 1024;

// Compresses src into out (emptied first), stopping once more than limit bytes would be
// produced. The input goes to deflate in one piece on a fresh stream: both the pieces and a
// reused stream change which match deflate picks near the end (it compares bytes beyond the
// input that differ between the cases). Only the output room varies, which changes nothing
// but where the stream is given up (except at level 0, whose stored blocks follow the room:
// that level always gets all it could need). So the room may also come in pieces, between
// which a cancel is looked at (a failure here); level 0 is quick and gets it whole.
DeflateOutcome Deflate(ByteBuffer& out, const uint8_t* src, std::size_t size, int32_t level,
                       uint64_t limit, const std::atomic<bool>* cancel = nullptr) {
  const auto srcLen = static_cast<uLong>(size);
  const uLong room = std::max<uLong>(srcLen + srcLen / 100 + 12, compressBound(srcLen));
  if (room > UINT32_MAX) return DeflateOutcome::kFailed;
  const uLong cap = level == 0 || limit >= room ? room : static_cast<uLong>(limit + 1);
  out.Truncate(0);
  uint8_t* dst = out.Reserve(static_cast<uint32_t>(cap));
  if (dst == nullptr) return DeflateOutcome::kFailed;
  z_stream stream{};
  if (deflateInit(&stream, level) != Z_OK) return DeflateOutcome::kFailed;
  stream.next_in = const_cast<Bytef*>(src);
  stream.avail_in = static_cast<uInt>(srcLen);
  stream.next_out = dst;
  const uLong piece = level == 0 || cancel == nullptr ? cap : kDeflatePiece;
  uLong given = 0;
  int result = Z_OK;
  do {
    if (given > 0 && CancelRequested(cancel)) {
      deflateEnd(&stream);
      return DeflateOutcome::kFailed;
    }
    const uLong more = std::min(piece, cap - given);
    stream.avail_out = static_cast<uInt>(more);
    given += more;
    result = deflate(&stream, Z_FINISH);
    // Only a piece used up to its last byte leaves the stream wanting more room.
  } while ((result == Z_OK || result == Z_BUF_ERROR) && stream.avail_out == 0 && given < cap);
  const uLong produced = stream.total_out;
  deflateEnd(&stream);
  if (result == Z_STREAM_END) {
    if (produced > limit) return DeflateOutcome::kOverLimit;
    out.Truncate(static_cast<uint32_t>(produced));
    return DeflateOutcome::kDone;
  }
  // The room up to the limit ran out.
  if ((result == Z_OK || result == Z_BUF_ERROR) && cap < room) return DeflateOutcome::kOverLimit;
  return DeflateOutcome::kFailed;
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
  // More pixels of a colour already counted.
  void Repeat(uint32_t index, uint32_t more) {
    if (more > 0) counts[index] += more;
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

// One row of an already clipped rectangle as the lossless bitmap's pixels: 0xFF, R, G, B.
void PackArgbRow(const FrameImage& image, int32_t x, int32_t row, int32_t w, uint8_t* o) {
  const uint8_t* in = image.Row(static_cast<uint32_t>(row)) + std::size_t(x) * 3;
  if (image.Tag() == ColourTag::kYCbCr) {
    YCbCrToArgb(in, o, static_cast<uint32_t>(w));
    return;
  }
  for (int32_t c = 0; c < w; ++c, in += 3, o += 4) {
    o[0] = 0xFF;
    o[1] = in[0];
    o[2] = in[1];
    o[3] = in[2];
  }
}

// Scratch bytes kept per thread between rectangles: most are about the size of the one before.
class ThreadScratch {
 public:
  uint8_t* Get(std::size_t size) {
    if (size_ < size) {
      data_.reset();
      size_ = 0;
      data_ = std::make_unique_for_overwrite<uint8_t[]>(size);
      size_ = size;
    }
    return data_.get();
  }

 private:
  std::unique_ptr<uint8_t[]> data_;
  std::size_t size_ = 0;
};

// The lossless bitmap's pixels of an already clipped rectangle, rows without padding, in the
// thread's scratch space; null when cancel was set first.
const uint8_t* PackArgb(const FrameImage& image, int32_t x, int32_t y, int32_t w, int32_t h,
                        const std::atomic<bool>* cancel) {
  static thread_local ThreadScratch scratch;
  const std::size_t rowBytes = std::size_t(w) * 4;
  uint8_t* data = scratch.Get(rowBytes * std::size_t(h));
  for (int32_t r = 0; r < h; ++r) {
    if (r % kRowsPerCancelCheck == 0 && CancelRequested(cancel)) return nullptr;
    PackArgbRow(image, x, y + r, w, data + std::size_t(r) * rowBytes);
  }
  return data;
}

struct FastCompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// The estimate looks at two rows of every eight (text lines, edges and gradients all cross
// such bands) with a fast compressor and scales the size up by the rows left out. Against the
// slow stream of all rows it errs upwards: it loses the matches into rows left out and between
// stretches, and the fast compressor finds fewer matches (on synthetic test patterns its
// stream is up to about 3 times the slow one). A trial is given up only when the estimate is
// over 9/4 of the limit: on a synthetic clip that let 26 of 2360 blocks go to JPEG that ZLIB32
// would have won (0.05 % more bytes), on camera and screen clips none.
constexpr int32_t kSampledRows = 2;
constexpr int32_t kSamplePeriod = 8;
constexpr uint64_t kOverNumerator = 9;
constexpr uint64_t kOverDenominator = 4;
// Stretches are compressed on their own so that a picture far over the limit is given up
// after its first ones; smaller stretches would weigh their own headers and tables too much.
constexpr std::size_t kStretchBytes = 16 * 1024;
// The zlib header and checksum around the raw deflate data of each stretch, counted once.
constexpr uint64_t kZlibWrapping = 6;

enum class Estimate { kOver, kNotOver, kCancelled };

// Before the fast compressor, a cheaper look settles camera pictures. A pixel unlike its seven
// nearest earlier neighbours (four to its left, three in the row above) is one that deflate can
// cover only with a match from farther away, and in camera pictures next to no pixel is like
// a neighbour; four to the left takes in the short-period dithers and stipples of screens.
// Counted on the lossless bitmap's own pixels, in sampled rows: the JPEG of every block
// ZLIB32 won on screen and synthetic clips had more than 1.1 bytes for each such pixel (at JPEG
// qualities 10, 65 and 95), camera blocks, all won by JPEG, 0.13 to 0.26. So a trial is given up
// when the JPEG has under a quarter of a byte for each: repeats too distant for this count
// (text, tiles) can make deflate cheaper than that, but not JPEG.
constexpr uint64_t kUnlikePixelsPerByte = 4;
constexpr int32_t kLeftNeighbours = 4;

bool Differs(const uint32_t* row, const uint32_t* above, int32_t w, int32_t c) {
  const uint32_t v = row[c];
  for (int32_t k = 1; k <= std::min(c, kLeftNeighbours); ++k) {
    if (v == row[c - k]) return false;
  }
  return above == nullptr ||
         (v != above[c] && (c < 1 || v != above[c - 1]) && (c + 1 >= w || v != above[c + 1]));
}

// Pixels of a row unlike their nearest earlier neighbours; above is null for a first row.
uint64_t UnlikePixels(const uint32_t* row, const uint32_t* above, int32_t w) {
  uint64_t count = 0;
  int32_t c = 0;
  for (; c < std::min(w, kLeftNeighbours); ++c) count += Differs(row, above, w, c) ? 1 : 0;
  // Branch-free in between, so that it runs eight pixels at a time.
  uint32_t inner = 0;
  if (above != nullptr) {
    for (; c + 1 < w; ++c) {
      const uint32_t v = row[c];
      inner += static_cast<uint32_t>((v != row[c - 1]) & (v != row[c - 2]) & (v != row[c - 3]) &
                                     (v != row[c - 4]) & (v != above[c - 1]) &
                                     (v != above[c]) & (v != above[c + 1]));
    }
  } else {
    for (; c < w; ++c) {
      const uint32_t v = row[c];
      inner += static_cast<uint32_t>((v != row[c - 1]) & (v != row[c - 2]) & (v != row[c - 3]) &
                                     (v != row[c - 4]));
    }
  }
  count += inner;
  for (; c < w; ++c) count += Differs(row, above, w, c) ? 1 : 0;
  return count;
}

// Sampled more sparsely than by the fast compressor (two rows of every 32): the count only has
// to tell camera pictures, far below a quarter of a byte per pixel, from the rest, and rows it
// looks at in vain are a cost on every synthetic or screen block.
constexpr int32_t kUnlikePeriod = 32;

// Over when the unlike pixels of the sampled rows, scaled up to all rows, need more than
// byteLimit at a quarter of a byte each.
Estimate UnlikePixelsOver(const FrameImage& image, int32_t x, int32_t y, int32_t w, int32_t h,
                          uint32_t byteLimit, const std::atomic<bool>* cancel) {
  thread_local std::vector<uint32_t> rows;
  if (rows.size() < std::size_t(w) * 2) rows.resize(std::size_t(w) * 2);
  uint32_t* previous = rows.data();
  uint32_t* current = previous + w;
  uint64_t sampled = 0;
  for (int32_t r = 0; r < h; r += kUnlikePeriod) sampled += std::min(kSampledRows, h - r);
  const uint64_t over = uint64_t{byteLimit} * kUnlikePixelsPerByte * sampled;
  uint64_t unlike = 0;
  for (int32_t top = 0; top < h; top += kUnlikePeriod) {
    if (CancelRequested(cancel)) return Estimate::kCancelled;
    // The first row of a sampled pair takes the row above it from the picture.
    bool haveAbove = top > 0;
    if (haveAbove) PackArgbRow(image, x, y + top - 1, w, reinterpret_cast<uint8_t*>(previous));
    for (int32_t r = top; r < std::min(h, top + kSampledRows); ++r) {
      PackArgbRow(image, x, y + r, w, reinterpret_cast<uint8_t*>(current));
      unlike += UnlikePixels(current, haveAbove ? previous : nullptr, w);
      if (unlike * uint64_t(h) > over) return Estimate::kOver;
      std::swap(current, previous);
      haveAbove = true;
    }
  }
  return Estimate::kNotOver;
}

// Takes an already clipped rectangle.
Estimate SampledEstimate(const FrameImage& image, int32_t x, int32_t y, int32_t w, int32_t h,
                         uint32_t byteLimit, const std::atomic<bool>* cancel) {
  thread_local std::unique_ptr<libdeflate_compressor, FastCompressorDeleter> fast(
      libdeflate_alloc_compressor(1));
  thread_local ThreadScratch packed;
  thread_local ThreadScratch compressed;
  if (fast == nullptr) return Estimate::kNotOver;
  uint64_t sampled = 0;
  for (int32_t r = 0; r < h; r += kSamplePeriod) sampled += std::min(kSampledRows, h - r);
  if (const Estimate first = UnlikePixelsOver(image, x, y, w, h, byteLimit, cancel);
      first != Estimate::kNotOver) {
    return first;
  }
  // Over when sum x h / sampled > limit x 9 / 4, kept in integers.
  const uint64_t over = uint64_t{byteLimit} * kOverNumerator * sampled;
  const std::size_t rowBytes = std::size_t(w) * 4;
  const std::size_t stretchRows =
      std::max<std::size_t>(1, (kStretchBytes + rowBytes - 1) / rowBytes);
  uint8_t* rows = packed.Get(stretchRows * rowBytes);
  const std::size_t bound = libdeflate_deflate_compress_bound(fast.get(), stretchRows * rowBytes);
  uint8_t* out = compressed.Get(bound);
  uint64_t sum = kZlibWrapping;
  std::size_t filled = 0;
  for (int32_t r = 0; r < h; ++r) {
    if (r % kSamplePeriod < kSampledRows) {
      PackArgbRow(image, x, y + r, w, rows + filled * rowBytes);
      ++filled;
    }
    if (filled == stretchRows || (r == h - 1 && filled > 0)) {
      if (CancelRequested(cancel)) return Estimate::kCancelled;
      const std::size_t size =
          libdeflate_deflate_compress(fast.get(), rows, filled * rowBytes, out, bound);
      if (size == 0) return Estimate::kNotOver;
      sum += size;
      filled = 0;
      if (sum * uint64_t(h) * kOverDenominator > over) return Estimate::kOver;
    }
  }
  return Estimate::kNotOver;
}

}  // namespace

bool FrameImage::EncodeJpeg(ByteBuffer* tables, ByteBuffer* image, int32_t x, int32_t y, int32_t w,
                            int32_t h, int32_t quality, const std::atomic<bool>* cancel) const {
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
                      static_cast<uint32_t>(h), space, quality, cancel);
}

bool FrameImage::EncodeJpeg(ByteBuffer* tables, ByteBuffer* image, int32_t quality) const {
  return EncodeJpeg(tables, image, 0, 0, static_cast<int32_t>(width_),
                    static_cast<int32_t>(height_), quality);
}

bool FrameImage::EncodeZlib32(ByteBuffer& out, int32_t x, int32_t y, int32_t w, int32_t h,
                              int32_t level) const {
  bool overLimit = false;
  return EncodeZlib32(out, x, y, w, h, level, UINT32_MAX, overLimit) && !overLimit;
}

bool FrameImage::EncodeZlib32(ByteBuffer& out, int32_t x, int32_t y, int32_t w, int32_t h,
                              int32_t level, uint32_t byteLimit, bool& overLimit,
                              bool estimateFirst, const std::atomic<bool>* cancel) const {
  overLimit = false;
  out.Truncate(0);
  if (!ClipRect(x, y, w, h)) return false;
  const uint64_t limit = byteLimit == UINT32_MAX ? UINT64_MAX : uint64_t{byteLimit};
  try {
    if (estimateFirst && limit != UINT64_MAX) {
      const Estimate estimate = SampledEstimate(*this, x, y, w, h, byteLimit, cancel);
      if (estimate == Estimate::kCancelled) return false;
      if (estimate == Estimate::kOver) {
        overLimit = true;
        return true;
      }
    }
    const uint8_t* argb = PackArgb(*this, x, y, w, h, cancel);
    if (argb == nullptr) return false;
    const DeflateOutcome outcome =
        Deflate(out, argb, std::size_t(w) * 4 * std::size_t(h), level, limit, cancel);
    overLimit = outcome == DeflateOutcome::kOverLimit;
    if (overLimit) out.Truncate(0);
    return outcome != DeflateOutcome::kFailed;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool FrameImage::Zlib32EstimateOver(int32_t x, int32_t y, int32_t w, int32_t h,
                                    uint32_t byteLimit) const {
  if (!ClipRect(x, y, w, h)) return false;
  try {
    return SampledEstimate(*this, x, y, w, h, byteLimit, nullptr) == Estimate::kOver;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool FrameImage::EncodeZlib8(ByteBuffer& out, int32_t x, int32_t y, int32_t w, int32_t h,
                             int32_t level, float distanceLimit, uint32_t& paletteSize,
                             uint32_t uniqueLimit, const std::atomic<bool>* cancel) const {
  out.Truncate(0);
  if (!ClipRect(x, y, w, h)) return false;
  try {
    const auto pixelCount = static_cast<uint32_t>(w) * static_cast<uint32_t>(h);
    // Every pixel's colour index, so that the nearest palette entry is found once per colour.
    thread_local std::vector<uint32_t> pixelColour;
    if (pixelColour.size() < pixelCount) pixelColour.resize(pixelCount);
    uint32_t* const indices = pixelColour.data();
    ColourCounter counter(std::min(pixelCount, uniqueLimit) + 1);
    // A pixel like the one before it (flat areas, runs of screen background) is counted
    // without a look into the table, its count added when the run ends; no packed colour
    // equals the start value.
    uint32_t previous = UINT32_MAX;
    uint32_t previousIndex = 0;
    uint32_t run = 0;
    for (int32_t r = 0; r < h; ++r) {
      if (r % kRowsPerCancelCheck == 0 && CancelRequested(cancel)) return false;
      const uint8_t* in = Row(static_cast<uint32_t>(y + r)) + std::size_t(x) * 3;
      uint32_t* o = indices + std::size_t(r) * std::size_t(w);
      for (int32_t c = 0; c < w; ++c, in += 3) {
        const uint32_t colour = Pack(in);
        if (colour == previous) {
          ++run;
        } else {
          counter.Repeat(previousIndex, run);
          run = 0;
          previousIndex = counter.Add(colour);
          previous = colour;
          if (counter.colours.size() > uniqueLimit) return false;
        }
        o[c] = previousIndex;
      }
    }
    counter.Repeat(previousIndex, run);
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
    uint32_t k = 0;
    for (int32_t r = 0; r < h; ++r) {
      uint8_t* o = data.data() + std::size_t{n} * 3 + std::size_t(r) * rowBytes;
      for (int32_t c = 0; c < w; ++c) o[c] = nearest[indices[k++]];
    }
    if (Deflate(out, data.data(), data.size(), level, UINT64_MAX, cancel) !=
        DeflateOutcome::kDone) {
      return false;
    }
    paletteSize = n;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace quillon
