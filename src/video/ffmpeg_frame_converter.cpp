#include "video/ffmpeg_frame_converter.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "video/frame_image.h"

namespace quillon {

namespace {

// Copies a w x h picture of 3-byte pixels turned clockwise by quarter turns into `out` (rows
// of outStride).
void TurnPixels(const uint8_t* in, int w, int h, int inStride, int quarterTurns, uint8_t* out,
                int outStride) {
  const int outWidth = quarterTurns % 2 == 0 ? w : h;
  const int outHeight = quarterTurns % 2 == 0 ? h : w;
  for (int y = 0; y < outHeight; ++y) {
    uint8_t* row = out + static_cast<std::size_t>(y) * outStride;
    for (int x = 0; x < outWidth; ++x) {
      int sx = x;
      int sy = y;
      if (quarterTurns == 1) {
        sx = y;
        sy = h - 1 - x;
      } else if (quarterTurns == 2) {
        sx = w - 1 - x;
        sy = h - 1 - y;
      } else if (quarterTurns == 3) {
        sx = w - 1 - y;
        sy = x;
      }
      std::memcpy(row + 3 * x, in + static_cast<std::size_t>(sy) * inStride + 3 * sx, 3);
    }
  }
}

// The planes of an 8-bit planar Y'CbCr picture the converter takes directly (chroma at full or
// half width and height, no alpha); false for every other layout, which goes through the scaler.
bool DirectPlanes(const AVFrame& frame, YuvConverter::Planes& planes) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  if (desc == nullptr || desc->nb_components != 3 || desc->log2_chroma_w > 1 ||
      desc->log2_chroma_h > 1) {
    return false;
  }
  constexpr uint64_t kOther = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BE |
                              AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL |
                              AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_FLOAT;
  if ((desc->flags & kOther) != 0 || (desc->flags & AV_PIX_FMT_FLAG_PLANAR) == 0) return false;
  for (int i = 0; i < 3; ++i) {
    const AVComponentDescriptor& c = desc->comp[i];
    if (c.plane != i || c.step != 1 || c.offset != 0 || c.shift != 0 || c.depth != 8 ||
        frame.data[i] == nullptr || frame.linesize[i] <= 0) {
      return false;
    }
    planes.data[static_cast<std::size_t>(i)] = frame.data[i];
    planes.stride[static_cast<std::size_t>(i)] = frame.linesize[i];
  }
  planes.width = static_cast<uint32_t>(frame.width);
  planes.height = static_cast<uint32_t>(frame.height);
  planes.chromaShiftX = desc->log2_chroma_w;
  planes.chromaShiftY = desc->log2_chroma_h;
  return true;
}

// The formats whose name says full range whatever the frame states.
bool FullRangeFormat(int format) {
  return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
         format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
         format == AV_PIX_FMT_YUVJ411P;
}

}  // namespace

void FfmpegFrameConverter::ScalerFreer::operator()(SwsContext* p) const {
  sws_freeContext(p);
}

FfmpegFrameConverter::FfmpegFrameConverter() = default;
FfmpegFrameConverter::~FfmpegFrameConverter() = default;

std::unique_ptr<FrameImage> FfmpegFrameConverter::Convert(const AVFrame& picture, uint32_t width,
                                                          uint32_t height, int quarterTurns) {
  const AVFrame* frame = &picture;
  if (frame->width <= 0 || frame->height <= 0 || frame->data[0] == nullptr) return nullptr;
  // Every picture comes out at the size fixed at Open, whatever size the decoder reports for
  // this one: the scaler reads the frame within its real bounds. It scales to the stored
  // orientation; a turn for display comes after.
  const bool sideways = quarterTurns % 2 != 0;
  const int w = static_cast<int>(sideways ? height : width);
  const int h = static_cast<int>(sideways ? width : height);
  const auto format = static_cast<AVPixelFormat>(frame->format);
  // Matrix and range come with the frame, not the format.
  const int space = frame->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame->colorspace;
  const bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
  YuvConverter::Planes planes;
  if (frame->width == w && frame->height == h && DirectPlanes(*frame, planes)) {
    return ConvertDirect(planes, space, fullRange || FullRangeFormat(frame->format), width, height,
                         quarterTurns);
  }
  SwsContext* scaler = sws_getCachedContext(scaler_.release(), frame->width, frame->height, format,
                                            w, h, AV_PIX_FMT_RGB24, SWS_BILINEAR | SWS_ACCURATE_RND,
                                            nullptr, nullptr, nullptr);
  // A changed source shape means a rebuilt context (whose address may well be the old one's).
  const bool newScaler = frame->width != scalerWidth_ || frame->height != scalerHeight_ ||
                         frame->format != scalerFormat_;
  scaler_.reset(scaler);
  if (!scaler_) {
    scalerFormat_ = -1;
    return nullptr;
  }
  scalerWidth_ = frame->width;
  scalerHeight_ = frame->height;
  scalerFormat_ = frame->format;
  // Setting the matrix and range rebuilds the scaler's tables, so only when they change.
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  if ((newScaler || space != scalerSpace_ || fullRange != scalerFullRange_) && desc != nullptr &&
      (desc->flags & AV_PIX_FMT_FLAG_RGB) == 0 && (desc->flags & AV_PIX_FMT_FLAG_PAL) == 0) {
    int* invTable = nullptr;
    int* table = nullptr;
    int srcRange = 0;
    int dstRange = 0;
    int brightness = 0;
    int contrast = 0;
    int saturation = 0;
    if (sws_getColorspaceDetails(scaler_.get(), &invTable, &srcRange, &table, &dstRange,
                                 &brightness, &contrast, &saturation) >= 0) {
      if (fullRange) srcRange = 1;
      sws_setColorspaceDetails(scaler_.get(), sws_getCoefficients(space), srcRange, table, 1,
                               brightness, contrast, saturation);
    }
    scalerSpace_ = space;
    scalerFullRange_ = fullRange;
  }

  const int stride = (w * 3 + 3) & ~3;
  const std::size_t bytes = static_cast<std::size_t>(stride) * h;
  try {
    // Slack after the last row: some converters write whole vectors.
    if (rgb_.size() < bytes + 64) rgb_.resize(bytes + 64);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  uint8_t* dst[4] = {rgb_.data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {stride, 0, 0, 0};
  if (sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride) !=
      h) {
    return nullptr;
  }
  const uint8_t* rows = rgb_.data();
  int rowStride = stride;
  if (quarterTurns != 0) {
    rowStride = (static_cast<int>(width) * 3 + 3) & ~3;
    const std::size_t turnedBytes = static_cast<std::size_t>(rowStride) * height;
    try {
      if (turned_.size() < turnedBytes) turned_.resize(turnedBytes);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    TurnPixels(rgb_.data(), w, h, stride, quarterTurns, turned_.data(), rowStride);
    rows = turned_.data();
  }
  std::unique_ptr<FrameImage> image;
  try {
    image = std::make_unique<FrameImage>(ColourTag::kYCbCr);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (!image->LoadRows(width, static_cast<uint32_t>(rowStride), static_cast<int32_t>(height), rows,
                       false, static_cast<std::size_t>(rowStride) * height)) {
    return nullptr;
  }
  return image;
}

std::unique_ptr<FrameImage> FfmpegFrameConverter::ConvertDirect(const YuvConverter::Planes& planes,
                                                                int space, bool fullRange,
                                                                uint32_t width, uint32_t height,
                                                                int quarterTurns) {
  if (space != converterSpace_ || fullRange != converterFullRange_) {
    const int* c = sws_getCoefficients(space);
    converter_.SetMatrix({c[0], c[1], c[2], c[3]}, fullRange);
    converterSpace_ = space;
    converterFullRange_ = fullRange;
  }
  std::unique_ptr<FrameImage> image;
  try {
    image = std::make_unique<FrameImage>(ColourTag::kYCbCr);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (!image->Allocate(width, height)) return nullptr;
  const std::size_t rowBytes = std::size_t{width} * 3;
  if (quarterTurns == 0) {
    if (!converter_.Convert(planes, image->Pixels(), image->Stride())) return nullptr;
  } else {
    const std::size_t stride = std::size_t{planes.width} * 3;
    try {
      if (rgb_.size() < stride * planes.height) rgb_.resize(stride * planes.height);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    if (!converter_.Convert(planes, rgb_.data(), stride)) return nullptr;
    TurnPixels(rgb_.data(), static_cast<int>(planes.width), static_cast<int>(planes.height),
               static_cast<int>(stride), quarterTurns, image->Pixels(),
               static_cast<int>(image->Stride()));
  }
  // Row padding is part of the image's bytes: keep it the same for every run.
  if (image->Stride() > rowBytes) {
    for (uint32_t y = 0; y < height; ++y) {
      std::memset(image->Row(y) + rowBytes, 0, image->Stride() - rowBytes);
    }
  }
  return image;
}

}  // namespace quillon
