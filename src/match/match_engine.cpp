#include "match/match_engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include "match/frame_use_store.h"
#include "match/screen_use_store.h"
#include "settings/trace.h"
#include "video/frame_image.h"
#include "video/frame_store.h"

namespace quillon {

namespace {

uint32_t TickMillis() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

MatchEngine::MatchEngine() = default;
MatchEngine::~MatchEngine() = default;

uint32_t MatchEngine::BlockSize(uint32_t size, float v) {
  double pixels = 0.0;
  if (v > 0.0f) {
    pixels = std::trunc(static_cast<double>(size) / static_cast<double>(v));
    pixels = std::min(pixels, 4294967295.0);
    pixels = static_cast<double>(static_cast<uint32_t>(pixels) & ~7u);
  } else if (v < 0.0f) {
    // Rounded down to whole 8 x 8 cells like the positive form: a block that straddles the use
    // grids' cells could reuse pixels that were never defined as a bitmap.
    pixels = std::min(std::trunc(-static_cast<double>(v)), 4294967295.0);
    pixels = static_cast<double>(static_cast<uint32_t>(pixels) & ~7u);
  }
  // Zero (and a NaN option) would give blocks that never advance across the frame.
  const uint32_t result = static_cast<uint32_t>(pixels);
  return result == 0 ? 8 : result;
}

bool MatchEngine::Setup(const MatchOptions& options, FrameStore* frames, FrameUseStore* uses,
                        ScreenUseStore* screen) {
  options_ = options;
  frames_ = frames;
  uses_ = uses;
  screen_ = screen;
  width_ = frames ? frames->OutputWidth() : 0;
  height_ = frames ? frames->OutputHeight() : 0;
  blockWidth_ = BlockSize(width_, options_.blockWidth);
  blockHeight_ = BlockSize(height_, options_.blockHeight);
  lastError.clear();
  speculated_ = false;
  status_.store(MatchStatus::kSetUp, std::memory_order_relaxed);
  return true;
}

bool MatchEngine::Start() {
  speculated_ = false;
  status_.store(MatchStatus::kRunning, std::memory_order_relaxed);
  progress_.store(0, std::memory_order_relaxed);
  frameMillis_.store(0, std::memory_order_relaxed);
  options_.matchThreshold =
      static_cast<float>(QualityThreshold(options_.limit, options_.signature));
  options_.plainThreshold =
      static_cast<float>(QualityThreshold(options_.plainBound, options_.signature));
  // Frame.CacheSize bounds the search: the frame being matched and the frames it is compared
  // with once all had to fit the cache, and the setting keeps that meaning for the output's sake
  // although the earlier frames are now read from copies of their blocks.
  const uint32_t searched =
      options_.searchedFrames > 0 ? static_cast<uint32_t>(options_.searchedFrames) : 0;
  const uint32_t cacheSize = frames_ ? frames_->Options().cacheSize : 0;
  searchDepth_ = std::min(searched, cacheSize > 0 ? cacheSize - 1 : 0);
  if (searchDepth_ < searched) {
    Trace("MatchEngine: search limited to %u frames by the frame cache", searchDepth_);
  }
  const bool searching = (options_.flags & MatchOptions::kImage) != 0;
  kept_.Setup(width_, height_, blockWidth_, blockHeight_, searching ? searchDepth_ : 0);
  fallbackReads_ = 0;
  fallbackFrame_.reset();
  return true;
}

void MatchEngine::Finish() {
  // A finished run searches no more: its copies need not wait for the next one.
  kept_.Clear();
  fallbackFrame_.reset();
  progress_.store(100, std::memory_order_relaxed);
  status_.store(MatchStatus::kFinished, std::memory_order_relaxed);
}

bool MatchEngine::Fail(const char* message) {
  lastError = message;
  status_.store(MatchStatus::kFailed, std::memory_order_relaxed);
  return false;
}

bool MatchEngine::MatchFrame(uint32_t frame) {
  const uint32_t started = TickMillis();
  if (!frames_ || !uses_ || !screen_) return Fail("Matching stages are not set up");
  if (frames_->GetReaderKind() == ReaderKind::kEmptyVideo) return true;

  const bool ahead = HasSpeculation(frame);
  speculated_ = false;
  verdicts_.clear();
  blockSums_.clear();
  if (ahead) {
    if (!DecideFromSpeculation(frame, verdicts_, blockSums_)) {
      status_.store(MatchStatus::kFailed, std::memory_order_relaxed);
      return false;
    }
  } else {
    MatchResult result;
    RegionSums sums;
    bool matched = true;
    ForEachBlock([&](std::size_t, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
      matched = MatchBlock(frame, x, y, w, h, result, &sums);
      // A search cut short by the cancel leaves a verdict that must not be recorded.
      if (!matched || CancelRequested(cancel_)) return false;
      verdicts_.push_back(result);
      blockSums_.push_back(sums);
      return true;
    });
    if (!matched) {
      status_.store(MatchStatus::kFailed, std::memory_order_relaxed);
      return false;
    }
  }
  if (CancelRequested(cancel_)) return Fail("The run was cancelled");
  if (!RecordFrame(frame, verdicts_)) return false;
  frameMillis_.store(TickMillis() - started, std::memory_order_relaxed);
  return true;
}

// A block's verdict depends on the pictures and, for each searched frame, on one use-grid
// cell only: the one at the block's corner. Recording a block marks cells of its own area
// alone, so the blocks of a frame can be decided apart from each other and recorded after.
bool MatchEngine::RecordFrame(uint32_t frame, const std::vector<MatchResult>& verdicts) {
  const bool recorded =
      ForEachBlock([&](std::size_t i, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
        const MatchResult& result = verdicts[i];
        if (!screen_->RecordBlock(frame, x, y, result)) {
          return Fail("The screen store rejected a block verdict");
        }
        // A new bitmap marks this frame, a reuse marks its source frame again.
        if (result.kind == BlockKind::kBitmap &&
            !uses_->AddUse(result.sourceFrame, result.x, result.y, w, h)) {
          return Fail("The frame use store rejected a bitmap area");
        }
        return true;
      });
  if (!recorded) return false;
  if (frame > 0) screen_->MarkTransient(frame);
  return KeepBlocks(frame);
}

// Later searches read this frame only where its grid is set now (it can only lose marks), and
// the older frames only where theirs still are: copying those blocks here is all they need.
bool MatchEngine::KeepBlocks(uint32_t frame) {
  if (searchDepth_ == 0 || (options_.flags & MatchOptions::kImage) == 0) return true;
  const FrameImage* image = frames_->GetFrame(frame);
  const FrameUse* use = uses_->GetFrameUse(frame);
  if (image == nullptr || use == nullptr) {
    const std::string message = "Video frame " + std::to_string(frame) + " cannot be decoded";
    return Fail(message.c_str());
  }
  kept_.Prune(*uses_);
  kept_.Keep(frame, *image, use->grid, &blockSums_);
  return true;
}

void MatchEngine::Speculate(uint32_t frame) {
  speculated_ = false;
  if (!frames_ || !uses_ || !screen_ || frames_->GetReaderKind() == ReaderKind::kEmptyVideo) {
    return;
  }
  const std::string error = lastError;
  missingFrame_ = false;
  speculation_.clear();
  speculationSums_.clear();
  MatchResult result;
  RegionSums sums;
  bool ok = true;
  ForEachBlock([&](std::size_t, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    if (CancelRequested(cancel_)) return false;
    ok = MatchBlock(frame, x, y, w, h, result, &sums);
    speculation_.push_back(result);
    speculationSums_.push_back(sums);
    return ok;
  });
  // A frame that would not decode may decode when asked again: MatchFrame asks for itself.
  lastError = error;
  // Verdicts of a search cut short by the cancel are no verdicts.
  if (!ok || missingFrame_ || CancelRequested(cancel_)) return;
  const uint32_t depth = std::min(searchDepth_, frame);
  if (speculatedGrids_.size() < depth) speculatedGrids_.resize(depth);
  for (uint32_t k = 0; k < depth; ++k) {
    const FrameUse* use = uses_->GetFrameUse(frame - 1 - k);
    if (use == nullptr || !use->grid.CopyTo(speculatedGrids_[k])) return;
  }
  speculatedGrids_.resize(depth);
  speculatedFrame_ = frame;
  speculated_ = true;
}

bool MatchEngine::DecideFromSpeculation(uint32_t frame, std::vector<MatchResult>& verdicts,
                                        std::vector<RegionSums>& sums) {
  verdicts = speculation_;
  // The pictures have not changed since: the sums stand even for the blocks decided again.
  sums = speculationSums_;
  redecided_ = 0;
  const uint32_t depth = static_cast<uint32_t>(speculatedGrids_.size());
  std::vector<uint8_t> changed;
  for (uint32_t k = 0; k < depth; ++k) {
    const CellGrid& then = speculatedGrids_[k];
    const FrameUse* use = uses_->GetFrameUse(frame - 1 - k);
    if (use == nullptr) return Fail("The frame use store lost a frame");
    const CellGrid& now = use->grid;
    const std::size_t bytes = std::size_t{now.Rows()} * now.BytesPerRow();
    if (now.Cols() == then.Cols() && now.Rows() == then.Rows() &&
        std::equal(now.Bits(), now.Bits() + bytes, then.Bits())) {
      continue;
    }
    if (changed.empty()) changed.assign(verdicts.size(), 0);
    const uint32_t m = frame - 1 - k;
    ForEachBlock([&](std::size_t i, uint32_t x, uint32_t y, uint32_t, uint32_t) {
      const uint32_t c = x / FrameUseStore::kCellSize;
      const uint32_t r = y / FrameUseStore::kCellSize;
      const bool wasSet = then.IsSet(c, r);
      if (now.IsSet(c, r) == wasSet) return true;
      // A search takes the nearest frame with the lowest score; taking away a frame that did
      // not win cannot change which one does, nor the plain colour's comparison with it (see
      // SearchEarlier). Only a lost winner, or a frame that became searchable, calls for a
      // new search.
      const MatchResult& v = verdicts[i];
      const bool lostWinner = v.kind == BlockKind::kBitmap && v.subKind == BitmapSource::kReuse &&
                              v.sourceFrame == m;
      if (!wasSet || lostWinner) changed[i] = 1;
      return true;
    });
  }
  if (changed.empty()) return true;
  return ForEachBlock([&](std::size_t i, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    if (changed[i] == 0) return true;
    if (!MatchBlock(frame, x, y, w, h, verdicts[i])) return false;
    ++redecided_;
    return true;
  });
}

bool MatchEngine::MatchBlock(uint32_t n, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                             MatchResult& result, RegionSums* blockSums) {
  FrameImage* image = frames_ ? frames_->GetFrame(n) : nullptr;
  if (!image) {
    lastError = "Video frame " + std::to_string(n) + " cannot be decoded";
    return false;
  }
  if (!image->SelectRegion(static_cast<int32_t>(x), static_cast<int32_t>(y),
                           static_cast<int32_t>(w), static_cast<int32_t>(h))) {
    lastError = "Block lies outside the video frame";
    return false;
  }

  // The plain colour's average and the search's bound both start from these.
  RegionSums sums;
  if (options_.flags & (MatchOptions::kShape | MatchOptions::kImage)) {
    sums = image->RegionChannelSums();
  }
  MatchResult plain;
  float plainScore = kNoScore;
  if (options_.flags & MatchOptions::kShape) {
    plain.kind = BlockKind::kPlain;
    plain.colour = FrameImage::AverageOf(sums, image->RegionCount());
    plainScore = image->RegionDistanceToColour(plain.colour, options_.plainThreshold);
  }
  MatchResult reuse;
  float imageScore = kNoScore;
  if (options_.flags & MatchOptions::kImage) {
    // A reuse is taken only below both the plain colour's score and the threshold; a search
    // told so can give up on an earlier frame as soon as it passes them.
    const float ceiling = std::min(plainScore, options_.matchThreshold);
    imageScore = SearchEarlier(*image, sums, n, x, y, reuse, ceiling);
  }
  if (blockSums != nullptr) *blockSums = sums;

  // Ties go to the plain colour: it costs no bitmap at all.
  const bool plainWins = plainScore <= imageScore;
  const MatchResult& chosen = plainWins ? plain : reuse;
  const float chosenScore = plainWins ? plainScore : imageScore;
  if (chosenScore < options_.matchThreshold && chosen.kind != BlockKind::kNone) {
    result = chosen;
    return true;
  }
  result = MatchResult{};
  result.kind = BlockKind::kBitmap;
  result.subKind = BitmapSource::kNew;
  result.x = x;
  result.y = y;
  result.sourceFrame = n;
  return true;
}

float MatchEngine::SearchEarlier(const FrameImage& current, const RegionSums& sums, uint32_t n,
                                 uint32_t x, uint32_t y, MatchResult& candidate, float ceiling) {
  candidate = MatchResult{};
  if (n == 0) return kNoScore;
  const uint32_t depth = std::min(searchDepth_, n);
  const bool mirrored = (options_.flags & MatchOptions::kCoordTransform) != 0;
  const uint32_t cellC = x / FrameUseStore::kCellSize;
  const uint32_t cellR = y / FrameUseStore::kCellSize;

  const FrameImage::Region region = current.GetRegion();
  const uint32_t count = current.RegionCount();
  float best = ceiling;
  // The sum at which a comparison gives up, for the best score so far.
  uint64_t limit = FrameImage::DifferenceSumLimit(best, count);
  bool found = false;
  uint32_t bestFrame = 0;
  uint32_t bestFlags = 0;
  for (uint32_t m = n - 1; m + depth >= n; --m) {
    if (CancelRequested(cancel_)) break;
    const FrameUse* use = uses_->GetFrameUse(m);
    if (!use) {
      missingFrame_ = true;
      return kNoScore;
    }
    // Only an area that frame m defined as a bitmap can be shown again.
    if (use->grid.IsSet(cellC, cellR)) {
      uint32_t ox = x;
      uint32_t oy = y;
      std::optional<RegionSums> earlierSums;
      const FrameImage* earlier = EarlierBlock(m, ox, oy, region.w, region.h, earlierSums);
      if (!earlier) {
        missingFrame_ = true;
        return kNoScore;
      }
      // A comparison that reaches the limit scores at least best and loses, plain or mirrored;
      // on camera footage nearly every one does, and the sums tell most of them apart unread.
      const bool ruledOut = sumBound_ && earlierSums.has_value() &&
                            FrameImage::DifferenceFloor(sums, *earlierSums, count) >= limit;
      uint32_t flags = 0;
      float score = kNoScore;
      if (!ruledOut) {
        score = mirrored ? current.RegionDifferenceMirrored(*earlier, static_cast<int32_t>(ox),
                                                            static_cast<int32_t>(oy), flags, best)
                         : current.RegionDifference(*earlier, static_cast<int32_t>(ox),
                                                    static_cast<int32_t>(oy), best);
      }
      // Strictly better only: on a tie the nearer frame keeps the block.
      if (!ruledOut && score < best) {
        best = score;
        limit = FrameImage::DifferenceSumLimit(best, count);
        found = true;
        bestFrame = m;
        bestFlags = flags;
        if (best <= kExactScore) break;
      }
    }
    if (m == 0) break;
  }
  if (!found) return kNoScore;
  candidate.kind = BlockKind::kBitmap;
  candidate.subKind = BitmapSource::kReuse;
  candidate.x = x;
  candidate.y = y;
  candidate.sourceFrame = bestFrame;
  candidate.mirrorFlags = mirrored ? bestFlags : 0;
  return best;
}

const FrameImage* MatchEngine::EarlierBlock(uint32_t m, uint32_t& x, uint32_t& y, uint32_t w,
                                            uint32_t h, std::optional<RegionSums>& sums) {
  uint32_t top = 0;
  RegionSums kept;
  if (const FrameImage* stack = kept_.Find(m, x, y, top, &kept)) {
    x = 0;
    y = top;
    sums = kept;
    return stack;
  }
  // Not kept: decoded again aside, since fetching it through the cache would push the frame
  // being matched out of the few frames the cache holds during a run.
  ++fallbackReads_;
  if (!fallbackFrame_ || fallbackIndex_ != m) {
    fallbackFrame_ = frames_->DecodeFrame(m);
    fallbackIndex_ = m;
  }
  if (fallbackFrame_ &&
      fallbackFrame_->SelectRegion(static_cast<int32_t>(x), static_cast<int32_t>(y),
                                   static_cast<int32_t>(w), static_cast<int32_t>(h))) {
    const FrameImage::Region got = fallbackFrame_->GetRegion();
    // A block cut by a frame of another size is no block to bound: the comparison decides.
    if (got.x == x && got.y == y && got.w == w && got.h == h) {
      sums = fallbackFrame_->RegionChannelSums();
    }
  }
  return fallbackFrame_.get();
}

}  // namespace quillon
