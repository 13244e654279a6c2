#include "app/preferences.h"

#include <gtest/gtest.h>

#include <QSettings>

namespace quillon {
namespace {

QSettings Store() {
  return QSettings("Zelmorra Software", "Quillon Video Encoder");
}

TEST(PreferencesTest, UnreadableValuesKeepTheirDefaults) {
  Store().clear();
  {
    QSettings s("Zelmorra Software", "Quillon Video Encoder");
    s.setValue("DefaultDuration", 0);
    s.setValue("AutoPlay", "maybe");
    s.setValue("AutoSave", 1);
    s.setValue("LastPosX", 10);  // without LastPosY there is no position
  }
  const Preferences p = Preferences::Load();
  EXPECT_EQ(p.defaultDurationMs, 2000u);
  EXPECT_TRUE(p.autoPlay);
  EXPECT_TRUE(p.autoSave);
  EXPECT_TRUE(p.useSkin);
  EXPECT_EQ(p.formatFlags, 0xFFFFFFFFu);
  EXPECT_FALSE(p.lastPosition.has_value());
}

TEST(PreferencesTest, AcceptedValuesAndPositionReadBack) {
  Store().clear();
  Preferences p;
  p.useSkin = false;
  p.defaultDurationMs = 4500;
  p.autoPlay = false;
  p.autoOpenLastMovie = true;
  p.encodingPriority = 2;
  p.SaveAccepted();
  Preferences::SavePosition(QPoint(-40, 12));
  const Preferences back = Preferences::Load();
  EXPECT_FALSE(back.useSkin);
  EXPECT_EQ(back.defaultDurationMs, 4500u);
  EXPECT_FALSE(back.autoPlay);
  EXPECT_TRUE(back.autoOpenLastMovie);
  EXPECT_EQ(back.encodingPriority, 2u);
  ASSERT_TRUE(back.lastPosition.has_value());
  EXPECT_EQ(*back.lastPosition, QPoint(-40, 12));
  // FormatFlags is never written by the program.
  EXPECT_FALSE(Store().contains("FormatFlags"));
}

TEST(PreferencesTest, DurationMustBeANumberAboveZero) {
  EXPECT_EQ(ParseDefaultDuration("0"), 0u);
  EXPECT_EQ(ParseDefaultDuration("abc"), 0u);
  EXPECT_EQ(ParseDefaultDuration("-2"), 0u);
  EXPECT_EQ(ParseDefaultDuration(""), 0u);
  EXPECT_EQ(ParseDefaultDuration("nan"), 0u);
  EXPECT_EQ(ParseDefaultDuration("0.5"), 500u);
  EXPECT_EQ(ParseDefaultDuration(" 2.0 "), 2000u);
  EXPECT_EQ(ParseDefaultDuration("1.2345"), 1234u);
  EXPECT_EQ(ParseDefaultDuration("0.0001"), 1u);
  EXPECT_EQ(ParseDefaultDuration("1e12"), 4294967295u);
}

TEST(PreferencesTest, RememberedFolderIsTheNameUpToItsLastSlash) {
  Store().clear();
  EXPECT_EQ(RememberedFolder(kLastSaveFilename, "/app/"), "/app/");
  SaveRememberedName(kLastSaveFilename, "/home/u/out/movie.swf");
  EXPECT_EQ(RememberedFolder(kLastSaveFilename, "/app/"), "/home/u/out/");
  EXPECT_EQ(LoadRememberedName(kLastSaveFilename), "/home/u/out/movie.swf");
}

}  // namespace
}  // namespace quillon
