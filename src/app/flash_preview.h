// The upper "Encoded Flash" page: plays the encoded movie in Ruffle inside a web view, fed by the
// program's own local web server, with Play, Stop, step, rewind, reload and browser buttons and
// the movie's figures.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;
class QWebEngineProfile;
class QWebEngineView;

namespace quillon {

class PreviewServer;
class Prompts;

class FlashPreview : public QWidget {
  Q_OBJECT
 public:
  explicit FlashPreview(QWidget* parent = nullptr);
  ~FlashPreview() override;

  // Replaces the player with one playing path (empty: none) on the background colour 0xRRGGBB
  // (above 0xFFFFFF: the movie's own).
  // False, after the "Could not create Flash player" message, when the player cannot start.
  bool LoadMovie(const QString& path, uint32_t backgroundRgb);
  void Unload();
  void Play();
  void Stop();  // also the window's "stop the preview"
  void Rewind();
  void Forward();
  void Back();
  void SetFigures(const QStringList& lines);  // the four lines under "Encoded Flash Movie"
  // Opens the movie in the user's browser, through the same local server.
  void OpenInBrowser();

  // The window's message boxes and URL opening; without them the page uses its own.
  void SetPrompts(Prompts* prompts);
  // The folder of Ruffle's files; by default "ruffle" beside the program.
  void SetPlayerFolder(const QString& folder);
  static QString DefaultPlayerFolder();

  // For tests and diagnostics: the web view while a movie is loaded, the server, and the
  // player's console errors since the last load.
  QWebEngineView* View() const { return view_; }
  PreviewServer* Server() const { return server_; }
  const QStringList& ConsoleErrors() const { return consoleErrors_; }
  // The address the view and the browser open for the loaded movie (empty without one).
  QString PageUrl() const;

 signals:
  void HelpRequested(const QString& page);  // if the page needs the main window's help opening
  // The player's page finished loading (ok false: it failed, the message has been shown).
  void PlayerLoaded(bool ok);

 private:
  class Page;
  bool CreatePlayer(QString* why);
  void DestroyPlayer();
  void FailPlayer();
  void Call(const char* name);
  void ShowPlaceholder();
  void NoteConsole(int level, const QString& message, int line, const QString& source);
  Prompts& UsePrompts();

  QString path_;  // the movie last loaded
  uint32_t background_ = 0;
  QString playerFolder_;
  QStringList consoleErrors_;
  QStringList queued_;      // calls made before the page was there
  bool pageReady_ = false;  // the page's script is loaded
  Prompts* prompts_ = nullptr;
  PreviewServer* server_ = nullptr;
  QWebEngineProfile* profile_ = nullptr;
  QWebEngineView* view_ = nullptr;
  QFrame* frame_ = nullptr;
  QLabel* placeholder_ = nullptr;
  QLabel* figures_ = nullptr;
  QList<QPushButton*> movieButtons_;
};

}  // namespace quillon
