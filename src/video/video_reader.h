// The interface every video decoding back-end offers the frame store: time/sample conversion,
// decoding one frame by time or sample, and the readable-end search they all share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quillon {

class FrameImage;

// Which back-end a frame store holds. The numbers are the store's readerKind values.
enum class ReaderKind : int32_t {
  kNone = 0,
  kQuickTime = 1,
  kStream = 2,
  kAviFile = 3,
  kEmptyVideo = 9,  // no reader: sound-only movie shown as an empty picture
};

// Why a file without pictures fails to open as video (the caller may add why its sound
// failed too).
inline constexpr const char* kNoVideoStream = "the file holds no video stream";

// The back-ends a source may try, one bit each; one mask serves the video and audio sources.
using ReaderMask = uint32_t;
inline constexpr ReaderMask kReaderMaskQuickTime = 1u << 0;
inline constexpr ReaderMask kReaderMaskStream = 1u << 1;
inline constexpr ReaderMask kReaderMaskAviFile = 1u << 2;
inline constexpr ReaderMask kReaderMaskAll =
    kReaderMaskQuickTime | kReaderMaskStream | kReaderMaskAviFile;

// A decoder of one movie's video track. All times are whole milliseconds from the start of the
// track. Readers serialise their own decoding, so two threads may ask for frames at once.
// Failures are false results and null frames; the one text a reader keeps is why its last
// Open failed, in words a user can act on.
class VideoReader {
 public:
  struct Info {
    uint32_t frameCount = 0;
    uint32_t durationMs = 0;
    double fps = 0.0;
  };

  VideoReader() = default;
  virtual ~VideoReader();
  VideoReader(const VideoReader&) = delete;
  VideoReader& operator=(const VideoReader&) = delete;

  // May be negative (a time before the first sample).
  virtual int32_t TimeToSample(uint32_t ms) const = 0;
  virtual uint32_t SampleToTime(int32_t sample) const = 0;
  // Closes whatever was open first; on failure the reader is left closed.
  [[nodiscard]] virtual bool Open(const std::string& path) = 0;
  virtual void Close() = 0;
  // A new Y, Cb, Cr image owned by the caller, or null.
  virtual std::unique_ptr<FrameImage> FrameAtSample(int32_t sample) = 0;
  virtual std::unique_ptr<FrameImage> FrameAtTime(uint32_t ms) = 0;
  // True when a frame can be decoded at that time.
  virtual bool IsReadableAt(uint32_t ms) = 0;

  Info GetInfo() const { return Info{frameCount, durationMs, fps}; }
  // The known frame size, or else the size of sample 0 decoded once; false when nothing decodes.
  [[nodiscard]] bool GetFrameSize(uint32_t& outWidth, uint32_t& outHeight);
  // Searches backwards from durationMs for the last readable time, tolerating a track whose
  // last stretch cannot be decoded. Returns the new end (durationMs itself when the last
  // millisecond reads); 0 means nothing is readable.
  uint32_t FindReadableEnd(uint32_t duration);

  // Why the last Open failed (empty when it did not, or when the back-end cannot tell).
  const std::string& OpenFailure() const { return openFailure; }
  uint32_t FrameCount() const { return frameCount; }
  uint32_t DurationMs() const { return durationMs; }
  double Fps() const { return fps; }
  uint32_t MsPerSample() const { return msPerSample; }
  uint32_t Width() const { return width; }
  uint32_t Height() const { return height; }
  void SetWindowHandle(void* handle) { windowHandle = handle; }

 protected:
  uint32_t frameCount = 0;  // samples of the track that can be read
  uint32_t durationMs = 0;
  double fps = 0.0;
  uint32_t msPerSample = 0;  // whole milliseconds per sample
  uint32_t width = 0;        // 0 until known
  uint32_t height = 0;
  void* windowHandle = nullptr;  // opaque; kept for back-ends that draw through a window
  std::string openFailure;
};

}  // namespace quillon
