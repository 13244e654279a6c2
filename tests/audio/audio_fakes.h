// Test doubles for the audio stage: a reader over PCM held in memory and a scriptable MP3
// encoder library that records every call and emits synthetic Layer III frames.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "audio/audio_reader.h"
#include "audio/mp3_encoder_library.h"

namespace quillon::testing {

// Serves `bytes` (frames of channels x bytesPerSample) through the reader window.
class FakeAudioReader : public AudioReader {
 public:
  FakeAudioReader(std::vector<uint8_t> bytes, uint8_t ch, uint8_t bytesPer, uint32_t rate)
      : data_(std::move(bytes)) {
    channels = ch;
    bytesPerSample = bytesPer;
    frameBytes = ch * bytesPer;
    sampleRate = rate;
    totalFrames = static_cast<uint32_t>(data_.size() / frameBytes);
    durationMs = static_cast<uint32_t>(uint64_t(totalFrames) * 1000 / rate);
    microsecondsPerFrame = 1000000.0 / rate;
  }

  static FakeAudioReader* From16(const std::vector<int16_t>& samples, uint8_t ch, uint32_t rate) {
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return new FakeAudioReader(std::move(bytes), ch, 2, rate);
  }

  bool Open(const std::string&) override { return true; }
  void Close() override {}

  uint32_t lastSeekFrame = 0;
  uint32_t fetchCount = 0;
  bool failReads = false;
  uint32_t failFromFetch = UINT32_MAX;  // this fetch (counted from 1) and every later one fail

 protected:
  int64_t Fetch(uint64_t bytes, ByteBuffer& out) override {
    ++fetchCount;
    if (failReads || fetchCount >= failFromFetch) return -1;
    if (firstAfterSeek) {
      lastSeekFrame = windowStart;
      next_ = static_cast<uint64_t>(windowStart) * frameBytes;
    }
    const uint64_t n = std::min<uint64_t>(bytes, next_ < data_.size() ? data_.size() - next_ : 0);
    if (n > 0) out.Append(data_.data() + next_, static_cast<uint32_t>(n));
    next_ += n;
    return static_cast<int64_t>(n);
  }

 private:
  std::vector<uint8_t> data_;
  uint64_t next_ = 0;
};

// Writes one 4-byte Layer III header plus zero payload of the header's frame length.
inline void AppendMp3Frame(std::vector<uint8_t>& out, uint8_t b1, uint8_t b2, uint8_t b3,
                           uint32_t frameBytes) {
  const size_t at = out.size();
  out.resize(at + frameBytes, 0);
  out[at] = 0xFF;
  out[at + 1] = b1;
  out[at + 2] = b2;
  out[at + 3] = b3;
}

// MPEG-2 Layer III, 22050 Hz, 32 kbit/s, no padding, joint stereo: 72 x 32000 / 22050 = 104.
constexpr uint8_t kMpeg2B1 = 0xF3;
constexpr uint8_t kMpeg2B2_32k = 0x40;
constexpr uint32_t kMpeg2Frame32k = 104;

struct FakeMp3Library : public Mp3EncoderLibrary {
  // Scripted behaviour.
  Mp3LoadResult loadResult = Mp3LoadResult::kLoaded;
  uint8_t major = 3;
  uint8_t minor = 100;
  uint32_t initResult = 0;
  uint32_t maxSamples = 2304;
  uint32_t outBufferSize = 8192;
  int failChunkAt = -1;  // index of the EncodeChunk call that fails
  uint32_t deinitResult = 0;
  // Input frames per emitted MP3 frame (0: emit nothing) and the frame's header bytes.
  uint32_t framesPerMp3Frame = 576;
  uint8_t b1 = kMpeg2B1, b2 = kMpeg2B2_32k, b3 = 0x40;
  uint32_t frameBytes = kMpeg2Frame32k;
  std::vector<uint8_t> prefix;  // emitted before the first frame (an ID3v2 tag, say)
  uint32_t flushFrames = 2;
  // Numbers every frame emitted in its payload, so that a frame lost, doubled or out of place
  // shows in the bytes.
  bool stampFrames = false;
  // Called with the index of every EncodeChunk call, on the thread that makes it.
  std::function<void(size_t)> onChunk;

  // Recorded calls.
  int loads = 0, deinits = 0, closes = 0;
  bool loaded = false;
  Mp3Config config;
  std::vector<uint32_t> chunkCounts;
  std::vector<int16_t> firstChunk;
  uint32_t pendingFrames = 0;
  uint32_t stamp = 0;
  bool mono = false;

  Mp3LoadResult Load() override {
    ++loads;
    loaded = loadResult == Mp3LoadResult::kLoaded;
    return loadResult;
  }
  void Unload() override { loaded = false; }
  bool IsLoaded() const override { return loaded; }
  void Version(Mp3Version& v) override {
    v.majorVersion = major;
    v.minorVersion = minor;
  }
  uint32_t InitStream(const Mp3Config& c, uint32_t& max, uint32_t& outSize,
                      uint32_t& stream) override {
    config = c;
    mono = c.nMode == kMp3ModeMono;
    max = maxSamples;
    outSize = outBufferSize;
    stream = 7;
    return initResult;
  }
  uint32_t EncodeChunk(uint32_t, uint32_t count, const int16_t* samples, uint8_t* output,
                       uint32_t& written) override {
    written = 0;
    if (onChunk) onChunk(chunkCounts.size());
    if (failChunkAt >= 0 && static_cast<int>(chunkCounts.size()) == failChunkAt) {
      chunkCounts.push_back(count);
      return 1;
    }
    if (chunkCounts.empty()) firstChunk.assign(samples, samples + (mono ? 2 * count : count));
    chunkCounts.push_back(count);
    pendingFrames += mono ? count : count / 2;
    std::vector<uint8_t> bytes;
    if (!prefix.empty()) {
      bytes = prefix;
      prefix.clear();
    }
    while (framesPerMp3Frame > 0 && pendingFrames >= framesPerMp3Frame) {
      pendingFrames -= framesPerMp3Frame;
      AppendFrame(bytes);
    }
    bytes.resize(std::min<size_t>(bytes.size(), outBufferSize));
    if (!bytes.empty()) std::memcpy(output, bytes.data(), bytes.size());
    written = static_cast<uint32_t>(bytes.size());
    return 0;
  }
  uint32_t DeinitStream(uint32_t, uint8_t* output, uint32_t& written) override {
    ++deinits;
    std::vector<uint8_t> bytes;
    for (uint32_t i = 0; i < flushFrames; ++i) AppendFrame(bytes);
    bytes.resize(std::min<size_t>(bytes.size(), outBufferSize));
    if (!bytes.empty()) std::memcpy(output, bytes.data(), bytes.size());
    written = static_cast<uint32_t>(bytes.size());
    return deinitResult;
  }
  uint32_t CloseStream(uint32_t) override {
    ++closes;
    return 0;
  }
  uint32_t WriteVBRHeader(const char*) override { return 0; }

  void AppendFrame(std::vector<uint8_t>& bytes) {
    const size_t at = bytes.size();
    AppendMp3Frame(bytes, b1, b2, b3, frameBytes);
    ++stamp;
    if (stampFrames && frameBytes >= 8) std::memcpy(bytes.data() + at + 4, &stamp, 4);
  }
};

// A library the store owns, observed through a pointer the test keeps.
inline std::unique_ptr<Mp3EncoderLibrary> Observed(FakeMp3Library*& observer) {
  auto lib = std::make_unique<FakeMp3Library>();
  observer = lib.get();
  return lib;
}

}  // namespace quillon::testing
