#include "audio/audio_reader.h"

#include <algorithm>

namespace quillon {

uint32_t AudioReader::TimeToFrame(uint32_t ms) const {
  const uint64_t frame = static_cast<uint64_t>(ms) * sampleRate / 1000;
  return static_cast<uint32_t>(std::min<uint64_t>(frame, UINT32_MAX));
}

uint32_t AudioReader::FrameToTime(uint32_t frame) const {
  if (sampleRate == 0) return 0;
  const uint64_t ms = static_cast<uint64_t>(frame) * 10000000 / sampleRate / 10000;
  return static_cast<uint32_t>(std::min<uint64_t>(ms, UINT32_MAX));
}

AudioInfo AudioReader::GetInfo() const {
  AudioInfo info;
  info.totalFrames = totalFrames;
  info.durationMs = durationMs;
  info.decodeKind = decodeKind;
  info.channels = channels;
  info.sampleRate = sampleRate;
  info.bitsPerSample = static_cast<uint8_t>(bytesPerSample * 8);
  info.microsecondsPerFrame = microsecondsPerFrame;
  return info;
}

bool AudioReader::Seek(uint32_t frame) {
  std::lock_guard<std::mutex> guard(lock_);
  SeekUnlocked(frame);
  return true;
}

void AudioReader::SeekUnlocked(uint32_t frame) {
  window.Truncate(0);
  windowStart = frame;
  windowFrames = 0;
  pos = frame;
  firstAfterSeek = true;
}

int32_t AudioReader::Read(uint32_t count, ByteBuffer& buffer) {
  std::lock_guard<std::mutex> guard(lock_);
  return ReadUnlocked(count, buffer);
}

int32_t AudioReader::ReadUnlocked(uint32_t count, ByteBuffer& buffer) {
  if (frameBytes == 0) return -1;
  count = std::min<uint32_t>(count, INT32_MAX / frameBytes);
  if (count == 0) return 0;
  if (static_cast<uint64_t>(windowStart) + windowFrames < static_cast<uint64_t>(pos) + count) {
    // Frames before pos are used up; keep only what is still ahead.
    if (pos > windowStart) {
      const uint32_t drop = std::min(pos - windowStart, windowFrames);
      window.RemoveRange(0, drop * frameBytes);
      windowStart += drop;
      windowFrames -= drop;
    }
    // At least a second per fetch, so that per-frame requests are served from memory.
    const uint64_t need = static_cast<uint64_t>(count - std::min(count, windowFrames)) * frameBytes;
    const uint64_t second = static_cast<uint64_t>(sampleRate) * frameBytes;
    window.SeekEnd();
    const int64_t got = Fetch(std::max(need, second), window);
    firstAfterSeek = false;
    if (got < 0) return -1;
    if (window.Failed()) {
      // Decoded bytes that could not be kept are lost; reading on would skip sound.
      window.ClearFailed();
      return -1;
    }
    windowFrames = window.Size() / frameBytes;
  }
  if (pos < windowStart) return 0;
  const uint32_t avail = windowStart + windowFrames > pos ? windowStart + windowFrames - pos : 0;
  const uint32_t n = std::min(count, avail);
  if (n == 0) return 0;
  if (buffer.Append(window.Data() + static_cast<size_t>(pos - windowStart) * frameBytes,
                    n * frameBytes) == 0) {
    return -1;
  }
  pos += n;
  return static_cast<int32_t>(n);
}

int32_t AudioReader::ReadFramesAt(uint32_t frame, uint32_t count, ByteBuffer& buffer) {
  std::lock_guard<std::mutex> guard(lock_);
  SeekUnlocked(frame);
  uint32_t total = 0;
  while (total < count) {
    const int32_t got = ReadUnlocked(count - total, buffer);
    if (got < 0) return -1;
    if (got == 0) break;
    total += static_cast<uint32_t>(got);
  }
  EndRead();
  return static_cast<int32_t>(total);
}

}  // namespace quillon
