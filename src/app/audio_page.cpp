#include "app/audio_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/half_slider.h"
#include "app/help_strip.h"
#include "app/message_box.h"
#include "app/page_layout.h"

namespace quillon {

namespace {

const QStringList kAdpcmRates = {"5512", "11025", "22050", "44100"};
const QStringList kMp3Rates = {"22050", "44100"};
const QStringList kMp3BitRates = {"8",  "16",  "24",  "32",  "40",  "48",  "56",  "64",  "80",
                                  "96", "112", "128", "144", "160", "192", "224", "256", "320"};
constexpr int kDefaultRate = 22050;
constexpr int kHighRate = 44100;
constexpr int kDefaultBitRate = 16;
constexpr int kDefaultBitRateIndex = 1;
// Bit rates the MP3 encoder takes only at one of the two rates.
constexpr int kLowestHighRateKbps = 32;
constexpr int kHighestLowRateKbps = 160;
constexpr int kLowRateOnlyKbps = 144;
constexpr int kHighRateInsteadOf144 = 128;
constexpr int kMaxVolume = 400;
constexpr int kOffsetOrigin = -500;

void SelectText(QComboBox* combo, const QString& text, int missing) {
  const int index = combo->findText(text);
  combo->setCurrentIndex(index >= 0 ? index : missing);
}

}  // namespace

AudioPage::AudioPage(QWidget* parent) : SettingsPage(parent), controls_(new QWidget(this)) {
  QGridLayout* columns = NewColumns(controls_);
  QVBoxLayout* left = AddColumn(columns, 0, 47);
  QVBoxLayout* right = AddColumn(columns, 1, 53);

  QGridLayout* grid = nullptr;
  QList<QLabel*> leftLabels;
  const auto rowCell = [&](const QString& title, QWidget* control, QWidget* unit) {
    QWidget* cell = NewCell(controls_, &grid);
    auto* label = NewLabel(title, cell);
    leftLabels.push_back(label);
    control->setParent(cell);
    grid->addWidget(label, 0, 0);
    grid->addWidget(control, 0, 1, Qt::AlignLeft);
    if (unit != nullptr) {
      unit->setParent(cell);
      grid->addWidget(unit, 0, 2);
    }
    grid->setColumnStretch(2, 1);
    left->addWidget(cell);
    return cell;
  };
  encoding_ = new QComboBox(controls_);
  encoding_->addItems({"Silent", "ADPCM", "MP3"});
  QWidget* encodingCell = rowCell("Audio Encoding: ", encoding_, nullptr);
  rate_ = new QComboBox(controls_);
  rate_->addItems(kAdpcmRates);
  QWidget* rateCell = rowCell("Sampling Rate:", rate_, NewLabel("hz", controls_));
  bitRate_ = new QComboBox(controls_);
  bitRate_->addItems(kMp3BitRates);
  QWidget* bitRateCell = rowCell("MP3 Bit Rate:", bitRate_, NewLabel("kbps", controls_));
  abr_ = new QCheckBox(controls_);
  QWidget* abrCell = rowCell("Use MP3 Average Bit Rate (ABR):", abr_, nullptr);
  bits_ = new QComboBox(controls_);
  bits_->addItems({"2", "3", "4", "5"});
  dataRate_ = NewLabel("", controls_);
  QWidget* bitsCell = rowCell("ADPCM Bits:", bits_, dataRate_);
  AlignLabels(leftLabels);
  left->addStretch(1);

  QWidget* monoCell = NewCell(controls_, &grid);
  mono_ = new QCheckBox(monoCell);
  grid->addWidget(NewLabel("Convert Stereo to Mono:", monoCell), 0, 0);
  grid->addWidget(mono_, 0, 1);
  grid->setColumnStretch(2, 1);
  right->addWidget(monoCell);

  const auto sliderCell = [&](const QString& title, HalfSlider** slider, const QString& unit) {
    QWidget* cell = NewCell(controls_, &grid);
    *slider = new HalfSlider(cell);
    (*slider)->SetTickInterval(200);
    grid->addWidget(NewLabel(title, cell), 0, 0, 1, 2);
    grid->addWidget(*slider, 1, 0);
    grid->addWidget(NewLabel(unit, cell), 1, 1);
    right->addWidget(cell);
    return cell;
  };
  QWidget* volumeCell = sliderCell("Volume Amplification:", &volume_, "%");
  volume_->SetRange(0, 2 * kMaxVolume);
  volume_->SetSteps(2, 10);
  volume_->SetTypedRange(0, kMaxVolume);
  volume_->SetDragFormat(
      [](int p) { return QString::asprintf("%u", static_cast<unsigned>(p / 2)); });
  QWidget* offsetCell = sliderCell("Audio Track Offset:", &offset_, "ms");
  offset_->SetRange(0, 2000);
  offset_->SetSteps(2, 40);
  offset_->SetTypedRange(kOffsetOrigin, -kOffsetOrigin);
  offset_->SetTypedScale(2.0, kOffsetOrigin);
  offset_->SetDragFormat([](int p) { return QString::asprintf("%i", p / 2 + kOffsetOrigin); });
  right->addStretch(1);

  connect(encoding_, &QComboBox::activated, this,
          [this](int index) { ChooseEncoding(static_cast<Encoding>(index)); });
  connect(rate_, &QComboBox::activated, this,
          [this] { ChooseRate(SelectedNumber(rate_, kDefaultRate)); });
  connect(bitRate_, &QComboBox::activated, this,
          [this] { ChooseBitRate(SelectedNumber(bitRate_, kDefaultBitRate)); });
  connect(bits_, &QComboBox::currentIndexChanged, this, &AudioPage::UpdateDataRate);
  connect(mono_, &QCheckBox::toggled, this, &AudioPage::UpdateDataRate);

  strip_ = AttachHelpStrip(this, controls_,
                           "Audio encoding settings - place the mouse over a setting for help");
  const QString help = QStringLiteral("Help/AudioSettings.htm#");
  strip_->AddRegion(
      encodingCell,
      "Encode audio track using MP3 or ADPCM compression, or don't encode audio at all",
      help + "audioencoding", 301);
  strip_->AddRegion(
      rateCell,
      "The audio sampling rate - higher values provide better quality but larger file size",
      help + "samplingrate", 302);
  strip_->AddRegion(
      bitRateCell,
      "MP3 Bit Rate - a larger setting will provide better quality and larger file size",
      help + "mp3rate", 303);
  strip_->AddRegion(abrCell,
                    "MP3 Average Bit Rate - use higher MP3 bit rates as necessary, aiming at "
                    "average MP3 bit rate",
                    help + "mp3abr", 304);
  strip_->AddRegion(bitsCell, "ADPCM quality - more bits mean better quality and larger files",
                    help + "adpcmbits", 305);
  strip_->AddRegion(
      monoCell,
      "Force mono encoding on stereo movies, on MP3 - better quality, on ADPCM - lower file size",
      help + "forcemono", 306);
  strip_->AddRegion(volumeCell, "Audio amplification - percentage of the original sound volume",
                    help + "volume", 307);
  strip_->AddRegion(offsetCell, "Audio track offset relative to the Video track, in milliseconds",
                    help + "offset", 308);
  UpdateEnabling();
}

void AudioPage::Bind(EncoderSettings* settings, TimelinePage*, const MovieFacts& facts) {
  settings_ = settings;
  facts_ = facts;
  Load();
}

AudioPage::Encoding AudioPage::Current() const {
  return static_cast<Encoding>(encoding_->currentIndex());
}

int AudioPage::SelectedNumber(const QComboBox* combo, int fallback) const {
  return combo->currentIndex() >= 0 ? combo->currentText().toInt() : fallback;
}

void AudioPage::FillRates(bool mp3, int select) {
  rate_->clear();
  rate_->addItems(mp3 ? kMp3Rates : kAdpcmRates);
  SelectText(rate_, QString::number(select), 0);
}

void AudioPage::Load() {
  if (settings_ == nullptr) return;
  const AudioOptions& a = settings_->audio;
  const bool mp3 = (a.flags & AudioOptions::kCompressionMp3) != 0 && facts_.mp3Available;
  Encoding encoding = mp3 ? Encoding::kMp3 : Encoding::kAdpcm;
  if ((a.flags & AudioOptions::kProcess) == 0) encoding = Encoding::kSilent;
  encoding_->setCurrentIndex(static_cast<int>(encoding));
  FillRates(mp3, a.rate);
  SelectText(bitRate_, QString::number(a.mp3kbps), kDefaultBitRateIndex);
  abr_->setChecked((a.flags & AudioOptions::kMp3Abr) != 0);
  bits_->setCurrentIndex(std::clamp(static_cast<int>(a.adpcmBits) - 2, 0, bits_->count() - 1));
  mono_->setChecked((a.flags & AudioOptions::kForceMono) != 0);
  volume_->SetPosition(HalfPosition(a.volume, 0, 2 * kMaxVolume));
  volume_->SetText(QString::asprintf("%.0f", a.volume));
  offset_->SetPosition(HalfPosition(a.offset - kOffsetOrigin, 0, 2000));
  offset_->SetText(QString::asprintf("%.0f", a.offset));
  UpdateEnabling();
  UpdateDataRate();
}

void AudioPage::Store() {
  if (settings_ == nullptr) return;
  AudioOptions& a = settings_->audio;
  switch (Current()) {
    case Encoding::kSilent:
      a.flags &= ~AudioOptions::kProcess;
      break;
    case Encoding::kAdpcm:
      a.flags = (a.flags | AudioOptions::kProcess) & ~AudioOptions::kCompressionMp3;
      break;
    case Encoding::kMp3:
      a.flags |= AudioOptions::kProcess | AudioOptions::kCompressionMp3;
      break;
  }
  a.rate = SelectedNumber(rate_, kDefaultRate);
  a.mp3kbps = SelectedNumber(bitRate_, kDefaultBitRate);
  a.flags =
      abr_->isChecked() ? (a.flags | AudioOptions::kMp3Abr) : (a.flags & ~AudioOptions::kMp3Abr);
  a.adpcmBits = static_cast<std::uint8_t>(bits_->currentIndex() + 2);
  a.flags = mono_->isChecked() ? (a.flags | AudioOptions::kForceMono)
                               : (a.flags & ~AudioOptions::kForceMono);
  a.volume = static_cast<float>(std::min(volume_->Position() / 2, kMaxVolume));
  a.offset = static_cast<float>(NumberOr(offset_->Text(), 0.0));
}

void AudioPage::Enable(bool enabled) {
  setEnabled(enabled);
}

void AudioPage::ChooseEncoding(Encoding encoding) {
  const Encoding previous = Current();
  if (encoding == Encoding::kMp3 && !facts_.mp3Available) {
    PagePrompts(prompts_).Message(
        this, QStringLiteral("MP3 Compression not installed"),
        QStringLiteral("MP3 audio compression is not currently installed."),
        MessageStyle::kWarning);
    encoding = Encoding::kAdpcm;
  }
  encoding_->setCurrentIndex(static_cast<int>(encoding));
  // Back to ADPCM from a refused MP3 keeps the ADPCM rate the user had.
  if (encoding == Encoding::kAdpcm && previous != Encoding::kAdpcm) FillRates(false, kDefaultRate);
  if (encoding == Encoding::kMp3) {
    FillRates(true, kDefaultRate);
    ApplyRateRule();
  }
  UpdateEnabling();
  UpdateDataRate();
}

void AudioPage::ChooseRate(int rate) {
  SelectText(rate_, QString::number(rate), rate_->currentIndex());
  if (Current() == Encoding::kMp3) ApplyRateRule();
  UpdateDataRate();
}

void AudioPage::ApplyRateRule() {
  const int rate = SelectedNumber(rate_, kDefaultRate);
  const int kbps = SelectedNumber(bitRate_, kDefaultBitRate);
  int fitting = kbps;
  if (rate == kHighRate && kbps < kLowestHighRateKbps) fitting = kLowestHighRateKbps;
  if (rate == kHighRate && kbps == kLowRateOnlyKbps) fitting = kHighRateInsteadOf144;
  if (rate == kDefaultRate && kbps > kHighestLowRateKbps) fitting = kHighestLowRateKbps;
  if (fitting != kbps) SelectText(bitRate_, QString::number(fitting), bitRate_->currentIndex());
}

void AudioPage::ChooseBitRate(int kbps) {
  SelectText(bitRate_, QString::number(kbps), bitRate_->currentIndex());
  if (Current() != Encoding::kMp3) return;
  const int rate = SelectedNumber(rate_, kDefaultRate);
  if (rate == kDefaultRate && kbps > kHighestLowRateKbps) {
    SelectText(rate_, QString::number(kHighRate), rate_->currentIndex());
  } else if (rate == kHighRate && (kbps < kLowestHighRateKbps || kbps == kLowRateOnlyKbps)) {
    SelectText(rate_, QString::number(kDefaultRate), rate_->currentIndex());
  }
}

void AudioPage::UpdateEnabling() {
  controls_->setEnabled(facts_.hasSound);
  const Encoding encoding = Current();
  const bool sound = encoding != Encoding::kSilent;
  const bool mp3 = encoding == Encoding::kMp3;
  for (QWidget* w : std::initializer_list<QWidget*>{rate_, mono_, volume_, offset_})
    w->setEnabled(sound);
  bitRate_->setEnabled(mp3);
  abr_->setEnabled(mp3);
  bits_->setEnabled(encoding == Encoding::kAdpcm);
}

void AudioPage::UpdateDataRate() {
  if (Current() != Encoding::kAdpcm || !facts_.open || !facts_.hasSound) {
    dataRate_->clear();
    return;
  }
  const double channels = mono_->isChecked() ? 1.0 : facts_.channels;
  const double bits = bits_->currentIndex() + 2;
  dataRate_->setText(QString::asprintf(
      "(%.0f kbps)", SelectedNumber(rate_, kDefaultRate) * channels * bits / 1000.0));
}

}  // namespace quillon
