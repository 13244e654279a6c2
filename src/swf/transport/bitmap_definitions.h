// Turns the new bitmap rectangles of a frame into SWF bitmap characters: optional halving,
// the choice among JPEG, 32-bit and 8-bit palette zlib, and the defining tags.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "swf/byte_buffer.h"
#include "swf/swf_writer.h"
#include "match/frame_use_store.h"
#include "swf/transport/bitmap_options.h"
#include "video/frame_image.h"

namespace quillon {

class FrameStore;
class FrameUseStore;
class ScreenUseStore;
class WorkerPool;

// Encoding codes as the records keep them; an 8-bit palette bitmap adds 256 x palette size.
constexpr uint32_t kBitmapJpeg = 1;
constexpr uint32_t kBitmapZlib32 = 2;
constexpr uint32_t kBitmapZlib8 = 4;
constexpr uint32_t EncodingPaletteSize(uint32_t encoding) {
  return encoding >> 8;
}
constexpr uint32_t EncodingKind(uint32_t encoding) {
  return encoding & 0xFF;
}

// Payload buffer sizes (one encoded bitmap each).
constexpr uint32_t kPayloadBufferSize = 1024;
// DefineBitsLossless formats.
constexpr uint8_t kLosslessFormatPalette = 3;
constexpr uint8_t kLosslessFormatArgb = 5;

// What the bitmap stage decided for one rectangle. The frame operations move the shrunk
// image, encoding, payload and scale factors into the rectangle's UseRect (whose scale
// factors later frames' fills read) and keep the rest here until ReleaseFrameBitmaps.
struct FrameBitmap {
  std::unique_ptr<FrameImage> shrunk;  // the halved copy, null when not resized
  ByteBuffer* payload = nullptr;       // borrowed payload buffer, null until encoded
  uint32_t encoding = 0;               // kBitmapJpeg, kBitmapZlib32 or kBitmapZlib8 + 256 x n
  float scaleX = 1.0f;                 // stored width / rectangle width
  float scaleY = 1.0f;
  uint32_t width = 0;  // size stated in the defining tag (after the 1-pixel enlargement)
  uint32_t height = 0;
  uint32_t pixels = 0;  // source pixels before the enlargement (the statistics count these)
};

// How one dimension pair may be halved.
struct HalvingRule {
  bool horizontal = false;
  bool vertical = false;
  bool powerOfTwo = false;  // a dimension qualifies only when its low 8 bits hold one set bit
  float threshold = 0.0f;   // squared colour distance a pixel pair may differ by
  int32_t method = 0;       // 0 keeps the first pixel of a pair, 1 averages (twice the limit)
};

// Sizes of the encodings of one source, for the choice; a missing one was not tried or failed.
struct EncoderSizes {
  bool jpeg = false;
  uint32_t jpegBytes = 0;
  bool zlib32 = false;
  uint32_t zlib32Bytes = 0;
  bool zlib8 = false;
  uint32_t zlib8Bytes = 0;
};

// Owned by the Transport. Per run: Initialise; per part: StartPart; per frame:
// ClearFrameBitmaps, EncodeFrameBitmaps, then DefineFrameBitmaps only when the frame fits the
// budget, and ReleaseFrameBitmaps in every case. Failures leave lastError set; the Transport
// turns them into its engine error.
class BitmapDefinitions {
 public:
  BitmapDefinitions();
  ~BitmapDefinitions();
  BitmapDefinitions(const BitmapDefinitions&) = delete;
  BitmapDefinitions& operator=(const BitmapDefinitions&) = delete;

  // Keeps a copy of the options, computes the thresholds and sizes the payload-buffer table
  // (one per block position of a width x height frame). The stores are borrowed for the run;
  // any of them may be null for callers that only use EncodeBitmap / DefineBitmap.
  [[nodiscard]] bool Initialise(const TransportOptions& options, FrameStore* frames,
                                FrameUseStore* uses, ScreenUseStore* screen, uint32_t width,
                                uint32_t height, uint32_t blockWidth, uint32_t blockHeight);
  // Threads that encode a frame's rectangles side by side (default: the machine's, up to 8).
  // The bytes written do not depend on it.
  void SetThreads(uint32_t threads);
  // While set, a frame's encoding fails once the flag turns true: no further record is begun
  // and the encoders stop within a few rows. Null (the default) never cancels.
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  uint32_t Threads() const { return threads_; }

  // Every part file carries its own JPEGTables tag.
  void StartPart() { tablesWritten_ = false; }

  // Forgets shrunk images and payloads of the frame's records and its encoded-pixel count.
  void ClearFrameBitmaps(uint32_t frame);
  // Encodes the frame's UseRect records in order until the bytes used reach the budget
  // (usedBytes then >= budget and the rest stay unencoded). False fails the frame: missing
  // frame or FrameUse entry, out of payload buffers, a failing JPEG or ZLIB32 encoder.
  // alongside, when set, is run once by the calling thread while the other threads encode,
  // before it joins them (not at all when the frame has no new bitmaps). It must leave this
  // frame's picture, use entry and the options alone.
  [[nodiscard]] bool EncodeFrameBitmaps(uint32_t frame, uint32_t budget, uint32_t& usedBytes,
                                        const std::function<void()>& alongside = {});
  // The same with the frame's picture given (the one above loads it from the video source);
  // image may be null when the frame has no new bitmaps.
  [[nodiscard]] bool EncodeFrameBitmaps(uint32_t frame, const FrameImage* image, uint32_t budget,
                                        uint32_t& usedBytes,
                                        const std::function<void()>& alongside = {});
  // Writes one defining tag per record of the frame (the character ids are the records'),
  // JPEGTables first when this is the part's first JPEG bitmap. False when not every record
  // was encoded.
  [[nodiscard]] bool DefineFrameBitmaps(uint32_t frame, SwfWriter& writer);
  // Frees the shrunk images and forgets the payloads; the payload buffers stay for reuse.
  void ReleaseFrameBitmaps(uint32_t frame);

  // Pixels of the bitmaps the last DefineFrameBitmaps wrote (0 after ClearFrameBitmaps).
  uint64_t EncodedPixels() const { return encodedPixels_; }
  // The current frame's encoded records, in UseRect order (shrunk images moved out).
  const std::vector<FrameBitmap>& Bitmaps() const { return bitmaps_; }
  uint32_t PayloadBufferCount() const { return static_cast<uint32_t>(payloads_.size()); }

  const BitmapOptions& Options() const { return options_; }

  // ---- Single-rectangle steps (the frame operations are loops over these) ----------------

  // Halving of the rectangle (x, y, w, h) of image: null when no resize happens (both sides
  // at most 8, neither may be halved, or the result has the rectangle's size), and when cancel
  // is set between two halvings.
  static std::unique_ptr<FrameImage> HalveBlock(const FrameImage& image, int32_t x, int32_t y,
                                                int32_t w, int32_t h, const HalvingRule& rule,
                                                const std::atomic<bool>* cancel = nullptr);
  // Which encoding to keep; the tie rules differ between the mixed and the lossless-only
  // cases. Returns kBitmapJpeg, kBitmapZlib32 or kBitmapZlib8, or 0 when none is available.
  static uint32_t ChooseEncoder(uint32_t switches, const EncoderSizes& sizes);
  // Resizes (transient rule first when asked) and encodes one rectangle of image into the
  // next payload buffer. False when the payload buffers are used up or an encoder fails.
  [[nodiscard]] bool EncodeBitmap(const FrameImage& image, int32_t x, int32_t y, int32_t w,
                                  int32_t h, bool transient, FrameBitmap& bitmap);
  // Starts handing out payload buffers from the first again (once per frame).
  void RestartPayloads() { nextPayload_ = 0; }
  // The defining tag of one encoded bitmap (JPEGTables first once per part).
  [[nodiscard]] bool DefineBitmap(SwfWriter& writer, uint16_t characterId,
                                  const FrameBitmap& bitmap);

  std::string lastError;

 private:
  HalvingRule OrdinaryRule() const;
  HalvingRule TransientRule() const;
  // Runs the encoders the switches allow over the source and leaves the chosen bytes in
  // payload; sets encoding. False when a required encoder fails.
  // What one encoding thread writes besides its payload slot.
  struct Workspace;
  // EncodeBitmap's work into a given payload slot; a failure's text goes to work.error.
  // Reads only the options and the image, so threads may run it side by side.
  [[nodiscard]] bool EncodeInto(const FrameImage& image, int32_t x, int32_t y, int32_t w,
                                int32_t h, bool transient, std::unique_ptr<ByteBuffer>& slot,
                                Workspace& work, FrameBitmap& bitmap) const;
  [[nodiscard]] bool EncodeSource(const FrameImage& source, int32_t x, int32_t y, int32_t w,
                                  int32_t h, Workspace& work, std::unique_ptr<ByteBuffer>& payload,
                                  uint32_t& encoding) const;
  // Encodes records [0, count) of the rectangles, as many at once as there are threads, and
  // keeps the outcome a one-by-one run would have: records in order until the bytes reach
  // the budget. Returns how many records that is; false at the first failing one in order.
  [[nodiscard]] bool EncodeRecords(const FrameImage& image, const std::vector<UseRect>& rects,
                                   const std::vector<uint8_t>& transient, uint32_t budget,
                                   const std::function<void()>& alongside,
                                   std::vector<FrameBitmap>& results, std::size_t& accepted,
                                   uint64_t& used);
  [[nodiscard]] bool WriteJpegTables(SwfWriter& writer);

  BitmapOptions options_;
  FrameStore* frames_ = nullptr;
  FrameUseStore* uses_ = nullptr;
  ScreenUseStore* screen_ = nullptr;
  uint32_t width_ = 0;
  uint32_t height_ = 0;

  std::vector<std::unique_ptr<ByteBuffer>> payloads_;
  uint32_t nextPayload_ = 0;
  // One per thread; the first serves EncodeBitmap. The pool starts on the first frame, in
  // the thread that encodes, so its threads share that thread's scheduling priority.
  std::vector<std::unique_ptr<Workspace>> workspaces_;
  std::unique_ptr<WorkerPool> pool_;
  uint32_t threads_;
  const std::atomic<bool>* cancel_ = nullptr;
  // Any image will do for the tables-only stream; the stream depends only on the quality,
  // so it is made once and repeated in every part.
  std::unique_ptr<FrameImage> tablesImage_;
  ByteBuffer jpegTables_;

  std::vector<FrameBitmap> bitmaps_;
  uint64_t encodedPixels_ = 0;
  bool tablesWritten_ = false;
};

struct BitmapDefinitions::Workspace {
  Workspace();
  // Candidate encodings beside the payload; the chosen one is swapped into the payload slot.
  std::unique_ptr<ByteBuffer> jpeg;
  std::unique_ptr<ByteBuffer> zlib8;
  std::unique_ptr<ByteBuffer> zlib32;
  // The 2-wide (or 2-high) copy of a 1-pixel source.
  FrameImage enlarged;
  std::string error;
};

}  // namespace quillon
