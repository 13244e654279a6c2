#include "video/frame_image.h"

#include "swf/byte_buffer.h"

namespace quillon {

bool FrameImage::EncodeJpeg(ByteBuffer*, ByteBuffer*, int32_t, int32_t, int32_t, int32_t,
                            int32_t) const {
  return false;
}
bool FrameImage::EncodeJpeg(ByteBuffer* tables, ByteBuffer* image, int32_t quality) const {
  return EncodeJpeg(tables, image, 0, 0, static_cast<int32_t>(width_),
                    static_cast<int32_t>(height_), quality);
}
bool FrameImage::EncodeZlib32(ByteBuffer&, int32_t, int32_t, int32_t, int32_t, int32_t) const {
  return false;
}
bool FrameImage::EncodeZlib8(ByteBuffer&, int32_t, int32_t, int32_t, int32_t, int32_t, float,
                             uint32_t&, uint32_t) const {
  return false;
}

}  // namespace quillon
