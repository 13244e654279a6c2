// The "Audio" settings page: Silent, ADPCM or MP3 encoding with their rates, mono conversion,
// volume and the offset of the sound track.
#pragma once

#include "app/settings_page.h"

class QCheckBox;
class QComboBox;
class QLabel;

namespace quillon {

class HalfSlider;
class HelpStrip;
class Prompts;

class AudioPage : public SettingsPage {
  Q_OBJECT
 public:
  enum class Encoding { kSilent = 0, kAdpcm = 1, kMp3 = 2 };

  explicit AudioPage(QWidget* parent = nullptr);

  void Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts& facts) override;
  void Load() override;
  void Store() override;
  void Enable(bool enabled) override;

  // Where the "not installed" message goes (the window's, so that its tests can script it).
  void SetPrompts(Prompts* prompts) { prompts_ = prompts; }
  // What picking an item in the three combos does (the user's choices, with their rules).
  void ChooseEncoding(Encoding encoding);
  void ChooseRate(int rate);
  void ChooseBitRate(int kbps);

  QComboBox* EncodingBox() const { return encoding_; }
  QComboBox* RateBox() const { return rate_; }
  QComboBox* BitRateBox() const { return bitRate_; }
  QCheckBox* AbrCheck() const { return abr_; }
  QComboBox* BitsBox() const { return bits_; }
  QCheckBox* MonoCheck() const { return mono_; }
  HalfSlider* VolumeSlider() const { return volume_; }
  HalfSlider* OffsetSlider() const { return offset_; }
  QLabel* DataRateLabel() const { return dataRate_; }
  HelpStrip* Strip() const { return strip_; }

 private:
  Encoding Current() const;
  void FillRates(bool mp3, int select);
  int SelectedNumber(const QComboBox* combo, int fallback) const;
  void ApplyRateRule();
  void UpdateEnabling();
  void UpdateDataRate();

  EncoderSettings* settings_ = nullptr;
  MovieFacts facts_;
  Prompts* prompts_ = nullptr;

  QWidget* controls_;
  QComboBox* encoding_;
  QComboBox* rate_;
  QComboBox* bitRate_;
  QCheckBox* abr_;
  QComboBox* bits_;
  QCheckBox* mono_;
  HalfSlider* volume_;
  HalfSlider* offset_;
  QLabel* dataRate_;
  HelpStrip* strip_;
};

}  // namespace quillon
