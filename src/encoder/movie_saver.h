// Final names of the generated parts and the copying of one temporary part to its final name,
// with the part action block rewritten so that the saved parts load each other by those names.
#pragma once

#include <cstdint>
#include <cstdio>
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

// The part number a file name (without folder) has among the destination's final names, or 0
// when it is none of them.
uint32_t PartNumberOf(const DestinationName& destination, const std::string& fileName);
// The final name of a destination part that is the same file as `path` (same device and inode,
// whatever the spelling or link), among parts 1..partCount, or among every part name present
// in the destination folder when partCount is 0. Empty when none is.
std::string FindPartThatIs(const std::string& path, const DestinationName& destination,
                           uint32_t partCount);

// Copies a whole file to `out`. False with error set.
[[nodiscard]] bool CopyPartFile(const std::string& from, std::FILE* out, std::string& error);
// Writes the temporary part to `out` with a new header (same version, rectangle, frame rate and
// count) and the part action block for (baseName, part, last) in place of its first DoAction
// tag; the rest is copied unchanged. False with error set when the part is not an uncompressed
// SWF whose first tag is a DoAction, or when a read or write fails.
[[nodiscard]] bool RewritePartFile(const std::string& from, std::FILE* out,
                                   const std::string& baseName, uint32_t part, bool last,
                                   std::string& error);

}  // namespace quillon
