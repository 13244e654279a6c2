#include "app/timeline.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QWheelEvent>

namespace quillon {
namespace {

constexpr int kLower = 33;  // a y in the selection band
constexpr int kUpper = 10;  // a y in the ruler

// A timeline whose ruler is exactly `rulerWidth` pixels wide.
void SizeRuler(Timeline& timeline, int rulerWidth) {
  timeline.resize(1000, timeline.sizeHint().height());
  const int extra = 1000 - timeline.RulerRect().width();
  timeline.resize(rulerWidth + extra, timeline.sizeHint().height());
  ASSERT_EQ(timeline.RulerRect().width(), rulerWidth);
}

void Mouse(Timeline& timeline, QEvent::Type type, Qt::MouseButton button, int x, int y,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  const QPointF local(x, y);
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
  QMouseEvent event(type, local, timeline.mapToGlobal(local),
                    type == QEvent::MouseMove ? Qt::NoButton : button, held, modifiers);
  QApplication::sendEvent(&timeline, &event);
}

void Drag(Timeline& timeline, Qt::MouseButton button, int x0, int x1, int y,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  Mouse(timeline, QEvent::MouseButtonPress, button, x0, y, modifiers);
  Mouse(timeline, QEvent::MouseMove, button, x1, y, modifiers);
  Mouse(timeline, QEvent::MouseButtonRelease, button, x1, y, modifiers);
}

class TimelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SizeRuler(timeline, 740);
    timeline.SetLength(90000);
    timeline.SetSelection(2000, 5000);
  }
  QAction* ZoomItem(const QString& text) {
    for (QAction* action : timeline.ZoomMenu()->actions()) {
      if (action->text() == text) return action;
    }
    return nullptr;
  }
  Timeline timeline;
};

TEST_F(TimelineTest, ZoomMenuGreysSpansBeyondThreeLengths) {
  EXPECT_EQ(timeline.VisibleSpan(), 10000u);
  timeline.RefreshZoomMenu();
  int items = 0;
  for (QAction* action : timeline.ZoomMenu()->actions()) items += action->isCheckable() ? 1 : 0;
  EXPECT_EQ(items, 13);
  for (const char* open : {"1/10 Second", "1/2 Second", "1 Second", "10 Seconds", "20 Seconds"}) {
    ASSERT_NE(ZoomItem(open), nullptr) << open;
    EXPECT_TRUE(ZoomItem(open)->isEnabled()) << open;
  }
  for (const char* greyed : {"30 Seconds", "1 Minute", "30 Minutes", "1 Hour"}) {
    ASSERT_NE(ZoomItem(greyed), nullptr) << greyed;
    EXPECT_FALSE(ZoomItem(greyed)->isEnabled()) << greyed;
  }
  EXPECT_TRUE(ZoomItem("1 Second")->isChecked());

  // Choosing a zoom that shows everything disables the scroll bar and puts the view at 0.
  timeline.SetViewStart(50000);
  ZoomItem("10 Seconds")->trigger();
  EXPECT_EQ(timeline.Zoom(), 10000u);
  EXPECT_EQ(timeline.ViewStart(), 0u);
  EXPECT_FALSE(timeline.ScrollBar()->isEnabled());
  timeline.RefreshZoomMenu();
  EXPECT_TRUE(ZoomItem("10 Seconds")->isChecked());
  EXPECT_FALSE(ZoomItem("1 Second")->isChecked());
}

TEST_F(TimelineTest, TimeAndPixelMapBothWays) {
  // 10 s over 740 pixels: 13.5 ms a pixel, times rounded to 10 ms.
  EXPECT_EQ(timeline.TimeAt(0), 0u);
  EXPECT_EQ(timeline.TimeAt(1), 10u);
  EXPECT_EQ(timeline.TimeAt(370), 5000u);
  EXPECT_EQ(timeline.TimeAt(-30), 0u);
  EXPECT_EQ(timeline.XOf(5000), 370);
  EXPECT_EQ(timeline.XOf(5004), 370);
  timeline.SetViewStart(80000);
  EXPECT_EQ(timeline.TimeAt(0), 80000u);
  EXPECT_EQ(timeline.XOf(79000), -74);
  // Beyond the end the time stops at the last millisecond.
  timeline.SetLength(85005);
  EXPECT_EQ(timeline.ViewStart(), 75005u);
  EXPECT_EQ(timeline.TimeAt(739), 84990u);
  EXPECT_EQ(timeline.TimeAt(740), 85004u);
}

TEST_F(TimelineTest, TheLongestMovieStaysInRange) {
  timeline.SetLength(UINT32_MAX);
  timeline.SetZoom(3600000);
  timeline.SetCursor(UINT32_MAX - 1, true);
  EXPECT_EQ(timeline.GetCursor(), UINT32_MAX - 1);
  EXPECT_EQ(timeline.ViewEnd(), uint64_t{UINT32_MAX});
  EXPECT_EQ(timeline.TimeAt(740), UINT32_MAX - 1);
  EXPECT_GT(timeline.XOf(UINT32_MAX - 1), 700);
  EXPECT_FALSE(timeline.grab().isNull());
}

TEST_F(TimelineTest, ViewFollowsItsRules) {
  timeline.SetViewStart(85000);  // would run past the end
  EXPECT_EQ(timeline.ViewStart(), 80000u);
  EXPECT_EQ(timeline.ViewEnd(), 90000u);

  timeline.SetCursor(1000, true);  // before the view: a zoom before the cursor
  EXPECT_EQ(timeline.ViewStart(), 0u);
  timeline.SetCursor(50000, true);  // at or after the end: half a zoom before it
  EXPECT_EQ(timeline.ViewStart(), 49500u);
  timeline.SetCursor(70000, false);
  EXPECT_EQ(timeline.ViewStart(), 49500u);
  EXPECT_EQ(timeline.GetCursor(), 70000u);

  // A zoom change keeps the view start unless the cursor falls outside.
  timeline.SetCursor(52000, false);
  timeline.SetZoom(500);
  EXPECT_EQ(timeline.ViewStart(), 49500u);
  timeline.SetZoom(100);  // span 1000 ms: 52000 is outside
  EXPECT_EQ(timeline.ViewStart(), 51900u);
}

TEST_F(TimelineTest, RefusedPressesBeepAndChangeNothing) {
  QSignalSpy refused(&timeline, &Timeline::PressRefused);
  QSignalSpy cursor(&timeline, &Timeline::CursorMoved);
  QSignalSpy selection(&timeline, &Timeline::SelectionChanged);
  const int beforeStart = timeline.XOf(1000);
  const int afterEnd = timeline.XOf(6000);
  Drag(timeline, Qt::RightButton, beforeStart, beforeStart + 30, kLower);
  Drag(timeline, Qt::LeftButton, afterEnd, afterEnd - 30, kLower);
  Drag(timeline, Qt::MiddleButton, 100, 120, kLower);
  Drag(timeline, Qt::RightButton, 100, 120, kUpper);
  EXPECT_EQ(refused.count(), 4);
  EXPECT_EQ(cursor.count(), 0);
  EXPECT_EQ(selection.count(), 0);
  EXPECT_EQ(timeline.SelectionStart(), 2000u);
  EXPECT_EQ(timeline.SelectionEnd(), 5000u);
  EXPECT_EQ(timeline.GetDragMode(), Timeline::kDragNone);
}

TEST_F(TimelineTest, DraggedMarksStayApartAndTheCursorFollows) {
  Drag(timeline, Qt::LeftButton, timeline.XOf(2000), timeline.XOf(8000), kLower);
  EXPECT_EQ(timeline.SelectionStart(), 4999u);
  EXPECT_EQ(timeline.SelectionEnd(), 5000u);
  EXPECT_EQ(timeline.GetCursor(), 8000u);

  Drag(timeline, Qt::RightButton, timeline.XOf(5000), timeline.XOf(1000), kLower);
  EXPECT_EQ(timeline.SelectionStart(), 4999u);
  EXPECT_EQ(timeline.SelectionEnd(), 5000u);

  Drag(timeline, Qt::RightButton, timeline.XOf(5000), timeline.XOf(7500), kLower);
  EXPECT_EQ(timeline.SelectionEnd(), 7500u);
  EXPECT_EQ(timeline.GetCursor(), 7500u);

  Drag(timeline, Qt::LeftButton, 300, timeline.XOf(3000), kUpper);
  EXPECT_EQ(timeline.GetCursor(), 3000u);
  EXPECT_EQ(timeline.SelectionStart(), 4999u);
  EXPECT_EQ(timeline.GetDragMode(), Timeline::kDragNone);
}

TEST_F(TimelineTest, CtrlMovesTheWholeSelectionInsideTheMovie) {
  Drag(timeline, Qt::LeftButton, timeline.XOf(2000), timeline.XOf(4000), kLower,
       Qt::ControlModifier);
  EXPECT_EQ(timeline.SelectionStart(), 4000u);
  EXPECT_EQ(timeline.SelectionEnd(), 7000u);
  // The end drag with Ctrl may start before the selection and stops at time 0.
  Drag(timeline, Qt::RightButton, timeline.XOf(1000), 0, kLower, Qt::ControlModifier);
  EXPECT_EQ(timeline.SelectionStart(), 0u);
  EXPECT_EQ(timeline.SelectionEnd(), 3000u);

  timeline.SetViewStart(80000);
  Drag(timeline, Qt::LeftButton, timeline.XOf(85000), timeline.XOf(89990), kLower,
       Qt::ControlModifier);
  EXPECT_EQ(timeline.SelectionEnd(), 89999u);
  EXPECT_EQ(timeline.SelectionStart(), 86999u);
}

TEST_F(TimelineTest, DraggingPastTheEndsScrolls) {
  timeline.SetViewStart(40000);
  Mouse(timeline, QEvent::MouseButtonPress, Qt::LeftButton, 100, kUpper);
  Mouse(timeline, QEvent::MouseMove, Qt::LeftButton, 740 + 74, kUpper);
  // The mouse a division (1 s) right of the view's end scrolls by a quarter of that.
  EXPECT_EQ(timeline.ViewStart(), 40250u);
  const uint32_t right = timeline.ViewStart();
  Mouse(timeline, QEvent::MouseMove, Qt::LeftButton, -2, kUpper);
  EXPECT_EQ(timeline.ViewStart(), right - 7);  // 30 ms left of the view
  Mouse(timeline, QEvent::MouseMove, Qt::LeftButton, -740, kUpper);
  EXPECT_EQ(timeline.ViewStart(), right - 7 - 2500);
  EXPECT_EQ(timeline.GetCursor(), timeline.TimeAt(-740));
  Mouse(timeline, QEvent::MouseButtonRelease, Qt::LeftButton, -740, kUpper);
  EXPECT_EQ(timeline.GetDragMode(), Timeline::kDragNone);
}

TEST_F(TimelineTest, WheelStepsMoveTheCursorAPixelAtATime) {
  timeline.SetCursor(1000, false);
  auto wheel = [&](int delta) {
    QWheelEvent event(QPointF(100, 10), timeline.mapToGlobal(QPointF(100, 10)), QPoint(),
                      QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&timeline, &event);
  };
  wheel(240);  // two steps back of 10000 / 740 = 13 ms
  EXPECT_EQ(timeline.GetCursor(), 974u);
  wheel(-60);
  wheel(-60);  // two halves make one step forward
  EXPECT_EQ(timeline.GetCursor(), 987u);
  wheel(120 * 100);
  EXPECT_EQ(timeline.GetCursor(), 0u);
  timeline.SetCursor(89990, true);
  EXPECT_EQ(timeline.ViewStart(), 80000u);
  wheel(-120 * 5);
  EXPECT_EQ(timeline.GetCursor(), 89999u);
}

TEST_F(TimelineTest, ScrollBarMapsTheViewOnto32700Units) {
  QScrollBar* bar = timeline.ScrollBar();
  EXPECT_TRUE(bar->isEnabled());
  EXPECT_EQ(bar->pageStep(), 3633);  // 32700 / 90000 x 10000
  EXPECT_EQ(bar->maximum(), 32700 - 3633);
  timeline.SetViewStart(45000);
  EXPECT_EQ(bar->sliderPosition(), 16350);

  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(timeline.ViewStart(), 45250u);
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(timeline.ViewStart(), 35250u);
  for (int i = 0; i < 5; ++i) bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(timeline.ViewStart(), 80000u);
  bar->setSliderPosition(3270);
  EXPECT_EQ(timeline.ViewStart(), 9000u);

  timeline.SetLength(9000);  // everything fits
  EXPECT_FALSE(bar->isEnabled());
  EXPECT_EQ(timeline.ViewStart(), 0u);
}

}  // namespace
}  // namespace quillon
