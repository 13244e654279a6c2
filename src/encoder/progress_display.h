// What a batch run shows a user at a terminal besides the log: a one-line progress display on
// standard error while it encodes, and a short summary after a successful run. Neither ever
// reaches the log.
#pragma once

#include <cstdio>
#include <string>

namespace quillon {

class EncoderController;

class ProgressDisplay {
 public:
  // Shown only when the log goes to a file and standard error is a terminal: with the log on
  // standard output, that stream must carry the log lines alone.
  explicit ProgressDisplay(const std::string& logPath);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  bool Enabled() const { return enabled_; }
  // Redraws the line from the controller's figures.
  void Update(const EncoderController& controller);
  // Erases the line (if one was drawn), so that later messages start on a clean line.
  void Clear();

 private:
  bool enabled_ = false;
  bool drawn_ = false;
};

// "m:ss" (or "h:mm:ss") for a time in milliseconds.
std::string FormatDuration(uint32_t ms);
// "1.2 MB", "34.5 KB", "999 bytes".
std::string FormatBytes(uint64_t bytes);
// The figures of a finished run in one line (parts, size, bit rate, compression, memory).
std::string RunSummary(const EncoderController& controller);

}  // namespace quillon
