#include "swf/transport/preloader_movie.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "settings/paths.h"
#include "swf/swf_writer.h"
#include "swf/tag_code.h"

namespace quillon {

namespace {

constexpr uint32_t kReadPiece = 4096;
// "FWS"/"CWS", version, 32-bit file length.
constexpr std::size_t kSignatureBytes = 8;

// PlaceObject2 flags, in the order their fields follow the depth.
constexpr uint8_t kPlaceHasCharacter = 0x02;
constexpr uint8_t kPlaceHasMatrix = 0x04;
constexpr uint8_t kPlaceHasColorTransform = 0x08;
constexpr uint8_t kPlaceHasRatio = 0x10;
constexpr uint8_t kPlaceHasName = 0x20;
constexpr uint8_t kPlaceHasClipDepth = 0x40;

// Reads bytes and most-significant-first bit fields from [data, data + size) and never past
// it: a read beyond the end fails and leaves the reader failed for good.
class BoundedReader {
 public:
  BoundedReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Position() const { return pos_; }
  std::size_t Remaining() const { return size_ - pos_; }
  bool Ok() const { return ok_; }

  bool Skip(std::size_t n) {
    AlignBits();
    if (!ok_ || n > Remaining()) return Broken();
    pos_ += n;
    return true;
  }
  bool U8(uint8_t& v) {
    AlignBits();
    if (!ok_ || Remaining() < 1) return Broken();
    v = data_[pos_++];
    return true;
  }
  bool U16(uint16_t& v) {
    AlignBits();
    if (!ok_ || Remaining() < 2) return Broken();
    v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t& v) {
    AlignBits();
    if (!ok_ || Remaining() < 4) return Broken();
    v = uint32_t{data_[pos_]} | (uint32_t{data_[pos_ + 1]} << 8) |
        (uint32_t{data_[pos_ + 2]} << 16) | (uint32_t{data_[pos_ + 3]} << 24);
    pos_ += 4;
    return true;
  }
  // n <= 32 bits, unsigned.
  bool Bits(uint32_t n, uint32_t& v) {
    v = 0;
    for (uint32_t i = 0; i < n; ++i) {
      if (bitsLeft_ == 0) {
        if (!ok_ || Remaining() < 1) return Broken();
        bitByte_ = data_[pos_++];
        bitsLeft_ = 8;
      }
      --bitsLeft_;
      v = (v << 1) | ((bitByte_ >> bitsLeft_) & 1u);
    }
    return ok_;
  }
  bool SignedBits(uint32_t n, int32_t& v) {
    uint32_t raw = 0;
    if (!Bits(n, raw)) return false;
    if (n > 0 && n < 32 && (raw & (1u << (n - 1))) != 0) raw |= ~((1u << n) - 1);
    v = static_cast<int32_t>(raw);
    return true;
  }
  void SkipBits(uint32_t n) {
    uint32_t ignored = 0;
    for (uint32_t i = 0; i < n && ok_; i += 16) Bits(n - i < 16 ? n - i : 16, ignored);
  }
  // Bit fields end on a byte boundary; the next byte read starts fresh.
  void AlignBits() { bitsLeft_ = 0; }

 private:
  bool Broken() {
    ok_ = false;
    return false;
  }

  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  uint8_t bitByte_ = 0;
  uint32_t bitsLeft_ = 0;
  bool ok_ = true;
};

// Steps over a MATRIX record.
bool SkipMatrix(BoundedReader& r) {
  uint32_t has = 0;
  uint32_t n = 0;
  if (!r.Bits(1, has)) return false;
  if (has != 0) {  // scale
    if (!r.Bits(5, n)) return false;
    r.SkipBits(2 * n);
  }
  if (!r.Bits(1, has)) return false;
  if (has != 0) {  // rotate/skew
    if (!r.Bits(5, n)) return false;
    r.SkipBits(2 * n);
  }
  if (!r.Bits(5, n)) return false;  // translate bits
  r.SkipBits(2 * n);
  r.AlignBits();
  return r.Ok();
}

// Steps over a CXFORMWITHALPHA record.
bool SkipColorTransformWithAlpha(BoundedReader& r) {
  uint32_t hasAdd = 0;
  uint32_t hasMult = 0;
  uint32_t n = 0;
  if (!r.Bits(1, hasAdd) || !r.Bits(1, hasMult) || !r.Bits(4, n)) return false;
  if (hasMult != 0) r.SkipBits(4 * n);
  if (hasAdd != 0) r.SkipBits(4 * n);
  r.AlignBits();
  return r.Ok();
}

bool SkipString(BoundedReader& r) {
  uint8_t c = 1;
  while (c != 0) {
    if (!r.U8(c)) return false;
  }
  return true;
}

// Offsets (within the body) of the depth fields to raise, or false when the body is too short
// for the fields its code or flags announce.
bool FindDepthFields(uint16_t code, const uint8_t* body, uint32_t length, uint32_t offsets[2],
                     uint32_t& count) {
  count = 0;
  switch (static_cast<TagCode>(code)) {
    case TagCode::kPlaceObject:
    case TagCode::kRemoveObject:  // character id, then depth
      if (length < 4) return false;
      offsets[count++] = 2;
      return true;
    case TagCode::kRemoveObject2:
      if (length < 2) return false;
      offsets[count++] = 0;
      return true;
    case TagCode::kPlaceObject2: {
      BoundedReader r(body, length);
      uint8_t flags = 0;
      uint16_t depth = 0;
      if (!r.U8(flags) || !r.U16(depth)) return false;
      offsets[count++] = 1;
      if ((flags & kPlaceHasClipDepth) == 0) return true;
      if ((flags & kPlaceHasCharacter) != 0 && !r.Skip(2)) return false;
      if ((flags & kPlaceHasMatrix) != 0 && !SkipMatrix(r)) return false;
      if ((flags & kPlaceHasColorTransform) != 0 && !SkipColorTransformWithAlpha(r)) return false;
      if ((flags & kPlaceHasRatio) != 0 && !r.Skip(2)) return false;
      if ((flags & kPlaceHasName) != 0 && !SkipString(r)) return false;
      if (r.Remaining() < 2) return false;
      offsets[count++] = static_cast<uint32_t>(r.Position());
      return true;
    }
    default:
      return true;
  }
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

PreloaderMovie::PreloaderMovie()
    : tags_(kTagBufferInitial, kTagBufferIncrement, kTagBufferFactor) {}

std::string PreloaderMovie::ResolvePath(std::string_view baseFolder,
                                        std::string_view loaderSetting) {
  if (IsAbsolutePath(loaderSetting)) return ToForwardSlashes(loaderSetting);
  std::string joined(baseFolder);
  joined.append(loaderSetting);
  return NormalizePath(joined);
}

bool PreloaderMovie::ReadFile(const std::string& path) {
  Reset();
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    Fail(PreloaderStatus::kReadFailure);
    return false;
  }
  ByteBuffer content(kTagBufferInitial, kTagBufferIncrement, kTagBufferFactor);
  for (;;) {
    if (content.Size() > kMaxInflatedSize) {
      Fail(PreloaderStatus::kReadFailure);
      return false;
    }
    uint8_t* piece = content.Reserve(kReadPiece);
    if (piece == nullptr) {
      Fail(PreloaderStatus::kOutOfMemory);
      return false;
    }
    const std::size_t got = std::fread(piece, 1, kReadPiece, file.get());
    content.Skip(static_cast<int64_t>(got));
    if (got < kReadPiece) break;
  }
  if (std::ferror(file.get())) {
    Fail(PreloaderStatus::kReadFailure);
    return false;
  }
  return ReadBytes(content.Data(), content.Size());
}

bool PreloaderMovie::ReadBytes(const uint8_t* data, std::size_t size) {
  Reset();
  if (data == nullptr || size < kSignatureBytes || data[1] != 'W' || data[2] != 'S' ||
      (data[0] != 'F' && data[0] != 'C')) {
    Fail(PreloaderStatus::kReadFailure);
    return false;
  }
  const uint8_t version = data[3];
  if (data[0] == 'F') return ReadMovie(version, data + kSignatureBytes, size - kSignatureBytes);

  // Compressed: everything after the 8 signature bytes is one zlib stream, and the stated
  // length counts the uncompressed file including those 8 bytes. The inflated copy grows
  // with what the stream really yields, so a false length cannot make us allocate much.
  const uint32_t stated = uint32_t{data[4]} | (uint32_t{data[5]} << 8) | (uint32_t{data[6]} << 16) |
                          (uint32_t{data[7]} << 24);
  if (stated < kSignatureBytes || stated > kMaxInflatedSize) {
    Fail(PreloaderStatus::kReadFailure);
    return false;
  }
  const uint32_t wanted = stated - static_cast<uint32_t>(kSignatureBytes);
  ByteBuffer inflated(kTagBufferInitial, kTagBufferIncrement, kTagBufferFactor);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) {
    Fail(PreloaderStatus::kOutOfMemory);
    return false;
  }
  z.next_in = const_cast<Bytef*>(data + kSignatureBytes);
  const std::size_t input = size - kSignatureBytes;
  // zlib counts input in 32 bits; a preloader beyond that is refused.
  if (input > UINT32_MAX) {
    inflateEnd(&z);
    Fail(PreloaderStatus::kReadFailure);
    return false;
  }
  z.avail_in = static_cast<uInt>(input);
  int rc = Z_OK;
  bool outOfMemory = false;
  while (inflated.Size() < wanted) {
    const uint32_t room = std::min<uint32_t>(kTagBufferIncrement, wanted - inflated.Size());
    uint8_t* out = inflated.Reserve(room);
    if (out == nullptr) {
      outOfMemory = true;
      break;
    }
    z.next_out = out;
    z.avail_out = room;
    rc = inflate(&z, Z_NO_FLUSH);
    inflated.Skip(static_cast<int64_t>(room - z.avail_out));
    if (rc != Z_OK) break;  // stream end, data error, or input exhausted (Z_BUF_ERROR)
  }
  inflateEnd(&z);
  if (outOfMemory) {
    Fail(PreloaderStatus::kOutOfMemory);
    return false;
  }
  if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
    Fail(PreloaderStatus::kReadFailure);
    return false;
  }
  // A stream cut short leaves the movie without its End tag, which ReadMovie reports.
  return ReadMovie(version, inflated.Data(), inflated.Size());
}

bool PreloaderMovie::ReadMovie(uint8_t version, const uint8_t* movie, std::size_t size) {
  if (tags_.Allocate() == nullptr) {
    Fail(PreloaderStatus::kOutOfMemory);
    return false;
  }
  BoundedReader r(movie, size);
  uint32_t nbits = 0;
  SwfRect rect;
  if (movie == nullptr || !r.Bits(5, nbits) || !r.SignedBits(nbits, rect.xMin) ||
      !r.SignedBits(nbits, rect.xMax) || !r.SignedBits(nbits, rect.yMin) ||
      !r.SignedBits(nbits, rect.yMax) || !r.Skip(4)) {  // frame rate, frame count
    Fail(PreloaderStatus::kReadFailure);
    return false;
  }

  uint32_t frames = 0;
  for (;;) {
    uint16_t header = 0;
    if (!r.U16(header)) break;  // the file ends before its End tag
    const uint16_t code = header >> 6;
    uint32_t length = header & 0x3F;
    if (length == 0x3F && !r.U32(length)) break;
    if (length > r.Remaining()) break;
    const uint8_t* body = movie + r.Position();
    r.Skip(length);

    if (code == ToU16(TagCode::kEnd)) {
      version_ = version;
      frameRect_ = rect;
      frameCount_ = frames;
      status_ = PreloaderStatus::kOk;
      lastError.clear();
      return true;
    }
    // The video's own background colour (or none) rules the merged movie.
    if (code == ToU16(TagCode::kSetBackgroundColor)) continue;
    if (code == ToU16(TagCode::kShowFrame)) ++frames;

    uint32_t depthAt[2] = {0, 0};
    uint32_t depthCount = 0;
    if (!FindDepthFields(code, body, length, depthAt, depthCount)) break;

    if (SwfWriter::NeedsLongHeader(code, length)) {
      tags_.Put16(static_cast<uint16_t>(code << 6 | 0x3F));
      tags_.Put32(length);
    } else {
      tags_.Put16(static_cast<uint16_t>(code << 6 | length));
    }
    const uint32_t bodyStart = tags_.Cursor();
    tags_.Append(body, length);
    if (tags_.Failed()) {
      Fail(PreloaderStatus::kOutOfMemory);
      return false;
    }
    for (uint32_t i = 0; i < depthCount; ++i) {
      const uint32_t at = bodyStart + depthAt[i];
      const uint16_t depth = static_cast<uint16_t>(body[depthAt[i]] | (body[depthAt[i] + 1] << 8));
      // 16-bit arithmetic, as the depth field is: overlays deeper than 1535 wrap around.
      (void)tags_.Patch16(at, static_cast<uint16_t>(depth + kPreloaderDepthOffset));
    }
  }
  Fail(PreloaderStatus::kReadFailure);
  return false;
}

void PreloaderMovie::Reset() {
  status_ = PreloaderStatus::kNone;
  lastError.clear();
  tags_.Clear();
  version_ = kSwfVersion;
  frameRect_ = SwfRect{};
  frameCount_ = 0;
}

void PreloaderMovie::Fail(PreloaderStatus status) {
  Reset();
  status_ = status;
  lastError = status == PreloaderStatus::kOutOfMemory ? "Out of memory" : kPreloaderReadError;
}

}  // namespace quillon
