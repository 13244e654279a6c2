#include "swf/swf_writer.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "swf_test_reader.h"

namespace quillon {
namespace {

using testing::OutputBytes;
using testing::ParseTags;
using Bytes = std::vector<uint8_t>;

class SwfWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(w.Open()); }
  Bytes Out() const { return OutputBytes(w); }
  SwfWriter w;
};

TEST(SwfBitsTest, CountsSignificantBits) {
  EXPECT_EQ(CountBits(0), 0u);
  EXPECT_EQ(CountBits(1), 1u);
  EXPECT_EQ(CountBits(15), 4u);
  EXPECT_EQ(CountBits(16), 5u);
  EXPECT_EQ(CountBits(1310720), 21u);
  EXPECT_EQ(CountBits(0xFFFFFFFFu), 32u);
  EXPECT_EQ(Magnitude(INT32_MIN), 0x80000000u);
}

TEST_F(SwfWriterTest, WritesRects) {
  w.WriteRect(SwfRect{0, 0, 0, 0});
  EXPECT_EQ(Out(), (Bytes{0b00001'0'0'0, 0b0'0000000}));  // Nbits 1, four zero fields

  ASSERT_TRUE(w.Open());
  w.WriteRect(SwfRect{0, 10, 0, 5});
  EXPECT_EQ(Out(), (Bytes{0x28, 0x14, 0x02, 0x80}));

  // Negative corners are sign-extended two's complement of the same width.
  ASSERT_TRUE(w.Open());
  w.WriteRect(SwfRect{-1, 1, -1, 1});
  EXPECT_EQ(Out(), (Bytes{0b00010'11'0, 0b1'11'01'000}));
}

TEST_F(SwfWriterTest, WritesMatrices) {
  // 20x scale, no translation: NScaleBits 22, NTranslateBits 0.
  w.WriteMatrix(SwfMatrix::Scale(kPixelToTwipScale, kPixelToTwipScale));
  EXPECT_EQ(Out(), (Bytes{0xD9, 0x40, 0x00, 0x05, 0x00, 0x00, 0x00}));

  ASSERT_TRUE(w.Open());
  w.WriteMatrix(nullptr);
  EXPECT_EQ(Out(), (Bytes{0x00}));

  // Unit scale is omitted; translation alone.
  ASSERT_TRUE(w.Open());
  w.WriteMatrix(SwfMatrix::Scale(kFixedOne, kFixedOne, -3, 100));
  EXPECT_EQ(Out(), (Bytes{0x11, 0xFA, 0xC8}));

  ASSERT_TRUE(w.Open());
  w.WriteMatrix(SwfMatrix{131072, 32768, -32768, 32768, 0, 0});
  EXPECT_EQ(Out(), (Bytes{0xCD, 0x00, 0x00, 0x08, 0x00, 0x0C, 0x50, 0x00, 0x18, 0x00, 0x00, 0x00}));

  // One scale term at 1.0 is not enough to drop the scale.
  ASSERT_TRUE(w.Open());
  w.WriteMatrix(SwfMatrix::Scale(kFixedOne, 2 * kFixedOne));
  EXPECT_EQ(Out()[0] >> 7, 1);
}

TEST_F(SwfWriterTest, WritesColorTransforms) {
  w.WriteEmptyColorTransform();
  w.WriteColorTransform(SwfColorTransform{}, false);
  w.WriteColorTransform(SwfColorTransform{}, true);
  EXPECT_EQ(Out(), (Bytes{0x04, 0x04, 0x04}));

  ASSERT_TRUE(w.Open());
  SwfColorTransform mult;
  mult.flags = SwfColorTransform::kHasMultiply;
  mult.redMultiply = 128;
  mult.greenMultiply = 256;
  mult.blueMultiply = -1;
  mult.alphaMultiply = 30000;  // ignored without alpha, also for the width
  w.WriteColorTransform(mult, false);
  EXPECT_EQ(Out(), (Bytes{0x68, 0x80, 0x40, 0x3F, 0xF0}));

  ASSERT_TRUE(w.Open());
  SwfColorTransform add;
  add.flags = SwfColorTransform::kHasAdd;
  add.redAdd = 1;
  add.greenAdd = 2;
  add.blueAdd = 3;
  add.alphaAdd = -255;
  add.redMultiply = 9999;  // not present: ignored
  w.WriteColorTransform(add, true);
  EXPECT_EQ(Out(), (Bytes{0xA4, 0x02, 0x02, 0x01, 0xC0, 0x40}));
}

TEST_F(SwfWriterTest, WritesStyleArrays) {
  w.WriteStyleCount(254);
  w.WriteStyleCount(255);
  w.WriteStyleCount(0x1234);
  EXPECT_EQ(Out(), (Bytes{0xFE, 0xFF, 0xFF, 0x00, 0xFF, 0x34, 0x12}));

  ASSERT_TRUE(w.Open());
  const std::vector<SwfFillStyle> fills = {
      SwfFillStyle::Solid(SwfRgb{1, 2, 3, 4}),
      SwfFillStyle::ClippedBitmap(0xF9FF, SwfMatrix::Scale(kFixedOne, kFixedOne, -3, 100))};
  w.WriteFillStyles(fills, false);
  w.WriteLineStyles({SwfLineStyle{20, SwfRgb{9, 8, 7, 6}}}, true);
  EXPECT_EQ(Out(), (Bytes{0x02, 0x00, 1, 2, 3, 0x41, 0xFF, 0xF9, 0x11, 0xFA, 0xC8,  // fills
                          0x01, 20, 0, 9, 8, 7, 6}));                               // lines
}

TEST_F(SwfWriterTest, WritesShapeRecords) {
  SwfStyleChange change;
  change.moveTo = SwfStyleChange::Point{-7, 300};
  change.fillStyle0 = 2;
  change.fillStyle1 = 3;
  change.lineStyle = 1;
  w.WriteStyleChange(change, 2, 1);
  w.FlushBits();
  EXPECT_EQ(Out(), (Bytes{0x3D, 0x5F, 0xCA, 0x59, 0x70}));

  ASSERT_TRUE(w.Open());
  w.WriteStraightEdge(3, -4);  // general line
  w.FlushBits();
  w.WriteStraightEdge(0, 0);  // degenerate: still a valid 2-bit field, not a wrapped one
  w.FlushBits();
  w.WriteEndShape();
  EXPECT_EQ(Out(), (Bytes{0xCA, 0x78, 0xC0, 0x00, 0x00}));
}

TEST_F(SwfWriterTest, WritesRectangleShape) {
  w.WriteRectangleShape(1, 10, 5, 0, 0, true);
  const Bytes out = Out();
  const auto tags = ParseTags(out);
  ASSERT_EQ(tags.size(), 1u);
  EXPECT_EQ(tags[0].code, 2);
  EXPECT_TRUE(tags[0].longHeader);
  // Corners given in reverse: bounds are still ordered; the pen moves to (10, 5) first.
  const Bytes expectedStart = {0x01, 0x00, 0x28, 0x14, 0x02, 0x80, 0x01, 0x00, 0, 0, 0, 0x00};
  EXPECT_EQ(testing::Slice(tags[0].body, 0, expectedStart.size()), expectedStart);

  ASSERT_TRUE(w.Open());
  w.WriteRectangleShape(1, 0, 0, 10, 5, true);
  const auto plain = ParseTags(Out());
  ASSERT_EQ(plain.size(), 1u);
  const Bytes expected = {0x01, 0x00,                                             // ShapeId
                          0x28, 0x14, 0x02, 0x80,                                 // bounds
                          0x01, 0x00, 0x00, 0x00, 0x00,                           // black fill
                          0x00,                                                   // no lines
                          0x10, 0x13, 0x98, 0xAC, 0x95, 0xCC, 0xB6, 0x4D, 0x80};  // records
  EXPECT_EQ(plain[0].body, expected);
}

TEST_F(SwfWriterTest, WritesFixedTags) {
  w.WriteShowFrame();
  w.WriteEnd();
  w.WriteRemoveObject2(0x0102);
  w.WriteFreeCharacter(0xF9FF);
  w.WriteSetBackgroundColor(0x112233);
  EXPECT_EQ(Out(), (Bytes{0x40, 0x00, 0x00, 0x00, 0x02, 0x07, 0x02, 0x01, 0xC2, 0x00, 0xFF, 0xF9,
                          0x43, 0x02, 0x11, 0x22, 0x33}));

  ASSERT_TRUE(w.Open());
  w.WriteProtect();
  w.WritePlaceObject(7, 3, nullptr);
  SwfColorTransform none;
  const SwfMatrix twenty = SwfMatrix::Scale(kPixelToTwipScale, kPixelToTwipScale);
  w.WritePlaceObject(8, 4, &twenty, &none);
  w.Compact(0, w.Cursor());
  EXPECT_EQ(Out(), (Bytes{0x00, 0x06,                                // Protect, empty
                          0x05, 0x01, 0x07, 0x00, 0x03, 0x00, 0x00,  // PlaceObject
                          0x0C, 0x01, 0x08, 0x00, 0x04, 0x00,        // PlaceObject ...
                          0xD9, 0x40, 0x00, 0x05, 0x00, 0x00, 0x00, 0x04}));
}

TEST_F(SwfWriterTest, BeginAndEndTagPatchLength) {
  w.Put8(0xAA);
  w.BeginTag(TagCode::kDoAction);
  EXPECT_EQ(Out(), (Bytes{0xAA, 0x3F, 0x03, 0x99, 0x99, 0x99, 0x99}));
  EXPECT_EQ(w.OpenTagBodyStart(), 7u);
  w.Put16(0x1234);
  w.Put8(0);
  w.EndTag();
  EXPECT_EQ(Out(), (Bytes{0xAA, 0x3F, 0x03, 0x03, 0x00, 0x00, 0x00, 0x34, 0x12, 0x00}));
  EXPECT_EQ(w.Cursor(), 10u);
}

// Writes a long-header tag with a body of n bytes.
void LongTag(SwfWriter& w, TagCode code, uint32_t n) {
  w.BeginTag(code);
  for (uint32_t i = 0; i < n; ++i) w.Put8(static_cast<uint8_t>(i));
  w.EndTag();
}

TEST_F(SwfWriterTest, CompactShortensOnlyWhatMayBeShort) {
  w.Put32(0xCAFEBABE);  // bytes before `from` are not tags and stay
  const uint32_t from = w.Cursor();
  LongTag(w, TagCode::kDoAction, 62);
  LongTag(w, TagCode::kDoAction, 63);
  LongTag(w, TagCode::kPlaceObject, 0);
  for (TagCode keep :
       {TagCode::kDefineBits, TagCode::kSoundStreamBlock, TagCode::kDefineBitsLossless,
        TagCode::kDefineBitsJpeg2, TagCode::kDefineBitsJpeg3, TagCode::kDefineBitsLossless2}) {
    LongTag(w, keep, 10);
  }
  w.WriteShowFrame();
  const uint32_t end = w.Compact(from, w.Cursor());
  EXPECT_EQ(end, w.Cursor());
  const Bytes out = Out();
  EXPECT_EQ(testing::Slice(out, 0, 4), (Bytes{0xBE, 0xBA, 0xFE, 0xCA}));
  const auto tags = ParseTags(out, from);
  ASSERT_EQ(tags.size(), 10u);
  EXPECT_FALSE(tags[0].longHeader);
  EXPECT_EQ(tags[0].body.size(), 62u);
  EXPECT_EQ(tags[0].body[61], 61);
  EXPECT_TRUE(tags[1].longHeader);
  EXPECT_EQ(tags[1].body.size(), 63u);
  EXPECT_FALSE(tags[2].longHeader);
  for (int i = 3; i < 9; ++i) {
    EXPECT_TRUE(tags[i].longHeader) << "code " << tags[i].code;
    EXPECT_EQ(tags[i].body.size(), 10u);
  }
  EXPECT_EQ(tags[9].code, 1);
  // 4 + (2 + 62) + (6 + 63) + 2 + 6 * 16 + 2
  EXPECT_EQ(end, 4u + 64 + 69 + 2 + 96 + 2);
}

TEST_F(SwfWriterTest, CompactTruncatesAtEndAndStopsAtOpenTag) {
  LongTag(w, TagCode::kDoAction, 3);
  const uint32_t mid = w.Cursor();
  w.BeginTag(TagCode::kDefineShape2);  // still open: placeholder length runs past the end
  w.Put8(1);
  const uint32_t end = w.Compact(0, w.Cursor());
  const Bytes out = Out();
  EXPECT_EQ(end, mid - 4 + 7u);
  EXPECT_EQ(out.size(), end);
  EXPECT_EQ(testing::Slice(out, 5, 7), (Bytes{0xBF, 0x05, 0x99, 0x99, 0x99, 0x99, 0x01}));

  ASSERT_TRUE(w.Open());
  LongTag(w, TagCode::kDoAction, 3);
  LongTag(w, TagCode::kDoAction, 3);
  // Only the first tag is walked; everything past `end` is cut off.
  EXPECT_EQ(w.Compact(0, 9), 5u);
  EXPECT_EQ(Out(), (Bytes{0x03, 0x03, 0x00, 0x01, 0x02}));
}

TEST_F(SwfWriterTest, FileHeaderRemembersPositionsAndFinishPatchesThem) {
  w.WriteFileHeader(5, SwfRect{0, 6400, 0, 4800}, 12.5);
  EXPECT_EQ(w.FrameCountPosition(), 4u + 4 + 8 + 2);
  EXPECT_EQ(w.AfterHeaderPosition(), w.FrameCountPosition() + 2);
  w.WriteShowFrame();
  w.WriteEnd();
  w.FinishPart(1234);
  const Bytes out = Out();
  EXPECT_EQ(out, (Bytes{'F',  'W',  'S',  5,                             // signature
                        24,   0,    0,    0,                             // file length
                        0x70, 0x00, 0x0C, 0x80, 0x00, 0x00, 0x96, 0x00,  // stage
                        0x80, 0x0C,                                      // 12.5 fps
                        0xD2, 0x04,                                      // frames
                        0x40, 0x00, 0x00, 0x00}));
}

TEST(SwfWriterPartFileTest, NamesParts) {
  EXPECT_EQ(SwfWriter::PartFileName("/tmp/x/", 1), "/tmp/x/encoded.swf");
  EXPECT_EQ(SwfWriter::PartFileName("/tmp/x/", 2), "/tmp/x/encoded2.swf");
  EXPECT_EQ(SwfWriter::PartFileName("", 12), "encoded12.swf");
}

class SwfWriterFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::path(QUILLON_TEST_BINARY_DIR) / "swf_test_parts" /
          std::to_string(::getpid());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    prefix = dir.string() + "/";
    ASSERT_TRUE(w.Open(64, 64, 1.0f));
    w.Put32(0x01020304);
    w.Put8(5);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::filesystem::path dir;
  std::string prefix;
  SwfWriter w;
};

TEST_F(SwfWriterFileTest, WritesBufferUpToCursorAndTruncatesOldFile) {
  {
    std::ofstream old(dir / "encoded3.swf", std::ios::binary);
    old << std::string(100, 'x');
  }
  w.Put8(6);
  w.Output()->Seek(5);  // bytes past the cursor are not part of the file
  ASSERT_TRUE(w.WritePartFile(prefix, 3)) << w.lastError;
  std::ifstream in(dir / "encoded3.swf", std::ios::binary);
  const Bytes got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(got, (Bytes{4, 3, 2, 1, 5}));
}

TEST_F(SwfWriterFileTest, ReportsFilesThatCannotBeWritten) {
  EXPECT_FALSE(w.WritePartFile(prefix + "missing/", 1));
  EXPECT_EQ(w.lastError, kPartWriteError);

  std::error_code ec;
  std::filesystem::create_symlink("/dev/full", dir / "encoded.swf", ec);
  if (ec) GTEST_SKIP() << "cannot link /dev/full";
  EXPECT_FALSE(w.WritePartFile(prefix, 1));
  EXPECT_EQ(w.lastError, kPartWriteError);
}

TEST_F(SwfWriterFileTest, RefusesToStoreAPartThatLostBytes) {
  w.Output()->SetCapacityLimit(64);
  const Bytes big(100, 1);
  w.Append(big.data(), static_cast<uint32_t>(big.size()));
  EXPECT_TRUE(w.OutputFailed());
  EXPECT_FALSE(w.WritePartFile(prefix, 1));
  EXPECT_FALSE(w.lastError.empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "encoded.swf"));
}

// A part of header, a few MB of tags and a first tag known only at the end, written whole or
// streamed with any guess at that tag's size: the files must be the same bytes.
TEST_F(SwfWriterFileTest, StreamedPartIsTheWholePartWhateverTheReserve) {
  const auto build = [](SwfWriter& part, bool stream, const std::string& path, uint32_t reserve,
                        uint32_t insertLength) {
    if (!part.Open()) return false;
    part.WriteFileHeader(5, SwfRect{0, 2000, 0, 1000}, 12.0);
    if (stream && !part.StreamTo(path, reserve)) return false;
    uint32_t frames = 0;
    for (uint32_t i = 0; i < 300; ++i, ++frames) {
      part.BeginTag(TagCode::kDefineBitsJpeg2);
      for (uint32_t k = 0; k < 10000 + 37 * i; ++k) part.Put8(static_cast<uint8_t>(k * 7 + i));
      part.EndTag();
      part.WriteShowFrame();
      // Everything but the ShowFrame just written is final.
      if (!part.Commit(part.Cursor() - 2)) return false;
    }
    part.WriteEnd();
    const Bytes insert(insertLength, 0xA5);
    if (!part.SetHeaderInsert(insert.data(), insertLength)) return false;
    part.FinishPart(frames);
    return part.WritePartFile(path.substr(0, path.rfind('/') + 1), 1);
  };
  for (const uint32_t insert : {0u, 40u}) {
    SwfWriter whole;
    const std::string wholePath = prefix + "encoded.swf";
    ASSERT_TRUE(build(whole, false, wholePath, 0, insert)) << whole.lastError;
    std::ifstream in(wholePath, std::ios::binary);
    const Bytes expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(expected.size(), 3u << 20);
    EXPECT_EQ(expected[4] | expected[5] << 8 | expected[6] << 16 | expected[7] << 24,
              static_cast<int>(expected.size()));
    for (const uint32_t reserve : {0u, 13u, 40u, 95u}) {
      SCOPED_TRACE("insert " + std::to_string(insert) + ", reserve " + std::to_string(reserve));
      const std::string streamDir = prefix + "s" + std::to_string(reserve) + "/";
      std::filesystem::create_directories(streamDir);
      SwfWriter streamed;
      ASSERT_TRUE(build(streamed, true, streamDir + "encoded.swf", reserve, insert))
          << streamed.lastError;
      // The buffer held about a frame, never the part.
      EXPECT_LT(streamed.Output()->Capacity(), 64u * 1024);
      std::ifstream got(streamDir + "encoded.swf", std::ios::binary);
      EXPECT_TRUE(Bytes((std::istreambuf_iterator<char>(got)), std::istreambuf_iterator<char>()) ==
                  expected);
    }
  }
}

TEST_F(SwfWriterFileTest, StreamedPartThatFailsLeavesNoFile) {
  // Out of memory half-way: the part is refused and its file removed.
  SwfWriter part;
  ASSERT_TRUE(part.Open(64, 64, 1.0f));
  part.WriteFileHeader(5, SwfRect{0, 20, 0, 20}, 12.0);
  ASSERT_TRUE(part.StreamTo(prefix + "encoded.swf", 0));
  const Bytes frame(500, 3);
  part.Append(frame.data(), 500);
  ASSERT_TRUE(part.Commit(part.Cursor()));
  part.Output()->SetCapacityLimit(600);
  part.Append(Bytes(1000, 4).data(), 1000);
  EXPECT_FALSE(part.WritePartFile(prefix, 1));
  EXPECT_FALSE(std::filesystem::exists(dir / "encoded.swf"));

  // Reaching back into committed bytes is refused and fails the part.
  ASSERT_TRUE(part.Open(64, 64, 1.0f));
  part.WriteFileHeader(5, SwfRect{0, 20, 0, 20}, 12.0);
  ASSERT_TRUE(part.StreamTo(prefix + "encoded.swf", 0));
  part.Append(frame.data(), 500);
  const uint32_t committed = part.Cursor();
  ASSERT_TRUE(part.Commit(committed));
  part.Append(frame.data(), 10);
  EXPECT_EQ(part.Output()->Truncate(committed - 1), committed + 10);
  EXPECT_TRUE(part.OutputFailed());
  EXPECT_FALSE(part.WritePartFile(prefix, 1));
  EXPECT_FALSE(std::filesystem::exists(dir / "encoded.swf"));

  // A part abandoned before its end (a cancel) leaves nothing either.
  ASSERT_TRUE(part.Open());
  part.WriteFileHeader(5, SwfRect{0, 20, 0, 20}, 12.0);
  ASSERT_TRUE(part.StreamTo(prefix + "encoded.swf", 0));
  part.Append(frame.data(), 500);
  ASSERT_TRUE(part.Commit(part.Cursor()));
  part.Close();
  EXPECT_FALSE(std::filesystem::exists(dir / "encoded.swf"));

  // A full disk: the error surfaces at a commit or at the end, and the link is removed.
  std::error_code ec;
  std::filesystem::create_symlink("/dev/full", dir / "encoded.swf", ec);
  if (ec) GTEST_SKIP() << "cannot link /dev/full";
  ASSERT_TRUE(part.Open());
  part.WriteFileHeader(5, SwfRect{0, 20, 0, 20}, 12.0);
  ASSERT_TRUE(part.StreamTo(prefix + "encoded.swf", 0));
  bool committed2 = true;
  for (int i = 0; i < 100 && committed2; ++i) {
    part.Append(frame.data(), 500);
    committed2 = part.Commit(part.Cursor());
  }
  EXPECT_FALSE(committed2);
  EXPECT_EQ(part.lastError, kPartWriteError);
  EXPECT_FALSE(part.WritePartFile(prefix, 1));
  EXPECT_EQ(part.lastError, kPartWriteError);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir / "encoded.swf")));
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));
}

}  // namespace
}  // namespace quillon
