// The batch log: every line is appended by opening, writing and closing the file, so the log
// grows over runs and survives a crash; an empty log path means standard output.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// "batch.log" in the application folder.
std::string DefaultBatchLogPath();

// Appends one printf-formatted line. When the log file cannot be opened the line goes to
// standard error instead of being lost.
void BatchLog(const std::string& logPath, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// As BatchLog, for failures: when the line goes to a file it is also printed to standard
// error, so a user at a terminal sees why nothing happened.
void BatchLogFailure(const std::string& logPath, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// The lines of a batch run, byte for byte.
void LogSourceMissing(const std::string& logPath);
void LogDestinationMissing(const std::string& logPath);
// "Encoding: src into dst, start->end ms, with ..." where end is "end" when the duration runs
// to the end of the movie; settingsPath empty means the default settings.
void LogRunStart(const std::string& logPath, const std::string& source,
                 const std::string& destination, std::uint32_t startMs, bool toEnd,
                 std::uint64_t endMs, const std::string& settingsPath);
void LogEndBeforeStart(const std::string& logPath);
// which is "Start" or "End"; text is the argument as given.
void LogTimeNotANumber(const std::string& logPath, const char* which, const std::string& text);
void LogNegativeTime(const std::string& logPath, const std::string& text);
void LogStartAfterMovieEnd(const std::string& logPath, std::uint32_t startMs,
                           std::uint32_t movieMs);
// Written only when the log goes to standard output.
void LogProgress(const std::string& logPath, double percent);
void LogControllerFailure(const std::string& logPath, const std::string& title,
                          const std::string& text);
void LogEncodedOk(const std::string& logPath, const std::string& source,
                  const std::string& destination);

}  // namespace quillon
