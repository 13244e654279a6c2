// The Transport: turns the matching stages' verdicts into SWF parts - frame emission within
// the byte budget, part splitting, the start-of-part tags, the preloader merge and the end
// actions - and publishes its progress to the controller's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/encoder_settings.h"
#include "swf/byte_buffer.h"
#include "swf/swf_records.h"
#include "swf/swf_writer.h"

namespace quillon {

class AudioStore;
class BitmapDefinitions;
class FrameStore;
class FrameUseStore;
class MatchEngine;
class PreloaderMovie;
class ScreenUseStore;
class SoundStream;

// Status word of a run. Published with release ordering once the error text and the final
// figures are in place, so a reader that sees kFinished, kError or kCancelled may read them.
enum class TransportStatus : uint32_t {
  kNotStarted = 0,
  kRunning = 1,
  kFinished = 2,
  kError = 4,
  kCancelled = 8,
};

// Where the engine error texts send users. A project mailbox, not a person's.
inline constexpr const char* kSupportAddress = "support@quillon-encoder.example.org";

// "Internal Engine Error: 0x0N" followed by the support request.
std::string EngineErrorText(uint32_t number);

// Shape ids count down from here; frames, bitmaps and the link button share the range.
constexpr uint16_t kFirstShapeId = 63999;
// Below this no frame can define characters any more and frames are refused.
constexpr uint16_t kLowestShapeId = 100;
// The click area of the link button lies above the video shapes and below the overlay.
constexpr uint16_t kLinkButtonDepth = 64000;
// A part never holds more SWF frames than this.
constexpr uint32_t kMaxPartFrames = 15999;
// Base of the player memory estimate (bytes the player needs before any movie data).
constexpr uint32_t kPlayerMemoryBase = 1925120;

// One video frame's shape on the display list; zero when the frame drew nothing.
struct FrameRecord {
  uint32_t shapeId = 0;
  uint32_t depth = 0;
};

// One fill style of the frame shape being built.
struct FillEntry {
  static constexpr uint32_t kBitmap = 10;
  static constexpr uint32_t kSolid = 20;

  uint32_t kind = 0;
  uint8_t r = 0;  // solid: the cell's colour as stored (Y, Cb, Cr for video frames)
  uint8_t g = 0;
  uint8_t b = 0;
  uint16_t bitmapId = 0;
  int32_t translateX = 0;  // pixels
  int32_t translateY = 0;
  float scaleX = 1.0f;
  float scaleY = 1.0f;
};

// A bitmap whose last visible use has gone: freed after the limbo frames. Refers to the
// UseRect by its frame and its index in that frame's list, so that no pointer into a
// growable list outlives a reallocation.
struct LimboEntry {
  bool used = false;
  uint32_t frame = 0;  // the frame whose FrameUse holds the rectangle
  uint32_t rect = 0;   // index in that frame's UseRect list
};

// Owned by the controller for one run. Calling order: SetOptions, Initialise, then Run on the
// encoding thread. From any other thread only the accessors below marked "any thread",
// RequestStop and ResetFigures (before Run) may be called.
class Transport {
 public:
  Transport();
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // The stage's own copies of its settings; searchedFrames comes from the match settings
  // (limbo frames and the frames cleared at each part start depend on it).
  void SetOptions(const TransportOptions& options, const MatchOptions& match);
  const TransportOptions& Options() const { return options_; }

  // Takes the output size and frame rate from the video source and the block size from the
  // match engine, sizes the payload buffers, derives the player frame rate, thresholds, limbo
  // frames and byte limits. audio may be null (silent movie). baseFolder (with a trailing
  // separator) resolves a relative preloader path. False (lastError set) when out of memory.
  [[nodiscard]] bool Initialise(FrameStore* frames, AudioStore* audio, FrameUseStore* uses,
                                ScreenUseStore* screen, MatchEngine* match,
                                const std::string& baseFolder);

  // The whole run: parts "<prefix>encoded.swf", "<prefix>encoded2.swf", ... for the output
  // frames [0, endFrame) and the selection's endTimeMs. False on failure or cancellation
  // (Status() tells which, ErrorText() says why).
  [[nodiscard]] bool Run(const std::string& partPrefix, uint32_t endFrame, uint32_t endTimeMs);

  // --- steps of a run (public so that a part can be driven piecewise) -------------------
  // Resets the per-part counters and tells the stages the part's first frame.
  void StartPart(uint32_t firstFrame);
  // The tags every part starts with. False with status and error text set.
  [[nodiscard]] bool WritePartStart();
  // Frames from firstFrame until the part is full or the selection ends; endFrame then holds
  // the first frame not written. False on frame failure or stop request.
  [[nodiscard]] bool EncodePart(uint32_t firstFrame, uint32_t& endFrame, uint32_t endTimeMs);
  // One video frame under the budget; emitted says whether its picture was written.
  [[nodiscard]] bool EncodeFrame(uint32_t frame, uint32_t budget, bool partLimited, bool& emitted);
  // The chaining or end actions of the part, ShowFrame (last part) and End.
  void WritePartEnd(bool last);

  // --- shared with the controller (any thread) --------------------------------------------
  TransportStatus Status() const { return status_.load(std::memory_order_acquire); }
  void RequestStop() { stopRequested_.store(true, std::memory_order_release); }
  void ClearStop() { stopRequested_.store(false, std::memory_order_release); }
  bool StopRequested() const { return stopRequested_.load(std::memory_order_acquire); }
  // Valid once Status() is kError, kCancelled or kFinished.
  const std::string& ErrorText() const { return errorText_; }
  // Zeroes progress, bytes, largest part and bit rate (the controller does so before a run).
  void ResetFigures();

  float Progress() const { return progress_.load(std::memory_order_relaxed); }  // percent
  uint64_t BytesWritten() const { return bytesSoFar_.load(std::memory_order_relaxed); }
  float BitRate() const { return bitRate_.load(std::memory_order_relaxed); }  // bit/s
  uint64_t LargestPartBytes() const { return largestPart_.load(std::memory_order_relaxed); }
  uint64_t EarlierPartsBytes() const { return earlierParts_.load(std::memory_order_relaxed); }
  uint32_t FrameCount() const { return frameCount_.load(std::memory_order_relaxed); }
  uint32_t EmittedFrames() const { return emittedFrames_.load(std::memory_order_relaxed); }
  uint64_t EncodedPixels() const { return encodedPixels_.load(std::memory_order_relaxed); }
  uint64_t FramePixels() const { return framePixels_.load(std::memory_order_relaxed); }
  uint64_t PlayerMemory() const { return playerMemory_.load(std::memory_order_relaxed); }
  // Parts begun so far (from 1); after a finished run, the number of part files.
  uint32_t PartCount() const { return partNumber_.load(std::memory_order_relaxed); }

  // --- figures of the run (encoding thread, or after the run) -----------------------------
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  double VideoFrameRate() const { return videoFps_; }
  double PlayerFrameRate() const { return playerFps_; }
  uint32_t LimboFrames() const { return limboFrames_; }
  uint32_t BytesPerSecond() const { return bytesPerSecond_; }  // 0 = no bit-rate limit
  uint32_t PartSizeLimit() const { return partSizeLimit_; }    // 0 = no limit
  uint16_t ShapeIdCounter() const { return shapeId_; }
  // Lets a caller (a test) start a part with fewer ids left; StartPart resets the counter.
  void SetShapeIdCounter(uint16_t id) { shapeId_ = id; }
  // Caps every part's output buffer (default: no cap), so that running out of memory while
  // a part is assembled can be exercised.
  void SetOutputLimit(uint32_t bytes) { outputLimit_ = bytes; }
  // Off: every part is assembled whole in memory and stored at its end, instead of going to
  // its file as its frames are committed (tests compare the two).
  void SetStreamOutput(bool on) { streamOutput_ = on; }
  uint16_t DepthCounter() const { return depth_; }
  uint32_t FramesInPart() const { return framesInPart_; }
  const std::vector<FrameRecord>& FrameRecords() const { return frameRecords_; }
  const std::vector<FillEntry>& Fills() const { return fills_; }
  const SwfMatrix& Placement() const { return placement_; }
  const SwfRect& Stage() const { return stage_; }
  uint8_t PartVersion() const { return partVersion_; }
  uint32_t PreloaderFrameCount() const { return preloaderFrames_; }
  // The part being assembled (open from the start of a part to its file being written).
  SwfWriter& Writer() { return writer_; }
  SoundStream& Sound() { return *sound_; }
  BitmapDefinitions& Bitmaps() { return *bitmaps_; }

  std::string lastError;  // Initialise failures

 private:
  // Frame emission.
  [[nodiscard]] bool BuildFills(uint32_t frame);
  void WriteFrameShape(uint16_t shapeId);
  void DrawRect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t fill);
  void CountUses(uint32_t frame);
  void ReleaseUses(uint32_t removedFrame, uint32_t frame);
  void FreeWaiting(uint32_t frame);
  void StoreRecord(uint32_t frame, uint32_t shapeId, uint32_t depth);
  [[nodiscard]] bool AssignCharacterIds(uint32_t frame);
  void SkipFrame(uint32_t frame, bool partLimited, uint32_t startPos);
  // What the encoding thread does for the next frame while this frame's bitmaps are encoded
  // (nothing when it has no thread to share the work with).
  std::function<void()> MatchAhead(uint32_t frame);
  // ShowFrame, remembering where it ends so that it can be taken back.
  void WriteShowFrame();
  // Removes the ShowFrame that ends the stream; false when the stream does not end with one.
  bool RemoveLastShowFrame();
  void UpdateFrameFigures(uint32_t frame, uint32_t firstFrame, uint32_t endFrame);

  // Parts.
  [[nodiscard]] bool ReadPreloader();
  void ComputeStage(bool withPreloader);
  void WriteUserVariables();
  void WriteLinkButton();
  void WritePreloaderTags();
  void Fail(TransportStatus status, const std::string& text);
  // The error text for a frame that could not be encoded: a picture or sound the input could
  // not give is said to be the file's fault; anything else is an engine error.
  std::string FrameFailureText(uint32_t frame);
  void FinishRun();
  void StopStages();
  // The header insert a part is expected to get (its part variables), reserved in its file.
  uint32_t ExpectedInsert(uint32_t part) const;
  [[nodiscard]] bool SetPartVariables(uint32_t part, bool last);
  // Sends the finished frames of the part to its file. False with status and error text set.
  [[nodiscard]] bool CommitFrames();

  TransportOptions options_;
  int32_t searchedFrames_ = 40;
  std::string baseFolder_;

  FrameStore* frames_ = nullptr;
  AudioStore* audio_ = nullptr;
  FrameUseStore* uses_ = nullptr;
  ScreenUseStore* screen_ = nullptr;
  MatchEngine* match_ = nullptr;
  bool hasPictures_ = true;

  std::unique_ptr<BitmapDefinitions> bitmaps_;
  std::unique_ptr<SoundStream> sound_;
  std::unique_ptr<PreloaderMovie> preloader_;
  SwfWriter writer_;

  // Run figures fixed at initialisation.
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t blockWidth_ = 8;
  uint32_t blockHeight_ = 8;
  double videoFps_ = 12.0;
  double playerFps_ = 12.0;
  uint32_t limboFrames_ = 0;
  uint32_t bytesPerSecond_ = 0;
  uint32_t partSizeLimit_ = 0;
  bool optimizeMemory_ = false;

  // Part state.
  uint16_t shapeId_ = kFirstShapeId;
  uint16_t depth_ = 1;
  std::vector<FrameRecord> frameRecords_;
  std::vector<FillEntry> fills_;
  std::vector<uint32_t> rectFills_;  // fill index of each rectangle to draw (or none)
  std::vector<uint32_t> order_;      // drawing order of the rectangles
  std::vector<SwfFillStyle> fillStyles_;
  std::vector<LimboEntry> waiting_;
  uint32_t waitingCount_ = 0;
  int32_t lastFill_ = -1;
  int32_t penX_ = 0;
  int32_t penY_ = 0;
  uint32_t fillBits_ = 0;
  SwfMatrix placement_ = SwfMatrix::Scale(kPixelToTwipScale, kPixelToTwipScale);
  SwfRect stage_;
  uint8_t partVersion_ = kSwfVersion;
  uint32_t preloaderFrames_ = 0;
  uint32_t framesInPart_ = 0;
  uint64_t frameEncodedPixels_ = 0;
  uint32_t showFrameEnd_ = 0;      // stream position right after the last ShowFrame written
  uint32_t prevShowFrameEnd_ = 0;  // the same for the one before

  // Run state.
  uint32_t outputLimit_ = UINT32_MAX;
  bool streamOutput_ = true;
  uint32_t lastEndFrame_ = 0;
  uint32_t lastEndTimeMs_ = 0;
  double videoTime_ = 0.0;
  double playerTime_ = 0.0;
  uint64_t sumEncodedPixels_ = 0;  // encoding thread's own sums; published below
  uint64_t sumFramePixels_ = 0;
  std::string errorText_;

  std::atomic<TransportStatus> status_{TransportStatus::kNotStarted};
  std::atomic<bool> stopRequested_{false};
  std::atomic<float> progress_{0.0f};
  std::atomic<uint64_t> bytesSoFar_{0};
  std::atomic<float> bitRate_{0.0f};
  std::atomic<uint64_t> earlierParts_{0};
  std::atomic<uint64_t> largestPart_{0};
  std::atomic<uint32_t> frameCount_{0};
  std::atomic<uint32_t> emittedFrames_{0};
  std::atomic<uint64_t> encodedPixels_{0};
  std::atomic<uint64_t> framePixels_{0};
  std::atomic<uint64_t> playerMemory_{0};
  std::atomic<uint32_t> partNumber_{0};
};

}  // namespace quillon
