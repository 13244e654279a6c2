#include "swf/transport/bitmap_definitions.h"

namespace quillon {

BitmapDefinitions::BitmapDefinitions() = default;
BitmapDefinitions::~BitmapDefinitions() = default;

bool BitmapDefinitions::Initialise(const TransportOptions& options, FrameStore* frames,
                                   FrameUseStore* uses, ScreenUseStore* screen, uint32_t width,
                                   uint32_t height, uint32_t, uint32_t) {
  options_ = MakeBitmapOptions(options);
  frames_ = frames;
  uses_ = uses;
  screen_ = screen;
  width_ = width;
  height_ = height;
  return true;
}

void BitmapDefinitions::ClearFrameBitmaps(uint32_t) {
  bitmaps_.clear();
  encodedPixels_ = 0;
}

bool BitmapDefinitions::EncodeFrameBitmaps(uint32_t, uint32_t, uint32_t& usedBytes) {
  usedBytes = 0;
  return true;
}

bool BitmapDefinitions::DefineFrameBitmaps(uint32_t, SwfWriter&) { return true; }

void BitmapDefinitions::ReleaseFrameBitmaps(uint32_t) { bitmaps_.clear(); }

std::unique_ptr<FrameImage> BitmapDefinitions::HalveBlock(const FrameImage&, int32_t, int32_t,
                                                          int32_t, int32_t,
                                                          const HalvingRule&) {
  return nullptr;
}

uint32_t BitmapDefinitions::ChooseEncoder(uint32_t, const EncoderSizes&) { return 0; }

bool BitmapDefinitions::EncodeBitmap(const FrameImage&, int32_t, int32_t, int32_t, int32_t,
                                     bool, FrameBitmap&) {
  return false;
}

bool BitmapDefinitions::DefineBitmap(SwfWriter&, uint16_t, const FrameBitmap&) { return false; }

HalvingRule BitmapDefinitions::OrdinaryRule() const { return {}; }
HalvingRule BitmapDefinitions::TransientRule() const { return {}; }

bool BitmapDefinitions::EncodeSource(const FrameImage&, int32_t, int32_t, int32_t, int32_t,
                                     std::unique_ptr<ByteBuffer>&, uint32_t&) {
  return false;
}

bool BitmapDefinitions::WriteJpegTables(SwfWriter&) { return false; }

}  // namespace quillon
