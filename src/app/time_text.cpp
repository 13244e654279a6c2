#include "app/time_text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace quillon {

std::string FormatTimeText(uint32_t ms, unsigned flags) {
  const unsigned hours = std::min<uint32_t>(ms / 3600000u, 99u);
  const unsigned minutes = ms / 60000u % 60u;
  const unsigned seconds = ms / 1000u % 60u;
  const unsigned hundredths = ms / 10u % 100u;
  char full[24];
  std::snprintf(full, sizeof full, "%02u:%02u:%02u.%02u", hours, minutes, seconds, hundredths);

  // Offsets into "hh:mm:ss.cc" where each shorter shape begins.
  constexpr size_t kFromMinutes = 3, kFromSeconds = 6, kFromHundredths = 9;
  const unsigned shape = std::min(flags & kTimeShapeMask, 3u);
  const bool noHundredths = (flags & kTimeNoHundredths) != 0;
  size_t from = 0;
  if (hours == 0 && shape < 3) {
    if (minutes != 0 || shape == 2) {
      from = kFromMinutes;
    } else if (seconds != 0 || shape == 1 || noHundredths) {
      // Without hundredths there is nothing shorter than the seconds to show.
      from = kFromSeconds;
    } else {
      from = kFromHundredths;
    }
  }
  std::string text(full + from);
  if (noHundredths) text.resize(text.size() - 3);  // drop ".cc"
  if ((flags & kTimeDropLeadingZero) != 0 && text.size() > 1 && text.front() == '0') {
    text.erase(0, 1);
  }
  return text;
}

namespace {

// The leading digits of a field, capped; no digits read as 0.
uint32_t ReadField(std::string_view field, uint32_t cap) {
  size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  uint32_t value = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    value = std::min<uint32_t>(value * 10 + static_cast<uint32_t>(field[i] - '0'), cap);
  }
  return value;
}

}  // namespace

uint32_t ParseTimeText(std::string_view text) {
  const size_t dot = text.rfind('.');
  if (dot == std::string_view::npos) return ReadField(text, 99) * 10;
  uint32_t ms = ReadField(text.substr(dot + 1), 99) * 10;
  std::string_view rest = text.substr(0, dot);
  constexpr uint32_t kUnitMs[] = {1000, 60000, 3600000};  // seconds, minutes, hours
  for (uint32_t unit : kUnitMs) {
    const size_t colon = rest.rfind(':');
    const std::string_view field = colon == std::string_view::npos ? rest : rest.substr(colon + 1);
    ms += ReadField(field, 59) * unit;
    if (colon == std::string_view::npos) break;
    rest = rest.substr(0, colon);
  }
  return ms;
}

}  // namespace quillon
