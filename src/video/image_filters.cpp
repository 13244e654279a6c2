#include "video/frame_image.h"

namespace quillon {

bool FrameImage::Resize(uint32_t, uint32_t, int32_t) { return false; }
void FrameImage::UniformSpanHorizontal(float, uint32_t) {}
void FrameImage::UniformSpanVertical(float, uint32_t) {}
void FrameImage::UniformBlockHorizontal(float, uint32_t) {}
void FrameImage::UniformBlockVertical(float, uint32_t) {}
void FrameImage::Darken(float) {}
void FrameImage::DarkLimit(float) {}
void FrameImage::Quantise(uint32_t, uint32_t) {}
void FrameImage::SmoothForward(float) {}
void FrameImage::SmoothBackward(float) {}

}  // namespace quillon
