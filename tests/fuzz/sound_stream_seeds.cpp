// Writes the seed corpus of the sound stream fuzzer: MP3 streams of the three carried MPEG
// versions with ID3 version 2 tags before and between frames (one longer than a refill), the
// end tags "TAG" and "LYRI", a frame cut off at the end and a broken header, each followed by
// the fuzzer's controls as FuzzedDataProvider reads them (integers from the end, actions from
// the front).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "seed_files.h"

using quillon::fuzzing::WriteSeed;

namespace {

using Bytes = std::vector<uint8_t>;

struct Controls {
  unsigned fpsTenths = 120;  // 1..1200
  unsigned chunk = 1000;     // 1..5000
  int failAtCall = -1;       // -1..30
  Bytes actions;             // up to 32; bit 0 carries the frame's block
};

void Add(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

// A frame of the given header with a body of one repeated byte.
Bytes Frame(uint8_t b1, uint8_t b2, uint8_t b3, uint32_t bytes, uint8_t fill) {
  Bytes f(bytes, fill);
  f[0] = 0xFF;
  f[1] = b1;
  f[2] = b2;
  f[3] = b3;
  return f;
}

Bytes Mpeg1() {
  return Frame(0xFB, 0x90, 0x00, 417, 0x11);  // 44100 Hz, 128 kbit/s
}
Bytes Mpeg2() {
  return Frame(0xF3, 0x40, 0x40, 104, 0x22);  // 22050 Hz, 32 kbit/s
}
Bytes Mpeg25() {
  return Frame(0xE3, 0x12, 0x00, 53, 0x33);  // 11025 Hz, 8 kbit/s, padded
}

Bytes Id3(uint32_t size) {
  // clang-format off
  Bytes t = {'I', 'D', '3', 3, 0, 0,  // version 3, no flags
             static_cast<uint8_t>(size >> 21 & 0x7F), static_cast<uint8_t>(size >> 14 & 0x7F),
             static_cast<uint8_t>(size >> 7 & 0x7F), static_cast<uint8_t>(size & 0x7F)};
  // clang-format on
  t.resize(10 + size, 'i');
  return t;
}

Bytes Seed(const Bytes& mp3, const Controls& c) {
  Bytes out = c.actions;
  Add(out, mp3);
  const unsigned fps = c.fpsTenths - 1;
  const unsigned chunk = c.chunk - 1;
  // Read in this order from the end: fps (2 bytes), chunk (2), failure, start failure, count.
  const Bytes consumed = {static_cast<uint8_t>(fps >> 8),         static_cast<uint8_t>(fps),
                          static_cast<uint8_t>(chunk >> 8),       static_cast<uint8_t>(chunk),
                          static_cast<uint8_t>(c.failAtCall + 1), 1,
                          static_cast<uint8_t>(c.actions.size())};
  out.insert(out.end(), consumed.rbegin(), consumed.rend());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = quillon::fuzzing::CorpusFolder(argc, argv);
  if (dir.empty()) return 2;

  Bytes tagged = Id3(20);
  for (int i = 0; i < 12; ++i) Add(tagged, Mpeg1());
  Add(tagged, {'T', 'A', 'G', 'x', 'y'});

  Bytes mixed;
  for (int i = 0; i < 8; ++i) Add(mixed, Mpeg2());
  Add(mixed, Id3(3000));  // spans refills
  for (int i = 0; i < 20; ++i) Add(mixed, Mpeg25());
  Add(mixed, {'L', 'Y', 'R', 'I', 'C', 'S'});

  Bytes cut;
  for (int i = 0; i < 6; ++i) Add(cut, Mpeg1());
  const Bytes last = Mpeg1();
  cut.insert(cut.end(), last.begin(), last.begin() + 200);

  Bytes broken;
  for (int i = 0; i < 4; ++i) Add(broken, Mpeg2());
  Add(broken, {0xFF, 0xFD, 0x90, 0x00});  // Layer II
  for (int i = 0; i < 4; ++i) Add(broken, Mpeg2());

  Controls carrying;
  carrying.fpsTenths = 250;
  carrying.chunk = 7;
  carrying.actions = {1, 0, 1, 1, 0, 0, 1};
  Controls fast;
  fast.fpsTenths = 1200;
  fast.chunk = 4096;
  Controls failing;
  failing.failAtCall = 2;
  failing.chunk = 300;

  const bool ok = WriteSeed(dir + "tagged", Seed(tagged, Controls{})) &&
                  WriteSeed(dir + "mixed", Seed(mixed, carrying)) &&
                  WriteSeed(dir + "cut", Seed(cut, fast)) &&
                  WriteSeed(dir + "broken", Seed(broken, Controls{})) &&
                  WriteSeed(dir + "failing", Seed(mixed, failing)) &&
                  WriteSeed(dir + "empty", Seed({}, Controls{}));
  return ok ? 0 : 1;
}
