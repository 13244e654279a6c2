#include "app/help_strip.h"

#include <QChildEvent>
#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>

namespace quillon {

namespace {

const QColor kBackground(0xE4, 0xE0, 0xD8);
const QColor kTextColour(0x80, 0x80, 0x80);
constexpr int kTextLeft = 4;
constexpr int kFontPixels = 12;

QFont StripFont() {
  QFont font = QFontDatabase::families().contains(QStringLiteral("Verdana"))
                   ? QFont(QStringLiteral("Verdana"))
                   : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPixelSize(kFontPixels);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  return font;
}

}  // namespace

HelpStrip::HelpStrip(QWidget* parent) : QWidget(parent) {
  setFont(StripFont());
  setCursor(Qt::PointingHandCursor);
  setAutoFillBackground(false);
  timer_.setSingleShot(true);
  timer_.setInterval(kRestMs);
  connect(&timer_, &QTimer::timeout, this, &HelpStrip::Rest);
}

void HelpStrip::SetRestingText(const QString& text) {
  restingText_ = text;
  update();
}

void HelpStrip::AddRegion(const QRect& rect, const QString& text, const QString& anchor, int id) {
  regions_.push_back({rect, nullptr, text, anchor, id});
}

void HelpStrip::AddRegion(QWidget* area, const QString& text, const QString& anchor, int id) {
  regions_.push_back({QRect(), area, text, anchor, id});
}

QRect HelpStrip::RegionRect(int index) const {
  const Region& region = regions_[index];
  if (region.area == nullptr || page_ == nullptr) return region.rect;
  const QWidget* area = region.area;
  return QRect(area->mapTo(page_, QPoint(0, 0)), area->size());
}

int HelpStrip::RegionAt(const QPoint& pagePoint) const {
  for (int i = 0; i < regions_.size(); ++i) {
    if (RegionRect(i).contains(pagePoint)) return i;
  }
  return -1;
}

void HelpStrip::MouseMovedTo(const QPoint& pagePoint) {
  if (current_ >= 0 && RegionRect(current_).contains(pagePoint)) return;
  QRect bounds;
  for (int i = 0; i < regions_.size(); ++i) bounds = bounds.united(RegionRect(i));
  if (!bounds.contains(pagePoint)) return;
  const int index = RegionAt(pagePoint);
  if (index >= 0) {
    MakeCurrent(index);
  } else {
    timer_.start();
  }
}

void HelpStrip::ShowHelpById(int id) {
  for (int i = 0; i < regions_.size(); ++i) {
    if (regions_[i].id == id) {
      MakeCurrent(i);
      return;
    }
  }
}

void HelpStrip::MakeCurrent(int index) {
  current_ = index;
  update();
  timer_.start();
}

void HelpStrip::Rest() {
  current_ = -1;
  update();
}

QString HelpStrip::CurrentText() const {
  return current_ >= 0 ? regions_[current_].text : restingText_;
}

QString HelpStrip::CurrentAnchor() const {
  return current_ >= 0 ? regions_[current_].anchor : QString();
}

int HelpStrip::CurrentId() const {
  return current_ >= 0 ? regions_[current_].id : -1;
}

QSize HelpStrip::sizeHint() const {
  return {400, kFontPixels + 10};
}

void HelpStrip::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), kBackground);
  painter.setPen(kTextColour);
  painter.setFont(font());
  const QRect textRect = rect().adjusted(kTextLeft, 0, -kTextLeft, 0);
  const QString text =
      painter.fontMetrics().elidedText(CurrentText(), Qt::ElideRight, textRect.width());
  painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
}

void HelpStrip::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
      current_ >= 0) {
    emit AnchorClicked(regions_[current_].anchor);
  }
}

void HelpStrip::WatchPage(QWidget* page) {
  page_ = page;
  Watch(page);
}

void HelpStrip::Watch(QWidget* widget) {
  if (widget == this || (widget != page_ && widget->isWindow())) return;
  widget->setMouseTracking(true);
  widget->installEventFilter(this);
  for (QObject* child : widget->children()) {
    if (child->isWidgetType()) Watch(static_cast<QWidget*>(child));
  }
}

bool HelpStrip::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove && page_ != nullptr) {
    auto* widget = static_cast<QWidget*>(watched);
    // Popups and dialogs of the page are windows of their own: their points are not the page's.
    if (widget->window() != page_->window()) return QWidget::eventFilter(watched, event);
    const QPoint local = static_cast<QMouseEvent*>(event)->position().toPoint();
    MouseMovedTo(widget == page_ ? local : widget->mapTo(page_, local));
  } else if (event->type() == QEvent::ChildAdded) {
    QObject* child = static_cast<QChildEvent*>(event)->child();
    if (child->isWidgetType()) Watch(static_cast<QWidget*>(child));
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace quillon
