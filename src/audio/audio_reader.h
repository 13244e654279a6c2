// The reader interface behind AudioStore: one sound track of a file, delivered as PCM frames at
// the track's own rate and channel count.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "swf/byte_buffer.h"

namespace quillon {

// How the track is stored: plain PCM, or coded and decoded on the way in.
enum class AudioDecodeKind : uint8_t { kPcm = 0, kCodec = 2 };

// The figures a reader reports about its open track.
struct AudioInfo {
  uint32_t totalFrames = 0;  // sample frames of the whole track
  uint32_t durationMs = 0;
  AudioDecodeKind decodeKind = AudioDecodeKind::kPcm;
  uint8_t channels = 0;       // 1 or 2
  uint32_t sampleRate = 0;    // Hz
  uint8_t bitsPerSample = 0;  // 8 (unsigned) or 16 (signed little-endian)
  double microsecondsPerFrame = 0.0;
};

// Subclasses decode; this base keeps the read window, so that the many small per-frame
// requests of an encoding run are served from memory and the file is touched in large pieces.
// Frames are `frameBytes` long: 8-bit unsigned or 16-bit signed little-endian samples,
// interleaved left then right.
class AudioReader {
 public:
  AudioReader() = default;
  virtual ~AudioReader() = default;
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;

  // Time and frame numbers of the track, computed in 64 bits.
  virtual uint32_t TimeToFrame(uint32_t ms) const;
  virtual uint32_t FrameToTime(uint32_t frame) const;
  virtual bool IsValidTime(uint32_t ms) const { return ms < durationMs; }

  // True when a sound track was found and can be read; fills the figures.
  [[nodiscard]] virtual bool Open(const std::string& path) = 0;
  virtual void Close() = 0;

  // Random access for callers other than the encoding run: count frames from frame appended
  // to buffer, under the reader's lock. Returns frames read or -1.
  virtual int32_t ReadFramesAt(uint32_t frame, uint32_t count, ByteBuffer& buffer);
  // Drops the window and restarts reading at frame.
  [[nodiscard]] virtual bool Seek(uint32_t frame);
  // Appends up to count frames at the read position to buffer. Returns frames appended,
  // 0 at the end of the track, negative on failure.
  virtual int32_t Read(uint32_t count, ByteBuffer& buffer);
  // Ends a sequential read; the next Read after a Seek starts afresh.
  virtual void EndRead() {}

  AudioInfo GetInfo() const;

  uint32_t totalFrames = 0;
  uint32_t durationMs = 0;
  AudioDecodeKind decodeKind = AudioDecodeKind::kPcm;
  uint8_t channels = 0;
  uint8_t bytesPerSample = 2;
  uint32_t frameBytes = 0;
  uint32_t sampleRate = 0;
  double microsecondsPerFrame = 0.0;

 protected:
  // Appends at least `bytes` decoded bytes to `out` (more is fine: the surplus stays in the
  // window), fewer only at the end of the track. Returns the bytes appended or -1 on failure.
  // `firstAfterSeek` is true for the first fetch after a Seek (the decoder must reposition).
  virtual int64_t Fetch(uint64_t bytes, ByteBuffer& out) = 0;

  bool firstAfterSeek = true;
  // Frames [windowStart, windowStart + windowFrames) of the track, decoded and not yet used.
  ByteBuffer window{65536, 65536, 1.0f};
  uint32_t windowStart = 0;
  uint32_t windowFrames = 0;
  uint32_t pos = 0;

 private:
  int32_t ReadUnlocked(uint32_t count, ByteBuffer& buffer);
  void SeekUnlocked(uint32_t frame);

  std::mutex lock_;
};

}  // namespace quillon
