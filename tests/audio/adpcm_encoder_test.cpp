#include "audio/adpcm_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quillon {
namespace {

// An independent SWF ADPCM decoder for the bit stream the encoder writes.
class BitReader {
 public:
  explicit BitReader(const ByteBuffer& b) : data_(b.Data()), bits_(uint64_t(b.Size()) * 8) {}
  uint32_t Read(uint32_t n) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; ++i) {
      const uint64_t p = pos_++;
      const uint32_t bit = p < bits_ ? (data_[p / 8] >> (7 - p % 8)) & 1 : 0;
      v = (v << 1) | bit;
    }
    return v;
  }
  uint64_t Position() const { return pos_; }

 private:
  const uint8_t* data_;
  uint64_t bits_;
  uint64_t pos_ = 0;
};

constexpr int kSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

struct Decoded {
  uint32_t codeSize = 0;
  std::vector<int16_t> samples;
  std::vector<uint32_t> headerIndices;  // initial step index of each packet header
  uint64_t bitsUsed = 0;
};

Decoded Decode(const ByteBuffer& bytes, uint32_t frames, uint32_t channels) {
  static const std::vector<std::vector<int>> kIndex = {
      {-1, 2},
      {-1, -1, 2, 4},
      {-1, -1, -1, -1, 2, 4, 6, 8},
      {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16}};
  Decoded d;
  BitReader r(bytes);
  d.codeSize = r.Read(2);
  const uint32_t bits = d.codeSize + 2;
  int predicted[2] = {0, 0};
  int index[2] = {0, 0};
  for (uint32_t f = 0; f < frames; ++f) {
    for (uint32_t c = 0; c < channels; ++c) {
      if (f % 4096 == 0) {
        predicted[c] = static_cast<int16_t>(r.Read(16));
        index[c] = static_cast<int>(r.Read(6));
        d.headerIndices.push_back(index[c]);
      } else {
        const uint32_t code = r.Read(bits);
        const uint32_t sign = 1u << (bits - 1);
        int step = kSteps[index[c]];
        int vpdiff = 0;
        for (uint32_t k = sign >> 1; k != 0; k >>= 1) {
          if (code & k) vpdiff += step;
          step >>= 1;
        }
        vpdiff += step;
        predicted[c] += (code & sign) ? -vpdiff : vpdiff;
        predicted[c] = std::clamp(predicted[c], -32768, 32767);
        index[c] = std::clamp(index[c] + kIndex[bits - 2][code & (sign - 1)], 0, 88);
      }
      d.samples.push_back(static_cast<int16_t>(predicted[c]));
    }
  }
  d.bitsUsed = r.Position();
  return d;
}

std::vector<int16_t> Sine(uint32_t frames, uint32_t channels, double period, double amplitude) {
  std::vector<int16_t> s;
  for (uint32_t i = 0; i < frames; ++i) {
    for (uint32_t c = 0; c < channels; ++c) {
      s.push_back(static_cast<int16_t>(amplitude * std::sin(2 * M_PI * i / (period + 7 * c))));
    }
  }
  return s;
}

ByteBuffer Encode(const std::vector<int16_t>& s, uint32_t channels, uint32_t bits) {
  AdpcmEncoder enc;
  ByteBuffer out;
  enc.Reset();
  enc.EncodeADPCMBlock(s.data(), static_cast<uint32_t>(s.size() / channels), channels, bits, out);
  out.FlushBits();
  return out;
}

struct Layout {
  uint32_t bits, channels;
};

class AdpcmEncoderLayoutTest : public ::testing::TestWithParam<Layout> {};

TEST_P(AdpcmEncoderLayoutTest, DecodesCloseToTheInputWithTheExactBitCount) {
  const auto [bits, channels] = GetParam();
  const uint32_t frames = 5000;  // two packets
  const auto input = Sine(frames, channels, 60.0, 12000.0);
  const ByteBuffer out = Encode(input, channels, bits);

  const uint64_t expectedBits = 2 + 2 * (22ull * channels) + (4095ull + 903ull) * channels * bits;
  EXPECT_EQ(out.Size(), (expectedBits + 7) / 8);

  const Decoded d = Decode(out, frames, channels);
  EXPECT_EQ(d.codeSize, bits - 2);
  EXPECT_EQ(d.bitsUsed, expectedBits);
  ASSERT_EQ(d.samples.size(), input.size());
  // Packet headers store their first sample whole.
  for (uint32_t c = 0; c < channels; ++c) {
    EXPECT_EQ(d.samples[c], input[c]);
    EXPECT_EQ(d.samples[4096 * channels + c], input[4096 * channels + c]);
  }
  double err = 0, sig = 0;
  for (size_t i = 0; i < input.size(); ++i) {
    err += std::pow(double(d.samples[i]) - input[i], 2);
    sig += std::pow(double(input[i]), 2);
  }
  // Signal-to-noise grows with the code size; 2-bit codes only follow the wave roughly.
  const double snrDb = 10 * std::log10(sig / std::max(err, 1.0));
  const double minimum[] = {4.0, 12.0, 18.0, 24.0};
  EXPECT_GT(snrDb, minimum[bits - 2]) << "bits " << bits;
}

INSTANTIATE_TEST_SUITE_P(BitsAndChannels, AdpcmEncoderLayoutTest,
                         ::testing::Values(Layout{2, 1}, Layout{3, 1}, Layout{4, 1}, Layout{5, 1},
                                           Layout{2, 2}, Layout{3, 2}, Layout{4, 2}, Layout{5, 2}));

TEST(AdpcmEncoderTest, MonoFrameBlockOf918FramesAt4BitsTakes462Bytes) {
  const auto input = Sine(918, 1, 40.0, 8000.0);
  EXPECT_EQ(Encode(input, 1, 4).Size(), 462u);  // 2 + 22 + 917 x 4 = 3692 bits
}

TEST(AdpcmEncoderTest, InitialIndexIsSizedByTheJumpToTheNextSampleUpTo63) {
  struct Jump {
    int16_t first, next;
    uint32_t index;
  };
  // 107 is the first step of at least 100; 2749 (index 62) is the last step searched, so any
  // larger jump gets 63, the largest value the header field holds.
  for (const Jump& j :
       {Jump{100, 100, 0}, Jump{0, 7, 0}, Jump{0, 8, 1}, Jump{0, 100, 28}, Jump{-50, 50, 28},
        Jump{0, 2749, 62}, Jump{0, 2750, 63}, Jump{0, 5000, 63}, Jump{-32768, 32767, 63}}) {
    const std::vector<int16_t> s = {j.first, j.next, j.next};
    const Decoded d = Decode(Encode(s, 1, 4), 3, 1);
    ASSERT_FALSE(d.headerIndices.empty());
    EXPECT_EQ(d.headerIndices[0], j.index) << j.first << " -> " << j.next;
  }
}

TEST(AdpcmEncoderTest, PacketOpeningOnTheLastFrameUsesIndexZero) {
  const std::vector<int16_t> one = {12345};
  const Decoded d = Decode(Encode(one, 1, 5), 1, 1);
  EXPECT_EQ(d.headerIndices[0], 0u);
  EXPECT_EQ(d.samples[0], 12345);
}

TEST(AdpcmEncoderTest, PredictionSaturatesAtTheRailsInsteadOfWrapping) {
  for (int sign : {1, -1}) {
    std::vector<int16_t> s = {static_cast<int16_t>(sign * 30000)};
    for (int i = 0; i < 50; ++i) s.push_back(sign > 0 ? 32767 : -32768);
    const Decoded d = Decode(Encode(s, 1, 5), static_cast<uint32_t>(s.size()), 1);
    for (size_t i = 1; i < d.samples.size(); ++i) {
      EXPECT_GE(sign * d.samples[i], 29000) << "sample " << i;
    }
    EXPECT_EQ(d.samples.back(), s.back());
  }
}

}  // namespace
}  // namespace quillon
