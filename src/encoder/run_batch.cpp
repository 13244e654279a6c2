// One batch conversion: parse, open, load settings, override, prepare, poll, save, each
// outcome in the batch log.
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "encoder/batch_command.h"
#include "encoder/batch_log.h"
#include "encoder/destination_name.h"
#include "encoder/encoder_controller.h"
#include "encoder/progress_display.h"
#include "encoder/temp_folder.h"
#include "video/frame_store.h"

namespace quillon {

namespace {

constexpr const char* kTitleCancelled = "Encoding Cancelled";

const char* SignalName(int signalNumber) {
  switch (signalNumber) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

}  // namespace

bool EncoderController::RunBatch(const std::string& commandText, const std::string& logPath) {
  BatchRequest request;
  if (!ParseBatchCommand(commandText, logPath, request)) return false;
  return RunParsedBatch(request);
}

bool EncoderController::RunBatchTokens(const std::vector<std::string>& tokens,
                                       const std::string& logPath) {
  BatchRequest request;
  if (!ParseBatchTokens(tokens, logPath, request)) return false;
  return RunParsedBatch(request);
}

void EncoderController::AbandonInterruptedRun(const std::string& logPath) {
  StopRun();
  DeleteTemporaryParts();
  tempFolder_.clear();
  previewPath_.clear();
  partCount_ = 0;
  SetMessage(kTitleCancelled, std::string("Interrupted by ") + SignalName(InterruptSignal()));
  LogControllerFailure(logPath, errorTitle_, errorText_);
}

bool EncoderController::RunParsedBatch(const BatchRequest& request) {
  const std::string& log = request.logPath;
  auto logMessage = [&] {
    std::string text;
    if (const char* title = GetMessage(&text); title != nullptr) {
      LogControllerFailure(log, title, text);
    }
  };
  auto interrupted = [&] { return InterruptSignal() != 0; };

  if (interrupted()) {
    AbandonInterruptedRun(log);
    return false;
  }
  if (!OpenMovie(request.sourcePath) || !CheckDestination(request.destinationPath)) {
    logMessage();
    return false;
  }
  // A range that starts where the movie has nothing left would make a one-frame movie.
  if (const uint32_t movieMs = video_->SourceDurationMs(); request.startMs >= movieMs) {
    LogStartAfterMovieEnd(log, request.startMs, movieMs);
    return false;
  }
  if (!LoadSettings(request.resolvedSettingsPath)) {
    logMessage();
    return false;
  }
  ApplyBatchOverrides(request, settings_);
  if (!PrepareRun(request.startMs, request.durationMs)) {
    logMessage();
    DeleteTemporaryParts();
    return false;
  }

  ProgressDisplay display(log);
  while (UpdateProgress()) {
    if (interrupted()) break;
    if (log.empty()) {
      LogProgress(log, progress_);
    } else {
      display.Update(*this);
    }
    if (!Step()) break;
    if (!IsActive()) break;  // the run just ended well: no reason to wait another poll
    // A signal cuts the wait short, so the cancel begins at once; so does the end of the run,
    // which would otherwise leave the program idle for the rest of the poll.
    for (uint32_t waited = 0;
         waited < kPollIntervalMs && !interrupted() && !threadDone_.load(std::memory_order_acquire);
         waited += kStopCheckMs) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kStopCheckMs));
    }
  }
  display.Clear();
  if (interrupted()) {
    AbandonInterruptedRun(log);
    return false;
  }
  if (GetMessage() != nullptr) {
    logMessage();
    DeleteTemporaryParts();
    return false;
  }
  if (partCount_ == 0) {
    // A run that ended without a part (cancelled from inside) is no success either.
    SetMessage(kTitleEncoder, "Unable to encode Flash movie: the encoding was cancelled");
    logMessage();
    DeleteTemporaryParts();
    return false;
  }
  const std::string destination = request.destinationPath;
  const bool saved = SaveMovie(&destination);
  if (interrupted()) {
    AbandonInterruptedRun(log);
    return false;
  }
  if (!saved) {
    logMessage();
    DeleteTemporaryParts();
    return false;
  }
  LogEncodedOk(log, request.sourcePath, FirstPartName(request.destinationPath));
  if (!log.empty()) std::fprintf(stderr, "quillon: %s\n", RunSummary(*this).c_str());
  return true;
}

}  // namespace quillon
