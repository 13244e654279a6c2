// The "Flash" settings page: preloader, Action Script variables, click and end actions, the
// background colour and the player's rate, quality and part size.
#pragma once

#include <optional>
#include <string>

#include "app/settings_page.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace quillon {

class ColourPicker;
class HelpStrip;
class Prompts;

class FlashPage : public SettingsPage {
  Q_OBJECT
 public:
  static constexpr const char* kLinkPlaceholder = "http://";

  explicit FlashPage(QWidget* parent = nullptr);

  void Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts& facts) override;
  void Load() override;
  void Store() override;
  void Enable(bool enabled) override;

  // Where the file dialog and messages go (the window's, so that its tests can script them).
  void SetPrompts(Prompts* prompts) { prompts_ = prompts; }
  // The "..." button: the preloader file dialog.
  void ChooseLoader();

  QLineEdit* LoaderBox() const { return loader_; }
  QComboBox* ClickBox() const { return clickType_; }
  QLineEdit* LinkBox() const { return link_; }
  QComboBox* TargetBox() const { return target_; }
  QComboBox* EndBox() const { return endType_; }
  QLineEdit* EndLinkBox() const { return endLink_; }
  QComboBox* EndTargetBox() const { return endTarget_; }
  ColourPicker* Background() const { return background_; }
  QComboBox* PlayerRateBox() const { return playerFps_; }
  QComboBox* QualityBox() const { return quality_; }
  QComboBox* PartSizeBox() const { return partSize_; }
  HelpStrip* Strip() const { return strip_; }

 private:
  void UpdateEnabling();
  void EditVariables();
  void OnBackgroundChosen(std::uint32_t colour);

  EncoderSettings* settings_ = nullptr;
  TimelinePage* timeline_ = nullptr;
  Prompts* prompts_ = nullptr;
  std::optional<std::string> variables_;

  QWidget* controls_;
  QLineEdit* loader_;
  QPushButton* browse_;
  QPushButton* variablesButton_;
  QComboBox* clickType_;
  QLineEdit* link_;
  QComboBox* target_;
  QComboBox* endType_;
  QLineEdit* endLink_;
  QComboBox* endTarget_;
  ColourPicker* background_;
  QComboBox* playerFps_;
  QComboBox* quality_;
  QComboBox* partSize_;
  QCheckBox* hideCursor_;
  HelpStrip* strip_;
};

}  // namespace quillon
