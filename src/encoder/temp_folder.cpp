#include "encoder/temp_folder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace quillon {

namespace {

bool IsPartFileName(const std::string& name) {
  constexpr std::string_view kStem = "encoded";
  constexpr std::string_view kExt = ".swf";
  if (name.size() < kStem.size() + kExt.size()) return false;
  if (name.compare(0, kStem.size(), kStem) != 0) return false;
  if (name.compare(name.size() - kExt.size(), kExt.size(), kExt) != 0) return false;
  for (size_t i = kStem.size(); i < name.size() - kExt.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

}  // namespace

bool MakeTemporaryFolder(std::string& folder) {
  std::string base;
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
    base = tmp;
  } else {
    base = "/tmp";
  }
  if (base.back() != '/') base += '/';
  std::string pattern = base + "quilXXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) return false;
  folder.assign(buffer.data());
  folder += '/';
  return true;
}

void RemoveTemporaryParts(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code ec;
  std::vector<std::filesystem::path> parts;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (IsPartFileName(it->path().filename().string())) parts.push_back(it->path());
  }
  for (const auto& part : parts) std::filesystem::remove(part, ec);
  // Only an empty folder goes: anything else in it was not put there by a run.
  ::rmdir(folder.c_str());
}

}  // namespace quillon
