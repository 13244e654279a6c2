// The Transport's run: initialisation, the loop over parts, the final figures and the status
// word the controller polls.
#include "swf/transport/transport.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "audio/audio_store.h"
#include "match/frame_use_store.h"
#include "match/match_engine.h"
#include "match/screen_use_store.h"
#include "settings/trace.h"
#include "swf/action_builder.h"
#include "swf/transport/bitmap_definitions.h"
#include "swf/transport/preloader_movie.h"
#include "swf/transport/sound_stream.h"
#include "video/frame_store.h"

namespace quillon {

namespace {

// The frames a run reads whole: the one being encoded and the next, matched meanwhile.
constexpr uint32_t kHeldFrames = 2;

// Lends the run's stop flag to the stages for as long as Run lasts: they look at it inside a
// frame's long loops (filters, matching, cutting into rectangles, bitmap trials), so that a
// cancel need not wait for a huge frame. Taken back at every exit, since the stages may outlive
// this Transport.
class StopFlagLease {
 public:
  StopFlagLease(const std::atomic<bool>* flag, FrameStore& frames, MatchEngine& match,
                FrameUseStore& uses, BitmapDefinitions& bitmaps, SoundStream& sound)
      : frames_(frames), match_(match), uses_(uses), bitmaps_(bitmaps), sound_(sound) {
    Lend(flag);
  }
  ~StopFlagLease() { Lend(nullptr); }
  StopFlagLease(const StopFlagLease&) = delete;
  StopFlagLease& operator=(const StopFlagLease&) = delete;

 private:
  void Lend(const std::atomic<bool>* flag) {
    frames_.SetCancelFlag(flag);
    match_.SetCancelFlag(flag);
    uses_.SetCancelFlag(flag);
    bitmaps_.SetCancelFlag(flag);
    sound_.SetCancelFlag(flag);
  }
  FrameStore& frames_;
  MatchEngine& match_;
  FrameUseStore& uses_;
  BitmapDefinitions& bitmaps_;
  SoundStream& sound_;
};

// Ends the video source's decoding ahead when a run leaves by any way.
struct PrefetchStop {
  FrameStore& frames;
  ~PrefetchStop() { frames.StopPrefetching(); }
};


// The part variables script, alone in a writer of its own.
bool BuildPartVariables(SwfWriter& scratch, uint32_t part, bool last) {
  if (!scratch.Open(256, 256, 1.0f)) return false;
  ActionBuilder(scratch).PartVariablesScript("encoded", part, last);
  return !scratch.OutputFailed();
}

}  // namespace

std::string EngineErrorText(uint32_t number) {
  char head[40];
  std::snprintf(head, sizeof head, "Internal Engine Error: 0x%02X\n", number);
  return std::string(head) + "Please kindly contact " + kSupportAddress +
         " stating the error number and information about this movie.";
}

Transport::Transport()
    : bitmaps_(std::make_unique<BitmapDefinitions>()),
      sound_(std::make_unique<SoundStream>()),
      preloader_(std::make_unique<PreloaderMovie>()) {}

Transport::~Transport() = default;

void Transport::SetOptions(const TransportOptions& options, const MatchOptions& match) {
  options_ = options;
  searchedFrames_ = match.searchedFrames;
}

bool Transport::Initialise(FrameStore* frames, AudioStore* audio, FrameUseStore* uses,
                           ScreenUseStore* screen, MatchEngine* match,
                           const std::string& baseFolder) {
  lastError.clear();
  if (frames == nullptr || uses == nullptr || screen == nullptr || match == nullptr) {
    lastError = "Transport needs the video source and the three matching stages";
    return false;
  }
  frames_ = frames;
  audio_ = audio;
  uses_ = uses;
  screen_ = screen;
  match_ = match;
  baseFolder_ = baseFolder;

  width_ = frames->OutputWidth();
  height_ = frames->OutputHeight();
  videoFps_ = frames->OutputFps() > 0.0 ? frames->OutputFps() : 12.0;
  hasPictures_ = frames->GetReaderKind() != ReaderKind::kEmptyVideo;
  blockWidth_ = std::max<uint32_t>(1, match->BlockWidth());
  blockHeight_ = std::max<uint32_t>(1, match->BlockHeight());

  playerFps_ = quillon::PlayerFrameRate(options_.playerFps, videoFps_);
  limboFrames_ = quillon::LimboFrames(options_.playerBlockLimbo, searchedFrames_);
  bytesPerSecond_ = BudgetBytesPerSecond(options_.bitrateLimit);
  partSizeLimit_ = PartByteLimit(options_.partSizeLimit);
  optimizeMemory_ = (options_.playerFlags & TransportOptions::kPlayerOptimizeMemory) != 0;

  try {
    if (!bitmaps_->Initialise(options_, frames, uses, screen, width_, height_, blockWidth_,
                              blockHeight_)) {
      lastError = bitmaps_->lastError;
      return false;
    }
    frameRecords_.reserve(frames->RangeFrameCount());
    fills_.reserve(256);
    waiting_.reserve(64);
  } catch (const std::bad_alloc&) {
    lastError = "Out of memory";
    return false;
  }
  sound_->Initialise(audio, playerFps_);
  return true;
}

void Transport::ResetFigures() {
  progress_.store(0.0f, std::memory_order_relaxed);
  bytesSoFar_.store(0, std::memory_order_relaxed);
  bitRate_.store(0.0f, std::memory_order_relaxed);
  earlierParts_.store(0, std::memory_order_relaxed);
  largestPart_.store(0, std::memory_order_relaxed);
  frameCount_.store(0, std::memory_order_relaxed);
  emittedFrames_.store(0, std::memory_order_relaxed);
  encodedPixels_.store(0, std::memory_order_relaxed);
  framePixels_.store(0, std::memory_order_relaxed);
  playerMemory_.store(0, std::memory_order_relaxed);
  sumEncodedPixels_ = 0;
  sumFramePixels_ = 0;
}

void Transport::Fail(TransportStatus status, const std::string& text) {
  // Once the status word says the run is over the controller may reopen or reconfigure the
  // video source: no thread of this run may still be reading it.
  if (frames_ != nullptr) frames_->StopPrefetching();
  // Nor may the sound's encoding thread outlive the outcome.
  sound_->ReleaseAudio();
  // The text must be complete before the status word tells the controller to read it.
  if (status == TransportStatus::kError) errorText_ = text;
  status_.store(status, std::memory_order_release);
}

void Transport::StopStages() {
  if (frames_ != nullptr) frames_->StopPrefetching();
  sound_->StopSound();
  match_->Finish();
  writer_.Close();
}

bool Transport::Run(const std::string& partPrefix, uint32_t endFrame, uint32_t endTimeMs) {
  if (StopRequested()) {
    Fail(TransportStatus::kCancelled, {});
    return false;
  }
  errorText_.clear();
  ResetFigures();
  const StopFlagLease lease(&stopRequested_, *frames_, *match_, *uses_, *bitmaps_, *sound_);
  lastEndFrame_ = endFrame;
  lastEndTimeMs_ = endTimeMs;
  partNumber_.store(0, std::memory_order_relaxed);
  status_.store(TransportStatus::kRunning, std::memory_order_release);

  (void)match_->Start();
  // The matching compares blocks with copies it keeps of the earlier frames' blocks, so the
  // frame cache need hold only the frames read whole. (Not given back at the end: once the status word says the run is
  // over the controller may be reconfiguring the store; its SelectRange gives it back.)
  frames_->LimitCache(kHeldFrames);
  sound_->ClearCarriedBlock();
  // The MP3 sound is encoded ahead on a thread of its own when the run has more than one;
  // every way out of the run below stops it (Fail or StopSound) before the status word is final.
  sound_->SetEncodeAhead(bitmaps_->Threads() > 1);
  if (!sound_->StartSound()) {
    match_->Finish();
    Fail(TransportStatus::kError, EngineErrorText(2));
    return false;
  }
  partNumber_.store(1, std::memory_order_relaxed);
  // With more than one thread the next frame is decoded while the current one is matched,
  // encoded and written. Started here, on the encoding thread, so that the decoding thread
  // shares its scheduling priority.
  if (hasPictures_ && bitmaps_->Threads() > 1) frames_->StartPrefetching();
  // Every end of the run stops it before publishing the status; this covers any other way out,
  // and ends it before the lease takes the stop flag back from the store.
  const PrefetchStop prefetchStop{*frames_};
  videoTime_ = 0.0;
  playerTime_ = 0.0;

  uint32_t first = 0;
  for (;;) {
    const uint32_t part = partNumber_.load(std::memory_order_relaxed);
    StartPart(first);
    if (!writer_.Open(kPartBufferInitial, kPartBufferIncrement, kPartBufferFactor)) {
      StopStages();
      Fail(TransportStatus::kError, EngineErrorText(3));
      return false;
    }
    writer_.Output()->SetCapacityLimit(outputLimit_);
    if (!WritePartStart()) {
      StopStages();
      return false;
    }
    if (streamOutput_ &&
        !writer_.StreamTo(SwfWriter::PartFileName(partPrefix, part), ExpectedInsert(part))) {
      StopStages();
      Fail(TransportStatus::kError, kPartWriteError);
      return false;
    }
    uint32_t next = endFrame;
    if (!EncodePart(first, next, endTimeMs)) {
      StopStages();
      if (StopRequested() && Status() != TransportStatus::kError) {
        Fail(TransportStatus::kCancelled, {});
      }
      return false;
    }
    const bool last = next >= endFrame;
    if (!last || part > 1) {
      // The controller's saving step rewrites exactly the first tag after the header, so
      // the part variables must be there, ahead of the preloader and the user's actions.
      if (!SetPartVariables(part, last)) {
        StopStages();
        Fail(TransportStatus::kError, EngineErrorText(3));
        return false;
      }
    }
    WritePartEnd(last);

    const uint64_t length = writer_.PartLength();
    earlierParts_.store(EarlierPartsBytes() + length, std::memory_order_relaxed);
    largestPart_.store(std::max(LargestPartBytes(), length), std::memory_order_relaxed);
    writer_.FinishPart(framesInPart_);
    if (writer_.OutputFailed()) {
      // A dropped write would leave a corrupt part; report it as the memory failure it is.
      StopStages();
      Fail(TransportStatus::kError, EngineErrorText(3));
      return false;
    }
    if (!writer_.WritePartFile(partPrefix, part)) {
      StopStages();
      Fail(TransportStatus::kError, kPartWriteError);
      return false;
    }
    Trace("Part %u: %llu bytes, %u frames\n", part, static_cast<unsigned long long>(length),
          framesInPart_);
    if (last) break;
    partNumber_.store(part + 1, std::memory_order_relaxed);
    first = next;
    writer_.Close();
  }

  sound_->StopSound();
  match_->Finish();
  writer_.Close();
  FinishRun();
  return true;
}

uint32_t Transport::ExpectedInsert(uint32_t part) const {
  // A first part is usually the only one unless parts are limited; a later one usually has
  // a next. A wrong guess costs moving the part's bytes in its file once.
  if (part == 1 && partSizeLimit_ == 0) return 0;
  SwfWriter scratch;
  return BuildPartVariables(scratch, part, false) ? scratch.Cursor() : 0;
}

bool Transport::SetPartVariables(uint32_t part, bool last) {
  SwfWriter scratch;
  return BuildPartVariables(scratch, part, last) &&
         writer_.SetHeaderInsert(scratch.Output()->Data(), scratch.Cursor());
}

bool Transport::CommitFrames() {
  // A refused frame takes back its own bytes and at most the ShowFrame before them (which
  // the part's end then replaces): everything before that ShowFrame is final.
  const uint32_t cursor = writer_.Cursor();
  if (showFrameEnd_ != cursor || cursor < 2) return true;
  if (writer_.Commit(cursor - 2)) return true;
  Fail(TransportStatus::kError, writer_.lastError);
  return false;
}

void Transport::FinishRun() {
  if (frames_ != nullptr) frames_->StopPrefetching();
  const double totalBytes = static_cast<double>(EarlierPartsBytes());
  bytesSoFar_.store(EarlierPartsBytes(), std::memory_order_relaxed);
  // The selection's duration is the run's time base; a zero-length selection has no rate.
  const double seconds = static_cast<double>(lastEndTimeMs_) * 0.001;
  bitRate_.store(seconds > 0.0 ? static_cast<float>(totalBytes * 8.0 / seconds) : 0.0f,
                 std::memory_order_relaxed);
  progress_.store(100.0f, std::memory_order_relaxed);

  const uint64_t largest = LargestPartBytes();
  uint64_t memory = 0;
  if (optimizeMemory_) {
    double k = 0.0;
    if (sumFramePixels_ > 0) {
      k = (1.0 - static_cast<double>(sumEncodedPixels_) / static_cast<double>(sumFramePixels_)) *
              7.0 +
          5.0;
    }
    if (EmittedFrames() == 0) k = 0.0;
    const double frames = std::min(k, static_cast<double>(lastEndFrame_));
    memory = largest + static_cast<uint64_t>(std::trunc(4.0 * width_ * height_ * frames)) +
             kPlayerMemoryBase;
  } else {
    memory = largest + 4 * sumEncodedPixels_ + kPlayerMemoryBase;
  }
  playerMemory_.store(memory, std::memory_order_relaxed);
  Trace("Final: %llu bytes in %u parts, %u frames, %u emitted\n",
        static_cast<unsigned long long>(EarlierPartsBytes()), PartCount(), FrameCount(),
        EmittedFrames());
  status_.store(TransportStatus::kFinished, std::memory_order_release);
}

}  // namespace quillon
