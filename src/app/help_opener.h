// Opens help pages and web addresses with the desktop's browser. A local page is reached
// through a small redirect page, because a browser handed a file name drops its "#anchor".
#pragma once

#include <QString>

namespace quillon {

class Prompts;

class HelpOpener {
 public:
  // applicationFolder holds the pages (with a trailing "/"); redirectFolder is where the
  // redirect page is written: the program's own folder may be read-only once installed.
  HelpOpener(QString applicationFolder, QString redirectFolder);

  // page: "Help/VideoSettings.htm#smooth", or a web address. Empty does nothing and gives
  // false; a failure to write or open gives false and leaves the message to the caller.
  [[nodiscard]] bool Open(const QString& page, Prompts& prompts) const;

  // The address a local page opens at: a file URL of the page under the application folder,
  // with its anchor.
  QString PageUrl(const QString& page) const;
  // The redirect page's text for an address.
  static QString RedirectText(const QString& url);
  QString RedirectPath() const;

 private:
  QString applicationFolder_;
  QString redirectFolder_;
};

// The cache folder's "help/" (created on demand).
QString DefaultRedirectFolder();

}  // namespace quillon
