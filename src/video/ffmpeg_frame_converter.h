// Turns the pictures an FFmpeg decoder delivers into the engine's Y, Cb, Cr frame images, at a
// fixed size and turned for display.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "video/yuv_converter.h"

struct AVFrame;
struct SwsContext;

namespace quillon {

class FrameImage;

// 8-bit planar Y'CbCr pictures at the wanted size go through the engine's own converter; every
// other layout or size through FFmpeg's scaler. Both keep their tables from one picture to the
// next, rebuilt only when the source's shape, matrix or range changes.
class FfmpegFrameConverter {
 public:
  FfmpegFrameConverter();
  ~FfmpegFrameConverter();
  FfmpegFrameConverter(const FfmpegFrameConverter&) = delete;
  FfmpegFrameConverter& operator=(const FfmpegFrameConverter&) = delete;

  // The picture at width x height (as shown, after the turn), turned clockwise by quarterTurns
  // (0 to 3); nullptr when it cannot be converted or memory runs out.
  std::unique_ptr<FrameImage> Convert(const AVFrame& picture, uint32_t width, uint32_t height,
                                      int quarterTurns);

 private:
  struct ScalerFreer {
    void operator()(SwsContext* p) const;
  };
  // Through the converter for 8-bit Y'CbCr: space is the matrix's number, fullRange whether
  // luma spans 0-255.
  std::unique_ptr<FrameImage> ConvertDirect(const YuvConverter::Planes& planes, int space,
                                            bool fullRange, uint32_t width, uint32_t height,
                                            int quarterTurns);

  std::unique_ptr<SwsContext, ScalerFreer> scaler_;
  YuvConverter converter_;   // for 8-bit Y'CbCr pictures at the wanted size
  int converterSpace_ = -1;  // the matrix and range its tables were made for
  bool converterFullRange_ = false;
  int scalerWidth_ = 0;  // the source shape the scaler was made for
  int scalerHeight_ = 0;
  int scalerFormat_ = -1;
  int scalerSpace_ = -1;
  bool scalerFullRange_ = false;
  std::vector<uint8_t> rgb_;     // converted rows of the picture, FrameImage stride
  std::vector<uint8_t> turned_;  // the same rows turned for display, when the stream asks
};

}  // namespace quillon
