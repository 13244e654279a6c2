#include "app/help_strip.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

namespace quillon {
namespace {

// A page with the strip at its bottom and two fixed regions plus one shown only on demand.
struct StripPage {
  QWidget page;
  HelpStrip* strip = new HelpStrip(&page);
  StripPage() {
    page.resize(500, 200);
    strip->setGeometry(0, 170, 500, 24);
    strip->SetRestingText("rest");
    strip->AddRegion(QRect(QPoint(0, 0), QPoint(150, 84)), "first", "Help/A.htm#a", 1);
    strip->AddRegion(QRect(QPoint(100, 0), QPoint(300, 84)), "second", "Help/A.htm#b", 2);
    strip->AddRegion(QRect(), "on demand", "Help/A.htm#c", 3);
    strip->WatchPage(&page);
  }
};

TEST(HelpStripTest, FirstRegionInRegistrationOrderWinsAndStaysWhileThePointIsInside) {
  StripPage p;
  EXPECT_EQ(p.strip->RegionAt({120, 10}), 0);  // inside both: the first registered
  EXPECT_EQ(p.strip->RegionAt({200, 10}), 1);
  EXPECT_EQ(p.strip->RegionAt({400, 10}), -1);
  EXPECT_EQ(p.strip->CurrentText(), "rest");

  p.strip->MouseMovedTo({200, 10});
  EXPECT_EQ(p.strip->CurrentText(), "second");
  // Still inside the current region, though the first one also holds the point: no change.
  p.strip->MouseMovedTo({120, 10});
  EXPECT_EQ(p.strip->CurrentId(), 2);
  p.strip->MouseMovedTo({20, 10});
  EXPECT_EQ(p.strip->CurrentId(), 1);
  // Outside every region (below them, over the strip): the text stays, so it can be clicked.
  p.strip->MouseMovedTo({20, 180});
  EXPECT_EQ(p.strip->CurrentId(), 1);
}

TEST(HelpStripTest, RealMouseMovesOverChildWidgetsReachTheStrip) {
  StripPage p;
  auto* child = new QWidget(&p.page);
  child->setGeometry(180, 20, 50, 30);
  p.page.show();
  QTest::mouseMove(child, QPoint(10, 10));
  QTRY_COMPARE_WITH_TIMEOUT(p.strip->CurrentId(), 2, 2000);

  // A window of the page (a popup, a dialog) has points of its own.
  QWidget popup(&p.page, Qt::Window);
  popup.setGeometry(0, 0, 100, 100);
  popup.setMouseTracking(true);
  popup.show();
  QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), popup.mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&popup, &move);
  EXPECT_EQ(p.strip->CurrentId(), 2);
}

TEST(HelpStripTest, TimerReturnsToTheRestingText) {
  StripPage p;
  p.strip->SetRestInterval(30);
  p.strip->MouseMovedTo({10, 10});
  EXPECT_TRUE(p.strip->IsTimerActive());
  EXPECT_EQ(p.strip->CurrentText(), "first");
  QTRY_COMPARE_WITH_TIMEOUT(p.strip->CurrentText(), QString("rest"), 2000);
  EXPECT_EQ(p.strip->CurrentId(), -1);
}

TEST(HelpStripTest, ClickOpensTheCurrentAnchorOnlyWhenARegionIsCurrent) {
  StripPage p;
  QSignalSpy spy(p.strip, &HelpStrip::AnchorClicked);
  QTest::mouseClick(p.strip, Qt::LeftButton, {}, QPoint(20, 10));
  EXPECT_EQ(spy.count(), 0);
  p.strip->ShowHelpById(3);
  EXPECT_EQ(p.strip->CurrentText(), "on demand");
  QTest::mouseClick(p.strip, Qt::LeftButton, {}, QPoint(20, 10));
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).toString(), "Help/A.htm#c");
}

TEST(HelpStripTest, WidgetRegionsFollowTheLayout) {
  QWidget page;
  page.resize(300, 200);
  auto* area = new QWidget(&page);
  area->setGeometry(10, 10, 50, 50);
  HelpStrip strip(&page);
  strip.AddRegion(area, "area", "x", 7);
  strip.WatchPage(&page);
  EXPECT_EQ(strip.RegionAt({20, 20}), 0);
  area->move(100, 100);
  EXPECT_EQ(strip.RegionAt({20, 20}), -1);
  EXPECT_EQ(strip.RegionAt({120, 120}), 0);
}

}  // namespace
}  // namespace quillon
