// The ".settings" text format: a fixed, self-describing writer and a lenient reader.
#pragma once

#include <cstddef>
#include <string>

#include "settings/encoder_settings.h"

namespace quillon {

// Writes the given records (any may be null; their sections are left out). True when every
// write succeeded; on the first failure the partly written file is left as it is.
[[nodiscard]] bool SaveSettingsFile(const std::string& path, const FrameOptions* frame,
                                    const AudioOptions* audio, const MatchOptions* match,
                                    const TransportOptions* transport);
[[nodiscard]] bool SaveSettingsFile(const std::string& path, const EncoderSettings& settings);

// A settings file is a few kilobytes; anything above this is refused as no settings file.
inline constexpr std::size_t kMaxSettingsFileBytes = 1 << 20;

// Reads the file into the given records without resetting them first: callers pass records
// that already hold defaults. Unknown keys and malformed lines are ignored. True when the file
// could be opened and is no larger than kMaxSettingsFileBytes. A given transport record always ends with a (possibly empty) variables text.
[[nodiscard]] bool LoadSettingsFile(const std::string& path, FrameOptions* frame,
                                    AudioOptions* audio, MatchOptions* match,
                                    TransportOptions* transport);
[[nodiscard]] bool LoadSettingsFile(const std::string& path, EncoderSettings& settings);

// The same formats on memory, for callers that hold the text rather than a file.
std::string FormatSettingsText(const FrameOptions* frame, const AudioOptions* audio,
                               const MatchOptions* match, const TransportOptions* transport);
void ParseSettingsText(const std::string& text, FrameOptions* frame, AudioOptions* audio,
                       MatchOptions* match, TransportOptions* transport);

}  // namespace quillon
