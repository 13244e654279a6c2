// Frame emission within the byte budget: one shape per encoded frame on a new depth, removal
// of covered shapes, bitmap release with OptimizeMemory, and the pacing of a part.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>

#include "audio/audio_store.h"

#include "match/frame_use_store.h"
#include "match/match_engine.h"
#include "match/screen_use_store.h"
#include "settings/trace.h"
#include "swf/transport/bitmap_definitions.h"
#include "swf/transport/sound_stream.h"
#include "swf/transport/transport.h"
#include "video/colour.h"
#include "video/frame_store.h"

namespace quillon {

namespace {

constexpr uint32_t kUnlimited = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kNotWaiting = 0x0FFFFFFF;
constexpr uint32_t kMaxFills = 65535;
constexpr uint32_t kNoFill = 0xFFFFFFFF;
// Seconds; far below one frame at any rate, far above the drift of a run's clock sums.
constexpr double kClockTolerance = 1e-7;

}  // namespace

void Transport::WriteShowFrame() {
  writer_.WriteShowFrame();
  prevShowFrameEnd_ = showFrameEnd_;
  showFrameEnd_ = writer_.Cursor();
}

bool Transport::RemoveLastShowFrame() {
  const uint32_t cursor = writer_.Cursor();
  if (cursor < 2 || showFrameEnd_ != cursor) return false;
  writer_.Output()->Truncate(cursor - 2);
  showFrameEnd_ = prevShowFrameEnd_;
  prevShowFrameEnd_ = 0;
  return true;
}

void Transport::StoreRecord(uint32_t frame, uint32_t shapeId, uint32_t depth) {
  if (frameRecords_.size() <= frame) frameRecords_.resize(std::size_t{frame} + 1);
  frameRecords_[frame] = FrameRecord{shapeId, depth};
}

void Transport::StartPart(uint32_t firstFrame) {
  shapeId_ = kFirstShapeId;
  depth_ = 1;
  framesInPart_ = 0;
  frameRecords_.clear();
  fills_.clear();
  waiting_.clear();
  waitingCount_ = 0;
  lastFill_ = -1;
  penX_ = 0;
  penY_ = 0;
  showFrameEnd_ = 0;
  prevShowFrameEnd_ = 0;
  placement_ = SwfMatrix::Scale(kPixelToTwipScale, kPixelToTwipScale);
  sound_->StartPart();
  bitmaps_->StartPart();
  screen_->SetPartStart(firstFrame);
  // A part is a movie of its own: no bitmap of an earlier part can be shown again.
  if (firstFrame > 0) {
    const int64_t lowest = std::max<int64_t>(int64_t{firstFrame} - searchedFrames_ - 1, 0);
    for (int64_t f = int64_t{firstFrame} - 1; f >= lowest; --f) {
      FrameUse* use = uses_->GetFrameUse(static_cast<uint32_t>(f));
      if (use != nullptr) FrameUseStore::MarkCells(use->grid, 0, 0, width_, height_, false);
    }
  }
}

// ---- OptimizeMemory bookkeeping ------------------------------------------------------------

void Transport::CountUses(uint32_t frame) {
  const FrameCells* cells = screen_->GetFrameCells(frame);
  if (cells == nullptr) return;
  for (const BlockCell& c : cells->cells) {
    if (c.kind != BlockKind::kBitmap || !c.place) continue;
    UseRect* rect = uses_->FindRect(c.sourceFrame, c.sourceX, c.sourceY);
    if (rect == nullptr) continue;
    ++rect->useCount;
    rect->releaseFrame = kNotWaiting;
  }
}

void Transport::ReleaseUses(uint32_t removedFrame, uint32_t frame) {
  const FrameCells* cells = screen_->GetFrameCells(removedFrame);
  if (cells == nullptr) return;
  for (const BlockCell& c : cells->cells) {
    if (c.kind != BlockKind::kBitmap || !c.place) continue;
    UseRect* rect = uses_->FindRect(c.sourceFrame, c.sourceX, c.sourceY);
    if (rect == nullptr || rect->useCount == 0) continue;
    if (--rect->useCount != 0) continue;
    rect->releaseFrame = frame;
    FrameUse* use = uses_->GetFrameUse(c.sourceFrame);
    const uint32_t index = static_cast<uint32_t>(rect - use->rects.data());
    LimboEntry* slot = nullptr;
    for (LimboEntry& e : waiting_) {
      if (e.used && e.frame == c.sourceFrame && e.rect == index) {
        slot = &e;
        break;
      }
    }
    if (slot == nullptr) {
      for (LimboEntry& e : waiting_) {
        if (!e.used) {
          slot = &e;
          break;
        }
      }
    }
    if (slot == nullptr) slot = &waiting_.emplace_back();
    if (!slot->used) ++waitingCount_;
    *slot = LimboEntry{true, c.sourceFrame, index};
  }
}

void Transport::FreeWaiting(uint32_t frame) {
  if (waitingCount_ == 0) return;
  const int64_t due = int64_t{frame} - limboFrames_;
  for (LimboEntry& e : waiting_) {
    if (!e.used) continue;
    FrameUse* use = uses_->GetFrameUse(e.frame);
    if (use == nullptr || e.rect >= use->rects.size()) {
      e.used = false;
      --waitingCount_;
      continue;
    }
    UseRect& rect = use->rects[e.rect];
    if (rect.useCount != 0 || rect.releaseFrame == kNotWaiting ||
        due < static_cast<int64_t>(rect.releaseFrame)) {
      continue;
    }
    Trace("-Free Character Id: %u from frame %u\n", rect.characterId, e.frame);
    writer_.WriteFreeCharacter(static_cast<uint16_t>(rect.characterId));
    rect.releaseFrame = kNotWaiting;
    FrameUseStore::MarkCells(use->grid, rect.x, rect.y, rect.w, rect.h, false);
    e.used = false;
    --waitingCount_;
  }
}

// ---- ids, fills and the frame shape --------------------------------------------------------

bool Transport::AssignCharacterIds(uint32_t frame) {
  FrameUse* use = uses_->GetFrameUse(frame);
  if (use == nullptr) return false;
  for (UseRect& rect : use->rects) rect.characterId = shapeId_--;
  for (uint32_t row = 0; row < screen_->Rows(); ++row) {
    for (uint32_t col = 0; col < screen_->Cols(); ++col) {
      ScreenCell* cell = screen_->GetScreenCell(col, row);
      if (cell == nullptr || cell->shown.kind != BlockKind::kBitmap || !cell->changed) continue;
      const BlockCell& b = cell->shown;
      const UseRect* rect = uses_->FindRect(b.sourceFrame, b.sourceX, b.sourceY);
      if (rect == nullptr) return false;
      cell->characterId = rect->characterId;
    }
  }
  return true;
}

bool Transport::BuildFills(uint32_t frame) {
  (void)frame;
  fills_.clear();
  rectFills_.clear();
  if (!screen_->NewRects()) return false;
  const std::vector<ScreenRect>& rects = screen_->Rects();
  rectFills_.reserve(rects.size());
  for (const ScreenRect& sr : rects) {
    const ScreenCell* screenCell = screen_->GetScreenCell(sr.x / blockWidth_, sr.y / blockHeight_);
    if (screenCell == nullptr) return false;
    const BlockCell& cell = screenCell->shown;
    FillEntry fill;
    if (cell.kind == BlockKind::kBitmap) {
      const UseRect* rect = uses_->FindRect(cell.sourceFrame, cell.sourceX, cell.sourceY);
      if (rect == nullptr) return false;
      fill.kind = FillEntry::kBitmap;
      fill.bitmapId = static_cast<uint16_t>(rect->characterId);
      fill.translateX = static_cast<int32_t>(rect->x) +
                        (static_cast<int32_t>(sr.x) - static_cast<int32_t>(cell.sourceX));
      fill.translateY = static_cast<int32_t>(rect->y) +
                        (static_cast<int32_t>(sr.y) - static_cast<int32_t>(cell.sourceY));
      fill.scaleX = rect->scaleX;
      fill.scaleY = rect->scaleY;
      // A mirrored reading is a negative scale on its axis; the bitmap's origin then lies on
      // the far edge of the drawn block (clipped to the frame as drawn, which is the width the
      // block was matched with), so the source area [s, s + w) lands reversed on [x, x + w).
      // Mirrored cells never merge along their mirrored axis, so the rectangle is one block.
      if ((cell.mirrorFlags & MatchResult::kMirrorLeftRight) != 0) {
        const int32_t w = std::min(static_cast<int32_t>(sr.w),
                                   static_cast<int32_t>(width_) - static_cast<int32_t>(sr.x));
        fill.translateX = static_cast<int32_t>(sr.x) + w +
                          (static_cast<int32_t>(cell.sourceX) - static_cast<int32_t>(rect->x));
        fill.scaleX = -fill.scaleX;
      }
      if ((cell.mirrorFlags & MatchResult::kMirrorTopBottom) != 0) {
        const int32_t h = std::min(static_cast<int32_t>(sr.h),
                                   static_cast<int32_t>(height_) - static_cast<int32_t>(sr.y));
        fill.translateY = static_cast<int32_t>(sr.y) + h +
                          (static_cast<int32_t>(cell.sourceY) - static_cast<int32_t>(rect->y));
        fill.scaleY = -fill.scaleY;
      }
    } else {
      const Colour& c = cell.colour;
      fill.kind = FillEntry::kSolid;
      fill.r = c[0];
      fill.g = c[1];
      fill.b = c[2];
    }
    uint32_t index = kNoFill;
    for (uint32_t i = 0; i < fills_.size(); ++i) {
      const FillEntry& f = fills_[i];
      if (f.kind != fill.kind) continue;
      const bool same = fill.kind == FillEntry::kBitmap
                            ? f.bitmapId == fill.bitmapId && f.translateX == fill.translateX &&
                                  f.translateY == fill.translateY && f.scaleX == fill.scaleX &&
                                  f.scaleY == fill.scaleY
                            : f.r == fill.r && f.g == fill.g && f.b == fill.b;
      if (same) {
        index = i;
        break;
      }
    }
    if (index == kNoFill && fills_.size() < kMaxFills) {
      index = static_cast<uint32_t>(fills_.size());
      fills_.push_back(fill);
    }
    rectFills_.push_back(screenCell->changed ? index : kNoFill);
  }
  return true;
}

void Transport::DrawRect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t fill) {
  const int32_t k = static_cast<int32_t>(fill);
  if (k != lastFill_ || x != penX_ || y != penY_) {
    SwfStyleChange change;
    if (x != penX_ || y != penY_) change.moveTo = SwfStyleChange::Point{x, y};
    if (k != lastFill_) change.fillStyle1 = fill;
    writer_.WriteStyleChange(change, fillBits_, 0);
    lastFill_ = k;
  }
  writer_.WriteStraightEdge(w, 0);
  writer_.WriteStraightEdge(0, h);
  writer_.WriteStraightEdge(-w, 0);
  writer_.WriteStraightEdge(0, -h);
  penX_ = x;
  penY_ = y;
}

void Transport::WriteFrameShape(uint16_t shapeId) {
  writer_.BeginTag(TagCode::kDefineShape2);
  writer_.Put16(shapeId);
  writer_.WriteRect(SwfRect{0, static_cast<int32_t>(width_), 0, static_cast<int32_t>(height_)});

  fillStyles_.clear();
  for (const FillEntry& f : fills_) {
    if (f.kind == FillEntry::kSolid) {
      // Plain cells keep the frame's Y, Cb, Cr; the player wants R, G, B.
      uint8_t rgb[3] = {f.r, f.g, f.b};
      YCbCrToRgb(rgb, rgb);
      fillStyles_.push_back(SwfFillStyle::Solid(SwfRgb{rgb[0], rgb[1], rgb[2], 255}));
    } else {
      const SwfMatrix m = SwfMatrix::Scale(
          static_cast<int32_t>(std::trunc(65536.0 / static_cast<double>(f.scaleX))),
          static_cast<int32_t>(std::trunc(65536.0 / static_cast<double>(f.scaleY))), f.translateX,
          f.translateY);
      fillStyles_.push_back(SwfFillStyle::ClippedBitmap(f.bitmapId, m));
    }
  }
  writer_.WriteFillStyles(fillStyles_, false);
  writer_.WriteLineStyles({}, false);
  fillBits_ = CountBits(static_cast<uint32_t>(fills_.size()));
  writer_.WriteShapeStyleBits(fillBits_, 0);

  lastFill_ = -1;
  penX_ = 0;
  penY_ = 0;
  const std::vector<ScreenRect>& rects = screen_->Rects();
  const int32_t fw = static_cast<int32_t>(width_);
  const int32_t fh = static_cast<int32_t>(height_);
  // Rectangles are drawn grouped by fill, each group in list order; one pass that buckets the
  // rectangles gives the same records as visiting the whole list once per fill.
  order_.clear();
  for (uint32_t i = 0; i < rects.size(); ++i) {
    if (rectFills_[i] != kNoFill) order_.push_back(i);
  }
  std::stable_sort(order_.begin(), order_.end(),
                   [&](uint32_t a, uint32_t b) { return rectFills_[a] < rectFills_[b]; });
  for (uint32_t i : order_) {
    const ScreenRect& r = rects[i];
    const int32_t x = static_cast<int32_t>(r.x);
    const int32_t y = static_cast<int32_t>(r.y);
    const int32_t w = std::min(static_cast<int32_t>(r.w), fw - x);
    const int32_t h = std::min(static_cast<int32_t>(r.h), fh - y);
    DrawRect(x, y, w, h, rectFills_[i] + 1);
  }
  writer_.WriteEndShape();
  writer_.EndTag();
}

// ---- one frame -------------------------------------------------------------------------------

std::function<void()> Transport::MatchAhead(uint32_t frame) {
  // The next frame is matched while this one's bitmaps are encoded. Its verdicts are kept
  // aside and checked against the use grids when its turn comes, since this frame may yet be
  // refused or free bitmaps. The next frame's picture must not push this one out of the cache.
  if (!hasPictures_ || !frames_->Prefetching() || frame + 1 >= lastEndFrame_ ||
      frames_->HeldFrames() < 2) {
    return {};
  }
  return [this, frame] {
    if (frames_->GetFrame(frame + 1) != nullptr && frame + 2 < lastEndFrame_) {
      frames_->Prefetch(frame + 2);
    }
    match_->Speculate(frame + 1);
  };
}

void Transport::SkipFrame(uint32_t frame, bool partLimited, uint32_t startPos) {
  Trace("-->skiping frame due to frame budget\n");
  // A frame refused for lack of room in the part opens the next part; its sound goes along.
  if (partLimited) sound_->CarryBlock(writer_, startPos);
  FrameUse* use = uses_->GetFrameUse(frame);
  if (use != nullptr) FrameUseStore::MarkCells(use->grid, 0, 0, width_, height_, false);
  StoreRecord(frame, 0, 0);
  frameEncodedPixels_ = 0;
}

std::string Transport::FrameFailureText(uint32_t frame) {
  // The sound's encoding thread must be done with the AudioStore before its lastError is read.
  sound_->ReleaseAudio();
  // A damaged input is told as such, so the user knows the file is at fault, not the engine.
  char at[48];
  std::snprintf(at, sizeof at, "%.2f s",
                (frames_->RangeStartMs() + frame * 1000.0 / std::max(videoFps_, 0.001)) / 1000.0);
  if (audio_ != nullptr && audio_->lastError == kAudioReadError) {
    return std::string("FFmpeg could not decode the sound near ") + at +
           ": the file may be damaged or incomplete";
  }
  if (hasPictures_ && frames_->GetFrame(frame) == nullptr) {
    return std::string("FFmpeg could not decode the picture at ") + at +
           ": the file may be damaged or incomplete";
  }
  return EngineErrorText(5);
}

bool Transport::EncodeFrame(uint32_t frame, uint32_t budget, bool partLimited, bool& emitted) {
  emitted = false;
  Trace("=========================== Frame %u\n", frame);
  Trace("frame budget: %u\n", budget);
  // The next frame decodes on the video source's own thread while this one is matched,
  // encoded and written. Asked for once this frame is in the cache, so that the reader keeps
  // going forward.
  if (hasPictures_ && frames_->Prefetching() && frame + 1 < lastEndFrame_ &&
      frames_->GetFrame(frame) != nullptr) {
    frames_->Prefetch(frame + 1);
  }
  if (!match_->MatchFrame(frame) || !uses_->PrepareFrame(frame)) return false;
  const uint32_t start = writer_.Cursor();

  bitmaps_->ClearFrameBitmaps(frame);
  frameEncodedPixels_ = 0;

  uint32_t soundBytes = 0;
  if (!sound_->WriteSoundBlock(writer_, soundBytes)) return false;
  Trace("sound %u\n", soundBytes);

  bool fits = false;
  if (budget > soundBytes && shapeId_ > kLowestShapeId) {
    uint32_t imageBytes = 0;
    const FrameUse* use = uses_->GetFrameUse(frame);
    const uint64_t needed = use != nullptr ? use->rects.size() + 1 : 1;
    // Ids must not run below 1 within the frame (they would wrap and collide).
    if (needed < shapeId_) {
      if (hasPictures_ && !bitmaps_->EncodeFrameBitmaps(frame, budget - soundBytes, imageBytes,
                                                        MatchAhead(frame))) {
        return false;
      }
      Trace("image: %u\n", imageBytes);
      fits = static_cast<double>(imageBytes) * 1.05 + soundBytes <= static_cast<double>(budget);
    }
  }

  if (fits) {
    if (!screen_->Diff(frame)) return false;
    for (const uint32_t removed : screen_->Removals()) {
      if (removed >= frameRecords_.size()) continue;
      const FrameRecord& rec = frameRecords_[removed];
      // A frame that drew nothing holds no depth.
      if (rec.depth == 0) continue;
      Trace("-Removing frame %u, shape %u, depth %u\n", removed, rec.shapeId, rec.depth);
      writer_.WriteRemoveObject2(static_cast<uint16_t>(rec.depth));
      frameRecords_[removed] = FrameRecord{};
      if (optimizeMemory_ && hasPictures_) ReleaseUses(removed, frame);
    }
    if (hasPictures_) {
      if (!AssignCharacterIds(frame)) return false;
      if (!bitmaps_->DefineFrameBitmaps(frame, writer_)) return false;
      frameEncodedPixels_ = bitmaps_->EncodedPixels();
      if (!BuildFills(frame)) return false;
    } else {
      fills_.clear();
    }
    if (!fills_.empty()) {
      if (optimizeMemory_) CountUses(frame);
      const uint16_t shapeId = shapeId_--;
      const uint16_t depth = depth_++;
      StoreRecord(frame, shapeId, depth);
      WriteFrameShape(shapeId);
      writer_.WritePlaceObject(shapeId, depth, &placement_);
    } else {
      StoreRecord(frame, 0, 0);
    }
    emitted = true;
  } else {
    SkipFrame(frame, partLimited, start);
  }

  if (optimizeMemory_ && hasPictures_) FreeWaiting(frame);
  WriteShowFrame();
  (void)writer_.Compact(start, writer_.Cursor());
  showFrameEnd_ = writer_.Cursor();
  bitmaps_->ReleaseFrameBitmaps(frame);
  Trace("FrameSize: %u\n", writer_.Cursor() - start);
  return true;
}

// ---- one part --------------------------------------------------------------------------------

void Transport::UpdateFrameFigures(uint32_t frame, uint32_t firstFrame, uint32_t endFrame) {
  const double progress =
      endFrame > 0 ? std::min(static_cast<double>(frame) * 100.0 / endFrame, 99.0) : 0.0;
  progress_.store(static_cast<float>(progress), std::memory_order_relaxed);
  const uint64_t bytes = uint64_t{writer_.Cursor()} + EarlierPartsBytes();
  bytesSoFar_.store(bytes, std::memory_order_relaxed);
  const uint64_t largest = LargestPartBytes();
  uint64_t memory = 0;
  if (optimizeMemory_) {
    memory =
        largest + 4ull * std::min<uint32_t>(endFrame, 8) * width_ * height_ + kPlayerMemoryBase;
  } else {
    memory = largest + 4 * sumEncodedPixels_ + kPlayerMemoryBase;
  }
  playerMemory_.store(memory, std::memory_order_relaxed);
  const uint32_t count = FrameCount();
  if (frame > firstFrame && count > 0) {
    const double seconds = static_cast<double>(count) / playerFps_;
    bitRate_.store(static_cast<float>(static_cast<double>(bytes) / seconds * 8.0),
                   std::memory_order_relaxed);
  }
}

bool Transport::EncodePart(uint32_t firstFrame, uint32_t& endFrame, uint32_t endTimeMs) {
  const uint32_t end = endFrame;
  const double idealFrameBytes =
      bytesPerSecond_ > 0 ? static_cast<double>(bytesPerSecond_) / videoFps_ : 0.0;
  Trace("idealFrameBytes: %.2f\n", idealFrameBytes);
  double allowance = 0.0;
  const uint32_t partStart = writer_.Cursor();

  for (uint32_t e = firstFrame; e < end; ++e) {
    if (e > firstFrame && !CommitFrames()) return false;
    UpdateFrameFigures(e, firstFrame, end);
    // A part always takes at least one video frame, so a preloader of many frames cannot
    // make every part end before it began.
    if (framesInPart_ >= kMaxPartFrames && e > firstFrame) {
      endFrame = e;
      return true;
    }
    if (StopRequested()) return false;

    uint32_t budget = kUnlimited;
    bool partLimited = false;
    if (e != firstFrame) {
      uint32_t limit = kUnlimited;
      if (bytesPerSecond_ > 0) {
        allowance += idealFrameBytes;
        const double l = std::trunc(allowance - static_cast<double>(writer_.Cursor() - partStart));
        limit = l <= 0.0                               ? 0
                : l >= static_cast<double>(kUnlimited) ? kUnlimited
                                                       : static_cast<uint32_t>(l);
        Trace("Next frame ideal diff: %f\n", allowance);
      }
      if (partSizeLimit_ > 0) {
        const uint32_t room =
            writer_.Cursor() < partSizeLimit_ ? partSizeLimit_ - writer_.Cursor() : 0;
        budget = std::min(limit, room);
        partLimited = limit >= room;
      } else {
        budget = limit;
        partLimited = limit == kUnlimited;
      }
    }

    bool emitted = false;
    if (!EncodeFrame(e, budget, partLimited, emitted)) {
      // A frame given up for a cancel is no fault of the file or the engine: Run reports the
      // cancelled run (and asking for the picture again would only decode it once more).
      if (StopRequested()) return false;
      Fail(TransportStatus::kError, FrameFailureText(e));
      return false;
    }
    // A dropped write leaves the part corrupt: stop at once rather than build on it.
    if (writer_.OutputFailed()) {
      Fail(TransportStatus::kError, EngineErrorText(3));
      return false;
    }
    if (emitted) {
      emittedFrames_.store(EmittedFrames() + 1, std::memory_order_relaxed);
      sumEncodedPixels_ += frameEncodedPixels_;
      sumFramePixels_ += uint64_t{width_} * height_;
      encodedPixels_.store(sumEncodedPixels_, std::memory_order_relaxed);
      framePixels_.store(sumFramePixels_, std::memory_order_relaxed);
    } else if (partLimited) {
      (void)RemoveLastShowFrame();
      endFrame = e;
      return true;
    }
    if (e == firstFrame && bytesPerSecond_ > 0) {
      allowance = static_cast<double>(writer_.Cursor() - partStart) - idealFrameBytes;
    }

    videoTime_ += 1.0 / videoFps_;
    ++framesInPart_;
    frameCount_.store(FrameCount() + 1, std::memory_order_relaxed);
    playerTime_ += 1.0 / playerFps_;

    // The clocks are sums of reciprocals: without the tolerance their rounding would add or
    // drop a repeat now and then even when the player rate is an exact multiple.
    while (playerTime_ < videoTime_ - kClockTolerance) {
      if (framesInPart_ >= kMaxPartFrames) {
        // Frame e is already in this part: the next part goes on after it.
        endFrame = e + 1;
        return true;
      }
      if (playerTime_ * 1000.0 + kClockTolerance * 1000.0 >= endTimeMs) break;
      const uint32_t repeatStart = writer_.Cursor();
      uint32_t soundBytes = 0;
      if (!sound_->WriteSoundBlock(writer_, soundBytes)) {
        Fail(TransportStatus::kError, FrameFailureText(e));
        return false;
      }
      WriteShowFrame();
      (void)writer_.Compact(repeatStart, writer_.Cursor());
      showFrameEnd_ = writer_.Cursor();
      ++framesInPart_;
      frameCount_.store(FrameCount() + 1, std::memory_order_relaxed);
      playerTime_ += 1.0 / playerFps_;
    }

    if (static_cast<double>(endTimeMs) <= playerTime_ * 1000.0 + kClockTolerance * 1000.0) {
      (void)RemoveLastShowFrame();
      endFrame = end;
      return true;
    }
    if (e + 1 == end) (void)RemoveLastShowFrame();
  }
  endFrame = end;
  return true;
}

}  // namespace quillon
