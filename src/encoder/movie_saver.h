// Final names of the generated parts and the copying of one temporary part to its final name,
// with the part action block rewritten so that the saved parts load each other by those names.
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

// Copies a whole file, replacing the destination. False with error set.
[[nodiscard]] bool CopyPartFile(const std::string& from, const std::string& to,
                                std::string& error);
// Writes the temporary part to `to` with a new header (same version, rectangle, frame rate and
// count) and the part action block for (baseName, part, last) in place of its first DoAction
// tag; the rest is copied unchanged. False with error set when the part is not an uncompressed
// SWF whose first tag is a DoAction, or when a read or write fails.
[[nodiscard]] bool RewritePartFile(const std::string& from, const std::string& to,
                                   const std::string& baseName, uint32_t part, bool last,
                                   std::string& error);

}  // namespace quillon
