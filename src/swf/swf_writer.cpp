#include "swf/swf_writer.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <unistd.h>

namespace quillon {
namespace {

// Widest value a 5-bit bit-count field can announce.
constexpr uint32_t kMaxFieldBits = 31;

uint32_t ClampBits(uint32_t n) {
  return std::min(n, kMaxFieldBits);
}

uint32_t MaxMagnitude(std::initializer_list<int32_t> values) {
  uint32_t m = 0;
  for (int32_t v : values) m = std::max(m, Magnitude(v));
  return m;
}

uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadU32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool Write(std::FILE* f, const void* bytes, size_t n) {
  return n == 0 || std::fwrite(bytes, 1, n, f) == n;
}

// A part still whole in memory, as its file holds it: the header, the part's first tag put in
// behind it, then the rest.
bool WriteWhole(std::FILE* f, const ByteBuffer& out, uint32_t afterHeader,
                const std::vector<uint8_t>& insert) {
  const uint32_t end = out.Cursor();
  const uint32_t headerEnd = std::min(afterHeader, end);
  return Write(f, out.Data(), headerEnd) && Write(f, insert.data(), insert.size()) &&
         Write(f, out.Data() + headerEnd, end - headerEnd);
}

// Moves length bytes of an open file from `from` to `to`, in pieces, in the order that never
// overwrites a piece before it is read.
bool MoveInFile(int fd, uint64_t from, uint64_t length, uint64_t to) {
  constexpr uint64_t kPiece = uint64_t{1} << 20;
  if (from == to || length == 0) return true;
  std::vector<uint8_t> piece;
  try {
    piece.resize(static_cast<size_t>(std::min(kPiece, length)));
  } catch (const std::bad_alloc&) {
    return false;
  }
  const bool up = to > from;
  for (uint64_t done = 0; done < length;) {
    const uint64_t n = std::min(kPiece, length - done);
    // Upwards the last piece goes first.
    const uint64_t offset = up ? length - done - n : done;
    const auto size = static_cast<size_t>(n);
    if (pread(fd, piece.data(), size, static_cast<off_t>(from + offset)) !=
            static_cast<ssize_t>(size) ||
        pwrite(fd, piece.data(), size, static_cast<off_t>(to + offset)) !=
            static_cast<ssize_t>(size)) {
      return false;
    }
    done += n;
  }
  return true;
}

}  // namespace

bool SwfWriter::Open(uint32_t initial, uint32_t increment, float factor) {
  bits_.Reset();
  tagStart_ = tagLength_ = tagBodyStart_ = tagEnd_ = 0;
  tagCode_ = 0;
  tagOpen_ = false;
  frameCountPos_ = afterHeaderPos_ = 0;
  AbandonFile();
  header_.clear();
  insert_.clear();
  output_.reset();
  try {
    output_ = increment == 0 ? std::make_unique<ByteBuffer>()
                             : std::make_unique<ByteBuffer>(initial, increment, factor);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (output_->Allocate() == nullptr) {
    output_.reset();
    return false;
  }
  return true;
}

void SwfWriter::Close() {
  AbandonFile();
  output_.reset();
  tagOpen_ = false;
}

void SwfWriter::BeginTag(TagCode code) {
  tagStart_ = output_->Cursor();
  tagCode_ = ToU16(code);
  Put16(static_cast<uint16_t>(tagCode_ << 6 | 0x3F));
  Put32(kOpenTagLength);
  tagBodyStart_ = tagStart_ + 6;
  tagOpen_ = true;
  bits_.Reset();
}

void SwfWriter::EndTag() {
  assert(tagOpen_ && "EndTag without BeginTag");
  if (!tagOpen_) return;
  tagOpen_ = false;
  tagEnd_ = output_->Cursor();
  tagLength_ = tagEnd_ >= tagBodyStart_ ? tagEnd_ - tagBodyStart_ : 0;
  // Seek/write/seek rather than a patch so the length lands even if the body was dropped.
  output_->Seek(tagStart_ + 2);
  Put32(tagLength_);
  output_->Seek(tagEnd_);
}

void SwfWriter::WriteTagHeader(uint16_t code, uint32_t length) {
  if (NeedsLongHeader(code, length)) {
    Put16(static_cast<uint16_t>(code << 6 | 0x3F));
    Put32(length);
  } else {
    Put16(static_cast<uint16_t>(code << 6 | length));
  }
}

uint32_t SwfWriter::Compact(uint32_t from, uint32_t end) {
  ByteBuffer& out = *output_;
  end = std::min(end, out.Size());
  // Below the base the refused truncation marks the output failed.
  if (from < out.Base()) return out.Truncate(from);
  if (from >= end) return out.Truncate(end);
  // Indexed from `from`: the bytes before it may have gone to the file already.
  uint8_t* data = out.At(from);
  // One pass with separate read and write positions: each kept byte moves at most once.
  uint32_t r = from;
  uint32_t w = from;
  while (uint64_t{r} + 2 <= end) {
    const uint16_t word = ReadU16(data + (r - from));
    const uint16_t code = word >> 6;
    uint32_t length = word & 0x3F;
    uint32_t headerLength = 2;
    if (length == 0x3F) {
      if (uint64_t{r} + 6 > end) break;
      length = ReadU32(data + (r - from) + 2);
      headerLength = 6;
    }
    // A tag running past the end (still open or damaged) ends the walk; it is kept as is.
    if (uint64_t{r} + headerLength + length > end) break;
    if (headerLength == 6 && !NeedsLongHeader(code, length)) {
      const uint16_t shortWord = static_cast<uint16_t>(code << 6 | length);
      data[w - from] = static_cast<uint8_t>(shortWord);
      data[w - from + 1] = static_cast<uint8_t>(shortWord >> 8);
      std::memmove(data + (w - from) + 2, data + (r - from) + 6, length);
      w += 2 + length;
    } else {
      if (w != r) std::memmove(data + (w - from), data + (r - from), headerLength + length);
      w += headerLength + length;
    }
    r += headerLength + length;
  }
  if (r < end && w != r) std::memmove(data + (w - from), data + (r - from), end - r);
  const uint32_t newEnd = w + (end - r);
  return out.Truncate(newEnd);
}

void SwfWriter::WriteRect(const SwfRect& rect) {
  const uint32_t nbits =
      ClampBits(SignedBits(MaxMagnitude({rect.xMin, rect.xMax, rect.yMin, rect.yMax})));
  WriteBits(nbits, 5);
  WriteSignedBits(rect.xMin, nbits);
  WriteSignedBits(rect.xMax, nbits);
  WriteSignedBits(rect.yMin, nbits);
  WriteSignedBits(rect.yMax, nbits);
  FlushBits();
}

void SwfWriter::WriteMatrix(const SwfMatrix& m) {
  bits_.Reset();
  const bool hasScale = !(m.scaleX == kFixedOne && m.scaleY == kFixedOne);
  WriteBits(hasScale ? 1 : 0, 1);  // HasScale
  if (hasScale) {
    const uint32_t n = ClampBits(SignedBits(MaxMagnitude({m.scaleX, m.scaleY})));
    WriteBits(n, 5);  // NScaleBits
    WriteSignedBits(m.scaleX, n);
    WriteSignedBits(m.scaleY, n);
  }
  const bool hasRotate = m.rotateSkew0 != 0 || m.rotateSkew1 != 0;
  WriteBits(hasRotate ? 1 : 0, 1);  // HasRotate
  if (hasRotate) {
    const uint32_t n = ClampBits(SignedBits(MaxMagnitude({m.rotateSkew0, m.rotateSkew1})));
    WriteBits(n, 5);  // NRotateBits
    WriteSignedBits(m.rotateSkew0, n);
    WriteSignedBits(m.rotateSkew1, n);
  }
  // Zero translation takes no bits at all, not the one a signed zero would need.
  uint32_t nt = CountBits(MaxMagnitude({m.translateX, m.translateY}));
  if (nt != 0) nt = ClampBits(nt + 1);
  WriteBits(nt, 5);  // NTranslateBits
  if (nt != 0) {
    WriteSignedBits(m.translateX, nt);
    WriteSignedBits(m.translateY, nt);
  }
  FlushBits();
}

void SwfWriter::WriteEmptyMatrix() {
  bits_.Reset();
  Put8(0x00);  // HasScale 0, HasRotate 0, NTranslateBits 0
}

void SwfWriter::WriteColorTransform(const SwfColorTransform& cx, bool withAlpha) {
  const bool hasAdd = (cx.flags & SwfColorTransform::kHasAdd) != 0;
  const bool hasMult = (cx.flags & SwfColorTransform::kHasMultiply) != 0;
  uint32_t largest = 0;
  auto consider = [&largest](int16_t v) { largest = std::max(largest, Magnitude(v)); };
  if (hasMult) {
    consider(cx.redMultiply);
    consider(cx.greenMultiply);
    consider(cx.blueMultiply);
    if (withAlpha) consider(cx.alphaMultiply);
  }
  if (hasAdd) {
    consider(cx.redAdd);
    consider(cx.greenAdd);
    consider(cx.blueAdd);
    if (withAlpha) consider(cx.alphaAdd);
  }
  const uint32_t n = std::min<uint32_t>(SignedBits(largest), 15);
  WriteBits(hasAdd ? 1 : 0, 1);   // HasAddTerms
  WriteBits(hasMult ? 1 : 0, 1);  // HasMultTerms
  WriteBits(n, 4);                // Nbits
  if (hasMult) {
    WriteSignedBits(cx.redMultiply, n);
    WriteSignedBits(cx.greenMultiply, n);
    WriteSignedBits(cx.blueMultiply, n);
    if (withAlpha) WriteSignedBits(cx.alphaMultiply, n);
  }
  if (hasAdd) {
    WriteSignedBits(cx.redAdd, n);
    WriteSignedBits(cx.greenAdd, n);
    WriteSignedBits(cx.blueAdd, n);
    if (withAlpha) WriteSignedBits(cx.alphaAdd, n);
  }
  FlushBits();
}

void SwfWriter::WriteStyleCount(uint32_t count) {
  if (count > 254) {
    Put8(0xFF);
    Put16(static_cast<uint16_t>(std::min<uint32_t>(count, 0xFFFF)));
  } else {
    Put8(static_cast<uint8_t>(count));
  }
}

void SwfWriter::WriteRgb(const SwfRgb& c, bool withAlpha) {
  Put8(c.r);
  Put8(c.g);
  Put8(c.b);
  if (withAlpha) Put8(c.a);
}

void SwfWriter::WriteFillStyle(const SwfFillStyle& fill, bool withAlpha) {
  Put8(static_cast<uint8_t>(fill.kind));
  if (fill.kind == FillKind::kSolid) {
    WriteRgb(fill.color, withAlpha);
  } else {
    Put16(fill.bitmapId);
    WriteMatrix(fill.bitmapMatrix);
  }
}

void SwfWriter::WriteFillStyles(const std::vector<SwfFillStyle>& fills, bool withAlpha) {
  const uint32_t count = static_cast<uint32_t>(std::min<size_t>(fills.size(), 0xFFFF));
  WriteStyleCount(count);
  for (uint32_t i = 0; i < count; ++i) WriteFillStyle(fills[i], withAlpha);
}

void SwfWriter::WriteLineStyles(const std::vector<SwfLineStyle>& lines, bool withAlpha) {
  const uint32_t count = static_cast<uint32_t>(std::min<size_t>(lines.size(), 0xFFFF));
  WriteStyleCount(count);
  for (uint32_t i = 0; i < count; ++i) {
    Put16(lines[i].width);
    WriteRgb(lines[i].color, withAlpha);
  }
}

void SwfWriter::WriteShapeStyleBits(uint32_t numFillBits, uint32_t numLineBits) {
  bits_.Reset();
  WriteBits(numFillBits, 4);  // NumFillBits
  WriteBits(numLineBits, 4);  // NumLineBits
}

void SwfWriter::WriteStyleChange(const SwfStyleChange& change, uint32_t numFillBits,
                                 uint32_t numLineBits) {
  // Shape records are the hot path of every frame: flag runs go out as one field each.
  const uint32_t flags = 0u << 5                               // TypeFlag: not an edge
                         | 0u << 4                             // StateNewStyles
                         | (change.lineStyle ? 1u : 0u) << 3   // StateLineStyle
                         | (change.fillStyle1 ? 1u : 0u) << 2  // StateFillStyle1
                         | (change.fillStyle0 ? 1u : 0u) << 1  // StateFillStyle0
                         | (change.moveTo ? 1u : 0u);          // StateMoveTo
  WriteBits(flags, 6);
  if (change.moveTo) {
    const uint32_t n = ClampBits(SignedBits(MaxMagnitude({change.moveTo->x, change.moveTo->y})));
    WriteBits(n, 5);  // MoveBits
    WriteSignedBits(change.moveTo->x, n);
    WriteSignedBits(change.moveTo->y, n);
  }
  if (change.fillStyle0) WriteBits(*change.fillStyle0, numFillBits);
  if (change.fillStyle1) WriteBits(*change.fillStyle1, numFillBits);
  if (change.lineStyle) WriteBits(*change.lineStyle, numLineBits);
}

void SwfWriter::WriteStraightEdge(int32_t dx, int32_t dy) {
  // The 4-bit field holds NumBits - 2, so 2..17 bits can be announced. A zero-length edge
  // would ask for 1 bit and wrap the field to 15; deltas beyond 16 bits cannot be stored.
  uint32_t numBits = SignedBits(MaxMagnitude({dx, dy}));
  numBits = std::clamp<uint32_t>(numBits, 2, 17);
  const uint32_t head = 1u << 5           // TypeFlag: edge
                        | 1u << 4         // StraightFlag
                        | (numBits - 2);  // NumBits - 2
  if (dx != 0 && dy != 0) {
    WriteBits(head << 1 | 1u, 7);  // GeneralLineFlag 1
    WriteSignedBits(dx, numBits);
    WriteSignedBits(dy, numBits);
  } else if (dx == 0 && dy != 0) {
    WriteBits(head << 2 | 0b01u, 8);  // GeneralLineFlag 0, VertLineFlag 1
    WriteSignedBits(dy, numBits);
  } else {
    WriteBits(head << 2 | 0b00u, 8);  // GeneralLineFlag 0, VertLineFlag 0: horizontal
    WriteSignedBits(dx, numBits);
  }
}

void SwfWriter::WriteEndShape() {
  WriteBits(0, 6);  // TypeFlag 0 and five zero state flags: end of shape
  FlushBits();
}

void SwfWriter::WriteRectangleShape(uint16_t shapeId, int32_t x0, int32_t y0, int32_t x1,
                                    int32_t y1, bool filled) {
  BeginTag(TagCode::kDefineShape);
  Put16(shapeId);
  // Widened by half the line width, which is 0: there are no line styles.
  WriteRect(SwfRect{std::min(x0, x1), std::max(x0, x1), std::min(y0, y1), std::max(y0, y1)});
  const uint32_t fillCount = filled ? 1 : 0;
  WriteStyleCount(fillCount);
  if (filled) WriteFillStyle(SwfFillStyle::Solid(SwfRgb{0, 0, 0, 255}), false);
  WriteStyleCount(0);  // line styles
  const uint32_t fillBits = CountBits(fillCount);
  const uint32_t lineBits = CountBits(0);
  WriteShapeStyleBits(fillBits, lineBits);
  SwfStyleChange start;
  start.fillStyle1 = 1;
  if (x0 != 0 || y0 != 0) start.moveTo = SwfStyleChange::Point{x0, y0};
  WriteStyleChange(start, fillBits, lineBits);
  WriteStraightEdge(x1 - x0, 0);
  WriteStraightEdge(0, y1 - y0);
  WriteStraightEdge(x0 - x1, 0);
  WriteStraightEdge(0, y0 - y1);
  WriteEndShape();
  EndTag();
}

void SwfWriter::WriteShowFrame() {
  WriteTagHeader(ToU16(TagCode::kShowFrame), 0);
}

void SwfWriter::WriteEnd() {
  WriteTagHeader(ToU16(TagCode::kEnd), 0);
}

void SwfWriter::WriteRemoveObject2(uint16_t depth) {
  WriteTagHeader(ToU16(TagCode::kRemoveObject2), 2);
  Put16(depth);
}

void SwfWriter::WriteFreeCharacter(uint16_t characterId) {
  WriteTagHeader(ToU16(TagCode::kFreeCharacter), 2);
  Put16(characterId);
}

void SwfWriter::WriteSetBackgroundColor(uint32_t rrggbb) {
  WriteTagHeader(ToU16(TagCode::kSetBackgroundColor), 3);
  WriteRgb(SwfRgb::FromRgb(rrggbb), false);
}

void SwfWriter::WriteProtect() {
  BeginTag(TagCode::kProtect);
  EndTag();
}

void SwfWriter::WritePlaceObject(uint16_t characterId, uint16_t depth, const SwfMatrix* matrix,
                                 const SwfColorTransform* cxform) {
  BeginTag(TagCode::kPlaceObject);
  Put16(characterId);
  Put16(depth);
  WriteMatrix(matrix);
  if (cxform != nullptr) WriteColorTransform(*cxform, false);
  EndTag();
}

void SwfWriter::WriteFileHeader(uint8_t version, const SwfRect& stage, double frameRate) {
  Put8('F');
  Put8('W');
  Put8('S');
  Put8(version);
  Put32(0);  // file length, patched by FinishPart
  bits_.Reset();
  WriteRect(stage);
  const double fixed = std::trunc(frameRate * 256.0);
  Put16(static_cast<uint16_t>(fixed <= 0 ? 0 : fixed >= 65535 ? 65535 : fixed));  // 8.8
  frameCountPos_ = output_->Cursor();
  Put16(1);  // frame count, patched by FinishPart
  afterHeaderPos_ = output_->Cursor();
}

void SwfWriter::FinishPart(uint32_t frameCount) {
  const uint32_t length = PartLength();
  const uint16_t count = static_cast<uint16_t>(std::min<uint32_t>(frameCount, 0xFFFF));
  if (output_->Base() == 0) {
    (void)output_->Patch32(4, length);
    (void)output_->Patch16(frameCountPos_, count);
    return;
  }
  // The header went out of the buffer with the first committed bytes; its copy is patched.
  PutU32(header_.data() + 4, length);
  header_[frameCountPos_] = static_cast<uint8_t>(count);
  header_[frameCountPos_ + 1] = static_cast<uint8_t>(count >> 8);
}

std::string SwfWriter::PartFileName(const std::string& prefix, uint32_t partNumber) {
  if (partNumber <= 1) return prefix + "encoded.swf";
  return prefix + "encoded" + std::to_string(partNumber) + ".swf";
}

bool SwfWriter::SetHeaderInsert(const uint8_t* bytes, uint32_t n) {
  try {
    insert_.assign(bytes, bytes + n);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool SwfWriter::StreamTo(const std::string& path, uint32_t reserve) {
  lastError.clear();
  AbandonFile();
  file_ = std::fopen(path.c_str(), "w+b");
  if (file_ == nullptr) {
    lastError = kPartWriteError;
    return false;
  }
  filePath_ = path;
  reserve_ = reserve;
  return true;
}

bool SwfWriter::Commit(uint32_t pos) {
  if (file_ == nullptr) return true;
  ByteBuffer& out = *output_;
  if (pos <= out.Base() || pos < afterHeaderPos_ || pos > out.Cursor() || out.Failed()) {
    return true;
  }
  if (out.Base() == 0) {
    // The header is patched at the part's end and the part's first tag goes in behind it, so
    // the header stays out of the file until then and the body starts at its reserved place.
    try {
      header_.assign(out.Data(), out.Data() + afterHeaderPos_);
    } catch (const std::bad_alloc&) {
      lastError = "Out of memory while assembling the Flash output";
      return false;
    }
    if (std::fseek(file_, static_cast<long>(afterHeaderPos_) + reserve_, SEEK_SET) != 0 ||
        !out.DropBefore(afterHeaderPos_)) {
      lastError = kPartWriteError;
      return false;
    }
  }
  const uint32_t n = pos - out.Base();
  if (std::fwrite(out.Data(), 1, n, file_) != n || !out.DropBefore(pos)) {
    lastError = kPartWriteError;
    return false;
  }
  return true;
}

void SwfWriter::AbandonFile() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
  std::remove(filePath_.c_str());
  filePath_.clear();
}

bool SwfWriter::WritePartFile(const std::string& prefix, uint32_t partNumber) {
  lastError.clear();
  if (OutputFailed()) {
    // A dropped write leaves the part short: storing it would give a corrupt movie.
    AbandonFile();
    lastError = "Out of memory while assembling the Flash output";
    return false;
  }
  const bool stored = file_ != nullptr ? FinishFile() : WriteWholeFile(PartFileName(prefix, partNumber));
  if (!stored) {
    AbandonFile();
    lastError = kPartWriteError;
  }
  return stored;
}

bool SwfWriter::WriteWholeFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool written = WriteWhole(f, *output_, afterHeaderPos_, insert_);
  // Disk-full errors often surface only when the stream is flushed or closed.
  written = std::fflush(f) == 0 && written;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}

bool SwfWriter::FinishFile() {
  const uint32_t end = output_->Cursor();
  if (!Commit(end)) return false;
  if (output_->Base() == 0) {
    // Nothing committed (a part of header only): the whole part is still here.
    return WriteWhole(file_, *output_, afterHeaderPos_, insert_) && CloseFile();
  }
  const uint64_t bodyLength = uint64_t{end} - afterHeaderPos_;
  if (insert_.size() != reserve_) {
    // The part's first tag turned out longer or shorter than reserved: the body moves.
    if (std::fflush(file_) != 0) return false;
    const int fd = fileno(file_);
    if (!MoveInFile(fd, uint64_t{afterHeaderPos_} + reserve_, bodyLength,
                    uint64_t{afterHeaderPos_} + insert_.size())) {
      return false;
    }
    const uint64_t total = uint64_t{afterHeaderPos_} + insert_.size() + bodyLength;
    if (ftruncate(fd, static_cast<off_t>(total)) != 0) return false;
  }
  return std::fseek(file_, 0, SEEK_SET) == 0 && Write(file_, header_.data(), header_.size()) &&
         Write(file_, insert_.data(), insert_.size()) && CloseFile();
}

bool SwfWriter::CloseFile() {
  const bool flushed = std::fflush(file_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed) {
    std::remove(filePath_.c_str());
    filePath_.clear();
    return false;
  }
  filePath_.clear();
  return true;
}

}  // namespace quillon
