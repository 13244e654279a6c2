#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "video/frame_image.h"
#include "kernel_forms.h"

namespace quillon {
namespace {

void SetPixel(FrameImage& image, uint32_t x, uint32_t y, Colour c) {
  uint8_t* p = image.Row(y) + x * 3;
  p[0] = c[0];
  p[1] = c[1];
  p[2] = c[2];
}

void Pattern(FrameImage& image, uint32_t w, uint32_t h, uint32_t seed) {
  ASSERT_TRUE(image.Allocate(w, h));
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      seed = seed * 1103515245u + 12345u;
      SetPixel(image, x, y, Colour{uint8_t(seed >> 24), uint8_t(seed >> 16), uint8_t(seed >> 8)});
    }
  }
}

TEST(RegionDistanceToColourTest, MeanOfSquaredDistances) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(4, 2, Colour{10, 10, 10}));
  SetPixel(image, 3, 1, Colour{13, 14, 10});  // 9 + 16
  EXPECT_FLOAT_EQ(image.RegionDistanceToColour(Colour{10, 10, 10}, 25.0f), 25.0f / 8);
  ASSERT_TRUE(image.SelectRegion(0, 0, 3, 2));
  EXPECT_FLOAT_EQ(image.RegionDistanceToColour(Colour{10, 10, 10}, 0.0f), 0.0f);
  EXPECT_FLOAT_EQ(image.RegionDistanceToColour(Colour{10, 10, 12}, 4.0f), 4.0f);
}

TEST(RegionDistanceToColourTest, AnyPixelBeyondTheBoundIsNoMatch) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(4, 3, Colour{10, 10, 10}));
  SetPixel(image, 2, 2, Colour{13, 14, 10});
  EXPECT_EQ(image.RegionDistanceToColour(Colour{10, 10, 10}, 24.9f), FrameImage::kNoMatch);
  EXPECT_EQ(image.RegionDistanceToColour(Colour{10, 10, 10}, -1.0f), FrameImage::kNoMatch);
}

TEST(RegionDistanceToColourTest, WideRowsOverTheBoundInSumButNotPerPixel) {
  FrameImage image;
  ASSERT_TRUE(image.Allocate(40, 3, Colour{12, 10, 10}));  // each pixel 4 from (10, 10, 10)
  EXPECT_FLOAT_EQ(image.RegionDistanceToColour(Colour{10, 10, 10}, 5.0f), 4.0f);
  SetPixel(image, 37, 1, Colour{13, 10, 10});
  EXPECT_EQ(image.RegionDistanceToColour(Colour{10, 10, 10}, 5.0f), FrameImage::kNoMatch);
  EXPECT_FLOAT_EQ(image.RegionDistanceToColour(Colour{10, 10, 10}, 9.0f), (119 * 4 + 9) / 120.0f);
}

// Every region width crosses the vector steps and their scalar tails differently.
TEST(RegionMeasuresTest, AgreeWithBruteForceForEveryWidth) {
  FrameImage a, b;
  Pattern(a, 90, 6, 21);
  Pattern(b, 90, 6, 22);
  for (uint32_t w = 1; w <= 80; ++w) {
    ASSERT_TRUE(a.SelectRegion(int32_t(w % 7), 1, int32_t(w), 5));
    const uint32_t x0 = w % 7;
    uint64_t diff = 0, toColour = 0, sums[3] = {0, 0, 0};
    uint32_t maxToColour = 0;
    const Colour c{100, 50, 200};
    for (uint32_t y = 1; y < 6; ++y) {
      for (uint32_t x = x0; x < x0 + w; ++x) {
        const uint8_t* p = a.Row(y) + x * 3;
        const uint8_t* q = b.Row(y - 1) + (x - x0 + 3) * 3;
        uint32_t d = 0;
        for (int k = 0; k < 3; ++k) {
          diff += uint64_t((p[k] - q[k]) * (p[k] - q[k]));
          d += uint32_t((p[k] - c[k]) * (p[k] - c[k]));
          sums[k] += p[k];
        }
        toColour += d;
        maxToColour = std::max(maxToColour, d);
      }
    }
    const float count = float(w * 5);
    ASSERT_FLOAT_EQ(a.RegionDifference(b, 3, 0), float(diff) / count) << w;
    ASSERT_FLOAT_EQ(a.RegionDistanceToColour(c, float(maxToColour)), float(toColour) / count)
        << w;
    ASSERT_EQ(a.RegionDistanceToColour(c, float(maxToColour) - 0.5f), FrameImage::kNoMatch) << w;
    const Colour average = a.RegionAverage();
    for (int k = 0; k < 3; ++k) ASSERT_EQ(average[k], sums[k] / (w * 5)) << w;
  }
}

TEST(RegionDifferenceTest, ComparesWithTheSameSizedRectangleOfOther) {
  FrameImage a, b;
  Pattern(a, 16, 16, 1);
  ASSERT_TRUE(b.Allocate(20, 20, Colour{0, 0, 0}));
  ASSERT_TRUE(b.CopyRect(3, 4, 8, 8, a, 5, 6));
  ASSERT_TRUE(a.SelectRegion(5, 6, 8, 8));
  EXPECT_EQ(a.RegionDifference(b, 3, 4), 0.0f);
  SetPixel(b, 10, 11, Colour{0, 0, 0});
  const uint8_t* p = a.Row(13) + 12 * 3;
  const float expected = float(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]) / 64.0f;
  EXPECT_FLOAT_EQ(a.RegionDifference(b, 3, 4), expected);
  // Rectangles reaching outside other never match.
  EXPECT_EQ(a.RegionDifference(b, 13, 4), FrameImage::kNoMatch);
  EXPECT_EQ(a.RegionDifference(b, -1, 4), FrameImage::kNoMatch);
  EXPECT_EQ(a.RegionDifference(b, 3, 20), FrameImage::kNoMatch);
  EXPECT_FLOAT_EQ(a.RegionDifference(b, 12, 12), a.RegionDifference(b, 12, 12));
}

// A 32-bit sum would wrap above 22 017 pixels of maximal distance.
TEST(RegionDifferenceTest, LargeRegionsDoNotOverflow) {
  FrameImage black, white;
  ASSERT_TRUE(black.Allocate(300, 200, Colour{0, 0, 0}));
  ASSERT_TRUE(white.Allocate(300, 200, Colour{255, 255, 255}));
  EXPECT_FLOAT_EQ(black.RegionDifference(white, 0, 0), 195075.0f);
  uint32_t flags = 9;
  EXPECT_FLOAT_EQ(black.RegionDifferenceMirrored(white, 0, 0, flags), 195075.0f);
  EXPECT_EQ(flags, 0u);
  EXPECT_FLOAT_EQ(black.RegionDistanceToColour(Colour{255, 255, 255}, 2e5f), 195075.0f);
}

// other = a mirrored copy of the region's pixels, placed at (2, 1).
void Mirror(const FrameImage& source, FrameImage& other, bool horizontal, bool vertical) {
  ASSERT_TRUE(other.Allocate(source.Width() + 4, source.Height() + 3, Colour{1, 2, 3}));
  for (uint32_t y = 0; y < source.Height(); ++y) {
    for (uint32_t x = 0; x < source.Width(); ++x) {
      const uint32_t sx = horizontal ? source.Width() - 1 - x : x;
      const uint32_t sy = vertical ? source.Height() - 1 - y : y;
      const uint8_t* p = source.Row(sy) + sx * 3;
      SetPixel(other, x + 2, y + 1, Colour{p[0], p[1], p[2]});
    }
  }
}

TEST(RegionDifferenceMirroredTest, FindsEachFlipWithItsFlags) {
  FrameImage block, other;
  Pattern(block, 7, 5, 3);
  const struct {
    bool horizontal, vertical;
    uint32_t flags;
  } cases[] = {{false, false, 0}, {true, false, 1}, {false, true, 2}, {true, true, 3}};
  for (const auto& c : cases) {
    Mirror(block, other, c.horizontal, c.vertical);
    uint32_t flags = 99;
    EXPECT_EQ(block.RegionDifferenceMirrored(other, 2, 1, flags), 0.0f);
    EXPECT_EQ(flags, c.flags);
    if (c.flags != 0) {
      EXPECT_GT(block.RegionDifference(other, 2, 1), 0.0f);
    }
  }
  uint32_t flags = 99;
  EXPECT_EQ(block.RegionDifferenceMirrored(other, 5, 1, flags), FrameImage::kNoMatch);
  EXPECT_EQ(flags, 0u);
}

TEST(RegionDifferenceMirroredTest, EarlierReadingWinsTiesAndBestSumIsReturned) {
  // A left-right symmetric block: plain and horizontal readings tie, the plain one wins.
  FrameImage block, other;
  ASSERT_TRUE(block.Allocate(4, 2, Colour{0, 0, 0}));
  SetPixel(block, 0, 0, Colour{50, 0, 0});
  SetPixel(block, 3, 0, Colour{50, 0, 0});
  ASSERT_TRUE(other.Allocate(4, 2, Colour{0, 0, 0}));
  SetPixel(other, 0, 1, Colour{50, 0, 0});
  SetPixel(other, 3, 1, Colour{52, 0, 0});
  uint32_t flags = 99;
  // Vertical flip: |50-50|^2 + |50-52|^2 = 4 over 8 pixels; plain reading 4 x 2500 + ...
  EXPECT_FLOAT_EQ(block.RegionDifferenceMirrored(other, 0, 0, flags), 0.5f);
  EXPECT_EQ(flags, FrameImage::kFlipVertical);
  // Symmetric in both directions: no flip ever wins.
  ASSERT_TRUE(other.Allocate(4, 2, Colour{9, 9, 9}));
  ASSERT_TRUE(block.Allocate(4, 2, Colour{8, 9, 9}));
  EXPECT_FLOAT_EQ(block.RegionDifferenceMirrored(other, 0, 0, flags), 1.0f);
  EXPECT_EQ(flags, 0u);
}

// The early-abandon shortcut must never change the answer: compare with a brute force.
TEST(RegionDifferenceMirroredTest, MatchesBruteForceOnRandomBlocks) {
  FrameImage frame, block;
  Pattern(frame, 40, 30, 11);
  for (uint32_t trial = 0; trial < 50; ++trial) {
    Pattern(block, 3 + trial % 9, 2 + trial % 7, 100 + trial);
    // Half of the trials plant a flipped copy of a region so that flips can win.
    const uint32_t ox = trial % 13, oy = trial % 11;
    if (trial % 2 == 0) {
      for (uint32_t y = 0; y < block.Height(); ++y)
        for (uint32_t x = 0; x < block.Width(); ++x) {
          const uint8_t* p = block.Row(block.Height() - 1 - y) + x * 3;
          uint8_t* q = frame.Row(oy + y) + (ox + x) * 3;
          q[0] = p[0] + (x == 0 ? 1 : 0);
          q[1] = p[1];
          q[2] = p[2];
        }
    }
    uint64_t best = UINT64_MAX;
    uint32_t bestFlags = 0;
    for (uint32_t reading : {0u, 2u, 1u, 3u}) {
      uint64_t sum = 0;
      for (uint32_t y = 0; y < block.Height(); ++y)
        for (uint32_t x = 0; x < block.Width(); ++x) {
          const uint32_t fx = (reading & 1) ? block.Width() - 1 - x : x;
          const uint32_t fy = (reading & 2) ? block.Height() - 1 - y : y;
          const uint8_t* p = block.Row(y) + x * 3;
          const uint8_t* q = frame.Row(oy + fy) + (ox + fx) * 3;
          for (int c = 0; c < 3; ++c) sum += uint64_t((p[c] - q[c]) * (p[c] - q[c]));
        }
      if (sum < best) {
        best = sum;
        bestFlags = reading;
        if (sum == 0) break;
      }
    }
    uint32_t flags = 99;
    const float got = block.RegionDifferenceMirrored(frame, int32_t(ox), int32_t(oy), flags);
    ASSERT_FLOAT_EQ(got, float(best) / float(block.Width() * block.Height())) << trial;
    ASSERT_EQ(flags, bestFlags) << trial;
  }
}

// A search passes its best score so far as the ceiling: below it the answer must be the exact
// mean, at or above it only "not below", on both measures and at the very boundary.
TEST(RegionDifferenceTest, CeilingGivesTheExactMeanBelowItAndNeverLessAtOrAbove) {
  uint32_t seed = 11;
  for (uint32_t round = 0; round < 60; ++round) {
    const uint32_t w = 1 + round % 23, h = 1 + (round * 7) % 41;
    FrameImage a, b;
    Pattern(a, w, h, seed++);
    Pattern(b, w, h, seed++);
    // Make some pairs nearly equal so means fall on every side of the ceilings.
    if (round % 3 == 0) {
      ASSERT_TRUE(b.CopyRect(0, 0, w, std::max(1u, h / 2), a, 0, 0));
    }
    const float full = a.RegionDifference(b, 0, 0);
    uint32_t fullFlags = 0;
    const float fullMirrored = a.RegionDifferenceMirrored(b, 0, 0, fullFlags);
    for (const float ceiling : {0.0f, full * 0.5f, std::nextafter(full, 0.0f), full,
                                std::nextafter(full, 1e30f), full * 2.0f}) {
      SCOPED_TRACE(testing::Message() << w << "x" << h << " ceiling " << ceiling);
      const float bounded = a.RegionDifference(b, 0, 0, ceiling);
      if (full < ceiling) {
        EXPECT_EQ(bounded, full);
      } else {
        EXPECT_GE(bounded, ceiling);
      }
      uint32_t flags = 0;
      const float bm = a.RegionDifferenceMirrored(b, 0, 0, flags, ceiling);
      if (fullMirrored < ceiling) {
        EXPECT_EQ(bm, fullMirrored);
        EXPECT_EQ(flags, fullFlags);
      } else {
        EXPECT_GE(bm, ceiling);
      }
    }
  }
  // Most of the difference in the first rows: a look after them sees a sum just short of the
  // limit, and the rows after carry it over.
  FrameImage a, b;
  ASSERT_TRUE(a.Allocate(16, 16, Colour{100, 100, 100}));
  ASSERT_TRUE(b.Allocate(16, 16, Colour{101, 101, 101}));
  ASSERT_TRUE(b.FillRect(0, 0, 16, 8, Colour{110, 110, 110}));
  const float full = a.RegionDifference(b, 0, 0);  // (8 x 48 x 100 + 8 x 48 x 1) / 256
  const float ceiling = (8.0f * 48 * 100 + 200) / 256;
  ASSERT_GT(full, ceiling);
  EXPECT_GE(a.RegionDifference(b, 0, 0, ceiling), ceiling);
  uint32_t flags = 0;
  EXPECT_GE(a.RegionDifferenceMirrored(b, 0, 0, flags, ceiling), ceiling);
}

// ---- The channel-sum bound ------------------------------------------------------------------

uint64_t BruteSquares(const FrameImage& a, const FrameImage& b) {
  uint64_t sum = 0;
  for (uint32_t y = 0; y < a.Height(); ++y)
    for (uint32_t x = 0; x < a.Width() * 3; ++x) {
      const int32_t d = int32_t{a.Row(y)[x]} - int32_t{b.Row(y)[x]};
      sum += uint64_t(d * d);
    }
  return sum;
}

// Whether the bound rules the pair out at ceiling; when it does, neither measure may give a
// score below the ceiling (nor the true score be below it).
bool ExpectRuledOutOnlyWhenLosing(const FrameImage& a, const FrameImage& b, float ceiling) {
  const uint32_t n = a.Width() * a.Height();
  const uint64_t floor =
      FrameImage::DifferenceFloor(a.RegionChannelSums(), b.RegionChannelSums(), n);
  const bool ruledOut = floor >= FrameImage::DifferenceSumLimit(ceiling, n);
  if (ruledOut) {
    EXPECT_GE(float(BruteSquares(a, b)) / float(n), ceiling);
    EXPECT_GE(a.RegionDifference(b, 0, 0, ceiling), ceiling);
    uint32_t flags = 0;
    EXPECT_GE(a.RegionDifferenceMirrored(b, 0, 0, flags, ceiling), ceiling);
    EXPECT_GE(a.RegionDifferenceMirrored(b, 0, 0, flags), ceiling) << "a flipped reading";
  }
  return ruledOut;
}

void ExpectBoundHoldsAtEveryCeiling(const FrameImage& a, const FrameImage& b) {
  const uint32_t n = a.Width() * a.Height();
  const uint64_t squares = BruteSquares(a, b);
  EXPECT_LE(FrameImage::DifferenceFloor(a.RegionChannelSums(), b.RegionChannelSums(), n), squares);
  const float score = float(squares) / float(n);
  for (const float ceiling : {0.0f, score * 0.5f, std::nextafter(score, 0.0f), score,
                              std::nextafter(score, 1e30f), score * 2.0f + 1.0f}) {
    SCOPED_TRACE(testing::Message() << a.Width() << "x" << a.Height() << " ceiling " << ceiling);
    ExpectRuledOutOnlyWhenLosing(a, b, ceiling);
  }
}

TEST(DifferenceFloorTest, NeverRulesOutWhatTheComparisonWouldAccept) {
  FrameImage a, b;
  // Random pairs of every small shape, some nearly equal, some one channel shifted (where the
  // bound is nearly the whole sum).
  for (uint32_t round = 0; round < 120; ++round) {
    const uint32_t w = 1 + round % 17, h = 1 + (round * 5) % 13;
    Pattern(a, w, h, 500 + round);
    Pattern(b, w, h, 900 + round);
    if (round % 3 == 0) {
      ASSERT_TRUE(b.CopyRect(0, 0, w, std::max(1u, h - 1), a, 0, 0));
    } else if (round % 3 == 1) {
      ASSERT_TRUE(b.CopyRect(0, 0, w, h, a, 0, 0));
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
          uint8_t& v = b.Row(y)[x * 3 + round / 3 % 3];
          v = uint8_t(std::min(255, v + 1 + int(round % 5)));
        }
    }
    ExpectBoundHoldsAtEveryCeiling(a, b);
  }
  // Equal means, different pixels: the sums see nothing, and must not pretend to.
  ASSERT_TRUE(a.Allocate(3, 3, Colour{100, 100, 100}));
  ASSERT_TRUE(b.Allocate(3, 3, Colour{100, 100, 100}));
  SetPixel(b, 0, 0, Colour{150, 60, 100});
  SetPixel(b, 2, 1, Colour{50, 140, 100});
  EXPECT_EQ(FrameImage::DifferenceFloor(a.RegionChannelSums(), b.RegionChannelSums(), 9), 0u);
  ExpectBoundHoldsAtEveryCeiling(a, b);
  // One channel of one pixel off by 7 in an odd block: the bound is 49 / 15 rounded up.
  ASSERT_TRUE(a.Allocate(5, 3, Colour{10, 20, 30}));
  ASSERT_TRUE(b.Allocate(5, 3, Colour{10, 20, 30}));
  SetPixel(b, 4, 2, Colour{10, 27, 30});
  EXPECT_EQ(FrameImage::DifferenceFloor(a.RegionChannelSums(), b.RegionChannelSums(), 15), 4u);
  ExpectBoundHoldsAtEveryCeiling(a, b);
  // A single pixel, and blocks that differ by the same amount everywhere: the bound is then
  // the whole sum, and rules out the pair exactly from its own score on.
  for (const auto& [w, h] : {std::pair{1u, 1u}, std::pair{7u, 5u}, std::pair{33u, 9u}}) {
    ASSERT_TRUE(a.Allocate(w, h, Colour{255, 255, 255}));
    ASSERT_TRUE(b.Allocate(w, h, Colour{0, 0, 0}));
    const uint32_t n = w * h;
    EXPECT_EQ(FrameImage::DifferenceFloor(a.RegionChannelSums(), b.RegionChannelSums(), n),
              BruteSquares(a, b));
    ExpectBoundHoldsAtEveryCeiling(a, b);
    const float score = float(BruteSquares(a, b)) / float(n);
    EXPECT_TRUE(ExpectRuledOutOnlyWhenLosing(a, b, score));
    EXPECT_FALSE(ExpectRuledOutOnlyWhenLosing(a, b, std::nextafter(score, 1e30f)));
  }
}

// Sums of the largest region a count can name: the squares pass 64 bits on the way.
TEST(DifferenceFloorTest, LargestRegionsDoNotOverflow) {
  const uint32_t n = 0xFFFFFFFFu;
  RegionSums white, black;
  for (uint64_t& c : white.channel) c = 255ull * n;
  EXPECT_EQ(FrameImage::DifferenceFloor(white, black, n), 3ull * 255 * 255 * n);
  EXPECT_EQ(FrameImage::DifferenceFloor(black, white, n), 3ull * 255 * 255 * n);
  RegionSums near = white;
  near.channel[1] -= 1;
  EXPECT_EQ(FrameImage::DifferenceFloor(white, near, n), 1u) << "1 / n, rounded up";
}

// ---- Both kernel forms against plain sums ---------------------------------------------------

struct Sums {
  uint64_t squares = 0;
  uint64_t channel[3] = {0, 0, 0};
};

// a's region against b's same-sized rectangle at (ox, oy), one pixel at a time.
Sums PlainSums(const FrameImage& a, const FrameImage& b, uint32_t ox, uint32_t oy) {
  Sums s;
  const FrameImage::Region r = a.GetRegion();
  for (uint32_t y = 0; y < r.h; ++y) {
    const uint8_t* p = a.Row(r.y + y) + r.x * 3;
    const uint8_t* q = b.Row(oy + y) + ox * 3;
    for (uint32_t i = 0; i < r.w * 3; ++i) {
      s.squares += uint64_t((p[i] - q[i]) * (p[i] - q[i]));
      s.channel[i % 3] += p[i];
    }
  }
  return s;
}

void Noise(FrameImage& image, uint32_t w, uint32_t h, std::mt19937& random, int spread) {
  ASSERT_TRUE(image.Allocate(w, h));
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t i = 0; i < image.Stride(); ++i) {
      image.Row(y)[i] = static_cast<uint8_t>(128 + int(random() % (2 * spread + 1)) - spread);
    }
  }
}

// Widths on both sides of every vector step (16 and 32 bytes, 48-byte groups), single pixels,
// rows padded in the images' strides, regions off the images' origins.
TEST(RegionKernelsTest, EveryFormGivesThePlainSumsOnAnyShape) {
  ForEachKernelForm([] {
    std::mt19937 random(977);
    FrameImage a, b;
    for (uint32_t round = 0; round < 300; ++round) {
      const uint32_t w = 1 + round % 67 + (round % 5 == 0 ? 100 : 0);
      const uint32_t h = 1 + (round * 7) % 23;
      const int spread = round % 3 == 0 ? 128 : 3;
      Noise(a, w + 5, h + 2, random, spread);
      Noise(b, w + 9, h + 4, random, spread);
      const uint32_t x0 = round % 5, y0 = round % 3, ox = round % 10, oy = round % 5;
      ASSERT_TRUE(a.SelectRegion(int32_t(x0), int32_t(y0), int32_t(w), int32_t(h)));
      const Sums plain = PlainSums(a, b, ox, oy);
      const float count = float(w * h);
      SCOPED_TRACE(testing::Message() << w << "x" << h);
      ASSERT_EQ(a.RegionDifference(b, int32_t(ox), int32_t(oy)), float(plain.squares) / count);
      uint32_t flags = 9;
      ASSERT_LE(a.RegionDifferenceMirrored(b, int32_t(ox), int32_t(oy), flags),
                float(plain.squares) / count);
      const Colour average = a.RegionAverage();
      for (int k = 0; k < 3; ++k) ASSERT_EQ(average[k], plain.channel[k] / (w * h)) << k;
    }
  });
}

// All bytes 255 against 0: the largest square in every lane, over rows long enough to split into
// chunks and regions large enough to fold the channel lanes mid-row.
TEST(RegionKernelsTest, EveryFormSurvivesTheLargestBytes) {
  ForEachKernelForm([] {
    for (const uint32_t w : {4096u, 5000u, 16385u, 17000u}) {
      FrameImage white, black;
      ASSERT_TRUE(white.Allocate(w, 3, Colour{255, 255, 255}));
      ASSERT_TRUE(black.Allocate(w, 3, Colour{0, 0, 0}));
      const float mean = float(uint64_t{w} * 3 * 195075) / float(w * 3);
      ASSERT_EQ(white.RegionDifference(black, 0, 0), mean) << w;
      uint32_t flags = 9;
      ASSERT_EQ(white.RegionDifferenceMirrored(black, 0, 0, flags), mean) << w;
      ASSERT_EQ(white.RegionAverage(), (Colour{255, 255, 255})) << w;
      // One channel short of full: a fold that lost a lane would show.
      ASSERT_TRUE(white.FillRect(int32_t(w) - 1, 2, 1, 1, Colour{255, 0, 255}));
      ASSERT_EQ(white.RegionAverage(), (Colour{255, 254, 255})) << w;
    }
  });
}

// A search's ceiling may stop a sum at any row: every form must stop at the same rows with the
// same partial sum, and below the ceiling give the whole mean.
TEST(RegionKernelsTest, EveryFormStopsAtTheSameRowsWithTheSameSum) {
  std::mt19937 random(4242);
  std::vector<FrameImage> as(40), bs(40);
  for (std::size_t i = 0; i < as.size(); ++i) {
    const uint32_t w = 5 + uint32_t(i) * 11 % 130, h = 2 + uint32_t(i) * 5 % 40;
    Noise(as[i], w, h, random, 40);
    Noise(bs[i], w, h, random, 40);
  }
  std::vector<float> first;
  bool firstForm = true;
  ForEachKernelForm([&] {
    std::size_t k = 0;
    for (std::size_t i = 0; i < as.size(); ++i) {
      const FrameImage& a = as[i];
      const FrameImage& b = bs[i];
      const uint32_t w = a.Width(), h = a.Height();
      // Ceilings at the mean of every row prefix, and just either side of it.
      uint64_t prefix = 0;
      for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w * 3; ++x) {
          const int d = a.Row(y)[x] - b.Row(y)[x];
          prefix += uint64_t(d * d);
        }
        const float mean = float(prefix) / float(w * h);
        for (const float ceiling : {std::nextafter(mean, 0.0f), mean, std::nextafter(mean, 1e30f)}) {
          const float got = a.RegionDifference(b, 0, 0, ceiling);
          const float whole = a.RegionDifference(b, 0, 0);
          if (whole < ceiling) {
            ASSERT_EQ(got, whole);
          } else {
            ASSERT_GE(got, ceiling);
          }
          if (firstForm) {
            first.push_back(got);
          } else {
            ASSERT_EQ(got, first[k]) << i << " row " << y;
          }
          ++k;
        }
      }
    }
    firstForm = false;
  });
}

}  // namespace
}  // namespace quillon
