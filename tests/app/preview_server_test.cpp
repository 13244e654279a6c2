#include "app/preview_server.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace quillon {
namespace {

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  file.write(bytes);
}

// A player folder, a movie folder and, beside them, files that must never be served; links
// inside the served folders point out to them.
class PreviewServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    const QDir root(root_.path());
    ASSERT_TRUE(root.mkpath("player/sub") && root.mkpath("movie") && root.mkpath("outside"));
    WriteFile(At("player/ruffle.js"), "// player");
    WriteFile(At("player/core.wasm"), QByteArray("\0asm\1\0\0\0", 8));
    WriteFile(At("player/sub/more.js"), "// more");
    WriteFile(At("movie/encoded.swf"), "FWS part one");
    WriteFile(At("movie/encoded2.swf"), "FWS part two");
    WriteFile(At("movie/notes.txt"), "not a movie");
    WriteFile(At("outside/secret.swf"), "FWS secret");
    WriteFile(At("outside/secret.js"), "// secret");
    ASSERT_TRUE(QFile::link(At("outside/secret.swf"), At("movie/link.swf")));
    ASSERT_TRUE(QFile::link(At("outside"), At("player/linked")));
    server_.SetPlayerFolder(At("player"));
    server_.SetMovieFolder(At("movie"));
    server_.AddDocument("/player.html", "<!DOCTYPE html>");
  }

  QString At(const QString& relative) const { return root_.path() + '/' + relative; }
  int Status(const char* target) const { return server_.Resolve(target).status; }

  QTemporaryDir root_;
  PreviewServer server_;
};

TEST_F(PreviewServerTest, ServesThePlayerTheMoviePartsAndThePage) {
  const PreviewServer::Reply script = server_.Resolve("/ruffle/ruffle.js");
  EXPECT_EQ(script.status, 200);
  EXPECT_EQ(script.file, QDir(At("player")).canonicalPath() + "/ruffle.js");
  EXPECT_TRUE(script.type.startsWith("text/javascript"));
  EXPECT_EQ(server_.Resolve("/ruffle/core.wasm").type, "application/wasm");
  EXPECT_EQ(Status("/ruffle/sub/more.js"), 200);
  // A part asks for the next one by its plain name; the query and fragment are not the name.
  const PreviewServer::Reply part = server_.Resolve("/movie/encoded2.swf?x=1#top");
  EXPECT_EQ(part.status, 200);
  EXPECT_EQ(part.type, "application/x-shockwave-flash");
  EXPECT_EQ(Status("/movie/encoded%32.swf"), 200);
  const PreviewServer::Reply page = server_.Resolve("/player.html?movie=/movie/encoded.swf");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, "<!DOCTYPE html>");
  EXPECT_TRUE(page.type.startsWith("text/html"));
}

TEST_F(PreviewServerTest, RefusesEveryWayOutOfItsFolders) {
  for (const char* target : {
           "/movie/../outside/secret.swf",
           "/movie/%2e%2e/outside/secret.swf",
           "/movie/%2E%2E%2Foutside%2Fsecret.swf",
           "/movie/.%2e/outside/secret.swf",
           "/ruffle/sub/../../outside/secret.js",
           "/ruffle/sub/%2e%2e/%2e%2e/outside/secret.js",
           "/movie/link.swf",           // a link out of the movie folder
           "/ruffle/linked/secret.js",  // a folder link out of the player folder
           "/ruffle/linked/../ruffle.js",
       }) {
    EXPECT_EQ(Status(target), 403) << target;
  }
  for (const char* target :
       {"/movie/..%5coutside%5csecret.swf", "/movie/secret%00.swf", "movie/encoded.swf", ""}) {
    EXPECT_EQ(Status(target), 400) << target;
  }
  // Encoded twice it is a strange name, not a way up.
  EXPECT_EQ(Status("/movie/%252e%252e/outside/secret.swf"), 404);
  EXPECT_EQ(Status("/outside/secret.swf"), 404);
  EXPECT_EQ(Status("/etc/passwd"), 404);
  EXPECT_EQ(Status("/"), 404);
  EXPECT_EQ(Status("/movie/"), 404);
  // The movie folder gives movies only.
  EXPECT_EQ(Status("/movie/notes.txt"), 404);
}

TEST_F(PreviewServerTest, ServesNoMovieWithoutAMovieFolder) {
  server_.SetMovieFolder(QString());
  EXPECT_EQ(Status("/movie/encoded.swf"), 404);
  EXPECT_EQ(Status("/ruffle/ruffle.js"), 200);
}

// One raw request over a socket to the running server; the whole answer.
QByteArray Fetch(const PreviewServer& server, const QByteArray& request) {
  QTcpSocket socket;
  QByteArray answer;
  QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
  socket.connectToHost(QHostAddress::LocalHost, server.Port());
  if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000)) {
    return "no connection";
  }
  socket.write(request);
  (void)QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 10000);
  return answer;
}

QByteArray Request(const QByteArray& method, const QByteArray& target, quint16 port) {
  return method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
         "\r\n\r\n";
}

TEST_F(PreviewServerTest, AnswersOverHttpOnTheLoopbackOnly) {
  ASSERT_TRUE(server_.Start()) << server_.lastError().toStdString();
  const quint16 port = server_.Port();
  ASSERT_NE(port, 0);
  EXPECT_TRUE(server_.Url("/player.html").startsWith("http://127.0.0.1:"));

  const QByteArray wasm = Fetch(server_, Request("GET", "/ruffle/core.wasm", port));
  EXPECT_TRUE(wasm.startsWith("HTTP/1.1 200 OK\r\n")) << wasm.left(80).toStdString();
  EXPECT_TRUE(wasm.contains("\r\nContent-Type: application/wasm\r\n"));
  EXPECT_TRUE(wasm.contains("\r\nContent-Length: 8\r\n"));
  EXPECT_TRUE(wasm.endsWith(QByteArray("\0asm\1\0\0\0", 8)));

  EXPECT_TRUE(Fetch(server_, Request("GET", "/movie/%2e%2e/outside/secret.swf", port))
                  .startsWith("HTTP/1.1 403"));
  const QByteArray head = Fetch(server_, Request("HEAD", "/movie/encoded.swf", port));
  EXPECT_TRUE(head.startsWith("HTTP/1.1 200"));
  EXPECT_TRUE(head.endsWith("\r\n\r\n")) << "HEAD sends no body";
  EXPECT_TRUE(
      Fetch(server_, Request("POST", "/movie/encoded.swf", port)).startsWith("HTTP/1.1 405"));
  // A page of another site whose name leads here gets nothing.
  EXPECT_TRUE(Fetch(server_, "GET /movie/encoded.swf HTTP/1.1\r\nHost: evil.example:" +
                                 QByteArray::number(port) + "\r\n\r\n")
                  .startsWith("HTTP/1.1 403"));
  EXPECT_TRUE(Fetch(server_, "NONSENSE\r\n\r\n").startsWith("HTTP/1.1 400"));
  EXPECT_TRUE(Fetch(server_, "GET /" + QByteArray(20000, 'a')).startsWith("HTTP/1.1 431"));
}

}  // namespace
}  // namespace quillon
