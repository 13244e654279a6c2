// The optional skin: a frameless main window drawn with a bitmap stretched to its size and cut
// to the bitmap's non-magenta area, with its own minimise ("V") and close ("X") buttons.
#pragma once

#include <QObject>
#include <QPixmap>
#include <QString>
#include <memory>

class QMainWindow;

namespace quillon {

class WindowSkin : public QObject {
  Q_OBJECT
 public:
  // Null (and the window untouched) when the bitmap cannot be loaded.
  static std::unique_ptr<WindowSkin> Apply(QMainWindow* window, const QString& bitmapPath);

  // The bitmap stretched to size and its visible area: everything but magenta #FF00FF.
  static QPixmap Stretched(const QPixmap& bitmap, QSize size);
  static QRegion VisibleRegion(const QPixmap& stretched);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  WindowSkin(QMainWindow* window, QPixmap bitmap);
  void Reshape();

  QMainWindow* window_;
  QPixmap bitmap_;
};

}  // namespace quillon
