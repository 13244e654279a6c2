// What every seed writer shares: the corpus folder it is given and writing one seed file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace quillon::fuzzing {

inline bool WriteSeed(const std::string& path, const void* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}
inline bool WriteSeed(const std::string& path, const std::vector<uint8_t>& bytes) {
  return WriteSeed(path, bytes.data(), bytes.size());
}
inline bool WriteSeed(const std::string& path, const std::string& bytes) {
  return WriteSeed(path, bytes.data(), bytes.size());
}

// The corpus folder named on the command line, with a trailing "/"; empty (after the usage
// line) when the command line is not just that.
inline std::string CorpusFolder(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
    return {};
  }
  return std::string(argv[1]) + "/";
}

}  // namespace quillon::fuzzing
