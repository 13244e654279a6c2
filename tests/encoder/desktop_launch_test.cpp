#include "encoder/desktop_launch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "encoder/batch_command.h"
#include "support/shell_run.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

using testing::ShellQuote;

// Standard error is where both programs explain themselves.
testing::ShellRun RunMerged(const std::string& command) {
  return testing::RunShell(command + " 2>&1");
}

// Whatever display the test machine has must not decide the case.
const std::string kNoDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
const std::string kDisplay = "env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:99 ";

// A batch run must not pay for the window's libraries (Qt and its web engine are tens of
// megabytes of mapped pages and thousands of relocations).
TEST(DesktopLaunchTest, BatchProgramLoadsNoQtLibrary) {
  // The dynamic loader lists every library it would map, those needed by libraries included,
  // and runs nothing.
  const testing::ShellRun run =
      RunMerged("LD_TRACE_LOADED_OBJECTS=1 " + ShellQuote(QUILLON_PROGRAM));
  ASSERT_EQ(run.status, 0) << run.out;
  ASSERT_NE(run.out.find("libavcodec"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("libQt"), std::string::npos) << run.out;
}

TEST(DesktopLaunchTest, WithoutADisplayExplainsAndPrintsTheUsage) {
  const testing::ShellRun run = RunMerged(kNoDisplay + ShellQuote(QUILLON_PROGRAM));
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out.rfind("quillon: no display to open the window on", 0), 0u) << run.out;
  const std::string usage = BatchUsageText();
  ASSERT_GE(run.out.size(), usage.size());
  EXPECT_EQ(run.out.substr(run.out.size() - usage.size()), usage);
}

// Installed, the program is reached through a link in bin/; the window program lies beside the
// file the link points to.
TEST(DesktopLaunchTest, StartsTheWindowProgramBesideItselfOrSaysWhyNot) {
  const fs::path root = fs::path(QUILLON_TEST_BINARY_DIR) / "desktop_launch_test";
  fs::remove_all(root);
  fs::create_directories(root / "app");
  fs::create_directories(root / "bin");
  fs::copy_file(QUILLON_PROGRAM, root / "app" / "quillon");
  fs::create_symlink("../app/quillon", root / "bin" / "quillon");
  const fs::path desktop = fs::canonical(root / "app") / kDesktopProgramName;
  {
    std::ofstream script(desktop);
    script << "#!/bin/sh\necho \"window on $DISPLAY\"\nexit 7\n";
  }
  fs::permissions(desktop, fs::perms::owner_all);
  const std::string program = ShellQuote((root / "bin" / "quillon").string());

  testing::ShellRun run = RunMerged(kDisplay + program);
  EXPECT_EQ(run.status, 7) << run.out;
  EXPECT_EQ(run.out, "window on :99\n");

  const std::string tried = "quillon: cannot start the window program " + desktop.string() + ": ";
  fs::permissions(desktop, fs::perms::owner_read | fs::perms::owner_write);
  run = RunMerged(kDisplay + program);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind(tried + "Permission denied\n", 0), 0u) << run.out;

  fs::remove(desktop);
  run = RunMerged(kDisplay + program);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind(tried + "No such file or directory\n", 0), 0u) << run.out;
  fs::remove_all(root);
}

}  // namespace
}  // namespace quillon
