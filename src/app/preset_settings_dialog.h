// The "Select Preset Settings" dialog: the settings files of the presets folder with their
// descriptions.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <vector>

class QListWidget;
class QPlainTextEdit;

namespace quillon {

struct PresetEntry {
  QString name;      // shown: the file name up to its last dot, first letter upper case
  QString fileName;  // as it is on disk (names are case-sensitive here)
};

// The presets of a folder (with a trailing "/"), sorted by shown name.
std::vector<PresetEntry> ListPresets(const QString& folder);
// A settings file's description with every "\n" or "\N" (backslash and letter) a line break;
// empty when the file cannot be read.
QString PresetDescription(const QString& path);

class PresetSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  PresetSettingsDialog(const QString& folder, QWidget* parent = nullptr);

  // After Open: the preset's shown name and its full path.
  QString ChosenName() const { return chosenName_; }
  QString ChosenPath() const { return chosenPath_; }
  QString DescriptionShown() const;

  void accept() override;

 private:
  void ShowDescription(int row);

  QString folder_;
  std::vector<PresetEntry> entries_;
  QListWidget* list_ = nullptr;
  QPlainTextEdit* description_ = nullptr;
  QString chosenName_;
  QString chosenPath_;
};

}  // namespace quillon
