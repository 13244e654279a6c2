// The "Preferences" dialog: what happens after an encoding, at start, and how the window looks.
#pragma once

#include <QDialog>
#include <QString>

#include "app/preferences.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace quillon {

class Prompts;

class PreferencesDialog : public QDialog {
  Q_OBJECT
 public:
  // prompts shows the refusal of a bad duration (the dialog's own when null).
  explicit PreferencesDialog(QWidget* parent = nullptr, Prompts* prompts = nullptr);

  void SetValues(const Preferences& preferences);
  // base with the dialog's checks and priority; the duration stays base's (see DurationText).
  Preferences Values(const Preferences& base) const;
  QString DurationText() const;

  void accept() override;

 private:
  Prompts* prompts_;
  QCheckBox* autoPlay_ = nullptr;
  QCheckBox* autoSave_ = nullptr;
  QCheckBox* reopen_ = nullptr;
  QCheckBox* useSkin_ = nullptr;
  QLineEdit* duration_ = nullptr;
  QComboBox* priority_ = nullptr;
};

}  // namespace quillon
