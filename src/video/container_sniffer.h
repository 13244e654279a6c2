// Recognises a movie container from its first 12 bytes, for choosing which readers to try.
#pragma once

#include <string>

namespace quillon {

enum class ContainerKind {
  kUnreadable,  // cannot be opened or shorter than 12 bytes
  kAvi,
  kWave,
  kMpeg,
  kUnknown,
};

ContainerKind SniffContainer(const std::string& path);

}  // namespace quillon
