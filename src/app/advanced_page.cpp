#include "app/advanced_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/half_slider.h"
#include "app/help_strip.h"
#include "app/page_layout.h"
#include "app/timeline_page.h"

namespace quillon {

namespace {

const QStringList kDirections = {"None", "Horizontal", "Vertical", "Both"};
constexpr int kSpanSizeMin = 2;
constexpr int kSpanSizeMax = 32;
constexpr int kDarkenMax = 150;
// Where each direction pair sits in its flag word: horizontal at the shift, vertical above it.
constexpr unsigned kSpanShift = 1;       // FrameOptions::kUniformSpanHorizontal
constexpr unsigned kCollapseShift = 4;   // TransportOptions::kResizeHorizontal
constexpr unsigned kTransientShift = 6;  // TransportOptions::kTransientResizeHorizontal
static_assert(FrameOptions::kUniformSpanHorizontal == 1u << kSpanShift);
static_assert(TransportOptions::kResizeHorizontal == 1u << kCollapseShift);
static_assert(TransportOptions::kTransientResizeHorizontal == 1u << kTransientShift);

int DirectionIndex(std::uint32_t flags, unsigned shift) {
  return static_cast<int>((flags >> shift) & 3u);
}

void SetDirection(std::uint32_t& flags, unsigned shift, int index) {
  flags = (flags & ~(3u << shift)) | (static_cast<std::uint32_t>(index & 3) << shift);
}

void SetFlag(std::uint32_t& flags, std::uint32_t flag, bool on) {
  flags = on ? (flags | flag) : (flags & ~flag);
}

HalfSlider* NewQualitySlider(QWidget* parent) {
  HalfSlider* slider = NewPercentSlider(parent, 0, 1, 4);
  slider->SetDragFormat([](int p) { return QString::asprintf("%.1f", p * 0.5); });
  return slider;
}

void LoadQuality(HalfSlider* slider, float limit) {
  slider->SetPosition(HalfPosition(limit, 0, 200));
  slider->SetText(QString::asprintf("%.1f", slider->Position() * 0.5));
}

}  // namespace

AdvancedPage::AdvancedPage(QWidget* parent) : SettingsPage(parent), controls_(new QWidget(this)) {
  QGridLayout* columns = NewColumns(controls_);

  QGridLayout* grid = nullptr;
  // A type combo over its quality slider; "None" turns the quality off.
  const auto typeCell = [&](const QString& type, const QString& quality, QComboBox** combo,
                            HalfSlider** slider) {
    QWidget* cell = NewCell(controls_, &grid);
    *combo = new QComboBox(cell);
    (*combo)->addItems(kDirections);
    *slider = NewQualitySlider(cell);
    grid->addWidget(NewLabel(type, cell), 0, 0);
    grid->addWidget(*combo, 0, 1);
    grid->addWidget(NewLabel(quality, cell), 1, 0, 1, 2);
    grid->addWidget(*slider, 2, 0, 1, 2);
    grid->addWidget(NewLabel("%", cell), 2, 2);
    connect(*combo, &QComboBox::currentIndexChanged, this, &AdvancedPage::UpdateEnabling);
    return cell;
  };
  QWidget* transientCell =
      typeCell("Transient Type:", "Transient Quality:", &transientType_, &transientQuality_);
  QWidget* collapseCell =
      typeCell("Collapse Type:", "Collapse Quality:", &collapseType_, &collapseQuality_);
  QWidget* spanCell = typeCell("Span Type:", "Span Quality:", &spanType_, &spanQuality_);
  spanSize_ = new QSpinBox(spanCell);
  spanSize_->setRange(kSpanSizeMin, kSpanSizeMax);
  grid->addWidget(NewLabel("Span Size:", spanCell), 3, 0);
  grid->addWidget(spanSize_, 3, 1, Qt::AlignLeft);
  connect(spanType_, &QComboBox::currentIndexChanged, this, &AdvancedPage::PushPreview);
  connect(spanQuality_, &HalfSlider::Moved, this, &AdvancedPage::PushPreview);
  connect(spanQuality_, &HalfSlider::Typed, this, &AdvancedPage::PushPreview);
  connect(spanSize_, &QSpinBox::valueChanged, this, &AdvancedPage::PushPreview);

  QWidget* darkenCell = NewCell(controls_, &grid);
  darken_ = new HalfSlider(darkenCell);
  darken_->SetRange(0, kDarkenMax);
  darken_->SetSteps(2, 10);
  darken_->SetTickInterval(50);
  darken_->SetBoxWidth(4);
  darken_->SetTypedRange(0, 100);
  darken_->SetDragFormat(
      [](int p) { return QString::asprintf("%u", static_cast<unsigned>(p / 2)); });
  grid->addWidget(NewLabel("Image Darken:", darkenCell), 0, 0, 1, 2);
  grid->addWidget(darken_, 1, 0);
  grid->addWidget(NewLabel("%", darkenCell), 1, 1);
  connect(darken_, &HalfSlider::Moved, this, &AdvancedPage::PushPreview);
  connect(darken_, &HalfSlider::Typed, this, &AdvancedPage::PushPreview);

  const auto checkCell = [&](const QString& title, QCheckBox** check) {
    QWidget* cell = NewCell(controls_, &grid);
    *check = new QCheckBox(cell);
    auto* label = NewLabel(title, cell);
    grid->addWidget(label, 0, 0);
    grid->addWidget(*check, 0, 1);
    grid->setColumnStretch(2, 1);
    return label;
  };
  QLabel* protectLabel = checkCell("Protect from Import:", &protect_);
  QLabel* optimizeLabel = checkCell("Optimize Player Memory:", &optimize_);
  AlignLabels({protectLabel, optimizeLabel});
  QWidget* protectCell = protectLabel->parentWidget();
  QWidget* optimizeCell = optimizeLabel->parentWidget();

  QWidget* descriptionCell = NewCell(controls_, &grid);
  description_ = new QLineEdit(descriptionCell);
  description_->setMaxLength(static_cast<int>(kDescriptionMaxLength));
  grid->addWidget(NewLabel("Settings Description:", descriptionCell), 0, 0);
  grid->addWidget(description_, 1, 0);

  AddCellColumn(columns, 0, {transientCell, darkenCell});
  AddCellColumn(columns, 1, {collapseCell, protectCell, optimizeCell});
  AddCellColumn(columns, 2, {spanCell, descriptionCell});

  strip_ = AttachHelpStrip(
      this, controls_, "Advanced/compression settings - place the mouse over a setting for help");
  const QString help = QStringLiteral("Help/AdvancedSettings.htm#");
  strip_->AddRegion(transientCell,
                    "Optimize transient image blocks respecting the specified video quality",
                    help + "transient", 401);
  strip_->AddRegion(collapseCell,
                    "Optimize general image blocks respecting the given video quality",
                    help + "collapse", 402);
  strip_->AddRegion(spanCell,
                    "Compress better by reducing image complexity on a span basis, respecting the "
                    "specified quality",
                    help + "span", 403);
  strip_->AddRegion(darkenCell,
                    "Darken the original frames - will allow for better Flash compression",
                    help + "darken", 404);
  strip_->AddRegion(protectCell,
                    "Protect the encoded Flash movie from import into the Flash editor",
                    help + "protect", 405);
  strip_->AddRegion(
      optimizeCell,
      "Minimize the memory consumed by the Flash player - uncheck if importing to the Flash editor",
      help + "optimizeplayermemory", 406);
  strip_->AddRegion(descriptionCell,
                    "A description of the current settings, for easier identification later",
                    help + "description", 407);
  UpdateEnabling();
}

void AdvancedPage::Bind(EncoderSettings* settings, TimelinePage* timeline, const MovieFacts&) {
  settings_ = settings;
  timeline_ = timeline;
  Load();
}

void AdvancedPage::Load() {
  if (settings_ == nullptr) return;
  loading_ = true;
  const FrameOptions& f = settings_->frame;
  const TransportOptions& t = settings_->transport;
  spanType_->setCurrentIndex(DirectionIndex(f.flags, kSpanShift));
  LoadQuality(spanQuality_, f.uniformSpanLimit);
  spanSize_->setValue(
      static_cast<int>(std::clamp<std::uint32_t>(f.uniformSpanSize, kSpanSizeMin, kSpanSizeMax)));
  collapseType_->setCurrentIndex(DirectionIndex(t.flags, kCollapseShift));
  LoadQuality(collapseQuality_, t.resizeLimit);
  transientType_->setCurrentIndex(DirectionIndex(t.flags, kTransientShift));
  LoadQuality(transientQuality_, t.transientResizeLimit);
  darken_->SetPosition(HalfPosition(f.darken, 0, kDarkenMax));
  darken_->SetText(
      QString::asprintf("%u", static_cast<unsigned>(std::clamp(f.darken, 0.0f, 100.0f))));
  protect_->setChecked((t.playerFlags & TransportOptions::kPlayerProtect) != 0);
  optimize_->setChecked((t.playerFlags & TransportOptions::kPlayerOptimizeMemory) != 0);
  description_->setText(QString::fromStdString(t.description));
  UpdateEnabling();
  loading_ = false;
}

void AdvancedPage::Store() {
  if (settings_ == nullptr) return;
  StoreFrame();
  TransportOptions& t = settings_->transport;
  SetDirection(t.flags, kCollapseShift, collapseType_->currentIndex());
  t.resizeLimit = static_cast<float>(collapseQuality_->Position() * 0.5);
  SetDirection(t.flags, kTransientShift, transientType_->currentIndex());
  t.transientResizeLimit = static_cast<float>(transientQuality_->Position() * 0.5);
  SetFlag(t.playerFlags, TransportOptions::kPlayerProtect, protect_->isChecked());
  SetFlag(t.playerFlags, TransportOptions::kPlayerOptimizeMemory, optimize_->isChecked());
  t.description = description_->text().toStdString();
}

void AdvancedPage::Enable(bool enabled) {
  setEnabled(enabled);
}

void AdvancedPage::UpdateEnabling() {
  const bool span = spanType_->currentIndex() > 0;
  spanQuality_->setEnabled(span);
  spanSize_->setEnabled(span);
  collapseQuality_->setEnabled(collapseType_->currentIndex() > 0);
  transientQuality_->setEnabled(transientType_->currentIndex() > 0);
}

void AdvancedPage::StoreFrame() {
  FrameOptions& f = settings_->frame;
  SetDirection(f.flags, kSpanShift, spanType_->currentIndex());
  f.uniformSpanLimit = static_cast<float>(spanQuality_->Position() * 0.5);
  f.uniformSpanSize = static_cast<std::uint32_t>(spanSize_->value());
  f.darken = static_cast<float>(darken_->Position() * 0.5);
}

void AdvancedPage::PushPreview() {
  if (loading_ || settings_ == nullptr) return;
  StoreFrame();
  if (timeline_ != nullptr) timeline_->SetPreviewFilter(settings_->frame);
}

}  // namespace quillon
