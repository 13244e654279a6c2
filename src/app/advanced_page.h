// The "Advanced" settings page (a stand-in until the page's controls are built).
#pragma once

#include "app/settings_page.h"

class QLabel;

namespace quillon {

class AdvancedPage : public SettingsPage {
  Q_OBJECT
 public:
  explicit AdvancedPage(QWidget* parent = nullptr);

  void Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts& facts) override;
  void Load() override;
  void Store() override;
  void Enable(bool enabled) override;

 private:
  EncoderSettings* settings_ = nullptr;
  TimelinePage* timeline_ = nullptr;
  MovieFacts facts_;
  QLabel* label_ = nullptr;
};

}  // namespace quillon
