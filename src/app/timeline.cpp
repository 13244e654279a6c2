#include "app/timeline.h"

#include <QActionGroup>
#include <QApplication>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/time_text.h"

namespace quillon {

namespace {

constexpr int kRulerHeight = 44;  // upper half ruler, lower half selection band
constexpr int kZoomButtonWidth = 18;
constexpr int kLabelShape = 1;  // ruler labels never shorter than ss.cc
constexpr int kMinorTicks = 4;
constexpr int kDragScrollMs = 40;
constexpr int kWheelStep = 120;

struct ZoomItem {
  const char* text;
  uint32_t zoom;
};
constexpr ZoomItem kZoomItems[] = {
    {"1/10 Second", 100},  {"1/2 Second", 500},    {"1 Second", 1000},      {"5 Seconds", 5000},
    {"10 Seconds", 10000}, {"20 Seconds", 20000},  {"30 Seconds", 30000},   {"1 Minute", 60000},
    {"5 Minutes", 300000}, {"10 Minutes", 600000}, {"20 Minutes", 1200000}, {"30 Minutes", 1800000},
    {"1 Hour", 3600000},
};

const QColor kGrey(0x80, 0x80, 0x80);
const QColor kBeyondEnd(0xF6, 0xF6, 0xF6);
const QColor kBandTop(0xCC, 0xCC, 0xCC);
const QColor kSelectionTop(0x31, 0x92, 0xDD);
const QColor kSelectionBottom(0xB4, 0xDB, 0xFF);
const QColor kSelectionMarker(0x1A, 0x4E, 0x86);
const QColor kCursorLight(0xFE, 0xB2, 0x3A);
const QColor kCursorDark(0xC6, 0x8C, 0x00);
const QColor kMovieEdge(0x40, 0x40, 0x40);

int64_t RoundTo10(int64_t ms) {
  return static_cast<int64_t>(std::floor(ms / 10.0 + 0.5)) * 10;
}

uint64_t SpanFor(int width, uint32_t zoom) {
  return width <= 0 ? 0 : uint64_t(width) * zoom / Timeline::kDivisionPixels;
}

}  // namespace

Timeline::Timeline(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setMouseTracking(false);

  scrollBar_ = new QScrollBar(Qt::Horizontal, this);
  connect(scrollBar_, &QScrollBar::actionTriggered, this, &Timeline::OnScrollAction);

  zoomButton_ = new QToolButton(this);
  zoomButton_->setArrowType(Qt::DownArrow);
  zoomButton_->setText("v");
  zoomButton_->setToolTip("Timeline Zoom");
  zoomButton_->setFocusPolicy(Qt::NoFocus);
  connect(zoomButton_, &QToolButton::clicked, this, &Timeline::PopUpZoomMenu);

  zoomMenu_ = new QMenu("Timeline Zoom", this);
  zoomMenu_->addSection("Timeline Zoom");
  auto* group = new QActionGroup(zoomMenu_);
  for (const ZoomItem& item : kZoomItems) {
    QAction* action = zoomMenu_->addAction(item.text);
    action->setCheckable(true);
    action->setData(QVariant::fromValue(item.zoom));
    group->addAction(action);
    const uint32_t zoom = item.zoom;
    connect(action, &QAction::triggered, this, [this, zoom] { OnZoomChosen(zoom); });
  }
  connect(zoomMenu_, &QMenu::aboutToShow, this, &Timeline::RefreshZoomMenu);

  dragScrollTimer_ = new QTimer(this);
  dragScrollTimer_->setInterval(kDragScrollMs);
  connect(dragScrollTimer_, &QTimer::timeout, this, [this] {
    if (dragMode_ == kDragNone) {
      dragScrollTimer_->stop();
      return;
    }
    DragTo(dragX_, dragWhole_);
  });
  SetupScrollBar();
}

QSize Timeline::sizeHint() const {
  return {600, kRulerHeight + scrollBar_->sizeHint().height()};
}

QSize Timeline::minimumSizeHint() const {
  return {kDivisionPixels * 2 + kZoomButtonWidth, kRulerHeight + scrollBar_->sizeHint().height()};
}

QRect Timeline::RulerRect() const {
  return {0, 0, RulerWidth(), kRulerHeight};
}

int Timeline::RulerWidth() const {
  return std::max(0, width() - kZoomButtonWidth);
}

uint32_t Timeline::VisibleSpan() const {
  return static_cast<uint32_t>(std::min<uint64_t>(SpanFor(RulerWidth(), zoom_), UINT32_MAX / 2));
}

uint32_t Timeline::TimeAt(int x) const {
  const int w = RulerWidth();
  int64_t t = viewStart_;
  if (w > 0) t += static_cast<int64_t>(std::floor(double(VisibleSpan()) * x / w + 0.5));
  t = RoundTo10(t);
  return static_cast<uint32_t>(std::clamp<int64_t>(t, 0, int64_t{length_} - 1));
}

int Timeline::XOf(uint32_t ms) const {
  const uint32_t span = VisibleSpan();
  if (span == 0) return 0;
  const double x =
      std::floor(double(RoundTo10(ms) - int64_t{viewStart_}) / span * RulerWidth() + 0.5);
  // Far-off times only need to land outside the ruler.
  return static_cast<int>(std::clamp(x, -1e6, 1e6));
}

void Timeline::SetLength(uint32_t ms) {
  length_ = std::max<uint32_t>(ms, 1);
  selectionEnd_ = std::min(selectionEnd_, length_ - 1);
  if (selectionStart_ >= selectionEnd_)
    selectionStart_ = selectionEnd_ == 0 ? 0 : selectionEnd_ - 1;
  cursor_ = std::min(cursor_, length_ - 1);
  SetViewStart(viewStart_);
}

void Timeline::SetZoom(uint32_t msPerDivision) {
  zoom_ = std::max<uint32_t>(msPerDivision, 1);
  SetViewStart(viewStart_);
  if (cursor_ < viewStart_ || cursor_ >= ViewEnd()) {
    SetViewStart(std::max<int64_t>(int64_t{cursor_} - zoom_, 0));
  }
}

void Timeline::SetViewStart(int64_t ms) {
  const int64_t span = VisibleSpan();
  if (ms + span > length_) ms = int64_t{length_} - span;
  viewStart_ = static_cast<uint32_t>(std::clamp<int64_t>(ms, 0, length_));
  SetupScrollBar();
  update();
}

void Timeline::SetSelection(uint32_t start, uint32_t end) {
  end = std::min(end, length_ - 1);
  if (end == 0 && length_ > 1) end = 1;
  if (start >= end) start = end == 0 ? 0 : end - 1;
  ChangeSelection(start, end);
}

void Timeline::SetCursor(uint32_t ms, bool scroll) {
  ms = std::min(ms, length_ - 1);
  if (scroll) {
    if (ms < viewStart_) {
      SetViewStart(std::max<int64_t>(int64_t{ms} - zoom_, 0));
    } else if (ms >= ViewEnd()) {
      SetViewStart(std::max<int64_t>(int64_t{ms} - zoom_ / 2, 0));
    }
  }
  ChangeCursor(ms);
}

void Timeline::ChangeCursor(uint32_t ms) {
  if (ms == cursor_) return;
  cursor_ = ms;
  update();
  emit CursorMoved(ms);
}

void Timeline::ChangeSelection(uint32_t start, uint32_t end) {
  if (start == selectionStart_ && end == selectionEnd_) return;
  selectionStart_ = start;
  selectionEnd_ = end;
  update();
  emit SelectionChanged(start, end);
}

void Timeline::SetupScrollBar() {
  const bool wasSyncing = syncingScrollBar_;
  syncingScrollBar_ = true;
  const uint32_t span = VisibleSpan();
  if (span >= length_) {
    // Everything is visible: nothing to scroll, the view stays at the start.
    viewStart_ = 0;
    scrollBar_->setEnabled(false);
    scrollBar_->setRange(0, 0);
    scrollBar_->setPageStep(kScrollUnits);
  } else {
    const int page = static_cast<int>(
        std::clamp<uint64_t>(uint64_t{span} * kScrollUnits / length_, 1, kScrollUnits));
    scrollBar_->setEnabled(true);
    scrollBar_->setRange(0, kScrollUnits - page);
    scrollBar_->setPageStep(page);
    scrollBar_->setSingleStep(std::max(1, page / 4));
    scrollBar_->setSliderPosition(static_cast<int>(uint64_t{viewStart_} * kScrollUnits / length_));
  }
  syncingScrollBar_ = wasSyncing;
}

void Timeline::OnScrollAction(int action) {
  if (syncingScrollBar_) return;
  int64_t start = viewStart_;
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      start += zoom_ / 4;
      break;
    case QAbstractSlider::SliderSingleStepSub:
      start -= zoom_ / 4;
      break;
    case QAbstractSlider::SliderPageStepAdd:
      start += VisibleSpan();
      break;
    case QAbstractSlider::SliderPageStepSub:
      start -= VisibleSpan();
      break;
    case QAbstractSlider::SliderToMinimum:
      start = 0;
      break;
    case QAbstractSlider::SliderToMaximum:
      start = length_;
      break;
    case QAbstractSlider::SliderMove:
      start = int64_t{scrollBar_->sliderPosition()} * length_ / kScrollUnits;
      break;
    default:
      return;
  }
  const int thumb = scrollBar_->sliderPosition();
  SetViewStart(std::clamp<int64_t>(start, 0, length_));
  // A dragged thumb stays under the mouse; the other actions snap it to the view.
  if (action == QAbstractSlider::SliderMove) {
    syncingScrollBar_ = true;
    scrollBar_->setSliderPosition(thumb);
    syncingScrollBar_ = false;
  }
}

void Timeline::RefreshZoomMenu() {
  for (QAction* action : zoomMenu_->actions()) {
    if (!action->isCheckable()) continue;
    const uint32_t zoom = action->data().toUInt();
    action->setChecked(zoom == zoom_);
    // A span beyond three lengths would show mostly empty ruler.
    action->setEnabled(uint64_t{length_} * 3 >= SpanFor(RulerWidth(), zoom));
  }
}

void Timeline::OnZoomChosen(uint32_t zoom) {
  SetZoom(zoom);
  update();
}

void Timeline::PopUpZoomMenu() {
  zoomMenu_->popup(zoomButton_->mapToGlobal(QPoint(0, zoomButton_->height())));
}

void Timeline::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int w = RulerWidth();
  zoomButton_->setGeometry(w, 0, kZoomButtonWidth, kRulerHeight);
  scrollBar_->setGeometry(0, kRulerHeight, width(), std::max(0, height() - kRulerHeight));
  // The span follows the width: keep the view start legal for the new span.
  SetViewStart(viewStart_);
}

void Timeline::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (dragMode_ != kDragNone || !RulerRect().contains(pos)) {
    QWidget::mousePressEvent(event);
    return;
  }
  const uint32_t t = TimeAt(pos.x());
  const bool ctrl = (event->modifiers() & Qt::ControlModifier) != 0;
  int mode = kDragNone;
  if (pos.y() < kRulerHeight / 2) {
    if (event->button() == Qt::LeftButton) mode = kDragCursor;
  } else if (event->button() == Qt::LeftButton && (ctrl || t < selectionEnd_)) {
    mode = kDragStart;
  } else if (event->button() == Qt::RightButton && (ctrl || t >= selectionStart_)) {
    mode = kDragEnd;
  }
  if (mode == kDragNone) {
    // Qt grabbed the mouse for the press; nothing is dragged, so the release ends it.
    QApplication::beep();
    emit PressRefused();
    return;
  }
  dragMode_ = mode;
  dragButton_ = event->button();
  dragWhole_ = ctrl;
  dragX_ = pos.x();
  DragTo(pos.x(), ctrl);
}

void Timeline::mouseMoveEvent(QMouseEvent* event) {
  if (dragMode_ == kDragNone) return;
  dragX_ = event->position().toPoint().x();
  dragWhole_ = (event->modifiers() & Qt::ControlModifier) != 0;
  DragTo(dragX_, dragWhole_);
  const bool outside = dragX_ < 0 || dragX_ >= RulerWidth();
  if (outside && !dragScrollTimer_->isActive()) dragScrollTimer_->start();
  if (!outside) dragScrollTimer_->stop();
}

void Timeline::mouseReleaseEvent(QMouseEvent* event) {
  if (dragMode_ == kDragNone || event->button() != dragButton_) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  dragMode_ = kDragNone;
  dragScrollTimer_->stop();
  update();
}

void Timeline::DragTo(int x, bool moveWhole) {
  const int w = RulerWidth();
  if (x < 0 || x >= w) {
    const int64_t t = TimeAt(x);
    const int64_t start = viewStart_;
    const int64_t end = ViewEnd();
    if (x < 0)
      SetViewStart(std::max<int64_t>(start - std::max<int64_t>(1, (start - t) / 4), 0));
    else
      SetViewStart(start + std::max<int64_t>(1, (t - end) / 4));
  }
  const uint32_t t = TimeAt(x);
  if (dragMode_ == kDragStart || dragMode_ == kDragEnd) {
    uint32_t start = selectionStart_;
    uint32_t end = selectionEnd_;
    const uint32_t span = end - start;
    if (moveWhole) {
      if (dragMode_ == kDragStart) {
        start = std::min(t, length_ - 1 - std::min(span, length_ - 1));
        end = start + span;
      } else {
        end = std::max(t, span);
        start = end - span;
      }
    } else if (dragMode_ == kDragStart) {
      start = end == 0 ? 0 : std::min(t, end - 1);
    } else {
      end = std::min(std::max(t, start + 1), length_ - 1);
    }
    ChangeSelection(start, end);
  }
  ChangeCursor(t);
}

void Timeline::wheelEvent(QWheelEvent* event) {
  wheelRemainder_ += event->angleDelta().y();
  const int steps = wheelRemainder_ / kWheelStep;
  wheelRemainder_ -= steps * kWheelStep;
  event->accept();
  if (steps == 0) return;
  const int w = RulerWidth();
  const int64_t perStep = std::max<int64_t>(1, w > 0 ? VisibleSpan() / w : 1);
  const int64_t t =
      std::clamp<int64_t>(int64_t{cursor_} - steps * perStep, 0, int64_t{length_} - 1);
  SetCursor(static_cast<uint32_t>(t), true);
}

void Timeline::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int w = RulerWidth();
  const int h = kRulerHeight;
  const int mid = h / 2;
  const int movieEndX = XOf(length_);

  // Ruler: white over the movie, a lighter grey beyond its end.
  p.fillRect(0, 0, w, mid, kBeyondEnd);
  p.fillRect(0, 0, std::clamp(movieEndX, 0, w), mid, Qt::white);

  // Selection band: an eight-step gradient down to white.
  const int bandHeight = h - mid;
  for (int i = 0; i < 8; ++i) {
    const int y0 = mid + bandHeight * i / 8;
    const int y1 = mid + bandHeight * (i + 1) / 8;
    const int level = kBandTop.red() + (255 - kBandTop.red()) * i / 7;
    p.fillRect(0, y0, w, y1 - y0, QColor(level, level, level));
  }
  const int selX0 = XOf(selectionStart_);
  const int selX1 = XOf(selectionEnd_);
  if (selX1 >= 0 && selX0 < w) {
    QLinearGradient gradient(0, mid, 0, h);
    gradient.setColorAt(0, kSelectionTop);
    gradient.setColorAt(1, kSelectionBottom);
    p.fillRect(QRect(QPoint(selX0, mid), QPoint(std::max(selX0, selX1), h - 1)), gradient);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(kSelectionMarker);
    constexpr int kMarker = 7;
    p.drawPolygon(QPolygon({QPoint(selX0, mid + 2), QPoint(selX0 + kMarker, mid + 2),
                            QPoint(selX0, mid + 2 + kMarker)}));
    p.drawPolygon(QPolygon({QPoint(selX1 + 1, mid + 2), QPoint(selX1 + 1 - kMarker, mid + 2),
                            QPoint(selX1 + 1, mid + 2 + kMarker)}));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    p.setPen(kSelectionMarker);
    p.drawLine(selX0, mid + 2, selX0, h - 2);
    p.drawLine(selX1, mid + 2, selX1, h - 2);
  }

  // Ticks: a labelled one on every multiple of the zoom, four small ones between.
  QFont font = p.font();
  font.setPixelSize(10);
  p.setFont(font);
  const QFontMetrics metrics(font);
  const QColor ink = isEnabled() ? Qt::black : kGrey;
  const uint64_t viewEnd = ViewEnd();
  uint64_t first = (uint64_t{viewStart_} + zoom_ - 1) / zoom_ * zoom_;
  // The division before the first label still shows its small ticks.
  for (uint64_t t = first >= zoom_ ? first - zoom_ : first; t <= viewEnd && t <= UINT32_MAX;
       t += zoom_) {
    const int x = XOf(static_cast<uint32_t>(t));
    p.setPen(ink);
    for (int k = 1; k <= kMinorTicks; ++k) {
      const int mx = static_cast<int>(std::lround(x + k * kDivisionPixels / (kMinorTicks + 1.0)));
      if (mx >= 0 && mx < w) p.drawLine(mx, mid - 4, mx, mid - 1);
    }
    if (t < viewStart_) continue;
    p.drawLine(x, mid - 8, x, mid - 1);
    const QString label =
        QString::fromStdString(FormatTimeText(static_cast<uint32_t>(t), kLabelShape));
    const int textWidth = metrics.horizontalAdvance(label) + 2;
    // Centred on its tick, but pulled inside the ruler at either edge so it stays readable.
    const int left = std::clamp(x - textWidth / 2, 0, std::max(0, w - textWidth));
    p.drawText(QRect(left, 2, textWidth, mid - 10), Qt::AlignCenter, label);
  }

  // The movie's first and last moments, under the labels so that these stay readable.
  p.setPen(kMovieEdge);
  const int zeroX = XOf(0);
  const int edgeTop = mid - 9;
  if (zeroX >= 0 && zeroX < w) p.drawLine(zeroX, edgeTop, zeroX, h - 1);
  if (movieEndX >= 0 && movieEndX < w) p.drawLine(movieEndX, edgeTop, movieEndX, h - 1);

  // Frame lines: grey at top, middle and bottom, black just under the top and the middle.
  p.setPen(kGrey);
  p.drawLine(0, 0, w - 1, 0);
  p.drawLine(0, mid, w - 1, mid);
  p.drawLine(0, h - 1, w - 1, h - 1);
  p.setPen(Qt::black);
  p.drawLine(0, 1, w - 1, 1);
  p.drawLine(0, mid + 1, w - 1, mid + 1);

  // The cursor: a light and a dark line side by side.
  const int cursorX = XOf(cursor_);
  if (cursorX >= 0 && cursorX < w) {
    p.setPen(kCursorLight);
    p.drawLine(cursorX, 2, cursorX, h - 2);
    p.setPen(kCursorDark);
    p.drawLine(cursorX + 1, 2, cursorX + 1, h - 2);
  }
}

}  // namespace quillon
