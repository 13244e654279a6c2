#include "encoder/encoder_controller.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <new>

#include "audio/audio_store.h"
#include "encoder/atomic_file.h"
#include "encoder/movie_saver.h"
#include "encoder/temp_folder.h"
#include "match/frame_use_store.h"
#include "match/match_engine.h"
#include "match/screen_use_store.h"
#include "settings/settings_file.h"
#include "swf/transport/transport.h"
#include "video/frame_store.h"

namespace quillon {

namespace {

constexpr const char* kNoAudio = "No Audio available";
constexpr const char* kNotEnoughMemory = "Not enough memory to continue";
constexpr const char* kOpenSettingsText =
    "Could not open the Settings file.\nMake sure this is a correct Quillon Video Encoder "
    "settings file and that you have the necessary reading permissions.";
constexpr const char* kSaveSettingsText =
    "Could not save the Settings file.\nPlease check about enough free space (about 5k) and "
    "that you have the necessary permissions.";
constexpr const char* kSaveMovieText =
    "Unable to save the encoded Flash movie. Please check that you have the necessary "
    "permissions and that the disk is not full.";

// A sound file alone is encoded over a blank picture of this size and rate.
constexpr uint32_t kBlankWidth = 400;
constexpr uint32_t kBlankHeight = 300;
constexpr double kBlankFps = 12.0;

// Nice increments of the encoding thread for priorities 1 (lower) and 2 (lowest).
constexpr int kNiceLower = 5;
constexpr int kNiceLowest = 10;

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool IsEndStatus(TransportStatus s) {
  return s == TransportStatus::kFinished || s == TransportStatus::kError ||
         s == TransportStatus::kCancelled;
}

void SleepStopCheck() {
  std::this_thread::sleep_for(std::chrono::milliseconds(kStopCheckMs));
}

double Compression(uint64_t sent, uint64_t all) {
  if (all == 0) return 0.0;
  const double c = 100.0 - 100.0 * static_cast<double>(sent) / static_cast<double>(all);
  return c < 0.0 ? 0.0 : c;
}

}  // namespace

EncoderController::EncoderController() {
  errorTitle_.reserve(64);
  errorText_.reserve(256);
  soundDescription_ = kNoAudio;
  SetDefaults(settings_);
}

EncoderController::~EncoderController() {
  StopRun();
  DestroyStages();
  video_.reset();
  audio_.reset();
  DeleteTemporaryParts();
  ClearMessages();
}

void EncoderController::ClearMessages() {
  errorTitle_.clear();
  errorText_.clear();
}

void EncoderController::SetMessage(const std::string& title, const std::string& text) {
  errorTitle_ = title;
  errorText_ = text;
}

const char* EncoderController::GetMessage(std::string* text) const {
  if (text != nullptr) *text = errorText_;
  return errorTitle_.empty() ? nullptr : errorTitle_.c_str();
}

bool EncoderController::SetPreferences(uint32_t readerMask, uint32_t priority,
                                       const std::string& applicationFolder, void* windowHandle) {
  ClearMessages();
  readerMask_ = readerMask;
  priority_ = priority;
  applicationFolder_ = applicationFolder;
  windowHandle_ = windowHandle;
  return true;
}

bool EncoderController::OpenMovie(const std::string& path) {
  ClearMessages();
  if (std::FILE* probe = std::fopen(path.c_str(), "rb"); probe != nullptr) {
    std::fclose(probe);
  } else {
    SetMessage(kTitleOpenMovie, "Unable to Open File - It doesn't look like a Movie");
    return false;
  }
  std::unique_ptr<FrameStore> video;
  std::unique_ptr<AudioStore> audio;
  try {
    video = std::make_unique<FrameStore>();
    audio = std::make_unique<AudioStore>();
  } catch (const std::bad_alloc&) {
    SetMessage(kTitleOutOfMemory, kNotEnoughMemory);
    return false;
  }
  video->SetReaderMask(readerMask_);
  audio->SetReaderMask(readerMask_);
  video->SetWindowHandle(windowHandle_);
  const bool videoOpened = video->Open(path);
  const bool soundOpened = audio->Open(path);

  uint8_t channels = 0;
  uint32_t rate = 0;
  uint8_t bits = 0;
  std::string description = kNoAudio;
  if (soundOpened) {
    channels = static_cast<uint8_t>(audio->Channels());
    rate = audio->SampleRate();
    bits = audio->ReaderKind() == AudioReaderKind::kNone
               ? 16
               : static_cast<uint8_t>(audio->BitsPerSample());
    char text[256];
    std::snprintf(text, sizeof text, "%s %.1fkHz, %ubit", channels == 1 ? "Mono" : "Stereo",
                  rate / 1000.0, static_cast<unsigned>(bits));
    description = text;
    if (!videoOpened) {
      const uint32_t durationMs = std::max<uint32_t>(audio->DurationMs(), 1);
      const auto frames = static_cast<uint32_t>(durationMs * 0.012);
      video->SetEmptyVideo(frames, durationMs, kBlankWidth, kBlankHeight, kBlankFps);
    }
  } else if (!videoOpened) {
    // Without pictures the sound was the last hope; say that it failed too.
    const std::string why = video->lastError == kNoVideoStream
                                ? video->lastError + ", nor any sound FFmpeg can decode"
                                : video->lastError;
    SetMessage(kTitleOpenMovie, "Unable to Open Movie: " + why + ".");
    return false;
  }

  ReleaseMovie();
  const bool hadMovie = !moviePath_.empty();
  const double previousRate = sourceFps_;
  video_ = std::move(video);
  audio_ = std::move(audio);
  audioUsable_ = soundOpened;
  // Keep an absolute output rate in the same proportion to the new movie's rate.
  if (hadMovie && previousRate != 0.0 && settings_.frame.fps > 0.0) {
    settings_.frame.fps = -(settings_.frame.fps / previousRate * 100.0);
  }
  soundChannels_ = channels;
  soundRate_ = rate;
  soundBits_ = bits;
  soundDescription_ = description;
  sourceWidth_ = video_->SourceWidth();
  sourceHeight_ = video_->SourceHeight();
  sourceFps_ = video_->SourceFps();
  moviePath_ = path;
  averageBitRate_ = 0.0;
  previousBitRate_ = 0.0;
  partCount_ = 0;
  lastDestination_.clear();
  tempFolder_.clear();
  previewPath_.clear();
  return true;
}

void EncoderController::ReleaseMovie() {
  StopRun();
  DestroyStages();
  video_.reset();
  audio_.reset();
  audioUsable_ = false;
  ClearMessages();
  DeleteTemporaryParts();
}

bool EncoderController::LoadSettings(const std::string& path) {
  ClearMessages();
  EncoderSettings fresh;
  SetDefaults(fresh);
  if (!LoadSettingsFile(path, fresh)) {
    SetMessage(kTitleOpenSettings, kOpenSettingsText);
    return false;
  }
  settings_ = std::move(fresh);
  settingsPath_ = path;
  return true;
}

bool EncoderController::SaveSettings(const std::string& path) {
  ClearMessages();
  if (!SaveSettingsFile(path, settings_)) {
    SetMessage(kTitleSaveSettings, kSaveSettingsText);
    return false;
  }
  settingsPath_ = path;
  return true;
}

bool EncoderController::PrepareRun(uint32_t startMs, uint32_t durationMs) {
  if (IsActive()) StopRun();
  ClearMessages();
  state_ = RunState::kPrepared;
  startTick_ = NowMs();
  previousBitRate_ = averageBitRate_;
  averageBitRate_ = 0.0;
  estimatedMs_ = 0;
  elapsedMs_ = 0;
  progress_ = 0.0;
  outputBytes_ = 0;
  playerMemory_ = 0;
  pixelCompression_ = 0.0;

  if (!video_) {
    SetMessage(kTitleEncoder, "Unable to init FrameStore");
    StopRun();
    return false;
  }
  try {
    uses_ = std::make_unique<FrameUseStore>();
    screen_ = std::make_unique<ScreenUseStore>();
    match_ = std::make_unique<MatchEngine>();
    transport_ = std::make_unique<Transport>();
  } catch (const std::bad_alloc&) {
    SetMessage(kTitleOutOfMemory, kNotEnoughMemory);
    StopRun();
    return false;
  }
  if (!video_->Configure(settings_.frame)) {
    SetMessage(kTitleEncoder, "Unable to init FrameStore");
    StopRun();
    return false;
  }
  if (!video_->SelectRange(startMs, durationMs)) {
    SetMessage(kTitleEncoder, "Unable to setup FrameStore");
    StopRun();
    return false;
  }
  selectionStart_ = video_->RangeStartMs();
  selectionDuration_ = video_->RangeDurationMs();
  selectionFrames_ = video_->RangeFrameCount();
  const double playerRate = PlayerFrameRate(settings_.transport.playerFps, video_->OutputFps());
  playerFrames_ = static_cast<uint32_t>(playerRate * selectionDuration_ / 1000.0);

  if (audioUsable_) {
    AudioOptions audioCopy = settings_.audio;
    (void)audio_->Setup(audioCopy);  // a sound track that cannot be set up makes a silent run
    if (!audio_->SetRange(selectionStart_, selectionDuration_)) {
      SetMessage(kTitleEncoder, "Unable to setup AudioSet: " + audio_->lastError);
      StopRun();
      return false;
    }
  }
  startTick_ = NowMs();
  transport_->ResetFigures();
  DeleteTemporaryParts();
  tempFolder_.clear();
  previewPath_.clear();
  partCount_ = 0;
  return true;
}

bool EncoderController::StartStages() {
  MatchOptions matchCopy = settings_.match;
  matchCopy.limit = settings_.match.limit;
  matchCopy.plainBound = settings_.match.plainBound;
  if (!match_->Setup(matchCopy, video_.get(), uses_.get(), screen_.get())) {
    SetMessage(kTitleEncoder, "Unable to init MatchEngine - Out of memory");
    return false;
  }
  if (!uses_->Setup(*video_)) {
    SetMessage(kTitleEncoder, "Unable to init FrameUseStore - Out of memory");
    return false;
  }
  if (!screen_->Setup(*video_, match_->BlockWidth(), match_->BlockHeight())) {
    SetMessage(kTitleEncoder, "Unable to init ScreenUseStore - Out of memory");
    return false;
  }
  transport_->SetOptions(settings_.transport, settings_.match);
  AudioStore* sound = audioUsable_ && audio_->IsActive() ? audio_.get() : nullptr;
  if (!transport_->Initialise(video_.get(), sound, uses_.get(), screen_.get(), match_.get(),
                              applicationFolder_)) {
    SetMessage(kTitleEncoder, "Unable to init Transport - Out of memory");
    return false;
  }
  transport_->ClearStop();

  // What the thread needs, copied so that it never reads controller fields while it runs.
  Transport* transport = transport_.get();
  const std::string folder = tempFolder_;
  const uint32_t frames = selectionFrames_;
  const uint32_t duration = selectionDuration_;
  const int niceIncrement = priority_ == 1 ? kNiceLower : priority_ == 2 ? kNiceLowest : 0;
  threadDone_.store(false, std::memory_order_release);
  try {
    thread_ = std::thread([this, transport, folder, frames, duration, niceIncrement] {
      if (niceIncrement != 0) {
        const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
        errno = 0;
        const int current = ::getpriority(PRIO_PROCESS, tid);
        if (errno == 0) ::setpriority(PRIO_PROCESS, tid, current + niceIncrement);
      }
      (void)transport->Run(folder, frames, duration);
      threadDone_.store(true, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    threadDone_.store(true, std::memory_order_release);
    SetMessage(kTitleEncoder, "Unable to start the encoding thread");
    return false;
  }
  return true;
}

bool EncoderController::Step() {
  if (state_ == RunState::kPrepared) {
    std::string folder;
    if (!MakeTemporaryFolder(folder)) {
      SetMessage(kTitleEncoder, "Unable to create a temporary folder for the Flash movie");
      StopRun();
      return false;
    }
    tempFolder_ = folder;
    transport_->ResetFigures();
    if (!StartStages()) {
      StopRun();
      return false;
    }
    previewPath_ = tempFolder_ + "encoded.swf";
    state_ = RunState::kRunning;
    return true;
  }
  if (state_ != RunState::kRunning) return false;
  const TransportStatus status = transport_->Status();
  switch (status) {
    case TransportStatus::kError:
      transport_->RequestStop();
      SetMessage(kTitleEncoder, "Unable to encode Flash movie: " + transport_->ErrorText());
      StopRun();
      return false;
    case TransportStatus::kCancelled:
      StopRun();
      return false;
    case TransportStatus::kFinished:
      GatherFinishedFigures();
      ClearMessages();
      StopRun();
      return true;
    default:
      return true;
  }
}

void EncoderController::GatherFinishedFigures() {
  averageBitRate_ = transport_->BitRate();
  outputBytes_ = transport_->BytesWritten();
  playerMemory_ = transport_->PlayerMemory();
  partCount_ = transport_->PartCount();
  pixelCompression_ = Compression(transport_->EncodedPixels(), transport_->FramePixels());
  progress_ = 100.0;
}

uint32_t EncoderController::SmoothEstimate(uint32_t oldEstimateMs, uint32_t elapsedMs,
                                           double progress) {
  if (!(progress > 0.0)) return oldEstimateMs;
  const auto fresh = static_cast<uint64_t>(static_cast<double>(elapsedMs) * 100.0 / progress);
  if (oldEstimateMs == 0) return static_cast<uint32_t>(std::min<uint64_t>(fresh, UINT32_MAX));
  const uint64_t mixed = (fresh + 3ull * oldEstimateMs) / 4;
  return static_cast<uint32_t>(std::min<uint64_t>(mixed, UINT32_MAX));
}

bool EncoderController::UpdateProgress() {
  if (!IsActive()) return false;
  if (state_ == RunState::kRunning) {
    progress_ = std::floor(static_cast<double>(transport_->Progress()));
    averageBitRate_ = transport_->BitRate();
    outputBytes_ = transport_->BytesWritten();
    partCount_ = transport_->PartCount();
    pixelCompression_ = Compression(transport_->EncodedPixels(), transport_->FramePixels());
  } else {
    progress_ = 0.0;
  }
  const uint64_t elapsed = NowMs() - startTick_;
  elapsedMs_ = static_cast<uint32_t>(std::min<uint64_t>(elapsed, UINT32_MAX));
  estimatedMs_ = SmoothEstimate(estimatedMs_, elapsedMs_, progress_);
  return true;
}

void EncoderController::RequestCancel() {
  if (transport_) transport_->RequestStop();
}

bool EncoderController::StopRun() {
  if (!IsActive()) return false;
  if (transport_) {
    transport_->RequestStop();
    const bool started = thread_.joinable();
    while (started && !threadDone_.load(std::memory_order_acquire) &&
           !IsEndStatus(transport_->Status())) {
      transport_->RequestStop();
      SleepStopCheck();
    }
  }
  if (thread_.joinable()) thread_.join();
  // Parts of a run that did not finish are no movie: saving them would pass off a torn file.
  if (!transport_ || transport_->Status() != TransportStatus::kFinished) partCount_ = 0;
  state_ = RunState::kIdle;
  DestroyStages();
  return true;
}

void EncoderController::DestroyStages() {
  transport_.reset();
  match_.reset();
  uses_.reset();
  screen_.reset();
}

void EncoderController::DeleteTemporaryParts() {
  RemoveTemporaryParts(tempFolder_);
}

void EncoderController::AdoptTemporaryParts(const std::string& folder, uint32_t partCount) {
  tempFolder_ = folder;
  partCount_ = partCount;
  previewPath_ = partCount > 0 ? folder + "encoded.swf" : std::string();
}

bool EncoderController::CheckDestination(const std::string& destination) {
  ClearMessages();
  return SparesTheMovie(SplitDestination(destination), 0);
}

bool EncoderController::SparesTheMovie(const DestinationName& name, uint32_t partCount) {
  if (moviePath_.empty()) return true;
  const std::string clash = FindPartThatIs(moviePath_, name, partCount);
  if (clash.empty()) return true;
  SetMessage(kTitleSaveMovie, "The destination " + clash +
                                  " is the movie being converted; saving would overwrite it. "
                                  "Choose another name.");
  return false;
}

bool EncoderController::SaveMovie(const std::string* destination) {
  ClearMessages();
  if (tempFolder_.empty() || partCount_ == 0) return false;
  const std::string target = destination != nullptr ? *destination : lastDestination_;
  const DestinationName name = SplitDestination(target);
  if (!SparesTheMovie(name, partCount_)) return false;

  // Every part is written in full beside its destination before any destination changes, so
  // a failure up to the renames leaves each existing file as it was.
  std::vector<AtomicFile> files(partCount_);
  std::string detail;
  bool ok = true;
  for (uint32_t n = 1; n <= partCount_ && ok; ++n) {
    if (InterruptSignal() != 0) return false;
    AtomicFile& file = files[n - 1];
    if (!file.Create(FinalPartName(name, n))) {
      detail = file.lastError;
      ok = false;
      break;
    }
    const std::string from = SwfWriter::PartFileName(tempFolder_, n);
    ok = partCount_ == 1
             ? CopyPartFile(from, file.Stream(), detail)
             : RewritePartFile(from, file.Stream(), name.name, n, n == partCount_, detail);
    if (ok && !file.Finish()) {
      detail = file.lastError;
      ok = false;
    }
  }
  for (uint32_t n = 0; n < partCount_ && ok; ++n) {
    if (files[n].Publish()) continue;
    detail = files[n].lastError;
    ok = false;
    // The parts already in place that no file stood for before are this save's own.
    for (uint32_t k = 0; k < n; ++k) {
      if (files[k].IsNew()) std::remove(files[k].Target().c_str());
    }
  }
  if (!ok) {
    SetMessage(kTitleSaveMovie, detail.empty() ? kSaveMovieText : kSaveMovieText + ("\n" + detail));
    return false;
  }
  return true;
}

}  // namespace quillon
