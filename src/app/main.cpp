// quillon: converts a movie into SWF files. With arguments it runs one batch conversion and
// never touches the display; without them it becomes quillon-desktop, the window program.
// It links no Qt, so that a batch run maps none of the window's libraries.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "encoder/batch_command.h"
#include "encoder/batch_log.h"
#include "encoder/desktop_launch.h"
#include "encoder/encoder_controller.h"
#include "settings/paths.h"
#include "video/video_reader.h"

namespace {

std::atomic<quillon::EncoderController*> gController{nullptr};

// Only an atomic store: the poll loop notices it within one interval and winds the run down.
void OnSignal(int signalNumber) {
  if (quillon::EncoderController* c = gController.load()) c->RequestInterrupt(signalNumber);
}

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // Closing the terminal ends the run as a stop does, not by killing it mid-write.
  sigaction(SIGHUP, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quillon;
  const std::vector<std::string> tokens = BatchArgumentTokens(argc, argv);
  if (tokens.empty()) return HaveDisplay() ? StartDesktopProgram(argv) : ReportNoDisplay();
  switch (ClassifyBatchTokens(tokens)) {
    case BatchCommandKind::kHelp:
      std::fputs(BatchUsageText(), stdout);
      return 0;
    case BatchCommandKind::kVersion:
      std::fputs(VersionText(), stdout);
      return 0;
    case BatchCommandKind::kBatch:
      break;
  }

  const std::string& folder = ApplicationFolder();
  const std::string defaultLog = DefaultBatchLogPath();
  int status = 1;
  {
    EncoderController controller;
    gController.store(&controller);
    InstallSignalHandlers();
    controller.SetPreferences(kReaderMaskAll, 0, folder, nullptr);
    if (!controller.LoadSettings(folder + kDefaultSettingsFile)) {
      std::string text;
      const char* title = controller.GetMessage(&text);
      LogControllerFailure(defaultLog, title != nullptr ? title : "", text);
    }
    const bool ok = controller.RunBatchTokens(tokens, defaultLog);
    const int signalNumber = controller.InterruptSignal();
    status = signalNumber != 0 ? 128 + signalNumber : ok ? 0 : 1;
    gController.store(nullptr);
  }
  return status;
}
