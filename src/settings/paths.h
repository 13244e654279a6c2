// Path helpers: the application folder (base of presets/, help pages, batch.log and relative
// preloader paths) and path joining that accepts Windows-style separators from settings files.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// The folder of the running executable with a trailing "/", from /proc/self/exe; empty when
// it cannot be determined (relative paths then resolve against the current folder).
const std::string& ApplicationFolder();

// Every "\" turned into "/".
std::string ToForwardSlashes(std::string_view path);
// Every "\" turned into "/" and runs of separators collapsed into one.
std::string NormalizePath(std::string_view path);
// folder + name, then normalised as NormalizePath does.
std::string JoinPath(std::string_view folder, std::string_view name);
// Begins with "/" or "\", or a drive letter, ":" and a separator.
bool IsAbsolutePath(std::string_view path);

}  // namespace quillon
