// Decides for every block of every output frame whether it reaches the stage as a plain
// colour, as a reuse of a bitmap area an earlier frame defined at the same place, or as a new
// bitmap cut from the frame.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "match/cell_grid.h"
#include "match/kept_blocks.h"
#include "settings/encoder_settings.h"
#include "video/colour.h"

namespace quillon {

class FrameImage;
class FrameStore;
class FrameUseStore;
class ScreenUseStore;

// What a block becomes. The numbers are those the Transport's fill kinds use.
enum class BlockKind : uint8_t {
  kNone = 0,
  kBitmap = 10,
  kPlain = 20,
};

// Where a bitmap block's pixels come from.
enum class BitmapSource : uint8_t {
  kNone = 0,
  kReuse = 1,  // an area an earlier frame already defined
  kNew = 2,    // a new bitmap from this frame
};

// The verdict for one block.
struct MatchResult {
  // mirrorFlags bits: how the source rectangle was read.
  static constexpr uint32_t kMirrorLeftRight = 1;
  static constexpr uint32_t kMirrorTopBottom = 2;

  BlockKind kind = BlockKind::kNone;
  BitmapSource subKind = BitmapSource::kNone;  // kBitmap only
  Colour colour{};                             // kPlain only: the three channel bytes
  uint32_t x = 0;                              // kBitmap: source rectangle, pixels
  uint32_t y = 0;
  uint32_t sourceFrame = 0;  // kBitmap: output frame index of the source
  uint32_t mirrorFlags = 0;  // kBitmap
};

// Values of the status word.
enum class MatchStatus : int32_t {
  kSetUp = 0,
  kRunning = 1,
  kFinished = 2,
  kFailed = 4,
};

// Calling order: Setup, Start, MatchFrame for each frame in increasing order, Finish; a new run
// begins with Setup. Runs on the encoding thread; the status, progress and frameMillis words
// may be read from any thread.
class MatchEngine {
 public:
  // A score meaning "no candidate" (the largest float).
  static constexpr float kNoScore = 3.4028235e38f;
  // A search ends as soon as a frame scores this or less.
  static constexpr float kExactScore = 0.001f;

  MatchEngine();
  ~MatchEngine();
  MatchEngine(const MatchEngine&) = delete;
  MatchEngine& operator=(const MatchEngine&) = delete;

  // Copies the options, takes the frame size from the store and computes the block size;
  // status kSetUp. The stores are not owned and must outlive the run.
  [[nodiscard]] bool Setup(const MatchOptions& options, FrameStore* frames, FrameUseStore* uses,
                           ScreenUseStore* screen);
  // Status kRunning, progress 0, frameMillis 0, thresholds computed.
  [[nodiscard]] bool Start();
  // Decides every block of the frame, records the verdicts in both stores and marks the
  // previous frame's transient cells. False with status kFailed (lastError set) when a frame
  // cannot be decoded or a store rejects a verdict.
  [[nodiscard]] bool MatchFrame(uint32_t frame);
  // Progress 100, status kFinished; the copies of earlier frames' blocks are given back.
  void Finish();
  // While set, MatchFrame gives up (status kFailed) once the flag turns true, between blocks
  // and between the earlier frames a search compares, so that a cancelled run need not wait
  // for a huge frame. Null (the default) never cancels.
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

  // Matching ahead, for a thread that would otherwise wait: decides every block of frame into
  // a list of its own and records nothing. The next MatchFrame(frame) records those verdicts,
  // deciding again only the blocks that lost, in between, the cells of the frame they were to
  // reuse (a refused frame, a part start or a freed bitmap clears cells), so the stores end
  // exactly as without it. A
  // MatchFrame of any other frame, Start and Setup drop it. Frames are fetched from the store
  // as MatchFrame would; another thread may read the pictures meanwhile, none may change them.
  void Speculate(uint32_t frame);
  bool HasSpeculation(uint32_t frame) const { return speculated_ && speculatedFrame_ == frame; }
  // Blocks decided again by the last MatchFrame that used a speculation (for tests).
  uint32_t RedecidedBlocks() const { return redecided_; }
  // Earlier frames' blocks a search had to read from the frame itself since Start, for want of
  // a kept copy: slow (the frame is decoded again), and never expected in a run.
  uint64_t FallbackReads() const { return fallbackReads_; }
  // The copies of earlier frames' blocks the searches read (for tests and measurements).
  const KeptBlocks& Kept() const { return kept_; }
  // Whether a search passes over an earlier block whose channel sums alone show it cannot
  // score below the ceiling (on by default; the verdicts are the same either way, which the
  // tests check by turning it off).
  void SetSumBound(bool on) { sumBound_ = on; }

  // The verdict for the block (x, y, w, h) of frame n, and its channel sums when asked (the
  // copies of the frame's blocks want them). False when a frame cannot be read.
  [[nodiscard]] bool MatchBlock(uint32_t n, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                                MatchResult& result, RegionSums* sums = nullptr);

  // Block size in one direction for frame size `size` and option value v: v > 0 blocks
  // across, rounded down to a multiple of 8; v < 0 pixels; 0 (and a result of 0) gives 8.
  static uint32_t BlockSize(uint32_t size, float v);

  uint32_t BlockWidth() const { return blockWidth_; }
  uint32_t BlockHeight() const { return blockHeight_; }
  uint32_t FrameWidth() const { return width_; }
  uint32_t FrameHeight() const { return height_; }
  float MatchThreshold() const { return options_.matchThreshold; }
  float PlainThreshold() const { return options_.plainThreshold; }
  const MatchOptions& Options() const { return options_; }
  // Earlier frames one search may compare: searchedFrames, limited by the frame cache.
  uint32_t SearchDepth() const { return searchDepth_; }

  MatchStatus Status() const { return status_.load(std::memory_order_relaxed); }
  uint8_t Progress() const { return progress_.load(std::memory_order_relaxed); }
  uint32_t FrameMillis() const { return frameMillis_.load(std::memory_order_relaxed); }

  std::string lastError;

 private:
  // Calls visit(i, x, y, w, h) for block i of the frame at (x, y), w x h, in row-major order
  // (the order of every verdict list), the last column and row cut at the frame's edges.
  // Stops at the first visit that answers false and then answers false itself.
  template <typename Visit>
  bool ForEachBlock(Visit&& visit) const {
    std::size_t i = 0;
    for (uint64_t y = 0; y < height_; y += blockHeight_) {
      const auto h = static_cast<uint32_t>(std::min<uint64_t>(blockHeight_, height_ - y));
      for (uint64_t x = 0; x < width_; x += blockWidth_, ++i) {
        const auto w = static_cast<uint32_t>(std::min<uint64_t>(blockWidth_, width_ - x));
        if (!visit(i, static_cast<uint32_t>(x), static_cast<uint32_t>(y), w, h)) return false;
      }
    }
    return true;
  }
  // Best reuse of the region of `current` at (x, y) among the earlier frames whose score is
  // below ceiling; kNoScore with no candidate when there is none or a frame cannot be read.
  // `sums` are the region's channel sums.
  float SearchEarlier(const FrameImage& current, const RegionSums& sums, uint32_t n, uint32_t x,
                      uint32_t y, MatchResult& candidate, float ceiling);
  bool Fail(const char* message);
  // The verdicts of Speculate for the frame, each taken unless its block's cells changed.
  [[nodiscard]] bool DecideFromSpeculation(uint32_t frame, std::vector<MatchResult>& verdicts,
                                           std::vector<RegionSums>& sums);
  [[nodiscard]] bool RecordFrame(uint32_t frame, const std::vector<MatchResult>& verdicts);
  // Copies the recorded frame's blocks that later searches may read, and lets go of the older
  // frames' blocks they no longer can.
  [[nodiscard]] bool KeepBlocks(uint32_t frame);
  // Frame m's block at (x, y), w x h, for a search: the kept copy, else the frame decoded
  // again; x and y become the block's position in the picture returned, sums its channel sums
  // (empty when they are not known). Null when m does not decode.
  const FrameImage* EarlierBlock(uint32_t m, uint32_t& x, uint32_t& y, uint32_t w, uint32_t h,
                                 std::optional<RegionSums>& sums);

  FrameStore* frames_ = nullptr;
  FrameUseStore* uses_ = nullptr;
  ScreenUseStore* screen_ = nullptr;
  MatchOptions options_;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t blockWidth_ = 8;
  uint32_t blockHeight_ = 8;
  uint32_t searchDepth_ = 0;
  const std::atomic<bool>* cancel_ = nullptr;
  // Speculate's verdicts in block order, and the use grids of the frames it searched as they
  // were then (the searched frames are speculatedFrame_ - 1 down to speculatedFrame_ -
  // speculatedGrids_.size()).
  bool speculated_ = false;
  uint32_t speculatedFrame_ = 0;
  std::vector<MatchResult> speculation_;
  std::vector<RegionSums> speculationSums_;
  std::vector<CellGrid> speculatedGrids_;
  std::vector<MatchResult> verdicts_;
  // The channel sums of the frame's blocks, in verdict order: what the copies need of them.
  std::vector<RegionSums> blockSums_;
  uint32_t redecided_ = 0;
  KeptBlocks kept_;
  uint64_t fallbackReads_ = 0;
  std::unique_ptr<FrameImage> fallbackFrame_;
  uint32_t fallbackIndex_ = 0;
  bool sumBound_ = true;
  bool missingFrame_ = false;  // a search met an earlier frame that could not be read
  std::atomic<MatchStatus> status_{MatchStatus::kSetUp};
  std::atomic<uint8_t> progress_{0};
  std::atomic<uint32_t> frameMillis_{0};
};

}  // namespace quillon
