#include "video/video_reader.h"

#include "video/frame_image.h"

namespace quillon {

VideoReader::~VideoReader() = default;

bool VideoReader::GetFrameSize(uint32_t& outWidth, uint32_t& outHeight) {
  if (width != 0 && height != 0) {
    outWidth = width;
    outHeight = height;
    return true;
  }
  const std::unique_ptr<FrameImage> image = FrameAtSample(0);
  if (!image) return false;
  outWidth = image->Width();
  outHeight = image->Height();
  return true;
}

uint32_t VideoReader::FindReadableEnd(uint32_t duration) {
  // Signed and wide: the coarse steps may run below 0 and D - 1 may be -1.
  const int64_t d = duration;
  int64_t t = d - 1;
  // Coarse steps back until something reads.
  while (t > 0 && !IsReadableAt(static_cast<uint32_t>(t))) t -= 500;
  if (t == d - 1) return duration;
  // Forward again in frame-sized steps to the first time that does not read...
  t = t <= 0 ? 1 : t + 1;
  while (t < d && IsReadableAt(static_cast<uint32_t>(t))) t += 40;
  // ...then back to the last millisecond that does.
  t -= 1;
  while (t > 0 && !IsReadableAt(static_cast<uint32_t>(t))) t -= 1;
  // Settle on the start of a sample that reads. When none does, nothing is readable: the
  // track must not open with a 1 ms duration that no frame can fill.
  for (int32_t n = TimeToSample(static_cast<uint32_t>(t < 0 ? 0 : t)); n >= 0; --n) {
    t = SampleToTime(n);
    if (IsReadableAt(static_cast<uint32_t>(t))) return static_cast<uint32_t>(t + 1);
  }
  return 0;
}

}  // namespace quillon
