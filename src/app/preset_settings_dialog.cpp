#include "app/preset_settings_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "settings/settings_file.h"

namespace quillon {

std::vector<PresetEntry> ListPresets(const QString& folder) {
  std::vector<PresetEntry> entries;
  const QStringList files = QDir(folder).entryList({"*.settings"}, QDir::Files);
  for (const QString& file : files) {
    QString name = file.left(file.lastIndexOf('.'));
    if (!name.isEmpty() && name[0] >= 'a' && name[0] <= 'z') name[0] = name[0].toUpper();
    entries.push_back({name, file});
  }
  std::sort(entries.begin(), entries.end(),
            [](const PresetEntry& a, const PresetEntry& b) { return a.name < b.name; });
  return entries;
}

QString PresetDescription(const QString& path) {
  EncoderSettings settings;
  SetDefaults(settings);
  if (!LoadSettingsFile(path.toStdString(), settings)) return QString();
  QString text = QString::fromStdString(settings.transport.description);
  text.replace("\\n", "\n");
  text.replace("\\N", "\n");
  return text;
}

PresetSettingsDialog::PresetSettingsDialog(const QString& folder, QWidget* parent)
    : QDialog(parent), folder_(folder), entries_(ListPresets(folder)) {
  setWindowTitle(tr("Select Preset Settings"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("Preset Settings:"), this));
  list_ = new QListWidget(this);
  list_->setObjectName("presets");
  for (const PresetEntry& entry : entries_) list_->addItem(entry.name);
  layout->addWidget(list_, 1);
  layout->addWidget(new QLabel(tr("Description:"), this));
  description_ = new QPlainTextEdit(this);
  description_->setReadOnly(true);
  description_->setMaximumHeight(90);
  layout->addWidget(description_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(tr("Open"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  layout->addWidget(buttons);

  connect(buttons, &QDialogButtonBox::accepted, this, &PresetSettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PresetSettingsDialog::reject);
  connect(list_, &QListWidget::currentRowChanged, this, &PresetSettingsDialog::ShowDescription);
  connect(list_, &QListWidget::itemDoubleClicked, this, &PresetSettingsDialog::accept);
  if (!entries_.empty()) list_->setCurrentRow(0);
  resize(360, 320);
}

QString PresetSettingsDialog::DescriptionShown() const {
  return description_->toPlainText();
}

void PresetSettingsDialog::ShowDescription(int row) {
  if (row < 0 || static_cast<size_t>(row) >= entries_.size()) {
    description_->clear();
    return;
  }
  description_->setPlainText(PresetDescription(folder_ + entries_[row].fileName));
}

void PresetSettingsDialog::accept() {
  const int row = list_->currentRow();
  if (row < 0 || static_cast<size_t>(row) >= entries_.size()) return;
  chosenName_ = entries_[row].name;
  chosenPath_ = folder_ + entries_[row].fileName;
  QDialog::accept();
}

}  // namespace quillon
