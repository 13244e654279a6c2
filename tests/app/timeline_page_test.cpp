#include "app/timeline_page.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <thread>

#include "app/frame_view.h"
#include "app/timeline.h"
#include "encoder/batch_command.h"
#include "encoder/encoder_controller.h"
#include "frame_test_support.h"
#include "video/frame_store.h"

namespace quillon {
namespace {

using testing::OpenPatternStore;
using testing::WaitForPicture;

// Encodes the whole pattern clip with the default settings and returns the first part's bytes.
// With a page, the page shows the movie and its cursor jumps between the clip's ends at every
// poll, so that its pictures are decoded between the encoding's frames.
std::string EncodePattern(TimelinePage* page) {
  EncoderController controller;
  if (!controller.OpenMovie(testing::PatternClip())) return {};
  if (page != nullptr) {
    page->AttachMovie(controller.Video());
    page->ShowMovie(controller.Video()->SourceDurationMs(), 0, 5999);
  }
  if (!controller.PrepareRun(0, kDurationToEnd)) return {};
  for (int poll = 0; poll < 3000 && controller.UpdateProgress(); ++poll) {
    if (!controller.Step()) return {};
    if (!controller.IsActive()) break;
    if (page != nullptr) {
      page->SetCursor(poll % 2 == 0 ? 5900 - poll % 7 * 40 : 100 + poll % 5 * 40, false);
      QCoreApplication::processEvents();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (page != nullptr) page->AttachMovie(nullptr);
  if (controller.IsActive()) return {};
  return testing::ReadFileBytes(controller.PreviewPath());
}

void Type(QLineEdit* box, const char* text) {
  box->selectAll();
  QTest::keyClicks(box, text);
  QTest::keyClick(box, Qt::Key_Return);
}

TEST(TimelinePageTest, TypedTimesMoveTheSelectionAndTheCursor) {
  TimelinePage page;
  page.ShowMovie(120000, 0, 9999);
  EXPECT_EQ(page.StartBox()->text(), "00:00:00.00");
  EXPECT_EQ(page.DurationBox()->text(), "00:00:10.00");
  EXPECT_TRUE(page.StartBox()->isEnabled());

  Type(page.StartBox(), "1:30.5");  // the .5 is 5 hundredths
  EXPECT_EQ(page.SelectionStart(), 90050u);
  EXPECT_EQ(page.SelectionEnd(), 100049u);
  EXPECT_EQ(page.Cursor(), 90050u);
  EXPECT_EQ(page.StartBox()->text(), "00:01:30.05");
  EXPECT_EQ(page.TimeBox()->text(), "00:01:30.05");
  EXPECT_EQ(page.DurationBox()->text(), "00:00:10.00");

  Type(page.StartBox(), "15");  // hundredths only
  EXPECT_EQ(page.SelectionStart(), 150u);
  EXPECT_EQ(page.SelectionEnd(), 10149u);

  Type(page.DurationBox(), "5.00");
  EXPECT_EQ(page.SelectionEnd(), 5140u);
  EXPECT_EQ(page.Cursor(), 5140u);
  EXPECT_EQ(page.DurationBox()->text(), "00:00:05.00");

  // A start that would carry the selection past the end stops where it still fits.
  Type(page.StartBox(), "1:59.99");
  EXPECT_EQ(page.SelectionEnd(), 119999u);
  EXPECT_EQ(page.SelectionStart(), 119999u - 4990u);

  Type(page.DurationBox(), "0");  // at least one millisecond stays selected
  EXPECT_EQ(page.SelectionEnd(), page.SelectionStart() + 1);

  Type(page.TimeBox(), "1:00.00");
  EXPECT_EQ(page.Cursor(), 60000u);
  EXPECT_EQ(page.GetTimeline()->ViewStart(), 59000u);  // a zoom before it
}

TEST(TimelinePageTest, BoxesShowTheFullTimeShape) {
  TimelinePage page;
  EXPECT_FALSE(page.StartBox()->isEnabled());
  EXPECT_FALSE(page.GetTimeline()->isEnabled());
  page.ShowMovie(4000000, 3723450, 3800000);
  EXPECT_EQ(page.StartBox()->text(), "01:02:03.45");
  EXPECT_EQ(page.TimeBox()->text(), "01:02:03.45");
  EXPECT_EQ(page.DurationBox()->text(), "00:01:16.56");
  EXPECT_EQ(page.GetTimeline()->Zoom(), 1000u);
  page.SelectAll();
  EXPECT_EQ(page.SelectionStart(), 0u);
  EXPECT_EQ(page.SelectionEnd(), 3999999u);
  EXPECT_EQ(page.DurationBox()->text(), "01:06:40.00");
}

TEST(TimelinePageTest, FrameViewFitsThePictureBetweenBackgroundBands) {
  FrameView view;
  view.resize(200, 200);
  view.SetBackground(0x0000FF);
  QImage wide(100, 50, QImage::Format_RGB888);
  wide.fill(QColor(255, 0, 0));
  view.SetPicture(wide);
  EXPECT_EQ(FrameView::FitRect(wide.size(), view.rect()), QRect(0, 50, 200, 100));
  EXPECT_EQ(FrameView::FitRect(QSize(50, 100), QRect(0, 0, 200, 100)), QRect(75, 0, 50, 100));
  const QImage shot = view.grab().toImage();
  EXPECT_EQ(shot.pixelColor(100, 100), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(100, 20), QColor(0, 0, 255));
  EXPECT_EQ(shot.pixelColor(100, 180), QColor(0, 0, 255));
  view.SetPicture(QImage());
  EXPECT_EQ(view.grab().toImage().pixelColor(100, 100), QColor(0, 0, 255));
}

TEST(TimelinePageTest, ShowsTheFilteredFrameUnderTheCursor) {
  auto opened = OpenPatternStore();
  ASSERT_NE(opened, nullptr);
  FrameStore& store = *opened;
  TimelinePage page;
  page.resize(760, 440);
  page.SetBackground(0x303030);
  FrameOptions options;
  options.smooth = 30.0f;
  options.smoothCycles = 1;
  page.SetPreviewFilter(options);
  QSignalSpy ready(page.GetFrameThread(), &FrameThread::FrameReady);
  page.AttachMovie(&store);
  page.ShowMovie(store.SourceDurationMs(), 1000, 4499);
  page.SetDetailLines(
      {"Source Movie", "Size: 160x120", "Frame Rate: 25.0 FPS", "No Sound", "", ""});
  page.SetProgressVisible(true);
  page.SetProgress(40);
  page.SetCursor(2500, false);
  ASSERT_TRUE(WaitForPicture(ready, 2500));
  QCoreApplication::processEvents();
  EXPECT_EQ(page.GetFrameView()->Picture().size(), QSize(160, 120));

  page.show();
  const QImage shot = page.grab().toImage();
  shot.save(QString(QUILLON_TEST_BINARY_DIR) + "/timeline_page.png");
  const QRect view = page.GetFrameView()->geometry();
  // Bands of the background beside the picture, the picture in the middle.
  const QRect picture = FrameView::FitRect(QSize(160, 120), QRect(QPoint(0, 0), view.size()));
  ASSERT_GT(picture.left(), 0);
  EXPECT_EQ(shot.pixelColor(view.left() + picture.left() / 2, view.center().y()),
            QColor(0x30, 0x30, 0x30));
  EXPECT_NE(shot.pixelColor(view.center()), QColor(0x30, 0x30, 0x30));

  // Detaching empties the picture.
  page.AttachMovie(nullptr);
  EXPECT_TRUE(page.GetFrameView()->Picture().isNull());
}

TEST(TimelinePageTest, PicturesDuringAnEncodingLeaveItsOutputAlone) {
  const std::string plain = EncodePattern(nullptr);
  ASSERT_FALSE(plain.empty());
  TimelinePage page;
  const std::string watched = EncodePattern(&page);
  EXPECT_GT(page.GetFrameThread()->RenderCount(), 4u);
  EXPECT_TRUE(watched == plain);
}

}  // namespace
}  // namespace quillon
