// The main window: menus, the two tab controls, the command buttons and the four UI states.
#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <memory>

#include "app/message_box.h"

class QAction;
class QMenu;
class QPushButton;
class QTabWidget;

namespace quillon {

class EncoderController;
class FlashPreview;
class SettingsPage;
class TimelinePage;

// What is enabled follows the state alone.
enum class UiState { kNoMovie = 0, kMovieOpen = 1, kEncoding = 2, kMovieGenerated = 3 };

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // applicationFolder: where presets/ and the help pages are, with a trailing "/".
  explicit MainWindow(const QString& applicationFolder, QWidget* parent = nullptr);
  ~MainWindow() override;

  void SetPrompts(std::unique_ptr<Prompts> prompts);
  UiState State() const { return state_; }
  EncoderController& Controller() { return *controller_; }
  TimelinePage* Timeline() const { return timeline_; }
  FlashPreview* Preview() const { return preview_; }

  void OpenHelpPage(const QString& page);
  bool OpenHelpAnchor(const QString& anchor);

 private:
  void BuildMenus();
  void BuildLayout();
  void SetUiState(UiState state);

  void OnOpenMovie();
  void OnEncode();
  void OnSaveFlash();
  void OnSaveFlashAs();
  void OnPreferences();
  void OnPresets();
  void OnOpenSettings();
  void OnSaveSettings();
  void OnSaveSettingsAs();
  void OnAbout();

  std::unique_ptr<EncoderController> controller_;
  std::unique_ptr<Prompts> prompts_;
  QString applicationFolder_;
  UiState state_ = UiState::kNoMovie;

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
