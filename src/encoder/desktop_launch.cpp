#include "encoder/desktop_launch.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "encoder/batch_command.h"
#include "settings/paths.h"

namespace quillon {

namespace {

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

// Qt aborts when it finds no display; a terminal user deserves a reason instead.
bool HaveDisplay() {
  return EnvironmentSet("DISPLAY") || EnvironmentSet("WAYLAND_DISPLAY") ||
         EnvironmentSet("QT_QPA_PLATFORM");
}

int ReportNoDisplay() {
  std::fputs(
      "quillon: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is "
      "set).\nRun it from a desktop session, or over SSH with X forwarding (ssh -X), or set "
      "QT_QPA_PLATFORM.\nWithout a window, convert from the command line:\n\n",
      stderr);
  std::fputs(BatchUsageText(), stderr);
  return 2;
}

int StartDesktopProgram(char** argv) {
  // The folder comes from /proc/self/exe, so an installed bin/ link still leads to the real
  // folder; without it a bare name would run whatever the current folder holds.
  const std::string& folder = ApplicationFolder();
  if (folder.empty()) {
    std::fprintf(stderr,
                 "quillon: cannot start the window: the folder of this program (and of %s) "
                 "is unknown, /proc/self/exe cannot be read.\n",
                 kDesktopProgramName);
    return 1;
  }
  const std::string path = folder + kDesktopProgramName;
  ::execv(path.c_str(), argv);
  const int error = errno;
  std::fprintf(stderr, "quillon: cannot start the window program %s: %s\n", path.c_str(),
               std::strerror(error));
  std::fputs("Without a window, convert from the command line (quillon -h shows how).\n", stderr);
  return 1;
}

}  // namespace quillon
