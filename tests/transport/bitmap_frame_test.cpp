// The per-frame bitmap steps over real use records: budget stop, ids, tags, release.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "match/frame_use_store.h"
#include "match/screen_use_store.h"
#include "settings/encoder_settings.h"
#include "swf/swf_test_reader.h"
#include "swf/swf_writer.h"
#include "swf/transport/bitmap_definitions.h"

namespace quillon {
namespace {

constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 32;
constexpr uint32_t kBlock = 16;

// Noise-like content so that every block costs a few hundred bytes.
std::unique_ptr<FrameImage> NoisyFrame() {
  auto image = std::make_unique<FrameImage>(ColourTag::kYCbCr);
  EXPECT_TRUE(image->Allocate(kWidth, kHeight));
  uint32_t seed = 1;
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth * 3; ++x) {
      seed = seed * 1103515245u + 12345u;
      image->Row(y)[x] = static_cast<uint8_t>(seed >> 24);
    }
  }
  return image;
}

class BitmapFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(uses.Setup(2, kWidth, kHeight));
    ASSERT_TRUE(screen.Setup(2, kWidth, kHeight, kBlock, kBlock));
    // Three separate new 16 x 16 bitmaps in frame 0.
    for (uint32_t x : {0u, 32u, 48u}) ASSERT_TRUE(uses.AddUse(0, x, 0, 16, 16));
    ASSERT_TRUE(uses.PrepareFrame(0));
    ASSERT_TRUE(uses.PrepareFrame(1));  // nothing marked
    image = NoisyFrame();
  }
  void Initialise(uint32_t flags) {
    options.flags = flags;
    ASSERT_TRUE(
        bitmaps.Initialise(options, nullptr, &uses, &screen, kWidth, kHeight, kBlock, kBlock));
    ASSERT_TRUE(writer.Open());
  }
  std::vector<UseRect>& Rects() { return uses.GetFrameUse(0)->rects; }

  FrameUseStore uses;
  ScreenUseStore screen;
  std::unique_ptr<FrameImage> image;
  TransportOptions options;
  BitmapDefinitions bitmaps;
  SwfWriter writer;
};

TEST_F(BitmapFrameTest, StopsEncodingOnceTheBudgetIsUsedUp) {
  Initialise(TransportOptions::kZlib32);
  ASSERT_EQ(Rects().size(), 2u);  // the two adjacent squares merge into one 32 x 16 rectangle
  uint32_t used = 0;
  ASSERT_TRUE(bitmaps.EncodeFrameBitmaps(0, image.get(), 1, used));
  EXPECT_EQ(bitmaps.Bitmaps().size(), 1u);
  EXPECT_GE(used, 1u);
  EXPECT_EQ(used, Rects()[0].payload->Size());
  EXPECT_EQ(Rects()[1].payload, nullptr);
  // A frame refused by the budget must never be defined half-encoded.
  EXPECT_FALSE(bitmaps.DefineFrameBitmaps(0, writer));

  bitmaps.ReleaseFrameBitmaps(0);
  bitmaps.ClearFrameBitmaps(0);
  ASSERT_TRUE(bitmaps.EncodeFrameBitmaps(0, image.get(), UINT32_MAX, used));
  EXPECT_EQ(used, Rects()[0].payload->Size() + Rects()[1].payload->Size());
  EXPECT_EQ(bitmaps.Bitmaps().size(), 2u);
  // Exactly reaching the budget stops too (U >= B).
  const uint32_t firstBytes = Rects()[0].payload->Size();
  bitmaps.ClearFrameBitmaps(0);
  ASSERT_TRUE(bitmaps.EncodeFrameBitmaps(0, image.get(), firstBytes, used));
  EXPECT_EQ(used, firstBytes);
  EXPECT_EQ(bitmaps.Bitmaps().size(), 1u);
}

TEST_F(BitmapFrameTest, DefinesEveryRecordWithItsIdAndReleasesAfterwards) {
  Initialise(TransportOptions::kZlib32 | TransportOptions::kJpeg);
  uint32_t used = 0;
  ASSERT_TRUE(bitmaps.EncodeFrameBitmaps(0, image.get(), UINT32_MAX, used));
  Rects()[0].characterId = 63998;
  Rects()[1].characterId = 63997;
  ASSERT_TRUE(bitmaps.DefineFrameBitmaps(0, writer)) << bitmaps.lastError;
  EXPECT_EQ(bitmaps.EncodedPixels(), uint64_t{32 * 16 + 16 * 16});

  const auto tags = testing::ParseTags(testing::OutputBytes(writer));
  std::vector<uint16_t> ids;
  for (const auto& t : tags) {
    if (t.code == 6 || t.code == 20)
      ids.push_back(static_cast<uint16_t>(t.body[0] | t.body[1] << 8));
  }
  EXPECT_EQ(ids, (std::vector<uint16_t>{63998, 63997}));

  bitmaps.ReleaseFrameBitmaps(0);
  for (const UseRect& r : Rects()) {
    EXPECT_EQ(r.payload, nullptr);
    EXPECT_FALSE(r.shrunkImage);
  }
}

TEST_F(BitmapFrameTest, TransientRectanglesShrinkByTheirOwnRule) {
  // Both halving directions only for blocks shown for one frame; flat content halves freely.
  Initialise(TransportOptions::kZlib32 | TransportOptions::kTransientResizeHorizontal |
             TransportOptions::kTransientResizeVertical);
  ASSERT_TRUE(image->FillRect(0, 0, kWidth, kHeight, Colour{90, 128, 128}));
  MatchResult fresh;
  fresh.kind = BlockKind::kBitmap;
  fresh.subKind = BitmapSource::kNew;
  MatchResult plain;
  plain.kind = BlockKind::kPlain;
  for (uint32_t x = 0; x < kWidth; x += kBlock) {
    fresh.sourceFrame = 0;
    fresh.x = x;
    ASSERT_TRUE(screen.RecordBlock(0, x, 0, x == 16 ? plain : fresh));
    ASSERT_TRUE(screen.RecordBlock(0, x, 16, plain));
    ASSERT_TRUE(screen.RecordBlock(1, x, 0, plain));  // frame 1 replaces everything
    ASSERT_TRUE(screen.RecordBlock(1, x, 16, plain));
  }
  screen.MarkTransient(1);
  ASSERT_TRUE(screen.AllTransient(0, 32, 0, 32, 16));

  uint32_t used = 0;
  ASSERT_TRUE(bitmaps.EncodeFrameBitmaps(0, image.get(), UINT32_MAX, used));
  for (const UseRect& r : Rects()) {
    ASSERT_TRUE(r.shrunkImage) << r.x;
    EXPECT_EQ(r.shrunkImage->Height(), 8u);
    EXPECT_FLOAT_EQ(r.scaleY, 0.5f);
    EXPECT_FLOAT_EQ(r.scaleX, 8.0f / static_cast<float>(r.w));
  }
}

TEST_F(BitmapFrameTest, FramesWithoutNewBitmapsNeedNoPictureAndMissingEntriesFail) {
  Initialise(TransportOptions::kZlib32);
  uint32_t used = 7;
  EXPECT_TRUE(bitmaps.EncodeFrameBitmaps(1, nullptr, 100, used));
  EXPECT_EQ(used, 0u);
  EXPECT_TRUE(bitmaps.DefineFrameBitmaps(1, writer));
  EXPECT_EQ(writer.Cursor(), 0u);
  EXPECT_FALSE(bitmaps.EncodeFrameBitmaps(0, nullptr, 100, used));      // picture missing
  EXPECT_FALSE(bitmaps.EncodeFrameBitmaps(2, image.get(), 100, used));  // beyond the range
  EXPECT_FALSE(bitmaps.lastError.empty());
}

// Thirty-two separate 8 x 8 rectangles (a checkerboard of cells) encoded on several threads.
class BitmapFrameThreadsTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kWide = 128;
  void SetUp() override {
    ASSERT_TRUE(uses.Setup(1, kWide, kHeight));
    for (uint32_t y = 0; y < kHeight; y += 8) {
      for (uint32_t x = (y / 8) % 2 * 8; x < kWide; x += 16) ASSERT_TRUE(uses.AddUse(0, x, y, 8, 8));
    }
    ASSERT_TRUE(uses.PrepareFrame(0));
    ASSERT_EQ(uses.GetFrameUse(0)->rects.size(), 32u);
    image = std::make_unique<FrameImage>(ColourTag::kYCbCr);
    ASSERT_TRUE(image->Allocate(kWide, kHeight));
    uint32_t seed = 7;
    for (uint32_t y = 0; y < kHeight; ++y) {
      for (uint32_t x = 0; x < kWide * 3; ++x) {
        seed = seed * 1103515245u + 12345u;
        // Smooth in places, noisy in others, so the encoders' sizes differ block by block.
        image->Row(y)[x] = static_cast<uint8_t>(x % 96 < 48 ? x + y : seed >> 24);
      }
    }
  }

  struct Outcome {
    bool ok = false;
    uint32_t used = 0;
    std::vector<uint32_t> encodings;
    std::vector<std::vector<uint8_t>> payloads;
    std::string error;
    bool operator==(const Outcome&) const = default;
  };
  Outcome Encode(uint32_t threads, uint32_t budget, uint32_t block = 8) {
    BitmapDefinitions bitmaps;
    TransportOptions options;
    options.flags = TransportOptions::kJpeg | TransportOptions::kZlib32 | TransportOptions::kZlib8;
    bitmaps.SetThreads(threads);
    Outcome o;
    if (!bitmaps.Initialise(options, nullptr, &uses, nullptr, kWide, kHeight, block, block)) {
      return o;
    }
    o.ok = bitmaps.EncodeFrameBitmaps(0, image.get(), budget, o.used);
    o.error = bitmaps.lastError;
    for (const FrameBitmap& b : bitmaps.Bitmaps()) {
      o.encodings.push_back(b.encoding);
      o.payloads.emplace_back(b.payload->Data(), b.payload->Data() + b.payload->Size());
    }
    bitmaps.ReleaseFrameBitmaps(0);
    return o;
  }

  FrameUseStore uses;
  std::unique_ptr<FrameImage> image;
};

TEST_F(BitmapFrameThreadsTest, BudgetStopsAtTheSameRecordWhateverTheThreadCount) {
  const Outcome all = Encode(1, UINT32_MAX);
  ASSERT_TRUE(all.ok) << all.error;
  ASSERT_EQ(all.payloads.size(), 32u);
  // Budgets that end inside, exactly at and just past the bytes of a few record prefixes.
  std::vector<uint32_t> budgets = {0, 1, UINT32_MAX};
  uint32_t prefix = 0;
  for (std::size_t i = 0; i < all.payloads.size(); ++i) {
    prefix += static_cast<uint32_t>(all.payloads[i].size());
    if (i % 7 == 3) budgets.insert(budgets.end(), {prefix - 1, prefix, prefix + 1});
  }
  for (uint32_t budget : budgets) {
    const Outcome one = Encode(1, budget);
    ASSERT_TRUE(one.ok);
    EXPECT_GE(one.used, std::min<uint32_t>(budget, all.used));
    for (uint32_t threads : {2u, 3u, 8u}) {
      EXPECT_EQ(Encode(threads, budget), one) << threads << " threads, budget " << budget;
    }
  }
}

TEST_F(BitmapFrameThreadsTest, FirstFailureInRecordOrderDecides) {
  // 64 x 32 blocks leave two payload buffers for thirty-two rectangles.
  for (uint32_t threads : {1u, 4u}) {
    const Outcome short_ = Encode(threads, UINT32_MAX, 64);
    EXPECT_FALSE(short_.ok);
    EXPECT_EQ(short_.error, "Out of payload buffers");
    EXPECT_EQ(short_.payloads.size(), 2u);
    // A budget used up by the first record never reaches the missing buffers.
    const Outcome stopped = Encode(threads, 1, 64);
    EXPECT_TRUE(stopped.ok) << stopped.error;
    EXPECT_EQ(stopped.payloads.size(), 1u);
  }
}

}  // namespace
}  // namespace quillon
