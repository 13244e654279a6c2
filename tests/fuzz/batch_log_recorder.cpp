// The batch log for the batch fuzzer: the parser's log lines are kept in memory as events, so
// that option values naming log files ("-l /some/path") never reach the file system and the
// fuzzer can check which lines a parse wrote.
#include "batch_log_recorder.h"

#include "encoder/batch_log.h"

namespace quillon {

namespace {
std::vector<LogEvent> gEvents;
}  // namespace

std::vector<LogEvent>& RecordedLog() {
  return gEvents;
}

std::string DefaultBatchLogPath() {
  return "batch.log";
}
void BatchLog(const std::string&, const char*, ...) {}
void BatchLogFailure(const std::string&, const char*, ...) {}

void LogSourceMissing(const std::string& logPath) {
  gEvents.push_back({LogEventKind::kSourceMissing, logPath});
}
void LogDestinationMissing(const std::string& logPath) {
  gEvents.push_back({LogEventKind::kDestinationMissing, logPath});
}
void LogRunStart(const std::string& logPath, const std::string&, const std::string&,
                 std::uint32_t startMs, bool toEnd, std::uint64_t endMs, const std::string&) {
  gEvents.push_back({LogEventKind::kRunStart, logPath, startMs, toEnd, endMs});
}
void LogEndBeforeStart(const std::string& logPath) {
  gEvents.push_back({LogEventKind::kEndBeforeStart, logPath});
}
void LogTimeNotANumber(const std::string& logPath, const char*, const std::string&) {
  gEvents.push_back({LogEventKind::kTimeNotANumber, logPath});
}
void LogNegativeTime(const std::string& logPath, const std::string&) {
  gEvents.push_back({LogEventKind::kNegativeTime, logPath});
}
void LogStartAfterMovieEnd(const std::string&, std::uint32_t, std::uint32_t) {}
void LogProgress(const std::string&, double) {}
void LogControllerFailure(const std::string&, const std::string&, const std::string&) {}
void LogEncodedOk(const std::string&, const std::string&, const std::string&) {}

}  // namespace quillon
