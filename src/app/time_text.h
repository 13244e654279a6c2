// Times in milliseconds as the window and the timeline show them ("hh:mm:ss.cc" and shorter
// shapes), and the reader of times the user types.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

// Flag bits of FormatTimeText; the low six bits choose the shape.
inline constexpr unsigned kTimeNoHundredths = 0x80;
inline constexpr unsigned kTimeDropLeadingZero = 0x40;
inline constexpr unsigned kTimeShapeMask = 0x3F;
// The status lines' flags: "1:05" for 65 s, "5" for 5 s.
inline constexpr unsigned kTimeStatusFlags = kTimeNoHundredths | kTimeDropLeadingZero | 1;

// Shapes: 0 drops the leading fields that are zero down to the hundredths alone, 1 down to the
// seconds, 2 down to the minutes; 3 or more always shows hours to hundredths. Hours stop at 99.
std::string FormatTimeText(uint32_t ms, unsigned flags);
// The part after the last "." is hundredths (a text without "." is hundredths only); the parts
// before it, from the right, are seconds, minutes and hours. Each field is capped (99
// hundredths, 59 for the others) and anything that is not a number reads as 0.
uint32_t ParseTimeText(std::string_view text);

}  // namespace quillon
