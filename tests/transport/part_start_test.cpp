// The start-of-part tags (stage, version, variables, switches, link button, preloader merge)
// and the end actions, checked in the part files of short runs.
#include <gtest/gtest.h>

#include <cmath>

#include "swf/action_builder.h"
#include "swf/transport/preloader_movie.h"
#include "transport/synthetic_clip.h"

namespace quillon::testing {
namespace {

constexpr uint16_t kShowFrame = 1;
constexpr uint16_t kDefineShape = 2;
constexpr uint16_t kPlaceObject = 4;
constexpr uint16_t kSetBackgroundColor = 9;
constexpr uint16_t kDoAction = 12;
constexpr uint16_t kDefineShape2 = 22;
constexpr uint16_t kProtect = 24;
constexpr uint16_t kDefineButton2 = 34;

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

// A 550 x 400 movie of the given version with three frames, an object at depth 5 and its own
// background colour.
std::string WritePreloader(const std::string& dir, uint8_t version) {
  SwfWriter w;
  EXPECT_TRUE(w.Open());
  w.WriteFileHeader(version, SwfRect{0, 11000, 0, 8000}, 12.0);
  w.WriteSetBackgroundColor(0x336699);
  w.WritePlaceObject(1, 5, nullptr);
  w.WriteShowFrame();
  w.WriteShowFrame();
  w.WriteShowFrame();
  w.WriteEnd();
  w.FinishPart(3);
  EXPECT_TRUE(w.WritePartFile(dir, 1));
  return dir + "encoded.swf";
}

// Runs a one-frame flat clip with the rig's settings into its own folder.
SwfFile RunOnce(TransportRig& rig, const std::string& name,
                ClipSpec clip = ClipSpec{.frames = 1, .pattern = ClipPattern::kFlat}) {
  EXPECT_TRUE(rig.Prepare(clip)) << rig.error;
  const std::string dir = FreshFolder(name);
  EXPECT_TRUE(rig.Run(dir)) << rig.error;
  return ReadSwfFile(dir + "encoded.swf");
}

std::vector<std::vector<ActionRecord>> Scripts(const SwfFile& f) {
  std::vector<std::vector<ActionRecord>> out;
  for (const ParsedTag* t : TagsOf(f, kDoAction)) out.push_back(ParseActions(t->body));
  return out;
}

TEST(PartStartTest, PreloaderStageFitsTheVideoAndItsObjectsGoAbove) {
  const std::string pre = WritePreloader(FreshFolder("preloader_src"), 5);
  TransportRig rig;
  rig.settings.transport.playerLoader = pre;
  const SwfFile f =
      RunOnce(rig, "preloader_fit",
              ClipSpec{.width = 320, .height = 240, .frames = 1, .pattern = ClipPattern::kFlat});
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.stage, (SwfRect{0, 11000, 0, 8000}));
  const SwfMatrix& m = rig.transport->Placement();
  // The 320 x 240 video (6400 x 4800 twips) fitted by height: 8000 / 4800 = 5/3.
  EXPECT_EQ(m.scaleX, 2184533);
  EXPECT_EQ(m.scaleY, 2184533);
  EXPECT_EQ(m.translateX, 5500 - 10666 / 2);
  EXPECT_EQ(m.translateY, 0);
  // Three preloader frames, then the video's one.
  EXPECT_EQ(f.frameCount, 4);
  EXPECT_EQ(CountTags(f, kShowFrame), 4u);
  bool overlayAt64005 = false;
  for (const ParsedTag* t : TagsOf(f, kPlaceObject)) {
    if (Le16(t->body, 2) == 64005) overlayAt64005 = true;
  }
  EXPECT_TRUE(overlayAt64005);
  // Only our own background colour (black by default), not the preloader's.
  ASSERT_EQ(CountTags(f, kSetBackgroundColor), 1u);
  EXPECT_EQ(TagsOf(f, kSetBackgroundColor)[0]->body, (std::vector<uint8_t>{0, 0, 0}));
  // The preloader learns the frame rate before its first tag.
  bool fps = false;
  for (const auto& script : Scripts(f)) {
    const auto s = PushedStrings(script);
    if (s.size() == 2 && s[0] == "_fps" && s[1] == "12.00") fps = true;
  }
  EXPECT_TRUE(fps);
}

TEST(PartStartTest, LoopWithPreloaderGoesBackToTheFirstVideoFrame) {
  const std::string pre = WritePreloader(FreshFolder("preloader_loop_src"), 5);
  TransportRig rig;
  rig.settings.transport.playerLoader = pre;
  SetPlayerEndType(rig.settings.transport, PlayerEndType::kLoop);
  const SwfFile f = RunOnce(rig, "preloader_loop");
  const auto scripts = Scripts(f);
  ASSERT_FALSE(scripts.empty());
  const auto& last = scripts.back();
  ASSERT_EQ(last.size(), 3u);
  EXPECT_EQ(last[0].code, 0x81);
  EXPECT_EQ(last[0].data, (std::vector<uint8_t>{3, 0}));
  EXPECT_EQ(last[1].code, 0x06);
}

TEST(PartStartTest, VersionComesFromThePreloaderUnlessMediumQualityOrHiddenCursor) {
  const std::string pre = WritePreloader(FreshFolder("preloader_v6"), 6);
  struct Case {
    PlayerQuality quality;
    bool cursor;
    uint8_t version;
  };
  for (const Case c : {Case{PlayerQuality::kHigh, true, 6}, Case{PlayerQuality::kMedium, true, 5},
                       Case{PlayerQuality::kHigh, false, 5}}) {
    TransportRig rig;
    rig.settings.transport.playerLoader = pre;
    rig.settings.transport.playerQuality = c.quality;
    if (!c.cursor) rig.settings.transport.playerFlags &= ~TransportOptions::kPlayerDisplayCursor;
    const SwfFile f = RunOnce(rig, "version");
    EXPECT_EQ(f.version, c.version) << static_cast<int>(c.quality) << c.cursor;
  }
}

TEST(PartStartTest, RelativePreloaderResolvesAgainstTheBaseFolder) {
  const std::string base = FreshFolder("preloader_base");
  (void)WritePreloader(base, 5);
  TransportRig rig;
  rig.settings.transport.playerLoader = "encoded.swf";
  ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 1, .pattern = ClipPattern::kFlat}, base)) << rig.error;
  const std::string dir = FreshFolder("preloader_relative");
  ASSERT_TRUE(rig.Run(dir)) << rig.error;
  EXPECT_EQ(ReadSwfFile(dir + "encoded.swf").frameCount, 4);
}

TEST(PartStartTest, UnreadablePreloaderFailsTheRun) {
  TransportRig rig;
  rig.settings.transport.playerLoader = "/no/such/preloader.swf";
  ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 1})) << rig.error;
  EXPECT_FALSE(rig.Run(FreshFolder("preloader_missing")));
  EXPECT_EQ(rig.transport->Status(), TransportStatus::kError);
  EXPECT_EQ(rig.transport->ErrorText(), kPreloaderReadError);
}

TEST(PartStartTest, LinkButtonCoversTheStageAboveTheVideo) {
  TransportRig rig;
  SetPlayerLinkType(rig.settings.transport, PlayerLinkType::kGetUrl);
  rig.settings.transport.playerLink = "http://example.org/";
  rig.settings.transport.playerLinkTarget = "_blank";
  const SwfFile f = RunOnce(rig, "link_button");
  const auto rects = TagsOf(f, kDefineShape);
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_EQ(Le16(rects[0]->body, 0), 63999);
  const auto buttons = TagsOf(f, kDefineButton2);
  ASSERT_EQ(buttons.size(), 1u);
  const std::vector<uint8_t>& b = buttons[0]->body;
  EXPECT_EQ(Le16(b, 0), 63998);
  EXPECT_EQ(b[2], 0);  // push button
  // The action offset leads from its own field to the condition record.
  const uint16_t offset = Le16(b, 3);
  ASSERT_LT(3u + offset + 4u, b.size());
  EXPECT_EQ(b[5], 0x08);               // hit-test state only
  EXPECT_EQ(Le16(b, 6), 63999);        // the rectangle
  EXPECT_EQ(b[3 + offset - 1], 0x00);  // end of button records
  EXPECT_EQ(Le16(b, 3 + offset), 0);   // the only condition record
  EXPECT_EQ(b[3 + offset + 2], 0x04);
  EXPECT_EQ(b[3 + offset + 4], 0x83);  // GetUrl
  EXPECT_EQ(b.back(), 0x00);
  bool placed = false;
  for (const ParsedTag* t : TagsOf(f, kPlaceObject)) {
    if (Le16(t->body, 2) == kLinkButtonDepth) {
      placed = true;
      EXPECT_EQ(Le16(t->body, 0), 63998);
    }
  }
  EXPECT_TRUE(placed);
  // The frame shape takes the next id.
  ASSERT_EQ(CountTags(f, kDefineShape2), 1u);
  EXPECT_EQ(Le16(TagsOf(f, kDefineShape2)[0]->body, 0), 63997);
}

TEST(PartStartTest, VariablesProtectCursorAndColourFollowTheSettings) {
  TransportRig rig;
  TransportOptions& o = rig.settings.transport;
  o.playerVar = std::string("  greeting  ,  hello\\nworld \nno comma here\nlast,unterminated");
  o.playerFlags |= TransportOptions::kPlayerProtect;
  o.playerFlags &= ~TransportOptions::kPlayerDisplayCursor;
  o.backColor = 0x1000000;  // none
  o.playerQuality = PlayerQuality::kNone;
  const SwfFile f = RunOnce(rig, "switches");
  EXPECT_EQ(CountTags(f, kProtect), 1u);
  EXPECT_EQ(CountTags(f, kSetBackgroundColor), 0u);
  const auto scripts = Scripts(f);
  ASSERT_GE(scripts.size(), 2u);
  EXPECT_EQ(PushedStrings(scripts[0]), (std::vector<std::string>{"greeting", "hello\nworld"}));
  // Mouse.hide() follows; no quality script.
  EXPECT_EQ(PushedStrings(scripts[1]), (std::vector<std::string>{"hide"}));
  for (const auto& s : scripts) {
    for (const ActionRecord& r : s) EXPECT_NE(r.code, 0x23);  // SetProperty
  }
  // The start tags sit in front of the first frame, with short headers where allowed.
  ASSERT_GE(f.tags.size(), 3u);
  EXPECT_EQ(f.tags[0].code, kDoAction);
  EXPECT_FALSE(f.tags[0].longHeader);
  EXPECT_EQ(f.tags[1].code, kProtect);
}

struct StageCase {
  const char* name;
  float backWidth;
  float backHeight;
  SwfRect stage;
  int32_t translateX;
  int32_t translateY;
};

class StageSizeTest : public ::testing::TestWithParam<StageCase> {};

// The 64 x 48 video is 1280 x 960 twips. Players map the stage's origin to the element's
// top-left pixel and scale its size to the element, so the origin is always (0, 0), the
// size whole twips, and the video centred by its placement.
TEST_P(StageSizeTest, StageStartsAtTheOriginWithTheVideoCentred) {
  const StageCase& c = GetParam();
  TransportRig rig;
  rig.settings.transport.backWidth = c.backWidth;
  rig.settings.transport.backHeight = c.backHeight;
  const SwfFile f = RunOnce(rig, std::string("stage_") + c.name);
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.stage, c.stage);
  const SwfMatrix& m = rig.transport->Placement();
  EXPECT_EQ(m.scaleX, kPixelToTwipScale);
  EXPECT_EQ(m.scaleY, kPixelToTwipScale);
  EXPECT_EQ(m.translateX, c.translateX);
  EXPECT_EQ(m.translateY, c.translateY);
}

INSTANTIATE_TEST_SUITE_P(
    BackSizes, StageSizeTest,
    ::testing::Values(StageCase{"exact", 100.0f, 100.0f, {0, 1280, 0, 960}, 0, 0},
                      StageCase{"half_width", 50.0f, 100.0f, {0, 640, 0, 960}, -320, 0},
                      StageCase{"larger", 120.0f, 110.0f, {0, 1536, 0, 1056}, 128, 48},
                      // 1280 x 33.3 % is 426.24 twips.
                      StageCase{"fraction", 33.3f, 100.0f, {0, 426, 0, 960}, -427, 0},
                      // Hand-edited sizes beyond any sensible stage are held to 1 .. 1000 %.
                      StageCase{"absurd", 1e9f, -100.0f, {0, 12800, 0, 10}, 5760, -475},
                      StageCase{"not_a_number", std::nanf(""), 0.0f, {0, 1280, 0, 10}, 0, -475}),
    [](const ::testing::TestParamInfo<StageCase>& info) { return std::string(info.param.name); });

struct EndCase {
  PlayerEndType type;
  std::vector<uint8_t> opcodes;  // of the last script, end record included
};

class PartEndTest : public ::testing::TestWithParam<EndCase> {};

TEST_P(PartEndTest, SinglePartEndsWithTheChosenActions) {
  TransportRig rig;
  SetPlayerEndType(rig.settings.transport, GetParam().type);
  rig.settings.transport.playerEndLink = "next.swf";
  rig.settings.transport.playerEndLinkTarget = "_self";
  rig.settings.transport.playerQuality = PlayerQuality::kNone;
  const SwfFile f = RunOnce(rig, "end_" + std::to_string(static_cast<int>(GetParam().type)));
  const auto scripts = Scripts(f);
  std::vector<uint8_t> codes;
  if (!scripts.empty()) {
    for (const ActionRecord& r : scripts.back()) codes.push_back(r.code);
  }
  EXPECT_EQ(codes, GetParam().opcodes);
  // The actions sit in the last frame: ShowFrame and End close the file.
  ASSERT_GE(f.tags.size(), 2u);
  EXPECT_EQ(f.tags[f.tags.size() - 2].code, kShowFrame);
}

INSTANTIATE_TEST_SUITE_P(
    EndTypes, PartEndTest,
    ::testing::Values(EndCase{PlayerEndType::kNothing, {}},
                      EndCase{PlayerEndType::kUnload, {0x96, 0x96, 0x9A, 0x00}},
                      EndCase{PlayerEndType::kStop, {0x07, 0x00}},
                      EndCase{PlayerEndType::kStop2, {0x8B, 0x07, 0x8B, 0x09, 0x07, 0x00}},
                      EndCase{PlayerEndType::kLoop, {0x81, 0x06, 0x00}},
                      EndCase{PlayerEndType::kLoopBegin, {0x81, 0x06, 0x00}},
                      // Two scripts each: the load, then the stop that is checked here.
                      EndCase{PlayerEndType::kLoadMovie, {0x07, 0x00}},
                      EndCase{PlayerEndType::kGetUrl, {0x8B, 0x07, 0x8B, 0x09, 0x07, 0x00}}));

}  // namespace
}  // namespace quillon::testing
