#include "app/window_skin.h"

#include <QBitmap>
#include <QEvent>
#include <QHBoxLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QToolButton>
#include <QWindow>

namespace quillon {

namespace {

constexpr QRgb kTransparentColour = 0xFF00FF;

}  // namespace

std::unique_ptr<WindowSkin> WindowSkin::Apply(QMainWindow* window, const QString& bitmapPath) {
  QPixmap bitmap;
  if (!bitmap.load(bitmapPath) || bitmap.isNull()) return nullptr;
  return std::unique_ptr<WindowSkin>(new WindowSkin(window, std::move(bitmap)));
}

WindowSkin::WindowSkin(QMainWindow* window, QPixmap bitmap)
    : window_(window), bitmap_(std::move(bitmap)) {
  window_->setWindowFlags(window_->windowFlags() | Qt::FramelessWindowHint);
  auto* corner = new QWidget(window_);
  auto* layout = new QHBoxLayout(corner);
  layout->setContentsMargins(0, 0, 2, 0);
  auto* minimise = new QToolButton(corner);
  minimise->setObjectName("skinMinimise");
  minimise->setText("V");
  auto* close = new QToolButton(corner);
  close->setObjectName("skinClose");
  close->setText("X");
  layout->addWidget(minimise);
  layout->addWidget(close);
  connect(minimise, &QToolButton::clicked, window_, &QWidget::showMinimized);
  connect(close, &QToolButton::clicked, window_, &QWidget::close);
  window_->menuBar()->setCornerWidget(corner, Qt::TopRightCorner);
  window_->installEventFilter(this);
  window_->menuBar()->installEventFilter(this);
  Reshape();
}

QPixmap WindowSkin::Stretched(const QPixmap& bitmap, QSize size) {
  return bitmap.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

QRegion WindowSkin::VisibleRegion(const QPixmap& stretched) {
  return QRegion(stretched.createMaskFromColor(QColor(kTransparentColour), Qt::MaskInColor));
}

void WindowSkin::Reshape() {
  const QPixmap stretched = Stretched(bitmap_, window_->size());
  QPalette palette = window_->palette();
  palette.setBrush(QPalette::Window, stretched);
  window_->setPalette(palette);
  window_->setAutoFillBackground(true);
  window_->setMask(VisibleRegion(stretched));
}

bool WindowSkin::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && event->type() == QEvent::Resize) Reshape();
  // Without a title bar the window is moved by dragging its background or the menu bar.
  if (event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(watched);
    const bool onMenuItem = watched == window_->menuBar() &&
                            window_->menuBar()->actionAt(mouse->position().toPoint()) != nullptr;
    if (mouse->button() == Qt::LeftButton && widget != nullptr && !onMenuItem &&
        window_->windowHandle() != nullptr) {
      window_->windowHandle()->startSystemMove();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace quillon
