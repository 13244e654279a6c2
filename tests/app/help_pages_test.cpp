// The help pages beside the built program: every page the menus open exists, and every
// anchor the settings pages' help strips link to is defined on its page.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include "window_test_support.h"

namespace quillon {
namespace {

QSet<QString> AnchorsOf(const QString& page) {
  QFile file(testing::ProgramFolder() + page);
  QSet<QString> ids;
  if (!file.open(QIODevice::ReadOnly)) return ids;
  const QString html = QString::fromUtf8(file.readAll());
  static const QRegularExpression id(R"re((?:id|name)="([^"]+)")re");
  for (const auto& match : id.globalMatch(html)) ids.insert(match.captured(1));
  return ids;
}

TEST(HelpPagesTest, EveryMenuPageIsInstalledBesideTheProgram) {
  for (const char* page :
       {"ReadMe.htm", "Help/Manual.htm", "Help/Using.htm", "Help/VideoSettings.htm",
        "Help/FlashSettings.htm", "Help/AudioSettings.htm", "Help/AdvancedSettings.htm"}) {
    EXPECT_TRUE(QFile::exists(testing::ProgramFolder() + page)) << page;
  }
}

TEST(HelpPagesTest, EveryHelpStripAnchorIsDefined) {
  const struct {
    const char* page;
    std::vector<const char*> anchors;
  } kPages[] = {
      {"Help/VideoSettings.htm",
       {"videoquality", "framerate", "smooth", "smoothcycles", "jpegquality", "resize", "bitrate"}},
      {"Help/FlashSettings.htm",
       {"loader", "onclick", "onend", "playervariables", "backgroundcolor", "playerfps",
        "playerquality", "partsplit"}},
      {"Help/AudioSettings.htm",
       {"audioencoding", "samplingrate", "mp3rate", "mp3abr", "adpcmbits", "forcemono", "volume",
        "offset"}},
      {"Help/AdvancedSettings.htm",
       {"transient", "collapse", "span", "darken", "protect", "optimizeplayermemory",
        "description"}},
  };
  for (const auto& page : kPages) {
    const QSet<QString> ids = AnchorsOf(page.page);
    for (const char* anchor : page.anchors) {
      EXPECT_TRUE(ids.contains(anchor)) << page.page << "#" << anchor;
    }
  }
}

}  // namespace
}  // namespace quillon
