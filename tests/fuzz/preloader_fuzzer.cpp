// libFuzzer target: the preloader reader over arbitrary bytes. Besides the sanitizers' checks,
// a successful read must leave a well-formed tag sequence and a failed one nothing at all.
#include <cstddef>
#include <cstdint>

#include "swf/transport/preloader_movie.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Walks the copied tags: each one lies wholly inside the copy, none is End or
// SetBackgroundColor, and the ShowFrame tags number the reported frame count.
void CheckTags(const quillon::PreloaderMovie& movie) {
  const uint8_t* p = movie.Tags().Data();
  const std::size_t size = movie.Tags().Size();
  std::size_t at = 0;
  uint32_t frames = 0;
  while (at < size) {
    Check(size - at >= 2);
    const uint16_t header = static_cast<uint16_t>(p[at] | p[at + 1] << 8);
    at += 2;
    const uint16_t code = header >> 6;
    std::size_t length = header & 0x3F;
    if (length == 0x3F) {
      Check(size - at >= 4);
      length = p[at] | p[at + 1] << 8 | p[at + 2] << 16 | std::size_t{p[at + 3]} << 24;
      at += 4;
    }
    Check(length <= size - at);
    Check(code != 0 && code != 9);
    if (code == 1) ++frames;
    at += length;
  }
  Check(frames == movie.FrameCount());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  quillon::PreloaderMovie movie;
  if (movie.ReadBytes(data, size)) {
    Check(movie.Status() == quillon::PreloaderStatus::kOk);
    CheckTags(movie);
  } else {
    Check(movie.TagBytes() == 0 && movie.FrameCount() == 0 && !movie.lastError.empty());
  }
  return 0;
}
