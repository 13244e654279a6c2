// The Encoded Flash page playing movies the program encoded: the real widget with Qt WebEngine
// and Ruffle on the offscreen platform. Every frame of the clip carries its number in the colour
// of its lower half, so a grab of the view tells which frame the player shows.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/flash_preview.h"
#include "app/message_box.h"
#include "app/preview_server.h"
#include "support/test_clips.h"

namespace quillon {
namespace {

// 10 frames a second; the upper half is a moving test picture (new bitmaps in every frame), the
// lower half a flat colour whose red holds the frame number's units and green its tens.
constexpr int kRate = 10;
constexpr int kFrames = 100;
constexpr unsigned kWhite = 0xFFFFFF;
// A button is answered at once; seconds mean the press waited for something it should not.
constexpr int kAnswerMs = 3000;
const char kClipArgs[] =
    "-f lavfi -i testsrc2=s=160x60:r=10:d=10 "
    "-f lavfi -i color=c=black:s=160x60:r=10:d=10,format=rgb24,"
    "geq=r='25*mod(N\\,10)+5':g='25*floor(N/10)+5':b=128 "
    "-filter_complex [0][1]vstack,format=yuv444p -c:v ffv1";

const std::string kOutput = std::string(QUILLON_TEST_BINARY_DIR) + "/test-output/player/";

// Encodes the clip with the program into folder/movie.swf (and its further parts); the number of
// parts, 0 on failure.
int Encode(const std::string& folder, const std::string& extra) {
  const std::string clip =
      testing::MakeClip(testing::ClipFolder("player"), "numbered.mkv", kClipArgs);
  if (clip.empty()) return 0;
  QDir(QString::fromStdString(folder)).removeRecursively();
  QDir().mkpath(QString::fromStdString(folder));
  const std::string settings = folder + "case.settings";
  FILE* file = std::fopen(settings.c_str(), "w");
  if (file == nullptr) return 0;
  std::fputs("Transport.Player.EndType=stop\n", file);
  std::fclose(file);
  const std::string command = std::string("\"") + QUILLON_PROGRAM + "\" \"" + clip + "\" \"" +
                              folder + "movie.swf\" " + extra + " -s \"" + settings + "\" -l \"" +
                              folder + "log.txt\" -q 95 -j 90";
  if (std::system(command.c_str()) != 0) return 0;
  return static_cast<int>(
      QDir(QString::fromStdString(folder)).entryList({"movie*.swf"}, QDir::Files).size());
}

class ScriptedPrompts : public Prompts {
 public:
  MessageAnswer Message(QWidget*, const QString& title, const QString&, MessageStyle) override {
    titles.append(title);
    return MessageAnswer::kOk;
  }
  bool OpenUrl(const QString& url) override {
    urls.append(url);
    return openWorks;
  }
  QStringList titles, urls;
  bool openWorks = true;
};

class FlashPreviewPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    preview_.SetPrompts(&prompts_);
    preview_.SetPlayerFolder(QFileInfo(QUILLON_PROGRAM).absolutePath() + "/ruffle");
    // A view that is not shown draws nothing and fetches no further part.
    preview_.resize(520, 420);
    preview_.show();
    QObject::connect(preview_.Server(), &PreviewServer::Served, &preview_,
                     [this](const QString& path, int) { served_.append(path); });
  }

  // Loads the movie and waits until Ruffle has read it.
  void Load(const std::string& movie) {
    // White reads as frame 110, which the movie does not have.
    ASSERT_TRUE(preview_.LoadMovie(QString::fromStdString(movie), kWhite));
    ASSERT_NO_FATAL_FAILURE(WaitLoaded());
  }

  void WaitLoaded() {
    ASSERT_NE(preview_.View(), nullptr);
    // The answers may come after this function has returned.
    auto state = std::make_shared<QString>();
    const bool settled = QTest::qWaitFor(
        [&] {
          if (preview_.View() == nullptr) return true;
          preview_.View()->page()->runJavaScript(
              "window.quillon ? (window.quillon.error || window.quillonPanic() || "
              "(window.quillon.loaded ? 'loaded' : '')) : ''",
              [state](const QVariant& v) {
                if (state->isEmpty()) *state = v.toString();
              });
          QTest::qWait(50);
          return !state->isEmpty();
        },
        60000);
    ASSERT_TRUE(settled) << "Ruffle did not read the movie within 60 s";
    ASSERT_EQ(*state, "loaded");
    ASSERT_TRUE(prompts_.titles.isEmpty()) << prompts_.titles.join(", ").toStdString();
  }

  // The one-part movie, encoded afresh for each case into a folder of its own: ctest runs the
  // cases side by side, and a shared folder would be emptied under a case that is reading it.
  static std::string SingleMovie() {
    const std::string folder =
        kOutput + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    return Encode(folder, "") == 1 ? folder + "movie.swf" : std::string();
  }

  void LoadSingleMovie() {
    const std::string movie = SingleMovie();
    ASSERT_FALSE(movie.empty()) << "the movie could not be encoded";
    ASSERT_NO_FATAL_FAILURE(Load(movie));
  }

  QImage Grab() const { return preview_.View()->grab().toImage(); }

  // The frame number the grab shows, from the mean colour of a patch in the movie's lower half.
  static int FrameShown(const QImage& image) {
    const int cx = image.width() / 2, cy = image.height() * 3 / 4;
    double red = 0, green = 0;
    int n = 0;
    for (int y = cy - 4; y <= cy + 4; ++y) {
      for (int x = cx - 4; x <= cx + 4; ++x, ++n) {
        red += qRed(image.pixel(x, y));
        green += qGreen(image.pixel(x, y));
      }
    }
    const int units = static_cast<int>(std::lround((red / n - 5) / 25));
    const int tens = static_cast<int>(std::lround((green / n - 5) / 25));
    return tens * 10 + units;
  }

  // Waits until the view shows frame `frame`; the last frame seen otherwise.
  int WaitForFrame(int frame, int timeoutMs = 10000) {
    int seen = -1;
    (void)QTest::qWaitFor([&] { return (seen = FrameShown(Grab())) == frame; }, timeoutMs);
    return seen;
  }

  // True when two grabs some frame times apart are the same picture.
  bool StaysStill() {
    const QImage before = Grab();
    QTest::qWait(4 * 1000 / kRate);
    return Grab() == before;
  }

  void Press(const char* button) {
    QPushButton* b = preview_.findChild<QPushButton*>(button);
    ASSERT_NE(b, nullptr) << button;
    ASSERT_TRUE(b->isEnabled()) << button;
    b->click();
  }

  void Save(const QImage& image, const std::string& name) {
    QDir().mkpath(QString::fromStdString(kOutput));
    image.save(QString::fromStdString(kOutput + name));
  }

  ScriptedPrompts prompts_;
  FlashPreview preview_;
  QStringList served_;
};

TEST_F(FlashPreviewPlayerTest, PlaysStopsStepsAndRewinds) {
  ASSERT_NO_FATAL_FAILURE(LoadSingleMovie());

  // Playing: the picture moves on by itself.
  int firstFrame = -1;
  ASSERT_TRUE(QTest::qWaitFor([&] { return (firstFrame = FrameShown(Grab())) < kFrames; }, 10000))
      << "the page shows no frame of the movie";
  ASSERT_TRUE(QTest::qWaitFor([&] { return FrameShown(Grab()) > firstFrame; }, 10000))
      << "the movie does not play; it stays on frame " << firstFrame;
  Save(Grab(), "playing.png");

  Press("stopButton");
  // A page that stalls for a moment under load also stays still once: stopped is still twice
  // running.
  ASSERT_TRUE(QTest::qWaitFor([&] { return StaysStill() && StaysStill(); }, 10000))
      << "Stop did not stop";
  const int stoppedAt = FrameShown(Grab());
  EXPECT_TRUE(StaysStill());
  EXPECT_EQ(FrameShown(Grab()), stoppedAt);
  Save(Grab(), "stopped.png");

  Press("rewindButton");
  EXPECT_EQ(WaitForFrame(0, kAnswerMs), 0) << "Rewind";
  EXPECT_TRUE(StaysStill()) << "the movie plays on after Rewind";
  Save(Grab(), "rewound.png");
  Save(preview_.grab().toImage(), "page-rewound.png");

  Press("forwardButton");
  EXPECT_EQ(WaitForFrame(1, kAnswerMs), 1) << "> from the first frame";
  EXPECT_TRUE(StaysStill());
  Press("forwardButton");
  EXPECT_EQ(WaitForFrame(2, kAnswerMs), 2) << "> again";
  Save(Grab(), "forward2.png");
  Press("backButton");
  EXPECT_EQ(WaitForFrame(1, kAnswerMs), 1) << "<";
  EXPECT_TRUE(StaysStill());

  Press("playButton");
  EXPECT_TRUE(QTest::qWaitFor([&] { return FrameShown(Grab()) > 2; }, 10000))
      << "Play after stepping";

  // Stop is also what the window asks for before it encodes again.
  preview_.Stop();
  EXPECT_TRUE(QTest::qWaitFor([&] { return StaysStill(); }, 5000));
  EXPECT_TRUE(preview_.ConsoleErrors().isEmpty())
      << preview_.ConsoleErrors().join('\n').toStdString();
  EXPECT_TRUE(prompts_.titles.isEmpty());
}

// What the window does after a run when the movie is not to play at once.
TEST_F(FlashPreviewPlayerTest, StopAndRewindRightAfterLoadingHoldTheFirstFrame) {
  const std::string movie = SingleMovie();
  ASSERT_FALSE(movie.empty());
  // No colour of its own: the movie's.
  ASSERT_TRUE(preview_.LoadMovie(QString::fromStdString(movie), 0x1000000));
  EXPECT_FALSE(preview_.PageUrl().contains("bg="));
  preview_.Stop();
  preview_.Rewind();
  ASSERT_NO_FATAL_FAILURE(WaitLoaded());
  EXPECT_EQ(WaitForFrame(0), 0);
  // On a busy machine the movie may show a frame or two before the calls reach it; a movie that
  // plays on never comes back to its first frame, one that holds stays on it.
  QTest::qWait(1000);
  EXPECT_EQ(WaitForFrame(0), 0) << "the movie plays after all";
  EXPECT_TRUE(StaysStill());
  EXPECT_EQ(FrameShown(Grab()), 0);
  Save(Grab(), "held-first-frame.png");
}

TEST_F(FlashPreviewPlayerTest, PlaysAMovieOfThreePartsIntoItsLastPart) {
  const std::string folder = kOutput + "parts/";
  const int parts = Encode(folder, "0 +3 -ps 20");
  ASSERT_GE(parts, 3);
  const QString last = QStringLiteral("/movie/movie%1.swf").arg(parts);
  ASSERT_NO_FATAL_FAILURE(Load(folder + "movie.swf"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return served_.contains(last); }, 60000))
      << "never asked for " << last.toStdString() << "; asked for "
      << served_.join(' ').toStdString();
  // The selection's last frame, where the last part stops.
  EXPECT_EQ(WaitForFrame(29, 30000), 29);
  EXPECT_TRUE(StaysStill());
  Save(Grab(), "parts-end.png");
  EXPECT_TRUE(preview_.ConsoleErrors().isEmpty())
      << preview_.ConsoleErrors().join('\n').toStdString();
}

TEST_F(FlashPreviewPlayerTest, BrowserOpensTheSamePageThroughTheLocalServer) {
  ASSERT_NO_FATAL_FAILURE(LoadSingleMovie());
  Press("browserButton");
  ASSERT_EQ(prompts_.urls.size(), 1);
  const QUrl url(prompts_.urls.first());
  EXPECT_EQ(url.scheme(), "http");
  EXPECT_EQ(url.host(), "127.0.0.1");
  EXPECT_EQ(url.toString(), preview_.PageUrl());
  EXPECT_EQ(preview_.Server()->Resolve(url.path(QUrl::FullyEncoded).toUtf8()).status, 200);
  EXPECT_EQ(preview_.Server()->Resolve("/movie/movie.swf").status, 200);
  EXPECT_TRUE(prompts_.titles.isEmpty());

  prompts_.openWorks = false;
  Press("browserButton");
  EXPECT_EQ(prompts_.titles, QStringList{"Error Opening Flash on Browser"});
}

TEST_F(FlashPreviewPlayerTest, ReloadStartsAgainAndUnloadEmptiesThePage) {
  ASSERT_NO_FATAL_FAILURE(LoadSingleMovie());
  Press("stopButton");
  Press("forwardButton");
  Press("forwardButton");
  ASSERT_TRUE(QTest::qWaitFor([&] { return StaysStill() && FrameShown(Grab()) >= 2; }, 10000));
  Press("reloadButton");
  ASSERT_NE(preview_.View(), nullptr);
  // The reloaded movie starts from its beginning and plays.
  bool sawStart = false;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        const int frame = FrameShown(Grab());
        sawStart = sawStart || frame <= 1;
        return sawStart && frame > 3;
      },
      30000));

  preview_.Unload();
  EXPECT_EQ(preview_.View(), nullptr);
  EXPECT_FALSE(preview_.findChild<QPushButton*>("playButton")->isEnabled());
  EXPECT_EQ(preview_.Server()->Resolve("/movie/movie.swf").status, 404);
}

TEST_F(FlashPreviewPlayerTest, APlayerWhoseProcessDiesLeavesTheMessageAndAnEmptyPage) {
  ASSERT_NO_FATAL_FAILURE(LoadSingleMovie());
  preview_.View()->setUrl(QUrl("chrome://crash"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !prompts_.titles.isEmpty(); }, 20000));
  EXPECT_EQ(prompts_.titles, QStringList{"Could not create Flash player"});
  EXPECT_EQ(preview_.View(), nullptr);
  EXPECT_FALSE(preview_.findChild<QPushButton*>("playButton")->isEnabled());
}

}  // namespace
}  // namespace quillon
