// A file written under a temporary name beside its destination and renamed over it only when
// complete, so that a failed save never leaves a torn file nor takes away the one that was there.
#pragma once

#include <cstdio>
#include <string>

namespace quillon {

// Create, write through Stream(), Finish, then Publish. Whatever was not published is removed
// when the object goes (or on Discard); the destination itself is touched only by Publish.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&& other) noexcept;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Opens a fresh temporary file in the destination's folder. Fails (with lastError) when the
  // destination is a folder or another non-regular file, or an existing file we may not write:
  // a write-protected file stays protected rather than being swapped away by the rename.
  [[nodiscard]] bool Create(const std::string& destination);
  std::FILE* Stream() const { return stream_; }
  // Flushes, syncs and closes the temporary file; false when any of it fails.
  [[nodiscard]] bool Finish();
  // Renames the finished temporary file over the destination.
  [[nodiscard]] bool Publish();
  // Removes the temporary file if it is still there.
  void Discard();
  // True when the destination did not exist before Create: only then is it this save's own.
  bool IsNew() const { return isNew_; }
  // Where Publish puts the file: the destination, or the file a symbolic link there points to.
  const std::string& Target() const { return target_; }

  std::string lastError;

 private:
  std::string target_;
  std::string temporary_;
  std::FILE* stream_ = nullptr;
  bool isNew_ = false;
  bool finished_ = false;
};

}  // namespace quillon
