#include "app/preset_settings_dialog.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "settings/settings_file.h"

namespace quillon {
namespace {

void WritePreset(const QString& path, const std::string& description) {
  EncoderSettings settings;
  SetDefaults(settings);
  settings.transport.description = description;
  ASSERT_TRUE(SaveSettingsFile(path.toStdString(), settings));
}

std::vector<QString> Names(const std::vector<PresetEntry>& entries) {
  std::vector<QString> names;
  for (const PresetEntry& e : entries) names.push_back(e.name);
  return names;
}

TEST(PresetSettingsDialogTest, ListsSettingsFilesSortedWithCapitalInitials) {
  QTemporaryDir dir;
  const QString folder = dir.path() + "/";
  WritePreset(folder + "zeta.settings", "last");
  WritePreset(folder + "alpha.settings", "first");
  WritePreset(folder + "Beta.settings", "");
  WritePreset(folder + "web.v2.settings", "");
  QFile other(folder + "notes.txt");
  ASSERT_TRUE(other.open(QIODevice::WriteOnly));
  const std::vector<PresetEntry> entries = ListPresets(folder);
  EXPECT_EQ(Names(entries), (std::vector<QString>{"Alpha", "Beta", "Web.v2", "Zeta"}));
  // The file keeps its own spelling: names are case-sensitive on this system.
  EXPECT_EQ(entries[0].fileName, "alpha.settings");

  PresetSettingsDialog dialog(folder);
  EXPECT_EQ(dialog.DescriptionShown(), "first");
  dialog.accept();
  EXPECT_EQ(dialog.ChosenName(), "Alpha");
  EXPECT_EQ(dialog.ChosenPath(), folder + "alpha.settings");
}

TEST(PresetSettingsDialogTest, BackslashNInADescriptionBreaksTheLine) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/a.settings";
  WritePreset(path, "For modems\\nand slow links\\Nonly");
  EXPECT_EQ(PresetDescription(path), "For modems\nand slow links\nonly");
  EXPECT_EQ(PresetDescription(dir.path() + "/missing.settings"), "");
}

TEST(PresetSettingsDialogTest, EmptyFolderGivesAnEmptyListAndNoChoice) {
  QTemporaryDir dir;
  EXPECT_TRUE(ListPresets(dir.path() + "/").empty());
  EXPECT_TRUE(ListPresets(dir.path() + "/nowhere/").empty());
  PresetSettingsDialog dialog(dir.path() + "/");
  EXPECT_EQ(dialog.DescriptionShown(), "");
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_TRUE(dialog.ChosenPath().isEmpty());
}

}  // namespace
}  // namespace quillon
