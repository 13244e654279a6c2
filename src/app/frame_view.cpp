#include "app/frame_view.h"

#include <QPainter>
#include <algorithm>

namespace quillon {

FrameView::FrameView(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setMinimumSize(160, 120);
  // Every pixel is painted: nothing to erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize FrameView::sizeHint() const {
  return {400, 300};
}

void FrameView::SetPicture(const QImage& image) {
  picture_ = image;
  update();
}

void FrameView::SetBackground(uint32_t rgb) {
  background_ = QColor::fromRgb(rgb & 0xFFFFFFu);
  update();
}

QRect FrameView::FitRect(const QSize& picture, const QRect& area) {
  if (picture.isEmpty() || area.isEmpty()) return {};
  const QSize fitted = picture.scaled(area.size(), Qt::KeepAspectRatio);
  const QSize size(std::max(1, fitted.width()), std::max(1, fitted.height()));
  return {area.x() + (area.width() - size.width()) / 2,
          area.y() + (area.height() - size.height()) / 2, size.width(), size.height()};
}

void FrameView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect target = FitRect(picture_.size(), rect());
  if (target.isEmpty()) {
    p.fillRect(rect(), background_);
    return;
  }
  // The bands the picture leaves uncovered (two at most, but rounding may leave a sliver).
  p.fillRect(0, 0, width(), target.top(), background_);
  p.fillRect(0, target.bottom() + 1, width(), height() - target.bottom() - 1, background_);
  p.fillRect(0, target.top(), target.left(), target.height(), background_);
  p.fillRect(target.right() + 1, target.top(), width() - target.right() - 1, target.height(),
             background_);
  p.setRenderHint(QPainter::SmoothPixmapTransform, true);
  p.drawImage(target, picture_);
}

}  // namespace quillon
