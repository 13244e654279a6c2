// The final file names of a generated movie's parts: a destination split into folder, name and
// extension, part N's name built from them, and the part number a file name stands for.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// A destination split into folder (with its trailing separator, or empty), name and extension
// (without the "."; "swf" when the name has none).
struct DestinationName {
  std::string folder;
  std::string name;
  std::string extension;
};

DestinationName SplitDestination(const std::string& destination);
// "folder/name.ext" for part 1, "folder/nameN.ext" for part N > 1.
std::string FinalPartName(const DestinationName& destination, uint32_t part);
// The file part 1 is written to: the destination, with ".swf" added when it has no extension.
std::string FirstPartName(const std::string& destination);
// The part number a file name (without folder) has among the destination's final names, or 0
// when it is none of them.
uint32_t PartNumberOf(const DestinationName& destination, const std::string& fileName);

}  // namespace quillon
