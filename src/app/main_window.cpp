#include "app/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/about_dialog.h"
#include "app/advanced_page.h"
#include "app/audio_page.h"
#include "app/flash_page.h"
#include "app/flash_preview.h"
#include "app/status_text.h"
#include "app/timeline_page.h"
#include "app/video_page.h"
#include "app/window_skin.h"
#include "encoder/batch_command.h"
#include "encoder/encoder_controller.h"

namespace quillon {

namespace {

constexpr const char* kHelpErrorTitle = "Error Opening Help";
constexpr const char* kHelpErrorText =
    "Could not open Help file - make sure Quillon Video Encoder is properly installed";

// The maker's pages behind the three web items of the Help menu.
constexpr const char* kHomePageUrl = "http://example.org/quillon/";
constexpr const char* kUpdateUrl = "http://example.org/quillon/update";
constexpr const char* kMakerUrl = "http://example.org/zelmorra/";

}  // namespace

MainWindow::MainWindow(const QString& applicationFolder, QWidget* parent)
    : QMainWindow(parent),
      controller_(std::make_unique<EncoderController>()),
      prompts_(std::make_unique<Prompts>()),
      applicationFolder_(applicationFolder),
      help_(applicationFolder, DefaultRedirectFolder()),
      prefs_(Preferences::Load()) {
  setWindowTitle(kProductName);
  setWindowIcon(QIcon(applicationFolder_ + "quillon.png"));
  BuildMenus();
  BuildLayout();
  pollTimer_ = new QTimer(this);
  pollTimer_->setInterval(static_cast<int>(kPollIntervalMs));
  connect(pollTimer_, &QTimer::timeout, this, &MainWindow::Poll);
  if (prefs_.useSkin) skin_ = WindowSkin::Apply(this, applicationFolder_ + "skin.bmp");
  SetUiState(UiState::kNoMovie);
}

MainWindow::~MainWindow() {
  // The page's picture worker reads the controller's frame store, which goes before the pages.
  timeline_->AttachMovie(nullptr);
}

void MainWindow::SetPrompts(std::unique_ptr<Prompts> prompts) {
  prompts_ = std::move(prompts);
  preview_->SetPrompts(prompts_.get());
}

void MainWindow::SetHelpRedirectFolder(const QString& folder) {
  help_ = HelpOpener(applicationFolder_, folder);
}

void MainWindow::BuildMenus() {
  auto add = [this](QMenu* menu, const QString& text, const QKeySequence& keys, auto slot) {
    QAction* action = menu->addAction(text);
    if (!keys.isEmpty()) action->setShortcut(keys);
    connect(action, &QAction::triggered, this, slot);
    return action;
  };
  fileMenu_ = menuBar()->addMenu(tr("&File"));
  openMovieAction_ =
      add(fileMenu_, tr("&Open Movie..."), QKeySequence(tr("Ctrl+O")), [this] { OpenMovie(); });
  saveFlashAction_ =
      add(fileMenu_, tr("&Save Flash"), QKeySequence(tr("Ctrl+S")), &MainWindow::SaveFlash);
  saveFlashAsAction_ = add(fileMenu_, tr("Save Flash As..."), {}, &MainWindow::SaveFlashAs);
  encodeAction_ =
      add(fileMenu_, tr("&Encode"), QKeySequence(tr("Ctrl+E")), &MainWindow::EncodeOrCancel);
  preferencesAction_ = add(fileMenu_, tr("&Preferences..."), {}, &MainWindow::EditPreferences);
  fileMenu_->addSeparator();
  exitAction_ = add(fileMenu_, tr("E&xit"), {}, &QWidget::close);

  settingsMenu_ = menuBar()->addMenu(tr("&Settings"));
  presetsAction_ = add(settingsMenu_, tr("&Preset Settings..."), QKeySequence(tr("Ctrl+P")),
                       &MainWindow::ChoosePreset);
  openSettingsAction_ = add(settingsMenu_, tr("Open Settings..."), {}, [this] { OpenSettings(); });
  saveSettingsAction_ = add(settingsMenu_, tr("Save Settings"), {}, &MainWindow::SaveSettings);
  saveSettingsAsAction_ =
      add(settingsMenu_, tr("Save Settings As..."), {}, &MainWindow::SaveSettingsAs);

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
      {nullptr, nullptr, nullptr},
      {"Quillon Video Home Page", kHomePageUrl, nullptr},
      {"Check for Updates...", kUpdateUrl, nullptr},
      {"Zelmorra Software on the Web", kMakerUrl, nullptr},
  };
  for (const HelpItem& item : kHelpItems) {
    if (item.text == nullptr) {
      helpMenu_->addSeparator();
      continue;
    }
    const QString page = item.page;
    QAction* action = add(helpMenu_, tr(item.text), QKeySequence(item.keys),
                          [this, page] { OpenHelpPage(page); });
    action->setShortcutContext(Qt::WindowShortcut);
  }
  helpMenu_->addSeparator();
  add(helpMenu_, tr("About Quillon Video..."), {}, &MainWindow::ShowAbout);

  // Only with a movie open and no encoding; SetUiState keeps it so.
  selectAllAction_ = new QAction(this);
  selectAllAction_->setShortcut(QKeySequence(tr("Ctrl+A")));
  connect(selectAllAction_, &QAction::triggered, this, [this] { timeline_->SelectAll(); });
  addAction(selectAllAction_);
  auto* altSpace = new QShortcut(QKeySequence(tr("Alt+Space")), this);
  connect(altSpace, &QShortcut::activated, this, &MainWindow::EncodeOrCancel);
}

void MainWindow::BuildLayout() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  upperTabs_ = new QTabWidget(central);
  upperTabs_->setObjectName("upperTabs");
  upperTabs_->setStyleSheet("QTabBar::tab { min-width: 200px; }");
  timeline_ = new TimelinePage(upperTabs_);
  preview_ = new FlashPreview(upperTabs_);
  upperTabs_->addTab(timeline_, tr("Timeline"));
  upperTabs_->addTab(preview_, tr("Encoded Flash"));
  connect(preview_, &FlashPreview::HelpRequested, this, &MainWindow::OpenHelpPage);
  preview_->SetPrompts(prompts_.get());
  preview_->SetPlayerFolder(applicationFolder_ + "ruffle");
  layout->addWidget(upperTabs_, 3);

  encodeButton_ = new QPushButton(tr("Encode"), central);
  encodeButton_->setObjectName("encodeButton");
  connect(encodeButton_, &QPushButton::clicked, this, &MainWindow::EncodeOrCancel);
  layout->addWidget(encodeButton_);

  lowerTabs_ = new QTabWidget(central);
  lowerTabs_->setObjectName("lowerTabs");
  lowerTabs_->setStyleSheet("QTabBar::tab { min-width: 100px; }");
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
  connect(openMovieButton_, &QPushButton::clicked, this, [this] { OpenMovie(); });
  connect(saveFlashButton_, &QPushButton::clicked, this, &MainWindow::SaveFlash);
  connect(presetsButton_, &QPushButton::clicked, this, &MainWindow::ChoosePreset);
  buttons->addWidget(openMovieButton_);
  buttons->addWidget(saveFlashButton_);
  buttons->addStretch(1);
  buttons->addWidget(presetsButton_);
  layout->addLayout(buttons);

  setCentralWidget(central);
  setAcceptDrops(true);
  // About 355 x 355 dialog units: room for the pages without growing as texts change.
  resize(560, 640);
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

  if (state == UiState::kMovieOpen) upperTabs_->setCurrentWidget(timeline_);
  if (state == UiState::kMovieGenerated) upperTabs_->setCurrentWidget(preview_);
}

void MainWindow::RefreshStatus() {
  if (state_ == UiState::kEncoding) {
    timeline_->SetDetailLines(EncodingStatusLines(RunFigures::From(*controller_)));
  } else if (movieOpen_) {
    timeline_->SetDetailLines(MovieStatusLines(
        controller_->SourceWidth(), controller_->SourceHeight(), controller_->SourceFps(),
        QString::fromStdString(controller_->SoundDescription())));
  } else {
    timeline_->SetDetailLines(NoMovieStatusLines());
  }
}

MessageAnswer MainWindow::Message(const QString& title, const QString& text, MessageStyle style) {
  return prompts_->Message(this, title, text, style);
}

void MainWindow::ShowControllerMessage() {
  std::string text;
  const char* title = controller_->GetMessage(&text);
  if (title != nullptr) Message(title, QString::fromStdString(text));
}

QString MainWindow::MoviePath() const {
  return QString::fromStdString(controller_->MoviePath());
}

QPoint MainWindow::ClampToScreen(QPoint topLeft, QSize window, QSize screen) {
  int left = topLeft.x();
  int top = topLeft.y();
  if (left + window.width() >= screen.width()) left = screen.width() - window.width();
  if (top + window.height() >= screen.height()) top = screen.height() - window.height();
  if (left < 0) left = 1;
  if (top < 0) top = 1;
  return {left, top};
}

void MainWindow::Start() {
  controller_->SetPreferences(prefs_.formatFlags, prefs_.encodingPriority,
                              applicationFolder_.toStdString(), nullptr);
  OpenSettings(applicationFolder_ + QString::fromUtf8(kDefaultSettingsFile));
  setWindowTitle(kProductName);
  if (prefs_.lastPosition) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen != nullptr ? screen->geometry().size() : QSize(1024, 768);
    move(ClampToScreen(*prefs_.lastPosition, frameGeometry().size(), screenSize));
  }
  SetUiState(UiState::kNoMovie);
  RefreshStatus();
  openMovieButton_->setFocus();
  if (prefs_.autoOpenLastMovie) {
    const QString last = LoadRememberedName(kLastOpenFilename);
    if (!last.isEmpty()) OpenMovie(last);
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closeConfirmed_) {
    event->accept();
    return;
  }
  event->ignore();
  if (state_ == UiState::kEncoding) {
    if (Message("Cancel Encoding and Close",
                "Are you sure you want to cancel encoding and quit the application?",
                MessageStyle::kYesNoWarning) != MessageAnswer::kYes) {
      return;
    }
    // The run may have ended while the question was open; otherwise the poll winds it down
    // and then closes, so the window never waits on the encoding thread.
    if (state_ == UiState::kEncoding) {
      cancelRequested_ = true;
      closeAfterRun_ = true;
      return;
    }
  }
  FinishClose();
  event->accept();
}

void MainWindow::FinishClose() {
  controller_->StopRun();
  preview_->Stop();
  AskToSaveUnsaved();
  Preferences::SavePosition(pos());
  closeConfirmed_ = true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (state_ != UiState::kEncoding && event->mimeData()->hasUrls() &&
      !event->mimeData()->urls().isEmpty() && event->mimeData()->urls().first().isLocalFile()) {
    event->acceptProposedAction();
  }
}

void MainWindow::dropEvent(QDropEvent* event) {
  if (state_ == UiState::kEncoding || !event->mimeData()->hasUrls()) return;
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  event->acceptProposedAction();
  // Opening asks questions; let the drag source finish first.
  const QString path = urls.first().toLocalFile();
  QTimer::singleShot(0, this, [this, path] {
    if (state_ != UiState::kEncoding) OpenMovie(path);
  });
}

void MainWindow::OpenHelpPage(const QString& page) {
  OpenHelpAnchor(page);
}

bool MainWindow::OpenHelpAnchor(const QString& anchor) {
  if (anchor.isEmpty()) return false;
  const bool opened = help_.Open(anchor, *prompts_);
  if (!opened) Message(kHelpErrorTitle, kHelpErrorText);
  preview_->Stop();
  return opened;
}

void MainWindow::ShowAbout() {
  AboutDialog dialog(this);
  dialog.exec();
}

}  // namespace quillon
