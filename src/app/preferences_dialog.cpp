#include "app/preferences_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>
#include <algorithm>

#include "app/message_box.h"

namespace quillon {

PreferencesDialog::PreferencesDialog(QWidget* parent, Prompts* prompts)
    : QDialog(parent), prompts_(prompts) {
  setWindowTitle(tr("Preferences"));
  auto* form = new QFormLayout;
  autoPlay_ = new QCheckBox(this);
  autoSave_ = new QCheckBox(this);
  reopen_ = new QCheckBox(this);
  useSkin_ = new QCheckBox(this);
  duration_ = new QLineEdit(this);
  duration_->setObjectName("duration");
  priority_ = new QComboBox(this);
  priority_->addItems({tr("Normal"), tr("Lower"), tr("Lowest")});
  form->addRow(tr("Auto Play after Encoding:"), autoPlay_);
  form->addRow(tr("Auto Save after Encoding:"), autoSave_);
  form->addRow(tr("Reopen Last Movie at Start:"), reopen_);
  form->addRow(tr("Use Window Bitmap Skin:"), useSkin_);
  form->addRow(tr("Default Duration (secs): "), duration_);
  form->addRow(tr("Encoding Priority:"), priority_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &PreferencesDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PreferencesDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void PreferencesDialog::SetValues(const Preferences& p) {
  autoPlay_->setChecked(p.autoPlay);
  autoSave_->setChecked(p.autoSave);
  reopen_->setChecked(p.autoOpenLastMovie);
  useSkin_->setChecked(p.useSkin);
  duration_->setText(QString::asprintf("%.1f", p.defaultDurationMs / 1000.0));
  priority_->setCurrentIndex(static_cast<int>(std::min<uint32_t>(p.encodingPriority, 2)));
}

Preferences PreferencesDialog::Values(const Preferences& base) const {
  Preferences p = base;
  p.autoPlay = autoPlay_->isChecked();
  p.autoSave = autoSave_->isChecked();
  p.autoOpenLastMovie = reopen_->isChecked();
  p.useSkin = useSkin_->isChecked();
  p.encodingPriority = static_cast<uint32_t>(std::max(priority_->currentIndex(), 0));
  return p;
}

QString PreferencesDialog::DurationText() const {
  return duration_->text();
}

void PreferencesDialog::accept() {
  if (ParseDefaultDuration(DurationText()) == 0) {
    const QString title = tr("Default Duration Error");
    const QString text = tr("The Default Duration must be a number greater than 0");
    if (prompts_ != nullptr) {
      prompts_->Message(this, title, text, MessageStyle::kPlain);
    } else {
      QMessageBox::information(this, title, text);
    }
    return;
  }
  QDialog::accept();
}

}  // namespace quillon
