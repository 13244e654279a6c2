#include "video/frame_image.h"

namespace quillon {

float FrameImage::RegionDistanceToColour(const Colour&, float) const { return kNoMatch; }
float FrameImage::RegionDifference(const FrameImage&, int32_t, int32_t) const { return kNoMatch; }
float FrameImage::RegionDifferenceMirrored(const FrameImage&, int32_t, int32_t,
                                           uint32_t& flags) const {
  flags = 0;
  return kNoMatch;
}

}  // namespace quillon
