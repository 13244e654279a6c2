// Test clips made with the ffmpeg command once per build folder, and whole-file reads.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace quillon::testing {

// The folder of generated clips for one test suite, with a trailing "/".
inline std::string ClipFolder(const std::string& suite) {
  return std::string(QUILLON_TEST_BINARY_DIR) + "/test-clips/" + suite + "/";
}

// Makes folder + name with `ffmpeg <ffmpegArgs> <file>` unless it exists; empty on failure.
// Parallel test processes may make the same clip: each writes a file of its own and the
// rename into place is atomic.
inline std::string MakeClip(const std::string& folder, const std::string& name,
                            const std::string& ffmpegArgs) {
  namespace fs = std::filesystem;
  const std::string path = folder + name;
  if (fs::exists(path)) return path;
  std::error_code ec;
  fs::create_directories(folder, ec);
  const std::string tmp = folder + "tmp-" + std::to_string(::getpid()) + "-" + name;
  const std::string cmd = "ffmpeg -nostdin -v error -y " + ffmpegArgs + " \"" + tmp + "\"";
  if (std::system(cmd.c_str()) != 0) return std::string();
  fs::rename(tmp, path, ec);
  return ec ? std::string() : path;
}

// The whole file as bytes (empty when it cannot be read).
inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A 16-bit PCM WAV file whose data chunk states `statedBytes` (which need not be what follows:
// damaged files state more) and holds `data`.
inline std::string PcmWavBytes(uint32_t rate, uint16_t channels, const std::string& data,
                               uint32_t statedBytes) {
  std::string b;
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  b += "RIFF";
  put(36 + statedBytes, 4);
  b += "WAVEfmt ";
  put(16, 4);
  put(1, 2);  // PCM
  put(channels, 2);
  put(rate, 4);
  put(rate * channels * 2, 4);
  put(channels * 2, 2);
  put(16, 2);
  b += "data";
  put(statedBytes, 4);
  return b + data;
}

}  // namespace quillon::testing
