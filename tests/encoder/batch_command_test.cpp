#include "encoder/batch_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "settings/paths.h"

namespace quillon {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Parses argv-style arguments into a fresh log file and hands back what was logged.
class BatchParseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log = std::string(QUILLON_TEST_BINARY_DIR) + "/batch_parse_test_" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
    std::remove(log.c_str());
  }
  void TearDown() override { std::remove(log.c_str()); }

  bool Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "quillon");
    return ParseBatchTokens(BatchArgumentTokens(static_cast<int>(args.size()), args.data()), log, request);
  }
  std::string Logged() const { return ReadAll(log); }

  std::string log;
  BatchRequest request;
};

TEST(BatchTokenizerTest, QuotesBlanksAndMissingCloser) {
  using V = std::vector<std::string>;
  EXPECT_EQ(TokenizeBatchCommand("  a.avi   \"my movie.swf\"  10 "), (V{"a.avi", "my movie.swf", "10"}));
  EXPECT_EQ(TokenizeBatchCommand("\" padded \" \"\" \"unclosed text"), (V{"padded", "", "unclosed text"}));
  EXPECT_EQ(TokenizeBatchCommand("\"a\"b\t\x01 c"), (V{"a", "b", "c"}));
  EXPECT_EQ(TokenizeBatchCommand(""), V{});
  EXPECT_EQ(TokenizeBatchCommand(" \t "), V{});
}

TEST(BatchTokenizerTest, RebuiltTextReadsBackAsTheArguments) {
  const char* argv[] = {"quillon", "/FPS", "12", "my movie.avi", "/home/u/out.swf", "-L", ""};
  EXPECT_EQ(RebuildCommandText(7, argv), "\"-FPS\" \"12\" \"my movie.avi\" \"/home/u/out.swf\" \"-L\" \"\"");
  EXPECT_EQ(TokenizeBatchCommand(RebuildCommandText(7, argv)), BatchArgumentTokens(7, argv));
  EXPECT_EQ(RebuildCommandText(1, argv), "");
}

// The "/" of an option is recognised after the blanks the tokens lose, and only there: a
// blank between "/" and the name makes a path of it in both forms.
TEST(BatchTokenizerTest, RebuiltTextReadsBackAsPaddedArguments) {
  const char* argv[] = {"quillon", " /s", "a.settings", "/\x1cs", "/ q", "\t/fps\t", "9"};
  const std::vector<std::string> tokens = BatchArgumentTokens(7, argv);
  EXPECT_EQ(tokens, (std::vector<std::string>{"-s", "a.settings", "/\x1cs", "/ q", "-fps", "9"}));
  EXPECT_EQ(TokenizeBatchCommand(RebuildCommandText(7, argv)), tokens);
}

TEST_F(BatchParseTest, WholeMovieWithDefaultSettings) {
  ASSERT_TRUE(Parse({"a.avi", "b.swf"}));
  EXPECT_EQ(Logged(), "Encoding: a.avi into b.swf, 0->end ms, with Default Settings\n");
  EXPECT_EQ(request.sourcePath, "a.avi");
  EXPECT_EQ(request.destinationPath, "b.swf");
  EXPECT_EQ(request.startMs, 0u);
  EXPECT_EQ(request.durationMs, kDurationToEnd);
  EXPECT_EQ(request.resolvedSettingsPath, ApplicationFolder() + "presets/default.settings");
  EXPECT_FALSE(request.settingsPath.has_value());
}

TEST_F(BatchParseTest, StartAndEndForms) {
  ASSERT_TRUE(Parse({"a.avi", "b.swf", "10", "+5"}));
  EXPECT_EQ(request.startMs, 10000u);
  EXPECT_EQ(request.durationMs, 5000u);
  ASSERT_TRUE(Parse({"a.avi", "b.swf", "begin", "12.3456"}));
  EXPECT_EQ(request.startMs, 0u);
  EXPECT_EQ(request.durationMs, 12345u);
  ASSERT_TRUE(Parse({"a.avi", "b.swf", "START", "All"}));
  EXPECT_EQ(request.durationMs, kDurationToEnd);
  ASSERT_TRUE(Parse({"a.avi", "b.swf", "2.5x", "End", "ignored"}));
  EXPECT_EQ(request.startMs, 2500u);
  EXPECT_EQ(request.durationMs, kDurationToEnd);
  ASSERT_TRUE(Parse({"a.avi", "b.swf", "1", "1"}));
  EXPECT_EQ(request.durationMs, 0u);
  EXPECT_EQ(Logged(),
            "Encoding: a.avi into b.swf, 10000->15000 ms, with Default Settings\n"
            "Encoding: a.avi into b.swf, 0->12345 ms, with Default Settings\n"
            "Encoding: a.avi into b.swf, 0->end ms, with Default Settings\n"
            "Encoding: a.avi into b.swf, 2500->end ms, with Default Settings\n"
            "Encoding: a.avi into b.swf, 1000->1000 ms, with Default Settings\n");
}

TEST_F(BatchParseTest, EndBeforeStartFailsAfterTheStartLine) {
  EXPECT_FALSE(Parse({"a.avi", "b.swf", "10", "5"}));
  EXPECT_EQ(Logged(),
            "Encoding: a.avi into b.swf, 10000->5000 ms, with Default Settings\n"
            "Error: End time is lower than start time\n");
}

TEST_F(BatchParseTest, EndOneMillisecondBeforeStartIsNotReadAsTheMovieEnd) {
  // 0.999 s - 1 s would wrap to the all-ones "to the end" duration in 32 bits.
  EXPECT_FALSE(Parse({"a.avi", "b.swf", "1", "0.999"}));
  EXPECT_EQ(Logged(),
            "Encoding: a.avi into b.swf, 1000->999 ms, with Default Settings\n"
            "Error: End time is lower than start time\n");
}

TEST_F(BatchParseTest, HugeDurationDoesNotWrapBelowTheStart) {
  ASSERT_TRUE(Parse({"a.avi", "b.swf", "4000000", "+1000"}));
  EXPECT_EQ(request.startMs, 4000000000u);
  EXPECT_EQ(request.durationMs, 1000000u);
  EXPECT_EQ(Logged(), "Encoding: a.avi into b.swf, 4000000000->4001000000 ms, with Default Settings\n");
}

TEST_F(BatchParseTest, MissingPathsAreLoggedAndFail) {
  EXPECT_FALSE(Parse({}));
  EXPECT_FALSE(Parse({"-s", "x.settings"}));
  EXPECT_FALSE(Parse({"a.avi", "-q", "50"}));
  EXPECT_FALSE(Parse({"", "b.swf"}));
  EXPECT_FALSE(ParseBatchCommand("   ", log, request));
  EXPECT_EQ(Logged(),
            "Error: Source video filename not supplied\n"
            "Error: Source video filename not supplied\n"
            "Error: Destination Flash filename not supplied\n"
            "Error: Source video filename not supplied\n"
            "Error: Source video filename not supplied\n");
}

TEST_F(BatchParseTest, OptionsTakeTheNextTokenWhateverItIs) {
  ASSERT_TRUE(Parse({"/FPS", "12", "a.avi", "-Q", "90.5", "b.swf", "-size", "-160", "-jpeg", "80.9",
                     "-br", "56", "-ps", "40", "-zz", "7"}));
  EXPECT_EQ(request.frameFps, 12.0);
  EXPECT_EQ(request.matchLimit, 90.5f);
  EXPECT_EQ(request.frameResize, -160.0f);
  EXPECT_EQ(request.jpegQuality, 80);
  EXPECT_EQ(request.bitrateLimit, 56000u);
  EXPECT_EQ(request.partSizeLimit, 40960u);
  // "-zz" is no option and takes no value, so "7" is the start time.
  EXPECT_EQ(request.startMs, 7000u);
  ASSERT_TRUE(Parse({"a.avi", "b.swf", "-rate", "-50", "-fs", "abc", "-j", "-5"}));
  EXPECT_EQ(request.frameFps, -50.0);
  EXPECT_EQ(request.frameResize, 0.0f);
  EXPECT_EQ(request.jpegQuality, 0);
  EXPECT_FALSE(request.matchLimit.has_value());
}

TEST_F(BatchParseTest, TimesThatAreNoNumberOrNegativeFailWithoutARun) {
  const char* const notANumber = " is not a number of seconds (nor start, begin, all, end or +N)\n";
  const std::pair<std::vector<const char*>, std::string> cases[] = {
      {{"a.avi", "b.swf", "abc", "xyz"}, std::string("Error: Start time \"abc\"") + notANumber},
      {{"a.avi", "b.swf", "1", "xyz"}, std::string("Error: End time \"xyz\"") + notANumber},
      {{"a.avi", "b.swf", "1", "+later"}, std::string("Error: End time \"+later\"") + notANumber},
      {{"a.avi", "b.swf", "inf", "end"}, std::string("Error: Start time \"inf\"") + notANumber},
      {{"a.avi", "b.swf", "-5", "2"}, "Error: Times cannot be negative: -5\n"},
      {{"a.avi", "b.swf", "1", "-.5"}, "Error: Times cannot be negative: -.5\n"},
      {{"a.avi", "b.swf", "1", "+-2"}, "Error: Times cannot be negative: +-2\n"},
  };
  for (const auto& [args, line] : cases) {
    SCOPED_TRACE(line);
    std::remove(log.c_str());
    EXPECT_FALSE(Parse(args));
    EXPECT_EQ(Logged(), line);
  }
  // An option's value may still be negative, and an unknown option still takes no value.
  ASSERT_TRUE(Parse({"a.avi", "b.swf", "-fps", "-50", "-x", "2"}));
  EXPECT_EQ(request.startMs, 2000u);
}

TEST_F(BatchParseTest, TheLogNamesTheFileActuallyWritten) {
  ASSERT_TRUE(Parse({"a.avi", "out/clip"}));
  ASSERT_TRUE(Parse({"a.avi", "out.v2/clip.SWF"}));
  EXPECT_EQ(request.destinationPath, "out.v2/clip.SWF");
  EXPECT_EQ(Logged(),
            "Encoding: a.avi into out/clip.swf, 0->end ms, with Default Settings\n"
            "Encoding: a.avi into out.v2/clip.SWF, 0->end ms, with Default Settings\n");
}

// Seeded: start and end written in the forms a user types, and the range they must give.
TEST_F(BatchParseTest, TimeFormsGiveTheirTruncatedMilliseconds) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 500; ++round) {
    const uint32_t startMs = random() % 4000000;
    const uint32_t lengthMs = random() % 4000000;
    char start[64];
    char end[64];
    // Whole milliseconds plus a fraction below one, in fixed or exponent notation.
    const double startSeconds = (startMs + 0.25) / 1000.0;
    std::snprintf(start, sizeof start, round % 2 ? "%.6f" : "%.9e", startSeconds);
    const bool relative = round % 3 == 0;
    const double endSeconds = ((relative ? 0 : startMs) + lengthMs + 0.25) / 1000.0;
    std::snprintf(end, sizeof end, relative ? "+%.6f" : "%.6f", endSeconds);
    SCOPED_TRACE(std::string(start) + " " + end);
    ASSERT_TRUE(Parse({"a.avi", "b.swf", start, end}));
    EXPECT_EQ(request.startMs, startMs);
    EXPECT_EQ(request.durationMs, lengthMs);
  }
}

TEST_F(BatchParseTest, OverridesBeyondTheFloatRangeReadAsZero) {
  ASSERT_TRUE(Parse({"a.avi", "b.swf", "-q", "1e39", "-fs", "-1e300", "-fps", "1e300"}));
  EXPECT_EQ(request.matchLimit, 0.0f);
  EXPECT_EQ(request.frameResize, 0.0f);
  EXPECT_EQ(request.frameFps, 1e300);  // a double field holds it
  ASSERT_TRUE(Parse({"a.avi", "b.swf", "-q", "3e38"}));
  EXPECT_EQ(request.matchLimit, 3e38f);
}

TEST_F(BatchParseTest, AbsolutePathsAreNotOptions) {
  ASSERT_TRUE(Parse({"/media/clip.avi", "/tmp/out.swf", "-s", "/etc/q/my.settings"}));
  EXPECT_EQ(request.sourcePath, "/media/clip.avi");
  EXPECT_EQ(request.destinationPath, "/tmp/out.swf");
  EXPECT_EQ(request.resolvedSettingsPath, "/etc/q/my.settings");
  ASSERT_TRUE(Parse({"/q", "50", "/s", "a.avi", "b.swf", "c.swf"}));  // "/s" is read as "-s"
  EXPECT_EQ(request.matchLimit, 50.0f);
  EXPECT_EQ(request.settingsPath, "a.avi");
  EXPECT_EQ(request.sourcePath, "b.swf");
}

TEST_F(BatchParseTest, PathsWithQuotesReachTheRequestUnchanged) {
  ASSERT_TRUE(Parse({"say \"hi\".avi", "out \"1\".swf"}));
  EXPECT_EQ(request.sourcePath, "say \"hi\".avi");
  EXPECT_EQ(request.destinationPath, "out \"1\".swf");
}

TEST_F(BatchParseTest, SettingsPathIsResolvedAndLogged) {
  ASSERT_TRUE(Parse({"a.avi", "b.swf", "-s", "sub\\my.settings"}));
  EXPECT_EQ(request.resolvedSettingsPath, ApplicationFolder() + "sub/my.settings");
  EXPECT_EQ(Logged(), "Encoding: a.avi into b.swf, 0->end ms, with settings " + ApplicationFolder() +
                          "sub/my.settings\n");
}

TEST_F(BatchParseTest, LogOptionRedirectsAtOnce) {
  const std::string other = log + ".other";
  std::remove(other.c_str());
  EXPECT_FALSE(Parse({"-l", other.c_str(), "a.avi"}));
  EXPECT_EQ(request.logPath, other);
  EXPECT_EQ(Logged(), "");
  EXPECT_EQ(ReadAll(other), "Error: Destination Flash filename not supplied\n");
  std::remove(other.c_str());
}

TEST(BatchOverridesTest, OrderAndPlainBoundFollowsLimit) {
  EncoderSettings settings;
  settings.match.limit = 50.0f;
  settings.match.plainBound = 20.0f;
  BatchRequest request;
  ApplyBatchOverrides(request, settings);
  EXPECT_EQ(settings.match.plainBound, 50.0f);  // even without "-q"
  request.matchLimit = 90.0f;
  request.frameResize = -160.0f;
  request.frameFps = -50.0;
  request.jpegQuality = 80;
  request.bitrateLimit = 56000;
  request.partSizeLimit = 40960;
  ApplyBatchOverrides(request, settings);
  EXPECT_EQ(settings.match.limit, 90.0f);
  EXPECT_EQ(settings.match.plainBound, 90.0f);
  EXPECT_EQ(settings.frame.resize, -160.0f);
  EXPECT_EQ(settings.frame.fps, -50.0);
  EXPECT_EQ(settings.transport.jpegQuality, 80);
  EXPECT_EQ(settings.transport.bitrateLimit, 56000u);
  EXPECT_EQ(settings.transport.partSizeLimit, 40960u);
}

TEST(ResolveSettingsPathTest, AbsoluteRelativeAndDriveLetters) {
  EXPECT_EQ(ResolveSettingsPath("/opt/q/", "sub/my.settings"), "/opt/q/sub/my.settings");
  EXPECT_EQ(ResolveSettingsPath("/opt/q/", "C:\\x\\y.settings"), "C:/x/y.settings");
  EXPECT_EQ(ResolveSettingsPath("/opt/q/", "/srv//a.settings"), "/srv//a.settings");
  EXPECT_EQ(ResolveSettingsPath("/opt/q/", "\\\\sub\\\\b.settings"), "//sub//b.settings");
  EXPECT_EQ(ResolveSettingsPath("/opt/q/", "..\\presets\\\\c.settings"), "/opt/q/../presets/c.settings");
  EXPECT_EQ(ResolveSettingsPath("", "presets/default.settings"), "presets/default.settings");
}

TEST(ResolveSettingsPathTest, RelativeValueFromTheCurrentFolderWhenTheFileIsThere) {
  const std::string here = std::string(QUILLON_TEST_BINARY_DIR) + "/settings_path_here";
  std::filesystem::create_directories(here + "/sub");
  std::ofstream(here + "/my.settings") << "Match.Limit=80\n";
  std::ofstream(here + "/sub/deep.settings") << "Match.Limit=80\n";
  EXPECT_EQ(ResolveSettingsPath("/opt/q/", "my.settings", here), here + "/my.settings");
  EXPECT_EQ(ResolveSettingsPath("/opt/q/", "sub\\deep.settings", here + "/"),
            here + "/sub/deep.settings");
  // Not there (or only a folder of that name): the program's folder, as presets are found.
  EXPECT_EQ(ResolveSettingsPath("/opt/q/", "presets/modem-56k.settings", here),
            "/opt/q/presets/modem-56k.settings");
  EXPECT_EQ(ResolveSettingsPath("/opt/q/", "sub", here), "/opt/q/sub");
  EXPECT_EQ(ResolveSettingsPath("/opt/q/", "/srv/a.settings", here), "/srv/a.settings");
}

TEST(BatchCommandKindTest, HelpAndVersionExceptAsOptionValues) {
  using V = std::vector<std::string>;
  EXPECT_EQ(ClassifyBatchTokens(V{"-h"}), BatchCommandKind::kHelp);
  EXPECT_EQ(ClassifyBatchTokens(V{"a.avi", "b.swf", "--help"}), BatchCommandKind::kHelp);
  EXPECT_EQ(ClassifyBatchTokens(V{"--version"}), BatchCommandKind::kVersion);
  EXPECT_EQ(ClassifyBatchTokens(V{"-l", "-h", "a", "b"}), BatchCommandKind::kBatch);
  EXPECT_EQ(ClassifyBatchTokens(V{"a", "b"}), BatchCommandKind::kBatch);
}

}  // namespace
}  // namespace quillon
