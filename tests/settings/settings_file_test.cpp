#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillon {
namespace {

std::string TempPath(const std::string& name) {
  return std::string(QUILLON_TEST_BINARY_DIR) + "/settings_test_" + name;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

EncoderSettings Parse(const std::string& text) {
  EncoderSettings s;
  ParseSettingsText(text, &s.frame, &s.audio, &s.match, &s.transport);
  return s;
}

// Field-by-field equality through the writer: every written field shows in the text, and the
// read-only ones are compared directly.
void ExpectSameRecords(const EncoderSettings& a, const EncoderSettings& b) {
  EXPECT_EQ(FormatSettingsText(&a.frame, &a.audio, &a.match, &a.transport),
            FormatSettingsText(&b.frame, &b.audio, &b.match, &b.transport));
  EXPECT_EQ(a.frame.flags, b.frame.flags);
  EXPECT_EQ(a.frame.cacheSize, b.frame.cacheSize);
  EXPECT_EQ(a.frame.uniformBlockLimit, b.frame.uniformBlockLimit);
  EXPECT_EQ(a.match.flags, b.match.flags);
  EXPECT_EQ(a.match.plainBound, b.match.plainBound);
  EXPECT_EQ(a.transport.zlibQuality, b.transport.zlibQuality);
  EXPECT_EQ(a.transport.playerVar, b.transport.playerVar);
}

TEST(SettingsFileTest, DefaultsRoundTripAndMatchThePreset) {
  const EncoderSettings defaults;
  const std::string path = TempPath("defaults.settings");
  ASSERT_TRUE(SaveSettingsFile(path, defaults));
  const std::string written = ReadAll(path);
  EXPECT_NE(written.find("\nFrame.FPS=-100.000000\n"), std::string::npos);
  EXPECT_NE(written.find("\nTransport.BackColor=#000000\n"), std::string::npos);
  EXPECT_EQ(written.find("Action Script variables"), std::string::npos);
  EXPECT_EQ(written, ReadAll(std::string(QUILLON_TEST_SOURCE_DIR) + "/presets/default.settings"));

  EncoderSettings loaded;
  loaded.frame.fps = 5;  // proves the file, not the initial value, set it
  ASSERT_TRUE(LoadSettingsFile(path, loaded));
  ExpectSameRecords(loaded, defaults);
  EXPECT_EQ(loaded.frame.fps, -100.0);
  std::remove(path.c_str());
}

TEST(SettingsFileTest, WriterLayoutAndSectionsLeftOut) {
  const TransportOptions t;
  const std::string onlyTransport = FormatSettingsText(nullptr, nullptr, nullptr, &t);
  EXPECT_EQ(onlyTransport.rfind("#========================================== Quillon Video Encoder Settings\n"
                                "Description: \n\n#========================================== Transport Settings\n",
                                0),
            0u);
  EXPECT_EQ(onlyTransport.find("\nFrame."), std::string::npos);
  const std::string none = FormatSettingsText(nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(none,
            "#========================================== Quillon Video Encoder Settings\n"
            "# * means setting is only available on the settings file\n");
  const MatchOptions m;
  EXPECT_NE(FormatSettingsText(nullptr, nullptr, &m, nullptr)
                .find("Match.Signature=5.000000:0.000000:50.000000:0.010000\n\n# Image quality "
                      "percentage, 100% means perfect image\nMatch.Limit=80.000000\n"),
            std::string::npos);
}

TEST(SettingsFileTest, EmptyOrUnknownTextGivesDefaults) {
  ExpectSameRecords(Parse(""), EncoderSettings{});
  ExpectSameRecords(Parse("hello\nworld = 3\nVideo.FPS=3\nframe.nonsense=4\n\n"), EncoderSettings{});
}

TEST(SettingsFileTest, KeysIgnoreCaseAndBlanks) {
  const EncoderSettings s = Parse("FRAME.FPS = 15\n  audio.RATE\t=  11025  \nMatch:Limit\n");
  EXPECT_EQ(s.frame.fps, 15.0);
  EXPECT_EQ(s.audio.rate, 11025);
  EXPECT_EQ(s.match.limit, 80.0f);  // "Match:Limit" splits at ":" into a key without section
}

TEST(SettingsFileTest, CrLfFileReadsLikeLf) {
  const std::string lf =
      "Frame.FPS=12\nTransport.Player.Link=http://x/\nTransport.Player.Var=a,1\nDescription: Hi\n"
      "Transport.Signature=1:2:3:4:5:6:7:8\nTransport.Player.Quality=low\n";
  std::string crlf;
  for (char c : lf) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  const std::string path = TempPath("crlf.settings");
  WriteAll(path, crlf);
  EncoderSettings a;
  ASSERT_TRUE(LoadSettingsFile(path, a));
  ExpectSameRecords(a, Parse(lf));
  EXPECT_EQ(a.transport.playerLink, "http://x/");
  EXPECT_EQ(*a.transport.playerVar, "a,1\n");
  EXPECT_EQ(a.transport.signature[1].mid, 8.0);
  std::remove(path.c_str());
}

TEST(SettingsFileTest, DescriptionLineKeepsEqualsSigns) {
  EXPECT_EQ(Parse("Description: My movie\n").transport.description, "My movie");
  EXPECT_EQ(Parse("  description : a=b, c:d\n").transport.description, "a=b, c:d");
  EXPECT_EQ(Parse("Description=plain\n").transport.description, "plain");
  EXPECT_EQ(Parse("#Description: comment\n").transport.description, "");
  EXPECT_EQ(Parse(std::string("Description: ") + std::string(600, 'd')).transport.description.size(),
            kDescriptionMaxLength);
  TransportOptions t;
  t.description = "x = y\nFrame.FPS=3";  // a line break must not smuggle in a key
  TransportOptions back;
  ParseSettingsText(FormatSettingsText(nullptr, nullptr, nullptr, &t), nullptr, nullptr, nullptr, &back);
  EXPECT_EQ(back.description, "x = y Frame.FPS=3");
}

TEST(SettingsFileTest, EndTypeSearchOrder) {
  auto end = [](const std::string& v) {
    return GetPlayerEndType(Parse("Transport.Player.EndType=" + v + "\n").transport);
  };
  EXPECT_EQ(end("loopBegin"), PlayerEndType::kLoopBegin);
  EXPECT_EQ(end("loop begin"), PlayerEndType::kLoopBegin);  // the settings page's label
  EXPECT_EQ(end("loop"), PlayerEndType::kLoop);
  EXPECT_EQ(end("5"), PlayerEndType::kLoopBegin);
  EXPECT_EQ(end("stop2"), PlayerEndType::kStop2);
  EXPECT_EQ(end("STOP"), PlayerEndType::kStop);
  EXPECT_EQ(end("do nothing"), PlayerEndType::kNothing);
  EXPECT_EQ(end("getUrl"), PlayerEndType::kGetUrl);
  EXPECT_EQ(end("loadMovie"), PlayerEndType::kLoadMovie);
  EXPECT_EQ(end(""), PlayerEndType::kNothing);
  // An unknown word leaves the value as it was.
  EXPECT_EQ(GetPlayerEndType(Parse("Transport.Player.EndType=stop\nTransport.Player.EndType=zzz\n").transport),
            PlayerEndType::kStop);
  auto link = [](const std::string& v) {
    return GetPlayerLinkType(Parse("Transport.Player.LinkType=" + v + "\n").transport);
  };
  EXPECT_EQ(link("loadMovie"), PlayerLinkType::kLoadMovie);
  EXPECT_EQ(link("getUrl"), PlayerLinkType::kGetUrl);
  EXPECT_EQ(link("none"), PlayerLinkType::kNone);
}

TEST(SettingsFileTest, QualityWords) {
  auto quality = [](const std::string& v) {
    return Parse("Transport.Player.Quality=" + v + "\n").transport.playerQuality;
  };
  EXPECT_EQ(quality("Medium (F5)"), PlayerQuality::kMedium);
  EXPECT_EQ(quality("medium (Flash5 only)"), PlayerQuality::kMedium);
  EXPECT_EQ(quality("foo"), PlayerQuality::kHigh);
  EXPECT_EQ(quality("- Don't Set -"), PlayerQuality::kNone);
  EXPECT_EQ(quality(""), PlayerQuality::kNone);
  EXPECT_EQ(quality("best"), PlayerQuality::kBest);
  EXPECT_EQ(quality("low"), PlayerQuality::kLow);
}

TEST(SettingsFileTest, ColoursBooleansDirectionsAndNumbers) {
  EXPECT_EQ(Parse("Transport.BackColor=#ff8000\n").transport.backColor, 0xff8000u);
  EXPECT_EQ(Parse("Transport.BackColor=FF8000\n").transport.backColor, 0xff8000u);
  EXPECT_EQ(Parse("Transport.BackColor=#ff8000\nTransport.BackColor=#zz\n").transport.backColor, 0xff8000u);
  const EncoderSettings s = Parse(
      "Audio.Process=no\nAudio.ForceMono=True\nAudio.MP3ABR=1\nAudio.Compression=adpcm\n"
      "Transport.JPEG=\nTransport.ZLIB8=yes\nTransport.Resize=v\nTransport.TransientResize=Hv\n"
      "Frame.UniformSpan=h\nFrame.ResizeMethod=0x\nMatch.SearchedFrames=12abc\nFrame.Darken=abc\n"
      "Match.NearbyMethod=Log\nTransport.Player.Protect=y\nTransport.Player.OptimizeMemory=n\n");
  EXPECT_EQ(s.audio.flags, AudioOptions::kForceMono | AudioOptions::kMp3Abr);
  EXPECT_EQ(s.transport.flags, TransportOptions::kZlib32 | TransportOptions::kZlib8 |
                                   TransportOptions::kResizeVertical |
                                   TransportOptions::kTransientResizeHorizontal |
                                   TransportOptions::kTransientResizeVertical);
  EXPECT_EQ(s.frame.flags, FrameOptions::kProcess | FrameOptions::kUniformSpanHorizontal);
  EXPECT_EQ(s.frame.resizeMethod, 0);
  EXPECT_EQ(s.match.searchedFrames, 12);
  EXPECT_EQ(s.frame.darken, 0.0f);
  EXPECT_EQ(s.match.flags, MatchOptions::kImage | MatchOptions::kShape | MatchOptions::kNearbyMethodLog);
  EXPECT_EQ(s.transport.playerFlags, TransportOptions::kPlayerDisplayCursor | TransportOptions::kPlayerProtect);
}

TEST(SettingsFileTest, SignaturesNeedEveryNumber) {
  EXPECT_EQ(Parse("Frame.Signature=1:2:3\n").frame.signature[0].low, 8.0);
  EXPECT_EQ(Parse("Frame.Signature=1:2:3:4:5:6:7\n").frame.signature[1].mid, 0.5);
  EXPECT_EQ(Parse("Match.Signature=1:2:3:x\n").match.signature.low, 5.0);
  const EncoderSettings s = Parse("Match.Signature=1:2:3:4.5\nTransport.Signature=1:2:3:4:5:6:7:8\n");
  EXPECT_EQ(s.match.signature.mid, 4.5);
  EXPECT_EQ(s.transport.signature[0].knee, 3.0);
  EXPECT_EQ(s.transport.signature[1].low, 5.0);
}

TEST(SettingsFileTest, VariablesAppendAndWriteBack) {
  const EncoderSettings s = Parse("Transport.Player.Var=a,1\ntransport.player.variable = b,2\n");
  ASSERT_TRUE(s.transport.playerVar.has_value());
  EXPECT_EQ(*s.transport.playerVar, "a,1\nb,2\n");
  const std::string text = FormatSettingsText(nullptr, nullptr, nullptr, &s.transport);
  EXPECT_NE(text.find("Transport.Player.Loader=\n\n# Action Script variables:\nTransport.Player.Var=a,1\n"
                      "Transport.Player.Var=b,2\n\n# Misc player settings:\n"),
            std::string::npos);
  // An existing but empty buffer still writes its block; no buffer writes none.
  TransportOptions empty;
  empty.playerVar.emplace();
  EXPECT_NE(FormatSettingsText(nullptr, nullptr, nullptr, &empty).find("# Action Script variables:\n\n#"),
            std::string::npos);
}

TEST(SettingsFileTest, LongLinksRoundTripAndTextsAreCut) {
  TransportOptions t;
  t.playerLink = "http://example.org/" + std::string(kLinkMaxLength - 19, 'l');
  t.playerEndLink = std::string(kLinkMaxLength, 'e');
  t.playerVar = std::string(5000, 'v') + "\n";
  const std::string path = TempPath("long.settings");
  ASSERT_TRUE(SaveSettingsFile(path, nullptr, nullptr, nullptr, &t));
  TransportOptions back;
  ASSERT_TRUE(LoadSettingsFile(path, nullptr, nullptr, nullptr, &back));
  EXPECT_EQ(back.playerLink, t.playerLink);
  EXPECT_EQ(back.playerEndLink, t.playerEndLink);
  EXPECT_EQ(back.playerVar, t.playerVar);
  std::remove(path.c_str());

  const EncoderSettings cut = Parse("Transport.Player.Link=" + std::string(3000, 'x') +
                                    "\nTransport.Player.LinkTarget=" + std::string(200, 't') +
                                    "\nTransport.Player.Loader=" + std::string(300, 'p') + "\n");
  EXPECT_EQ(cut.transport.playerLink.size(), kLinkMaxLength);
  EXPECT_EQ(cut.transport.playerLinkTarget.size(), kLinkTargetMaxLength);
  EXPECT_EQ(cut.transport.playerLoader.size(), kLoaderMaxLength);
}

// Inputs where a save of what was read did not read back the same: a NUL inside a text (the
// writer's printf stopped there), a cut that ended on blanks, a number beyond the float range.
TEST(SettingsFileTest, ReadValuesSurviveASave) {
  const std::string nul("Description: kept\0lost\nTransport.Player.Link=a \0b\nFrame.FPS=7\0x\n", 64);
  const EncoderSettings s = Parse(nul);
  EXPECT_EQ(s.transport.description, "kept");
  EXPECT_EQ(s.transport.playerLink, "a");
  EXPECT_EQ(s.frame.fps, 7.0);

  const EncoderSettings cut = Parse("Transport.Player.LinkTarget=" + std::string(kLinkTargetMaxLength - 2, 't') +
                                    "   u\n");
  EXPECT_EQ(cut.transport.playerLinkTarget, std::string(kLinkTargetMaxLength - 2, 't'));

  const EncoderSettings huge = Parse("Frame.Smooth=1e300\nMatch.Limit=-1e39\nAudio.Volume=3e38\n");
  EXPECT_EQ(huge.frame.smooth, 0.0f);
  EXPECT_EQ(huge.match.limit, 0.0f);
  EXPECT_EQ(huge.audio.volume, 3e38f);

  for (const EncoderSettings* read : {&s, &cut, &huge}) {
    const std::string saved = FormatSettingsText(&read->frame, &read->audio, &read->match, &read->transport);
    EncoderSettings back = Parse(saved);
    EXPECT_EQ(FormatSettingsText(&back.frame, &back.audio, &back.match, &back.transport), saved);
    EXPECT_EQ(back.transport.description, read->transport.description);
    EXPECT_EQ(back.transport.playerLink, read->transport.playerLink);
    EXPECT_EQ(back.transport.playerLinkTarget, read->transport.playerLinkTarget);
  }
}

TEST(SettingsFileTest, EmptyEnumerationsWriteNothingAndReadBack) {
  TransportOptions t;
  t.playerQuality = PlayerQuality::kNone;
  SetPlayerLinkType(t, PlayerLinkType::kNone);
  SetPlayerEndType(t, PlayerEndType::kNothing);
  const std::string text = FormatSettingsText(nullptr, nullptr, nullptr, &t);
  EXPECT_NE(text.find("\nTransport.Player.Quality=\n"), std::string::npos);
  EXPECT_NE(text.find("\nTransport.Player.LinkType=\n"), std::string::npos);
  EXPECT_NE(text.find("\nTransport.Player.EndType=\n"), std::string::npos);
  TransportOptions back;
  SetPlayerEndType(back, PlayerEndType::kLoop);
  ParseSettingsText(text, nullptr, nullptr, nullptr, &back);
  EXPECT_EQ(back.playerQuality, PlayerQuality::kNone);
  EXPECT_EQ(GetPlayerEndType(back), PlayerEndType::kNothing);
  EXPECT_EQ(GetPlayerLinkType(back), PlayerLinkType::kNone);
}

TEST(SettingsFileTest, RecordsNotGivenAreNotTouched) {
  FrameOptions frame;
  ParseSettingsText("Frame.FPS=9\nDescription: x\nAudio.Rate=5512\n", &frame, nullptr, nullptr, nullptr);
  EXPECT_EQ(frame.fps, 9.0);
  AudioOptions audio;
  ParseSettingsText("Frame.FPS=9\nAudio.Rate=5512\n", nullptr, &audio, nullptr, nullptr);
  EXPECT_EQ(audio.rate, 5512);
}

TEST(SettingsFileTest, UnreadableAndUnwritablePathsFail) {
  EncoderSettings s;
  EXPECT_FALSE(LoadSettingsFile(TempPath("does_not_exist.settings"), s));
  EXPECT_FALSE(LoadSettingsFile(QUILLON_TEST_BINARY_DIR, s));  // a folder is no settings file
  EXPECT_FALSE(SaveSettingsFile(TempPath("no_such_dir/x.settings"), s));
  EXPECT_FALSE(SaveSettingsFile("/dev/full", s));
}

TEST(SettingsFileTest, FilesBeyondTheSizeLimitAreRefusedWithoutReadingThemWhole) {
  EncoderSettings s;
  // An endless device without line ends, and a file one byte over the limit.
  EXPECT_FALSE(LoadSettingsFile("/dev/zero", s));
  const std::string big = TempPath("big.settings");
  std::string text = "Frame.FPS=7\n";
  text.resize(kMaxSettingsFileBytes + 1, ' ');
  WriteAll(big, text);
  SetDefaults(s);
  EXPECT_FALSE(LoadSettingsFile(big, s));
  EXPECT_NE(s.frame.fps, 7.0);
  text.resize(kMaxSettingsFileBytes);
  WriteAll(big, text);
  EXPECT_TRUE(LoadSettingsFile(big, s));
  EXPECT_EQ(s.frame.fps, 7.0);
  std::remove(big.c_str());
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// Presets are what the writer produces, so a preset saved again must not change, and each
// must carry the description the preset list shows.
TEST(SettingsPresetTest, EveryPresetIsStableWriterOutput) {
  const std::filesystem::path folder = std::filesystem::path(QUILLON_TEST_SOURCE_DIR) / "presets";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".settings") continue;
    ++count;
    SCOPED_TRACE(entry.path().string());
    EncoderSettings s;
    ASSERT_TRUE(LoadSettingsFile(entry.path().string(), s));
    if (entry.path().filename() != "default.settings") {
      EXPECT_FALSE(s.transport.description.empty());
    }
    EXPECT_EQ(FormatSettingsText(&s.frame, &s.audio, &s.match, &s.transport), ReadAll(entry.path().string()));
  }
  EXPECT_GE(count, 4);
}

TEST(SettingsPresetTest, PresetsSayWhatTheirNamesPromise) {
  const std::string folder = std::string(QUILLON_TEST_SOURCE_DIR) + "/presets/";
  EncoderSettings modem;
  ASSERT_TRUE(LoadSettingsFile(folder + "modem-56k.settings", modem));
  EXPECT_GT(modem.transport.bitrateLimit, 0u);
  EXPECT_LT(modem.transport.bitrateLimit, 56000u);
  EXPECT_LT(static_cast<std::uint32_t>(modem.audio.mp3kbps) * 1000, modem.transport.bitrateLimit);
  EncoderSettings screen;
  ASSERT_TRUE(LoadSettingsFile(folder + "screen-recording.settings", screen));
  EXPECT_GE(screen.match.limit, 95.0f);
  EXPECT_EQ(screen.transport.flags & TransportOptions::kJpeg, 0u);
  EXPECT_NE(screen.transport.flags & TransportOptions::kZlib32, 0u);
}

}  // namespace
}  // namespace quillon
