// A settings slider that counts half units, with the text box that shows (and takes) its value.
#pragma once

#include <QSlider>
#include <QWidget>
#include <functional>

class QLineEdit;

namespace quillon {

// The trackbar itself, drawn in the program's accent colours rather than the desktop style's,
// with a contrast that holds on light and dark palettes.
class AccentSlider : public QSlider {
  Q_OBJECT
 public:
  static constexpr QRgb kLightAccent = 0x93C3EB;
  static constexpr QRgb kDarkAccent = 0x3192DD;

  explicit AccentSlider(QWidget* parent = nullptr);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QRect GrooveRect() const;
  int PositionAt(int x) const;
  int HandleX() const;
  bool dragging_ = false;
};

// Slider + box. The owning page decides what the box shows; this class keeps the two in step:
// a user move of the slider rewrites the box through the drag format and emits Moved; a number
// typed into the box is clamped to the typed range (the box is corrected when it was outside),
// moves the slider to (value - origin) x scale and emits Typed. Text that is not a number
// leaves the slider where it is. Programmatic SetPosition/SetText emit nothing.
class HalfSlider : public QWidget {
  Q_OBJECT
 public:
  explicit HalfSlider(QWidget* parent = nullptr);

  void SetRange(int minimum, int maximum);
  void SetSteps(int line, int page);
  void SetTickInterval(int interval);
  // Typed values are clamped to [minimum, maximum] (value units) and map to positions as
  // (value - origin) x scale, truncated. By default the slider's range at two positions a unit.
  void SetTypedRange(double minimum, double maximum);
  void SetTypedScale(double scale, double origin = 0.0);
  void SetDragFormat(std::function<QString(int position)> format);
  void SetBoxReadOnly(bool readOnly);
  void SetBoxWidth(int characters);

  int Position() const;
  void SetPosition(int position);
  QString Text() const;
  void SetText(const QString& text);

  AccentSlider* Slider() const { return slider_; }
  QLineEdit* Box() const { return box_; }

  // Reads a box text as a number ("%f": leading blanks, an optional sign, digits, a fraction,
  // an exponent; trailing text ignored). False when no number starts the text.
  static bool ReadNumber(const QString& text, double& value);

 signals:
  void Moved(int position);
  void Typed(int position, double value);

 private:
  void OnSliderChanged(int position);
  void OnBoxEdited(const QString& text);

  AccentSlider* slider_;
  QLineEdit* box_;
  std::function<QString(int)> dragFormat_;
  double typedMin_ = 0.0;
  double typedMax_ = 100.0;
  double scale_ = 2.0;
  double origin_ = 0.0;
  bool typedRangeSet_ = false;
  bool updating_ = false;
};

}  // namespace quillon
