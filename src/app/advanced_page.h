// The "Advanced" settings page: span, collapse and transient block optimisations, darkening,
// the player's protection and memory switches, and the settings description.
#pragma once

#include "app/settings_page.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace quillon {

class HalfSlider;
class HelpStrip;

class AdvancedPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit AdvancedPage(QWidget* parent = nullptr);

  void Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts& facts) override;
  void Load() override;
  void Store() override;
  void Enable(bool enabled) override;

  QComboBox* SpanTypeBox() const { return spanType_; }
  HalfSlider* SpanQualitySlider() const { return spanQuality_; }
  QSpinBox* SpanSizeBox() const { return spanSize_; }
  QComboBox* CollapseTypeBox() const { return collapseType_; }
  HalfSlider* CollapseQualitySlider() const { return collapseQuality_; }
  QComboBox* TransientTypeBox() const { return transientType_; }
  HalfSlider* TransientQualitySlider() const { return transientQuality_; }
  HalfSlider* DarkenSlider() const { return darken_; }
  QCheckBox* ProtectCheck() const { return protect_; }
  QCheckBox* OptimizeCheck() const { return optimize_; }
  QLineEdit* DescriptionBox() const { return description_; }
  HelpStrip* Strip() const { return strip_; }

 private:
  void UpdateEnabling();
  void StoreFrame();  // the picture settings of this page into the frame record
  // Writes span and darkening into the frame record and shows them on the Timeline page.
  void PushPreview();

  EncoderSettings* settings_ = nullptr;
  TimelinePage* timeline_ = nullptr;
  bool loading_ = false;

  QWidget* controls_;
  QComboBox* spanType_;
  HalfSlider* spanQuality_;
  QSpinBox* spanSize_;
  QComboBox* collapseType_;
  HalfSlider* collapseQuality_;
  QComboBox* transientType_;
  HalfSlider* transientQuality_;
  HalfSlider* darken_;
  QCheckBox* protect_;
  QCheckBox* optimize_;
  QLineEdit* description_;
  HelpStrip* strip_;
};

}  // namespace quillon
