// Not a test: drives the main window through its four states on a movie and saves a picture
// of each, and of the Preferences, Preset Settings and About dialogs (scripts/screenshots runs it
// under a virtual display). Usage: app_screenshots PROGRAM_FOLDER MOVIE OUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "app/about_dialog.h"
#include "app/main_window.h"
#include "app/preferences_dialog.h"
#include "app/preset_settings_dialog.h"
#include "app/timeline_page.h"
#include "encoder/encoder_controller.h"
#include "test_application.h"

namespace {

bool Write(const QPixmap& picture, const QString& path) {
  const bool ok = !picture.isNull() && picture.save(path);
  std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
  return ok;
}

// A dialog of the window, shown without its own event loop.
bool SaveDialog(QDialog& dialog, const QString& path) {
  dialog.show();
  QTest::qWait(200);
  const bool ok = Write(dialog.grab(), path);
  dialog.close();
  return ok;
}

// settleMs lets the picture worker and the player catch up with what the window was given.
bool Save(quillon::MainWindow& window, const QString& path, int settleMs) {
  QTest::qWait(settleMs);
  return Write(window.grab(), path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: app_screenshots PROGRAM_FOLDER MOVIE OUT_FOLDER\n", stderr);
    return 2;
  }
  QApplication application(argc, argv);
  // The pictures show the defaults, never the user's own preferences.
  QTemporaryDir settings;
  quillon::testing::UsePrivatePreferences(settings.path());
  const QString out = QString::fromLocal8Bit(argv[3]) + "/";
  QDir().mkpath(out);

  using quillon::UiState;
  QString folder = QString::fromLocal8Bit(argv[1]);
  if (!folder.endsWith('/')) folder += '/';
  quillon::MainWindow window(folder);
  window.Start();
  window.show();
  bool ok = Save(window, out + "state-0-no-movie.png", 300);
  ok = window.OpenMovie(QString::fromLocal8Bit(argv[2])) && ok;
  // A frame a little into the selection rather than the first, often blank, one.
  window.Timeline()->SetCursor(1500, false);
  ok = Save(window, out + "state-1-movie-open.png", 1000) && ok;
  window.Timeline()->SelectAll();
  window.EncodeOrCancel();
  // Taken at the first progress figures, before the run can end.
  QPixmap encoding;
  (void)QTest::qWaitFor(
      [&] {
        if (window.State() == UiState::kEncoding && window.Controller().Progress() > 0.0) {
          encoding = window.grab();
        }
        return !encoding.isNull() || window.State() != UiState::kEncoding;
      },
      60000);
  ok = Write(encoding, out + "state-2-encoding.png") && ok;
  ok = QTest::qWaitFor([&] { return window.State() != UiState::kEncoding; }, 120000) && ok;
  ok = window.State() == UiState::kMovieGenerated && ok;
  ok = Save(window, out + "state-3-movie-generated.png", 4000) && ok;

  quillon::PreferencesDialog preferences(&window);
  preferences.SetValues(window.Prefs());
  ok = SaveDialog(preferences, out + "dialog-preferences.png") && ok;
  quillon::PresetSettingsDialog presets(folder + "presets/", &window);
  ok = SaveDialog(presets, out + "dialog-preset-settings.png") && ok;
  quillon::AboutDialog about(&window);
  ok = SaveDialog(about, out + "dialog-about.png") && ok;
  return ok ? 0 : 1;
}
