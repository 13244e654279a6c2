// The upper "Timeline" page: the filtered picture of the frame under the cursor, the timeline
// with the selection to encode, the Start, Duration and Time boxes, the six detail lines and the
// progress bar of an encoding.
#pragma once

#include <QStringList>
#include <QWidget>
#include <cstdint>

#include "settings/encoder_settings.h"

class QLabel;
class QLineEdit;
class QProgressBar;

namespace quillon {

class FrameStore;
class FrameThread;
class FrameView;
class Timeline;

class TimelinePage : public QWidget {
  Q_OBJECT
 public:
  explicit TimelinePage(QWidget* parent = nullptr);
  ~TimelinePage() override;

  // Null detaches; returns once the frame worker no longer reads the previous store.
  void AttachMovie(FrameStore* store);
  // A newly opened movie: view from 0 at 1 s a division, the selection, the cursor on its start.
  void ShowMovie(uint32_t lengthMs, uint32_t selectionStart, uint32_t selectionEnd);
  // The live filter record of the settings pages; the picture is rendered again with it.
  void SetPreviewFilter(const FrameOptions& options);
  void SetBackground(uint32_t rgb);  // 0xRRGGBB
  // A new picture at the cursor; force renders it even when that time is already shown.
  void RequestFrame(bool force);
  void SetDetailLines(const QStringList& lines);  // the six status lines
  void SetProgress(int percent);
  void SetProgressVisible(bool visible);
  void SetTimelineEnabled(bool enabled);
  uint32_t SelectionStart() const;
  uint32_t SelectionEnd() const;  // inclusive
  uint32_t Cursor() const;
  void SetCursor(uint32_t ms, bool scroll);
  void SelectAll();

  // The parts, for the window's layout and for tests.
  Timeline* GetTimeline() const { return timeline_; }
  FrameView* GetFrameView() const { return frameView_; }
  FrameThread* GetFrameThread() const { return frameThread_; }
  QLineEdit* StartBox() const { return startBox_; }
  QLineEdit* DurationBox() const { return durationBox_; }
  QLineEdit* TimeBox() const { return timeBox_; }
  QProgressBar* ProgressBar() const { return progress_; }

 private:
  void ShowTimes();
  void OnStartEdited();
  void OnDurationEdited();
  void OnTimeEdited();

  FrameView* frameView_ = nullptr;
  Timeline* timeline_ = nullptr;
  FrameThread* frameThread_ = nullptr;
  QLineEdit* startBox_ = nullptr;
  QLineEdit* durationBox_ = nullptr;
  QLineEdit* timeBox_ = nullptr;
  QList<QLabel*> details_;
  QProgressBar* progress_ = nullptr;
};

}  // namespace quillon
