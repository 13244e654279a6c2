#include "encoder/destination_name.h"

namespace quillon {

DestinationName SplitDestination(const std::string& destination) {
  DestinationName out;
  const size_t slash = destination.find_last_of("/\\");
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  out.folder = destination.substr(0, nameStart);
  const std::string file = destination.substr(nameStart);
  const size_t dot = file.rfind('.');
  if (dot == std::string::npos) {
    out.name = file;
    out.extension = "swf";
  } else {
    out.name = file.substr(0, dot);
    out.extension = file.substr(dot + 1);
  }
  return out;
}

std::string FinalPartName(const DestinationName& d, uint32_t part) {
  if (part <= 1) return d.folder + d.name + "." + d.extension;
  return d.folder + d.name + std::to_string(part) + "." + d.extension;
}

std::string FirstPartName(const std::string& destination) {
  return FinalPartName(SplitDestination(destination), 1);
}

uint32_t PartNumberOf(const DestinationName& d, const std::string& fileName) {
  // The stem is what the file name of every part starts with: the name, after whatever folder
  // the destination's own spelling put in front of it.
  const std::string full = d.folder + d.name;
  const size_t slash = full.rfind('/');
  const std::string stem = slash == std::string::npos ? full : full.substr(slash + 1);
  const std::string suffix = "." + d.extension;
  if (fileName.size() < stem.size() + suffix.size()) return 0;
  if (fileName.compare(0, stem.size(), stem) != 0) return 0;
  if (fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0) return 0;
  const std::string digits =
      fileName.substr(stem.size(), fileName.size() - stem.size() - suffix.size());
  if (digits.empty()) return 1;
  if (digits.size() > 9 || digits[0] == '0') return 0;
  uint32_t n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + static_cast<uint32_t>(c - '0');
  }
  return n >= 2 ? n : 0;
}

}  // namespace quillon
