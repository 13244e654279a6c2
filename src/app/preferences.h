// The user's preferences, kept with QSettings under the organisation "Zelmorra Software" and
// the application "Quillon Video Encoder" (the user's native configuration file).
#pragma once

#include <QPoint>
#include <QString>
#include <cstdint>
#include <optional>

namespace quillon {

struct Preferences {
  bool useSkin = true;
  uint32_t defaultDurationMs = 2000;
  bool autoPlay = true;
  bool autoSave = false;
  bool autoOpenLastMovie = false;
  uint32_t encodingPriority = 0;       // 0 normal, 1 lower, 2 lowest
  uint32_t formatFlags = 0xFFFFFFFFu;  // reader mask; only ever set by hand
  std::optional<QPoint> lastPosition;

  // Every value that cannot be read keeps its default.
  static Preferences Load();
  // The six values the Preferences dialog edits.
  void SaveAccepted() const;
  static void SavePosition(QPoint topLeft);
};

// The Preferences dialog's duration text (seconds) in milliseconds; 0 when the text is no
// number above 0.
uint32_t ParseDefaultDuration(const QString& secondsText);

// The remembered file names: "LastOpenFilename", "LastSaveFilename", "LastSettingsFilename"
// and "LastLoaderFilename". Empty when never written.
inline constexpr const char* kLastOpenFilename = "LastOpenFilename";
inline constexpr const char* kLastSaveFilename = "LastSaveFilename";
inline constexpr const char* kLastSettingsFilename = "LastSettingsFilename";
inline constexpr const char* kLastLoaderFilename = "LastLoaderFilename";
QString LoadRememberedName(const char* name);
void SaveRememberedName(const char* name, const QString& path);
// The folder part of a remembered name (up to and including the last "/"), or fallback.
QString RememberedFolder(const char* name, const QString& fallback);

}  // namespace quillon
