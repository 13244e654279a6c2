// Halving of one rectangle and the choice among the three bitmap encoders.
#include <algorithm>
#include <cstring>

#include "settings/encoder_settings.h"
#include "swf/transport/bitmap_definitions.h"

namespace quillon {

namespace {

// Halving stops at 8 pixels: smaller bitmaps gain nothing.
constexpr int32_t kSmallestHalvedSide = 8;

bool OneBitSet(uint32_t v) {
  return v != 0 && (v & (v - 1)) == 0;
}

}  // namespace

std::unique_ptr<FrameImage> BitmapDefinitions::HalveBlock(const FrameImage& image, int32_t x,
                                                          int32_t y, int32_t w, int32_t h,
                                                          const HalvingRule& rule,
                                                          const std::atomic<bool>* cancel) {
  if (!image.ClipRect(x, y, w, h)) return nullptr;
  if (w <= kSmallestHalvedSide && h <= kSmallestHalvedSide) return nullptr;
  // Only the low byte is looked at, so 256 does not qualify while 16 ... 128 do.
  const bool horizontal = rule.horizontal && (!rule.powerOfTwo || OneBitSet(w & 0xFF));
  const bool vertical = rule.vertical && (!rule.powerOfTwo || OneBitSet(h & 0xFF));
  if (!horizontal && !vertical) return nullptr;

  auto shrunk = std::make_unique<FrameImage>(image.Tag());
  if (!shrunk->Allocate(static_cast<uint32_t>(w), static_cast<uint32_t>(h)) ||
      !shrunk->CopyRect(0, 0, w, h, image, x, y)) {
    return nullptr;
  }
  for (bool progress = true; progress;) {
    // Each halving of a huge rectangle takes a while; a cancelled run wants none of them.
    if (CancelRequested(cancel)) return nullptr;
    progress = false;
    if (horizontal && shrunk->Width() > kSmallestHalvedSide &&
        shrunk->HalveWidth(*shrunk, rule.threshold, rule.method)) {
      progress = true;
    }
    if (vertical && shrunk->Height() > kSmallestHalvedSide &&
        shrunk->HalveHeight(*shrunk, rule.threshold, rule.method)) {
      progress = true;
    }
  }
  if (shrunk->Width() == static_cast<uint32_t>(w) && shrunk->Height() == static_cast<uint32_t>(h)) {
    return nullptr;
  }
  return shrunk;
}

uint32_t BitmapDefinitions::ChooseEncoder(uint32_t switches, const EncoderSizes& sizes) {
  const bool jpegOn = (switches & TransportOptions::kJpeg) != 0;
  const bool losslessOn = (switches & (TransportOptions::kZlib32 | TransportOptions::kZlib8)) != 0;
  if (jpegOn && losslessOn) {
    // An equal lossless size goes to ZLIB32 here.
    uint64_t m = sizes.zlib32 ? sizes.zlib32Bytes : UINT64_MAX;
    if (sizes.zlib8) m = std::min<uint64_t>(m, sizes.zlib8Bytes);
    if (sizes.jpeg && sizes.jpegBytes < m) return kBitmapJpeg;
    if (sizes.zlib32 && m == sizes.zlib32Bytes) return kBitmapZlib32;
    if (sizes.zlib8) return kBitmapZlib8;
    return sizes.jpeg ? kBitmapJpeg : 0;
  }
  if (jpegOn) return sizes.jpeg ? kBitmapJpeg : 0;
  // Lossless only: an equal size goes to ZLIB8.
  if (sizes.zlib8 && (!sizes.zlib32 || sizes.zlib32Bytes >= sizes.zlib8Bytes)) return kBitmapZlib8;
  return sizes.zlib32 ? kBitmapZlib32 : 0;
}

bool BitmapDefinitions::EncodeSource(const FrameImage& source, int32_t x, int32_t y, int32_t w,
                                     int32_t h, Workspace& work,
                                     std::unique_ptr<ByteBuffer>& payload,
                                     uint32_t& encoding) const {
  const uint32_t switches = options_.flags;
  EncoderSizes sizes;
  uint32_t paletteSize = 0;
  if ((switches & TransportOptions::kJpeg) != 0) {
    if (!source.EncodeJpeg(nullptr, work.jpeg.get(), x, y, w, h, options_.jpegQuality, cancel_)) {
      work.error = "JPEG encoding failed";
      return false;
    }
    sizes.jpeg = true;
    sizes.jpegBytes = work.jpeg->Size();
  }
  if ((switches & TransportOptions::kZlib8) != 0) {
    paletteSize = std::min<uint32_t>(options_.zlib8Palette, 256);
    // Too many colours, or a pixel too far from the palette: the other encoders decide.
    if (source.EncodeZlib8(*work.zlib8, x, y, w, h, options_.zlibQuality, options_.paletteThreshold,
                           paletteSize, options_.zlib8UniqueLimit, cancel_) &&
        paletteSize > 0) {
      sizes.zlib8 = true;
      sizes.zlib8Bytes = work.zlib8->Size();
    }
  }
  // With every switch off, or only an 8-bit palette that could not hold the block, the
  // bitmap still has to be defined: 32-bit zlib always represents it exactly.
  const bool zlib32Needed =
      (switches & TransportOptions::kZlib32) != 0 || ChooseEncoder(switches, sizes) == 0;
  if (zlib32Needed) {
    // A ZLIB32 stream longer than this would lose to what is already at hand, so it is not
    // finished: the choice among the others comes out the same as if it had been.
    uint64_t loser = UINT64_MAX;
    if ((switches & TransportOptions::kZlib32) != 0) {
      if ((switches & TransportOptions::kJpeg) != 0) {
        if (sizes.jpeg) loser = sizes.jpegBytes;
        if (sizes.jpeg && sizes.zlib8) loser = std::min<uint64_t>(loser, sizes.zlib8Bytes);
      } else if (sizes.zlib8 && sizes.zlib8Bytes > 0) {
        loser = sizes.zlib8Bytes - 1u;
      }
    }
    // Against a JPEG, a fast look at the pixels settles most trials: camera pictures never come
    // near, and only the lossless-only presets weigh ZLIB32 against an encoding as exact.
    const bool estimate = (switches & TransportOptions::kJpeg) != 0 && sizes.jpeg;
    bool overLimit = false;
    // No loser (the limit UINT32_MAX) means no limit and no estimate.
    const auto limit = static_cast<uint32_t>(std::min<uint64_t>(loser, UINT32_MAX));
    const bool encoded = source.EncodeZlib32(*work.zlib32, x, y, w, h, options_.zlibQuality, limit,
                                             overLimit, estimate, cancel_);
    if (!encoded) {
      work.error = "ZLIB32 encoding failed";
      return false;
    }
    if (!overLimit) {
      sizes.zlib32 = true;
      sizes.zlib32Bytes = work.zlib32->Size();
    }
  }
  uint32_t choice = ChooseEncoder(switches, sizes);
  if (choice == 0) choice = kBitmapZlib32;

  // The chosen bytes become the payload by exchanging buffers, not by copying them; the old
  // payload buffer serves as scratch space from now on.
  switch (choice) {
    case kBitmapJpeg:
      std::swap(payload, work.jpeg);
      encoding = kBitmapJpeg;
      break;
    case kBitmapZlib8:
      std::swap(payload, work.zlib8);
      encoding = kBitmapZlib8 + 256 * paletteSize;
      break;
    default:
      std::swap(payload, work.zlib32);
      encoding = kBitmapZlib32;
      break;
  }
  return true;
}

}  // namespace quillon
