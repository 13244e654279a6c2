#include "app/page_layout.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/half_slider.h"
#include "app/help_strip.h"
#include "app/message_box.h"
#include "app/settings_page.h"

namespace quillon {

HelpStrip* AttachHelpStrip(SettingsPage* page, QWidget* controls, const QString& restingText) {
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(controls, 1);
  auto* strip = new HelpStrip(page);
  strip->SetRestingText(restingText);
  strip->setMinimumHeight(20);
  layout->addWidget(strip);
  strip->WatchPage(page);
  QObject::connect(strip, &HelpStrip::AnchorClicked, page, &SettingsPage::HelpAnchorRequested);
  return strip;
}

QGridLayout* NewColumns(QWidget* controls) {
  auto* columns = new QGridLayout(controls);
  columns->setContentsMargins(2, 2, 2, 2);
  columns->setSpacing(0);
  return columns;
}

QVBoxLayout* AddColumn(QGridLayout* columns, int index, int stretch) {
  auto* column = new QVBoxLayout();
  column->setSpacing(0);
  columns->addLayout(column, 0, index);
  columns->setColumnStretch(index, stretch);
  return column;
}

void AddCellColumn(QGridLayout* columns, int index, std::initializer_list<QWidget*> cells) {
  QVBoxLayout* column = AddColumn(columns, index, 1);
  for (QWidget* cell : cells) column->addWidget(cell);
  column->addStretch(1);
}

HalfSlider* NewPercentSlider(QWidget* parent, int minimum, int line, int boxChars) {
  auto* slider = new HalfSlider(parent);
  slider->SetRange(minimum, 200);
  slider->SetSteps(line, 10);
  slider->SetTickInterval(50);
  slider->SetBoxWidth(boxChars);
  return slider;
}

QWidget* NewCell(QWidget* parent, QGridLayout** grid) {
  auto* cell = new QWidget(parent);
  *grid = new QGridLayout(cell);
  (*grid)->setContentsMargins(5, 3, 5, 3);
  (*grid)->setHorizontalSpacing(6);
  (*grid)->setVerticalSpacing(3);
  return cell;
}

QLabel* NewLabel(const QString& text, QWidget* parent) {
  return new QLabel(text, parent);
}

void AlignLabels(const QList<QLabel*>& labels) {
  int width = 0;
  for (const QLabel* label : labels) width = std::max(width, label->sizeHint().width());
  for (QLabel* label : labels) label->setMinimumWidth(width);
}

int HalfPosition(double value, int minimum, int maximum) {
  if (!std::isfinite(value)) return minimum;
  const double position = std::clamp(std::floor(value * 2.0 + 0.5), static_cast<double>(minimum),
                                     static_cast<double>(maximum));
  return static_cast<int>(position);
}

double NumberOr(const QString& text, double fallback) {
  double value = 0.0;
  return HalfSlider::ReadNumber(text, value) ? value : fallback;
}

Prompts& PagePrompts(Prompts* given) {
  static Prompts desktop;
  return given != nullptr ? *given : desktop;
}

QComboBox* NewEditableCombo(const QStringList& items, int maxLength, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->addItems(items);
  combo->lineEdit()->setMaxLength(maxLength);
  return combo;
}

}  // namespace quillon
