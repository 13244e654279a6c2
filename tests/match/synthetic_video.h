// Synthetic movies for the matching tests and benchmarks: a reader that paints each frame with
// a caller's function, behind a real FrameStore so that the frame cache rules apply.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "settings/encoder_settings.h"
#include "video/frame_image.h"
#include "video/frame_store.h"
#include "video/video_reader.h"

namespace quillon::synth {

// Paints output frame `frame` into an allocated Y, Cb, Cr image; false makes the frame fail to
// decode.
using FramePainter = std::function<bool(uint32_t frame, FrameImage& image)>;

struct SyntheticMovie {
  uint32_t width = 64;
  uint32_t height = 48;
  uint32_t frameCount = 10;
  FramePainter painter;
};

// Ten frames a second, so output frame i is source sample i at i x 100 ms.
class SyntheticReader : public VideoReader {
 public:
  SyntheticReader(SyntheticMovie movie, uint32_t* decodes)
      : movie_(std::move(movie)), decodes_(decodes) {}

  int32_t TimeToSample(uint32_t ms) const override { return static_cast<int32_t>(ms / 100); }
  uint32_t SampleToTime(int32_t sample) const override {
    return sample < 0 ? 0 : static_cast<uint32_t>(sample) * 100;
  }
  bool Open(const std::string&) override {
    frameCount = movie_.frameCount;
    durationMs = movie_.frameCount * 100;
    fps = 10.0;
    msPerSample = 100;
    width = movie_.width;
    height = movie_.height;
    return true;
  }
  void Close() override {}
  std::unique_ptr<FrameImage> FrameAtSample(int32_t sample) override {
    if (decodes_) ++*decodes_;
    auto image = std::make_unique<FrameImage>(ColourTag::kYCbCr);
    if (sample < 0 || !image->Allocate(movie_.width, movie_.height, Colour{0, 128, 128})) {
      return nullptr;
    }
    if (movie_.painter && !movie_.painter(static_cast<uint32_t>(sample), *image)) return nullptr;
    return image;
  }
  std::unique_ptr<FrameImage> FrameAtTime(uint32_t ms) override {
    return FrameAtSample(TimeToSample(ms));
  }
  bool IsReadableAt(uint32_t ms) override { return ms < durationMs; }

 private:
  SyntheticMovie movie_;
  uint32_t* decodes_;
};

// A configured FrameStore over the whole synthetic movie, with filter-free default options.
// decodes (optional) counts the frames decoded.
inline std::unique_ptr<FrameStore> MakeSyntheticStore(const SyntheticMovie& movie,
                                                      uint32_t cacheSize,
                                                      uint32_t* decodes = nullptr) {
  auto store = std::make_unique<FrameStore>([movie, decodes](ReaderKind kind) {
    return kind == ReaderKind::kStream ? std::make_unique<SyntheticReader>(movie, decodes)
                                       : std::unique_ptr<SyntheticReader>();
  });
  FrameOptions options;
  options.cacheSize = cacheSize;
  if (!store->Open("synthetic") || !store->Configure(options) ||
      !store->SelectRange(0, 0xFFFFFFFFu)) {
    return nullptr;
  }
  return store;
}

// Deterministic pixel noise: a different value for every (seed, x, y, channel).
inline uint8_t NoiseByte(uint32_t seed, uint32_t x, uint32_t y, uint32_t c) {
  uint32_t v = seed * 0x9E3779B1u ^ (x * 0x85EBCA77u) ^ (y * 0xC2B2AE3Du) ^ (c * 0x27D4EB2Fu);
  v ^= v >> 15;
  v *= 0x2C1B3C6Du;
  v ^= v >> 12;
  return static_cast<uint8_t>(v);
}

// Fills (x, y, w, h) with noise of `seed`, its pattern anchored at the rectangle's own corner
// when `local` (so the same seed gives the same block anywhere), else at the image's.
inline void PaintNoise(FrameImage& image, uint32_t seed, uint32_t x, uint32_t y, uint32_t w,
                       uint32_t h, bool local = false) {
  for (uint32_t py = y; py < y + h && py < image.Height(); ++py) {
    uint8_t* row = image.Row(py);
    for (uint32_t px = x; px < x + w && px < image.Width(); ++px) {
      for (uint32_t c = 0; c < 3; ++c) {
        row[px * 3 + c] = local ? NoiseByte(seed, px - x, py - y, c) : NoiseByte(seed, px, py, c);
      }
    }
  }
}

}  // namespace quillon::synth
