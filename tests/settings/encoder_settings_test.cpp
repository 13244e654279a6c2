#include "settings/encoder_settings.h"

#include <gtest/gtest.h>

#include "settings/paths.h"

namespace quillon {
namespace {

TEST(QualityThresholdTest, DefaultSignaturesGiveTheDocumentedThresholds) {
  const FrameOptions frame;
  const MatchOptions match;
  const TransportOptions transport;
  EXPECT_NEAR(QualityThreshold(80.0, frame.signature[0]), 390.15, 1e-9);
  EXPECT_NEAR(QualityThreshold(80.0, transport.signature[1]), 390.15, 1e-9);
  EXPECT_NEAR(QualityThreshold(80.0, match.signature), 7.803, 1e-9);
  EXPECT_NEAR(QualityThreshold(100.0, match.signature), 0.0, 1e-9);
  EXPECT_DOUBLE_EQ(QualityThreshold(0.0, frame.signature[0]), 8 * kQualityUnit);
  EXPECT_DOUBLE_EQ(QualityThreshold(0.0, match.signature), 5 * kQualityUnit);
}

TEST(QualityThresholdTest, NegativeLimitBypassesTheSignature) {
  const LimitSignature odd{1000.0, -7.0, 3.0, 42.0};
  EXPECT_DOUBLE_EQ(QualityThreshold(-2.0, odd), 3901.5);
  EXPECT_DOUBLE_EQ(QualityThreshold(-2.0, MatchOptions{}.signature), 3901.5);
}

TEST(QualityThresholdTest, CurveIsContinuousAtTheKnee) {
  const LimitSignature s{8.0, 0.0, 50.0, 0.5};
  EXPECT_NEAR(MapQualityLimit(50.0, s), 0.5, 1e-12);
  EXPECT_NEAR(MapQualityLimit(49.999999, s), 0.5, 1e-5);
  EXPECT_NEAR(MapQualityLimit(25.0, s), 4.25, 1e-12);
}

TEST(OutputFrameRateTest, AbsoluteRelativeAndZeroRates) {
  double rate = 0;
  ASSERT_TRUE(OutputFrameRate(12.0, 25.0, rate));
  EXPECT_DOUBLE_EQ(rate, 12.0);
  ASSERT_TRUE(OutputFrameRate(40.0, 25.0, rate));
  EXPECT_DOUBLE_EQ(rate, 25.0);
  ASSERT_TRUE(OutputFrameRate(-50.0, 25.0, rate));
  EXPECT_DOUBLE_EQ(rate, 12.5);
  ASSERT_TRUE(OutputFrameRate(0.0, 25.0, rate));
  EXPECT_DOUBLE_EQ(rate, 25.0);
  ASSERT_TRUE(OutputFrameRate(-300.0, 25.0, rate));
  EXPECT_DOUBLE_EQ(rate, 25.0);  // relative rates never exceed the source
  EXPECT_FALSE(OutputFrameRate(0.0, 0.0, rate));
  EXPECT_FALSE(OutputFrameRate(-50.0, 0.0, rate));
}

TEST(OutputFrameRateTest, RatesStayWithinWhatTheSwfHeaderCanState) {
  double rate = 0;
  // A 1000 fps source, an absurdly small absolute rate, and the player rate above both.
  ASSERT_TRUE(OutputFrameRate(-100.0, 1000.0, rate));
  EXPECT_DOUBLE_EQ(rate, 65535.0 / 256);
  ASSERT_TRUE(OutputFrameRate(1e-9, 25.0, rate));
  EXPECT_DOUBLE_EQ(rate, 1.0 / 256);
  ASSERT_TRUE(OutputFrameRate(-1e-9, 25.0, rate));
  EXPECT_DOUBLE_EQ(rate, 1.0 / 256);
  EXPECT_DOUBLE_EQ(PlayerFrameRate(1e9f, 12.0), 65535.0 / 256);
  EXPECT_DOUBLE_EQ(PlayerFrameRate(0.0f, 1000.0), 65535.0 / 256);
  EXPECT_DOUBLE_EQ(PlayerFrameRate(0.0f, 1e-9), 1.0 / 256);
}

TEST(OutputFrameSizeTest, FinalWidthPercentAndNoEnlarging) {
  float percent = 0;
  std::uint32_t w = 0, h = 0;
  ASSERT_TRUE(ResizePercent(-160.0f, 320, percent));
  OutputFrameSize(percent, 320, 240, w, h);
  EXPECT_EQ(w, 160u);
  EXPECT_EQ(h, 120u);
  ASSERT_TRUE(ResizePercent(200.0f, 320, percent));
  OutputFrameSize(percent, 320, 240, w, h);
  EXPECT_EQ(w, 320u);
  EXPECT_EQ(h, 240u);
  OutputFrameSize(0.01f, 320, 240, w, h);
  EXPECT_EQ(w, 1u);
  EXPECT_EQ(h, 1u);
  OutputFrameSize(50.0f, 321, 241, w, h);  // rounds half up
  EXPECT_EQ(w, 161u);
  EXPECT_EQ(h, 121u);
  EXPECT_FALSE(ResizePercent(-160.0f, 0, percent));
}

TEST(PlayerTimingTest, PlayerRateLimboBudgetAndPalette) {
  EXPECT_DOUBLE_EQ(PlayerFrameRate(0.0f, 12.5), 12.5);
  EXPECT_DOUBLE_EQ(PlayerFrameRate(10.0f, 12.5), 12.5);
  EXPECT_DOUBLE_EQ(PlayerFrameRate(24.0f, 12.5), 24.0);
  EXPECT_EQ(LimboFrames(-50.0f, 40), 20u);
  EXPECT_EQ(LimboFrames(-300.0f, 40), 40u);
  EXPECT_EQ(LimboFrames(-50.0f, 10), 5u);
  EXPECT_EQ(LimboFrames(7.9f, 40), 7u);
  EXPECT_EQ(LimboFrames(-50.0f, -4), 0u);
  EXPECT_EQ(BudgetBytesPerSecond(100000), 12500u);
  EXPECT_EQ(BudgetBytesPerSecond(15), 1u);
  EXPECT_EQ(BudgetBytesPerSecond(0), 0u);
  EXPECT_NEAR(PaletteDiffThreshold(0.5f), 975.375, 1e-9);
}

TEST(SettingsRecordsTest, SetDefaultsEmptiesTextsAndVariables) {
  EncoderSettings s;
  s.transport.playerVar = "a,1\n";
  s.transport.playerLink = "x";
  s.frame.fps = 3;
  SetDefaults(nullptr, nullptr, nullptr, &s.transport);
  EXPECT_FALSE(s.transport.playerVar.has_value());
  EXPECT_TRUE(s.transport.playerLink.empty());
  EXPECT_EQ(s.frame.fps, 3.0);  // records not given stay as they are
  SetDefaults(s);
  EXPECT_EQ(s.frame.fps, -100.0);
}

TEST(SettingsRecordsTest, StageCopyCannotReleaseTheOwnersVariables) {
  TransportOptions owner;
  owner.playerVar = "a,1\n";
  TransportOptions stage = owner;
  ReleaseOptions(stage);
  ASSERT_TRUE(owner.playerVar.has_value());
  EXPECT_EQ(*owner.playerVar, "a,1\n");
}

TEST(PathsTest, JoinNormalisesSeparators) {
  EXPECT_EQ(JoinPath("/opt/q/", "sub/my.settings"), "/opt/q/sub/my.settings");
  EXPECT_EQ(JoinPath("/opt/q/", "\\sub\\\\my.settings"), "/opt/q/sub/my.settings");
  EXPECT_EQ(ToForwardSlashes("C:\\x\\y.settings"), "C:/x/y.settings");
  EXPECT_TRUE(IsAbsolutePath("/x"));
  EXPECT_TRUE(IsAbsolutePath("\\x"));
  EXPECT_TRUE(IsAbsolutePath("C:\\x"));
  EXPECT_FALSE(IsAbsolutePath("C:x"));
  EXPECT_FALSE(IsAbsolutePath("sub/x"));
  EXPECT_FALSE(IsAbsolutePath(""));
}

}  // namespace
}  // namespace quillon
