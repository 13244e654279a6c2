#include "audio/adpcm_encoder.h"

#include <cstdlib>

namespace quillon {
namespace {

constexpr int32_t kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int32_t kIndex2[2] = {-1, 2};
constexpr int32_t kIndex3[4] = {-1, -1, 2, 4};
constexpr int32_t kIndex4[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int32_t kIndex5[16] = {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16};

const int32_t* IndexTable(uint32_t bits) {
  switch (bits) {
    case 2:
      return kIndex2;
    case 3:
      return kIndex3;
    case 4:
      return kIndex4;
    default:
      return kIndex5;
  }
}

// The 6-bit header field cannot hold indices above 63, so the search stops there.
int32_t InitialIndex(int32_t first, int32_t next) {
  const int32_t jump = std::abs(next - first);
  for (int32_t k = 0; k < 63; ++k) {
    if (kStepTable[k] >= jump) return k;
  }
  return 63;
}

}  // namespace

void AdpcmEncoder::EncodeADPCMBlock(const int16_t* samples, uint32_t frameCount, uint32_t channels,
                                    uint32_t bitsPerCode, ByteBuffer& bits) {
  if (frameCount == 0) return;
  if (bitsPerCode < 2) bitsPerCode = 2;
  if (bitsPerCode > 5) bitsPerCode = 5;
  channels = channels == 2 ? 2 : 1;
  const int32_t* indexTable = IndexTable(bitsPerCode);
  const uint32_t signBit = 1u << (bitsPerCode - 1);
  const uint32_t topMask = 1u << (bitsPerCode - 2);

  if (packetCounter_ == 0) bits.WriteBits(bitsPerCode - 2, 2);  // code size

  for (uint32_t f = 0; f < frameCount; ++f) {
    const int16_t* frame = samples + static_cast<size_t>(f) * channels;
    ++packetCounter_;
    if (packetCounter_ % kPacketFrames == 1) {
      const bool hasNext = f + 1 < frameCount;
      for (uint32_t c = 0; c < channels; ++c) {
        AdpcmState& st = state_[c];
        st.predicted = frame[c];
        // Without a following frame there is no jump to size the step for.
        st.index = hasNext ? InitialIndex(frame[c], frame[channels + c]) : 0;
        bits.WriteBits(static_cast<uint16_t>(frame[c]), 16);  // first sample
        bits.WriteBits(static_cast<uint32_t>(st.index), 6);   // initial step index
      }
      continue;
    }
    for (uint32_t c = 0; c < channels; ++c) {
      AdpcmState& st = state_[c];
      int32_t diff = frame[c] - st.predicted;
      uint32_t sign = 0;
      if (diff < 0) {
        sign = signBit;
        diff = -diff;
      }
      int32_t step = kStepTable[st.index];
      uint32_t code = 0;
      int32_t vpdiff = 0;
      for (uint32_t mask = topMask; mask != 0; mask >>= 1) {
        if (diff >= step) {
          code |= mask;
          diff -= step;
          vpdiff += step;
        }
        step >>= 1;
      }
      vpdiff += step;
      int32_t predicted = sign ? st.predicted - vpdiff : st.predicted + vpdiff;
      if (predicted > 32767) predicted = 32767;
      if (predicted < -32768) predicted = -32768;
      st.predicted = predicted;
      int32_t index = st.index + indexTable[code];
      if (index < 0) index = 0;
      if (index > 88) index = 88;
      st.index = index;
      bits.WriteBits(code | sign, bitsPerCode);
    }
  }
}

}  // namespace quillon
