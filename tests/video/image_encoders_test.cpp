#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

#include "swf/byte_buffer.h"
#include "video/frame_image.h"

namespace quillon {
namespace {

void SetPixel(FrameImage& image, uint32_t x, uint32_t y, Colour c) {
  uint8_t* p = image.Row(y) + x * 3;
  p[0] = c[0];
  p[1] = c[1];
  p[2] = c[2];
}

std::vector<uint8_t> Bytes(const ByteBuffer& buffer) {
  return std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Size());
}

bool HasMarker(const std::vector<uint8_t>& stream, uint8_t marker) {
  for (std::size_t i = 0; i + 1 < stream.size(); ++i) {
    if (stream[i] == 0xFF && stream[i + 1] == marker) return true;
  }
  return false;
}

// A smooth gradient that JPEG keeps close.
void Gradient(FrameImage& image, uint32_t w, uint32_t h) {
  ASSERT_TRUE(image.Allocate(w, h));
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      SetPixel(image, x, y, Colour{uint8_t(40 + x * 4), uint8_t(100 + y * 2), uint8_t(160 - x)});
}

struct DecodeError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

// Decodes a complete JPEG into packed pixels of the given colour space; empty on error.
std::vector<uint8_t> Decode(const std::vector<uint8_t>& jpeg, J_COLOR_SPACE space, uint32_t& w,
                            uint32_t& h) {
  jpeg_decompress_struct cinfo;
  DecodeError err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = [](j_common_ptr c) {
    std::longjmp(reinterpret_cast<DecodeError*>(c->err)->jump, 1);
  };
  err.pub.output_message = [](j_common_ptr) {};
  std::vector<uint8_t>* out = new std::vector<uint8_t>();
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    delete out;
    return {};
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = space;
  jpeg_start_decompress(&cinfo);
  w = cinfo.output_width;
  h = cinfo.output_height;
  out->resize(std::size_t{w} * h * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->data() + std::size_t{cinfo.output_scanline} * w * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::vector<uint8_t> result = std::move(*out);
  delete out;
  return result;
}

// The tables stream without its end marker followed by the image stream without its start.
std::vector<uint8_t> Glue(const std::vector<uint8_t>& tables, const std::vector<uint8_t>& image) {
  std::vector<uint8_t> whole(tables.begin(), tables.end() - 2);
  whole.insert(whole.end(), image.begin() + 2, image.end());
  return whole;
}

TEST(EncodeJpegTest, TablesAndAbbreviatedImageGlueIntoTheRectangle) {
  FrameImage image;
  Gradient(image, 40, 24);
  ByteBuffer tables, data;
  ASSERT_TRUE(image.EncodeJpeg(&tables, &data, 3, 2, 30, 20, 90));
  const std::vector<uint8_t> t = Bytes(tables), d = Bytes(data);
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(t[0], 0xFF);
  EXPECT_EQ(t[1], 0xD8);
  EXPECT_EQ(t[t.size() - 1], 0xD9);
  EXPECT_TRUE(HasMarker(t, 0xDB));  // quantisation tables
  EXPECT_TRUE(HasMarker(t, 0xC4));  // Huffman tables
  EXPECT_FALSE(HasMarker(t, 0xC0));
  EXPECT_TRUE(HasMarker(d, 0xC0));  // baseline frame header
  EXPECT_FALSE(HasMarker(d, 0xDB));
  EXPECT_FALSE(HasMarker(d, 0xC4));

  uint32_t w = 0, h = 0;
  const std::vector<uint8_t> pixels = Decode(Glue(t, d), JCS_YCbCr, w, h);
  ASSERT_EQ(w, 30u);
  ASSERT_EQ(h, 20u);
  ASSERT_EQ(pixels.size(), 30u * 20u * 3u);
  int worst = 0;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w * 3; ++x)
      worst = std::max(worst, std::abs(int(pixels[y * w * 3 + x]) - int(image.Row(y + 2)[9 + x])));
  EXPECT_LE(worst, 6);
}

TEST(EncodeJpegTest, RgbImagesDecodeToTheirColours) {
  FrameImage image(ColourTag::kRgb);
  ASSERT_TRUE(image.Allocate(16, 16, Colour{200, 40, 90}));
  ByteBuffer tables, data;
  ASSERT_TRUE(image.EncodeJpeg(&tables, &data, 75));
  uint32_t w = 0, h = 0;
  const std::vector<uint8_t> pixels = Decode(Glue(Bytes(tables), Bytes(data)), JCS_RGB, w, h);
  ASSERT_EQ(pixels.size(), 16u * 16u * 3u);
  EXPECT_NEAR(pixels[0], 200, 4);
  EXPECT_NEAR(pixels[1], 40, 4);
  EXPECT_NEAR(pixels[2], 90, 4);
}

TEST(EncodeJpegTest, NullBuffersDiscardStreamsAndOutputIsDeterministic) {
  FrameImage image;
  Gradient(image, 17, 9);
  ByteBuffer tables, first, second, tablesOnly;
  ASSERT_TRUE(image.EncodeJpeg(&tables, &first, 50));
  ASSERT_TRUE(image.EncodeJpeg(nullptr, &second, 50));
  EXPECT_EQ(Bytes(first), Bytes(second));
  ASSERT_TRUE(image.EncodeJpeg(&tablesOnly, nullptr, 50));
  EXPECT_EQ(Bytes(tablesOnly), Bytes(tables));
  // The tables depend on the quality only, not on the picture.
  FrameImage other;
  ASSERT_TRUE(other.Allocate(640, 480, Colour{0, 0, 0}));
  ASSERT_TRUE(other.EncodeJpeg(&tablesOnly, nullptr, 50));
  EXPECT_EQ(Bytes(tablesOnly), Bytes(tables));
  // Buffers are emptied first, never appended to.
  ASSERT_TRUE(image.EncodeJpeg(&tables, &first, 50));
  EXPECT_EQ(Bytes(first), Bytes(second));
}

TEST(EncodeJpegTest, LargeImagesSpanManyBlocks) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(320, 240));
  uint32_t seed = 7;
  for (uint32_t y = 0; y < 240; ++y)
    for (uint32_t x = 0; x < 320; ++x) {
      seed = seed * 1103515245u + 12345u;
      SetPixel(image, x, y, Colour{uint8_t(seed >> 24), uint8_t(seed >> 16), uint8_t(seed >> 8)});
    }
  ByteBuffer tables, data;
  ASSERT_TRUE(image.EncodeJpeg(&tables, &data, 95));
  EXPECT_GT(data.Size(), 3u * 4096u);
  uint32_t w = 0, h = 0;
  EXPECT_EQ(Decode(Glue(Bytes(tables), Bytes(data)), JCS_YCbCr, w, h).size(), 320u * 240u * 3u);
}

TEST(EncodeJpegTest, FailuresReturnFalseQuietly) {
  FrameImage plain(ColourTag::kPlain);
  ASSERT_TRUE(plain.Allocate(8, 8, Colour{1, 2, 3}));
  ByteBuffer tables, data;
  EXPECT_FALSE(plain.EncodeJpeg(&tables, &data, 50));
  FrameImage image;
  ASSERT_TRUE(image.Allocate(8, 8, Colour{1, 2, 3}));
  EXPECT_FALSE(image.EncodeJpeg(&tables, &data, 8, 0, 4, 4, 50));
  // A buffer that cannot grow makes the library fail; the error comes back as false.
  ByteBuffer tiny;
  tiny.SetCapacityLimit(16);
  EXPECT_FALSE(image.EncodeJpeg(&tiny, &data, 50));
  ByteBuffer tinyImage;
  tinyImage.SetCapacityLimit(100);
  EXPECT_FALSE(image.EncodeJpeg(&tables, &tinyImage, 50));
  EXPECT_TRUE(image.EncodeJpeg(&tables, &data, 50));
}

std::vector<uint8_t> Inflate(const ByteBuffer& buffer, std::size_t expected) {
  std::vector<uint8_t> out(expected + 16);
  uLongf len = static_cast<uLongf>(out.size());
  if (uncompress(out.data(), &len, buffer.Data(), buffer.Size()) != Z_OK) return {};
  out.resize(len);
  return out;
}

TEST(EncodeZlib32Test, ArgbRowsWithoutPaddingConvertedToRgb) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(5, 3, Colour{200, 128, 128}));
  SetPixel(image, 2, 1, Colour{76, 84, 255});
  ByteBuffer out;
  ASSERT_TRUE(image.EncodeZlib32(out, 1, 1, 3, 5, 9));
  const std::vector<uint8_t> argb = Inflate(out, 3 * 2 * 4);
  ASSERT_EQ(argb.size(), 24u);
  EXPECT_EQ((std::vector<uint8_t>(argb.begin(), argb.begin() + 8)),
            (std::vector<uint8_t>{0xFF, 200, 200, 200, 0xFF, 254, 0, 0}));
  FrameImage rgb(ColourTag::kRgb);
  ASSERT_TRUE(rgb.Allocate(1, 1, Colour{1, 2, 3}));
  ASSERT_TRUE(rgb.EncodeZlib32(out, 0, 0, 1, 1, 0));
  EXPECT_EQ(Inflate(out, 4), (std::vector<uint8_t>{0xFF, 1, 2, 3}));
  EXPECT_FALSE(rgb.EncodeZlib32(out, 1, 0, 1, 1, 0));
}

// The bitmap stage drops a losing stream early; one that fits must be the very same stream.
TEST(EncodeZlib32Test, ByteLimitKeepsTheStreamOrReportsOverflow) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(64, 64));
  uint32_t seed = 11;
  for (uint32_t y = 0; y < 64; ++y)
    for (uint32_t x = 0; x < 64; ++x) {
      seed = seed * 1103515245u + 12345u;
      SetPixel(image, x, y, Colour{uint8_t(seed >> 24), uint8_t(seed >> 16), uint8_t(seed >> 8)});
    }
  ByteBuffer full;
  ASSERT_TRUE(image.EncodeZlib32(full, 0, 0, 64, 64, 9));
  const uint32_t size = full.Size();

  ByteBuffer fits;
  bool over = true;
  ASSERT_TRUE(image.EncodeZlib32(fits, 0, 0, 64, 64, 9, size, over));
  EXPECT_FALSE(over);
  EXPECT_EQ(Bytes(fits), Bytes(full));

  for (uint32_t limit : {size - 1, size / 2, 16u}) {
    ByteBuffer loses;
    over = false;
    (void)image.EncodeZlib32(loses, 0, 0, 64, 64, 9, limit, over);
    EXPECT_TRUE(over) << "limit " << limit << " of " << size;
  }
}

// A picture of flat stretches, a gradient and noise: large enough for several deflate blocks.
void Mixed(FrameImage& image, uint32_t w, uint32_t h, uint32_t seed) {
  ASSERT_TRUE(image.Allocate(w, h));
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      seed = seed * 1103515245u + 12345u;
      const uint8_t noise = uint8_t(seed >> 24);
      Colour c{uint8_t(x * 2), uint8_t(64 + y), 128};
      if (x > w / 2) c = Colour{noise, uint8_t(noise ^ 0x5A), uint8_t(y)};
      if (y < h / 4) c = Colour{30, 140, 200};
      SetPixel(image, x, y, c);
    }
}

std::vector<uint8_t> ReferenceZlib32(const FrameImage& image, uint32_t x0, uint32_t y0, uint32_t w,
                                     uint32_t h, int level) {
  std::vector<uint8_t> argb;
  for (uint32_t y = y0; y < y0 + h; ++y)
    for (uint32_t x = x0; x < x0 + w; ++x) {
      uint8_t p[3];
      std::copy_n(image.Row(y) + x * 3, 3, p);
      YCbCrToRgb(p, p);
      argb.insert(argb.end(), {0xFF, p[0], p[1], p[2]});
    }
  std::vector<uint8_t> out(compressBound(argb.size()));
  uLongf len = out.size();
  EXPECT_EQ(compress2(out.data(), &len, argb.data(), argb.size(), level), Z_OK);
  out.resize(len);
  return out;
}

// The stored bitmaps must stay the very bytes a one-call compression of the pixels gives, at
// every level (level 0's stored blocks follow the output room), bounded or not.
TEST(EncodeZlib32Test, StreamEqualsOneCallCompressionOfThePixels) {
  FrameImage image;
  Mixed(image, 300, 240, 5);
  for (int level : {0, 1, 6, 9}) {
    const std::vector<uint8_t> expected = ReferenceZlib32(image, 7, 3, 280, 230, level);
    ByteBuffer out;
    ASSERT_TRUE(image.EncodeZlib32(out, 7, 3, 280, 230, level));
    EXPECT_EQ(Bytes(out), expected) << "level " << level;
    bool over = true;
    ASSERT_TRUE(image.EncodeZlib32(out, 7, 3, 280, 230, level,
                                   static_cast<uint32_t>(expected.size()), over, true));
    EXPECT_FALSE(over) << "level " << level;
    EXPECT_EQ(Bytes(out), expected) << "level " << level;
  }
}

// The quick estimate gives up only far above the limit: a pattern whose exact stream fits is
// never refused by it, noise against a tenth of its size is.
TEST(EncodeZlib32Test, EstimateRefusesOnlyStreamsFarOverTheLimit) {
  FrameImage stripes;
  ASSERT_TRUE(stripes.Allocate(256, 256));
  for (uint32_t y = 0; y < 256; ++y)
    for (uint32_t x = 0; x < 256; ++x)
      SetPixel(stripes, x, y, Colour{uint8_t((x / 3 + y / 5) * 37), uint8_t(x ^ y), 90});
  ByteBuffer exact;
  ASSERT_TRUE(stripes.EncodeZlib32(exact, 0, 0, 256, 256, 9));
  ByteBuffer out;
  bool over = true;
  ASSERT_TRUE(stripes.EncodeZlib32(out, 0, 0, 256, 256, 9, exact.Size(), over, true));
  EXPECT_FALSE(over);
  EXPECT_EQ(Bytes(out), Bytes(exact));

  FrameImage noise;
  Mixed(noise, 256, 256, 9);
  for (uint32_t y = 0; y < 256; ++y)
    for (uint32_t x = 0; x < 256; ++x) {
      const uint8_t* p = noise.Row((y * 7 + 3) % 256) + ((x * 13 + 1) % 256) * 3;
      SetPixel(noise, x, y, Colour{uint8_t(p[0] ^ x), uint8_t(p[1] + y), uint8_t(p[2] * 3 + x)});
    }
  ASSERT_TRUE(noise.EncodeZlib32(exact, 0, 0, 256, 256, 9));
  over = false;
  ASSERT_TRUE(noise.EncodeZlib32(out, 0, 0, 256, 256, 9, exact.Size() / 10, over, true));
  EXPECT_TRUE(over);
  EXPECT_EQ(out.Size(), 0u);
}

// Crafted blocks for the estimate: what camera, screen and synthetic pictures are made of.
struct Crafted {
  const char* name;
  uint32_t w, h;
  ColourTag tag;
  void (*paint)(FrameImage&, uint32_t w, uint32_t h);
  // Without a painter: the Mixed picture of this seed.
  uint32_t mixedSeed = 0;

  void Paint(FrameImage& image) const {
    if (paint != nullptr) {
      paint(image, w, h);
    } else {
      Mixed(image, w, h, mixedSeed);
    }
  }
};

uint32_t Lcg(uint32_t& seed) {
  seed = seed * 1103515245u + 12345u;
  return seed >> 16;
}

// Allocates w x h and sets every pixel, row by row, to colourAt(x, y).
template <class ColourAt>
void PaintEach(FrameImage& image, uint32_t w, uint32_t h, ColourAt colourAt) {
  ASSERT_TRUE(image.Allocate(w, h));
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) SetPixel(image, x, y, colourAt(x, y));
}

const Crafted kCrafted[] = {
    {"flat", 256, 144, ColourTag::kYCbCr,
     [](FrameImage& im, uint32_t w, uint32_t h) {
       ASSERT_TRUE(im.Allocate(w, h, {90, 100, 150}));
     }},
    {"two flat boxes", 320, 72, ColourTag::kRgb,
     [](FrameImage& im, uint32_t w, uint32_t h) {
       ASSERT_TRUE(im.Allocate(w, h, {16, 24, 32}));
       ASSERT_TRUE(im.FillRect(20, 10, 100, 40, {240, 220, 30}));
       ASSERT_TRUE(im.FillRect(150, 30, 60, 30, {200, 30, 30}));
     }},
    // Glyph-like strokes of 7 x 13 cells on a dark terminal, lines 19 rows apart.
    {"text", 640, 120, ColourTag::kRgb,
     [](FrameImage& im, uint32_t w, uint32_t h) {
       ASSERT_TRUE(im.Allocate(w, h, {16, 24, 32}));
       uint32_t seed = 7;
       for (uint32_t line = 4; line + 13 < h; line += 19)
         for (uint32_t cell = 8; cell + 7 < w; cell += 8) {
           const uint32_t glyph = Lcg(seed);
           for (uint32_t k = 0; k < 7; ++k) {
             if ((glyph >> k & 1) != 0) {
               for (uint32_t r = 0; r < 13; ++r) SetPixel(im, cell + k, line + r, {208, 208, 208});
             }
             if ((glyph >> (k + 7) & 1) != 0) {
               for (uint32_t c = 0; c < 7; ++c)
                 SetPixel(im, cell + c, line + k * 2, {208, 208, 208});
             }
           }
         }
     }},
    {"gradient", 256, 216, ColourTag::kYCbCr,
     [](FrameImage& im, uint32_t w, uint32_t h) { Gradient(im, w, h); }},
    {"noise", 256, 144, ColourTag::kYCbCr,
     [](FrameImage& im, uint32_t w, uint32_t h) {
       PaintEach(im, w, h, [seed = 3u](uint32_t, uint32_t) mutable {
         return Colour{uint8_t(Lcg(seed)), uint8_t(Lcg(seed)), uint8_t(Lcg(seed))};
       });
     }},
    // A soft gradient with a little grain, as a camera delivers it.
    {"grainy gradient", 320, 180, ColourTag::kYCbCr,
     [](FrameImage& im, uint32_t w, uint32_t h) {
       PaintEach(im, w, h, [seed = 11u](uint32_t x, uint32_t y) mutable {
         return Colour{uint8_t(60 + x / 3 + Lcg(seed) % 6), uint8_t(120 + Lcg(seed) % 3),
                       uint8_t(130 + y / 4)};
       });
     }},
    {"mixed", 300, 240, ColourTag::kYCbCr, nullptr, 5},
    {"mixed, 13 rows", 300, 13, ColourTag::kYCbCr, nullptr, 6},
    {"smallest block", 8, 8, ColourTag::kYCbCr, nullptr, 8},
    {"one row", 500, 1, ColourTag::kRgb, nullptr, 9},
    {"one column", 1, 400, ColourTag::kRgb, nullptr, 10},
    // Rows longer than a stretch of the estimate.
    {"wide", 5000, 24, ColourTag::kYCbCr, nullptr, 12},
};

// The smallest limit the estimate lets through to the full trial (it refuses every smaller one).
uint32_t SmallestLimitTried(const FrameImage& image) {
  const auto w = int32_t(image.Width()), h = int32_t(image.Height());
  if (!image.Zlib32EstimateOver(0, 0, w, h, 0)) return 0;
  uint32_t refused = 0, tried = UINT32_MAX - 1;
  while (tried - refused > 1) {
    const uint32_t mid = refused + (tried - refused) / 2;
    (image.Zlib32EstimateOver(0, 0, w, h, mid) ? refused : tried) = mid;
  }
  return tried;
}

// A skipped trial may lose a ZLIB32 bitmap only when it would have been close to the limit:
// whatever the block, the estimate never refuses a limit of 1.6 times the full stream or more,
// so a refused stream was at least 5/8 of the encoding it lost to. And it does skip: noise is
// refused at a third of its own stream, and the refusal does not depend on where the block sits.
TEST(Zlib32EstimateTest, RefusesOnlyLimitsCloseToOrBelowTheFullStream) {
  for (const Crafted& c : kCrafted) {
    FrameImage image(c.tag);
    c.Paint(image);
    ASSERT_EQ(image.Width(), c.w) << c.name;
    ByteBuffer full;
    ASSERT_TRUE(image.EncodeZlib32(full, 0, 0, int32_t(c.w), int32_t(c.h), 9));
    const uint32_t smallest = SmallestLimitTried(image);
    EXPECT_LT(double(smallest), 1.6 * double(full.Size()))
        << c.name << ": full stream " << full.Size() << " B, limits below " << smallest
        << " B refused";
    if (std::string(c.name) == "noise") {
      EXPECT_GT(smallest, full.Size() / 3) << c.name;
    }

    // Inside a larger picture, at an offset: the same answer for the same pixels.
    FrameImage framed(c.tag);
    ASSERT_TRUE(framed.Allocate(c.w + 20, c.h + 9, {1, 2, 3}));
    ASSERT_TRUE(framed.CopyRect(13, 5, int32_t(c.w), int32_t(c.h), image, 0, 0));
    for (uint32_t limit : {smallest, smallest - (smallest > 0 ? 1u : 0u)}) {
      EXPECT_EQ(framed.Zlib32EstimateOver(13, 5, int32_t(c.w), int32_t(c.h), limit),
                image.Zlib32EstimateOver(0, 0, int32_t(c.w), int32_t(c.h), limit))
          << c.name << " at limit " << limit;
    }
  }
}

// The trial with the estimate first gives the very stream of the trial without it, or gives
// up only where the estimate refuses; a rectangle outside the picture is no estimate's
// business.
TEST(Zlib32EstimateTest, TrialWithEstimateMatchesTheEstimateAndTheFullStream) {
  for (const Crafted& c : kCrafted) {
    FrameImage image(c.tag);
    c.Paint(image);
    ByteBuffer full;
    ASSERT_TRUE(image.EncodeZlib32(full, 0, 0, int32_t(c.w), int32_t(c.h), 9));
    for (uint32_t limit : {full.Size() / 3, full.Size(), full.Size() * 3}) {
      ByteBuffer out;
      bool over = false;
      ASSERT_TRUE(image.EncodeZlib32(out, 0, 0, int32_t(c.w), int32_t(c.h), 9, limit, over, true));
      if (image.Zlib32EstimateOver(0, 0, int32_t(c.w), int32_t(c.h), limit)) {
        EXPECT_TRUE(over) << c.name;
      } else {
        EXPECT_EQ(over, full.Size() > limit) << c.name;
      }
      if (over) {
        EXPECT_EQ(out.Size(), 0u) << c.name;
      } else {
        EXPECT_EQ(Bytes(out), Bytes(full)) << c.name;
      }
    }
    EXPECT_FALSE(image.Zlib32EstimateOver(int32_t(c.w), 0, 4, 4, 0)) << c.name;
  }
}

// Patterns in which every pixel is unlike the one to its left and the one above, yet deflate
// finds a match a few pixels away: a first look that counted only those two neighbours, or
// missed the last column or the row above a sampled pair, would give such blocks to JPEG.
// Wherever the full ZLIB32 stream is under 5/8 of the JPEG, at any quality, the trial with the
// estimate first must still end in that stream (closer calls are the fast compressor's to
// refuse, as above).
TEST(Zlib32EstimateTest, NeverGivesUpAStreamThatBeatsTheJpeg) {
  struct Pattern {
    const char* name;
    Colour (*at)(uint32_t x, uint32_t y);
  };
  const Pattern patterns[] = {
      {"checkerboard",
       [](uint32_t x, uint32_t y) {
         return (x + y) % 2 == 0 ? Colour{20, 200, 40} : Colour{230, 30, 120};
       }},
      {"diagonal gradient",
       [](uint32_t x, uint32_t y) {
         return Colour{uint8_t(x + y), uint8_t(2 * (x + y)), uint8_t(255 - (x + y))};
       }},
      {"anti-diagonal stripes",
       [](uint32_t x, uint32_t y) {
         const uint32_t k = (x + 300 - y) % 3;
         return Colour{uint8_t(60 * k + 10), uint8_t(200 - 50 * k), uint8_t(90)};
       }},
      {"two-pixel dither",
       [](uint32_t x, uint32_t y) {
         return Colour{uint8_t((x / 2 + y) % 2 ? 250 : 5), uint8_t(x % 2 ? 128 : 64),
                       uint8_t(y % 2 ? 30 : 220)};
       }},
  };
  for (const Pattern& pattern : patterns) {
    for (const auto& [w, h] : {std::pair{128u, 72u}, {37u, 24u}, {61u, 17u}, {16u, 64u}, {5u, 33u}}) {
      FrameImage image(ColourTag::kRgb);
      PaintEach(image, w, h, pattern.at);
      ByteBuffer full;
      ASSERT_TRUE(image.EncodeZlib32(full, 0, 0, int32_t(w), int32_t(h), 9));
      for (int32_t quality : {10, 65, 95}) {
        ByteBuffer jpeg;
        ASSERT_TRUE(image.EncodeJpeg(nullptr, &jpeg, 0, 0, int32_t(w), int32_t(h), quality));
        if (8 * uint64_t{full.Size()} >= 5 * uint64_t{jpeg.Size()}) continue;
        ByteBuffer out;
        bool over = true;
        ASSERT_TRUE(image.EncodeZlib32(out, 0, 0, int32_t(w), int32_t(h), 9, jpeg.Size(), over,
                                       true));
        EXPECT_FALSE(over) << pattern.name << " " << w << "x" << h << " at quality " << quality
                           << ": stream " << full.Size() << " B, JPEG " << jpeg.Size() << " B";
        EXPECT_EQ(Bytes(out), Bytes(full)) << pattern.name;
      }
    }
  }
}

// Camera pictures give every trial up, however their size compares with the limit's margin:
// grain makes nearly every pixel unlike its neighbours while the JPEG stays small.
TEST(Zlib32EstimateTest, GivesUpGrainyPicturesAgainstTheirJpeg) {
  FrameImage image(ColourTag::kYCbCr);
  PaintEach(image, 256, 144, [seed = 5u](uint32_t x, uint32_t y) mutable {
    return Colour{uint8_t(40 + (x + y) / 3 + Lcg(seed) % 9), uint8_t(120 + Lcg(seed) % 5),
                  uint8_t(125 + Lcg(seed) % 5)};
  });
  for (int32_t quality : {10, 65}) {
    ByteBuffer jpeg;
    ASSERT_TRUE(image.EncodeJpeg(nullptr, &jpeg, 0, 0, 256, 144, quality));
    EXPECT_TRUE(image.Zlib32EstimateOver(0, 0, 256, 144, jpeg.Size())) << quality;
  }
}

TEST(EncodeZlib8Test, TwoColoursNeedUniqueLimitTwo) {
  FrameImage image(ColourTag::kRgb);
  ASSERT_TRUE(image.Allocate(5, 2, Colour{10, 20, 30}));
  SetPixel(image, 4, 1, Colour{1, 2, 3});
  ByteBuffer out;
  uint32_t palette = 256;
  EXPECT_FALSE(image.EncodeZlib8(out, 0, 0, 5, 2, 9, 0.0f, palette, 1));
  EXPECT_EQ(palette, 256u);
  ASSERT_TRUE(image.EncodeZlib8(out, 0, 0, 5, 2, 9, 0.0f, palette, 2));
  EXPECT_EQ(palette, 2u);
  // Palette by count, then rows of 5 indices padded to 8.
  const std::vector<uint8_t> expected = {10, 20, 30, 1, 2, 3,  //
                                         0,  0,  0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(Inflate(out, expected.size()), expected);
}

// Runs of one colour, also across row ends, count every pixel: the palette follows the counts
// and a new colour after a run still counts against the unique limit.
TEST(EncodeZlib8Test, RunsOfOneColourCountEveryPixel) {
  // Counts: colour 0 six pixels, 1 four, 2 two; so the palette keeps this order and the index
  // rows are the map itself.
  const Colour colours[3] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
  const uint8_t map[3][4] = {{0, 0, 0, 0}, {0, 1, 1, 0}, {1, 1, 2, 2}};
  FrameImage image(ColourTag::kRgb);
  ASSERT_TRUE(image.Allocate(4, 3));
  std::vector<uint8_t> expected;
  for (const Colour& c : colours)
    for (uint32_t i = 0; i < 3; ++i) expected.push_back(c[i]);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 4; ++x) {
      SetPixel(image, x, y, colours[map[y][x]]);
      expected.push_back(map[y][x]);
    }
  ByteBuffer out;
  uint32_t palette = 256;
  EXPECT_FALSE(image.EncodeZlib8(out, 0, 0, 4, 3, 9, 0.0f, palette, 2));
  ASSERT_TRUE(image.EncodeZlib8(out, 0, 0, 4, 3, 9, 0.0f, palette, 3));
  EXPECT_EQ(palette, 3u);
  EXPECT_EQ(Inflate(out, expected.size()), expected);
}

TEST(EncodeZlib8Test, PaletteByCountEarliestFirstAndNearestWithinLimit) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(6, 1));
  // Counts: A 1 (first), B 2, C 2, D 1. Palette of 2: B, C (B appears before C).
  const Colour a{100, 128, 128}, b{50, 128, 128}, c{200, 128, 128}, d{52, 128, 128};
  SetPixel(image, 0, 0, a);
  SetPixel(image, 1, 0, b);
  SetPixel(image, 2, 0, c);
  SetPixel(image, 3, 0, c);
  SetPixel(image, 4, 0, b);
  SetPixel(image, 5, 0, d);
  ByteBuffer out;
  uint32_t palette = 2;
  // A lies 2500 from B: over a limit of 2499.
  EXPECT_FALSE(image.EncodeZlib8(out, 0, 0, 6, 1, 6, 2499.0f, palette, 100));
  ASSERT_TRUE(image.EncodeZlib8(out, 0, 0, 6, 1, 6, 2500.0f, palette, 100));
  EXPECT_EQ(palette, 2u);
  // Palette converted to RGB: greys 50 and 200. A (2500 from B, 10000 from C) and D go to B.
  const std::vector<uint8_t> expected = {50, 50, 50, 200, 200, 200,  //
                                         0,  0,  1,  1,   0,   0,   0, 0};
  EXPECT_EQ(Inflate(out, expected.size()), expected);
  // Equal distances take the first palette entry.
  SetPixel(image, 0, 0, Colour{125, 128, 128});
  palette = 2;
  ASSERT_TRUE(image.EncodeZlib8(out, 0, 0, 6, 1, 6, 1e9f, palette, 100));
  EXPECT_EQ(Inflate(out, expected.size())[6], 0);
  palette = 0;
  EXPECT_FALSE(image.EncodeZlib8(out, 0, 0, 6, 1, 6, 1e9f, palette, 100));
}

TEST(EncodeZlib8Test, ManyDistinctColoursCountedUpToTheLimit) {
  // 20 000 distinct colours, one pixel each: the palette takes the first 256 in order.
  FrameImage image(ColourTag::kRgb);
  ASSERT_TRUE(image.Allocate(200, 100));
  for (uint32_t y = 0; y < 100; ++y)
    for (uint32_t x = 0; x < 200; ++x) {
      const uint32_t v = y * 200 + x;
      SetPixel(image, x, y, Colour{uint8_t(v), uint8_t(v >> 8), uint8_t(7)});
    }
  ByteBuffer out;
  uint32_t palette = 300;
  EXPECT_FALSE(image.EncodeZlib8(out, 0, 0, 200, 100, 1, 1e9f, palette, 19999));
  ASSERT_TRUE(image.EncodeZlib8(out, 0, 0, 200, 100, 1, 1e9f, palette, 20000));
  EXPECT_EQ(palette, 256u);
  const std::vector<uint8_t> data = Inflate(out, 256 * 3 + 200 * 100);
  ASSERT_EQ(data.size(), 256u * 3 + 200u * 100);
  EXPECT_EQ(data[3 * 255], 255);
  EXPECT_EQ(data[3 * 255 + 1], 0);
  EXPECT_EQ(data[256 * 3 + 17], 17);  // exact matches keep their own index
}

// A run nobody cancels must store the same bytes whether or not the encoders watch a flag
// (ZLIB32 then gets its output room in pieces), and a cancelled one must not wait for a huge
// rectangle's encoding.
TEST(EncoderCancelTest, ClearFlagChangesNoByteAndASetOneFailsEveryEncoder) {
  FrameImage image;
  Mixed(image, 512, 384, 3);  // a few hundred KB of stream: several pieces of output room
  std::atomic<bool> cancel{false};
  for (int level : {0, 1, 9}) {
    SCOPED_TRACE(level);
    const std::vector<uint8_t> expected = ReferenceZlib32(image, 5, 2, 500, 380, level);
    ASSERT_GT(expected.size(), 3u * 64 * 1024);
    ByteBuffer out;
    bool over = true;
    ASSERT_TRUE(image.EncodeZlib32(out, 5, 2, 500, 380, level, UINT32_MAX, over, false, &cancel));
    EXPECT_FALSE(over);
    EXPECT_EQ(Bytes(out), expected);
    // Bounded at the exact size, after the estimate: the same stream; one byte less loses.
    const auto size = static_cast<uint32_t>(expected.size());
    ASSERT_TRUE(image.EncodeZlib32(out, 5, 2, 500, 380, level, size, over, true, &cancel));
    EXPECT_FALSE(over);
    EXPECT_EQ(Bytes(out), expected);
    ASSERT_TRUE(image.EncodeZlib32(out, 5, 2, 500, 380, level, size - 1, over, false, &cancel));
    EXPECT_TRUE(over);
  }
  ByteBuffer plain, watched;
  ASSERT_TRUE(image.EncodeJpeg(nullptr, &plain, 0, 0, 512, 384, 70));
  ASSERT_TRUE(image.EncodeJpeg(nullptr, &watched, 0, 0, 512, 384, 70, &cancel));
  EXPECT_EQ(Bytes(watched), Bytes(plain));
  FrameImage few(ColourTag::kRgb);
  ASSERT_TRUE(few.Allocate(300, 200, Colour{10, 20, 30}));
  for (uint32_t y = 0; y < 200; y += 3) SetPixel(few, y % 300, y, Colour{200, 100, 0});
  uint32_t paletteSize = 16;
  ASSERT_TRUE(few.EncodeZlib8(plain, 0, 0, 300, 200, 9, 0.0f, paletteSize, 16));
  paletteSize = 16;
  ASSERT_TRUE(few.EncodeZlib8(watched, 0, 0, 300, 200, 9, 0.0f, paletteSize, 16, &cancel));
  EXPECT_EQ(Bytes(watched), Bytes(plain));

  cancel = true;
  bool over = false;
  EXPECT_FALSE(image.EncodeZlib32(watched, 5, 2, 500, 380, 9, UINT32_MAX, over, false, &cancel));
  EXPECT_FALSE(image.EncodeZlib32(watched, 5, 2, 500, 380, 9, 1000, over, true, &cancel));
  EXPECT_FALSE(image.EncodeJpeg(nullptr, &watched, 0, 0, 512, 384, 70, &cancel));
  paletteSize = 16;
  EXPECT_FALSE(few.EncodeZlib8(watched, 0, 0, 300, 200, 9, 0.0f, paletteSize, 16, &cancel));
}

}  // namespace
}  // namespace quillon
