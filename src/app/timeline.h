// The timeline under the picture: a ruler on which the user scrubs the cursor, a band in which
// the range to encode is selected, the scroll bar under them and the zoom menu beside them.
#pragma once

#include <QWidget>
#include <cstdint>

class QMenu;
class QScrollBar;
class QTimer;
class QToolButton;

namespace quillon {

// All times are milliseconds. Invariants: cursor <= length - 1; selection start < selection
// end <= length - 1 (both 0 only for a one-millisecond movie); view end = view start + the
// visible span, floor(ruler width x zoom / 74); the view start never leaves more than the span
// after the end of the movie unless the whole movie fits.
class Timeline : public QWidget {
  Q_OBJECT
 public:
  // What a press on the ruler is dragging.
  enum DragMode : int { kDragNone = 0, kDragCursor = 1, kDragStart = 2, kDragEnd = 4 };
  // Pixels of one ruler division; the zoom is milliseconds per division.
  static constexpr int kDivisionPixels = 74;
  // The scroll bar counts 0..32699 whatever the movie's length.
  static constexpr int kScrollUnits = 32700;
  // The length shown before a movie is open.
  static constexpr uint32_t kNoMovieLength = 5010;

  explicit Timeline(QWidget* parent = nullptr);

  void SetLength(uint32_t ms);
  void SetZoom(uint32_t msPerDivision);
  void SetViewStart(int64_t ms);
  void SetSelection(uint32_t start, uint32_t end);
  // With scroll, a cursor outside the view brings the view to it.
  void SetCursor(uint32_t ms, bool scroll);

  uint32_t Length() const { return length_; }
  uint32_t Zoom() const { return zoom_; }
  uint32_t ViewStart() const { return viewStart_; }
  // Wider than a time: a long movie seen at a wide zoom may end its view past 2^32 ms.
  uint64_t ViewEnd() const { return uint64_t{viewStart_} + VisibleSpan(); }
  uint32_t VisibleSpan() const;
  uint32_t GetCursor() const { return cursor_; }
  uint32_t SelectionStart() const { return selectionStart_; }
  uint32_t SelectionEnd() const { return selectionEnd_; }
  int GetDragMode() const { return dragMode_; }

  // The painted ruler and band, in widget coordinates; times map onto its width.
  QRect RulerRect() const;
  // The time under ruler x (rounded to 10 ms, inside the movie) and the x of a time.
  uint32_t TimeAt(int x) const;
  int XOf(uint32_t ms) const;

  QScrollBar* ScrollBar() const { return scrollBar_; }
  QToolButton* ZoomButton() const { return zoomButton_; }
  // The "Timeline Zoom" popup; RefreshZoomMenu checks the current zoom and greys the zooms
  // whose span would exceed three lengths (done each time before it opens).
  QMenu* ZoomMenu() const { return zoomMenu_; }
  void RefreshZoomMenu();

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  void CursorMoved(uint32_t ms);
  void SelectionChanged(uint32_t start, uint32_t end);
  // A press that is not one of the drags: the widget has beeped and changed nothing.
  void PressRefused();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  int RulerWidth() const;
  void ChangeCursor(uint32_t ms);
  void ChangeSelection(uint32_t start, uint32_t end);
  // Moves the dragged mark (or the whole selection with Ctrl) and the cursor to the time under
  // ruler x, scrolling first when x lies outside the ruler.
  void DragTo(int x, bool moveWhole);
  void SetupScrollBar();
  void OnScrollAction(int action);
  void OnZoomChosen(uint32_t zoom);
  void PopUpZoomMenu();

  uint32_t length_ = kNoMovieLength;
  uint32_t cursor_ = 0;
  uint32_t selectionStart_ = 0;
  uint32_t selectionEnd_ = kNoMovieLength - 1;
  uint32_t zoom_ = 1000;
  uint32_t viewStart_ = 0;
  int dragMode_ = kDragNone;
  Qt::MouseButton dragButton_ = Qt::NoButton;
  // The mouse's last ruler x and Ctrl state during a drag, replayed by the scroll timer while
  // the mouse rests outside the ruler.
  int dragX_ = 0;
  bool dragWhole_ = false;
  int wheelRemainder_ = 0;
  // Set while the scroll bar is being moved to match the view, whose own actions it must not
  // take for the user's.
  bool syncingScrollBar_ = false;

  QScrollBar* scrollBar_ = nullptr;
  QToolButton* zoomButton_ = nullptr;
  QMenu* zoomMenu_ = nullptr;
  QTimer* dragScrollTimer_ = nullptr;
};

}  // namespace quillon
