// The picture area of the Timeline page: the filtered frame under the cursor, fitted into the
// area with its shape kept and bands of the movie's background colour around it.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <cstdint>

namespace quillon {

// Touched by the window thread only: the frame worker's pictures arrive through a queued signal.
class FrameView : public QWidget {
  Q_OBJECT
 public:
  explicit FrameView(QWidget* parent = nullptr);

  // A null image empties the view: only the background colour shows.
  void SetPicture(const QImage& image);
  void SetBackground(uint32_t rgb);  // 0xRRGGBB
  const QImage& Picture() const { return picture_; }
  QColor Background() const { return background_; }
  // Where the picture lands in a view of `area`: scaled to fit, shape kept, centred.
  static QRect FitRect(const QSize& picture, const QRect& area);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
  QColor background_ = Qt::black;
};

}  // namespace quillon
