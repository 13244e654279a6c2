#include "encoder/batch_log.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <memory>

#include "settings/paths.h"

namespace quillon {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string FormatLine(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<std::size_t>(n) < sizeof small)
    return std::string(small, static_cast<std::size_t>(n));
  std::string line(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(line.data(), line.size(), format, args);
  line.resize(static_cast<std::size_t>(n));
  return line;
}

void WriteStream(std::FILE* stream, const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

// Returns true when the line went to a file (not to a standard stream).
bool WriteLine(const std::string& logPath, const std::string& line) {
  if (logPath.empty()) {
    WriteStream(stdout, line);
    return false;
  }
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(logPath.c_str(), "a"));
  if (!file) {
    WriteStream(stderr, line);
    return false;
  }
  const bool written = std::fwrite(line.data(), 1, line.size(), file.get()) == line.size();
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) {
    WriteStream(stderr, line);
    return false;
  }
  return true;
}

}  // namespace

std::string DefaultBatchLogPath() {
  return ApplicationFolder() + "batch.log";
}

void BatchLog(const std::string& logPath, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string line = FormatLine(format, args);
  va_end(args);
  WriteLine(logPath, line);
}

void BatchLogFailure(const std::string& logPath, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string line = FormatLine(format, args);
  va_end(args);
  if (WriteLine(logPath, line)) WriteStream(stderr, line);
}

void LogSourceMissing(const std::string& logPath) {
  BatchLogFailure(logPath, "Error: Source video filename not supplied\n");
}

void LogDestinationMissing(const std::string& logPath) {
  BatchLogFailure(logPath, "Error: Destination Flash filename not supplied\n");
}

void LogRunStart(const std::string& logPath, const std::string& source,
                 const std::string& destination, std::uint32_t startMs, bool toEnd,
                 std::uint64_t endMs, const std::string& settingsPath) {
  // One write for the whole line, so another process appending to the same log cannot
  // land between its two halves.
  char end[32];
  if (toEnd) {
    std::snprintf(end, sizeof end, "end");
  } else {
    std::snprintf(end, sizeof end, "%" PRIu64, endMs);
  }
  if (settingsPath.empty()) {
    BatchLog(logPath, "Encoding: %s into %s, %u->%s ms, with Default Settings\n", source.c_str(),
             destination.c_str(), startMs, end);
  } else {
    BatchLog(logPath, "Encoding: %s into %s, %u->%s ms, with settings %s\n", source.c_str(),
             destination.c_str(), startMs, end, settingsPath.c_str());
  }
}

void LogEndBeforeStart(const std::string& logPath) {
  BatchLogFailure(logPath, "Error: End time is lower than start time\n");
}

void LogTimeNotANumber(const std::string& logPath, const char* which, const std::string& text) {
  BatchLogFailure(logPath,
                  "Error: %s time \"%s\" is not a number of seconds (nor start, begin, all, end "
                  "or +N)\n",
                  which, text.c_str());
}

void LogNegativeTime(const std::string& logPath, const std::string& text) {
  BatchLogFailure(logPath, "Error: Times cannot be negative: %s\n", text.c_str());
}

void LogStartAfterMovieEnd(const std::string& logPath, std::uint32_t startMs,
                           std::uint32_t movieMs) {
  BatchLogFailure(logPath, "Error: Start time %u ms is at or after the end of the movie (%u ms)\n",
                  startMs, movieMs);
}

void LogProgress(const std::string& logPath, double percent) {
  if (!logPath.empty()) return;
  BatchLog(logPath, "%.1f\n", percent);
}

void LogControllerFailure(const std::string& logPath, const std::string& title,
                          const std::string& text) {
  BatchLogFailure(logPath, "%s: %s\n", title.c_str(), text.c_str());
}

void LogEncodedOk(const std::string& logPath, const std::string& source,
                  const std::string& destination) {
  BatchLog(logPath, "Encoded OK: %s into %s\n", source.c_str(), destination.c_str());
}

}  // namespace quillon
