// The upper "Timeline" page: the picture of the frame under the cursor, the timeline with the
// selection to encode, the six detail lines and the progress bar of an encoding.
#pragma once

#include <QStringList>
#include <QWidget>
#include <cstdint>

#include "settings/encoder_settings.h"

class QLabel;
class QProgressBar;

namespace quillon {

class FrameStore;

class TimelinePage : public QWidget {
  Q_OBJECT
 public:
  explicit TimelinePage(QWidget* parent = nullptr);

  void AttachMovie(FrameStore* store);  // nullptr detaches (the frame worker stops using it first)
  void ShowMovie(uint32_t lengthMs, uint32_t selectionStart, uint32_t selectionEnd);
  void SetPreviewFilter(const FrameOptions& options);
  void SetBackground(uint32_t rgb);  // 0xRRGGBB
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

 private:
  FrameStore* store_ = nullptr;
  uint32_t length_ = 5010;
  uint32_t selectionStart_ = 0;
  uint32_t selectionEnd_ = 5009;
  uint32_t cursor_ = 0;
  QLabel* picture_ = nullptr;
  QLabel* details_ = nullptr;
  QLabel* times_ = nullptr;
  QProgressBar* progress_ = nullptr;
};

}  // namespace quillon
