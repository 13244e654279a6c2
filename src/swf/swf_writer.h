// Writes SWF tags and bit-packed records into the part being assembled, and stores it in its
// file, either as its frames are committed or whole at its end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "swf/bit_accumulator.h"
#include "swf/byte_buffer.h"
#include "swf/swf_records.h"
#include "swf/tag_code.h"

namespace quillon {

// Sizes of the part output buffer.
constexpr uint32_t kPartBufferInitial = 16384;
constexpr uint32_t kPartBufferIncrement = 16384;
constexpr float kPartBufferFactor = 1.5f;

constexpr uint8_t kSwfVersion = 5;
// Placeholder length of a tag that is still open; never survives EndTag.
constexpr uint32_t kOpenTagLength = 0x99999999u;
// Longest body a short tag header can announce (0x3F is the long-header escape).
constexpr uint32_t kMaxShortTagLength = 62;

inline const char* const kPartWriteError =
    "Could not write to temporary file for Flash output. Is your Temp directory disk full?";

// Invariant: at most one long tag is open at a time; tags never nest.
// All writes go to the output buffer; a write the buffer could not grow for is dropped and
// makes OutputFailed() true, after which the part must not be stored.
class SwfWriter {
 public:
  SwfWriter() = default;
  ~SwfWriter() { AbandonFile(); }
  SwfWriter(const SwfWriter&) = delete;
  SwfWriter& operator=(const SwfWriter&) = delete;

  // Discards any old output and starts a new, allocated one; increment 0 selects the
  // buffer's default sizes. False when the storage cannot be allocated.
  [[nodiscard]] bool Open(uint32_t initial = kPartBufferInitial,
                          uint32_t increment = kPartBufferIncrement,
                          float factor = kPartBufferFactor);
  // Discards the output buffer, and the part file of an unfinished stream.
  void Close();
  bool IsOpen() const { return output_ != nullptr; }

  // The part being assembled (null when closed).
  ByteBuffer* Output() { return output_.get(); }
  const ByteBuffer* Output() const { return output_.get(); }
  uint32_t Cursor() const { return output_ ? output_->Cursor() : 0; }
  // True when bytes were dropped since Open because the output could not grow.
  bool OutputFailed() const { return output_ == nullptr || output_->Failed(); }

  // --- raw writes on the output -------------------------------------------------------
  void Put8(uint8_t v) { output_->Put8(v); }
  void Put16(uint16_t v) { output_->Put16(v); }
  void Put32(uint32_t v) { output_->Put32(v); }
  void Append(const void* bytes, uint32_t n) { output_->Append(bytes, n); }

  // The writer's own bit accumulator (distinct from the buffer's).
  void WriteBits(uint32_t value, uint32_t n) { bits_.Write(*output_, value, n); }
  void WriteSignedBits(int32_t value, uint32_t n) {
    bits_.Write(*output_, static_cast<uint32_t>(value), n);
  }
  void FlushBits() { bits_.Flush(*output_); }

  // --- tags -------------------------------------------------------------------------------
  // Opens a tag with a long header and placeholder length; resets the bit accumulator.
  void BeginTag(TagCode code);
  // Patches the open tag's length to the bytes written since its header. Without an open tag
  // it does nothing (patching would overwrite whatever lies at the stale position).
  void EndTag();
  bool TagOpen() const { return tagOpen_; }
  // Writes a header of the given length, short when allowed (length <= 62 and the code is
  // not one that always keeps a long header).
  void WriteTagHeader(uint16_t code, uint32_t length);
  static bool NeedsLongHeader(uint16_t code, uint32_t length) {
    return length > kMaxShortTagLength || KeepsLongHeader(code);
  }
  // Rewrites long headers of short tags in [from, end) as short headers, except for the
  // codes that keep long ones. Returns the new end and truncates the output there.
  uint32_t Compact(uint32_t from, uint32_t end);

  uint32_t OpenTagStart() const { return tagStart_; }
  uint32_t OpenTagBodyStart() const { return tagBodyStart_; }
  uint32_t LastTagLength() const { return tagLength_; }

  // --- records ----------------------------------------------------------------------------
  void WriteRect(const SwfRect& rect);
  void WriteMatrix(const SwfMatrix& m);
  // An absent matrix: one zero byte.
  void WriteEmptyMatrix();
  void WriteMatrix(const SwfMatrix* m) { m ? WriteMatrix(*m) : WriteEmptyMatrix(); }
  // CXFORM (PlaceObject) or CXFORMWITHALPHA (button records).
  void WriteColorTransform(const SwfColorTransform& cx, bool withAlpha);
  // A transform with no terms: the single byte 0x04.
  void WriteEmptyColorTransform() { Put8(0x04); }

  // Count form of style arrays: one byte, or 0xFF and a 16-bit count above 254.
  void WriteStyleCount(uint32_t count);
  void WriteRgb(const SwfRgb& c, bool withAlpha);
  void WriteFillStyle(const SwfFillStyle& fill, bool withAlpha);
  void WriteFillStyles(const std::vector<SwfFillStyle>& fills, bool withAlpha);
  void WriteLineStyles(const std::vector<SwfLineStyle>& lines, bool withAlpha);

  // Shape records, after the style arrays. Call WriteShapeStyleBits first.
  void WriteShapeStyleBits(uint32_t numFillBits, uint32_t numLineBits);
  void WriteStyleChange(const SwfStyleChange& change, uint32_t numFillBits, uint32_t numLineBits);
  // Picks the general, vertical or horizontal form from the deltas. A zero edge is written
  // as a horizontal edge of length 0.
  void WriteStraightEdge(int32_t dx, int32_t dy);
  // Six zero bits, then byte alignment.
  void WriteEndShape();

  // A complete DefineShape (code 2) of the rectangle between two corners (any order), with
  // one black solid fill when asked and no line styles.
  void WriteRectangleShape(uint16_t shapeId, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                           bool filled);

  // --- fixed tags -------------------------------------------------------------------------
  void WriteShowFrame();
  void WriteEnd();
  void WriteRemoveObject2(uint16_t depth);
  void WriteFreeCharacter(uint16_t characterId);
  void WriteSetBackgroundColor(uint32_t rrggbb);
  // Written long with length 0, so that it takes its short form when normalised.
  void WriteProtect();
  // Without a matrix, one zero byte stands for it; the CXFORM is written only when given.
  void WritePlaceObject(uint16_t characterId, uint16_t depth, const SwfMatrix* matrix,
                        const SwfColorTransform* cxform = nullptr);

  // --- part file --------------------------------------------------------------------------
  // Signature, version, file length 0, stage RECT (twips), frame rate in 8.8 fixed point,
  // frame count 1. Remembers the frame count and after-header positions.
  void WriteFileHeader(uint8_t version, const SwfRect& stage, double frameRate);
  uint32_t FrameCountPosition() const { return frameCountPos_; }
  uint32_t AfterHeaderPosition() const { return afterHeaderPos_; }
  // Patches the file length (PartLength) and the frame count. The End tag and the header
  // insert must already be written.
  // Counts beyond the 16-bit field are stored as 65535.
  void FinishPart(uint32_t frameCount);
  // Bytes that go right behind the file header: a tag known only at the part's end that must
  // come first. Kept aside, so positions in the output never move for it.
  [[nodiscard]] bool SetHeaderInsert(const uint8_t* bytes, uint32_t n);
  // The part's length in its file: the output to the cursor and the header insert.
  uint32_t PartLength() const { return Cursor() + static_cast<uint32_t>(insert_.size()); }
  // prefix + "encoded.swf" for part 1, prefix + "encoded<n>.swf" after.
  static std::string PartFileName(const std::string& prefix, uint32_t partNumber);

  // Writes the part to `path` as it is assembled instead of whole at its end: the file is
  // created now, and reserve is the expected size of the header insert (the body's bytes go
  // to their place behind it; a different insert moves them at the end). Call after
  // WriteFileHeader's position is known and before Commit. False with lastError set.
  [[nodiscard]] bool StreamTo(const std::string& path, uint32_t reserve);
  // Stores the bytes before pos in the file and forgets them: nothing may reach back before
  // pos afterwards but the header's own fields. Does nothing when not streaming or when pos
  // lies in the header. False with lastError set when the file write fails.
  [[nodiscard]] bool Commit(uint32_t pos);
  bool Streaming() const { return file_ != nullptr; }
  // Stores the part: header, insert, then the output from behind the header to the cursor
  // (the rest of it, when streaming). False with lastError set when the file cannot be
  // created or fully written, or when the output lost bytes; no file is left then.
  [[nodiscard]] bool WritePartFile(const std::string& prefix, uint32_t partNumber);

  std::string lastError;

 private:
  BitAccumulator bits_;
  std::unique_ptr<ByteBuffer> output_;
  uint32_t tagStart_ = 0;
  uint16_t tagCode_ = 0;
  uint32_t tagLength_ = 0;
  uint32_t tagBodyStart_ = 0;
  uint32_t tagEnd_ = 0;
  bool tagOpen_ = false;
  uint32_t frameCountPos_ = 0;
  uint32_t afterHeaderPos_ = 0;

  // Closes and removes an unfinished stream's file.
  void AbandonFile();
  [[nodiscard]] bool WriteWholeFile(const std::string& path);
  [[nodiscard]] bool FinishFile();
  [[nodiscard]] bool CloseFile();

  std::vector<uint8_t> header_;  // the file header, once the buffer has dropped it
  std::vector<uint8_t> insert_;
  std::FILE* file_ = nullptr;
  std::string filePath_;
  uint32_t reserve_ = 0;
};

}  // namespace quillon
