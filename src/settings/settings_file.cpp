#include "settings/settings_file.h"

namespace quillon {

std::string FormatSettingsText(const FrameOptions*, const AudioOptions*, const MatchOptions*,
                               const TransportOptions*) {
  return std::string();
}

void ParseSettingsText(const std::string&, FrameOptions*, AudioOptions*, MatchOptions*,
                       TransportOptions*) {}

bool SaveSettingsFile(const std::string&, const FrameOptions*, const AudioOptions*,
                      const MatchOptions*, const TransportOptions*) {
  return false;
}

bool SaveSettingsFile(const std::string& path, const EncoderSettings& settings) {
  return SaveSettingsFile(path, &settings.frame, &settings.audio, &settings.match,
                          &settings.transport);
}

bool LoadSettingsFile(const std::string&, FrameOptions*, AudioOptions*, MatchOptions*,
                      TransportOptions*) {
  return false;
}

bool LoadSettingsFile(const std::string& path, EncoderSettings& settings) {
  return LoadSettingsFile(path, &settings.frame, &settings.audio, &settings.match,
                          &settings.transport);
}

}  // namespace quillon
