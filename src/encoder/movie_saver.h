// The copying of one temporary part to its final name, with the part action block rewritten so
// that the saved parts load each other by those names, and the check that no final name is the
// movie being converted.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "encoder/destination_name.h"

namespace quillon {

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
