#include "app/colour_picker.h"

#include <qdrawutil.h>
#include <QColorDialog>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QToolTip>

namespace quillon {

const std::array<NamedColour, kPaletteSize> kPaletteColours{{
    {0x000000, "Black"},
    {0xA52A00, "Brown"},
    {0x004040, "Dark Olive Green"},
    {0x005500, "Dark Green"},
    {0x00005E, "Dark Teal"},
    {0x00008B, "Dark blue"},
    {0x4B0082, "Indigo"},
    {0x282828, "Dark grey"},
    {0x8B0000, "Dark red"},
    {0xFF6820, "Orange"},
    {0x8B8B00, "Dark yellow"},
    {0x009300, "Green"},
    {0x388E8E, "Teal"},
    {0x0000FF, "Blue"},
    {0x7B7BC0, "Blue-grey"},
    {0x666666, "Grey - 40"},
    {0xFF0000, "Red"},
    {0xFFAD5B, "Light orange"},
    {0x32CD32, "Lime"},
    {0x3CB371, "Sea green"},
    {0x7FFFD4, "Aqua"},
    {0x7D9EC0, "Light blue"},
    {0x800080, "Violet"},
    {0x7F7F7F, "Grey - 50"},
    {0xFFC0CB, "Pink"},
    {0xFFD700, "Gold"},
    {0xFFFF00, "Yellow"},
    {0x00FF00, "Bright green"},
    {0x40E0D0, "Turquoise"},
    {0xC0FFFF, "Skyblue"},
    {0x480048, "Plum"},
    {0xC0C0C0, "Light grey"},
    {0xFFE4E1, "Rose"},
    {0xD2B48C, "Tan"},
    {0xFFFFE0, "Light yellow"},
    {0x98FB98, "Pale green "},
    {0xAFEEEE, "Pale turquoise"},
    {0x68838B, "Pale blue"},
    {0xE6E6FA, "Lavender"},
    {0xFFFFFF, "White"},
}};

namespace {

constexpr int kRows = (kPaletteSize + kPaletteColumns - 1) / kPaletteColumns;

QColor ToQColor(std::uint32_t rgb) {
  return QColor::fromRgb(static_cast<QRgb>(rgb & 0xFFFFFFu));
}

}  // namespace

// ---------------------------------------------------------------- the button

ColourPicker::ColourPicker(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::StrongFocus);
  connect(this, &QAbstractButton::clicked, this, &ColourPicker::OpenPopup);
}

ColourPicker::~ColourPicker() {
  if (popup_) delete popup_.data();
}

void ColourPicker::SetColour(std::uint32_t colour) {
  colour_ = colour;
  update();
}

QSize ColourPicker::sizeHint() const {
  const QFontMetrics metrics(font());
  return {std::max(72, metrics.horizontalAdvance(text()) + 36),
          std::max(24, metrics.height() + 10)};
}

void ColourPicker::OpenPopup() {
  if (popup_) return;
  openingColour_ = colour_;
  popup_ = new ColourPopup(this, colour_, defaultText_, customText_);
  // Under the button, kept on the screen: moved left or right at the edges, above the button
  // when it would pass the bottom.
  const QRect screen = this->screen() != nullptr ? this->screen()->availableGeometry() : QRect();
  const QPoint below = mapToGlobal(QPoint(0, height()));
  QRect place(below, popup_->size());
  if (!screen.isEmpty()) {
    if (place.right() > screen.right()) place.moveRight(screen.right());
    if (place.left() < screen.left()) place.moveLeft(screen.left());
    if (place.bottom() > screen.bottom()) place.moveBottom(mapToGlobal(QPoint(0, 0)).y() - 1);
  }
  popup_->move(place.topLeft());
  emit PopupOpened(colour_, controlId_);
  popup_->show();
  popup_->setFocus();
}

void ColourPicker::OnPopupHover(std::uint32_t colour) {
  if (trackSelection_) SetColour(colour);
  emit SelectionChanged(colour, controlId_);
}

void ColourPicker::OnPopupFinished(bool ended, std::uint32_t colour) {
  popup_ = nullptr;  // it closes itself; a new click may open the next one at once
  SetColour(ended ? colour : openingColour_);
  emit PopupClosed(colour_, controlId_);
  if (ended) {
    emit SelectionEnded(colour_, controlId_);
  } else {
    emit SelectionCancelled(colour_, controlId_);
  }
}

void ColourPicker::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  option.initFrom(this);
  if (isDown() || popup_) option.state |= QStyle::State_Sunken;
  painter.drawControl(QStyle::CE_PushButtonBevel, option);

  // The colour well, with a drop-down arrow at the right.
  const int arrowWidth = 14;
  QRect well = rect().adjusted(5, 5, -5 - arrowWidth, -5);
  const bool automatic = (colour_ & kAutomaticColour) == kAutomaticColour;
  const QBrush fill =
      (automatic || !isEnabled()) ? palette().brush(QPalette::Button) : QBrush(ToQColor(colour_));
  qDrawShadePanel(&painter, well, palette(), true, 1, &fill);
  if (!text().isEmpty()) {
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(well, Qt::AlignCenter, text());
  }
  QStyleOption arrow;
  arrow.initFrom(this);
  arrow.rect = QRect(well.right() + 3, rect().center().y() - 4, arrowWidth - 4, 8);
  painter.drawPrimitive(QStyle::PE_IndicatorArrowDown, arrow);
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = rect().adjusted(3, 3, -3, -3);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

// ---------------------------------------------------------------- the popup

ColourPopup::ColourPopup(ColourPicker* owner, std::uint32_t colour, const QString& defaultText,
                         const QString& customText)
    : QWidget(owner, Qt::Popup),
      owner_(owner),
      openingColour_(colour),
      defaultText_(defaultText),
      customText_(customText) {
  setAttribute(Qt::WA_DeleteOnClose);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  const QFontMetrics metrics(font());
  buttonHeight_ = metrics.height() + 8;
  int width = kPaletteColumns * cell_ + 2 * margin_;
  if (HasDefault())
    width = std::max(width, metrics.horizontalAdvance(defaultText_) + 16 + 2 * margin_);
  if (HasCustom())
    width = std::max(width, metrics.horizontalAdvance(customText_) + 16 + 2 * margin_);
  int height = 2 * margin_ + kRows * cell_;
  if (HasDefault()) height += buttonHeight_ + margin_;
  if (HasCustom()) height += buttonHeight_ + margin_;
  setFixedSize(width, height);

  if ((colour & kAutomaticColour) == kAutomaticColour) {
    chosen_ = HasDefault() ? kDefaultItem : kNoItem;
  } else {
    for (int i = 0; i < kPaletteSize; ++i) {
      if (kPaletteColours[i].rgb == (colour & 0xFFFFFFu)) chosen_ = i;
    }
    if (chosen_ == kNoItem && HasCustom()) chosen_ = kCustomItem;
  }
  current_ = chosen_;
}

QRect ColourPopup::ItemRect(int item) const {
  const int top = margin_ + (HasDefault() ? buttonHeight_ + margin_ : 0);
  const int gridWidth = kPaletteColumns * cell_;
  const int gridLeft = (width() - gridWidth) / 2;
  if (item == kDefaultItem) {
    return HasDefault() ? QRect(margin_, margin_, width() - 2 * margin_, buttonHeight_) : QRect();
  }
  if (item == kCustomItem) {
    return HasCustom()
               ? QRect(margin_, top + kRows * cell_ + margin_, width() - 2 * margin_, buttonHeight_)
               : QRect();
  }
  if (item < 0 || item >= kPaletteSize) return {};
  return {gridLeft + (item % kPaletteColumns) * cell_, top + (item / kPaletteColumns) * cell_,
          cell_, cell_};
}

int ColourPopup::ItemAt(const QPoint& point) const {
  for (int item : {kDefaultItem, kCustomItem}) {
    if (ItemRect(item).contains(point)) return item;
  }
  for (int i = 0; i < kPaletteSize; ++i) {
    if (ItemRect(i).contains(point)) return i;
  }
  return kNoItem;
}

std::uint32_t ColourPopup::ItemColour(int item) const {
  if (item == kDefaultItem) return kAutomaticColour;
  if (item >= 0 && item < kPaletteSize) return kPaletteColours[item].rgb;
  return openingColour_;
}

void ColourPopup::SetCurrent(int item) {
  if (item == current_ || item == kNoItem) return;
  current_ = item;
  update();
  owner_->OnPopupHover(ItemColour(item));
}

int ColourPopup::Step(int item, int key) const {
  const int first = HasDefault() ? kDefaultItem : 0;
  const int last = HasCustom() ? kCustomItem : kPaletteSize - 1;
  const bool forward = key == Qt::Key_Right || key == Qt::Key_Down;
  if (item == kNoItem) return forward ? first : last;
  if (item == kDefaultItem) {
    return forward ? 0 : last;
  }
  if (item == kCustomItem) {
    if (forward) return first;
    return key == Qt::Key_Up ? kPaletteSize - kPaletteColumns : kPaletteSize - 1;
  }
  switch (key) {
    case Qt::Key_Right:
      return item + 1 < kPaletteSize ? item + 1 : (HasCustom() ? kCustomItem : first);
    case Qt::Key_Left:
      return item > 0 ? item - 1 : (HasDefault() ? kDefaultItem : last);
    case Qt::Key_Down:
      return item + kPaletteColumns < kPaletteSize ? item + kPaletteColumns
                                                   : (HasCustom() ? kCustomItem : item);
    case Qt::Key_Up:
      return item >= kPaletteColumns ? item - kPaletteColumns
                                     : (HasDefault() ? kDefaultItem : item);
    default:
      return item;
  }
}

void ColourPopup::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
      SetCurrent(Step(current_, event->key()));
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      Finish(current_ != kNoItem);
      break;
    case Qt::Key_Escape:
      Finish(false);
      break;
    default:
      event->ignore();
      return;
  }
  event->accept();
}

void ColourPopup::mouseMoveEvent(QMouseEvent* event) {
  const int item = ItemAt(event->position().toPoint());
  if (item != kNoItem) SetCurrent(item);
}

// A press only starts the gesture: the release decides (inside ends, outside cancels), which
// keeps the popup open when a press outside would otherwise close it at once.
void ColourPopup::mousePressEvent(QMouseEvent* event) {
  event->accept();
}

void ColourPopup::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint point = event->position().toPoint();
  if (!rect().contains(point)) {
    Finish(false);
    return;
  }
  const int item = ItemAt(point);
  if (item != kNoItem) SetCurrent(item);
  if (current_ != kNoItem) Finish(true);
}

void ColourPopup::Finish(bool ended) {
  if (finished_) return;
  finished_ = true;
  std::uint32_t colour = openingColour_;
  if (ended) {
    colour = ItemColour(current_);
    if (current_ == kCustomItem) {
      hide();
      std::optional<std::uint32_t> picked;
      if (owner_->customChooser_) {
        picked = owner_->customChooser_(openingColour_);
      } else {
        const QColor start = (openingColour_ & kAutomaticColour) == kAutomaticColour
                                 ? QColor(Qt::black)
                                 : ToQColor(openingColour_);
        const QColor chosen = QColorDialog::getColor(start, owner_, QString());
        if (chosen.isValid()) picked = chosen.rgb() & 0xFFFFFFu;
      }
      ended = picked.has_value();
      colour = ended ? *picked : openingColour_;
    }
  }
  owner_->OnPopupFinished(ended, colour);
  close();
}

void ColourPopup::closeEvent(QCloseEvent* event) {
  // Closed from outside (the window lost focus, the program is closing): a cancel.
  Finish(false);
  QWidget::closeEvent(event);
}

bool ColourPopup::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const int item = ItemAt(help->pos());
    if (item >= 0) {
      QToolTip::showText(help->globalPos(), QString::fromLatin1(kPaletteColours[item].name), this);
    } else {
      QToolTip::hideText();
    }
    return true;
  }
  return QWidget::event(event);
}

void ColourPopup::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette& pal = palette();
  painter.fillRect(rect(), pal.window());
  qDrawShadePanel(&painter, rect(), pal, false, 1);

  const auto drawButton = [&](int item, const QString& text) {
    const QRect r = ItemRect(item);
    if (r.isEmpty()) return;
    const bool sunken = item == chosen_;
    qDrawShadePanel(&painter, r, pal, sunken, 1, &pal.brush(QPalette::Button));
    if (item == current_) {
      painter.setPen(QPen(pal.color(QPalette::Highlight), 2));
      painter.drawRect(r.adjusted(2, 2, -2, -2));
    }
    painter.setPen(pal.color(QPalette::ButtonText));
    painter.drawText(r, Qt::AlignCenter, text);
  };
  drawButton(kDefaultItem, defaultText_);
  drawButton(kCustomItem, customText_);

  for (int i = 0; i < kPaletteSize; ++i) {
    const QRect r = ItemRect(i);
    if (i == chosen_) qDrawShadePanel(&painter, r, pal, true, 1);
    if (i == current_) {
      painter.setPen(QPen(pal.color(QPalette::Highlight), 2));
      painter.setBrush(Qt::NoBrush);
      painter.drawRect(r.adjusted(1, 1, -1, -1));
    }
    const QRect swatch = r.adjusted(3, 3, -3, -3);
    painter.fillRect(swatch, ToQColor(kPaletteColours[i].rgb));
    painter.setPen(pal.color(QPalette::Shadow));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(swatch.adjusted(0, 0, -1, -1));
  }
}

}  // namespace quillon
