// The engine's picture type: 24-bit pixels with 4-byte-aligned rows, its filters, distance
// measures, halving and the JPEG / zlib bitmap encoders.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "video/colour.h"

namespace quillon {

class ByteBuffer;

// Per-channel byte sums of a region: what a difference bound needs of a block, so that it can
// be taken once and the block compared with many others without being read again.
struct RegionSums {
  uint64_t channel[3] = {0, 0, 0};
};

// A top-down 24-bit R, G, B picture without row padding (stride = width x 3), for previews.
struct RgbPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;
};

// True once a run's stop flag is set (a null flag never is). The long loops over a picture ask
// it every few rows and give up, so that a cancel need not wait for a huge frame.
inline bool CancelRequested(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

// Invariants: stride = (width x 3 + 3) rounded down to a multiple of 4; the buffer holds
// height x stride bytes, rows top to bottom; the selected region always lies inside the image
// (it is empty only while the image is).
//
// Filters and distance measures treat the three bytes of a pixel as three equal channels;
// channel 0 is the luminance under ColourTag::kYCbCr. Failing operations return false (distance
// measures kNoMatch) and leave the image usable.
class FrameImage {
 public:
  // Distance result meaning "no match" (the largest float).
  static constexpr float kNoMatch = 3.4028235e38f;
  // Flags of RegionDifferenceMirrored: how `other` was read for the winning sum.
  static constexpr uint32_t kFlipHorizontal = 1;
  static constexpr uint32_t kFlipVertical = 2;
  // LoadRows without a known source size (the caller vouches for the rows).
  static constexpr std::size_t kUncheckedSize = static_cast<std::size_t>(-1);

  struct Region {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t w = 0;
    uint32_t h = 0;
  };

  // Images are Y, Cb, Cr unless created for something else.
  explicit FrameImage(ColourTag tag = ColourTag::kYCbCr);
  virtual ~FrameImage();
  FrameImage(const FrameImage&) = delete;
  FrameImage& operator=(const FrameImage&) = delete;

  // Loads a packed device-independent bitmap (40-byte header, then the bits). The base type
  // has no such source and answers false; VideoFrame implements it.
  [[nodiscard]] virtual bool LoadFrom(const uint8_t* packedDib, std::size_t size);

  // ---- Storage ----------------------------------------------------------------------------

  // Reallocates only when the size changes (contents then undefined); selects the whole image.
  // False (old pixels kept) when memory runs out or the size cannot be addressed.
  [[nodiscard]] bool Allocate(uint32_t width, uint32_t height);
  // The same, then fills every pixel with `fill`.
  [[nodiscard]] bool Allocate(uint32_t width, uint32_t height, const Colour& fill);
  // Exchanges pixels, size, region and tag (cheap: no pixel is copied).
  void Swap(FrameImage& other) noexcept;

  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  uint32_t Stride() const { return stride_; }
  ColourTag Tag() const { return colourTag_; }
  void SetTag(ColourTag tag) { colourTag_ = tag; }
  uint8_t* Pixels() { return pixels_.get(); }
  const uint8_t* Pixels() const { return pixels_.get(); }
  uint8_t* Row(uint32_t y) { return pixels_.get() + std::size_t{y} * stride_; }
  const uint8_t* Row(uint32_t y) const { return pixels_.get() + std::size_t{y} * stride_; }
  // Bytes in use: height x stride.
  std::size_t ByteSize() const { return std::size_t{height_} * stride_; }

  // ---- Regions ----------------------------------------------------------------------------

  // Clips the rectangle to the image in place: a negative x is added to w and becomes 0
  // (likewise y and h); false when x >= width, y >= height or w or h ends up <= 0; then w and h
  // are cut to the image. A false result leaves the four values unspecified.
  [[nodiscard]] bool ClipRect(int32_t& x, int32_t& y, int32_t& w, int32_t& h) const;
  // Clips and selects; false leaves the previous region selected.
  [[nodiscard]] bool SelectRegion(int32_t x, int32_t y, int32_t w, int32_t h);
  void SelectAll();
  Region GetRegion() const { return region_; }
  // First pixel of the region, bytes to skip after each region row of w pixels, w x h.
  const uint8_t* RegionPixels() const { return pixels_.get() + regionOffset_; }
  uint32_t RegionRowSkip() const { return stride_ - region_.w * 3; }
  uint32_t RegionCount() const { return region_.w * region_.h; }

  // Per channel: sum over the region / count (integer division); zeros for an empty region.
  Colour RegionAverage() const;
  RegionSums RegionChannelSums() const;
  // The average RegionAverage gives, from sums taken over count pixels.
  static Colour AverageOf(const RegionSums& sums, uint32_t count);
  // Clipped fill; false when nothing of the rectangle lies inside.
  [[nodiscard]] bool FillRect(int32_t x, int32_t y, int32_t w, int32_t h, const Colour& colour);
  // Copies the part of source's (sourceX, sourceY, w, h) that lands inside this image's
  // (x, y, w, h), both clipped; false when the overlap is empty. Source and this may be the
  // same image only when the rectangles do not overlap.
  [[nodiscard]] bool CopyRect(int32_t x, int32_t y, int32_t w, int32_t h, const FrameImage& source,
                              int32_t sourceX, int32_t sourceY);
  // other becomes a same-size copy (pixels and tag; other's region: the whole image).
  [[nodiscard]] bool CopyTo(FrameImage& other) const;

  // ---- Loading ----------------------------------------------------------------------------

  // Allocates width x |rowCount| and converts each row from R, G, B (B, G, R when swap is set)
  // to Y, Cb, Cr; the tag becomes kYCbCr. rowCount > 0: source rows in memory order (top-down);
  // rowCount < 0: from the last source row upward (bottom-up). Fails, changing nothing, when
  // sourceStride < width x 3 or when the rows would read beyond bitsSize bytes.
  [[nodiscard]] bool LoadRows(uint32_t width, uint32_t sourceStride, int32_t rowCount,
                              const uint8_t* bits, bool swap,
                              std::size_t bitsSize = kUncheckedSize);

  // ---- Export -----------------------------------------------------------------------------

  // The clipped rectangle as a top-down R, G, B picture: kYCbCr converts (grey: Y repeated),
  // kRgb copies (grey: (R + G + B) / 3 repeated). Null when the clip is empty or memory runs
  // out.
  std::unique_ptr<RgbPicture> ExportRgb(int32_t x, int32_t y, int32_t w, int32_t h,
                                        bool grey) const;
  std::unique_ptr<RgbPicture> ExportRgb(bool grey = false) const;

  // ---- Frame filters (applied by FrameStore in a fixed order) -----------------------------
  // Each looks at `cancel` every few rows or columns and stops half done once it is set: it
  // then returns false and the picture is fit only to be thrown away.

  // Shrinks to width x height in place; method 1 averages source areas, anything else samples.
  // Selects the whole image afterwards. False (image unchanged) when memory runs out, a size
  // is 0 or cancel is set.
  [[nodiscard]] bool Resize(uint32_t width, uint32_t height, int32_t method,
                            const std::atomic<bool>* cancel = nullptr);
  // Replaces runs of near-uniform pixels by their average: a run ends when a pixel lies farther
  // than threshold (squared distance) from the run's first pixel or holds maxRun pixels.
  bool UniformSpanHorizontal(float threshold, uint32_t maxRun,
                             const std::atomic<bool>* cancel = nullptr);
  bool UniformSpanVertical(float threshold, uint32_t maxRun,
                           const std::atomic<bool>* cancel = nullptr);
  // Fills each segment of `segment` pixels with its average when the mean squared distance to
  // the average stays below threshold and no pixel exceeds it.
  bool UniformBlockHorizontal(float threshold, uint32_t segment,
                              const std::atomic<bool>* cancel = nullptr);
  bool UniformBlockVertical(float threshold, uint32_t segment,
                            const std::atomic<bool>* cancel = nullptr);
  // Channel 0 times factor, clamped and truncated.
  bool Darken(float factor, const std::atomic<bool>* cancel = nullptr);
  // Pixels whose channel 0 is below threshold become black (0, 128, 128).
  bool DarkLimit(float threshold, const std::atomic<bool>* cancel = nullptr);
  // On the selected region: keeps the top `bits` bits of `channel` and sets the next one
  // (the middle of the interval); bits >= 8 changes nothing, 0 zeroes the channel.
  bool Quantise(uint32_t bits, uint32_t channel, const std::atomic<bool>* cancel = nullptr);
  // One smoothing pass of strength `smooth` percent: forward mixes each pixel with its right,
  // lower and lower-right neighbours, backward with left, upper and upper-left ones.
  bool SmoothForward(float smooth, const std::atomic<bool>* cancel = nullptr);
  bool SmoothBackward(float smooth, const std::atomic<bool>* cancel = nullptr);

  // ---- Distance measures (hot path of matching: integer sums, no allocation) --------------

  // Mean squared distance of the region to colour, or kNoMatch as soon as one pixel lies
  // farther than bound.
  float RegionDistanceToColour(const Colour& colour, float bound) const;
  // Mean squared distance between the region and other's (ox, oy, w, h) with the region's
  // size; kNoMatch when that rectangle does not lie wholly inside other. A search that only
  // wants results below ceiling lets it stop early: once the mean cannot come out below
  // ceiling any more, a value of at least ceiling is returned instead of the whole mean.
  float RegionDifference(const FrameImage& other, int32_t ox, int32_t oy,
                         float ceiling = kNoMatch) const;
  // As RegionDifference, also reading other's rectangle flipped; tried in the order none,
  // vertical, horizontal, both; a later reading wins only when strictly smaller, 0 ends the
  // search. flags receives kFlipHorizontal / kFlipVertical of the winner (0 on kNoMatch, and
  // when no reading came out below ceiling).
  float RegionDifferenceMirrored(const FrameImage& other, int32_t ox, int32_t oy, uint32_t& flags,
                                 float ceiling = kNoMatch) const;
  // The smallest sum of squared differences whose mean over count pixels is not below
  // ceiling, as the two measures above compute the mean: a sum from there on cannot give a
  // result below ceiling (UINT64_MAX when no sum of bytes reaches it).
  static uint64_t DifferenceSumLimit(float ceiling, uint32_t count);
  // A lower bound of the sum of squared differences between two regions of count pixels from
  // their channel sums alone (per channel, the squared sum of the differences over count is
  // never more than the sum of their squares). It holds for every reading of either region,
  // flipped or not: the sums do not depend on the pixels' order. When it reaches
  // DifferenceSumLimit(ceiling, count), neither measure can come out below ceiling.
  static uint64_t DifferenceFloor(const RegionSums& a, const RegionSums& b, uint32_t count);

  // ---- Halving (the Transport's block size reduction) -------------------------------------

  // target = this with half the width (odd last column dropped). Fails when width < 16 or when
  // a horizontal pair lies farther apart than limit (2 x limit for method 1); the target then
  // holds a partial result. Method 1 averages each pair, any other method keeps its first
  // pixel. target may be this image: it then changes only on success.
  [[nodiscard]] bool HalveWidth(FrameImage& target, float limit, int32_t method) const;
  // The same on vertical pairs of rows; fails when height < 16.
  [[nodiscard]] bool HalveHeight(FrameImage& target, float limit, int32_t method) const;

  // ---- Bitmap encoders (each output buffer is first emptied; false: output unusable) ------
  // Those given a cancel flag look at it every few rows (and between pieces of compressed
  // output) and fail once it is set; the bytes they make do not depend on it.

  // Baseline JPEG of the clipped rectangle at quality 0-100: the tables-only stream into
  // tables, the abbreviated image stream (no tables) into image. A null buffer discards its
  // stream. Needs tag kRgb or kYCbCr (the pixels are handed over unconverted).
  [[nodiscard]] bool EncodeJpeg(ByteBuffer* tables, ByteBuffer* image, int32_t x, int32_t y,
                                int32_t w, int32_t h, int32_t quality,
                                const std::atomic<bool>* cancel = nullptr) const;
  [[nodiscard]] bool EncodeJpeg(ByteBuffer* tables, ByteBuffer* image, int32_t quality) const;
  // zlib stream of w x h pixels 0xFF, R, G, B, rows without padding.
  [[nodiscard]] bool EncodeZlib32(ByteBuffer& out, int32_t x, int32_t y, int32_t w, int32_t h,
                                  int32_t level) const;
  // The same stream, abandoned as soon as it grows past byteLimit bytes (overLimit set, out
  // empty): a caller that only keeps the smallest encoding need not finish a loser. With
  // estimateFirst, a quick look at the pixels comes first and overLimit is also set when its
  // estimate (below) is well over the limit, without the slow stream being started.
  [[nodiscard]] bool EncodeZlib32(ByteBuffer& out, int32_t x, int32_t y, int32_t w, int32_t h,
                                  int32_t level, uint32_t byteLimit, bool& overLimit,
                                  bool estimateFirst = false,
                                  const std::atomic<bool>* cancel = nullptr) const;
  // That quick look alone: true when byteLimit is under a quarter of a byte for each pixel
  // unlike its nearest neighbours (as in camera pictures), or when a fast stream of a sample
  // of the clipped rectangle's rows, scaled up to all rows, is more than 9/4 of byteLimit (the
  // full stream then rarely fits).
  [[nodiscard]] bool Zlib32EstimateOver(int32_t x, int32_t y, int32_t w, int32_t h,
                                        uint32_t byteLimit) const;
  // zlib stream of a palette of the most frequent colours (n x R, G, B) followed by index rows
  // padded to 4 bytes. Fails with more than uniqueLimit distinct colours or a pixel farther
  // than distanceLimit from every palette colour. paletteSize: at most this many colours (up
  // to 256) in, the number used out.
  [[nodiscard]] bool EncodeZlib8(ByteBuffer& out, int32_t x, int32_t y, int32_t w, int32_t h,
                                 int32_t level, float distanceLimit, uint32_t& paletteSize,
                                 uint32_t uniqueLimit,
                                 const std::atomic<bool>* cancel = nullptr) const;

 private:
  struct FreeDeleter {
    void operator()(uint8_t* p) const;
  };

  void SetRegion(uint32_t x, uint32_t y, uint32_t w, uint32_t h);

  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t stride_ = 0;
  std::unique_ptr<uint8_t, FreeDeleter> pixels_;
  std::size_t capacity_ = 0;
  Region region_;
  std::size_t regionOffset_ = 0;
  ColourTag colourTag_ = ColourTag::kYCbCr;
};

// A decoded video frame: always Y, Cb, Cr, loadable from a packed device-independent bitmap.
class VideoFrame : public FrameImage {
 public:
  VideoFrame() : FrameImage(ColourTag::kYCbCr) {}
  // 24-bit and 32-bit uncompressed bitmaps, bottom-up (positive height) or top-down
  // (negative height); the header and every row are checked against size.
  [[nodiscard]] bool LoadFrom(const uint8_t* packedDib, std::size_t size) override;
};

}  // namespace quillon
