// Writes the seed corpus of the preloader fuzzer: small valid movies that reach every branch of
// the reader (all depth-carrying tags, PlaceObject2 with every optional field, long headers,
// a compressed movie).
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "seed_files.h"
#include "swf/swf_writer.h"

using quillon::fuzzing::WriteSeed;

namespace {

using Bytes = std::vector<uint8_t>;

class Movie {
 public:
  explicit Movie(uint8_t version) {
    if (!w_.Open()) std::abort();
    w_.WriteFileHeader(version, quillon::SwfRect{0, 11000, 0, 8000}, 12.0);
  }
  Movie& Tag(uint16_t code, const Bytes& body, bool longHeader = false) {
    if (longHeader || body.size() > 62) {
      w_.Put16(static_cast<uint16_t>(code << 6 | 0x3F));
      w_.Put32(static_cast<uint32_t>(body.size()));
    } else {
      w_.Put16(static_cast<uint16_t>(code << 6 | body.size()));
    }
    if (!body.empty()) w_.Append(body.data(), static_cast<uint32_t>(body.size()));
    return *this;
  }
  Bytes Build() {
    Tag(0, {});
    const quillon::ByteBuffer* b = w_.Output();
    return Bytes(b->Data(), b->Data() + b->Cursor());
  }

 private:
  quillon::SwfWriter w_;
};

Bytes Compress(const Bytes& fws) {
  uLongf size = compressBound(static_cast<uLong>(fws.size()));
  Bytes out(8 + size);
  if (compress2(out.data() + 8, &size, fws.data() + 8, fws.size() - 8, 9) != Z_OK) std::abort();
  out.resize(8 + size);
  out[0] = 'C';
  out[1] = 'W';
  out[2] = 'S';
  out[3] = fws[3];
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(fws.size() >> (8 * i));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = quillon::fuzzing::CorpusFolder(argc, argv);
  if (dir.empty()) return 2;
  // clang-format off
  const Bytes placeAll = {0x7E, 7, 0, 3, 0,             // flags, depth, character
                          0b1'00010'01, 0x00,           // matrix
                          0b11'0010'00, 0x00, 0x00,     // colour transform with both term sets
                          9, 0, 'n', 'a', 'm', 'e', 0,  // ratio, name
                          12, 0};                       // clip depth
  // clang-format on
  const Bytes display = Movie(6)
                            .Tag(9, {0, 0, 0})
                            .Tag(4, {1, 0, 5, 0, 0})
                            .Tag(26, placeAll)
                            .Tag(26, {0x01, 4, 0})
                            .Tag(1, {})
                            .Tag(5, {1, 0, 5, 0})
                            .Tag(28, {7, 0})
                            .Tag(1, {})
                            .Build();
  const Bytes headers = Movie(5)
                            .Tag(12, Bytes(10, 0), true)
                            .Tag(6, Bytes(10, 1))
                            .Tag(43, Bytes(70, 'x'))
                            .Tag(1, {})
                            .Build();
  const bool ok = WriteSeed(dir + "display.swf", display) &&
                  WriteSeed(dir + "headers.swf", headers) &&
                  WriteSeed(dir + "compressed.swf", Compress(display)) &&
                  WriteSeed(dir + "empty.swf", Movie(5).Build());
  return ok ? 0 : 1;
}
