#include "app/main_window.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/advanced_page.h"
#include "app/audio_page.h"
#include "app/flash_page.h"
#include "app/flash_preview.h"
#include "app/timeline_page.h"
#include "app/video_page.h"
#include "encoder/encoder_controller.h"

namespace quillon {

namespace {

constexpr const char* kProductName = "Quillon Video Encoder";

}  // namespace

MainWindow::MainWindow(const QString& applicationFolder, QWidget* parent)
    : QMainWindow(parent),
      controller_(std::make_unique<EncoderController>()),
      prompts_(std::make_unique<Prompts>()),
      applicationFolder_(applicationFolder) {
  setWindowTitle(kProductName);
  BuildMenus();
  BuildLayout();
  SetUiState(UiState::kNoMovie);
}

MainWindow::~MainWindow() {
  // The page's picture worker reads the controller's frame store, which goes before the pages.
  timeline_->AttachMovie(nullptr);
}

void MainWindow::SetPrompts(std::unique_ptr<Prompts> prompts) { prompts_ = std::move(prompts); }

void MainWindow::BuildMenus() {
  auto add = [this](QMenu* menu, const QString& text, const QKeySequence& keys,
                    void (MainWindow::*slot)()) {
    QAction* action = menu->addAction(text);
    if (!keys.isEmpty()) action->setShortcut(keys);
    if (slot != nullptr) connect(action, &QAction::triggered, this, slot);
    return action;
  };
  fileMenu_ = menuBar()->addMenu(tr("&File"));
  openMovieAction_ = add(fileMenu_, tr("&Open Movie..."), QKeySequence(tr("Ctrl+O")),
                         &MainWindow::OnOpenMovie);
  saveFlashAction_ =
      add(fileMenu_, tr("&Save Flash"), QKeySequence(tr("Ctrl+S")), &MainWindow::OnSaveFlash);
  saveFlashAsAction_ = add(fileMenu_, tr("Save Flash As..."), {}, &MainWindow::OnSaveFlashAs);
  encodeAction_ = add(fileMenu_, tr("&Encode"), QKeySequence(tr("Ctrl+E")), &MainWindow::OnEncode);
  preferencesAction_ = add(fileMenu_, tr("&Preferences..."), {}, &MainWindow::OnPreferences);
  fileMenu_->addSeparator();
  exitAction_ = add(fileMenu_, tr("E&xit"), {}, nullptr);
  connect(exitAction_, &QAction::triggered, this, &QWidget::close);

  settingsMenu_ = menuBar()->addMenu(tr("&Settings"));
  presetsAction_ = add(settingsMenu_, tr("&Preset Settings..."), QKeySequence(tr("Ctrl+P")),
                       &MainWindow::OnPresets);
  openSettingsAction_ = add(settingsMenu_, tr("Open Settings..."), {}, &MainWindow::OnOpenSettings);
  saveSettingsAction_ = add(settingsMenu_, tr("Save Settings"), {}, &MainWindow::OnSaveSettings);
  saveSettingsAsAction_ =
      add(settingsMenu_, tr("Save Settings As..."), {}, &MainWindow::OnSaveSettingsAs);

  helpMenu_ = menuBar()->addMenu(tr("&Help"));
  struct HelpItem {
    const char* text;
    const char* page;
    const char* keys;
  };
  static constexpr HelpItem kHelpItems[] = {
      {"Contents...", "Help/Manual.htm", "F1"},
      {"Read Me...", "ReadMe.htm", nullptr},
      {"Using Quillon", "Help/Using.htm", nullptr},
      {"Video Settings", "Help/VideoSettings.htm", nullptr},
      {"Flash Settings", "Help/FlashSettings.htm", nullptr},
      {"Audio Settings", "Help/AudioSettings.htm", nullptr},
      {"Advanced Settings", "Help/AdvancedSettings.htm", nullptr},
  };
  for (const HelpItem& item : kHelpItems) {
    QAction* action = helpMenu_->addAction(tr(item.text));
    if (item.keys != nullptr) action->setShortcut(QKeySequence(item.keys));
    const QString page = item.page;
    connect(action, &QAction::triggered, this, [this, page] { OpenHelpPage(page); });
  }
  helpMenu_->addSeparator();
  helpMenu_->addAction(tr("About Quillon Video..."), this, &MainWindow::OnAbout);

  // Only with a movie open and no encoding; SetUiState keeps it so.
  selectAllAction_ = new QAction(this);
  selectAllAction_->setShortcut(QKeySequence(tr("Ctrl+A")));
  connect(selectAllAction_, &QAction::triggered, this, [this] { timeline_->SelectAll(); });
  addAction(selectAllAction_);
  auto* altSpace = new QShortcut(QKeySequence(tr("Alt+Space")), this);
  connect(altSpace, &QShortcut::activated, this, &MainWindow::OnEncode);
}

void MainWindow::BuildLayout() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  upperTabs_ = new QTabWidget(central);
  upperTabs_->setObjectName("upperTabs");
  timeline_ = new TimelinePage(upperTabs_);
  preview_ = new FlashPreview(upperTabs_);
  upperTabs_->addTab(timeline_, tr("Timeline"));
  upperTabs_->addTab(preview_, tr("Encoded Flash"));
  layout->addWidget(upperTabs_, 3);

  encodeButton_ = new QPushButton(tr("Encode"), central);
  encodeButton_->setObjectName("encodeButton");
  connect(encodeButton_, &QPushButton::clicked, this, &MainWindow::OnEncode);
  layout->addWidget(encodeButton_);

  lowerTabs_ = new QTabWidget(central);
  lowerTabs_->setObjectName("lowerTabs");
  pages_ = {new VideoPage(lowerTabs_), new FlashPage(lowerTabs_), new AudioPage(lowerTabs_),
            new AdvancedPage(lowerTabs_)};
  const char* const names[] = {"Video", "Flash", "Audio", "Advanced"};
  for (size_t i = 0; i < pages_.size(); ++i) {
    lowerTabs_->addTab(pages_[i], tr(names[i]));
    connect(pages_[i], &SettingsPage::HelpAnchorRequested, this,
            [this](const QString& anchor) { OpenHelpAnchor(anchor); });
  }
  layout->addWidget(lowerTabs_, 2);

  auto* buttons = new QHBoxLayout;
  openMovieButton_ = new QPushButton(tr("Open Movie"), central);
  openMovieButton_->setObjectName("openMovieButton");
  saveFlashButton_ = new QPushButton(tr("Save Flash"), central);
  saveFlashButton_->setObjectName("saveFlashButton");
  presetsButton_ = new QPushButton(tr("Preset Settings..."), central);
  presetsButton_->setObjectName("presetsButton");
  connect(openMovieButton_, &QPushButton::clicked, this, &MainWindow::OnOpenMovie);
  connect(saveFlashButton_, &QPushButton::clicked, this, &MainWindow::OnSaveFlash);
  connect(presetsButton_, &QPushButton::clicked, this, &MainWindow::OnPresets);
  buttons->addWidget(openMovieButton_);
  buttons->addWidget(saveFlashButton_);
  buttons->addStretch(1);
  buttons->addWidget(presetsButton_);
  layout->addLayout(buttons);

  setCentralWidget(central);
  setAcceptDrops(true);
}

void MainWindow::SetUiState(UiState state) {
  state_ = state;
  const bool encoding = state == UiState::kEncoding;
  const bool haveMovie = state != UiState::kNoMovie;
  const bool settings = state == UiState::kMovieOpen || state == UiState::kMovieGenerated;
  const bool generated = state == UiState::kMovieGenerated;

  openMovieButton_->setEnabled(!encoding);
  openMovieAction_->setEnabled(!encoding);
  saveFlashButton_->setEnabled(generated);
  saveFlashAction_->setEnabled(generated);
  saveFlashAsAction_->setEnabled(generated);
  presetsButton_->setEnabled(settings);
  presetsAction_->setEnabled(settings);
  openSettingsAction_->setEnabled(settings);
  saveSettingsAction_->setEnabled(settings);
  saveSettingsAsAction_->setEnabled(settings);
  settingsMenu_->setEnabled(settings);
  for (SettingsPage* page : pages_) page->Enable(settings);
  preferencesAction_->setEnabled(!encoding);
  selectAllAction_->setEnabled(settings);
  timeline_->SetTimelineEnabled(settings);

  encodeButton_->setEnabled(haveMovie);
  encodeButton_->setText(encoding ? tr("Cancel") : tr("Encode"));
  encodeAction_->setEnabled(haveMovie);
  encodeAction_->setText(encoding ? tr("Cancel") : tr("&Encode"));
  encodeAction_->setShortcut(QKeySequence(tr("Ctrl+E")));

  if (state == UiState::kMovieOpen) upperTabs_->setCurrentWidget(timeline_);
  if (state == UiState::kMovieGenerated) upperTabs_->setCurrentWidget(preview_);
}

void MainWindow::OnOpenMovie() {}
void MainWindow::OnEncode() {}
void MainWindow::OnSaveFlash() {}
void MainWindow::OnSaveFlashAs() {}
void MainWindow::OnPreferences() {}
void MainWindow::OnPresets() {}
void MainWindow::OnOpenSettings() {}
void MainWindow::OnSaveSettings() {}
void MainWindow::OnSaveSettingsAs() {}
void MainWindow::OnAbout() {}

void MainWindow::OpenHelpPage(const QString& page) { OpenHelpAnchor(page); }

bool MainWindow::OpenHelpAnchor(const QString&) { return false; }

}  // namespace quillon
