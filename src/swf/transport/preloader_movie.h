// Reads a user's preloader/overlay SWF movie and prepares its tags for merging into every part:
// display depths raised above the video, its background colour dropped, its frames counted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "swf/byte_buffer.h"
#include "swf/swf_records.h"

namespace quillon {

// Overlay objects are placed this far above the video shapes (which count up from depth 1).
constexpr uint16_t kPreloaderDepthOffset = 64000;

inline const char* const kPreloaderReadError =
    "Could not read the Preloader/Overlay file. Make sure it's a regular Flash(.swf) file";

enum class PreloaderStatus {
  kNone,  // nothing read yet
  kOk,
  kReadFailure,  // missing, unreadable, not SWF, or malformed (kPreloaderReadError)
  kOutOfMemory,  // the tag copy could not grow
};

// The file is untrusted: every length, bit field and tag body is checked against the bytes
// actually present, and a malformed file is a read failure, never a read past the buffer.
// Files compressed with zlib ("CWS") are inflated first and then read like uncompressed ones.
class PreloaderMovie {
 public:
  // Sizes of the tag copy, as for a part's output.
  static constexpr uint32_t kTagBufferInitial = 16384;
  static constexpr uint32_t kTagBufferIncrement = 16384;
  static constexpr float kTagBufferFactor = 1.5f;
  // Refuses compressed files that claim to inflate beyond this (a preloader is small).
  static constexpr uint32_t kMaxInflatedSize = 256u << 20;

  PreloaderMovie();
  PreloaderMovie(const PreloaderMovie&) = delete;
  PreloaderMovie& operator=(const PreloaderMovie&) = delete;

  // Where the Loader setting points: an absolute setting with "\" turned into "/", else the
  // base folder (ending in a separator) followed by the setting, separators normalised.
  static std::string ResolvePath(std::string_view baseFolder, std::string_view loaderSetting);

  // Loads the whole file and reads it as below. False with Status() and lastError set.
  [[nodiscard]] bool ReadFile(const std::string& path);
  // Reads a movie held in memory. On failure the tag copy is empty and the figures are those
  // of "no preloader" (version 5, frame count 0, empty stage).
  [[nodiscard]] bool ReadBytes(const uint8_t* data, std::size_t size);

  PreloaderStatus Status() const { return status_; }
  // Version byte of the file (5 until a file was read).
  uint8_t Version() const { return version_; }
  // The movie's frame rectangle in twips; the video is fitted into it.
  const SwfRect& FrameRect() const { return frameRect_; }
  // ShowFrame tags copied: the part's frames start counting from here.
  uint32_t FrameCount() const { return frameCount_; }
  // The tags to append to a part, headers normalised, End not included.
  const ByteBuffer& Tags() const { return tags_; }
  uint32_t TagBytes() const { return tags_.Size(); }

  std::string lastError;

 private:
  void Reset();
  void Fail(PreloaderStatus status);
  // movie: the uncompressed file after its 8 signature bytes (frame RECT onwards).
  [[nodiscard]] bool ReadMovie(uint8_t version, const uint8_t* movie, std::size_t size);

  ByteBuffer tags_;
  PreloaderStatus status_ = PreloaderStatus::kNone;
  uint8_t version_ = 5;
  SwfRect frameRect_;
  uint32_t frameCount_ = 0;
};

}  // namespace quillon
