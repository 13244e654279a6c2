#include "video/frame_image.h"
#include "kernel_forms.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quillon {
namespace {

Colour PixelAt(const FrameImage& image, uint32_t x, uint32_t y) {
  const uint8_t* p = image.Row(y) + x * 3;
  return Colour{p[0], p[1], p[2]};
}

void SetPixel(FrameImage& image, uint32_t x, uint32_t y, Colour c) {
  uint8_t* p = image.Row(y) + x * 3;
  p[0] = c[0];
  p[1] = c[1];
  p[2] = c[2];
}

TEST(ColourTest, GreysConvertToNeutralChromaAndBack) {
  for (int v = 0; v < 256; ++v) {
    uint8_t p[3] = {uint8_t(v), uint8_t(v), uint8_t(v)};
    RgbToYCbCr(p, p);
    ASSERT_EQ(p[0], v);
    ASSERT_EQ(p[1], 128);
    ASSERT_EQ(p[2], 128);
    YCbCrToRgb(p, p);
    ASSERT_EQ(p[0], v);
    ASSERT_EQ(p[1], v);
    ASSERT_EQ(p[2], v);
  }
}

// The conversions in their documented form: single-precision coefficients, double sums,
// clamp, truncate.
uint8_t Reference(double v) {
  return v <= 0.0 ? 0 : v >= 255.0 ? 255 : uint8_t(v);
}

void RunConversionMatchesTheFormula() {
  std::vector<uint8_t> run(256 * 256 * 3);
  for (int r = 0; r < 256; ++r) {
    uint8_t* p = run.data();
    for (int g = 0; g < 256; ++g)
      for (int b = 0; b < 256; ++b, p += 3) p[0] = uint8_t(r), p[1] = uint8_t(g), p[2] = uint8_t(b);
    // An odd count exercises the scalar tail after the vector steps.
    RgbToYCbCr(run.data(), 256 * 256 - 1);
    p = run.data();
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256 && p < run.data() + run.size() - 3; ++b, p += 3) {
        const double y = double(0.299f) * r + double(0.587f) * g + double(0.114f) * b;
        const double cb = double(-0.16874f) * r + double(-0.33126f) * g + 0.5 * b + 128.0;
        const double cr = 0.5 * r + double(-0.41869f) * g + double(-0.08131f) * b + 128.0;
        if (p[0] != Reference(y) || p[1] != Reference(cb) || p[2] != Reference(cr)) {
          FAIL() << r << "," << g << "," << b << " -> " << int(p[0]) << "," << int(p[1]) << ","
                 << int(p[2]);
        }
      }
    }
  }
  for (int y = 0; y < 256; y += 5) {
    for (int cb = 0; cb < 256; ++cb) {
      for (int cr = 0; cr < 256; ++cr) {
        uint8_t p[3] = {uint8_t(y), uint8_t(cb), uint8_t(cr)};
        YCbCrToRgb(p, p);
        const double r = y + double(1.402f) * (cr - 128);
        const double g = y - double(0.34414f) * (cb - 128) - double(0.71414f) * (cr - 128);
        const double b = y + double(1.772f) * (cb - 128);
        ASSERT_EQ(p[0], Reference(r));
        ASSERT_EQ(p[1], Reference(g));
        ASSERT_EQ(p[2], Reference(b));
      }
    }
  }
}

TEST(ColourTest, RunConversionMatchesTheFormulaForEveryColour) {
  ForEachKernelForm(RunConversionMatchesTheFormula);
}

// The run forms (lossless bitmaps, exports) take table shortcuts: they must give the
// single-pixel bytes for every colour, including the clamped corners.
void RunFormsMatchThePixelForm() {
  std::vector<uint8_t> run(256 * 256 * 3), argb(256 * 256 * 4);
  for (int y = 0; y < 256; ++y) {
    uint8_t* p = run.data();
    for (int cb = 0; cb < 256; ++cb)
      for (int cr = 0; cr < 256; ++cr, p += 3)
        p[0] = uint8_t(y), p[1] = uint8_t(cb), p[2] = uint8_t(cr);
    YCbCrToArgb(run.data(), argb.data(), 256 * 256);
    YCbCrToRgb(run.data(), 256 * 256);
    const uint8_t* q = run.data();
    const uint8_t* a = argb.data();
    for (int cb = 0; cb < 256; ++cb) {
      for (int cr = 0; cr < 256; ++cr, q += 3, a += 4) {
        uint8_t expected[3] = {uint8_t(y), uint8_t(cb), uint8_t(cr)};
        YCbCrToRgb(expected, expected);
        if (std::memcmp(q, expected, 3) != 0 || a[0] != 0xFF ||
            std::memcmp(a + 1, expected, 3) != 0) {
          FAIL() << y << "," << cb << "," << cr;
        }
      }
    }
  }
}

TEST(ColourTest, RunFormsOfYCbCrToRgbMatchThePixelFormForEveryColour) {
  ForEachKernelForm(RunFormsMatchThePixelForm);
}

// Short runs end inside the vector steps.
TEST(ColourTest, ShortArgbRunsMatchThePixelForm) {
  ForEachKernelForm([] {
    uint8_t in[3 * 25], out[4 * 25 + 1];
    for (uint32_t i = 0; i < sizeof in; ++i) in[i] = uint8_t(i * 97 + 13);
    for (uint32_t count = 0; count <= 25; ++count) {
      std::memset(out, 0x5A, sizeof out);
      YCbCrToArgb(in, out, count);
      for (uint32_t i = 0; i < count; ++i) {
        uint8_t expected[3];
        YCbCrToRgb(in + 3 * i, expected);
        ASSERT_EQ(out[4 * i], 0xFF) << count;
        ASSERT_EQ(std::memcmp(out + 4 * i + 1, expected, 3), 0) << count << " pixel " << i;
      }
      ASSERT_EQ(out[4 * count], 0x5A) << count;
    }
  });
}

TEST(FrameImageTest, AllocatePadsRowsAndFills) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(5, 3, Colour{1, 2, 3}));
  EXPECT_EQ(image.Stride(), 16u);
  EXPECT_EQ(image.ByteSize(), 48u);
  EXPECT_EQ(PixelAt(image, 4, 2), (Colour{1, 2, 3}));
  EXPECT_EQ(image.RegionCount(), 15u);
  ASSERT_TRUE(image.Allocate(4, 1));
  EXPECT_EQ(image.Stride(), 12u);
  EXPECT_FALSE(image.Allocate(0, 3));
  EXPECT_FALSE(image.Allocate(70000, 70000));
  // A failed allocation keeps the previous picture.
  EXPECT_EQ(image.Width(), 4u);
  EXPECT_EQ(image.Height(), 1u);
}

TEST(FrameImageTest, ClipRectFollowsNegativeOriginsAndCutsToImage) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(10, 8));
  int32_t x = -3, y = 2, w = 5, h = 100;
  ASSERT_TRUE(image.ClipRect(x, y, w, h));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(w, 2);
  EXPECT_EQ(y, 2);
  EXPECT_EQ(h, 6);
  x = -5, y = 0, w = 5, h = 1;
  EXPECT_FALSE(image.ClipRect(x, y, w, h));
  x = 10, y = 0, w = 1, h = 1;
  EXPECT_FALSE(image.ClipRect(x, y, w, h));
  x = 0, y = 7, w = 1, h = 0;
  EXPECT_FALSE(image.ClipRect(x, y, w, h));
  x = INT32_MIN, y = 0, w = INT32_MAX, h = 1;
  EXPECT_FALSE(image.ClipRect(x, y, w, h));
}

TEST(FrameImageTest, FailedSelectKeepsRegionAndAverageDividesDown) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(4, 4, Colour{0, 0, 0}));
  SetPixel(image, 1, 1, Colour{10, 255, 3});
  SetPixel(image, 2, 1, Colour{11, 255, 0});
  ASSERT_TRUE(image.SelectRegion(1, 1, 2, 1));
  EXPECT_FALSE(image.SelectRegion(4, 0, 1, 1));
  const FrameImage::Region r = image.GetRegion();
  EXPECT_EQ(r.x, 1u);
  EXPECT_EQ(r.w, 2u);
  EXPECT_EQ(image.RegionAverage(), (Colour{10, 255, 1}));
  ASSERT_TRUE(image.SelectRegion(0, 0, 4, 4));
  EXPECT_EQ(image.RegionAverage(), (Colour{1, 31, 0}));
}

TEST(FrameImageTest, CopyRectKeepsPixelCorrespondenceWhenClipped) {
  FrameImage source;
  ASSERT_TRUE(source.Allocate(4, 4));
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x) SetPixel(source, x, y, Colour{uint8_t(x), uint8_t(y), 9});
  FrameImage target;
  ASSERT_TRUE(target.Allocate(3, 3, Colour{99, 99, 99}));
  // Destination origin off the left edge: source column 1 lands in column 0.
  ASSERT_TRUE(target.CopyRect(-1, 0, 3, 2, source, 0, 2));
  EXPECT_EQ(PixelAt(target, 0, 0), (Colour{1, 2, 9}));
  EXPECT_EQ(PixelAt(target, 1, 1), (Colour{2, 3, 9}));
  EXPECT_EQ(PixelAt(target, 2, 0), (Colour{99, 99, 99}));
  // Source origin off the top: destination row 1 receives source row 0.
  ASSERT_TRUE(target.CopyRect(0, 0, 1, 3, source, 3, -1));
  EXPECT_EQ(PixelAt(target, 0, 0), (Colour{1, 2, 9}));
  EXPECT_EQ(PixelAt(target, 0, 1), (Colour{3, 0, 9}));
  EXPECT_FALSE(target.CopyRect(0, 0, 2, 2, source, 4, 0));

  FrameImage copy(ColourTag::kPlain);
  ASSERT_TRUE(source.CopyTo(copy));
  EXPECT_EQ(copy.Tag(), ColourTag::kYCbCr);
  EXPECT_EQ(0, std::memcmp(copy.Pixels(), source.Pixels(), source.ByteSize()));
}

// Two rows of 3 pixels in tightly packed R, G, B (stride 9: not a multiple of 4).
std::vector<uint8_t> TwoRows() {
  return {200, 200, 200, 0, 0, 0, 255, 255, 255, 10, 20, 30, 30, 20, 10, 50, 50, 50};
}

TEST(FrameImageTest, LoadRowsTopDownBottomUpAndSwapped) {
  const std::vector<uint8_t> bits = TwoRows();
  FrameImage image(ColourTag::kRgb);
  ASSERT_TRUE(image.LoadRows(3, 9, 2, bits.data(), false, bits.size()));
  EXPECT_EQ(image.Tag(), ColourTag::kYCbCr);
  EXPECT_EQ(PixelAt(image, 0, 0), (Colour{200, 128, 128}));
  EXPECT_EQ(PixelAt(image, 2, 1), (Colour{50, 128, 128}));

  ASSERT_TRUE(image.LoadRows(3, 9, -2, bits.data(), false, bits.size()));
  EXPECT_EQ(PixelAt(image, 2, 0), (Colour{50, 128, 128}));
  EXPECT_EQ(PixelAt(image, 1, 1), (Colour{0, 128, 128}));

  FrameImage plain, swapped;
  std::vector<uint8_t> bgr = bits;
  for (std::size_t i = 0; i < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
  ASSERT_TRUE(plain.LoadRows(3, 9, 2, bits.data(), false, bits.size()));
  ASSERT_TRUE(swapped.LoadRows(3, 9, 2, bgr.data(), true, bgr.size()));
  EXPECT_EQ(PixelAt(plain, 0, 1), PixelAt(swapped, 0, 1));
  EXPECT_EQ(PixelAt(plain, 1, 1), PixelAt(swapped, 1, 1));
  EXPECT_NE(PixelAt(plain, 0, 1), PixelAt(plain, 1, 1));
}

TEST(FrameImageTest, LoadRowsRefusesShortSourcesAndKeepsPicture) {
  const std::vector<uint8_t> bits = TwoRows();
  FrameImage image;
  ASSERT_TRUE(image.Allocate(1, 1, Colour{7, 7, 7}));
  EXPECT_FALSE(image.LoadRows(3, 8, 2, bits.data(), false, bits.size()));  // stride < 9
  EXPECT_FALSE(image.LoadRows(3, 9, 3, bits.data(), false, bits.size()));  // third row missing
  EXPECT_FALSE(image.LoadRows(3, 9, 0, bits.data(), false, bits.size()));
  EXPECT_FALSE(image.LoadRows(3, 9, 1, nullptr, false, bits.size()));
  EXPECT_EQ(image.Width(), 1u);
  EXPECT_EQ(PixelAt(image, 0, 0), (Colour{7, 7, 7}));
  // The last row's padding is not needed: stride 12 over 12 + 9 bytes.
  std::vector<uint8_t> padded(21, 100);
  EXPECT_TRUE(image.LoadRows(3, 12, 2, padded.data(), false, padded.size()));
}

// Tightly packed rows of an exact-size buffer: nothing past the last pixel may be read.
TEST(FrameImageTest, LoadRowsWideTightRowsMatchPixelConversion) {
  for (const bool swap : {false, true}) {
    std::vector<uint8_t> bits(37 * 3 * 2);
    for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = uint8_t(i * 37 + i / 7);
    FrameImage image;
    ASSERT_TRUE(image.LoadRows(37, 111, -2, bits.data(), swap, bits.size()));
    for (uint32_t y = 0; y < 2; ++y) {
      for (uint32_t x = 0; x < 37; ++x) {
        const uint8_t* s = bits.data() + (1 - y) * 111 + x * 3;
        const uint8_t rgb[3] = {s[swap ? 2 : 0], s[1], s[swap ? 0 : 2]};
        uint8_t expected[3];
        RgbToYCbCr(rgb, expected);
        ASSERT_EQ(PixelAt(image, x, y), (Colour{expected[0], expected[1], expected[2]}))
            << x << "," << y << " swap " << swap;
      }
    }
  }
}

std::vector<uint8_t> Dib(int32_t width, int32_t height, uint16_t bitCount) {
  std::vector<uint8_t> dib(40, 0);
  auto put32 = [&dib](std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) dib[at + i] = uint8_t(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, uint32_t(width));
  put32(8, uint32_t(height));
  dib[12] = 1;
  dib[14] = uint8_t(bitCount);
  return dib;
}

TEST(VideoFrameTest, LoadsBottomUpAndTopDownDibs) {
  // 2 x 2, 24-bit: rows of 6 bytes padded to 8, blue-green-red.
  std::vector<uint8_t> dib = Dib(2, 2, 24);
  const uint8_t bits[16] = {0, 0, 255, 255, 255, 255, 0, 0,   // first stored row: red, white
                            0, 0, 0,   20,  20,  20,  0, 0};  // second: black, grey 20
  dib.insert(dib.end(), bits, bits + 16);
  VideoFrame frame;
  ASSERT_TRUE(frame.LoadFrom(dib.data(), dib.size()));
  // Bottom-up: the first stored row is the bottom one.
  EXPECT_EQ(PixelAt(frame, 0, 1), (Colour{76, 84, 255}));
  EXPECT_EQ(PixelAt(frame, 1, 0), (Colour{20, 128, 128}));

  dib[8] = 0xFE, dib[9] = dib[10] = dib[11] = 0xFF;  // height -2: top-down
  ASSERT_TRUE(frame.LoadFrom(dib.data(), dib.size()));
  EXPECT_EQ(PixelAt(frame, 0, 0), (Colour{76, 84, 255}));

  EXPECT_FALSE(frame.LoadFrom(dib.data(), dib.size() - 3));
  EXPECT_FALSE(frame.LoadFrom(dib.data(), 39));
  std::vector<uint8_t> palette = Dib(2, 2, 8);
  palette.resize(40 + 8, 0);
  EXPECT_FALSE(frame.LoadFrom(palette.data(), palette.size()));
  FrameImage base;
  EXPECT_FALSE(base.LoadFrom(dib.data(), dib.size()));
}

TEST(VideoFrameTest, Loads32BitDibs) {
  std::vector<uint8_t> dib = Dib(1, -2, 32);
  const uint8_t bits[8] = {0, 0, 255, 0, 9, 9, 9, 0};
  dib.insert(dib.end(), bits, bits + 8);
  VideoFrame frame;
  ASSERT_TRUE(frame.LoadFrom(dib.data(), dib.size()));
  EXPECT_EQ(PixelAt(frame, 0, 0), (Colour{76, 84, 255}));
  EXPECT_EQ(PixelAt(frame, 0, 1), (Colour{9, 128, 128}));
}

TEST(FrameImageTest, ExportConvertsOrGreysTheClippedRectangle) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(3, 2, Colour{200, 128, 128}));
  SetPixel(image, 2, 1, Colour{76, 84, 255});
  auto picture = image.ExportRgb(1, 0, 5, 5, false);
  ASSERT_NE(picture, nullptr);
  ASSERT_EQ(picture->width, 2u);
  ASSERT_EQ(picture->height, 2u);
  ASSERT_EQ(picture->pixels.size(), 12u);
  EXPECT_EQ(picture->pixels[0], 200);
  EXPECT_EQ(picture->pixels[9], 254);  // red, back from (76, 84, 255)
  EXPECT_LE(picture->pixels[10], 1);
  auto grey = image.ExportRgb(2, 1, 1, 1, true);
  ASSERT_NE(grey, nullptr);
  EXPECT_EQ(grey->pixels, (std::vector<uint8_t>{76, 76, 76}));

  FrameImage rgb(ColourTag::kRgb);
  ASSERT_TRUE(rgb.Allocate(1, 1, Colour{10, 20, 61}));
  EXPECT_EQ(rgb.ExportRgb(true)->pixels, (std::vector<uint8_t>{30, 30, 30}));
  EXPECT_EQ(rgb.ExportRgb(false)->pixels, (std::vector<uint8_t>{10, 20, 61}));
  EXPECT_EQ(image.ExportRgb(3, 0, 1, 1, false), nullptr);
}

// Halving --------------------------------------------------------------------------------

TEST(FrameImageHalvingTest, WidthNeedsSixteenAndDropsOddColumn) {
  FrameImage image, half;
  ASSERT_TRUE(image.Allocate(15, 2, Colour{1, 2, 3}));
  EXPECT_FALSE(image.HalveWidth(half, 0.0f, 0));
  ASSERT_TRUE(image.Allocate(17, 2, Colour{1, 2, 3}));
  ASSERT_TRUE(image.HalveWidth(half, 0.0f, 0));
  EXPECT_EQ(half.Width(), 8u);
  EXPECT_EQ(half.Height(), 2u);
  ASSERT_TRUE(image.Allocate(2, 15, Colour{1, 2, 3}));
  EXPECT_FALSE(image.HalveHeight(half, 0.0f, 0));
  ASSERT_TRUE(image.Allocate(2, 17, Colour{1, 2, 3}));
  ASSERT_TRUE(image.HalveHeight(half, 0.0f, 0));
  EXPECT_EQ(half.Height(), 8u);
}

TEST(FrameImageHalvingTest, PairsWithinLimitKeepFirstOrAverage) {
  FrameImage image(ColourTag::kRgb), half;
  ASSERT_TRUE(image.Allocate(16, 16, Colour{100, 100, 100}));
  SetPixel(image, 1, 0, Colour{103, 100, 100});  // distance 9 from its partner
  ASSERT_TRUE(image.HalveWidth(half, 9.0f, 0));
  EXPECT_EQ(half.Tag(), ColourTag::kRgb);
  EXPECT_EQ(PixelAt(half, 0, 0), (Colour{100, 100, 100}));
  EXPECT_FALSE(image.HalveWidth(half, 8.9f, 0));
  // Method 1 allows twice the limit and averages.
  ASSERT_TRUE(image.HalveWidth(half, 4.5f, 1));
  EXPECT_EQ(PixelAt(half, 0, 0), (Colour{101, 100, 100}));
  EXPECT_FALSE(image.HalveWidth(half, 4.4f, 1));

  SetPixel(image, 5, 7, Colour{100, 90, 100});  // pairs with (5, 6) vertically
  EXPECT_FALSE(image.HalveHeight(half, 99.0f, 0));
  ASSERT_TRUE(image.HalveHeight(half, 100.0f, 1));
  EXPECT_EQ(PixelAt(half, 5, 3), (Colour{100, 95, 100}));
}

TEST(FrameImageHalvingTest, InPlaceHalvingChangesImageOnlyOnSuccess) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(32, 16, Colour{50, 60, 70}));
  SetPixel(image, 30, 2, Colour{0, 60, 70});
  ASSERT_FALSE(image.HalveWidth(image, 10.0f, 0));
  EXPECT_EQ(image.Width(), 32u);
  EXPECT_EQ(PixelAt(image, 30, 2), (Colour{0, 60, 70}));
  ASSERT_TRUE(image.HalveHeight(image, 2500.0f, 0));
  EXPECT_EQ(image.Height(), 8u);
  EXPECT_EQ(PixelAt(image, 30, 1), (Colour{0, 60, 70}));
}

}  // namespace
}  // namespace quillon
