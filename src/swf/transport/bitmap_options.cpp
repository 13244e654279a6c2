#include "swf/transport/bitmap_options.h"

#include "settings/encoder_settings.h"

namespace quillon {

BitmapOptions MakeBitmapOptions(const TransportOptions& transport) {
  BitmapOptions o;
  o.flags = transport.flags;
  o.jpegQuality = transport.jpegQuality;
  o.zlibQuality = transport.zlibQuality;
  o.zlib8Palette = transport.zlib8Palette;
  o.zlib8UniqueLimit = transport.zlib8UniqueLimit;
  o.resizeMethod = transport.resizeMethod;
  o.transientResizeMethod = transport.transientResizeMethod;
  o.paletteThreshold = static_cast<float>(PaletteDiffThreshold(transport.zlib8PaletteDiffLimit));
  o.resizeThreshold =
      static_cast<float>(QualityThreshold(transport.resizeLimit, transport.signature[0]));
  o.transientResizeThreshold =
      static_cast<float>(QualityThreshold(transport.transientResizeLimit, transport.signature[1]));
  return o;
}

}  // namespace quillon
