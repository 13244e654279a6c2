#include "app/half_slider.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace quillon {

namespace {

constexpr int kHandleRadius = 7;
constexpr int kGrooveHeight = 4;
constexpr int kTickLength = 3;

// The window colour's lightness decides the theme: the darker accent stands out on light
// backgrounds, the lighter one on dark backgrounds.
bool IsDarkPalette(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() < 128;
}

}  // namespace

AccentSlider::AccentSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_Hover);
}

QSize AccentSlider::sizeHint() const {
  return {120, 2 * kHandleRadius + kTickLength + 6};
}

QSize AccentSlider::minimumSizeHint() const {
  return {60, 2 * kHandleRadius + kTickLength + 6};
}

QRect AccentSlider::GrooveRect() const {
  const int top = kHandleRadius + 2 - kGrooveHeight / 2;
  return {kHandleRadius + 1, top, std::max(1, width() - 2 * kHandleRadius - 2), kGrooveHeight};
}

int AccentSlider::HandleX() const {
  const QRect groove = GrooveRect();
  const int span = std::max(1, maximum() - minimum());
  return groove.left() + static_cast<int>(std::lround(static_cast<double>(value() - minimum()) *
                                                      groove.width() / span));
}

int AccentSlider::PositionAt(int x) const {
  const QRect groove = GrooveRect();
  const double fraction =
      std::clamp(static_cast<double>(x - groove.left()) / std::max(1, groove.width()), 0.0, 1.0);
  return minimum() + static_cast<int>(std::lround(fraction * (maximum() - minimum())));
}

void AccentSlider::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const bool dark = IsDarkPalette(palette());
  QColor accent = QColor::fromRgb(dark ? kLightAccent : kDarkAccent);
  QColor highlight = QColor::fromRgb(dark ? kDarkAccent : kLightAccent);
  if (!isEnabled()) {
    accent = palette().color(QPalette::Disabled, QPalette::WindowText);
    accent.setAlpha(110);
    highlight = accent;
  }
  QColor rail = palette().color(QPalette::WindowText);
  rail.setAlpha(dark ? 70 : 55);

  const QRect groove = GrooveRect();
  const int handleX = HandleX();
  const int centreY = groove.center().y() + 1;

  // Ticks under the rail, at the interval counted from the minimum.
  if (tickInterval() > 0 && maximum() > minimum()) {
    painter.setPen(QPen(rail, 1));
    for (int p = minimum(); p <= maximum(); p += tickInterval()) {
      const int x =
          groove.left() + static_cast<int>(std::lround(static_cast<double>(p - minimum()) *
                                                       groove.width() / (maximum() - minimum())));
      painter.drawLine(x, groove.bottom() + kHandleRadius - 1, x,
                       groove.bottom() + kHandleRadius - 1 + kTickLength);
    }
  }

  painter.setPen(Qt::NoPen);
  painter.setBrush(rail);
  painter.drawRoundedRect(groove, 2, 2);
  painter.setBrush(accent);
  painter.drawRoundedRect(
      QRect(groove.left(), groove.top(), handleX - groove.left(), groove.height()), 2, 2);

  // Handle: accent disc with a ring in the window colour so it stays distinct from the filled
  // rail; hovering or dragging lights its centre with the other accent.
  const QPointF centre(handleX, centreY - 1);
  painter.setBrush(palette().color(QPalette::Window));
  painter.drawEllipse(centre, kHandleRadius, kHandleRadius);
  painter.setBrush(accent);
  painter.drawEllipse(centre, kHandleRadius - 1.5, kHandleRadius - 1.5);
  if (isEnabled() && (dragging_ || underMouse() || hasFocus())) {
    painter.setBrush(highlight);
    painter.drawEllipse(centre, kHandleRadius - 4.0, kHandleRadius - 4.0);
  }
  if (hasFocus()) {
    QPen focus(palette().color(QPalette::Highlight), 1, Qt::DotLine);
    painter.setPen(focus);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect().adjusted(0, 0, -1, -1), 3, 3);
  }
}

void AccentSlider::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  dragging_ = true;
  setSliderDown(true);
  setValue(PositionAt(event->position().toPoint().x()));
  event->accept();
}

void AccentSlider::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) {
    event->ignore();
    return;
  }
  setValue(PositionAt(event->position().toPoint().x()));
  event->accept();
}

void AccentSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_) {
    event->ignore();
    return;
  }
  dragging_ = false;
  setSliderDown(false);
  update();
  event->accept();
}

HalfSlider::HalfSlider(QWidget* parent)
    : QWidget(parent), slider_(new AccentSlider(this)), box_(new QLineEdit(this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  layout->addWidget(slider_, 1);
  layout->addWidget(box_);
  SetBoxWidth(5);
  slider_->setRange(0, 200);
  slider_->setPageStep(10);
  slider_->setTickInterval(50);
  connect(slider_, &QSlider::valueChanged, this, &HalfSlider::OnSliderChanged);
  connect(box_, &QLineEdit::textEdited, this, &HalfSlider::OnBoxEdited);
}

void HalfSlider::SetRange(int minimum, int maximum) {
  updating_ = true;
  slider_->setRange(minimum, maximum);
  updating_ = false;
}

void HalfSlider::SetSteps(int line, int page) {
  slider_->setSingleStep(line);
  slider_->setPageStep(page);
}

void HalfSlider::SetTickInterval(int interval) {
  slider_->setTickInterval(interval);
}

void HalfSlider::SetTypedRange(double minimum, double maximum) {
  typedMin_ = minimum;
  typedMax_ = maximum;
  typedRangeSet_ = true;
}

void HalfSlider::SetTypedScale(double scale, double origin) {
  scale_ = scale;
  origin_ = origin;
}

void HalfSlider::SetDragFormat(std::function<QString(int)> format) {
  dragFormat_ = std::move(format);
}

void HalfSlider::SetBoxReadOnly(bool readOnly) {
  box_->setReadOnly(readOnly);
}

void HalfSlider::SetBoxWidth(int characters) {
  const QFontMetrics metrics(box_->font());
  box_->setFixedWidth(metrics.horizontalAdvance(QLatin1Char('0')) * characters + 12);
}

int HalfSlider::Position() const {
  return slider_->value();
}

void HalfSlider::SetPosition(int position) {
  updating_ = true;
  slider_->setValue(position);
  updating_ = false;
}

QString HalfSlider::Text() const {
  return box_->text();
}

void HalfSlider::SetText(const QString& text) {
  box_->setText(text);
}

bool HalfSlider::ReadNumber(const QString& text, double& value) {
  const QByteArray bytes = text.toLatin1();
  const char* start = bytes.constData();
  while (*start == ' ' || *start == '\t') ++start;
  // Only decimal forms: strtod would also take "inf", "nan" and hexadecimal.
  const char* p = start;
  if (*p == '+' || *p == '-') ++p;
  if (!(std::isdigit(static_cast<unsigned char>(*p)) ||
        (*p == '.' && std::isdigit(static_cast<unsigned char>(p[1]))))) {
    return false;
  }
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    value = 0.0;
    return true;
  }
  char* end = nullptr;
  const double parsed = std::strtod(start, &end);
  if (end == start || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

void HalfSlider::OnSliderChanged(int position) {
  if (updating_) return;
  if (dragFormat_) box_->setText(dragFormat_(position));
  emit Moved(position);
}

void HalfSlider::OnBoxEdited(const QString& text) {
  double value = 0.0;
  if (!ReadNumber(text, value)) return;
  const double low = typedRangeSet_ ? typedMin_ : slider_->minimum() / scale_ + origin_;
  const double high = typedRangeSet_ ? typedMax_ : slider_->maximum() / scale_ + origin_;
  const double clamped = std::clamp(value, low, high);
  if (clamped != value) box_->setText(QString::number(clamped));
  // The small allowance keeps a typed 7.5 of 25 fps at 60, not 59, after the division.
  const double exact = (clamped - origin_) * scale_;
  const int position =
      static_cast<int>(std::clamp(std::floor(exact + 1e-6), static_cast<double>(slider_->minimum()),
                                  static_cast<double>(slider_->maximum())));
  SetPosition(position);
  emit Typed(position, clamped);
}

}  // namespace quillon
