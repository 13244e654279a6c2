#include "app/video_page.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <algorithm>
#include <cmath>
#include <limits>

#include "app/half_slider.h"
#include "app/help_strip.h"
#include "app/page_layout.h"
#include "app/timeline_page.h"

namespace quillon {

namespace {

constexpr int kCyclesMin = 1;
constexpr int kCyclesMax = 9;
const QString kUnknown = QStringLiteral("...");

const QStringList kBitRates = {"Unlimited", "28.8", "34",  "46",   "49",   "56",   "64",  "100",
                               "110",       "128",  "164", "192",  "200",  "224",  "256", "384",
                               "512",       "640",  "800", "1200", "1500", "1600", "5000"};

QString BitRateText(std::uint32_t bitsPerSecond) {
  if (bitsPerSecond == 0) return kBitRates.front();
  const double kbps = bitsPerSecond / 1000.0;
  return QString::asprintf(bitsPerSecond % 1000 != 0 ? "%.3f" : "%.0f", kbps);
}

}  // namespace

VideoPage::VideoPage(QWidget* parent) : SettingsPage(parent), controls_(new QWidget(this)) {
  QGridLayout* columns = NewColumns(controls_);

  QGridLayout* grid = nullptr;
  QWidget* qualityCell = NewCell(controls_, &grid);
  quality_ = NewPercentSlider(qualityCell, 0, 1, 4);
  quality_->SetDragFormat([](int p) { return QString::asprintf("%.1f", p * 0.5); });
  grid->addWidget(NewLabel("Video Quality:", qualityCell), 0, 0);
  grid->addWidget(quality_, 1, 0);

  QWidget* jpegCell = NewCell(controls_, &grid);
  jpeg_ = NewPercentSlider(jpegCell, 0, 2, 4);
  jpeg_->SetTypedRange(0, 95);
  jpeg_->SetDragFormat([](int p) { return QString::asprintf("%u", static_cast<unsigned>(p / 2)); });
  grid->addWidget(NewLabel("JPEG Quality:", jpegCell), 0, 0);
  grid->addWidget(jpeg_, 1, 0);

  QWidget* rateCell = NewCell(controls_, &grid);
  rate_ = NewPercentSlider(rateCell, 2, 1, 5);
  ratePercent_ = new QLabel(rateCell);
  grid->addWidget(NewLabel("Frame Rate:", rateCell), 0, 0);
  grid->addWidget(ratePercent_, 0, 1, Qt::AlignRight);
  grid->addWidget(rate_, 1, 0, 1, 2);
  connect(rate_, &HalfSlider::Moved, this, &VideoPage::OnRateMoved);
  connect(rate_, &HalfSlider::Typed, this, &VideoPage::OnRateTyped);

  QWidget* sizeCell = NewCell(controls_, &grid);
  size_ = NewPercentSlider(sizeCell, 0, 1, 9);
  size_->SetBoxReadOnly(true);
  size_->Box()->installEventFilter(this);
  sizePercent_ = new QLabel(sizeCell);
  grid->addWidget(NewLabel("Frame Size:", sizeCell), 0, 0);
  grid->addWidget(sizePercent_, 0, 1, Qt::AlignRight);
  grid->addWidget(size_, 1, 0, 1, 2);
  connect(size_, &HalfSlider::Moved, this, &VideoPage::OnSizeMoved);

  QWidget* smoothCell = NewCell(controls_, &grid);
  smooth_ = NewPercentSlider(smoothCell, 0, 2, 4);
  smooth_->SetDragFormat(
      [](int p) { return QString::asprintf("%u", static_cast<unsigned>(p / 2)); });
  grid->addWidget(NewLabel("Smoothness:", smoothCell), 0, 0);
  grid->addWidget(smooth_, 1, 0);
  connect(smooth_, &HalfSlider::Moved, this, &VideoPage::PushPreview);
  connect(smooth_, &HalfSlider::Typed, this, &VideoPage::PushPreview);

  QWidget* cyclesCell = NewCell(controls_, &grid);
  cycles_ = new QSpinBox(cyclesCell);
  cycles_->setRange(kCyclesMin, kCyclesMax);
  grid->addWidget(NewLabel("Smooth Cycles:", cyclesCell), 0, 0);
  grid->addWidget(cycles_, 0, 1, Qt::AlignRight);
  connect(cycles_, &QSpinBox::valueChanged, this, [this] {
    if (loading_) return;
    // A value from a file outside the arrows' range is shown as it is; the first edit brings
    // the box back into the range.
    cycles_->setRange(kCyclesMin, kCyclesMax);
    PushPreview();
  });

  QWidget* bitRateCell = NewCell(controls_, &grid);
  bitRate_ = NewEditableCombo(kBitRates, 32, bitRateCell);
  grid->addWidget(NewLabel("Bit Rate Limit:", bitRateCell), 0, 0, 1, 2);
  grid->addWidget(bitRate_, 1, 0);
  grid->addWidget(NewLabel("kbps", bitRateCell), 1, 1);

  AddCellColumn(columns, 0, {qualityCell, jpegCell});
  AddCellColumn(columns, 1, {rateCell, sizeCell});
  AddCellColumn(columns, 2, {smoothCell, cyclesCell, bitRateCell});

  strip_ = AttachHelpStrip(
      this, controls_, "Video encoding quality settings - place the mouse over a setting for help");
  const QString help = QStringLiteral("Help/VideoSettings.htm#");
  strip_->AddRegion(
      qualityCell,
      "Video image quality - higher settings will generate better image but larger file sizes",
      help + "videoquality", 101);
  strip_->AddRegion(
      rateCell,
      "Encoding Frame Rate in frames per second - lower values will generate smaller sizes",
      help + "framerate", 102);
  strip_->AddRegion(
      smoothCell,
      "Smoothen the movie frames, higher settings will blur the image but will compress better",
      help + "smooth", 103);
  strip_->AddRegion(
      cyclesCell,
      "How many times smooth will be applied to each frame, larger values will compress better",
      help + "smoothcycles", 104);
  strip_->AddRegion(
      jpegCell,
      "JPEG image compression quality - usually between 50 and 95%, lower values = smaller sizes",
      help + "jpegquality", 105);
  strip_->AddRegion(
      sizeCell,
      "Frame resizing from original movie's frame size - excellent way to reduce generated size",
      help + "resize", 106);
  strip_->AddRegion(QRect(),
                    "Frame Size: Please use the slider control instead, so that image proportions "
                    "can be maintained",
                    help + "resize", kFrameSizeBoxHelpId);
  strip_->AddRegion(bitRateCell, "Maximum number kilobits per second before frame drops",
                    help + "bitrate", 108);
}

void VideoPage::Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts& facts) {
  settings_ = settings;
  timeline_ = timeline;
  facts_ = facts;
  Load();
}

bool VideoPage::HasMovieRate() const {
  return facts_.open && facts_.fps > 0.0;
}

QString VideoPage::SizeText(int position, bool rounded) const {
  if (!facts_.open || facts_.width == 0 || facts_.height == 0) return kUnknown;
  const auto side = [&](std::uint32_t length) {
    const double exact = static_cast<double>(length) * position / 200.0;
    return std::max<std::uint32_t>(
        1, static_cast<std::uint32_t>(rounded ? std::floor(exact + 0.5) : exact));
  };
  return QString::asprintf("%ux%u", side(facts_.width), side(facts_.height));
}

void VideoPage::Load() {
  if (settings_ == nullptr) return;
  loading_ = true;
  FrameOptions& frame = settings_->frame;

  quality_->SetPosition(HalfPosition(settings_->match.limit, 0, 200));
  quality_->SetText(QString::asprintf("%.1f", quality_->Position() * 0.5));

  // Against the movie, the rate becomes absolute (a percentage or 0 resolved, never above the
  // movie's) and the size a percentage; without one the record is left as it is.
  double rate = 0.0;
  if (HasMovieRate() && OutputFrameRate(frame.fps, facts_.fps, rate)) {
    frame.fps = rate;
    rate_->SetPosition(
        std::clamp(static_cast<int>(std::floor(rate * 200.0 / facts_.fps + 0.5)), 2, 200));
    rate_->SetText(QString::asprintf("%.1f", rate));
    rate_->SetTypedRange(0.0, facts_.fps);
    rate_->SetTypedScale(200.0 / facts_.fps);
  } else {
    rate_->SetPosition(frame.fps < 0 ? HalfPosition(-frame.fps, 2, 200) : 200);
    rate_->SetText(kUnknown);
  }
  ratePercent_->setText(QString::asprintf("%.1f%%", rate_->Position() * 0.5));

  smooth_->SetPosition(HalfPosition(frame.smooth, 0, 200));
  smooth_->SetText(QString::asprintf("%u", static_cast<unsigned>(smooth_->Position() / 2)));
  const int cycles = static_cast<int>(
      std::min<std::uint32_t>(frame.smoothCycles, std::numeric_limits<int>::max()));
  cycles_->setRange(std::min(cycles, kCyclesMin), std::max(cycles, kCyclesMax));
  cycles_->setValue(cycles);

  jpeg_->SetPosition(HalfPosition(settings_->transport.jpegQuality, 0, 200));
  jpeg_->SetText(QString::asprintf("%u", static_cast<unsigned>(settings_->transport.jpegQuality)));

  float percent = frame.resize;
  if (facts_.open && facts_.width > 0 && ResizePercent(frame.resize, facts_.width, percent)) {
    if (frame.resize < 0) percent = std::min(percent, 100.0f);
    frame.resize = percent;
  }
  size_->SetPosition(HalfPosition(percent, 0, 200));
  size_->SetText(SizeText(size_->Position(), true));
  sizePercent_->setText(QString::asprintf("%.1f%%", size_->Position() * 0.5));

  const QString bitRate = BitRateText(settings_->transport.bitrateLimit);
  bitRate_->setCurrentIndex(bitRate_->findText(bitRate));
  bitRate_->setEditText(bitRate);
  loading_ = false;
}

void VideoPage::Store() {
  if (settings_ == nullptr) return;
  FrameOptions& frame = settings_->frame;
  settings_->match.limit = static_cast<float>(quality_->Position() * 0.5);
  // Without a movie rate the slider cannot stand for a rate: the record keeps its own.
  if (HasMovieRate()) frame.fps = -(rate_->Position() * 0.5);
  StorePicture();
  settings_->transport.jpegQuality =
      static_cast<std::uint8_t>(std::min(jpeg_->Position() / 2, 100));
  const double kbps = std::max(0.0, NumberOr(bitRate_->currentText(), 0.0));
  settings_->transport.bitrateLimit = static_cast<std::uint32_t>(
      std::min(std::floor(kbps * 1000.0 + 0.5),
               static_cast<double>(std::numeric_limits<std::uint32_t>::max())));
}

void VideoPage::Enable(bool enabled) {
  setEnabled(enabled);
}

void VideoPage::OnRateMoved(int position) {
  if (HasMovieRate()) rate_->SetText(QString::asprintf("%.1f", position * facts_.fps * 0.005));
  ratePercent_->setText(QString::asprintf("%.1f%%", position * 0.5));
}

void VideoPage::OnRateTyped(int position, double) {
  ratePercent_->setText(QString::asprintf("%u%%", static_cast<unsigned>(position / 2)));
}

void VideoPage::OnSizeMoved(int position) {
  size_->SetText(SizeText(position, false));
  sizePercent_->setText(QString::asprintf("%.1f%%", position * 0.5));
  PushPreview();
}

void VideoPage::StorePicture() {
  FrameOptions& frame = settings_->frame;
  frame.smooth = static_cast<float>(smooth_->Position() / 2);
  frame.smoothCycles = static_cast<std::uint32_t>(cycles_->value());
  // Without the movie's width the slider cannot stand for a final width: the record keeps it.
  if (facts_.open) frame.resize = static_cast<float>(size_->Position() * 0.5);
}

void VideoPage::PushPreview() {
  if (loading_ || settings_ == nullptr) return;
  StorePicture();
  if (timeline_ != nullptr) timeline_->SetPreviewFilter(settings_->frame);
}

bool VideoPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == size_->Box() && event->type() == QEvent::MouseButtonPress) {
    strip_->ShowHelpById(kFrameSizeBoxHelpId);
  }
  return SettingsPage::eventFilter(watched, event);
}

}  // namespace quillon
