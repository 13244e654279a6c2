#include "encoder/progress_display.h"

#include <unistd.h>

#include "encoder/encoder_controller.h"

namespace quillon {

ProgressDisplay::ProgressDisplay(const std::string& logPath)
    : enabled_(!logPath.empty() && ::isatty(STDERR_FILENO) == 1) {}

ProgressDisplay::~ProgressDisplay() { Clear(); }

std::string FormatDuration(uint32_t ms) {
  const uint32_t s = ms / 1000;
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%u:%02u", s / 60, s % 60);
  }
  return text;
}

std::string FormatBytes(uint64_t bytes) {
  char text[32];
  if (bytes >= 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
  } else if (bytes >= 1024) {
    std::snprintf(text, sizeof text, "%.1f KB", bytes / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  }
  return text;
}

void ProgressDisplay::Update(const EncoderController& c) {
  if (!enabled_) return;
  const std::string estimate =
      c.EstimatedTotalMs() > 0 ? FormatDuration(c.EstimatedTotalMs()) : std::string("?");
  // "\r" and erase-to-end keep it one line however the figures' widths change.
  std::fprintf(stderr, "\r\033[K%3.0f%%  %s elapsed, ~%s total  %.1f kbit/s  %s", c.Progress(),
               FormatDuration(c.ElapsedMs()).c_str(), estimate.c_str(),
               c.AverageBitRate() / 1000.0, FormatBytes(c.OutputBytes()).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressDisplay::Clear() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

std::string RunSummary(const EncoderController& c) {
  char text[256];
  std::snprintf(text, sizeof text,
                "%u part%s, %s, %.1f kbit/s average, pixel compression %.1f%%, "
                "player memory about %s",
                c.PartCount(), c.PartCount() == 1 ? "" : "s", FormatBytes(c.OutputBytes()).c_str(),
                c.AverageBitRate() / 1000.0, c.PixelCompression(),
                FormatBytes(c.PlayerMemory()).c_str());
  return text;
}

}  // namespace quillon
