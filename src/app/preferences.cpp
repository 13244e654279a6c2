#include "app/preferences.h"

#include <QSettings>
#include <algorithm>
#include <cmath>

namespace quillon {

namespace {

QSettings Store() {
  return QSettings("Zelmorra Software", "Quillon Video Encoder");
}

std::optional<uint32_t> ReadNumber(const QSettings& store, const char* name) {
  const QVariant value = store.value(name);
  if (!value.isValid()) return std::nullopt;
  bool ok = false;
  const qlonglong number = value.toLongLong(&ok);
  if (!ok || number < INT32_MIN || number > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(number);
}

bool ReadFlag(const QSettings& store, const char* name, bool fallback) {
  const std::optional<uint32_t> number = ReadNumber(store, name);
  return number ? *number != 0 : fallback;
}

}  // namespace

Preferences Preferences::Load() {
  const QSettings store = Store();
  Preferences p;
  p.useSkin = ReadFlag(store, "UseSkin", p.useSkin);
  if (const auto ms = ReadNumber(store, "DefaultDuration"); ms && *ms != 0) {
    p.defaultDurationMs = *ms;
  }
  p.autoPlay = ReadFlag(store, "AutoPlay", p.autoPlay);
  p.autoSave = ReadFlag(store, "AutoSave", p.autoSave);
  p.autoOpenLastMovie = ReadFlag(store, "AutoOpenLastMovie", p.autoOpenLastMovie);
  if (const auto priority = ReadNumber(store, "EncodingPriority")) p.encodingPriority = *priority;
  if (const auto flags = ReadNumber(store, "FormatFlags")) p.formatFlags = *flags;
  const auto x = ReadNumber(store, "LastPosX");
  const auto y = ReadNumber(store, "LastPosY");
  // Stored as 32-bit words: a window left of or above the screen comes back negative.
  if (x && y) p.lastPosition = QPoint(static_cast<int32_t>(*x), static_cast<int32_t>(*y));
  return p;
}

void Preferences::SaveAccepted() const {
  QSettings store = Store();
  store.setValue("AutoPlay", autoPlay ? 1 : 0);
  store.setValue("AutoSave", autoSave ? 1 : 0);
  store.setValue("AutoOpenLastMovie", autoOpenLastMovie ? 1 : 0);
  store.setValue("EncodingPriority", encodingPriority);
  store.setValue("DefaultDuration", defaultDurationMs);
  store.setValue("UseSkin", useSkin ? 1 : 0);
}

void Preferences::SavePosition(QPoint topLeft) {
  QSettings store = Store();
  store.setValue("LastPosX", topLeft.x());
  store.setValue("LastPosY", topLeft.y());
}

uint32_t ParseDefaultDuration(const QString& secondsText) {
  bool ok = false;
  const double seconds = secondsText.trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(seconds) || seconds <= 0.0) return 0;
  // A duration under a millisecond still counts as one: the text was a number above 0.
  const double ms = std::floor(seconds * 1000.0);
  return static_cast<uint32_t>(std::clamp(ms, 1.0, 4294967295.0));
}

QString LoadRememberedName(const char* name) {
  return Store().value(name).toString();
}

void SaveRememberedName(const char* name, const QString& path) {
  QSettings store = Store();
  store.setValue(name, path);
}

QString RememberedFolder(const char* name, const QString& fallback) {
  const QString path = LoadRememberedName(name);
  const qsizetype slash = path.lastIndexOf('/');
  return slash < 0 ? fallback : path.left(slash + 1);
}

}  // namespace quillon
