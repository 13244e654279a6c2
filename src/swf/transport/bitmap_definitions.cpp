#include "swf/transport/bitmap_definitions.h"

#include <algorithm>
#include <new>

#include "settings/encoder_settings.h"
#include "settings/trace.h"
#include "swf/tag_code.h"
#include "swf/transport/worker_pool.h"

namespace quillon {

namespace {

// Any size gives the same tables-only stream; a small image keeps it cheap.
constexpr uint32_t kTablesImageSide = 16;

std::unique_ptr<ByteBuffer> NewPayloadBuffer() {
  return std::make_unique<ByteBuffer>(kPayloadBufferSize, kPayloadBufferSize, 1.0f);
}

}  // namespace

BitmapDefinitions::Workspace::Workspace()
    : jpeg(NewPayloadBuffer()), zlib8(NewPayloadBuffer()), zlib32(NewPayloadBuffer()) {}

BitmapDefinitions::BitmapDefinitions()
    : threads_(WorkerPool::DefaultThreads()),
      jpegTables_(kPayloadBufferSize, kPayloadBufferSize, 1.0f) {
  workspaces_.push_back(std::make_unique<Workspace>());
}

BitmapDefinitions::~BitmapDefinitions() = default;

void BitmapDefinitions::SetThreads(uint32_t threads) {
  threads_ = std::max<uint32_t>(threads, 1);
  pool_.reset();
}

bool BitmapDefinitions::Initialise(const TransportOptions& options, FrameStore* frames,
                                   FrameUseStore* uses, ScreenUseStore* screen, uint32_t width,
                                   uint32_t height, uint32_t blockWidth, uint32_t blockHeight) {
  options_ = MakeBitmapOptions(options);
  frames_ = frames;
  uses_ = uses;
  screen_ = screen;
  width_ = width;
  height_ = height;
  lastError.clear();
  bitmaps_.clear();
  encodedPixels_ = 0;
  tablesWritten_ = false;
  jpegTables_.Clear();
  nextPayload_ = 0;
  if (blockWidth == 0 || blockHeight == 0) {
    lastError = "Invalid block size";
    return false;
  }
  // One buffer per block position: a frame never has more new bitmaps than blocks.
  const uint64_t count =
      uint64_t{(width + blockWidth - 1) / blockWidth} * ((height + blockHeight - 1) / blockHeight);
  try {
    payloads_.clear();
    payloads_.resize(static_cast<std::size_t>(count));  // created lazily when first used
    bitmaps_.reserve(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    lastError = "Out of memory";
    return false;
  }
  return true;
}

HalvingRule BitmapDefinitions::OrdinaryRule() const {
  HalvingRule rule;
  rule.horizontal = (options_.flags & TransportOptions::kResizeHorizontal) != 0;
  rule.vertical = (options_.flags & TransportOptions::kResizeVertical) != 0;
  rule.powerOfTwo = (options_.flags & TransportOptions::kResizeForce8) != 0;
  rule.threshold = options_.resizeThreshold;
  rule.method = options_.resizeMethod;
  return rule;
}

HalvingRule BitmapDefinitions::TransientRule() const {
  HalvingRule rule = OrdinaryRule();
  rule.horizontal = (options_.flags & TransportOptions::kTransientResizeHorizontal) != 0;
  rule.vertical = (options_.flags & TransportOptions::kTransientResizeVertical) != 0;
  rule.threshold = options_.transientResizeThreshold;
  rule.method = options_.transientResizeMethod;
  return rule;
}

bool BitmapDefinitions::EncodeBitmap(const FrameImage& image, int32_t x, int32_t y, int32_t w,
                                     int32_t h, bool transient, FrameBitmap& bitmap) {
  if (nextPayload_ >= payloads_.size()) {
    lastError = "Out of payload buffers";
    return false;
  }
  Workspace& work = *workspaces_.front();
  if (!EncodeInto(image, x, y, w, h, transient, payloads_[nextPayload_++], work, bitmap)) {
    lastError = work.error;
    return false;
  }
  return true;
}

bool BitmapDefinitions::EncodeInto(const FrameImage& image, int32_t x, int32_t y, int32_t w,
                                   int32_t h, bool transient, std::unique_ptr<ByteBuffer>& slot,
                                   Workspace& work, FrameBitmap& bitmap) const {
  if (!image.ClipRect(x, y, w, h)) {
    work.error = "Bitmap rectangle outside the frame";
    return false;
  }
  bitmap.shrunk.reset();
  if (transient) bitmap.shrunk = HalveBlock(image, x, y, w, h, TransientRule(), cancel_);
  if (!bitmap.shrunk) bitmap.shrunk = HalveBlock(image, x, y, w, h, OrdinaryRule(), cancel_);

  const FrameImage* source = &image;
  int32_t sx = x;
  int32_t sy = y;
  int32_t sw = w;
  int32_t sh = h;
  bitmap.scaleX = 1.0f;
  bitmap.scaleY = 1.0f;
  if (bitmap.shrunk) {
    source = bitmap.shrunk.get();
    sx = 0;
    sy = 0;
    sw = static_cast<int32_t>(bitmap.shrunk->Width());
    sh = static_cast<int32_t>(bitmap.shrunk->Height());
    bitmap.scaleX = static_cast<float>(sw) / static_cast<float>(w);
    bitmap.scaleY = static_cast<float>(sh) / static_cast<float>(h);
  }
  bitmap.pixels = static_cast<uint32_t>(sw) * static_cast<uint32_t>(sh);

  // A bitmap one pixel wide or high is stored doubled along that side.
  if (sw == 1 || sh == 1) {
    const uint32_t ew = sw == 1 ? 2 : static_cast<uint32_t>(sw);
    const uint32_t eh = sh == 1 ? 2 : static_cast<uint32_t>(sh);
    FrameImage& enlarged = work.enlarged;
    enlarged.SetTag(source->Tag());
    if (!enlarged.Allocate(ew, eh)) {
      work.error = "Out of memory";
      return false;
    }
    for (uint32_t r = 0; r < eh; ++r) {
      const uint8_t* from = source->Row(static_cast<uint32_t>(sy) + (sh == 1 ? 0 : r)) + sx * 3;
      uint8_t* to = enlarged.Row(r);
      for (uint32_t c = 0; c < ew; ++c) {
        const uint8_t* p = from + (sw == 1 ? 0 : c * 3);
        to[c * 3] = p[0];
        to[c * 3 + 1] = p[1];
        to[c * 3 + 2] = p[2];
      }
    }
    source = &enlarged;
    sx = 0;
    sy = 0;
    sw = static_cast<int32_t>(ew);
    sh = static_cast<int32_t>(eh);
  }
  bitmap.width = static_cast<uint32_t>(sw);
  bitmap.height = static_cast<uint32_t>(sh);

  if (!slot) slot = NewPayloadBuffer();
  slot->Clear();
  if (!EncodeSource(*source, sx, sy, sw, sh, work, slot, bitmap.encoding)) return false;
  bitmap.payload = slot.get();
  return true;
}

bool BitmapDefinitions::WriteJpegTables(SwfWriter& writer) {
  if (jpegTables_.Size() == 0) {
    if (!tablesImage_) {
      tablesImage_ = std::make_unique<FrameImage>(ColourTag::kYCbCr);
      if (!tablesImage_->Allocate(kTablesImageSide, kTablesImageSide)) {
        tablesImage_.reset();
        lastError = "Out of memory";
        return false;
      }
    }
    if (!tablesImage_->EncodeJpeg(&jpegTables_, nullptr, options_.jpegQuality) ||
        jpegTables_.Size() == 0) {
      jpegTables_.Clear();
      lastError = "JPEG tables could not be made";
      return false;
    }
  }
  writer.BeginTag(TagCode::kJpegTables);
  writer.Append(jpegTables_.Data(), jpegTables_.Size());
  writer.EndTag();
  tablesWritten_ = true;
  return true;
}

bool BitmapDefinitions::DefineBitmap(SwfWriter& writer, uint16_t characterId,
                                     const FrameBitmap& bitmap) {
  if (bitmap.payload == nullptr) {
    lastError = "Bitmap defined before it was encoded";
    return false;
  }
  const uint32_t kind = EncodingKind(bitmap.encoding);
  if (kind == kBitmapJpeg) {
    if (!tablesWritten_ && !WriteJpegTables(writer)) return false;
    writer.BeginTag(TagCode::kDefineBits);
    writer.Put16(characterId);
  } else {
    writer.BeginTag(TagCode::kDefineBitsLossless);
    writer.Put16(characterId);
    writer.Put8(kind == kBitmapZlib8 ? kLosslessFormatPalette : kLosslessFormatArgb);
    writer.Put16(static_cast<uint16_t>(bitmap.width));
    writer.Put16(static_cast<uint16_t>(bitmap.height));
    if (kind == kBitmapZlib8) {
      writer.Put8(static_cast<uint8_t>(EncodingPaletteSize(bitmap.encoding) - 1));
    }
  }
  writer.Append(bitmap.payload->Data(), bitmap.payload->Size());
  writer.EndTag();
  encodedPixels_ += bitmap.pixels;
  return true;
}

}  // namespace quillon
