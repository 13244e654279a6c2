// The main window: menus, the two tab controls, the command buttons, the four UI states and
// every command of the window. An encoding is polled by a timer; the window never waits on it.
#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

#include "app/help_opener.h"
#include "app/message_box.h"
#include "app/preferences.h"

class QAction;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;

namespace quillon {

class EncoderController;
class FlashPreview;
class SettingsPage;
class TimelinePage;
class WindowSkin;

// What is enabled follows the state alone.
enum class UiState { kNoMovie = 0, kMovieOpen = 1, kEncoding = 2, kMovieGenerated = 3 };

// The Open Movie dialog's filter: the classic movie types and the ones Linux users have.
extern const char* const kMovieFileFilter;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // applicationFolder: where presets/ and the help pages are, with a trailing "/".
  explicit MainWindow(const QString& applicationFolder, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The start-up after construction: the controller's preferences, the default settings, the
  // remembered position and, if wished, the last movie.
  void Start();
  void SetPrompts(std::unique_ptr<Prompts> prompts);
  void SetHelpRedirectFolder(const QString& folder);

  UiState State() const { return state_; }
  EncoderController& Controller() { return *controller_; }
  TimelinePage* Timeline() const { return timeline_; }
  FlashPreview* Preview() const { return preview_; }
  const Preferences& Prefs() const { return prefs_; }
  bool Unsaved() const { return unsaved_; }
  const QString& PresetLabel() const { return presetLabel_; }
  const QString& SettingsFile() const { return settingsFile_; }

  // The commands; an empty path opens the file dialog.
  bool OpenMovie(const QString& path = QString());
  void EncodeOrCancel();
  void SaveFlash();
  void SaveFlashAs();
  bool OpenSettings(const QString& path = QString());
  void SaveSettings();
  void SaveSettingsAs();
  void ChoosePreset();
  void EditPreferences();
  void OpenHelpPage(const QString& page);
  bool OpenHelpAnchor(const QString& anchor);

  // The remembered position pulled back onto a screen of the given size.
  static QPoint ClampToScreen(QPoint topLeft, QSize window, QSize screen);

 signals:
  // An encoding ended (state 1 or 3 again); for whoever waits on it.
  void EncodingEnded(bool succeeded);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenus();
  void BuildLayout();
  void SetUiState(UiState state);
  void RefreshStatus();
  MessageAnswer Message(const QString& title, const QString& text,
                        MessageStyle style = MessageStyle::kWarning);
  void ShowControllerMessage();
  void BindPages();
  void StorePages();
  QString MoviePath() const;

  void Poll();
  void RefreshProgress();
  void FinishEncoding();
  void AbandonEncoding();
  // The save dialog; the name chosen with its extension, remembered; empty when cancelled.
  QString AskSaveName(const QString& title, const char* remembered, const char* filter,
                      const char* extension);
  void SaveToLastDestination();
  void AskToSaveUnsaved();
  void FinishClose();
  void ShowAbout();

  std::unique_ptr<EncoderController> controller_;
  std::unique_ptr<Prompts> prompts_;
  QString applicationFolder_;
  HelpOpener help_;
  Preferences prefs_;
  UiState state_ = UiState::kNoMovie;
  bool movieOpen_ = false;
  bool unsaved_ = false;
  bool cancelRequested_ = false;
  bool closeAfterRun_ = false;
  bool closeConfirmed_ = false;
  QString presetLabel_;
  QString settingsFile_;  // where Save Settings writes; empty asks for a name
  uint32_t movieLengthMs_ = 0;
  uint32_t runCursorMs_ = 0;
  QTimer* pollTimer_ = nullptr;
  std::unique_ptr<WindowSkin> skin_;

  QMenu* fileMenu_ = nullptr;
  QMenu* settingsMenu_ = nullptr;
  QMenu* helpMenu_ = nullptr;
  QAction* openMovieAction_ = nullptr;
  QAction* saveFlashAction_ = nullptr;
  QAction* saveFlashAsAction_ = nullptr;
  QAction* encodeAction_ = nullptr;
  QAction* preferencesAction_ = nullptr;
  QAction* exitAction_ = nullptr;
  QAction* presetsAction_ = nullptr;
  QAction* openSettingsAction_ = nullptr;
  QAction* saveSettingsAction_ = nullptr;
  QAction* saveSettingsAsAction_ = nullptr;
  QAction* selectAllAction_ = nullptr;

  QTabWidget* upperTabs_ = nullptr;
  TimelinePage* timeline_ = nullptr;
  FlashPreview* preview_ = nullptr;
  QPushButton* encodeButton_ = nullptr;
  QTabWidget* lowerTabs_ = nullptr;
  std::array<SettingsPage*, 4> pages_{};
  QPushButton* openMovieButton_ = nullptr;
  QPushButton* saveFlashButton_ = nullptr;
  QPushButton* presetsButton_ = nullptr;
};

}  // namespace quillon
