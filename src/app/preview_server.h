// The small web server inside the program that hands the player page, the Flash player's files
// and the encoded movie to the embedded web view and to the user's browser (a browser will not
// play a movie from a file:// address). It listens on 127.0.0.1 only and serves nothing outside
// the folders it is given.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <cstdint>

class QTcpServer;
class QTcpSocket;

namespace quillon {

class PreviewServer : public QObject {
  Q_OBJECT
 public:
  // Where the player's own files are served, and where the movie's folder is.
  static constexpr const char* kPlayerPrefix = "/ruffle/";
  static constexpr const char* kMoviePrefix = "/movie/";

  explicit PreviewServer(QObject* parent = nullptr);
  ~PreviewServer() override;

  // Listens on a free port of 127.0.0.1; true when already listening.
  [[nodiscard]] bool Start();
  bool IsListening() const;
  uint16_t Port() const;
  // "http://127.0.0.1:<port>" followed by path (which begins with "/").
  QString Url(const QString& path) const;
  const QString& lastError() const { return lastError_; }

  // The folder whose files appear under kPlayerPrefix (empty: none).
  void SetPlayerFolder(const QString& folder);
  // The folder whose movies (.swf files only) appear under kMoviePrefix (empty: none).
  void SetMovieFolder(const QString& folder);
  // A document held in memory at an exact path (the player page and its script).
  void AddDocument(const QString& path, const QByteArray& body);

  struct Reply {
    int status = 404;
    QString file;     // the file to send, for a status of 200 from a folder
    QByteArray body;  // the document to send, for a status of 200 from memory
    QByteArray type;  // Content-Type
  };
  // What a GET of the raw request target (as sent, still percent-encoded) answers. Every path
  // that leaves its folder, by ".." in any spelling or by a symbolic link, is refused (403).
  Reply Resolve(const QByteArray& target) const;

  static QByteArray ContentType(const QString& fileName);

 signals:
  // Each answered request: the decoded path and the status sent.
  void Served(const QString& path, int status);

 private:
  void Accept();
  void Read(QTcpSocket* socket);
  void Send(QTcpSocket* socket, Reply reply, bool headOnly, const QByteArray& target);
  Reply FromFolder(const QString& folder, const QString& relative, bool moviesOnly) const;

  QTcpServer* server_ = nullptr;
  QString playerFolder_;
  QString movieFolder_;
  QHash<QString, QByteArray> documents_;
  QString lastError_;
};

}  // namespace quillon
