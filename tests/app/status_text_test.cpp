#include "app/status_text.h"

#include <gtest/gtest.h>

#include "window_test_support.h"

namespace quillon {
namespace {

TEST(StatusTextTest, EncodingLinesAppearAsTheirFiguresBecomeKnown) {
  RunFigures f;
  f.elapsedMs = 65000;
  EXPECT_EQ(EncodingStatusLines(f), QStringList({"Encoding 0%", "Time: 1:05s", "", "", "", ""}));
  f.progress = 42;
  f.estimatedMs = 3725000;
  f.averageBitRate = 123456;
  f.outputBytes = 2048 * 1024;
  f.partCount = 3;
  f.pixelCompression = 99.4;
  EXPECT_EQ(EncodingStatusLines(f),
            QStringList({"Encoding 42%", "Time: 1:05s", "Estimated: 1:02:05s",
                         "Avg Rate: 123.5 kbps", "Size: 2048 KB, 3 parts", "PixCompression: 99%"}));
  f.partCount = 1;
  f.outputBytes = 1536;
  f.pixelCompression = 45.24;
  const QStringList lines = EncodingStatusLines(f);
  EXPECT_EQ(lines[4], "File Size: 1.5 KB");
  EXPECT_EQ(lines[5], "PixCompression: 45.2%");
}

TEST(StatusTextTest, EncodedFiguresShowTheChangeFromThePreviousRun) {
  RunFigures f;
  f.averageBitRate = 150000;
  f.outputBytes = 51200;
  f.partCount = 1;
  f.playerMemory = 3 * 1048576 + 524288;
  f.pixelCompression = 80;
  EXPECT_EQ(EncodedFigures(f), QStringList({"Avg Rate: 150.0 kbps", "File Size: 50.0 KB",
                                            "Player Memory: 3.5 MB", "PixCompression: 80.0%"}));
  f.previousBitRate = 160260;
  EXPECT_EQ(EncodedFigures(f)[0], "Avg Rate: 150.0 kbps (-10.3)");
  f.previousBitRate = 100000;
  EXPECT_EQ(EncodedFigures(f)[0], "Avg Rate: 150.0 kbps (+50.0)");
  f.previousBitRate = 150000;
  EXPECT_EQ(EncodedFigures(f)[0], "Avg Rate: 150.0 kbps");
  f.partCount = 2;
  EXPECT_EQ(EncodedFigures(f)[1], "Total Size: 50 KB, 2 parts");
  EXPECT_EQ(NoEncodedFigures(), QStringList({"No movie encoded...", "", "", ""}));
}

TEST(StatusTextTest, IdleLinesDescribeTheMovieOrInvite) {
  EXPECT_EQ(NoMovieStatusLines(), QStringList({"Quillon Video Encoder", "Please select ",
                                               "'Open Movie' to start...", "", "", ""}));
  EXPECT_EQ(MovieStatusLines(320, 240, 29.97, "Stereo 44.1kHz, 16bit"),
            QStringList({"Source Movie", "Size: 320x240", "Frame Rate: 30.0 FPS",
                         "Stereo 44.1kHz, 16bit", "", ""}));
  EXPECT_EQ(ProgressTitle(37.0, "/m/a.mp4"), "37% - Quillon Video Encoder: /m/a.mp4");
}

}  // namespace
}  // namespace quillon
