#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>

#include "app/settings_page.h"

namespace quillon {
namespace {

QPushButton* Button(MainWindow& window, const char* name) {
  return window.findChild<QPushButton*>(name);
}

TEST(MainWindowTest, StartsWithOnlyOpenMovieEnabled) {
  MainWindow window(QString::fromUtf8(QUILLON_TEST_BINARY_DIR "/src/app/"));
  EXPECT_EQ(window.State(), UiState::kNoMovie);
  EXPECT_TRUE(Button(window, "openMovieButton")->isEnabled());
  EXPECT_FALSE(Button(window, "saveFlashButton")->isEnabled());
  EXPECT_FALSE(Button(window, "presetsButton")->isEnabled());
  EXPECT_FALSE(Button(window, "encodeButton")->isEnabled());
  EXPECT_EQ(Button(window, "encodeButton")->text(), "Encode");
  auto* lower = window.findChild<QTabWidget*>("lowerTabs");
  ASSERT_EQ(lower->count(), 4);
  EXPECT_EQ(lower->tabText(0), "Video");
  EXPECT_EQ(lower->tabText(3), "Advanced");
  EXPECT_FALSE(lower->widget(0)->isEnabled());
  auto* upper = window.findChild<QTabWidget*>("upperTabs");
  ASSERT_EQ(upper->count(), 2);
  EXPECT_EQ(upper->tabText(1), "Encoded Flash");
}

}  // namespace
}  // namespace quillon
