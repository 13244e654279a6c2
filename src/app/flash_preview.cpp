#include "app/flash_preview.h"

#include <unistd.h>

#include <QColor>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QPalette>
#include <QPushButton>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <utility>

#include "app/message_box.h"
#include "app/preview_server.h"
#include "settings/trace.h"

// The player page is compiled into the program; resources of a static library are registered
// by name (outside any namespace).
static void InitPlayerPage() {
  Q_INIT_RESOURCE(player);
}

namespace quillon {

namespace {

const char kCreateTitle[] = "Could not create Flash player";
const char kCreateText[] =
    "Could not create an instance of the Flash player - make sure you have the Flash player "
    "installed on your computer";
const char kBrowserTitle[] = "Error Opening Flash on Browser";
const char kBrowserText[] =
    "Could not open encoded Flash on your current Web Browser - make sure your default Web "
    "Browser is properly installed";

const char kPagePath[] = "/player.html";

// The web engine reads its switches once, when the first page starts it.
void PrepareWebEngine() {
  static bool prepared = false;
  if (prepared) return;
  prepared = true;
  // A small /dev/shm (containers, some CI machines) makes the page fail without a word.
  QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  if (!flags.contains("--disable-dev-shm-usage")) {
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --disable-dev-shm-usage").trimmed());
  }
  // The web engine refuses to start its sandbox for the superuser.
  if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  }
}

// The web engine ends the whole program when its helper process is missing, so its presence is
// checked before a view is made.
bool WebEngineInstalled(QString* why) {
  QString process = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
  if (process.isEmpty()) {
    process = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + "/QtWebEngineProcess";
  }
  if (!QFileInfo(process).isExecutable()) {
    *why = "web engine helper missing: " + process;
    return false;
  }
  return true;
}

QString ColourText(uint32_t rgb) {
  return QStringLiteral("%1").arg(rgb, 6, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

// The player's page: its console is the only place where Ruffle reports what went wrong.
class FlashPreview::Page : public QWebEnginePage {
 public:
  Page(QWebEngineProfile* profile, FlashPreview* owner, QObject* parent)
      : QWebEnginePage(profile, parent), owner_(owner) {}

 protected:
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                int line, const QString& source) override {
    owner_->NoteConsole(static_cast<int>(level), message, line, source);
  }

 private:
  FlashPreview* owner_;
};

FlashPreview::FlashPreview(QWidget* parent)
    : QWidget(parent), playerFolder_(DefaultPlayerFolder()), server_(new PreviewServer(this)) {
  auto* layout = new QVBoxLayout(this);
  frame_ = new QFrame(this);
  frame_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  frame_->setMinimumSize(320, 200);
  auto* inset = new QVBoxLayout(frame_);
  inset->setContentsMargins(1, 1, 1, 1);
  placeholder_ = new QLabel(frame_);
  placeholder_->setAutoFillBackground(true);
  inset->addWidget(placeholder_);
  layout->addWidget(frame_, 1);

  auto* buttons = new QHBoxLayout;
  auto button = [&](const QString& text, const char* name) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setEnabled(false);
    buttons->addWidget(b);
    movieButtons_.append(b);
    return b;
  };
  connect(button(tr("Play"), "playButton"), &QPushButton::clicked, this, &FlashPreview::Play);
  connect(button(tr("Stop"), "stopButton"), &QPushButton::clicked, this, &FlashPreview::Stop);
  connect(button(tr("<"), "backButton"), &QPushButton::clicked, this, &FlashPreview::Back);
  connect(button(tr(">"), "forwardButton"), &QPushButton::clicked, this, &FlashPreview::Forward);
  connect(button(tr("<<"), "rewindButton"), &QPushButton::clicked, this, &FlashPreview::Rewind);
  connect(button(tr("Reload"), "reloadButton"), &QPushButton::clicked, this, [this] {
    const QString path = path_;
    LoadMovie(path, background_);
  });
  connect(button(tr("Browser"), "browserButton"), &QPushButton::clicked, this,
          &FlashPreview::OpenInBrowser);
  buttons->addStretch(1);
  layout->addLayout(buttons);

  auto* title = new QLabel(tr("Encoded Flash Movie"), this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  layout->addWidget(title);
  figures_ = new QLabel(this);
  layout->addWidget(figures_);
  SetFigures({tr("No movie encoded..."), QString(), QString(), QString()});
  ShowPlaceholder();
}

FlashPreview::~FlashPreview() {
  // The page must go before the profile it was made with.
  DestroyPlayer();
}

QString FlashPreview::DefaultPlayerFolder() {
  return QCoreApplication::applicationDirPath() + "/ruffle";
}

void FlashPreview::SetPrompts(Prompts* prompts) {
  prompts_ = prompts;
}

void FlashPreview::SetPlayerFolder(const QString& folder) {
  playerFolder_ = folder;
}

Prompts& FlashPreview::UsePrompts() {
  static Prompts own;
  return prompts_ != nullptr ? *prompts_ : own;
}

bool FlashPreview::LoadMovie(const QString& path, uint32_t backgroundRgb) {
  DestroyPlayer();
  background_ = backgroundRgb;
  if (path.isEmpty()) {
    path_.clear();
    ShowPlaceholder();
    return true;
  }
  QString why;
  if (!CreatePlayer(&why)) {
    Trace("Flash preview: %s", why.toUtf8().constData());
    DestroyPlayer();
    ShowPlaceholder();
    UsePrompts().Message(this, tr(kCreateTitle), tr(kCreateText), MessageStyle::kWarning);
    return false;
  }
  path_ = path;
  server_->SetMovieFolder(QFileInfo(path).absolutePath());
  consoleErrors_.clear();
  view_->setUrl(QUrl(PageUrl()));
  placeholder_->hide();
  view_->show();
  for (QPushButton* b : movieButtons_) b->setEnabled(true);
  return true;
}

void FlashPreview::Unload() {
  DestroyPlayer();
  path_.clear();
  server_->SetMovieFolder(QString());
  ShowPlaceholder();
}

bool FlashPreview::CreatePlayer(QString* why) {
  if (!QFileInfo(playerFolder_ + "/ruffle.js").isFile()) {
    *why = "Ruffle's files are missing from " + playerFolder_;
    return false;
  }
  if (!WebEngineInstalled(why)) return false;
  if (!server_->Start()) {
    *why = "local server: " + server_->lastError();
    return false;
  }
  server_->SetPlayerFolder(playerFolder_);
  InitPlayerPage();
  for (const char* name : {"player.html", "player.js"}) {
    QFile file(QStringLiteral(":/player/%1").arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly)) {
      *why = "the player page is missing from the program";
      return false;
    }
    server_->AddDocument(QStringLiteral("/%1").arg(QLatin1String(name)), file.readAll());
  }
  PrepareWebEngine();
  if (profile_ == nullptr) {
    // Nothing of the preview is kept on disk: no cache, no cookies, no stored pages.
    profile_ = new QWebEngineProfile(this);
    profile_->setHttpCacheType(QWebEngineProfile::NoCache);
  }
  view_ = new QWebEngineView(frame_);
  // Ruffle's own menu takes the right button.
  view_->setContextMenuPolicy(Qt::NoContextMenu);
  auto* page = new Page(profile_, this, view_);
  // The movie starts with its sound after an encoding run, as the Flash control did.
  page->settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
  view_->setPage(page);
  frame_->layout()->addWidget(view_);
  pageReady_ = false;
  queued_.clear();
  connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
    if (!ok) {
      FailPlayer();
    } else {
      pageReady_ = true;
      const QStringList queued = std::exchange(queued_, {});
      for (const QString& name : queued) Call(name.toLatin1().constData());
    }
    emit PlayerLoaded(ok);
  });
  connect(page, &QWebEnginePage::renderProcessTerminated, this,
          [this](QWebEnginePage::RenderProcessTerminationStatus status, int code) {
            if (status == QWebEnginePage::NormalTerminationStatus) return;
            Trace("Flash preview: the page's process ended (status %d, code %d)",
                  static_cast<int>(status), code);
            FailPlayer();
          });
  return true;
}

void FlashPreview::DestroyPlayer() {
  pageReady_ = false;
  queued_.clear();
  // The page is the view's child and goes with it.
  delete view_;
  view_ = nullptr;
}

// A player that could not start after all: the same message as when it cannot be made, once,
// and the page goes back to empty.
void FlashPreview::FailPlayer() {
  if (view_ == nullptr) return;
  // Called from the page's own signal: the view goes once that has returned.
  view_->hide();
  view_->deleteLater();
  view_ = nullptr;
  path_.clear();
  ShowPlaceholder();
  UsePrompts().Message(this, tr(kCreateTitle), tr(kCreateText), MessageStyle::kWarning);
}

void FlashPreview::ShowPlaceholder() {
  QPalette palette = placeholder_->palette();
  palette.setColor(QPalette::Window,
                   QColor::fromRgb(background_ <= 0xFFFFFFu ? background_ : 0xFFFFFFu));
  placeholder_->setPalette(palette);
  placeholder_->show();
  for (QPushButton* b : movieButtons_) b->setEnabled(false);
}

QString FlashPreview::PageUrl() const {
  if (path_.isEmpty() || !server_->IsListening()) return QString();
  QUrlQuery query;
  query.addQueryItem(
      "movie", QString::fromLatin1(PreviewServer::kMoviePrefix) + QFileInfo(path_).fileName());
  // Without a colour of its own the movie keeps the one it sets itself.
  if (background_ <= 0xFFFFFFu) query.addQueryItem("bg", ColourText(background_));
  QUrl url(server_->Url(kPagePath));
  url.setQuery(query);
  return url.toString(QUrl::FullyEncoded);
}

void FlashPreview::Call(const char* name) {
  if (view_ == nullptr) return;
  // The window stops or rewinds a movie it has only just handed over; the page's script takes
  // calls once it is there, and holds them itself until the movie has arrived.
  if (!pageReady_) {
    queued_.append(QString::fromLatin1(name));
    return;
  }
  view_->page()->runJavaScript(
      QStringLiteral("window.quillonCall && window.quillonCall('%1')").arg(QLatin1String(name)));
}

void FlashPreview::Play() {
  Call("play");
}

void FlashPreview::Stop() {
  Call("stop");
}

void FlashPreview::Rewind() {
  Call("rewind");
}

void FlashPreview::Forward() {
  Call("forward");
}

void FlashPreview::Back() {
  Call("back");
}

void FlashPreview::SetFigures(const QStringList& lines) {
  figures_->setText(lines.join('\n'));
}

void FlashPreview::OpenInBrowser() {
  Stop();
  const QString url = PageUrl();
  if (url.isEmpty() || !UsePrompts().OpenUrl(url)) {
    UsePrompts().Message(this, tr(kBrowserTitle), tr(kBrowserText), MessageStyle::kWarning);
  }
}

void FlashPreview::NoteConsole(int level, const QString& message, int line, const QString& source) {
  Trace("Flash preview console (%d) %s:%d: %s", level, source.toUtf8().constData(), line,
        message.toUtf8().constData());
  // Ruffle writes its own errors as styled log lines that begin with "%cERROR".
  if (level == QWebEnginePage::ErrorMessageLevel || message.startsWith("%cERROR")) {
    consoleErrors_.append(message);
  }
}

}  // namespace quillon
