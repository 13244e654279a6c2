#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <vector>

#include "video/frame_image.h"

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

// An image with a deterministic, non-uniform pattern.
void Pattern(FrameImage& image, uint32_t w, uint32_t h) {
  ASSERT_TRUE(image.Allocate(w, h));
  uint32_t seed = 12345;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      seed = seed * 1103515245u + 12345u;
      SetPixel(image, x, y, Colour{uint8_t(seed >> 24), uint8_t(seed >> 16), uint8_t(seed >> 8)});
    }
  }
}

std::vector<Colour> RowOf(const FrameImage& image, uint32_t y) {
  std::vector<Colour> row;
  for (uint32_t x = 0; x < image.Width(); ++x) row.push_back(PixelAt(image, x, y));
  return row;
}

TEST(ImageQuantiseTest, KeepsTopBitsAndSetsTheMiddleBit) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(2, 1));
  SetPixel(image, 0, 0, Colour{0x37, 0x37, 0x37});
  SetPixel(image, 1, 0, Colour{0xFF, 0xFF, 0xFF});
  image.Quantise(4, 0);
  image.Quantise(0, 1);
  image.Quantise(8, 2);
  EXPECT_EQ(PixelAt(image, 0, 0), (Colour{0x38, 0x00, 0x37}));
  EXPECT_EQ(PixelAt(image, 1, 0), (Colour{0xF8, 0x00, 0xFF}));
  image.Quantise(7, 2);
  EXPECT_EQ(PixelAt(image, 0, 0)[2], 0x37);
  EXPECT_EQ(PixelAt(image, 1, 0)[2], 0xFF);
  image.Quantise(1, 2);
  EXPECT_EQ(PixelAt(image, 0, 0)[2], 0x40);
  EXPECT_EQ(PixelAt(image, 1, 0)[2], 0xC0);
}

TEST(ImageQuantiseTest, WorksOnTheSelectedRegionOnly) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(3, 3, Colour{0x37, 0, 0}));
  ASSERT_TRUE(image.SelectRegion(1, 1, 1, 1));
  image.Quantise(4, 0);
  EXPECT_EQ(PixelAt(image, 1, 1)[0], 0x38);
  EXPECT_EQ(PixelAt(image, 0, 1)[0], 0x37);
  EXPECT_EQ(PixelAt(image, 1, 0)[0], 0x37);
  EXPECT_EQ(PixelAt(image, 2, 2)[0], 0x37);
}

TEST(ImageUniformSpanTest, RunOfOneNeverChangesAnything) {
  FrameImage image, copy;
  Pattern(image, 9, 5);
  ASSERT_TRUE(image.CopyTo(copy));
  image.UniformSpanHorizontal(1e9f, 1);
  image.UniformSpanVertical(1e9f, 1);
  EXPECT_EQ(0, std::memcmp(image.Pixels(), copy.Pixels(), image.ByteSize()));
}

TEST(ImageUniformSpanTest, RunsEndAtThresholdExcessAndMaximumLength) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(7, 1));
  // Distances to the anchor (10, 0, 0): 4, 16 (exactly T: stays), then 10 000.
  SetPixel(image, 0, 0, Colour{10, 0, 0});
  SetPixel(image, 1, 0, Colour{12, 0, 0});
  SetPixel(image, 2, 0, Colour{14, 0, 0});
  SetPixel(image, 3, 0, Colour{110, 0, 0});
  SetPixel(image, 4, 0, Colour{111, 0, 0});
  SetPixel(image, 5, 0, Colour{113, 0, 0});
  SetPixel(image, 6, 0, Colour{113, 0, 0});
  image.UniformSpanHorizontal(16.0f, 3);
  // [0, 3) ends at the jump, [3, 6) at the length 3, [6] alone stays.
  const std::vector<Colour> expected = {{12, 0, 0},  {12, 0, 0},  {12, 0, 0}, {111, 0, 0},
                                        {111, 0, 0}, {111, 0, 0}, {113, 0, 0}};
  EXPECT_EQ(RowOf(image, 0), expected);
}

TEST(ImageUniformSpanTest, LastRunOfEveryColumnIsClosed) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(2, 4, Colour{0, 0, 0}));
  SetPixel(image, 0, 2, Colour{100, 0, 0});
  SetPixel(image, 0, 3, Colour{102, 2, 0});
  SetPixel(image, 1, 3, Colour{9, 0, 0});
  image.UniformSpanVertical(10.0f, 100);
  EXPECT_EQ(PixelAt(image, 0, 0), (Colour{0, 0, 0}));
  EXPECT_EQ(PixelAt(image, 0, 2), (Colour{101, 1, 0}));
  EXPECT_EQ(PixelAt(image, 0, 3), (Colour{101, 1, 0}));
  // Column 1: all four pixels within 81 of the anchor? 81 > 10, so (9,0,0) stays alone.
  EXPECT_EQ(PixelAt(image, 1, 3), (Colour{9, 0, 0}));
  EXPECT_EQ(PixelAt(image, 1, 2), (Colour{0, 0, 0}));
}

TEST(ImageUniformBlockTest, SegmentsOfFourFourAndTwo) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(10, 1));
  const uint8_t ys[10] = {10, 12, 10, 12, 50, 90, 50, 90, 31, 33};
  for (uint32_t x = 0; x < 10; ++x) SetPixel(image, x, 0, Colour{ys[x], 128, 128});
  image.UniformBlockHorizontal(5.0f, 4);
  const std::vector<Colour> expected = {
      {11, 128, 128}, {11, 128, 128}, {11, 128, 128}, {11, 128, 128},  // mean 1 < 5
      {50, 128, 128}, {90, 128, 128}, {50, 128, 128}, {90, 128, 128},  // 400 per pixel
      {32, 128, 128}, {32, 128, 128}};                                 // short last segment
  EXPECT_EQ(RowOf(image, 0), expected);
}

TEST(ImageUniformBlockTest, MeanMustStayBelowThresholdAndVerticalWorksOnColumns) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(1, 3));
  SetPixel(image, 0, 0, Colour{10, 0, 0});
  SetPixel(image, 0, 1, Colour{12, 0, 0});
  SetPixel(image, 0, 2, Colour{200, 0, 0});
  // First segment (10, 12): average 11, mean distance exactly 1: not below 1.
  image.UniformBlockVertical(1.0f, 2);
  EXPECT_EQ(PixelAt(image, 0, 0)[0], 10);
  image.UniformBlockVertical(1.5f, 2);
  EXPECT_EQ(PixelAt(image, 0, 0)[0], 11);
  EXPECT_EQ(PixelAt(image, 0, 1)[0], 11);
  EXPECT_EQ(PixelAt(image, 0, 2)[0], 200);
}

TEST(ImageToneTest, DarkenScalesLuminanceAndDarkLimitBlackens) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(3, 1));
  SetPixel(image, 0, 0, Colour{255, 10, 20});
  SetPixel(image, 1, 0, Colour{101, 10, 20});
  SetPixel(image, 2, 0, Colour{25, 10, 20});
  image.Darken((100.0f - 50.0f) * 0.01f);
  EXPECT_EQ(RowOf(image, 0),
            (std::vector<Colour>{{127, 10, 20}, {50, 10, 20}, {12, 10, 20}}));
  image.Darken(3.0f);
  EXPECT_EQ(PixelAt(image, 0, 0)[0], 255);
  image.DarkLimit(40.0f * 0.01f * 255.0f);  // 102
  EXPECT_EQ(RowOf(image, 0),
            (std::vector<Colour>{{255, 10, 20}, {150, 10, 20}, {0, 128, 128}}));
}

TEST(ImageSmoothTest, StrengthThreeHundredWeighsCentreAndNeighboursEqually) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(2, 2, Colour{0, 0, 0}));
  SetPixel(image, 0, 0, Colour{100, 0, 0});
  SetPixel(image, 1, 0, Colour{20, 0, 0});
  SetPixel(image, 0, 1, Colour{40, 0, 0});
  SetPixel(image, 1, 1, Colour{80, 8, 0});
  image.SmoothForward(300.0f);
  EXPECT_EQ(PixelAt(image, 0, 0), (Colour{60, 2, 0}));  // (100 + 20 + 40 + 80) / 4
  // Last column and row stay.
  EXPECT_EQ(PixelAt(image, 1, 0), (Colour{20, 0, 0}));
  EXPECT_EQ(PixelAt(image, 0, 1), (Colour{40, 0, 0}));
  EXPECT_EQ(PixelAt(image, 1, 1), (Colour{80, 8, 0}));
  image.SmoothBackward(300.0f);
  EXPECT_EQ(PixelAt(image, 1, 1), (Colour{50, 2, 0}));  // (80 + 40 + 20 + 60) / 4, 10 / 4
  EXPECT_EQ(PixelAt(image, 0, 0), (Colour{60, 2, 0}));
}

// Each pass must equal a filter over the unchanged image even though it works in place.
TEST(ImageSmoothTest, PassesMatchAFilterOverTheOriginal) {
  FrameImage image, original;
  Pattern(image, 13, 7);
  ASSERT_TRUE(image.CopyTo(original));
  const float s = 0.75f, e = s * 0.33333334f, d = s + 1.0f;
  image.SmoothForward(75.0f);
  for (uint32_t y = 0; y < 7; ++y) {
    for (uint32_t x = 0; x < 13; ++x) {
      for (uint32_t c = 0; c < 3; ++c) {
        uint8_t expected = original.Row(y)[x * 3 + c];
        if (x < 12 && y < 6) {
          const int n = original.Row(y)[(x + 1) * 3 + c] + original.Row(y + 1)[x * 3 + c] +
                        original.Row(y + 1)[(x + 1) * 3 + c];
          expected = uint8_t((e * float(n) + float(expected)) / d);
        }
        ASSERT_EQ(image.Row(y)[x * 3 + c], expected) << x << "," << y << "," << c;
      }
    }
  }
  ASSERT_TRUE(image.CopyTo(original));
  image.SmoothBackward(75.0f);
  for (uint32_t y = 0; y < 7; ++y) {
    for (uint32_t x = 0; x < 13; ++x) {
      for (uint32_t c = 0; c < 3; ++c) {
        uint8_t expected = original.Row(y)[x * 3 + c];
        if (x > 0 && y > 0) {
          const int n = original.Row(y)[(x - 1) * 3 + c] + original.Row(y - 1)[x * 3 + c] +
                        original.Row(y - 1)[(x - 1) * 3 + c];
          expected = uint8_t((e * float(n) + float(expected)) / d);
        }
        ASSERT_EQ(image.Row(y)[x * 3 + c], expected) << x << "," << y << "," << c;
      }
    }
  }
}

TEST(ImageSmoothTest, SingleRowIsLeftAlone) {
  FrameImage image, copy;
  Pattern(image, 6, 1);
  ASSERT_TRUE(image.CopyTo(copy));
  image.SmoothForward(100.0f);
  image.SmoothBackward(100.0f);
  EXPECT_EQ(0, std::memcmp(image.Pixels(), copy.Pixels(), image.ByteSize()));
}

TEST(ImageResizeTest, RawSamplesByAccumulatedSteps) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(5, 3));
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 5; ++x) SetPixel(image, x, y, Colour{uint8_t(x), uint8_t(y), 7});
  ASSERT_TRUE(image.Resize(2, 2, 0));
  EXPECT_EQ(image.Width(), 2u);
  EXPECT_EQ(image.Stride(), 8u);
  EXPECT_EQ(image.GetRegion().w, 2u);
  // Steps 2.5 and 1.5: columns 0, 2; rows 0, 1.
  EXPECT_EQ(RowOf(image, 0), (std::vector<Colour>{{0, 0, 7}, {2, 0, 7}}));
  EXPECT_EQ(RowOf(image, 1), (std::vector<Colour>{{0, 1, 7}, {2, 1, 7}}));
}

TEST(ImageResizeTest, AverageTakesWholeStepAreas) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(4, 4));
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x) SetPixel(image, x, y, Colour{uint8_t(x * 10 + y), 0, 0});
  ASSERT_TRUE(image.Resize(2, 2, 1));
  EXPECT_EQ(RowOf(image, 0), (std::vector<Colour>{{5, 0, 0}, {25, 0, 0}}));  // 0 1 10 11 -> 5
  EXPECT_EQ(RowOf(image, 1), (std::vector<Colour>{{7, 0, 0}, {27, 0, 0}}));
  EXPECT_EQ(image.Tag(), ColourTag::kYCbCr);
}

TEST(ImageResizeTest, OddRatiosStayInsideTheSource) {
  FrameImage image;
  Pattern(image, 641, 359);
  ASSERT_TRUE(image.Resize(320, 180, 0));
  ASSERT_TRUE(image.Resize(319, 17, 1));
  EXPECT_EQ(image.Width(), 319u);
  EXPECT_FALSE(image.Resize(0, 17, 1));
  EXPECT_EQ(image.Width(), 319u);
}

// Every pass FrameStore applies, with a cancel flag to look at.
struct FilterPass {
  const char* name;
  std::function<bool(FrameImage&, const std::atomic<bool>*)> run;
};

const FilterPass kFilterPasses[] = {
    {"resize average", [](FrameImage& i, auto c) { return i.Resize(29, 51, 1, c); }},
    {"resize raw", [](FrameImage& i, auto c) { return i.Resize(29, 51, 0, c); }},
    {"span across", [](FrameImage& i, auto c) { return i.UniformSpanHorizontal(5000.0f, 3, c); }},
    {"span down", [](FrameImage& i, auto c) { return i.UniformSpanVertical(5000.0f, 3, c); }},
    {"block across", [](FrameImage& i, auto c) { return i.UniformBlockHorizontal(9e4f, 4, c); }},
    {"block down", [](FrameImage& i, auto c) { return i.UniformBlockVertical(9e4f, 4, c); }},
    {"darken", [](FrameImage& i, auto c) { return i.Darken(0.7f, c); }},
    {"dark limit", [](FrameImage& i, auto c) { return i.DarkLimit(120.0f, c); }},
    {"quantise", [](FrameImage& i, auto c) { return i.Quantise(3, 1, c); }},
    {"smooth forward", [](FrameImage& i, auto c) { return i.SmoothForward(80.0f, c); }},
    {"smooth backward", [](FrameImage& i, auto c) { return i.SmoothBackward(80.0f, c); }},
};

bool SamePixels(const FrameImage& a, const FrameImage& b) {
  return a.Width() == b.Width() && a.Height() == b.Height() &&
         std::memcmp(a.Pixels(), b.Pixels(), a.ByteSize()) == 0;
}

// A cancelled run must not wait for a huge frame's filters, and a run nobody cancels must come
// out byte for byte as before: a clear flag changes nothing, a set one stops the pass before it
// touches a line and says so.
TEST(ImageFilterCancelTest, SetFlagStopsEveryPassAtOnceAndAClearOneChangesNothing) {
  for (const FilterPass& pass : kFilterPasses) {
    SCOPED_TRACE(pass.name);
    FrameImage original, unwatched, watched, stopped;
    Pattern(original, 40, 70);  // more lines and columns than one look at the flag covers
    ASSERT_TRUE(original.CopyTo(unwatched));
    ASSERT_TRUE(original.CopyTo(watched));
    ASSERT_TRUE(original.CopyTo(stopped));
    ASSERT_TRUE(pass.run(unwatched, nullptr));
    ASSERT_FALSE(SamePixels(unwatched, original));  // the pass does something here

    std::atomic<bool> cancel{false};
    EXPECT_TRUE(pass.run(watched, &cancel));
    EXPECT_TRUE(SamePixels(watched, unwatched));

    cancel = true;
    EXPECT_FALSE(pass.run(stopped, &cancel));
    EXPECT_TRUE(SamePixels(stopped, original));
  }
}

}  // namespace
}  // namespace quillon
