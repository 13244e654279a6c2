// The desktop tests' main: one QApplication for every test, on the offscreen platform unless
// the caller chose another, with preferences kept in a temporary folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Zelmorra Software");
  QApplication::setApplicationName("Quillon Video Encoder");
  // Nothing a test writes may reach the user's own configuration or cache.
  QStandardPaths::setTestModeEnabled(true);
  QTemporaryDir settingsFolder;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());
  return RUN_ALL_TESTS();
}
