// Frame emission: shapes, fills, removals, the budget and pacing, as seen in the part files.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include "swf/transport/sound_stream.h"
#include "transport/synthetic_clip.h"

namespace quillon::testing {
namespace {

constexpr uint16_t kShowFrame = 1;
constexpr uint16_t kFreeCharacter = 3;
constexpr uint16_t kPlaceObject = 4;
constexpr uint16_t kDefineBits = 6;
constexpr uint16_t kSoundStreamBlock = 19;
constexpr uint16_t kDefineBitsLossless = 20;
constexpr uint16_t kDefineShape2 = 22;
constexpr uint16_t kRemoveObject2 = 28;
constexpr uint16_t kSoundStreamHead2 = 45;

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

// The tags of each SWF frame (split after every ShowFrame; the ShowFrame itself included).
std::vector<std::vector<const ParsedTag*>> SplitFrames(const SwfFile& f) {
  std::vector<std::vector<const ParsedTag*>> frames(1);
  for (const ParsedTag& t : f.tags) {
    frames.back().push_back(&t);
    if (t.code == kShowFrame) frames.emplace_back();
  }
  return frames;
}

uint32_t Count(const std::vector<const ParsedTag*>& tags, uint16_t code) {
  uint32_t n = 0;
  for (const ParsedTag* t : tags) n += t->code == code;
  return n;
}

struct RunResult {
  bool ok = false;
  std::string error;
  SwfFile file;
  uint32_t emitted = 0;
  uint32_t parts = 0;
};

RunResult RunClip(TransportRig& rig, const ClipSpec& clip, const std::string& name) {
  RunResult r;
  if (!rig.Prepare(clip)) {
    r.error = rig.error;
    return r;
  }
  const std::string dir = FreshFolder(name);
  r.ok = rig.Run(dir);
  r.error = rig.error;
  r.file = ReadSwfFile(dir + "encoded.swf");
  r.emitted = rig.transport->EmittedFrames();
  r.parts = rig.transport->PartCount();
  return r;
}

TEST(FrameEmissionTest, UnchangedFrameWritesOnlyShowFrame) {
  TransportRig rig;
  const RunResult r =
      RunClip(rig, ClipSpec{.frames = 3, .pattern = ClipPattern::kStatic}, "unchanged");
  ASSERT_TRUE(r.ok) << r.error;
  const auto frames = SplitFrames(r.file);
  ASSERT_GE(frames.size(), 3u);
  EXPECT_EQ(Count(frames[0], kDefineShape2), 1u);
  // Frame 1 reuses frame 0 everywhere: nothing to draw, nothing to remove.
  ASSERT_EQ(frames[1].size(), 1u);
  EXPECT_EQ(frames[1][0]->code, kShowFrame);
  EXPECT_EQ(r.emitted, 3u);
  EXPECT_EQ(rig.transport->FrameRecords()[1].depth, 0u);
}

TEST(FrameEmissionTest, EqualColoursShareOneFillAndAreConvertedToRgb) {
  TransportRig rig;
  // Frame 0: a flat background around a flat square, every block plain.
  const RunResult r = RunClip(rig, ClipSpec{.frames = 1}, "shared_fills");
  ASSERT_TRUE(r.ok) << r.error;
  const auto shapes = TagsOf(r.file, kDefineShape2);
  ASSERT_EQ(shapes.size(), 1u);
  const ShapeInfo s = ParseShape2(shapes[0]->body);
  ASSERT_TRUE(s.ok);
  ASSERT_EQ(s.fills.size(), 2u);
  EXPECT_EQ(s.fills[0].type, 0x00);
  EXPECT_EQ(s.fills[1].type, 0x00);
  // Four rectangles (three of background around the square), drawn with two fills.
  EXPECT_EQ(s.edges, 4u * 4u);
  EXPECT_EQ(s.fillsUsed, (std::vector<uint32_t>{1, 2}));
  // The background (Y 60, Cb 120, Cr 140) in R, G, B.
  EXPECT_NEAR(s.fills[0].color.r, 60 + 1.402 * 12, 1.0);
  EXPECT_NEAR(s.fills[0].color.g, 60 + 0.34414 * 8 - 0.71414 * 12, 1.0);
  EXPECT_NEAR(s.fills[0].color.b, 60 - 1.772 * 8, 1.0);
  EXPECT_EQ(s.bounds, (SwfRect{0, 64, 0, 48}));
  EXPECT_EQ(CountTags(r.file, kDefineBits) + CountTags(r.file, kDefineBitsLossless), 0u);
}

TEST(FrameEmissionTest, BlocksBeyondTheRightEdgeAreClippedToTheFrame) {
  TransportRig rig;
  rig.settings.match.blockWidth = -32;
  rig.settings.match.blockHeight = -32;
  const RunResult r = RunClip(
      rig, ClipSpec{.width = 100, .height = 40, .frames = 1, .pattern = ClipPattern::kNoise},
      "clipped");
  ASSERT_TRUE(r.ok) << r.error;
  const auto shapes = TagsOf(r.file, kDefineShape2);
  ASSERT_EQ(shapes.size(), 1u);
  const ShapeInfo s = ParseShape2(shapes[0]->body);
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.maxX, 100);
  EXPECT_EQ(s.maxY, 40);
  EXPECT_GT(s.edges, 0u);
  for (const ShapeFill& fill : s.fills) EXPECT_EQ(fill.type, 0x41);
}

TEST(FrameEmissionTest, FillsPointAtBitmapsDefinedBeforeAndPlacementIsTwentyFold) {
  TransportRig rig;
  const RunResult r =
      RunClip(rig, ClipSpec{.frames = 6, .pattern = ClipPattern::kNoise}, "fills_defined");
  ASSERT_TRUE(r.ok) << r.error;
  std::set<uint16_t> defined;
  uint32_t shapes = 0;
  for (const ParsedTag& t : r.file.tags) {
    if (t.code == kDefineBits || t.code == kDefineBitsLossless) defined.insert(Le16(t.body, 0));
    if (t.code == kDefineShape2) {
      ++shapes;
      const ShapeInfo s = ParseShape2(t.body);
      ASSERT_TRUE(s.ok);
      for (const ShapeFill& fill : s.fills) {
        if (fill.type == 0x41) {
          EXPECT_TRUE(defined.count(fill.bitmapId)) << fill.bitmapId;
        }
      }
    }
    if (t.code == kPlaceObject) {
      // 20.0 in both axes (22 scale bits), no translation: 56 bits of matrix.
      EXPECT_EQ(t.body.size(), 4u + 7u);
    }
  }
  EXPECT_EQ(shapes, 6u);
  // Ids count down from the top, shapes and bitmaps alike; depths count up from 1.
  EXPECT_EQ(*defined.rbegin(), kFirstShapeId);
  EXPECT_EQ(rig.transport->FrameRecords()[5].depth, 6u);
  EXPECT_EQ(rig.transport->DepthCounter(), 7u);
}

TEST(FrameEmissionTest, ShapeIdCounterAtLowestRefusesFrames) {
  TransportRig rig;
  ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 3})) << rig.error;
  Transport& t = *rig.transport;
  ASSERT_TRUE(rig.match->Start());
  t.StartPart(0);
  ASSERT_TRUE(t.Writer().Open());
  ASSERT_TRUE(t.WritePartStart());
  t.SetShapeIdCounter(kLowestShapeId);
  const uint32_t before = t.Writer().Cursor();
  bool emitted = true;
  ASSERT_TRUE(t.EncodeFrame(0, 0xFFFFFFFFu, false, emitted));
  EXPECT_FALSE(emitted);
  // Only the ShowFrame: the frame stays in the part, its use grid is cleared.
  EXPECT_EQ(t.Writer().Cursor() - before, 2u);
  EXPECT_EQ(t.ShapeIdCounter(), kLowestShapeId);
  EXPECT_FALSE(rig.uses->GetFrameUse(0)->grid.IsSet(0, 0));
  t.StartPart(1);
  EXPECT_EQ(t.ShapeIdCounter(), kFirstShapeId);
}

TEST(FrameEmissionTest, PlayerRateTwiceTheVideoRateRepeatsEveryFrame) {
  TransportRig rig;
  rig.settings.transport.playerFps = 24.0f;
  const RunResult r =
      RunClip(rig, ClipSpec{.frames = 12, .pattern = ClipPattern::kNoise, .sound = true}, "repeat");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.file.frameCount, 24);
  EXPECT_EQ(r.file.frameRate, 24 * 256);
  const auto frames = SplitFrames(r.file);
  // Every video frame is followed by a repeat: a sound block and ShowFrame only.
  uint32_t videoFrames = 0;
  uint32_t repeats = 0;
  bool lastWasVideo = false;
  for (size_t i = 0; i + 1 < frames.size(); ++i) {
    const bool video = Count(frames[i], kDefineShape2) == 1;
    if (video) {
      EXPECT_FALSE(lastWasVideo) << i;
      ++videoFrames;
    } else {
      ASSERT_EQ(frames[i].size(), 2u) << i;
      EXPECT_EQ(frames[i][0]->code, kSoundStreamBlock) << i;
      ++repeats;
    }
    lastWasVideo = video;
  }
  EXPECT_EQ(videoFrames, 12u);
  EXPECT_EQ(repeats, 12u);
  EXPECT_EQ(rig.transport->FrameCount(), r.file.frameCount);
}

TEST(FrameEmissionTest, SoundBlockComesFirstInEveryFrame) {
  TransportRig rig;
  const RunResult r =
      RunClip(rig, ClipSpec{.frames = 8, .pattern = ClipPattern::kNoise, .sound = true}, "sound");
  ASSERT_TRUE(r.ok) << r.error;
  const auto frames = SplitFrames(r.file);
  ASSERT_EQ(CountTags(r.file, kSoundStreamHead2), 1u);
  // Frame 0 starts after the start-of-part tags with the head, then the block.
  bool seenHead = false;
  for (const ParsedTag* t : frames[0]) {
    if (t->code == kSoundStreamHead2) seenHead = true;
    if (t->code == kDefineShape2 || t->code == kDefineBits || t->code == kDefineBitsLossless) {
      EXPECT_TRUE(seenHead);
    }
  }
  for (size_t i = 1; i < 8; ++i) {
    ASSERT_FALSE(frames[i].empty());
    EXPECT_EQ(frames[i][0]->code, kSoundStreamBlock) << i;
  }
}

TEST(FrameEmissionTest, WithoutLimitsNothingIsSkipped) {
  TransportRig rig;
  const RunResult r =
      RunClip(rig, ClipSpec{.frames = 10, .pattern = ClipPattern::kNoise}, "no_limits");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.emitted, 10u);
  EXPECT_EQ(r.parts, 1u);
  EXPECT_EQ(CountTags(r.file, kDefineShape2), 10u);
}

TEST(FrameEmissionTest, BitRateLimitSkipsTheSecondFrameButKeepsItsSound) {
  TransportRig rig;
  rig.settings.transport.bitrateLimit = 8 * 4000;  // 4000 bytes a second
  const RunResult r = RunClip(
      rig, ClipSpec{.frames = 12, .pattern = ClipPattern::kNoise, .sound = true}, "bitrate");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.parts, 1u);
  EXPECT_LT(r.emitted, 12u);
  EXPECT_EQ(r.file.frameCount, 12);
  const auto frames = SplitFrames(r.file);
  EXPECT_EQ(Count(frames[0], kDefineShape2), 1u);
  // The budget after the first frame is its bytes minus one ideal frame: 0 for frame 1.
  EXPECT_EQ(Count(frames[1], kDefineShape2), 0u);
  EXPECT_EQ(Count(frames[1], kSoundStreamBlock), 1u);
  EXPECT_EQ(rig.transport->BytesPerSecond(), 4000u);
}

TEST(FrameEmissionTest, OptimizeMemoryFreesBitmapsAfterTheLimboFrames) {
  TransportRig rig;
  rig.settings.transport.playerBlockLimbo = 2.0f;
  const RunResult r =
      RunClip(rig, ClipSpec{.frames = 10, .pattern = ClipPattern::kNoise}, "optimize");
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(rig.transport->LimboFrames(), 2u);
  // Each noise frame covers the last: its bitmaps are released at once and freed two frames
  // later, and a freed id is never drawn again.
  std::map<uint16_t, size_t> definedAt;
  std::map<uint16_t, size_t> freedAt;
  const auto frames = SplitFrames(r.file);
  for (size_t i = 0; i < frames.size(); ++i) {
    for (const ParsedTag* t : frames[i]) {
      if (t->code == kDefineBits || t->code == kDefineBitsLossless) {
        definedAt[Le16(t->body, 0)] = i;
      }
      if (t->code == kFreeCharacter) {
        const uint16_t id = Le16(t->body, 0);
        ASSERT_TRUE(definedAt.count(id));
        EXPECT_EQ(i, definedAt[id] + 1 + 2) << id;
        freedAt[id] = i;
      }
      if (t->code == kDefineShape2) {
        for (const ShapeFill& fill : ParseShape2(t->body).fills) {
          EXPECT_FALSE(freedAt.count(fill.bitmapId));
        }
      }
    }
  }
  EXPECT_FALSE(freedAt.empty());
  EXPECT_EQ(CountTags(r.file, kRemoveObject2), 9u);
}

TEST(FrameEmissionTest, PartSplitWhenIdsRunOutStartsTheNextPartWithTheRefusedFrame) {
  TransportRig rig;
  ASSERT_TRUE(rig.Prepare(ClipSpec{.frames = 6, .pattern = ClipPattern::kNoise, .sound = true}))
      << rig.error;
  Transport& t = *rig.transport;
  ASSERT_TRUE(rig.match->Start());
  ASSERT_TRUE(t.Sound().StartSound());
  t.StartPart(0);
  ASSERT_TRUE(t.Writer().Open());
  ASSERT_TRUE(t.WritePartStart());
  // Frame 0 (one bitmap and its shape) takes the last two ids; frame 1 finds none.
  t.SetShapeIdCounter(kLowestShapeId + 2);
  bool emitted = false;
  uint32_t next = 6;
  ASSERT_TRUE(t.EncodePart(0, next, 500));
  EXPECT_EQ(next, 1u);
  EXPECT_TRUE(t.Sound().HasCarriedBlock());
  // The next part's first frame writes its head, then the carried block unchanged.
  t.StartPart(1);
  ASSERT_TRUE(t.Writer().Open());
  ASSERT_TRUE(t.WritePartStart());
  const uint32_t start = t.Writer().Cursor();
  ASSERT_TRUE(t.EncodeFrame(1, 0xFFFFFFFFu, false, emitted));
  EXPECT_TRUE(emitted);
  const ByteBuffer& out = *t.Writer().Output();
  const std::vector<uint8_t> bytes(out.Data() + start, out.Data() + out.Cursor());
  const auto tags = ParseTags(bytes);
  ASSERT_GE(tags.size(), 3u);
  EXPECT_EQ(tags[0].code, kSoundStreamHead2);
  EXPECT_EQ(tags[1].code, kSoundStreamBlock);
  EXPECT_FALSE(t.Sound().HasCarriedBlock());
}

}  // namespace
}  // namespace quillon::testing

namespace quillon::testing {
namespace {

// Frames 1 to 3 show frame 0's blocks read mirrored in place, frame 4 as is again. Every frame's
// shape must draw each stage pixel once, from the frame-0 pixel that the mirrored reading puts
// there: the stage rebuilt through the fill matrices, pixel by pixel.
TEST(FrameEmissionTest, MirroredReusesDrawTheMirroredPicture) {
  TransportRig rig;
  rig.settings.match.flags = MatchOptions::kImage | MatchOptions::kCoordTransform;
  rig.settings.match.blockWidth = -16;
  rig.settings.match.blockHeight = -16;
  const ClipSpec clip{.frames = 5, .pattern = ClipPattern::kMirroredBlocks};
  const RunResult r = RunClip(rig, clip, "mirrored");
  ASSERT_TRUE(r.ok) << r.error;
  const auto frames = SplitFrames(r.file);
  ASSERT_GE(frames.size(), 5u);
  const FrameUse* source = rig.uses->GetFrameUse(0);
  ASSERT_NE(source, nullptr);
  for (uint32_t f = 1; f < 5; ++f) {
    SCOPED_TRACE(::testing::Message() << "frame " << f);
    const ParsedTag* shapeTag = nullptr;
    for (const ParsedTag* t : frames[f]) {
      if (t->code == kDefineShape2) shapeTag = t;
    }
    ASSERT_NE(shapeTag, nullptr);
    const ShapeInfo shape = ParseShape2(shapeTag->body);
    ASSERT_TRUE(shape.ok);
    std::vector<int> drawn(clip.width * clip.height, 0);
    for (const ShapeInfo::Rect& rect : shape.rects) {
      ASSERT_GE(rect.fill, 1u);
      ASSERT_LE(rect.fill, shape.fills.size());
      const ShapeFill& fill = shape.fills[rect.fill - 1];
      ASSERT_EQ(fill.type, 0x41);
      const UseRect* use = nullptr;
      for (const UseRect& u : source->rects) {
        if (u.characterId == fill.bitmapId) use = &u;
      }
      ASSERT_NE(use, nullptr) << "fill draws a bitmap that is not frame 0's";
      for (int32_t py = rect.y; py < rect.y + rect.h; ++py) {
        for (int32_t px = rect.x; px < rect.x + rect.w; ++px) {
          ++drawn[py * clip.width + px];
          // Stage pixel centre back through the fill matrix into the bitmap, then the frame.
          const double u = (px + 0.5 - fill.matrix.translateX) * 65536.0 / fill.matrix.scaleX;
          const double v = (py + 0.5 - fill.matrix.translateY) * 65536.0 / fill.matrix.scaleY;
          const int32_t sx = static_cast<int32_t>(use->x + std::floor(u / use->scaleX));
          const int32_t sy = static_cast<int32_t>(use->y + std::floor(v / use->scaleY));
          const int32_t wantX = (f & 1) != 0 ? (px & ~15) + 15 - (px & 15) : px;
          const int32_t wantY = (f & 2) != 0 ? (py & ~15) + 15 - (py & 15) : py;
          ASSERT_EQ(sx, wantX) << "stage pixel " << px << "," << py;
          ASSERT_EQ(sy, wantY) << "stage pixel " << px << "," << py;
        }
      }
    }
    for (uint32_t i = 0; i < drawn.size(); ++i) ASSERT_EQ(drawn[i], 1) << "pixel " << i;
    // A fill is shared only by blocks that read the bitmap the same way from the same place:
    // left-right mirrored blocks by column, top-bottom ones by row, both ways by none.
    static constexpr size_t kFills[5] = {0, 4, 3, 12, 1};
    EXPECT_EQ(shape.fills.size(), kFills[f]);
  }
}

}  // namespace
}  // namespace quillon::testing
