// The desktop tests' main: one QApplication for every test, on the offscreen platform unless
// the caller chose another, with preferences kept in a temporary folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

#include "test_application.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  QTemporaryDir settingsFolder;
  quillon::testing::UsePrivatePreferences(settingsFolder.path());
  return RUN_ALL_TESTS();
}
