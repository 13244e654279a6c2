#include "encoder/batch_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "encoder/batch_command.h"
#include "support/shell_run.h"

namespace quillon {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TempLog(const char* name) {
  const std::string path = std::string(QUILLON_TEST_BINARY_DIR) + "/batch_log_test_" + name + ".log";
  std::remove(path.c_str());
  return path;
}

TEST(BatchLogTest, LinesAppendAcrossCallsAndRuns) {
  const std::string log = TempLog("append");
  {
    std::ofstream earlier(log);
    earlier << "Encoded OK: old.avi into old.swf\n";
  }
  LogRunStart(log, "a.avi", "b.swf", 10000, false, 15000, "");
  LogRunStart(log, "a.avi", "b.swf", 0, true, 0, "/x/y.settings");
  LogControllerFailure(log, "Error Opening Movie", "Unable to Open File - It doesn't look like a Movie");
  LogProgress(log, 50.0);  // progress goes only to standard output
  LogEncodedOk(log, "a.avi", "b.swf");
  EXPECT_EQ(ReadAll(log),
            "Encoded OK: old.avi into old.swf\n"
            "Encoding: a.avi into b.swf, 10000->15000 ms, with Default Settings\n"
            "Encoding: a.avi into b.swf, 0->end ms, with settings /x/y.settings\n"
            "Error Opening Movie: Unable to Open File - It doesn't look like a Movie\n"
            "Encoded OK: a.avi into b.swf\n");
  std::remove(log.c_str());
}

TEST(BatchLogTest, EmptyPathWritesToStandardOutput) {
  ::testing::internal::CaptureStdout();
  LogProgress("", 42.0);
  LogEndBeforeStart("");
  LogControllerFailure("", "Encoder Error", "two\nlines");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "42.0\nError: End time is lower than start time\nEncoder Error: two\nlines\n");
}

TEST(BatchLogTest, FailuresToAFileAlsoReachStandardError) {
  const std::string log = TempLog("failure");
  ::testing::internal::CaptureStderr();
  LogSourceMissing(log);
  LogEncodedOk(log, "a", "b");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: Source video filename not supplied\n");
  EXPECT_EQ(ReadAll(log), "Error: Source video filename not supplied\nEncoded OK: a into b\n");
  std::remove(log.c_str());
}

TEST(BatchLogTest, UnopenableLogFallsBackToStandardError) {
  ::testing::internal::CaptureStderr();
  LogEncodedOk(std::string(QUILLON_TEST_BINARY_DIR) + "/no_such_folder/x.log", "a", "b");
  LogDestinationMissing(QUILLON_TEST_BINARY_DIR);  // a folder cannot be appended to
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Encoded OK: a into b\nError: Destination Flash filename not supplied\n");
}

TEST(BatchLogTest, LongLinesAreWrittenWhole) {
  const std::string log = TempLog("long");
  const std::string text(10000, 't');
  LogControllerFailure(log, "Title", text);
  EXPECT_EQ(ReadAll(log), "Title: " + text + "\n");
  std::remove(log.c_str());
}

// --- the program itself -------------------------------------------------------------------

using testing::ShellRun;

// Standard output alone: the failures a log file also receives go to standard error.
ShellRun RunProgram(const std::vector<std::string>& args) {
  std::string command = testing::ShellQuote(QUILLON_PROGRAM);
  for (const std::string& arg : args) {
    command += ' ';
    command += testing::ShellQuote(arg);
  }
  return testing::RunShell(command + " 2>/dev/null");
}

TEST(BatchProgramTest, ParseFailuresPrintToStandardOutputAndFail) {
  ShellRun run = RunProgram({"-l", "", "a.avi", "b.swf", "10", "5"});
  EXPECT_EQ(run.out,
            "Encoding: a.avi into b.swf, 10000->5000 ms, with Default Settings\n"
            "Error: End time is lower than start time\n");
  EXPECT_NE(run.status, 0);

  run = RunProgram({"-l", "", "-s", "x.settings"});
  EXPECT_EQ(run.out, "Error: Source video filename not supplied\n");
  EXPECT_NE(run.status, 0);

  run = RunProgram({"/L", "", "a.avi"});
  EXPECT_EQ(run.out, "Error: Destination Flash filename not supplied\n");
  EXPECT_NE(run.status, 0);
}

TEST(BatchProgramTest, LogFileReceivesTheLinesOfARun) {
  const std::string log = TempLog("program");
  const ShellRun run = RunProgram({"a.avi", "b.swf", "-l", log, "-fps", "-50", "begin", "+2"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(ReadAll(log).rfind("Encoding: a.avi into b.swf, 0->2000 ms, with Default Settings\n", 0), 0u);
  EXPECT_NE(run.status, 0);  // a.avi does not exist
  std::remove(log.c_str());
}

TEST(BatchProgramTest, HelpAndVersionLeaveTheLogAlone) {
  const std::string program(QUILLON_PROGRAM);
  const std::string defaultLog = program.substr(0, program.rfind('/') + 1) + "batch.log";
  struct stat before {};
  const bool existed = ::stat(defaultLog.c_str(), &before) == 0;

  ShellRun run = RunProgram({"-h"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, BatchUsageText());
  run = RunProgram({"a.avi", "--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, BatchUsageText());
  run = RunProgram({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, VersionText());

  struct stat after {};
  const bool exists = ::stat(defaultLog.c_str(), &after) == 0;
  EXPECT_EQ(existed, exists);
  if (existed && exists) {
    EXPECT_EQ(before.st_size, after.st_size);
  }
}

}  // namespace
}  // namespace quillon
