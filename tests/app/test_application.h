// The application's identity and a private place for its preferences, for the desktop tests
// and the screenshot driver: nothing they write may reach the user's own configuration or cache.
#pragma once

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

namespace quillon::testing {

inline void UsePrivatePreferences(const QString& settingsFolder) {
  QApplication::setOrganizationName("Zelmorra Software");
  QApplication::setApplicationName("Quillon Video Encoder");
  QStandardPaths::setTestModeEnabled(true);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder);
}

}  // namespace quillon::testing
