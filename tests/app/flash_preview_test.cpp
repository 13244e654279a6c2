// The Encoded Flash page without a web engine: what happens when the player cannot start.
// The player itself is tested in tests/app/player (label e2e).
#include "app/flash_preview.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/message_box.h"

namespace quillon {
namespace {

class RecordingPrompts : public Prompts {
 public:
  MessageAnswer Message(QWidget*, const QString& title, const QString& text,
                        MessageStyle) override {
    titles.append(title);
    texts.append(text);
    return MessageAnswer::kOk;
  }
  bool OpenUrl(const QString& url) override {
    urls.append(url);
    return false;
  }
  QStringList titles, texts, urls;
};

bool AnyMovieButtonEnabled(const FlashPreview& preview) {
  for (const char* name : {"playButton", "stopButton", "backButton", "forwardButton",
                           "rewindButton", "reloadButton", "browserButton"}) {
    if (preview.findChild<QPushButton*>(name)->isEnabled()) return true;
  }
  return false;
}

TEST(FlashPreviewTest, WithoutRufflesFilesSaysThePlayerCouldNotBeCreated) {
  QTemporaryDir empty;
  FlashPreview preview;
  RecordingPrompts prompts;
  preview.SetPrompts(&prompts);
  preview.SetPlayerFolder(empty.path());
  EXPECT_FALSE(preview.LoadMovie("/tmp/none/encoded.swf", 0x102030));
  ASSERT_EQ(prompts.titles, QStringList{"Could not create Flash player"});
  EXPECT_EQ(prompts.texts.first(),
            "Could not create an instance of the Flash player - make sure you have the Flash "
            "player installed on your computer");
  EXPECT_EQ(preview.View(), nullptr);
  EXPECT_FALSE(AnyMovieButtonEnabled(preview));
  EXPECT_TRUE(preview.PageUrl().isEmpty());
}

TEST(FlashPreviewTest, WithoutTheWebEnginesHelperSaysSoInsteadOfEndingTheProgram) {
  QTemporaryDir player;
  QFile script(player.path() + "/ruffle.js");
  ASSERT_TRUE(script.open(QIODevice::WriteOnly));
  script.close();
  const QByteArray saved = qgetenv("QTWEBENGINEPROCESS_PATH");
  qputenv("QTWEBENGINEPROCESS_PATH", QByteArray("/nonexistent/QtWebEngineProcess"));
  FlashPreview preview;
  RecordingPrompts prompts;
  preview.SetPrompts(&prompts);
  preview.SetPlayerFolder(player.path());
  const bool loaded = preview.LoadMovie("/tmp/none/encoded.swf", 0);
  if (saved.isNull()) {
    qunsetenv("QTWEBENGINEPROCESS_PATH");
  } else {
    qputenv("QTWEBENGINEPROCESS_PATH", saved);
  }
  EXPECT_FALSE(loaded);
  EXPECT_EQ(prompts.titles, QStringList{"Could not create Flash player"});
  EXPECT_EQ(preview.View(), nullptr);
}

TEST(FlashPreviewTest, StartsEmptyWithTheFiguresTitleAndDisabledButtons) {
  FlashPreview preview;
  RecordingPrompts prompts;
  preview.SetPrompts(&prompts);
  EXPECT_FALSE(AnyMovieButtonEnabled(preview));
  QStringList texts;
  for (const QLabel* label : preview.findChildren<QLabel*>()) texts.append(label->text());
  EXPECT_TRUE(texts.contains("Encoded Flash Movie"));
  EXPECT_TRUE(texts.contains("No movie encoded...\n\n\n"));
  preview.SetFigures({"a", "b", "c", "d"});
  texts.clear();
  for (const QLabel* label : preview.findChildren<QLabel*>()) texts.append(label->text());
  EXPECT_TRUE(texts.contains("a\nb\nc\nd"));
  // Nothing loaded: no player, nothing to open, and no message for loading nothing.
  EXPECT_TRUE(preview.LoadMovie(QString(), 0xFFFFFF));
  EXPECT_EQ(preview.View(), nullptr);
  EXPECT_TRUE(prompts.titles.isEmpty());
  preview.OpenInBrowser();
  EXPECT_TRUE(prompts.urls.isEmpty());
  EXPECT_EQ(prompts.titles, QStringList{"Error Opening Flash on Browser"});
}

}  // namespace
}  // namespace quillon
