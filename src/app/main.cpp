// quillon: converts a movie into SWF files. With arguments it runs one batch conversion and
// never touches the display; without them it opens the main window.
#include <QApplication>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "encoder/batch_command.h"
#include "encoder/batch_log.h"
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

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Qt aborts when it finds no display; a terminal user deserves a reason instead.
bool HaveDisplay() {
  return EnvironmentSet("DISPLAY") || EnvironmentSet("WAYLAND_DISPLAY") ||
         EnvironmentSet("QT_QPA_PLATFORM");
}

int RunWindow(int argc, char** argv) {
  if (!HaveDisplay()) {
    std::fputs(
        "quillon: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is "
        "set).\nRun it from a desktop session, or over SSH with X forwarding (ssh -X), or set "
        "QT_QPA_PLATFORM.\nWithout a window, convert from the command line:\n\n",
        stderr);
    std::fputs(quillon::BatchUsageText(), stderr);
    return 2;
  }
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Zelmorra Software");
  QApplication::setApplicationName("Quillon Video Encoder");
  quillon::MainWindow window(QString::fromStdString(quillon::ApplicationFolder()));
  window.Start();
  window.show();
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quillon;
  const std::vector<std::string> tokens = BatchArgumentTokens(argc, argv);
  if (tokens.empty()) return RunWindow(argc, argv);
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
