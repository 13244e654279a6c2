// The controller on small generated clips: opening, settings, one run in process, stopping.
#include "encoder/encoder_controller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h>

#include "encoder/batch_command.h"
#include "settings/settings_file.h"
#include "support/test_clips.h"
#include "video/frame_store.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

std::string ClipDir() {
  return testing::ClipFolder("encoder");
}

// Makes a clip with the ffmpeg command once per build folder.
std::string Clip(const std::string& name, const std::string& ffmpegArgs) {
  return testing::MakeClip(ClipDir(), name, ffmpegArgs);
}

std::string SoundOnlyClip() {
  return Clip("tone10s.wav", "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=10 -ac 1");
}
std::string MovieClip() {
  return Clip("movie30.mp4",
              "-f lavfi -i testsrc=size=96x64:rate=30:duration=2 -f lavfi -i "
              "sine=frequency=330:sample_rate=22050:duration=2 -pix_fmt yuv420p -c:v libx264 "
              "-preset ultrafast -c:a aac -shortest");
}
std::string LongClip() {
  return Clip("long30.mp4",
              "-f lavfi -i testsrc=size=160x120:rate=30:duration=60 -pix_fmt yuv420p -c:v "
              "libx264 -preset ultrafast");
}

// Polls as the program does, with a bound instead of a fixed wait.
bool RunToEnd(EncoderController& c, int maxPolls = 600) {
  for (int i = 0; i < maxPolls && c.UpdateProgress(); ++i) {
    if (!c.Step()) return false;
    if (!c.IsActive()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return !c.IsActive();
}

TEST(ControllerEstimateTest, SettlesTowardsNewEstimates) {
  // 10 % after 5 s, then 20 % after 12 s.
  uint32_t estimate = EncoderController::SmoothEstimate(0, 5000, 10.0);
  EXPECT_EQ(estimate, 50000u);
  estimate = EncoderController::SmoothEstimate(estimate, 12000, 20.0);
  EXPECT_EQ(estimate, 52500u);
  // No progress yet keeps whatever was known.
  EXPECT_EQ(EncoderController::SmoothEstimate(0, 4000, 0.0), 0u);
  EXPECT_EQ(EncoderController::SmoothEstimate(777, 4000, 0.0), 777u);
  // Long runs do not wrap.
  EXPECT_EQ(EncoderController::SmoothEstimate(0, 4000000000u, 1.0), 0xFFFFFFFFu);
}

TEST(ControllerIdleTest, StopRunAndStepWhenIdleChangeNothing) {
  EncoderController c;
  EXPECT_FALSE(c.StopRun());
  EXPECT_FALSE(c.Step());
  EXPECT_FALSE(c.UpdateProgress());
  EXPECT_EQ(c.State(), RunState::kIdle);
  EXPECT_EQ(c.SoundDescription(), "No Audio available");
  EXPECT_EQ(c.GetMessage(), nullptr);
  // Preparing without a movie fails with a message and stays idle.
  EXPECT_FALSE(c.PrepareRun(0, kDurationToEnd));
  EXPECT_NE(c.GetMessage(), nullptr);
  EXPECT_EQ(c.State(), RunState::kIdle);
}

TEST(ControllerOpenTest, RefusesWhatIsNotAMovie) {
  EncoderController c;
  std::string text;
  EXPECT_FALSE(c.OpenMovie(ClipDir() + "does-not-exist.avi"));
  EXPECT_STREQ(c.GetMessage(&text), "Error Opening Movie");
  EXPECT_EQ(text, "Unable to Open File - It doesn't look like a Movie");

  fs::create_directories(ClipDir());
  const std::string junk = ClipDir() + "junk.avi";
  std::ofstream(junk) << "this is not a movie at all";
  EXPECT_FALSE(c.OpenMovie(junk));
  EXPECT_STREQ(c.GetMessage(&text), "Error Opening Movie");
  EXPECT_EQ(text.rfind("Unable to Open Movie: ", 0), 0u) << text;
  // What FFmpeg could not read, and no advice from another platform.
  EXPECT_NE(text.find("FFmpeg could not read the file as a movie"), std::string::npos) << text;
  EXPECT_EQ(text.find("QuickTime"), std::string::npos);

  // No pictures, and a sound in a format FFmpeg has no decoder for.
  std::string wav = testing::PcmWavBytes(8000, 1, std::string(1600, '\0'), 1600);
  wav[20] = '\x99';  // format tag
  wav[21] = '\x99';
  const std::string odd = ClipDir() + "odd-format.wav";
  std::ofstream(odd, std::ios::binary) << wav;
  EXPECT_FALSE(c.OpenMovie(odd));
  EXPECT_STREQ(c.GetMessage(&text), "Error Opening Movie");
  EXPECT_EQ(text,
            "Unable to Open Movie: the file holds no video stream, nor any sound FFmpeg can "
            "decode.");
  EXPECT_TRUE(c.MoviePath().empty());
}

TEST(ControllerOpenTest, SoundAloneGetsABlankVideo) {
  const std::string wav = SoundOnlyClip();
  ASSERT_FALSE(wav.empty());
  EncoderController c;
  ASSERT_TRUE(c.OpenMovie(wav)) << c.GetMessage();
  EXPECT_EQ(c.SoundDescription(), "Mono 22.1kHz, 16bit");
  EXPECT_EQ(c.SoundChannels(), 1);
  EXPECT_EQ(c.SoundRate(), 22050u);
  ASSERT_NE(c.Video(), nullptr);
  EXPECT_EQ(c.SourceWidth(), 400u);
  EXPECT_EQ(c.SourceHeight(), 300u);
  EXPECT_DOUBLE_EQ(c.SourceFps(), 12.0);
  EXPECT_EQ(c.Video()->OutputFrameCount(), 120u);
}

TEST(ControllerOpenTest, SecondMovieKeepsTheFrameRateProportion) {
  const std::string movie = MovieClip();
  ASSERT_FALSE(movie.empty());
  EncoderController c;
  ASSERT_TRUE(c.OpenMovie(movie));
  EXPECT_EQ(c.SoundDescription(), "Mono 22.1kHz, 16bit");
  c.Settings().frame.fps = 15.0;
  ASSERT_TRUE(c.OpenMovie(movie));
  EXPECT_DOUBLE_EQ(c.Settings().frame.fps, -50.0);
  // A relative rate stays as it is.
  ASSERT_TRUE(c.OpenMovie(movie));
  EXPECT_DOUBLE_EQ(c.Settings().frame.fps, -50.0);
}

TEST(ControllerSettingsTest, LoadReplacesOnlyOnSuccess) {
  EncoderController c;
  c.Settings().match.limit = 33.0f;
  std::string text;
  EXPECT_FALSE(c.LoadSettings(ClipDir() + "none.settings"));
  EXPECT_STREQ(c.GetMessage(&text), "Error Opening Settings");
  EXPECT_EQ(text.rfind("Could not open the Settings file.\n", 0), 0u);
  EXPECT_FLOAT_EQ(c.Settings().match.limit, 33.0f);

  fs::create_directories(ClipDir());
  const std::string file = ClipDir() + "q50.settings";
  std::ofstream(file) << "Match.Limit=50\n";
  ASSERT_TRUE(c.LoadSettings(file));
  EXPECT_EQ(c.GetMessage(), nullptr);
  EXPECT_FLOAT_EQ(c.Settings().match.limit, 50.0f);
  EXPECT_EQ(c.SettingsPath(), file);
  // Keys absent from the file take their defaults, not the values held before.
  EXPECT_EQ(c.Settings().transport.jpegQuality, TransportOptions().jpegQuality);

  const std::string saved = ClipDir() + "saved.settings";
  ASSERT_TRUE(c.SaveSettings(saved));
  EncoderController d;
  ASSERT_TRUE(d.LoadSettings(saved));
  EXPECT_FLOAT_EQ(d.Settings().match.limit, 50.0f);
  EXPECT_FALSE(c.SaveSettings(ClipDir() + "no-such-folder/x.settings"));
  EXPECT_STREQ(c.GetMessage(), "Error Saving Settings");
}

TEST(ControllerRunTest, RunsToTheEndAndKeepsItsPartsUntilDestroyed) {
  const std::string movie = MovieClip();
  ASSERT_FALSE(movie.empty());
  std::string folder;
  {
    EncoderController c;
    ASSERT_TRUE(c.OpenMovie(movie));
    c.Settings().frame.fps = 10.0;
    ASSERT_TRUE(c.PrepareRun(500, 1000)) << c.GetMessage();
    EXPECT_EQ(c.State(), RunState::kPrepared);
    EXPECT_EQ(c.SelectionStartMs(), 500u);
    EXPECT_EQ(c.SelectionDurationMs(), 1000u);
    EXPECT_EQ(c.PlayerFrameCount(), 10u);
    ASSERT_TRUE(RunToEnd(c)) << (c.GetMessage() ? c.GetMessage() : "");
    EXPECT_EQ(c.State(), RunState::kIdle);
    EXPECT_EQ(c.GetMessage(), nullptr);
    EXPECT_EQ(c.PartCount(), 1u);
    EXPECT_GT(c.OutputBytes(), 0u);
    folder = c.TempFolder();
    EXPECT_EQ(c.PreviewPath(), folder + "encoded.swf");
    EXPECT_TRUE(fs::exists(c.PreviewPath()));
    // A second run replaces the first one's folder.
    ASSERT_TRUE(c.PrepareRun(0, 500));
    EXPECT_FALSE(fs::exists(folder));
    ASSERT_TRUE(RunToEnd(c));
    folder = c.TempFolder();
    EXPECT_TRUE(fs::exists(folder));
  }
  EXPECT_FALSE(fs::exists(folder));
}

TEST(ControllerRunTest, StopRunEndsARunningEncodingAndLeavesNothingToSave) {
  const std::string movie = LongClip();
  ASSERT_FALSE(movie.empty());
  EncoderController c;
  ASSERT_TRUE(c.OpenMovie(movie));
  ASSERT_TRUE(c.PrepareRun(0, kDurationToEnd));
  ASSERT_TRUE(c.Step());
  EXPECT_EQ(c.State(), RunState::kRunning);
  EXPECT_TRUE(c.StopRun());
  EXPECT_EQ(c.State(), RunState::kIdle);
  EXPECT_FALSE(c.IsActive());
  EXPECT_EQ(c.PartCount(), 0u);
  const std::string dest = ClipDir() + "stopped.swf";
  EXPECT_FALSE(c.SaveMovie(&dest));
  EXPECT_FALSE(fs::exists(dest));
  EXPECT_FALSE(c.StopRun());
}

TEST(ControllerRunTest, RequestCancelReturnsAtOnceAndTheNextStepsSeeTheCancelledRun) {
  const std::string movie = LongClip();
  ASSERT_FALSE(movie.empty());
  EncoderController c;
  c.RequestCancel();  // idle: nothing to cancel
  ASSERT_TRUE(c.OpenMovie(movie));
  ASSERT_TRUE(c.PrepareRun(0, kDurationToEnd));
  ASSERT_TRUE(c.Step());
  c.RequestCancel();
  EXPECT_EQ(c.State(), RunState::kRunning);  // nothing waited for the thread
  bool stepping = true;
  for (int i = 0; i < 600 && stepping; ++i) {
    stepping = c.Step();
    if (stepping) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(stepping);
  EXPECT_EQ(c.State(), RunState::kIdle);
  EXPECT_EQ(c.GetMessage(), nullptr);
  EXPECT_EQ(c.PartCount(), 0u);
}

}  // namespace
}  // namespace quillon
