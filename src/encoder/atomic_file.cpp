#include "encoder/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

namespace quillon {

namespace {

// Attempts at a free temporary name before giving up (each one is random).
constexpr int kNameAttempts = 64;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1);
}

std::string RandomHex() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  static constexpr char kDigits[] = "0123456789abcdef";
  uint64_t value = generator();
  std::string out(12, '0');
  for (char& c : out) {
    c = kDigits[value & 0xF];
    value >>= 4;
  }
  return out;
}

}  // namespace

AtomicFile::~AtomicFile() {
  Discard();
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept {
  *this = std::move(other);
}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept {
  if (this != &other) {
    Discard();
    lastError = std::move(other.lastError);
    target_ = std::move(other.target_);
    temporary_ = std::exchange(other.temporary_, std::string());
    stream_ = std::exchange(other.stream_, nullptr);
    isNew_ = other.isNew_;
    finished_ = other.finished_;
  }
  return *this;
}

bool AtomicFile::Create(const std::string& destination) {
  Discard();
  lastError.clear();
  finished_ = false;
  target_ = destination;
  struct stat link {};
  isNew_ = ::lstat(destination.c_str(), &link) != 0;
  mode_t keepMode = 0;
  if (!isNew_) {
    struct stat st {};
    if (S_ISLNK(link.st_mode) && ::stat(destination.c_str(), &st) == 0) {
      // Saving through a link replaces the file it points to, as writing into it always did.
      char resolved[PATH_MAX];
      if (::realpath(destination.c_str(), resolved) == nullptr) {
        lastError = "cannot follow the link " + destination;
        return false;
      }
      target_ = resolved;
    } else {
      st = link;
    }
    if (S_ISDIR(st.st_mode)) {
      lastError = destination + " is a folder";
      return false;
    }
    if (!S_ISLNK(st.st_mode) && !S_ISREG(st.st_mode)) {
      lastError = destination + " is not a regular file";
      return false;
    }
    if (S_ISREG(st.st_mode)) {
      if (::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
        lastError = destination + " is write-protected";
        return false;
      }
      keepMode = st.st_mode & 0777;
    }
  }
  const std::string folder = FolderOf(target_);
  int fd = -1;
  for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
    temporary_ = folder + ".quil-" + RandomHex() + ".part";
    fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    lastError = "cannot create a file in " + (folder.empty() ? std::string(".") : folder) + ": " +
                std::strerror(errno);
    temporary_.clear();
    return false;
  }
  if (keepMode != 0) (void)::fchmod(fd, keepMode);
  stream_ = ::fdopen(fd, "wb");
  if (stream_ == nullptr) {
    ::close(fd);
    Discard();
    lastError = "out of memory";
    return false;
  }
  return true;
}

bool AtomicFile::Finish() {
  if (stream_ == nullptr) return finished_;
  bool ok = std::fflush(stream_) == 0;
  ok = ::fsync(::fileno(stream_)) == 0 && ok;
  ok = std::fclose(stream_) == 0 && ok;
  stream_ = nullptr;
  if (!ok) lastError = "cannot write " + target_;
  finished_ = ok;
  return ok;
}

bool AtomicFile::Publish() {
  if (!finished_ || temporary_.empty()) return false;
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    lastError = "cannot replace " + target_ + ": " + std::strerror(errno);
    return false;
  }
  temporary_.clear();
  return true;
}

void AtomicFile::Discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
  finished_ = false;
}

}  // namespace quillon
