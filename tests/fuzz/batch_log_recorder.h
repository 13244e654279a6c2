// The batch fuzzer's stand-in for the batch log: what the parser logged, as events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

enum class LogEventKind {
  kSourceMissing,
  kDestinationMissing,
  kRunStart,
  kEndBeforeStart,
  kTimeNotANumber,
  kNegativeTime,
};

struct LogEvent {
  LogEventKind kind;
  std::string logPath;
  std::uint32_t startMs = 0;  // kRunStart only
  bool toEnd = false;         // kRunStart only
  std::uint64_t endMs = 0;    // kRunStart only
};

// The events since the caller last cleared the list.
std::vector<LogEvent>& RecordedLog();

}  // namespace quillon
