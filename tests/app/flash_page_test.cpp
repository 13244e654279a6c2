#include "app/flash_page.h"

#include <gtest/gtest.h>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

#include "app/colour_picker.h"
#include "app/frame_view.h"
#include "app/message_box.h"
#include "app/timeline_page.h"

namespace quillon {
namespace {

struct ScriptedPrompts : Prompts {
  QString answer;
  QString title, folder, filter;
  QString OpenFileName(QWidget*, const QString& t, const QString& f, const QString& filt) override {
    title = t;
    folder = f;
    filter = filt;
    return answer;
  }
};

struct Bound {
  EncoderSettings settings;
  TimelinePage timeline;
  FlashPage page;
  void Bind() { page.Bind(&settings, &timeline, MovieFacts{}); }
};

TEST(FlashPageTest, ActionsWithoutAnAddressFallBack) {
  Bound b;
  b.Bind();
  b.page.EndBox()->setCurrentIndex(static_cast<int>(PlayerEndType::kGetUrl));
  b.page.EndLinkBox()->setText(FlashPage::kLinkPlaceholder);
  b.page.ClickBox()->setCurrentIndex(static_cast<int>(PlayerLinkType::kGetUrl));
  b.page.Store();
  EXPECT_EQ(GetPlayerEndType(b.settings.transport), PlayerEndType::kLoop);
  EXPECT_EQ(GetPlayerLinkType(b.settings.transport), PlayerLinkType::kNone);
  EXPECT_EQ(b.settings.transport.playerEndLink, "");

  b.page.EndBox()->setCurrentIndex(static_cast<int>(PlayerEndType::kLoadMovie));
  b.page.EndLinkBox()->setText("");
  b.page.Store();
  EXPECT_EQ(GetPlayerEndType(b.settings.transport), PlayerEndType::kLoop);

  b.page.EndLinkBox()->setText("next.swf");
  b.page.LinkBox()->setText("http://example.org/");
  b.page.TargetBox()->setEditText("_blank");
  b.page.Store();
  EXPECT_EQ(GetPlayerEndType(b.settings.transport), PlayerEndType::kLoadMovie);
  EXPECT_EQ(b.settings.transport.playerEndLink, "next.swf");
  EXPECT_EQ(GetPlayerLinkType(b.settings.transport), PlayerLinkType::kGetUrl);
  EXPECT_EQ(b.settings.transport.playerLink, "http://example.org/");
  EXPECT_EQ(b.settings.transport.playerLinkTarget, "_blank");
}

TEST(FlashPageTest, LinkBoxesFollowTheirActions) {
  Bound b;
  b.Bind();
  EXPECT_FALSE(b.page.LinkBox()->isEnabled());
  EXPECT_EQ(b.page.LinkBox()->placeholderText(), "http://");
  b.page.ClickBox()->setCurrentIndex(1);
  EXPECT_TRUE(b.page.LinkBox()->isEnabled());
  EXPECT_FALSE(b.page.TargetBox()->isEnabled());
  b.page.ClickBox()->setCurrentIndex(2);
  EXPECT_TRUE(b.page.TargetBox()->isEnabled());
  for (int end = 0; end < 8; ++end) {
    b.page.EndBox()->setCurrentIndex(end);
    EXPECT_EQ(b.page.EndLinkBox()->isEnabled(), end == 6 || end == 7) << end;
    EXPECT_EQ(b.page.EndTargetBox()->isEnabled(), end == 7) << end;
  }
  EXPECT_EQ(b.page.LoaderBox()->maxLength(), 260);
  EXPECT_EQ(b.page.LinkBox()->maxLength(), 2048);
  EXPECT_EQ(b.page.EndTargetBox()->lineEdit()->maxLength(), 128);
}

TEST(FlashPageTest, BackgroundColourKeepsItsByteOrderAndTheDefaultIsBlack) {
  Bound b;
  b.settings.transport.backColor = 0x123456;
  b.Bind();
  EXPECT_EQ(b.page.Background()->GetColour(), 0x123456u);
  b.page.Store();
  EXPECT_EQ(b.settings.transport.backColor, 0x123456u);
  b.page.Background()->OpenPopup();
  ColourPopup* popup = b.page.Background()->Popup();
  ASSERT_NE(popup, nullptr);
  QTest::mouseRelease(popup, Qt::LeftButton, {}, popup->ItemRect(16).center());  // "Red"
  EXPECT_EQ(b.timeline.GetFrameView()->Background(), QColor(0xFF, 0x00, 0x00));  // shown at once
  EXPECT_EQ(b.settings.transport.backColor, 0x123456u);  // stored only by Store
  b.page.Background()->OpenPopup();
  popup = b.page.Background()->Popup();
  QTest::mouseRelease(popup, Qt::LeftButton, {},
                      popup->ItemRect(ColourPopup::kDefaultItem).center());
  EXPECT_EQ(b.page.Background()->GetColour(), kAutomaticColour);
  EXPECT_EQ(b.timeline.GetFrameView()->Background(), QColor(Qt::black));
  b.page.Store();
  EXPECT_EQ(b.settings.transport.backColor, 0x000000u);
}

TEST(FlashPageTest, PlayerRateQualityAndPartSize) {
  Bound b;
  b.settings.transport.partSizeLimit = 1000000;
  b.settings.transport.playerFps = 12.5f;
  b.settings.transport.playerQuality = PlayerQuality::kNone;
  b.Bind();
  EXPECT_EQ(b.page.PartSizeBox()->currentText(), "977");
  EXPECT_EQ(b.page.PlayerRateBox()->currentText(), "12.5");
  EXPECT_EQ(b.page.QualityBox()->currentText(), "- Don't Set -");
  b.page.Store();
  EXPECT_EQ(b.settings.transport.partSizeLimit, 977u * 1024);
  EXPECT_EQ(b.settings.transport.playerFps, 12.5f);
  EXPECT_EQ(b.settings.transport.playerQuality, PlayerQuality::kNone);

  b.page.PartSizeBox()->setEditText("Don't Split");
  b.page.PlayerRateBox()->setEditText("=FrameRate");
  b.page.QualityBox()->setCurrentIndex(0);
  b.page.Store();
  EXPECT_EQ(b.settings.transport.partSizeLimit, 0u);
  EXPECT_EQ(b.settings.transport.playerFps, 0.0f);
  EXPECT_EQ(b.settings.transport.playerQuality, PlayerQuality::kBest);
  b.Bind();
  EXPECT_EQ(b.page.PartSizeBox()->currentText(), "Don't Split");
  EXPECT_EQ(b.page.PlayerRateBox()->currentText(), "=FrameRate");
  b.page.PartSizeBox()->setEditText("99999999");
  b.page.Store();
  EXPECT_EQ(b.settings.transport.partSizeLimit, 0xFFFFFFFFu);
}

TEST(FlashPageTest, HiddenCursorSwitchAndVariablesAreKept) {
  Bound b;
  b.settings.transport.playerFlags &= ~TransportOptions::kPlayerDisplayCursor;
  b.settings.transport.playerVar = "a,1\n";
  b.Bind();
  b.page.Store();
  EXPECT_EQ(b.settings.transport.playerFlags & TransportOptions::kPlayerDisplayCursor, 0u);
  EXPECT_EQ(b.settings.transport.playerVar, std::string("a,1\n"));
}

TEST(FlashPageTest, PreloaderDialogRemembersTheLastFile) {
  Bound b;
  ScriptedPrompts prompts;
  b.page.SetPrompts(&prompts);
  b.Bind();
  QSettings preferences("Zelmorra Software", "Quillon Video Encoder");
  preferences.remove("LastLoaderFilename");
  b.page.ChooseLoader();  // cancelled
  EXPECT_EQ(prompts.title, "Open Preloader/Overlay");
  EXPECT_TRUE(prompts.folder.endsWith("/Preloaders and Overlays"));
  EXPECT_TRUE(prompts.filter.contains("*.swf"));
  EXPECT_EQ(b.page.LoaderBox()->text(), "");
  EXPECT_FALSE(preferences.contains("LastLoaderFilename"));

  prompts.answer = "/tmp/loaders/intro.swf";
  b.page.ChooseLoader();
  EXPECT_EQ(b.page.LoaderBox()->text(), "/tmp/loaders/intro.swf");
  EXPECT_EQ(b.page.LoaderBox()->cursorPosition(), b.page.LoaderBox()->text().size());
  preferences.sync();
  EXPECT_EQ(preferences.value("LastLoaderFilename").toString(), "/tmp/loaders/intro.swf");
  b.page.ChooseLoader();
  EXPECT_EQ(prompts.folder, "/tmp/loaders");
  b.page.Store();
  EXPECT_EQ(b.settings.transport.playerLoader, "/tmp/loaders/intro.swf");
}

}  // namespace
}  // namespace quillon
