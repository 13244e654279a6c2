#include "swf/transport/bitmap_definitions.h"

#include <gtest/gtest.h>
// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on
#include <zlib.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "settings/encoder_settings.h"
#include "swf/swf_test_reader.h"
#include "swf/swf_writer.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::ParsedTag;
using testing::ParseTags;

constexpr uint32_t kAllEncoders =
    TransportOptions::kJpeg | TransportOptions::kZlib32 | TransportOptions::kZlib8;

// A Y, Cb, Cr image whose pixel (x, y) is given by f.
template <typename F>
std::unique_ptr<FrameImage> MakeImage(uint32_t w, uint32_t h, F f) {
  auto image = std::make_unique<FrameImage>(ColourTag::kYCbCr);
  EXPECT_TRUE(image->Allocate(w, h));
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const Colour c = f(x, y);
      std::memcpy(image->Row(y) + x * 3, c.data(), 3);
    }
  }
  return image;
}

Colour Grey(uint8_t v) {
  return Colour{v, 128, 128};
}

Bytes Inflate(const uint8_t* data, size_t size, size_t expected) {
  Bytes out(expected + 16);
  uLongf got = out.size();
  EXPECT_EQ(uncompress(out.data(), &got, data, size), Z_OK);
  out.resize(got);
  return out;
}

class BitmapDefinitionsTest : public ::testing::Test {
 protected:
  // A stage for a frame of the given size in 8 x 8 blocks, without matching stages.
  void SetUpStage(uint32_t flags, uint32_t width = 128, uint32_t height = 128) {
    options.flags = flags;
    ASSERT_TRUE(bitmaps.Initialise(options, nullptr, nullptr, nullptr, width, height, 8, 8));
    ASSERT_TRUE(writer.Open());
  }
  FrameBitmap Encode(const FrameImage& image, int32_t x, int32_t y, int32_t w, int32_t h,
                     bool transient = false) {
    FrameBitmap b;
    EXPECT_TRUE(bitmaps.EncodeBitmap(image, x, y, w, h, transient, b)) << bitmaps.lastError;
    return b;
  }
  std::vector<ParsedTag> Tags() { return ParseTags(testing::OutputBytes(writer)); }

  TransportOptions options;
  BitmapDefinitions bitmaps;
  SwfWriter writer;
};

TEST(BitmapHalvingTest, FlatBlockHalvesDownToEightWithZeroThreshold) {
  const auto image = MakeImage(64, 64, [](uint32_t, uint32_t) { return Grey(77); });
  HalvingRule rule{true, true, false, 0.0f, 0};
  auto shrunk = BitmapDefinitions::HalveBlock(*image, 0, 0, 64, 64, rule);
  ASSERT_TRUE(shrunk);
  EXPECT_EQ(shrunk->Width(), 8u);
  EXPECT_EQ(shrunk->Height(), 8u);

  rule.powerOfTwo = true;
  const auto wide = MakeImage(48, 64, [](uint32_t, uint32_t) { return Grey(77); });
  shrunk = BitmapDefinitions::HalveBlock(*wide, 0, 0, 48, 64, rule);
  ASSERT_TRUE(shrunk);
  EXPECT_EQ(shrunk->Width(), 48u);  // 48 has two bits set: never halved
  EXPECT_EQ(shrunk->Height(), 8u);
  const auto big = MakeImage(256, 8, [](uint32_t, uint32_t) { return Grey(1); });
  EXPECT_FALSE(BitmapDefinitions::HalveBlock(*big, 0, 0, 256, 8, rule));  // low byte of 256 is 0
}

TEST(BitmapHalvingTest, OddAndSmallWidths) {
  const HalvingRule rule{true, false, false, 0.0f, 0};
  const auto image = MakeImage(40, 40, [](uint32_t, uint32_t) { return Grey(9); });
  EXPECT_FALSE(BitmapDefinitions::HalveBlock(*image, 0, 0, 15, 40, rule));  // below 16
  auto shrunk = BitmapDefinitions::HalveBlock(*image, 0, 0, 17, 40, rule);
  ASSERT_TRUE(shrunk);
  EXPECT_EQ(shrunk->Width(), 8u);  // 17 -> 8, the last column dropped
  EXPECT_EQ(shrunk->Height(), 40u);
  EXPECT_FALSE(BitmapDefinitions::HalveBlock(*image, 0, 0, 8, 8, HalvingRule{true, true}));
  // Clipped to the image first: 40 - 24 = 16 columns remain and halve to 8.
  shrunk = BitmapDefinitions::HalveBlock(*image, 24, 0, 64, 40, rule);
  ASSERT_TRUE(shrunk);
  EXPECT_EQ(shrunk->Width(), 8u);
}

TEST(BitmapHalvingTest, StopsAtTheFirstPairOverTheThreshold) {
  // Columns alternate between 100 and 110 (squared distance 100 per pair).
  const auto image =
      MakeImage(32, 16, [](uint32_t x, uint32_t) { return Grey(x % 2 ? 110 : 100); });
  EXPECT_FALSE(BitmapDefinitions::HalveBlock(*image, 0, 0, 32, 16, {true, false, false, 99.0f, 0}));
  auto shrunk =
      BitmapDefinitions::HalveBlock(*image, 0, 0, 32, 16, {true, false, false, 100.0f, 0});
  ASSERT_TRUE(shrunk);
  EXPECT_EQ(shrunk->Width(), 8u);  // after the first halving every pair is equal
  // Method 1 allows twice the threshold and averages.
  shrunk = BitmapDefinitions::HalveBlock(*image, 0, 0, 32, 16, {true, false, false, 50.0f, 1});
  ASSERT_TRUE(shrunk);
  EXPECT_EQ(shrunk->Row(0)[0], 105);
}

TEST(BitmapEncoderChoiceTest, MixedAndLosslessCasesBreakTiesDifferently) {
  const EncoderSizes example{true, 300, true, 120, true, 120};
  EXPECT_EQ(BitmapDefinitions::ChooseEncoder(kAllEncoders, example), kBitmapZlib32);
  EXPECT_EQ(BitmapDefinitions::ChooseEncoder(kAllEncoders & ~TransportOptions::kJpeg, example),
            kBitmapZlib8);

  EXPECT_EQ(BitmapDefinitions::ChooseEncoder(kAllEncoders, {true, 119, true, 120, true, 120}),
            kBitmapJpeg);
  EXPECT_EQ(BitmapDefinitions::ChooseEncoder(kAllEncoders, {true, 120, true, 130, true, 120}),
            kBitmapZlib8);  // JPEG must be strictly smaller
  EXPECT_EQ(BitmapDefinitions::ChooseEncoder(kAllEncoders, {true, 500, true, 130, false, 0}),
            kBitmapZlib32);  // palette failed
  const uint32_t jpegAnd8 = TransportOptions::kJpeg | TransportOptions::kZlib8;
  EXPECT_EQ(BitmapDefinitions::ChooseEncoder(jpegAnd8, {true, 500, false, 0, false, 0}),
            kBitmapJpeg);
  EXPECT_EQ(BitmapDefinitions::ChooseEncoder(jpegAnd8, {true, 500, false, 0, true, 80}),
            kBitmapZlib8);

  const uint32_t lossless = TransportOptions::kZlib32 | TransportOptions::kZlib8;
  EXPECT_EQ(BitmapDefinitions::ChooseEncoder(lossless, {false, 0, true, 99, true, 100}),
            kBitmapZlib32);
  EXPECT_EQ(BitmapDefinitions::ChooseEncoder(lossless, {false, 0, true, 99, false, 0}),
            kBitmapZlib32);
  EXPECT_EQ(BitmapDefinitions::ChooseEncoder(TransportOptions::kJpeg, {true, 9, true, 1, true, 1}),
            kBitmapJpeg);
}

TEST_F(BitmapDefinitionsTest, OnePixelWideSourceIsDefinedTwoWide) {
  SetUpStage(TransportOptions::kZlib32);
  const auto image = MakeImage(8, 40, [](uint32_t x, uint32_t y) {
    return Colour{static_cast<uint8_t>(x == 3 ? 50 + y : 0), 128, 128};
  });
  const FrameBitmap b = Encode(*image, 3, 0, 1, 40);
  EXPECT_EQ(b.width, 2u);
  EXPECT_EQ(b.height, 40u);
  EXPECT_EQ(b.pixels, 40u);
  ASSERT_TRUE(bitmaps.DefineBitmap(writer, 500, b));
  EXPECT_EQ(bitmaps.EncodedPixels(), 40u);

  const auto tags = Tags();
  ASSERT_EQ(tags.size(), 1u);
  const Bytes& body = tags[0].body;
  EXPECT_EQ(tags[0].code, 20);
  EXPECT_TRUE(tags[0].longHeader);
  ASSERT_GE(body.size(), 7u);
  EXPECT_EQ(body[0] | body[1] << 8, 500);
  EXPECT_EQ(body[2], 5);                  // 32-bit format
  EXPECT_EQ(body[3] | body[4] << 8, 2);   // width
  EXPECT_EQ(body[5] | body[6] << 8, 40);  // height
  const Bytes argb = Inflate(body.data() + 7, body.size() - 7, 2 * 40 * 4);
  ASSERT_EQ(argb.size(), 2u * 40 * 4);
  for (uint32_t y = 0; y < 40; ++y) {
    const uint8_t* row = argb.data() + y * 8;
    EXPECT_EQ(row[0], 0xFF);
    EXPECT_EQ(row[1], 50 + y);  // grey: R = Y
    EXPECT_EQ(0, std::memcmp(row, row + 4, 4)) << "row " << y;
  }
}

TEST_F(BitmapDefinitionsTest, ResizedBlockCarriesItsScaleAndShrunkPixelCount) {
  SetUpStage(TransportOptions::kZlib32 | TransportOptions::kResizeHorizontal |
             TransportOptions::kResizeVertical);
  const auto image = MakeImage(128, 128, [](uint32_t, uint32_t) { return Grey(200); });
  const FrameBitmap b = Encode(*image, 64, 0, 64, 64);
  ASSERT_TRUE(b.shrunk);
  EXPECT_FLOAT_EQ(b.scaleX, 0.125f);
  EXPECT_FLOAT_EQ(b.scaleY, 0.125f);
  EXPECT_EQ(b.width, 8u);
  EXPECT_EQ(b.pixels, 64u);
  ASSERT_TRUE(bitmaps.DefineBitmap(writer, 1, b));
  EXPECT_EQ(bitmaps.EncodedPixels(), 64u);
  const auto tags = Tags();
  const Bytes& body = tags.at(0).body;
  EXPECT_EQ(body[3] | body[4] << 8, 8);
}

TEST_F(BitmapDefinitionsTest, TransientBlocksUseTheirOwnSwitches) {
  SetUpStage(TransportOptions::kZlib32 | TransportOptions::kTransientResizeHorizontal);
  const auto image = MakeImage(32, 32, [](uint32_t, uint32_t) { return Grey(10); });
  EXPECT_FALSE(Encode(*image, 0, 0, 32, 32, false).shrunk);
  const FrameBitmap b = Encode(*image, 0, 0, 32, 32, true);
  ASSERT_TRUE(b.shrunk);
  EXPECT_EQ(b.width, 8u);
  EXPECT_EQ(b.height, 32u);
  EXPECT_FLOAT_EQ(b.scaleY, 1.0f);
}

TEST_F(BitmapDefinitionsTest, PaletteBitmapsStateTheirTableSizeAndPadRows) {
  options.zlib8PaletteDiffLimit = 0.0f;
  SetUpStage(TransportOptions::kZlib8);
  // 5 x 40 pixels, 200 distinct colours.
  const auto image = MakeImage(5, 40, [](uint32_t x, uint32_t y) {
    const uint32_t i = y * 5 + x;
    return Colour{static_cast<uint8_t>(i), 128, 128};
  });
  options.zlib8Palette = 256;
  ASSERT_TRUE(bitmaps.Initialise(options, nullptr, nullptr, nullptr, 128, 128, 8, 8));
  const FrameBitmap b = Encode(*image, 0, 0, 5, 40);
  EXPECT_EQ(EncodingKind(b.encoding), kBitmapZlib8);
  EXPECT_EQ(EncodingPaletteSize(b.encoding), 200u);
  ASSERT_TRUE(bitmaps.DefineBitmap(writer, 7, b));
  const auto tags = Tags();
  const Bytes& body = tags.at(0).body;
  EXPECT_EQ(body[2], 3);
  EXPECT_EQ(body[7], 199);
  const Bytes data = Inflate(body.data() + 8, body.size() - 8, 200 * 3 + 40 * 8);
  EXPECT_EQ(data.size(), 200u * 3 + 40u * 8);  // index rows of 5 padded to 8
}

TEST_F(BitmapDefinitionsTest, PaletteSettingAbove256IsCut) {
  options.zlib8PaletteDiffLimit = 100.0f;  // any pixel may map to any entry
  options.zlib8Palette = 300;
  SetUpStage(TransportOptions::kZlib8);
  const auto image = MakeImage(20, 15, [](uint32_t x, uint32_t y) {
    return Colour{static_cast<uint8_t>(y * 20 + x), static_cast<uint8_t>(y), 128};
  });  // 300 distinct colours
  const FrameBitmap b = Encode(*image, 0, 0, 20, 15);
  EXPECT_EQ(EncodingPaletteSize(b.encoding), 256u);
}

TEST_F(BitmapDefinitionsTest, PaletteFailureFallsBackToZlib32) {
  options.zlib8UniqueLimit = 1;
  SetUpStage(TransportOptions::kZlib8);
  const auto image = MakeImage(16, 16, [](uint32_t x, uint32_t) { return Grey(x < 8 ? 0 : 255); });
  EXPECT_EQ(Encode(*image, 0, 0, 16, 16).encoding, kBitmapZlib32);
  SetUpStage(0);  // every switch off still defines the bitmap losslessly
  EXPECT_EQ(Encode(*image, 0, 0, 16, 16).encoding, kBitmapZlib32);
}

TEST_F(BitmapDefinitionsTest, PayloadBuffersRunOutAfterOnePerBlockPosition) {
  SetUpStage(TransportOptions::kZlib32, 20, 16);  // 3 x 2 block positions
  EXPECT_EQ(bitmaps.PayloadBufferCount(), 6u);
  const auto image = MakeImage(20, 16, [](uint32_t, uint32_t) { return Grey(3); });
  std::vector<FrameBitmap> kept(6);
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(bitmaps.EncodeBitmap(*image, 0, 0, 8, 8, false, kept[i]));
  }
  // Every record of the frame keeps its own payload.
  for (int i = 1; i < 6; ++i) EXPECT_NE(kept[i].payload, kept[i - 1].payload);
  FrameBitmap extra;
  EXPECT_FALSE(bitmaps.EncodeBitmap(*image, 0, 0, 8, 8, false, extra));
  EXPECT_FALSE(bitmaps.lastError.empty());
  bitmaps.RestartPayloads();
  EXPECT_TRUE(bitmaps.EncodeBitmap(*image, 0, 0, 8, 8, false, extra));
}

// Decodes a tables-only stream followed by an abbreviated image stream, as a player does.
bool DecodeJpeg(const Bytes& tables, const Bytes& image, uint32_t& w, uint32_t& h, Bytes& ycc) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, tables.data(), static_cast<unsigned long>(tables.size()));
  const int tablesOnly = jpeg_read_header(&cinfo, FALSE);
  jpeg_mem_src(&cinfo, image.data(), static_cast<unsigned long>(image.size()));
  if (tablesOnly != JPEG_HEADER_TABLES_ONLY || jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  cinfo.out_color_space = JCS_YCbCr;
  jpeg_start_decompress(&cinfo);
  w = cinfo.output_width;
  h = cinfo.output_height;
  ycc.assign(size_t{w} * h * 3, 0);
  while (cinfo.output_scanline < h) {
    JSAMPROW row = ycc.data() + size_t{cinfo.output_scanline} * w * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

TEST_F(BitmapDefinitionsTest, JpegBitmapsDecodeWithThePartsTables) {
  options.jpegQuality = 90;
  SetUpStage(TransportOptions::kJpeg);
  const auto image = MakeImage(64, 48, [](uint32_t x, uint32_t y) {
    return Colour{static_cast<uint8_t>(40 + 2 * x + y), static_cast<uint8_t>(100 + y),
                  static_cast<uint8_t>(160 - x)};
  });
  const FrameBitmap a = Encode(*image, 8, 8, 24, 16);
  const FrameBitmap b = Encode(*image, 32, 0, 32, 48);
  EXPECT_EQ(a.encoding, kBitmapJpeg);
  ASSERT_TRUE(bitmaps.DefineBitmap(writer, 63998, a));
  ASSERT_TRUE(bitmaps.DefineBitmap(writer, 63997, b));
  bitmaps.StartPart();
  ASSERT_TRUE(bitmaps.DefineBitmap(writer, 63996, a));

  const auto tags = Tags();
  ASSERT_EQ(tags.size(), 5u);  // tables, bits, bits | tables, bits
  EXPECT_EQ(tags[0].code, 8);
  EXPECT_EQ(tags[1].code, 6);
  EXPECT_EQ(tags[2].code, 6);
  EXPECT_EQ(tags[3].code, 8);
  EXPECT_EQ(tags[3].body, tags[0].body);
  EXPECT_TRUE(tags[1].longHeader);
  EXPECT_EQ(tags[2].body[0] | tags[2].body[1] << 8, 63997);

  struct Check {
    const ParsedTag* tag;
    int32_t x, y, w, h;
  };
  for (const Check& c : {Check{&tags[1], 8, 8, 24, 16}, Check{&tags[2], 32, 0, 32, 48}}) {
    const Bytes stream(c.tag->body.begin() + 2, c.tag->body.end());
    uint32_t w = 0;
    uint32_t h = 0;
    Bytes ycc;
    ASSERT_TRUE(DecodeJpeg(tags[0].body, stream, w, h, ycc));
    ASSERT_EQ(w, static_cast<uint32_t>(c.w));
    ASSERT_EQ(h, static_cast<uint32_t>(c.h));
    double error = 0;
    for (int32_t y = 0; y < c.h; ++y) {
      for (int32_t x = 0; x < c.w * 3; ++x) {
        error +=
            std::abs(int{ycc[(size_t(y) * w) * 3 + x]} - int{image->Row(c.y + y)[c.x * 3 + x]});
      }
    }
    EXPECT_LT(error / (c.w * c.h * 3), 2.0);
  }
}

TEST(BitmapOptionsTest, ThresholdsComeFromTheirOwnSignatureQuads) {
  TransportOptions t;
  t.resizeLimit = 80.0f;
  t.transientResizeLimit = 0.0f;
  t.signature[1] = LimitSignature{7.0, 0.0, 50.0, 0.5};
  t.zlib8PaletteDiffLimit = 2.0f;
  const BitmapOptions o = MakeBitmapOptions(t);
  EXPECT_NEAR(o.resizeThreshold, 390.15, 0.01);
  EXPECT_NEAR(o.transientResizeThreshold, 7 * 1950.75, 0.01);
  EXPECT_NEAR(o.paletteThreshold, 3901.5, 0.01);
}

// A cancelled run must not wait for a huge rectangle's halvings or encoders; until the flag is
// set, watching it changes nothing.
TEST_F(BitmapDefinitionsTest, SetCancelFlagStopsHalvingAndEncoding) {
  SetUpStage(kAllEncoders);
  const auto image = MakeImage(64, 64, [](uint32_t x, uint32_t y) { return Grey(uint8_t(x + y)); });
  const HalvingRule rule{true, true, false, 1e9f, 1};
  std::atomic<bool> cancel{false};
  const auto plain = BitmapDefinitions::HalveBlock(*image, 0, 0, 64, 64, rule);
  const auto watched = BitmapDefinitions::HalveBlock(*image, 0, 0, 64, 64, rule, &cancel);
  ASSERT_TRUE(plain && watched);
  EXPECT_EQ(watched->Width(), plain->Width());
  EXPECT_EQ(0, std::memcmp(watched->Pixels(), plain->Pixels(), plain->ByteSize()));
  bitmaps.SetCancelFlag(&cancel);
  const FrameBitmap first = Encode(*image, 0, 0, 64, 64);
  EXPECT_NE(first.payload, nullptr);

  cancel = true;
  EXPECT_FALSE(BitmapDefinitions::HalveBlock(*image, 0, 0, 64, 64, rule, &cancel));
  FrameBitmap stopped;
  EXPECT_FALSE(bitmaps.EncodeBitmap(*image, 0, 0, 64, 64, false, stopped));
  bitmaps.SetCancelFlag(nullptr);
}

}  // namespace
}  // namespace quillon
