#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cstdlib>

#include "app/flash_preview.h"
#include "app/preferences_dialog.h"
#include "app/timeline_page.h"
#include "encoder/encoder_controller.h"
#include "window_test_support.h"

namespace quillon {
namespace {

using testing::ScriptedPrompts;

constexpr int kEncodeWaitMs = 120000;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings("Zelmorra Software", "Quillon Video Encoder").clear();
    ASSERT_TRUE(temp_.isValid());
  }

  // A started window whose questions and dialogs are answered by prompts_.
  std::unique_ptr<MainWindow> MakeWindow() {
    auto window = std::make_unique<MainWindow>(testing::ProgramFolder());
    auto prompts = std::make_unique<ScriptedPrompts>();
    prompts->shown = &shown_;
    prompts->opened = &opened_;
    // The player has tests of its own: here it is left without its files and says so.
    prompts->ignoredTitles = QStringList{"Could not create Flash player"};
    prompts_ = prompts.get();
    window->SetPrompts(std::move(prompts));
    window->Preview()->SetPlayerFolder(temp_.path() + "/no-player");
    window->SetHelpRedirectFolder(temp_.path() + "/help/");
    window->Start();
    return window;
  }

  static bool WaitForEncoding(MainWindow& window) {
    return QTest::qWaitFor([&] { return window.State() != UiState::kEncoding; }, kEncodeWaitMs);
  }

  // A started window with the short clip open, encoded over the default selection.
  std::unique_ptr<MainWindow> EncodedWindow(const std::string& clip) {
    auto window = MakeWindow();
    EXPECT_TRUE(window->OpenMovie(QString::fromStdString(clip)));
    window->EncodeOrCancel();
    EXPECT_TRUE(WaitForEncoding(*window));
    EXPECT_EQ(window->State(), UiState::kMovieGenerated) << Titles().join(", ").toStdString();
    return window;
  }

  QStringList Titles() const {
    QStringList titles;
    for (const auto& s : shown_) titles.append(s.title);
    return titles;
  }

  QTemporaryDir temp_;
  std::vector<ScriptedPrompts::Shown> shown_;
  QStringList opened_;
  ScriptedPrompts* prompts_ = nullptr;
};

struct Enabled {
  bool openMovie, saveFlash, presets, pages, encode;
  const char* encodeText;
};

void ExpectEnabling(MainWindow& window, const Enabled& want) {
  auto button = [&](const char* name) { return window.findChild<QPushButton*>(name); };
  EXPECT_EQ(button("openMovieButton")->isEnabled(), want.openMovie);
  EXPECT_EQ(button("saveFlashButton")->isEnabled(), want.saveFlash);
  EXPECT_EQ(button("presetsButton")->isEnabled(), want.presets);
  EXPECT_EQ(button("encodeButton")->isEnabled(), want.encode);
  EXPECT_EQ(button("encodeButton")->text(), want.encodeText);
  auto* lower = window.findChild<QTabWidget*>("lowerTabs");
  for (int i = 0; i < lower->count(); ++i) EXPECT_EQ(lower->widget(i)->isEnabled(), want.pages);
  QMenu* file = window.menuBar()->actions()[0]->menu();
  QMenu* settings = window.menuBar()->actions()[1]->menu();
  const QList<QAction*> items = file->actions();
  EXPECT_EQ(items[0]->isEnabled(), want.openMovie);  // Open Movie...
  EXPECT_EQ(items[1]->isEnabled(), want.saveFlash);  // Save Flash
  EXPECT_EQ(items[2]->isEnabled(), want.saveFlash);  // Save Flash As...
  EXPECT_EQ(items[3]->isEnabled(), want.encode);     // Encode / Cancel
  EXPECT_EQ(items[3]->text(), QString(want.encodeText) == "Cancel" ? "Cancel" : "&Encode");
  EXPECT_EQ(items[4]->isEnabled(), want.openMovie);  // Preferences... greyed while encoding
  EXPECT_EQ(settings->isEnabled(), want.presets);
}

TEST_F(MainWindowTest, EnablingFollowsTheStateTableThroughOpenEncodeAndCancel) {
  const std::string clip = testing::LongClip();
  ASSERT_FALSE(clip.empty());
  auto window = MakeWindow();
  EXPECT_TRUE(shown_.empty()) << "start-up reported " << shown_[0].title.toStdString();
  EXPECT_EQ(window->State(), UiState::kNoMovie);
  ExpectEnabling(*window, {true, false, false, false, false, "Encode"});

  ASSERT_TRUE(window->OpenMovie(QString::fromStdString(clip)));
  EXPECT_EQ(window->State(), UiState::kMovieOpen);
  EXPECT_EQ(window->windowTitle(), "Quillon Video Encoder: long.mp4");
  EXPECT_EQ(window->Timeline()->SelectionStart(), 0u);
  EXPECT_EQ(window->Timeline()->SelectionEnd(), 1999u);
  ExpectEnabling(*window, {true, false, true, true, true, "Encode"});

  // The whole minute, so that the run is still going when it is cancelled.
  window->Timeline()->SelectAll();
  window->EncodeOrCancel();
  ASSERT_EQ(window->State(), UiState::kEncoding);
  ExpectEnabling(*window, {false, false, false, false, true, "Cancel"});
  window->EncodeOrCancel();  // the button now cancels
  ASSERT_TRUE(WaitForEncoding(*window));
  EXPECT_EQ(window->State(), UiState::kMovieOpen);
  EXPECT_TRUE(shown_.empty());
  ExpectEnabling(*window, {true, false, true, true, true, "Encode"});
  EXPECT_EQ(window->windowTitle(), "Quillon Video Encoder: " + QString::fromStdString(clip));
}

TEST_F(MainWindowTest, EncodedSelectionSavesTheSameBytesAsBatchMode) {
  const std::string clip = testing::ShortClip();
  ASSERT_FALSE(clip.empty());
  auto window = EncodedWindow(clip);
  ASSERT_EQ(window->State(), UiState::kMovieGenerated);
  ExpectEnabling(*window, {true, true, true, true, true, "Encode"});
  EXPECT_TRUE(window->Unsaved());
  EXPECT_EQ(window->findChild<QTabWidget*>("upperTabs")->currentWidget(), window->Preview());

  // No extension given: ".swf" is added.
  prompts_->fileNames.push_back(temp_.path() + "/window");
  window->SaveFlash();
  EXPECT_TRUE(shown_.empty()) << Titles().join(", ").toStdString();
  EXPECT_FALSE(window->Unsaved());
  const std::string saved = testing::ReadFileBytes(temp_.path().toStdString() + "/window.swf");
  ASSERT_FALSE(saved.empty());

  const std::string batchOut = temp_.path().toStdString() + "/batch.swf";
  const std::string command = std::string("\"") + QUILLON_PROGRAM + "\" \"" + clip + "\" \"" +
                              batchOut + "\" 0 +2 -l \"" + temp_.path().toStdString() +
                              "/batch.log\"";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(saved == testing::ReadFileBytes(batchOut)) << "window and batch mode differ";

  // Save Flash again goes to the same file without asking.
  window->SaveFlash();
  EXPECT_TRUE(prompts_->fileNames.empty());
  EXPECT_TRUE(shown_.empty());
}

TEST_F(MainWindowTest, OnlyAMovieFromANonDefaultSelectionAsksToBeSaved) {
  const std::string clip = testing::ShortClip();
  ASSERT_FALSE(clip.empty());
  auto window = EncodedWindow(clip);
  ASSERT_EQ(window->State(), UiState::kMovieGenerated);
  // The default selection (the first DefaultDuration ms) is not worth a question.
  ASSERT_TRUE(window->OpenMovie(QString::fromStdString(clip)));
  EXPECT_TRUE(shown_.empty());
  EXPECT_FALSE(window->Unsaved());

  window->Timeline()->SelectAll();
  window->EncodeOrCancel();
  ASSERT_TRUE(WaitForEncoding(*window));
  ASSERT_EQ(window->State(), UiState::kMovieGenerated);
  EXPECT_TRUE(window->close());
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].title, "Save Generated Movie?");
  EXPECT_EQ(shown_[0].style, MessageStyle::kYesNoQuestion);
  EXPECT_FALSE(window->Unsaved());
  // Closing stores where the window was.
  EXPECT_TRUE(QSettings("Zelmorra Software", "Quillon Video Encoder").contains("LastPosX"));
}

TEST_F(MainWindowTest, ClosingWhileEncodingAsksAndThenWindsTheRunDownWithoutWaiting) {
  const std::string clip = testing::LongClip();
  ASSERT_FALSE(clip.empty());
  auto window = MakeWindow();
  window->show();
  ASSERT_TRUE(window->OpenMovie(QString::fromStdString(clip)));
  window->Timeline()->SelectAll();
  window->EncodeOrCancel();
  ASSERT_EQ(window->State(), UiState::kEncoding);

  EXPECT_FALSE(window->close());  // answered No
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].title, "Cancel Encoding and Close");
  EXPECT_EQ(window->State(), UiState::kEncoding);
  EXPECT_TRUE(window->isVisible());

  prompts_->answers.push_back(MessageAnswer::kYes);
  EXPECT_FALSE(window->close());  // not yet: the poll stops the run first
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, kEncodeWaitMs));
  EXPECT_EQ(window->State(), UiState::kMovieOpen);
  EXPECT_EQ(shown_.size(), 2u);
}

TEST_F(MainWindowTest, MissingMovieIsReportedAndTheStateKept) {
  auto window = MakeWindow();
  EXPECT_FALSE(window->OpenMovie(temp_.path() + "/none.mp4"));
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].title, "Error Opening Movie");
  EXPECT_EQ(shown_[0].text, "Unable to Open File - It doesn't look like a Movie");
  EXPECT_EQ(window->State(), UiState::kNoMovie);
  // A cancelled dialog does nothing at all.
  EXPECT_FALSE(window->OpenMovie());
  EXPECT_EQ(shown_.size(), 1u);
}

TEST_F(MainWindowTest, AudioAboveTheBitRateLimitIsRefusedBeforeEncoding) {
  const std::string clip = testing::ShortClip();
  ASSERT_FALSE(clip.empty());
  auto window = MakeWindow();
  ASSERT_TRUE(window->OpenMovie(QString::fromStdString(clip)));
  // Written to a settings file and opened, as a user would, so the pages carry them.
  EncoderSettings& settings = window->Controller().Settings();
  settings.audio.flags = AudioOptions::kProcess;  // ADPCM, stereo
  settings.audio.adpcmBits = 4;
  settings.audio.rate = 22050;
  settings.transport.bitrateLimit = 128000;
  const QString path = temp_.path() + "/loud.settings";
  ASSERT_TRUE(window->Controller().SaveSettings(path.toStdString()));
  ASSERT_TRUE(window->OpenSettings(path));
  window->EncodeOrCancel();
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].title, "Audio Bit Rate is greater than Bit Rate Limit");
  EXPECT_EQ(window->State(), UiState::kMovieOpen);
}

TEST_F(MainWindowTest, SettingsFromAPathAreNeverOverwrittenBySaveSettings) {
  const std::string clip = testing::ShortClip();
  ASSERT_FALSE(clip.empty());
  auto window = MakeWindow();
  ASSERT_TRUE(window->OpenMovie(QString::fromStdString(clip)));
  // Start-up loaded the defaults by path: Save Settings must ask for a name.
  EXPECT_TRUE(window->SettingsFile().isEmpty());
  prompts_->fileNames.push_back(temp_.path() + "/mine");
  window->SaveSettings();
  EXPECT_TRUE(QFile::exists(temp_.path() + "/mine.settings"));
  EXPECT_EQ(window->SettingsFile(), temp_.path() + "/mine.settings");
  EXPECT_EQ(QSettings("Zelmorra Software", "Quillon Video Encoder").value("LastSettingsFilename"),
            temp_.path() + "/mine.settings");
  // Now it has a name, Save Settings writes there without asking.
  window->SaveSettings();
  EXPECT_TRUE(prompts_->fileNames.empty());
  EXPECT_TRUE(shown_.empty());
}

TEST_F(MainWindowTest, RefusedPreferencesWriteNothing) {
  auto window = MakeWindow();
  const QString file = QSettings("Zelmorra Software", "Quillon Video Encoder").fileName();
  QSettings("Zelmorra Software", "Quillon Video Encoder").setValue("DefaultDuration", 3000);
  QSettings("Zelmorra Software", "Quillon Video Encoder").sync();
  QFile before(file);
  ASSERT_TRUE(before.open(QIODevice::ReadOnly));
  const QByteArray stored = before.readAll();

  for (const char* text : {"0", "abc"}) {
    bool sawDialog = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<PreferencesDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      sawDialog = true;
      dialog->findChild<QLineEdit*>("duration")->setText(text);
      dialog->accept();  // refused: the dialog stays open
      EXPECT_TRUE(dialog->isVisible());
      dialog->reject();
    });
    window->EditPreferences();
    EXPECT_TRUE(sawDialog);
  }
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_[0].title, "Default Duration Error");
  EXPECT_EQ(shown_[1].text, "The Default Duration must be a number greater than 0");
  QFile after(file);
  ASSERT_TRUE(after.open(QIODevice::ReadOnly));
  EXPECT_EQ(after.readAll(), stored);

  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<PreferencesDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QLineEdit*>("duration")->setText("0.5");
    dialog->accept();
  });
  window->EditPreferences();
  EXPECT_EQ(window->Prefs().defaultDurationMs, 500u);
  EXPECT_EQ(
      QSettings("Zelmorra Software", "Quillon Video Encoder").value("DefaultDuration").toUInt(),
      500u);
}

TEST_F(MainWindowTest, HelpPagesOpenThroughTheRedirectPageAndFailuresAreReported) {
  auto window = MakeWindow();
  EXPECT_TRUE(window->OpenHelpAnchor("Help/VideoSettings.htm#smooth"));
  ASSERT_EQ(opened_.size(), 1);
  EXPECT_TRUE(opened_[0].endsWith("/help/context.htm"));
  QFile redirect(temp_.path() + "/help/context.htm");
  ASSERT_TRUE(redirect.open(QIODevice::ReadOnly));
  const QString page = QString::fromUtf8(redirect.readAll());
  EXPECT_TRUE(page.startsWith("<script language=\"javascript\">location.href=\"file:///"));
  EXPECT_TRUE(page.endsWith("/Help/VideoSettings.htm#smooth\";</script>")) << page.toStdString();

  // Web addresses go straight to the browser.
  EXPECT_TRUE(window->OpenHelpAnchor("http://example.org/quillon/"));
  EXPECT_EQ(opened_.last(), "http://example.org/quillon/");
  EXPECT_FALSE(window->OpenHelpAnchor(QString()));
  EXPECT_TRUE(shown_.empty());

  EXPECT_FALSE(window->OpenHelpAnchor("Help/Missing.htm#x"));
  prompts_->openSucceeds = false;
  EXPECT_FALSE(window->OpenHelpAnchor("ReadMe.htm"));
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_[1].title, "Error Opening Help");
  EXPECT_EQ(shown_[1].text,
            "Could not open Help file - make sure Quillon Video Encoder is properly installed");
}

TEST_F(MainWindowTest, TooManyFramesAskBeforeSplittingUnlessPartsAreLimited) {
  const std::string clip = testing::SevenHundredSecondClip();
  ASSERT_FALSE(clip.empty());
  auto window = MakeWindow();
  ASSERT_TRUE(window->OpenMovie(QString::fromStdString(clip)));
  window->Timeline()->SelectAll();
  window->EncodeOrCancel();  // answered No
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].title, "Selection Needs Multiple Part Encode");
  EXPECT_EQ(shown_[0].style, MessageStyle::kYesNoWarning);
  EXPECT_TRUE(shown_[0].text.contains("to about 22.8 FPS")) << shown_[0].text.toStdString();
  EXPECT_EQ(window->State(), UiState::kMovieOpen);
  EXPECT_FALSE(window->Controller().IsActive());

  // With a part size limit the parts are wanted: no question, the run starts.
  window->Controller().Settings().transport.partSizeLimit = 1000 * 1024;
  const QString path = temp_.path() + "/parts.settings";
  ASSERT_TRUE(window->Controller().SaveSettings(path.toStdString()));
  ASSERT_TRUE(window->OpenSettings(path));
  window->EncodeOrCancel();
  EXPECT_EQ(window->State(), UiState::kEncoding);
  window->EncodeOrCancel();
  ASSERT_TRUE(WaitForEncoding(*window));
  EXPECT_EQ(shown_.size(), 1u);
}

TEST_F(MainWindowTest, DroppedFileOpensExceptWhileEncoding) {
  const std::string clip = testing::LongClip();
  ASSERT_FALSE(clip.empty());
  auto window = MakeWindow();
  auto drop = [&] {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(clip))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &event);
    return enter.isAccepted();
  };
  EXPECT_TRUE(drop());
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->State() == UiState::kMovieOpen; }, 10000));
  EXPECT_EQ(QSettings("Zelmorra Software", "Quillon Video Encoder").value("LastOpenFilename"),
            QString::fromStdString(clip));

  window->Timeline()->SelectAll();
  window->EncodeOrCancel();
  ASSERT_EQ(window->State(), UiState::kEncoding);
  EXPECT_FALSE(drop());
  window->EncodeOrCancel();
  ASSERT_TRUE(WaitForEncoding(*window));
  EXPECT_TRUE(shown_.empty());
}

TEST_F(MainWindowTest, StartReopensTheLastMovieWhenAsked) {
  const std::string clip = testing::ShortClip();
  ASSERT_FALSE(clip.empty());
  {
    QSettings store("Zelmorra Software", "Quillon Video Encoder");
    store.setValue("AutoOpenLastMovie", 1);
    store.setValue("LastOpenFilename", QString::fromStdString(clip));
    store.setValue("DefaultDuration", 1500);
  }
  auto window = MakeWindow();
  EXPECT_EQ(window->State(), UiState::kMovieOpen);
  EXPECT_EQ(window->Timeline()->SelectionEnd(), 1499u);
  EXPECT_TRUE(shown_.empty());
}

TEST_F(MainWindowTest, MissingDefaultSettingsAreReportedAtStart) {
  MainWindow window(temp_.path() + "/");
  std::vector<ScriptedPrompts::Shown> shown;
  auto prompts = std::make_unique<ScriptedPrompts>();
  prompts->shown = &shown;
  window.SetPrompts(std::move(prompts));
  window.Start();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Error Opening Settings");
  EXPECT_EQ(window.State(), UiState::kNoMovie);
}

TEST(MainWindowPositionTest, StoredPositionIsPulledBackOntoTheScreen) {
  const QSize window(540, 600);
  const QSize screen(1280, 1024);
  EXPECT_EQ(MainWindow::ClampToScreen({100, 50}, window, screen), QPoint(100, 50));
  EXPECT_EQ(MainWindow::ClampToScreen({1000, 700}, window, screen), QPoint(740, 424));
  EXPECT_EQ(MainWindow::ClampToScreen({-300, -20}, window, screen), QPoint(1, 1));
  EXPECT_EQ(MainWindow::ClampToScreen({5000, 5000}, window, screen), QPoint(740, 424));
  // A window larger than the screen starts at its corner.
  EXPECT_EQ(MainWindow::ClampToScreen({10, 10}, QSize(1400, 1100), screen), QPoint(1, 1));
}

}  // namespace
}  // namespace quillon
