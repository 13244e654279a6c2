#include "app/half_slider.h"

#include <gtest/gtest.h>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

namespace quillon {
namespace {

TEST(HalfSliderTest, ReadsNumbersAsTheBoxesDo) {
  double v = -1;
  EXPECT_TRUE(HalfSlider::ReadNumber("  12.5abc", v));
  EXPECT_DOUBLE_EQ(v, 12.5);
  EXPECT_TRUE(HalfSlider::ReadNumber("-.5", v));
  EXPECT_DOUBLE_EQ(v, -0.5);
  EXPECT_TRUE(HalfSlider::ReadNumber("1e2", v));
  EXPECT_DOUBLE_EQ(v, 100.0);
  for (const char* text : {"", "abc", "-", ".", "inf", "nan", "Unlimited", "=FrameRate"}) {
    EXPECT_FALSE(HalfSlider::ReadNumber(text, v)) << text;
  }
}

TEST(HalfSliderTest, TypedValuesClampMoveTheSliderAndCorrectTheBox) {
  HalfSlider s;
  s.SetRange(0, 2000);
  s.SetTypedRange(-500, 500);
  s.SetTypedScale(2.0, -500);
  QSignalSpy typed(&s, &HalfSlider::Typed);
  QSignalSpy moved(&s, &HalfSlider::Moved);
  QTest::keyClicks(s.Box(), "-25");
  EXPECT_EQ(s.Position(), 950);
  EXPECT_EQ(s.Text(), "-25");
  s.Box()->clear();
  QTest::keyClicks(s.Box(), "9000");
  EXPECT_EQ(s.Text(), "500");
  EXPECT_EQ(s.Position(), 2000);
  EXPECT_EQ(moved.count(), 0);  // typing never counts as a drag
  EXPECT_GT(typed.count(), 0);
  // Not a number: the slider stays.
  s.Box()->clear();
  QTest::keyClicks(s.Box(), "x");
  EXPECT_EQ(s.Position(), 2000);
}

TEST(HalfSliderTest, UserMovesRewriteTheBoxProgrammaticOnesDoNot) {
  HalfSlider s;
  s.SetDragFormat([](int p) { return QString::number(p / 2); });
  QSignalSpy moved(&s, &HalfSlider::Moved);
  s.SetPosition(40);
  s.SetText("loaded");
  EXPECT_EQ(moved.count(), 0);
  EXPECT_EQ(s.Text(), "loaded");
  s.Slider()->setFocus();
  QTest::keyClick(s.Slider(), Qt::Key_PageUp);
  EXPECT_EQ(s.Position(), 50);
  EXPECT_EQ(s.Text(), "25");
  EXPECT_EQ(moved.count(), 1);
}

}  // namespace
}  // namespace quillon
