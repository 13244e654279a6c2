// The stream reader slot on this platform: any container and codec FFmpeg reads, decoded
// sequentially and converted to Y, Cb, Cr frames.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "video/video_reader.h"

namespace quillon {

// Frames are decoded forward from wherever the decoder stands; it seeks (to the keyframe at or
// before the wanted time) only for a backward step or a far jump ahead. Every decode happens
// under one lock, so the encoding and preview threads may both ask for frames.
class FfmpegVideoReader final : public VideoReader {
 public:
  // Decoding activity since Open, for tests and measurements.
  struct Stats {
    uint64_t framesDecoded = 0;  // pictures the decoder produced
    uint64_t seeks = 0;          // repositionings of the demuxer (the one at Open excluded)
  };

  FfmpegVideoReader();
  ~FfmpegVideoReader() override;

  int32_t TimeToSample(uint32_t ms) const override;
  uint32_t SampleToTime(int32_t sample) const override;
  [[nodiscard]] bool Open(const std::string& path) override;
  void Close() override;
  std::unique_ptr<FrameImage> FrameAtSample(int32_t sample) override;
  std::unique_ptr<FrameImage> FrameAtTime(uint32_t ms) override;
  bool IsReadableAt(uint32_t ms) override;

  Stats GetStats() const;

 private:
  struct Decoder;

  // Leaves the decoder holding the picture shown at ms; false when none decodes there.
  bool PositionAt(uint32_t ms);
  std::unique_ptr<FrameImage> ConvertCurrent();
  void CloseLocked();

  mutable std::mutex mutex_;
  std::unique_ptr<Decoder> decoder_;
  Stats stats_;
};

}  // namespace quillon
