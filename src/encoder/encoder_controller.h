// The one object that drives an encoding: owns the settings, the open movie's sources and, for
// one run, the four stages and the encoding thread; turns their figures into progress and
// statistics, and copies the temporary parts to their final names.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "settings/encoder_settings.h"

namespace quillon {

class AudioStore;
struct BatchRequest;
struct DestinationName;
class FrameStore;
class FrameUseStore;
class MatchEngine;
class ScreenUseStore;
class Transport;

// Run state; bit 0 set means a run exists.
enum class RunState : uint32_t {
  kIdle = 0,
  kPrepared = 17,
  kRunning = 19,
};

// Message titles the controller reports with.
inline constexpr const char* kTitleOpenMovie = "Error Opening Movie";
inline constexpr const char* kTitleOutOfMemory = "Out of Memory";
inline constexpr const char* kTitleEncoder = "Encoder Error";
inline constexpr const char* kTitleOpenSettings = "Error Opening Settings";
inline constexpr const char* kTitleSaveSettings = "Error Saving Settings";
inline constexpr const char* kTitleSaveMovie = "Error Saving Flash Movie";

// The controller's poll interval.
inline constexpr uint32_t kPollIntervalMs = 333;
// How often a stop looks whether the run has wound down, and a batch poll whether a signal
// came: short enough that a cancel is not held up by the waiting itself.
inline constexpr uint32_t kStopCheckMs = 10;

// Calling order: SetPreferences once; OpenMovie; LoadSettings / Settings() edits; PrepareRun;
// Step and UpdateProgress every kPollIntervalMs until Step returns false or the run ends;
// SaveMovie. Driven by one thread; the encoding thread is internal.
class EncoderController {
 public:
  EncoderController();
  ~EncoderController();
  EncoderController(const EncoderController&) = delete;
  EncoderController& operator=(const EncoderController&) = delete;

  // priority: 0 normal, 1 lower, 2 lowest for the encoding thread. Always true.
  bool SetPreferences(uint32_t readerMask, uint32_t priority, const std::string& applicationFolder,
                      void* windowHandle);
  [[nodiscard]] bool OpenMovie(const std::string& path);
  [[nodiscard]] bool LoadSettings(const std::string& path);
  [[nodiscard]] bool SaveSettings(const std::string& path);
  // durationMs kDurationToEnd (all ones) runs to the end of the movie.
  [[nodiscard]] bool PrepareRun(uint32_t startMs, uint32_t durationMs);
  // First call after PrepareRun starts the thread; later calls check the run. False when the
  // run failed, was cancelled or nothing is going on; true while all is well, and on the call
  // that sees a finished run (which gathers the statistics and ends the run).
  [[nodiscard]] bool Step();
  // Refreshes the figures; false when idle.
  bool UpdateProgress();
  // Cancels, waits for the encoding thread to report its end, destroys the stages. False
  // (and nothing changes) when idle.
  bool StopRun();
  // Asks a running encoding to stop before its next frame and returns at once; the next Step
  // then sees the cancelled run. Lets a window cancel without waiting on the encoding thread.
  void RequestCancel();
  // Copies the temporary parts to their final names; destination null = the last destination.
  // Each part is written beside its final name and renamed over it once complete; a failure
  // leaves every file that was there as it was. Refused when a part would be the open movie.
  [[nodiscard]] bool SaveMovie(const std::string* destination = nullptr);
  // False, with the saving message set, when a part file of this destination (whatever its
  // number) is the open movie itself; to be asked before encoding.
  [[nodiscard]] bool CheckDestination(const std::string& destination);
  void SetLastDestination(const std::string& path) { lastDestination_ = path; }
  // The error title (null when there is no error); the text goes to *text when given.
  const char* GetMessage(std::string* text = nullptr) const;
  // One batch conversion from a command text (see run_batch.cpp). False on any failure.
  [[nodiscard]] bool RunBatch(const std::string& commandText, const std::string& logPath);
  // The same on the program's arguments already split into tokens, so that no argument is
  // re-read through a quoted text.
  [[nodiscard]] bool RunBatchTokens(const std::vector<std::string>& tokens,
                                    const std::string& logPath);

  // Asks a batch run in progress to give up at its next poll (safe from a signal handler:
  // only an atomic store). The run then ends as cancelled.
  void RequestInterrupt(int signalNumber) { interruptSignal_.store(signalNumber); }
  int InterruptSignal() const { return interruptSignal_.load(); }

  EncoderSettings& Settings() { return settings_; }
  const EncoderSettings& Settings() const { return settings_; }

  RunState State() const { return state_; }
  bool IsActive() const { return (static_cast<uint32_t>(state_) & 1u) != 0; }
  const std::string& MoviePath() const { return moviePath_; }
  const std::string& SettingsPath() const { return settingsPath_; }
  const std::string& SoundDescription() const { return soundDescription_; }
  double SourceFps() const { return sourceFps_; }
  uint32_t SourceWidth() const { return sourceWidth_; }
  uint32_t SourceHeight() const { return sourceHeight_; }
  uint8_t SoundChannels() const { return soundChannels_; }
  uint32_t SoundRate() const { return soundRate_; }
  uint8_t SoundBits() const { return soundBits_; }
  FrameStore* Video() { return video_.get(); }
  AudioStore* Audio() { return audio_.get(); }

  const std::string& TempFolder() const { return tempFolder_; }
  const std::string& PreviewPath() const { return previewPath_; }
  uint32_t PartCount() const { return partCount_; }
  const std::string& LastDestination() const { return lastDestination_; }

  uint32_t SelectionStartMs() const { return selectionStart_; }
  uint32_t SelectionDurationMs() const { return selectionDuration_; }
  uint32_t SelectionFrameCount() const { return selectionFrames_; }
  uint32_t PlayerFrameCount() const { return playerFrames_; }

  double Progress() const { return progress_; }  // whole percent
  uint32_t ElapsedMs() const { return elapsedMs_; }
  uint32_t EstimatedTotalMs() const { return estimatedMs_; }  // 0 until known
  double AverageBitRate() const { return averageBitRate_; }   // bit/s
  double PreviousBitRate() const { return previousBitRate_; }
  uint64_t OutputBytes() const { return outputBytes_; }
  double PixelCompression() const { return pixelCompression_; }  // percent
  uint64_t PlayerMemory() const { return playerMemory_; }

  // The estimate rule of UpdateProgress: the first estimate is taken as it is, later ones
  // settle as (new + 3 x old) / 4. Returns the new total; progress at or below 0 keeps old.
  static uint32_t SmoothEstimate(uint32_t oldEstimateMs, uint32_t elapsedMs, double progress);
  // For tests and the interactive program: adopt an existing folder of temporary parts as if
  // a run had produced partCount parts there (folder with a trailing "/").
  void AdoptTemporaryParts(const std::string& folder, uint32_t partCount);

 private:
  void ClearMessages();
  void SetMessage(const std::string& title, const std::string& text);
  [[nodiscard]] bool StartStages();
  void DestroyStages();
  void DeleteTemporaryParts();
  void ReleaseMovie();
  void GatherFinishedFigures();
  [[nodiscard]] bool SparesTheMovie(const DestinationName& name, uint32_t partCount);
  [[nodiscard]] bool RunParsedBatch(const BatchRequest& request);
  // Ends an interrupted batch run: stops the thread, removes the temporary folder, logs.
  void AbandonInterruptedRun(const std::string& logPath);

  EncoderSettings settings_;

  uint32_t readerMask_ = 0xFFFFFFFFu;
  uint32_t priority_ = 0;
  std::string applicationFolder_;
  void* windowHandle_ = nullptr;

  std::unique_ptr<FrameStore> video_;
  std::unique_ptr<AudioStore> audio_;
  bool audioUsable_ = false;  // the open movie has sound the run may use
  std::string moviePath_;
  std::string settingsPath_;
  double sourceFps_ = 0.0;
  uint32_t sourceWidth_ = 0;
  uint32_t sourceHeight_ = 0;
  std::string soundDescription_;
  uint8_t soundChannels_ = 0;
  uint32_t soundRate_ = 0;
  uint8_t soundBits_ = 0;

  std::unique_ptr<FrameUseStore> uses_;
  std::unique_ptr<ScreenUseStore> screen_;
  std::unique_ptr<MatchEngine> match_;
  std::unique_ptr<Transport> transport_;
  RunState state_ = RunState::kIdle;
  std::thread thread_;
  // Set by the encoding thread as its last act, so that a stop never waits on a thread that
  // ended without publishing a final status.
  std::atomic<bool> threadDone_{true};

  std::string tempFolder_;
  std::string previewPath_;
  uint32_t partCount_ = 0;
  std::string lastDestination_;

  uint32_t selectionStart_ = 0;
  uint32_t selectionDuration_ = 0;
  uint32_t selectionFrames_ = 0;
  uint32_t playerFrames_ = 0;

  double progress_ = 0.0;
  uint64_t startTick_ = 0;
  uint32_t elapsedMs_ = 0;
  uint32_t estimatedMs_ = 0;
  double averageBitRate_ = 0.0;
  double previousBitRate_ = 0.0;
  uint64_t outputBytes_ = 0;
  double pixelCompression_ = 0.0;
  uint64_t playerMemory_ = 0;

  std::string errorTitle_;
  std::string errorText_;

  std::atomic<int> interruptSignal_{0};
};

}  // namespace quillon
