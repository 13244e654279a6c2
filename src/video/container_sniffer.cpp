#include "video/container_sniffer.h"

#include <cctype>
#include <cstdio>
#include <memory>

namespace quillon {

namespace {

bool SpellsIgnoringCase(const unsigned char* bytes, const char* word) {
  for (; *word != '\0'; ++bytes, ++word) {
    if (std::toupper(*bytes) != *word) return false;
  }
  return true;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

ContainerKind SniffContainer(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return ContainerKind::kUnreadable;
  unsigned char head[12];
  if (std::fread(head, 1, sizeof head, file.get()) != sizeof head) return ContainerKind::kUnreadable;
  if (SpellsIgnoringCase(head, "RIFF")) {
    if (SpellsIgnoringCase(head + 8, "AVI")) return ContainerKind::kAvi;
    if (SpellsIgnoringCase(head + 8, "WAVE")) return ContainerKind::kWave;
  }
  if (head[0] == 0x00 && head[1] == 0x00 && head[2] == 0x01) return ContainerKind::kMpeg;
  return ContainerKind::kUnknown;
}

}  // namespace quillon
