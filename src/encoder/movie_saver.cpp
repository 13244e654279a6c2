#include "encoder/movie_saver.h"

#include <sys/stat.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "swf/action_builder.h"
#include "swf/swf_records.h"
#include "swf/swf_writer.h"

namespace quillon {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Bytes read from the start of a temporary part: header and first tag header must lie in them.
constexpr size_t kHeadBytes = 4096;
// Signature, version and file length come before the frame rectangle.
constexpr size_t kRectOffset = 8;
constexpr uint16_t kDoActionCode = 12;

// Reads a most-significant-bit-first field from a byte range; fails past its end.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size, size_t offset)
      : data_(data), size_(size), bit_(offset * 8) {}
  bool Read(uint32_t n, uint32_t& value) {
    value = 0;
    for (uint32_t i = 0; i < n; ++i) {
      const size_t byte = bit_ / 8;
      if (byte >= size_) return false;
      value = (value << 1) | ((data_[byte] >> (7 - bit_ % 8)) & 1u);
      ++bit_;
    }
    return true;
  }
  bool ReadSigned(uint32_t n, int32_t& value) {
    uint32_t raw = 0;
    if (!Read(n, raw)) return false;
    if (n > 0 && n < 32 && (raw & (1u << (n - 1))) != 0) raw |= ~((1u << n) - 1);
    value = static_cast<int32_t>(raw);
    return true;
  }
  // Byte offset after the last field read, rounded up.
  size_t ByteEnd() const { return (bit_ + 7) / 8; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t bit_;
};

uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool WriteAll(std::FILE* file, const void* data, size_t n) {
  return n == 0 || std::fwrite(data, 1, n, file) == n;
}

// Copies what remains of `in` to `out`.
bool CopyRest(std::FILE* in, std::FILE* out) {
  std::vector<uint8_t> chunk(1 << 16);
  for (;;) {
    const size_t n = std::fread(chunk.data(), 1, chunk.size(), in);
    if (n > 0 && !WriteAll(out, chunk.data(), n)) return false;
    if (n < chunk.size()) return std::ferror(in) == 0;
  }
}

}  // namespace

std::string FindPartThatIs(const std::string& path, const DestinationName& d, uint32_t partCount) {
  struct stat source {};
  if (::stat(path.c_str(), &source) != 0) return std::string();
  auto same = [&](const std::string& candidate) {
    struct stat st {};
    return ::stat(candidate.c_str(), &st) == 0 && st.st_dev == source.st_dev &&
           st.st_ino == source.st_ino;
  };
  for (uint32_t n = 1; n <= std::max<uint32_t>(partCount, 1); ++n) {
    if (same(FinalPartName(d, n))) return FinalPartName(d, n);
  }
  if (partCount != 0) return std::string();
  const std::string first = FinalPartName(d, 1);
  const size_t slash = first.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : first.substr(0, slash + 1);
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end;
       !ec && it != end; it.increment(ec)) {
    const uint32_t n = PartNumberOf(d, it->path().filename().string());
    if (n >= 2 && same(FinalPartName(d, n))) return FinalPartName(d, n);
  }
  return std::string();
}

bool CopyPartFile(const std::string& from, std::FILE* out, std::string& error) {
  File in(std::fopen(from.c_str(), "rb"));
  if (!in) {
    error = "cannot read " + from;
    return false;
  }
  if (!CopyRest(in.get(), out)) {
    error = "cannot copy " + from;
    return false;
  }
  return true;
}

bool RewritePartFile(const std::string& from, std::FILE* out, const std::string& baseName,
                     uint32_t part, bool last, std::string& error) {
  File in(std::fopen(from.c_str(), "rb"));
  if (!in) {
    error = "cannot read " + from;
    return false;
  }
  if (std::fseek(in.get(), 0, SEEK_END) != 0) {
    error = "cannot read " + from;
    return false;
  }
  const long fileSize = std::ftell(in.get());
  std::rewind(in.get());
  if (fileSize < 0) {
    error = "cannot read " + from;
    return false;
  }
  std::vector<uint8_t> head(kHeadBytes);
  const size_t got = std::fread(head.data(), 1, head.size(), in.get());
  if (got <= 31) {
    error = "part too short";
    return false;
  }
  if (head[0] != 'F' || head[1] != 'W' || head[2] != 'S') {
    error = "not an uncompressed SWF";
    return false;
  }
  const uint8_t version = head[3];
  BitReader bits(head.data(), got, kRectOffset);
  uint32_t nbits = 0;
  SwfRect rect;
  if (!bits.Read(5, nbits) || !bits.ReadSigned(nbits, rect.xMin) ||
      !bits.ReadSigned(nbits, rect.xMax) || !bits.ReadSigned(nbits, rect.yMin) ||
      !bits.ReadSigned(nbits, rect.yMax)) {
    error = "damaged SWF header";
    return false;
  }
  size_t pos = bits.ByteEnd();
  // Frame rate, frame count and the short tag header.
  if (pos + 6 > got) {
    error = "damaged SWF header";
    return false;
  }
  const uint16_t frameRate = Get16(&head[pos]);
  const uint16_t frameCount = Get16(&head[pos + 2]);
  pos += 4;
  const uint16_t codeAndLength = Get16(&head[pos]);
  pos += 2;
  const uint16_t code = codeAndLength >> 6;
  uint64_t tagLength = codeAndLength & 0x3F;
  if (tagLength == 0x3F) {
    if (pos + 4 > got) {
      error = "damaged SWF header";
      return false;
    }
    tagLength = Get32(&head[pos]);
    pos += 4;
  }
  if (code != kDoActionCode) {
    error = "first tag is not the part action block";
    return false;
  }
  // The old action block must end inside the file, else the copy would invent bytes.
  const uint64_t restStart = pos + tagLength;
  if (restStart > static_cast<uint64_t>(fileSize)) {
    error = "damaged part action block";
    return false;
  }
  const uint64_t restBytes = static_cast<uint64_t>(fileSize) - restStart;

  SwfWriter writer;
  if (!writer.Open()) {
    error = "out of memory";
    return false;
  }
  writer.Put8('F');
  writer.Put8('W');
  writer.Put8('S');
  writer.Put8(version);
  writer.Put32(0);  // file length, patched below
  writer.WriteRect(rect);
  writer.Put16(frameRate);
  writer.Put16(frameCount);
  ActionBuilder(writer).PartVariablesScript(baseName, part, last);
  if (writer.OutputFailed()) {
    error = "out of memory";
    return false;
  }
  const uint64_t newLength = writer.Cursor() + restBytes;
  if (newLength > 0xFFFFFFFFu) {
    error = "part too large";
    return false;
  }
  (void)writer.Output()->Patch32(4, static_cast<uint32_t>(newLength));

  if (std::fseek(in.get(), static_cast<long>(restStart), SEEK_SET) != 0) {
    error = "cannot read " + from;
    return false;
  }
  if (!WriteAll(out, writer.Output()->Data(), writer.Cursor()) || !CopyRest(in.get(), out)) {
    error = "cannot copy " + from;
    return false;
  }
  return true;
}

}  // namespace quillon
