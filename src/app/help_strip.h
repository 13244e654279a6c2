// The strip at the bottom of a settings page that explains the control under the mouse and opens
// its help page when clicked.
#pragma once

#include <QRect>
#include <QString>
#include <QTimer>
#include <QVector>
#include <QWidget>

namespace quillon {

class HelpStrip : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRestMs = 15000;  // a region's text shows this long after the last move

  explicit HelpStrip(QWidget* parent = nullptr);

  void SetRestingText(const QString& text);
  // Regions are searched in registration order. A fixed rectangle is in the watched page's
  // coordinates; a widget region follows the widget's geometry as the layout moves it. A region
  // with neither (an empty rectangle) is shown only through ShowHelpById.
  void AddRegion(const QRect& rect, const QString& text, const QString& anchor, int id);
  void AddRegion(QWidget* area, const QString& text, const QString& anchor, int id);
  // Follows mouse moves over the page and every widget inside it, now and added later.
  void WatchPage(QWidget* page);

  // The mouse rule, in page coordinates (public so that it can be driven without a pointer).
  void MouseMovedTo(const QPoint& pagePoint);
  void ShowHelpById(int id);
  void SetRestInterval(int ms) { timer_.setInterval(ms); }

  QString CurrentText() const;
  QString CurrentAnchor() const;
  int CurrentId() const;  // -1 at rest
  bool IsTimerActive() const { return timer_.isActive(); }
  // The index of the first region containing the point, or -1.
  int RegionAt(const QPoint& pagePoint) const;
  QRect RegionRect(int index) const;
  int RegionCount() const { return static_cast<int>(regions_.size()); }

  QSize sizeHint() const override;

 signals:
  void AnchorClicked(const QString& anchor);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Region {
    QRect rect;
    QWidget* area = nullptr;
    QString text;
    QString anchor;
    int id = 0;
  };
  void Watch(QWidget* widget);
  void MakeCurrent(int index);
  void Rest();

  QWidget* page_ = nullptr;
  QVector<Region> regions_;
  QString restingText_;
  int current_ = -1;
  QTimer timer_;
};

}  // namespace quillon
