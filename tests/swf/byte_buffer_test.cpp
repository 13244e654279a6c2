#include "swf/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace quillon {
namespace {

std::vector<uint8_t> Bytes(const ByteBuffer& b) {
  return std::vector<uint8_t>(b.Data(), b.Data() + b.Size());
}

ByteBuffer Filled(std::initializer_list<uint8_t> bytes, uint32_t size = 64) {
  ByteBuffer b(size);
  EXPECT_NE(b.Allocate(), nullptr);
  for (uint8_t v : bytes) b.Put8(v);
  return b;
}

TEST(ByteBufferTest, WritesIntegersLittleEndian) {
  ByteBuffer b(16);
  ASSERT_NE(b.Allocate(), nullptr);
  EXPECT_EQ(b.Put8(0xAB), 1u);
  EXPECT_EQ(b.Put16(0x1234), 2u);
  EXPECT_EQ(b.Put32(0xDEADBEEF), 4u);
  EXPECT_EQ(Bytes(b), (std::vector<uint8_t>{0xAB, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE}));
  EXPECT_EQ(b.Cursor(), 7u);
}

TEST(ByteBufferTest, GrowsByIncrementMultipleAndScalesIncrement) {
  ByteBuffer b(5632, 11264, 1.5f);
  ASSERT_NE(b.Allocate(), nullptr);
  b.Seek(5632);
  std::vector<uint8_t> one(1, 7);
  ASSERT_EQ(b.Append(one.data(), 1), 1u);
  EXPECT_EQ(b.Capacity(), 5632u + 11264u);
  EXPECT_EQ(b.Increment(), 16896u);

  // A write larger than the increment takes as many whole increments as it needs, plus one.
  ByteBuffer c(10, 10, 1.0f);
  ASSERT_NE(c.Allocate(), nullptr);
  std::vector<uint8_t> big(25, 1);
  ASSERT_EQ(c.Append(big.data(), 25), 25u);
  EXPECT_EQ(c.Capacity(), 10u + 10u * 3u);
  EXPECT_EQ(c.Increment(), 10u);

  // Allocate starts over: capacity and step as constructed.
  ASSERT_NE(b.Allocate(), nullptr);
  EXPECT_EQ(b.Capacity(), 5632u);
  EXPECT_EQ(b.Increment(), 11264u);
}

TEST(ByteBufferTest, KeepsContentsAcrossGrowth) {
  ByteBuffer b(4);
  ASSERT_NE(b.Allocate(), nullptr);
  for (uint32_t i = 0; i < 1000; ++i) b.Put8(static_cast<uint8_t>(i));
  ASSERT_EQ(b.Size(), 1000u);
  for (uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(b.Data()[i], static_cast<uint8_t>(i));
  EXPECT_FALSE(b.Failed());
}

TEST(ByteBufferTest, FailedGrowthDropsWriteAndIsRecorded) {
  ByteBuffer b(8);
  ASSERT_NE(b.Allocate(), nullptr);
  b.SetCapacityLimit(16);
  std::vector<uint8_t> data(20, 9);
  b.Put32(1);
  EXPECT_EQ(b.Append(data.data(), 20), 0u);
  EXPECT_EQ(b.Cursor(), 4u);
  EXPECT_EQ(b.Size(), 4u);
  EXPECT_TRUE(b.Failed());
  // A later write that fits still works, but the flag stays up: the bytes before it are short.
  EXPECT_EQ(b.Put8(2), 1u);
  EXPECT_TRUE(b.Failed());
  ASSERT_NE(b.Allocate(), nullptr);
  EXPECT_FALSE(b.Failed());

  // Growth whose size would pass 4 GiB fails without touching memory.
  ByteBuffer huge(8);
  ASSERT_NE(huge.Allocate(), nullptr);
  EXPECT_EQ(huge.Append(data.data(), UINT32_MAX - 4), 0u);
  EXPECT_TRUE(huge.Failed());
}

TEST(ByteBufferTest, CursorMovesAreClamped) {
  ByteBuffer b(16);
  ASSERT_NE(b.Allocate(), nullptr);
  EXPECT_EQ(b.Seek(100), 16u);
  EXPECT_EQ(b.Size(), 16u);
  EXPECT_EQ(b.Skip(-100), 0u);
  EXPECT_EQ(b.Size(), 16u);
  EXPECT_EQ(b.Skip(5), 5u);
  EXPECT_EQ(b.Truncate(3), 3u);
  EXPECT_EQ(b.Size(), 3u);
  b.Seek(1);
  EXPECT_EQ(b.SeekEnd(), 3u);
}

TEST(ByteBufferTest, ReadReportsShortReads) {
  ByteBuffer b = Filled({1, 2, 3, 4, 5});
  b.Seek(0);
  uint8_t out[8] = {};
  EXPECT_EQ(b.Read(out, 3), 3u);
  EXPECT_FALSE(b.ShortRead());
  EXPECT_EQ(b.Read(out, 3), 2u);
  EXPECT_TRUE(b.ShortRead());
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[1], 5);
  EXPECT_EQ(b.Read(out, 1), 0u);
  EXPECT_TRUE(b.ShortRead());
  b.Seek(0);
  uint16_t v16 = 0;
  uint32_t v32 = 0;
  EXPECT_TRUE(b.Read16(v16));
  EXPECT_EQ(v16, 0x0201);
  EXPECT_FALSE(b.Read32(v32));
  EXPECT_EQ(v32, 0u);
}

TEST(ByteBufferTest, RemoveRangeShiftsTailAndClipsCursor) {
  ByteBuffer b = Filled({0, 1, 2, 3, 4, 5});
  b.RemoveRange(1, 3);
  EXPECT_EQ(Bytes(b), (std::vector<uint8_t>{0, 3, 4, 5}));
  EXPECT_EQ(b.Cursor(), 4u);
  b.RemoveRange(3, 2);  // out of order
  b.RemoveRange(2, 9);  // beyond size
  EXPECT_EQ(Bytes(b), (std::vector<uint8_t>{0, 3, 4, 5}));
  b.Seek(1);
  b.RemoveRange(0, 4);
  EXPECT_EQ(b.Size(), 0u);
  EXPECT_EQ(b.Cursor(), 0u);
}

TEST(ByteBufferTest, OpenGapMovesTailUpAndGrows) {
  ByteBuffer b = Filled({1, 2, 3}, 4);
  ASSERT_TRUE(b.OpenGap(1, 6));
  EXPECT_EQ(b.Size(), 8u);
  EXPECT_EQ(b.Cursor(), 8u);
  EXPECT_EQ(b.Data()[0], 1);
  EXPECT_EQ(b.Data()[6], 2);
  EXPECT_EQ(b.Data()[7], 3);
  EXPECT_FALSE(b.OpenGap(5, 4));
  EXPECT_FALSE(b.OpenGap(9, 10));
}

TEST(ByteBufferTest, MoveBlockPlacesBlockAtTarget) {
  // A block from the end moved to just behind a "header" of two bytes.
  ByteBuffer b = Filled({'H', 'H', 'a', 'b', 'c', 'X', 'Y'});
  b.Seek(2);
  ASSERT_TRUE(b.MoveBlock(5, 7, 2));
  EXPECT_EQ(Bytes(b), (std::vector<uint8_t>{'H', 'H', 'X', 'Y', 'a', 'b', 'c'}));
  EXPECT_EQ(b.Cursor(), 7u);

  // Forward: the block lands in front of the byte that was at `to`.
  ByteBuffer c = Filled({'a', 'b', 'c', 'd', 'e'});
  ASSERT_TRUE(c.MoveBlock(0, 2, 4));
  EXPECT_EQ(Bytes(c), (std::vector<uint8_t>{'c', 'd', 'a', 'b', 'e'}));

  // A target inside the block is meaningless.
  ByteBuffer d = Filled({'a', 'b', 'c', 'd'});
  EXPECT_FALSE(d.MoveBlock(0, 3, 1));
  EXPECT_EQ(Bytes(d), (std::vector<uint8_t>{'a', 'b', 'c', 'd'}));
}

TEST(ByteBufferTest, PatchStaysWithinValidBytes) {
  ByteBuffer b = Filled({0, 0, 0, 0, 0, 0});
  b.Seek(1);
  EXPECT_TRUE(b.Patch32(2, 0x04030201));
  EXPECT_EQ(b.Cursor(), 1u);
  EXPECT_EQ(Bytes(b), (std::vector<uint8_t>{0, 0, 1, 2, 3, 4}));
  EXPECT_FALSE(b.Patch32(3, 0));
  EXPECT_FALSE(b.Patch16(5, 0));
}

TEST(ByteBufferTest, WritesWithoutAllocateStartFromEmptyStorage) {
  ByteBuffer b(8);
  EXPECT_EQ(b.Put32(5), 4u);
  EXPECT_EQ(b.Capacity(), 8u);
}

// Reads back a most-significant-first bit stream.
class BitReader {
 public:
  explicit BitReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  uint32_t Read(uint32_t n) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t byte = bytes_.at(pos_ / 8);
      v = (v << 1) | ((byte >> (7 - pos_ % 8)) & 1u);
      ++pos_;
    }
    return v;
  }
  size_t Position() const { return pos_; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 0;
};

TEST(ByteBufferTest, BitWriterPacksMostSignificantFirstAndPadsWithZeros) {
  ByteBuffer b(16);
  ASSERT_NE(b.Allocate(), nullptr);
  b.WriteBits(0b101, 3);
  b.WriteBits(0xFFFFFFFF, 2);  // only the low two bits count
  b.FlushBits();
  b.FlushBits();  // nothing pending: no byte
  b.WriteBits(0, 0);
  b.WriteBits(0xABCD1234, 32);
  EXPECT_EQ(Bytes(b), (std::vector<uint8_t>{0b101'11'000, 0xAB, 0xCD, 0x12, 0x34}));
}

TEST(ByteBufferTest, RandomBitFieldsRoundTrip) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 200; ++round) {
    ByteBuffer b(64);
    ASSERT_NE(b.Allocate(), nullptr);
    std::vector<std::pair<uint32_t, uint32_t>> fields;
    const int count = 1 + static_cast<int>(rng() % 60);
    for (int i = 0; i < count; ++i) {
      const uint32_t n = rng() % 33;
      const uint32_t v = rng();
      fields.emplace_back(n, n == 32 ? v : v & ((1u << n) - 1u));
      b.WriteBits(v, n);
    }
    b.FlushBits();
    const std::vector<uint8_t> bytes = Bytes(b);
    BitReader r(bytes);
    uint64_t totalBits = 0;
    for (auto [n, v] : fields) {
      ASSERT_EQ(r.Read(n), v) << "round " << round;
      totalBits += n;
    }
    EXPECT_EQ(bytes.size(), (totalBits + 7) / 8);
    while (r.Position() < bytes.size() * 8) ASSERT_EQ(r.Read(1), 0u);
  }
}

TEST(ByteBufferTest, DroppedHeadKeepsPositionsAndRefusesToBeReached) {
  ByteBuffer b(8, 8, 1.0f);
  ASSERT_NE(b.Allocate(), nullptr);
  for (uint8_t i = 0; i < 20; ++i) b.Put8(i);
  EXPECT_FALSE(b.DropBefore(21));  // beyond the bytes
  ASSERT_TRUE(b.DropBefore(12));
  EXPECT_EQ(b.Base(), 12u);
  EXPECT_EQ(b.Cursor(), 20u);
  EXPECT_EQ(b.Size(), 20u);
  EXPECT_EQ(*b.At(12), 12);
  EXPECT_EQ(b.Data()[7], 19);
  // Writes, patches and truncation above the base work on absolute positions.
  b.Put16(0xBBAA);
  EXPECT_TRUE(b.Patch8(13, 0x55));
  EXPECT_EQ(*b.At(13), 0x55);
  EXPECT_EQ(*b.At(21), 0xBB);
  EXPECT_EQ(b.Truncate(14), 14u);
  EXPECT_FALSE(b.DropBefore(11));  // below the base: nothing to drop
  EXPECT_FALSE(b.Failed());
  // Reaching below the base changes nothing and marks the buffer failed.
  EXPECT_FALSE(b.Patch16(11, 1));
  EXPECT_TRUE(b.Failed());
  b.ClearFailed();
  EXPECT_EQ(b.Truncate(3), 14u);
  EXPECT_EQ(b.Seek(0), 14u);
  b.RemoveRange(5, 13);
  EXPECT_FALSE(b.MoveBlock(12, 14, 4));
  EXPECT_TRUE(b.Failed());
  EXPECT_EQ(b.Size(), 14u);
  EXPECT_EQ(*b.At(13), 0x55);
}

TEST(ByteBufferTest, CapacityLimitCountsOnlyTheBytesStillHeld) {
  ByteBuffer b(16, 16, 1.0f);
  ASSERT_NE(b.Allocate(), nullptr);
  b.SetCapacityLimit(32);
  for (uint32_t i = 0; i < 1000; ++i) {
    ASSERT_EQ(b.Put8(static_cast<uint8_t>(i)), 1u) << i;
    if (i % 10 == 9) {
      ASSERT_TRUE(b.DropBefore(b.Cursor()));
    }
  }
  EXPECT_FALSE(b.Failed());
  EXPECT_EQ(b.Cursor(), 1000u);
  EXPECT_LE(b.Capacity(), 32u);
}

}  // namespace
}  // namespace quillon
