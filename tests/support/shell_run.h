// Running a command line through the shell from a test: its exit status and what it printed.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace quillon::testing {

struct ShellRun {
  int status = -1;  // the exit status; -1 when it could not start or a signal ended it
  std::string out;  // standard output (standard error only where the command redirects it)
};

// arg in single quotes, safe as one shell word whatever it holds.
inline std::string ShellQuote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

inline ShellRun RunShell(const std::string& command) {
  ShellRun run;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace quillon::testing
