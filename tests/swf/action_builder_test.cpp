#include "swf/action_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "swf_test_reader.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

class ActionBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(w.Open()); }
  Bytes Out() const { return testing::OutputBytes(w); }
  // The body of the one DoAction the script wrote, after normalisation.
  Bytes ScriptBody() {
    w.Compact(0, w.Cursor());
    const auto tags = testing::ParseTags(Out());
    EXPECT_EQ(tags.size(), 1u);
    if (tags.empty()) return {};
    EXPECT_EQ(tags[0].code, 12);
    return tags[0].body;
  }
  SwfWriter w;
  ActionBuilder a{w};
};

TEST_F(ActionBuilderTest, WritesPushes) {
  a.PushString("");
  a.PushString("ab");
  a.PushFloat(16.0f);
  a.PushFloat(19.0f);
  EXPECT_EQ(Out(), (Bytes{0x96, 0x02, 0x00, 0x00, 0x00,                    // ""
                          0x96, 0x04, 0x00, 0x00, 'a',  'b',  0x00,        // "ab"
                          0x96, 0x05, 0x00, 0x01, 0x00, 0x00, 0x80, 0x41,  // 16.0
                          0x96, 0x05, 0x00, 0x01, 0x00, 0x00, 0x98, 0x41}));
}

TEST_F(ActionBuilderTest, CutsStringsAtEmbeddedNul) {
  // The format has no way to carry a NUL inside a string; the length must match the text.
  a.PushString(std::string("a\0b", 3));
  a.GetUrl(std::string("u\0x", 3), "t");
  EXPECT_EQ(Out(), (Bytes{0x96, 0x03, 0x00, 0x00, 'a', 0x00,  // push "a"
                          0x83, 0x04, 0x00, 'u', 0x00, 't', 0x00}));
}

TEST_F(ActionBuilderTest, WritesUrlAndFrameActions) {
  a.GetUrl("http://x", "_blank");
  a.LoadTarget("m.swf", "", 0);
  a.GotoFrame(0x0102);
  a.Play();
  a.Stop();
  a.GetVariable();
  a.SetVariable();
  a.SetProperty();
  a.PutLong(0x11223344);
  EXPECT_EQ(Out(),
            (Bytes{0x83, 0x10, 0x00, 'h',  't',  't',  'p',  ':',  '/', '/',  'x', 0x00,  // GetUrl
                   '_',  'b',  'l',  'a',  'n',  'k',  0x00,                              //
                   0x96, 0x07, 0x00, 0x00, 'm',  '.',  's',  'w',  'f', 0x00,             // url
                   0x96, 0x02, 0x00, 0x00, 0x00,                                          // target
                   0x9A, 0x01, 0x00, 0x40,                                                // GetUrl2
                   0x81, 0x02, 0x00, 0x02, 0x01,  // GotoFrame
                   0x06, 0x07, 0x1C, 0x1D, 0x23, 0x44, 0x33, 0x22, 0x11}));
}

TEST_F(ActionBuilderTest, SetQualityScriptPicksPropertyAndValue) {
  a.SetQualityScript(4);
  EXPECT_EQ(Out(), (Bytes{0x3F, 0x03, 0x15, 0x00, 0x00, 0x00,              // DoAction
                          0x96, 0x02, 0x00, 0x00, 0x00,                    // ""
                          0x96, 0x05, 0x00, 0x01, 0x00, 0x00, 0x80, 0x41,  // 16.0
                          0x96, 0x03, 0x00, 0x00, '2',  0x00,              // "2"
                          0x23, 0x00}));                                   // SetProperty

  ASSERT_TRUE(w.Open());
  a.SetQualityScript(2);
  EXPECT_EQ(ScriptBody(),
            (Bytes{0x96, 0x02, 0x00, 0x00, 0x00,                    //
                   0x96, 0x05, 0x00, 0x01, 0x00, 0x00, 0x98, 0x41,  // 19.0
                   0x96, 0x08, 0x00, 0x00, 'M',  'E',  'D',  'I',  'U', 'M', 0x00, 0x23, 0x00}));

  for (auto [quality, text] : {std::pair{1u, "0"}, std::pair{3u, "1"}}) {
    ASSERT_TRUE(w.Open());
    a.SetQualityScript(quality);
    EXPECT_EQ(testing::PushedStrings(testing::ParseActions(ScriptBody())), (Strings{"", text}));
  }
}

TEST_F(ActionBuilderTest, HideCursorScriptIsFixed) {
  a.HideCursorScript();
  const Bytes body = ScriptBody();
  ASSERT_EQ(body.size(), 33u);
  EXPECT_EQ(testing::Slice(body, 0, 4), (Bytes{0x96, 0x10, 0x00, 0x06}));
  EXPECT_EQ(testing::Slice(body, 13, 6), (Bytes{'M', 'o', 'u', 's', 'e', 0x00}));
  EXPECT_EQ(testing::Slice(body, 29, 4), (Bytes{0x52, 0x17, 0x00, 0x00}));
}

TEST_F(ActionBuilderTest, StopAllScriptStopsOverlayAndSounds) {
  a.StopAllScript();
  EXPECT_EQ(ScriptBody(), (Bytes{0x8B, 0x09, 0x00, '_',  'o', 'v', 'e', 'r', 'l', 'a', 'y', 0x00,
                                 0x07,                    // stop the overlay
                                 0x8B, 0x01, 0x00, 0x00,  // back to the main timeline
                                 0x09, 0x07, 0x00}));     // stop sounds, stop, end
}

TEST_F(ActionBuilderTest, SmallScripts) {
  a.GotoScript(3, true);
  a.GotoScript(0, false);
  a.StopScript();
  a.UnloadScript("");
  a.LoadFromVariableScript("nextPart", "");
  a.GetUrlScript("u", "t");
  a.LoadMovieScript("m", "");
  w.Compact(0, w.Cursor());
  const auto tags = testing::ParseTags(Out());
  ASSERT_EQ(tags.size(), 7u);
  EXPECT_EQ(tags[0].body, (Bytes{0x81, 0x02, 0x00, 0x03, 0x00, 0x06, 0x00}));
  EXPECT_EQ(tags[1].body, (Bytes{0x81, 0x02, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(tags[2].body, (Bytes{0x07, 0x00}));
  EXPECT_EQ(tags[3].body, (Bytes{0x96, 0x02, 0x00, 0x00, 0x00, 0x96, 0x02, 0x00, 0x00, 0x00, 0x9A,
                                 0x01, 0x00, 0x40, 0x00}));
  EXPECT_EQ(tags[4].body,
            (Bytes{0x96, 0x0A, 0x00, 0x00, 'n',  'e', 'x', 't', 'P', 'a', 'r', 't', 0x00,
                   0x1C,                          // fetch the file name
                   0x96, 0x02, 0x00, 0x00, 0x00,  // empty target
                   0x9A, 0x01, 0x00, 0x40, 0x00}));
  EXPECT_EQ(tags[5].body, (Bytes{0x83, 0x04, 0x00, 'u', 0x00, 't', 0x00, 0x00}));
  EXPECT_EQ(testing::PushedStrings(testing::ParseActions(tags[6].body)), (Strings{"m", ""}));
  for (const auto& t : tags) EXPECT_FALSE(t.longHeader);
}

// (name, value) pairs set by a script of push, push, SetVariable triples.
std::vector<std::pair<std::string, std::string>> Assignments(const Bytes& body) {
  const auto records = testing::ParseActions(body);
  std::vector<std::pair<std::string, std::string>> out;
  Strings pending;
  for (const auto& r : records) {
    for (std::string& text : testing::PushedStrings({r})) pending.push_back(std::move(text));
    if (r.code == 0x1D && pending.size() == 2) {
      out.emplace_back(pending[0], pending[1]);
      pending.clear();
    }
  }
  return out;
}

TEST_F(ActionBuilderTest, PartVariablesLinkNeighbours) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  a.PartVariablesScript("encoded", 1, false);
  EXPECT_EQ(Assignments(ScriptBody()), (Pairs{{"thisPartNum", "1"}, {"nextPart", "encoded2.swf"}}));

  ASSERT_TRUE(w.Open());
  a.PartVariablesScript("encoded", 2, true);
  EXPECT_EQ(
      Assignments(ScriptBody()),
      (Pairs{{"thisPartNum", "2"}, {"prevPart", "encoded.swf"}, {"firstPart", "encoded.swf"}}));

  ASSERT_TRUE(w.Open());
  a.PartVariablesScript("encoded", 3, false);
  EXPECT_EQ(Assignments(ScriptBody()), (Pairs{{"thisPartNum", "3"},
                                              {"prevPart", "encoded2.swf"},
                                              {"nextPart", "encoded4.swf"},
                                              {"firstPart", "encoded.swf"}}));
}

TEST_F(ActionBuilderTest, SetVariablesScriptParsesLines) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  a.SetVariablesScript("  name \t, two words\\nnext \nno comma here\n,empty name\nk,a,b\nlast,x");
  EXPECT_EQ(Assignments(ScriptBody()),
            (Pairs{{"name", "two words\nnext"}, {"", "empty name"}, {"k", "a,b"}}));

  ASSERT_TRUE(w.Open());
  a.SetVariablesScript("no comma\nunterminated,line");
  a.SetVariablesScript("");
  EXPECT_EQ(w.Cursor(), 0u);
}

}  // namespace
}  // namespace quillon
