#include "settings/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace quillon {

namespace {
std::atomic<TraceSink> gSink{nullptr};
}  // namespace

void SetTraceSink(TraceSink sink) { gSink.store(sink, std::memory_order_relaxed); }

void Trace(const char* format, ...) {
  const TraceSink sink = gSink.load(std::memory_order_relaxed);
  if (sink == nullptr) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  sink(line);
}

}  // namespace quillon
