#include "app/preview_server.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace quillon {

namespace {

// A request head longer than this is refused; the player's requests are a few hundred bytes.
constexpr qint64 kMaxHead = 16384;

QByteArray ReasonText(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 405:
      return "Method Not Allowed";
    case 431:
      return "Request Header Fields Too Large";
    default:
      return "Not Found";
  }
}

PreviewServer::Reply Refused(int status) {
  PreviewServer::Reply reply;
  reply.status = status;
  reply.type = "text/plain; charset=utf-8";
  reply.body = ReasonText(status) + "\n";
  return reply;
}

}  // namespace

PreviewServer::PreviewServer(QObject* parent) : QObject(parent) {}

PreviewServer::~PreviewServer() = default;

bool PreviewServer::Start() {
  if (IsListening()) return true;
  if (server_ == nullptr) {
    server_ = new QTcpServer(this);
    connect(server_, &QTcpServer::newConnection, this, &PreviewServer::Accept);
  }
  if (!server_->listen(QHostAddress::LocalHost, 0)) {
    lastError_ = server_->errorString();
    return false;
  }
  lastError_.clear();
  return true;
}

bool PreviewServer::IsListening() const {
  return server_ != nullptr && server_->isListening();
}

uint16_t PreviewServer::Port() const {
  return IsListening() ? server_->serverPort() : 0;
}

QString PreviewServer::Url(const QString& path) const {
  return QStringLiteral("http://127.0.0.1:%1%2").arg(Port()).arg(path);
}

void PreviewServer::SetPlayerFolder(const QString& folder) {
  playerFolder_ = folder;
}

void PreviewServer::SetMovieFolder(const QString& folder) {
  movieFolder_ = folder;
}

void PreviewServer::AddDocument(const QString& path, const QByteArray& body) {
  documents_.insert(path, body);
}

QByteArray PreviewServer::ContentType(const QString& fileName) {
  const QString suffix = QFileInfo(fileName).suffix().toLower();
  if (suffix == "html" || suffix == "htm") return "text/html; charset=utf-8";
  if (suffix == "js" || suffix == "mjs") return "text/javascript; charset=utf-8";
  // Browsers compile WebAssembly as it streams in only when it arrives with this type.
  if (suffix == "wasm") return "application/wasm";
  if (suffix == "swf") return "application/x-shockwave-flash";
  if (suffix == "json" || suffix == "map") return "application/json";
  if (suffix == "css") return "text/css";
  if (suffix == "png") return "image/png";
  if (suffix == "txt" || suffix.isEmpty()) return "text/plain; charset=utf-8";
  return "application/octet-stream";
}

PreviewServer::Reply PreviewServer::Resolve(const QByteArray& target) const {
  QByteArray raw = target;
  const qsizetype cut = raw.indexOf('?');
  if (cut >= 0) raw.truncate(cut);
  const qsizetype hash = raw.indexOf('#');
  if (hash >= 0) raw.truncate(hash);
  if (!raw.startsWith('/')) return Refused(400);
  const QByteArray bytes = QByteArray::fromPercentEncoding(raw);
  // A NUL would cut the name short below the checks; a backslash is a separator to some readers.
  if (bytes.contains('\0') || bytes.contains('\\')) return Refused(400);
  const QString path = QString::fromUtf8(bytes);

  const auto document = documents_.constFind(path);
  if (document != documents_.constEnd()) {
    Reply reply;
    reply.status = 200;
    reply.body = document.value();
    reply.type = ContentType(path);
    return reply;
  }
  const QString playerPrefix = QString::fromLatin1(kPlayerPrefix);
  const QString moviePrefix = QString::fromLatin1(kMoviePrefix);
  if (path.startsWith(playerPrefix)) {
    return FromFolder(playerFolder_, path.mid(playerPrefix.size()), false);
  }
  if (path.startsWith(moviePrefix)) {
    return FromFolder(movieFolder_, path.mid(moviePrefix.size()), true);
  }
  return Refused(404);
}

PreviewServer::Reply PreviewServer::FromFolder(const QString& folder, const QString& relative,
                                               bool moviesOnly) const {
  if (folder.isEmpty() || relative.isEmpty()) return Refused(404);
  for (const QString& part : relative.split('/')) {
    if (part == "..") return Refused(403);
  }
  const QString root = QFileInfo(folder).canonicalFilePath();
  if (root.isEmpty()) return Refused(404);
  // The file as the file system finally finds it: a link that leads out of the folder is
  // caught here, whatever its name says.
  const QFileInfo file(root + '/' + relative);
  const QString real = file.canonicalFilePath();
  if (real.isEmpty()) return Refused(404);
  if (!real.startsWith(root + '/')) return Refused(403);
  if (!QFileInfo(real).isFile()) return Refused(404);
  if (moviesOnly && QFileInfo(real).suffix().compare("swf", Qt::CaseInsensitive) != 0) {
    return Refused(404);
  }
  Reply reply;
  reply.status = 200;
  reply.file = real;
  reply.type = ContentType(real);
  return reply;
}

void PreviewServer::Accept() {
  while (QTcpSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
  }
}

void PreviewServer::Read(QTcpSocket* socket) {
  if (socket->property("answered").toBool()) {
    socket->readAll();
    return;
  }
  const QByteArray head = socket->peek(kMaxHead);
  const qsizetype end = head.indexOf("\r\n\r\n");
  if (end < 0) {
    if (socket->bytesAvailable() >= kMaxHead) Send(socket, Refused(431), false, QByteArray());
    return;
  }
  socket->read(end + 4);
  const QList<QByteArray> lines = head.left(end).split('\n');
  const QList<QByteArray> request = lines.first().trimmed().split(' ');
  if (request.size() != 3 || !request[2].startsWith("HTTP/")) {
    Send(socket, Refused(400), false, QByteArray());
    return;
  }
  const QByteArray& method = request[0];
  const QByteArray& target = request[1];
  if (method != "GET" && method != "HEAD") {
    Send(socket, Refused(405), false, target);
    return;
  }
  // Only this server's own name is answered, so that a page of another site whose name was
  // pointed at 127.0.0.1 cannot read the movies through the user's browser.
  const QByteArray port = QByteArray::number(Port());
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QByteArray line = lines[i].trimmed();
    if (!line.toLower().startsWith("host:")) continue;
    const QByteArray host = line.mid(5).trimmed().toLower();
    if (host != "127.0.0.1:" + port && host != "localhost:" + port) {
      Send(socket, Refused(403), false, target);
      return;
    }
  }
  Send(socket, Resolve(target), method == "HEAD", target);
}

void PreviewServer::Send(QTcpSocket* socket, Reply reply, bool headOnly, const QByteArray& target) {
  socket->setProperty("answered", true);
  if (reply.status == 200 && !reply.file.isEmpty()) {
    QFile file(reply.file);
    if (file.open(QIODevice::ReadOnly)) {
      reply.body = file.readAll();
    } else {
      reply = Refused(404);
    }
  }
  QByteArray head =
      "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + ReasonText(reply.status) + "\r\n";
  head += "Content-Type: " + reply.type + "\r\n";
  head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
  // Every run writes new parts under the same names.
  head += "Cache-Control: no-store\r\n";
  head += "X-Content-Type-Options: nosniff\r\n";
  head += "Connection: close\r\n\r\n";
  socket->write(head);
  if (!headOnly) socket->write(reply.body);
  socket->disconnectFromHost();
  emit Served(QString::fromUtf8(QByteArray::fromPercentEncoding(target.split('?').first())),
              reply.status);
}

}  // namespace quillon
