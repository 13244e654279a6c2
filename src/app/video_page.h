// The "Video" settings page: image quality, frame rate, smoothing, JPEG quality, frame size and
// the bit-rate limit.
#pragma once

#include "app/settings_page.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace quillon {

class HalfSlider;
class HelpStrip;

class VideoPage : public SettingsPage {
  Q_OBJECT
 public:
  // The help shown when the read-only frame size box is clicked.
  static constexpr int kFrameSizeBoxHelpId = 107;

  explicit VideoPage(QWidget* parent = nullptr);

  void Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts& facts) override;
  void Load() override;
  void Store() override;
  void Enable(bool enabled) override;

  HalfSlider* QualitySlider() const { return quality_; }
  HalfSlider* RateSlider() const { return rate_; }
  QLabel* RatePercent() const { return ratePercent_; }
  HalfSlider* SmoothSlider() const { return smooth_; }
  QSpinBox* CyclesBox() const { return cycles_; }
  HalfSlider* JpegSlider() const { return jpeg_; }
  HalfSlider* SizeSlider() const { return size_; }
  QLabel* SizePercent() const { return sizePercent_; }
  QComboBox* BitRateBox() const { return bitRate_; }
  HelpStrip* Strip() const { return strip_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool HasMovieRate() const;
  QString SizeText(int position, bool rounded) const;
  void OnRateMoved(int position);
  void OnRateTyped(int position, double rate);
  void OnSizeMoved(int position);
  void StorePicture();  // smoothing and size into the frame record
  // Writes the picture settings of this page into the frame record and shows them on the
  // Timeline page.
  void PushPreview();

  EncoderSettings* settings_ = nullptr;
  TimelinePage* timeline_ = nullptr;
  MovieFacts facts_;
  bool loading_ = false;

  QWidget* controls_;
  HalfSlider* quality_;
  HalfSlider* rate_;
  QLabel* ratePercent_;
  HalfSlider* smooth_;
  QSpinBox* cycles_;
  HalfSlider* jpeg_;
  HalfSlider* size_;
  QLabel* sizePercent_;
  QComboBox* bitRate_;
  HelpStrip* strip_;
};

}  // namespace quillon
