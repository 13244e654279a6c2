#include "app/help_opener.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include "app/message_box.h"

namespace quillon {

namespace {

bool IsWebAddress(const QString& page) {
  return page.contains("http://", Qt::CaseInsensitive) ||
         page.contains("https://", Qt::CaseInsensitive);
}

}  // namespace

HelpOpener::HelpOpener(QString applicationFolder, QString redirectFolder)
    : applicationFolder_(std::move(applicationFolder)),
      redirectFolder_(std::move(redirectFolder)) {}

QString HelpOpener::PageUrl(const QString& page) const {
  QString path = page;
  path.replace('\\', '/');
  const qsizetype hash = path.indexOf('#');
  QUrl url = QUrl::fromLocalFile(
      QDir::cleanPath(applicationFolder_ + path.left(hash < 0 ? path.size() : hash)));
  if (hash >= 0) url.setFragment(path.mid(hash + 1));
  return url.toString(QUrl::FullyEncoded);
}

QString HelpOpener::RedirectText(const QString& url) {
  return QString("<script language=\"javascript\">location.href=\"%1\";</script>").arg(url);
}

QString HelpOpener::RedirectPath() const {
  return redirectFolder_ + "context.htm";
}

bool HelpOpener::Open(const QString& page, Prompts& prompts) const {
  if (page.isEmpty()) return false;
  if (IsWebAddress(page)) return prompts.OpenUrl(page);
  // A missing page would only show the browser's own error; the caller's message says more.
  if (!QFileInfo::exists(QUrl(PageUrl(page)).toLocalFile())) return false;
  if (!QDir().mkpath(redirectFolder_)) return false;
  QFile file(RedirectPath());
  const QByteArray text = RedirectText(PageUrl(page)).toUtf8();
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()) {
    return false;
  }
  file.close();
  return prompts.OpenUrl(QUrl::fromLocalFile(RedirectPath()).toString());
}

QString DefaultRedirectFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/help/";
}

}  // namespace quillon
