// SWF ADPCM coding of 16-bit PCM blocks into a most-significant-bit-first bit stream.
#pragma once

#include <cstdint>

#include "swf/byte_buffer.h"

namespace quillon {

struct AdpcmState {
  int32_t predicted = 0;  // within -32768..32767 after every code
  int32_t index = 0;      // 0..88
};

// Each SWF frame's block is self-contained: Reset before a block so that it opens with the
// code size and a fresh packet. Within one block a packet header recurs every 4096 frames.
class AdpcmEncoder {
 public:
  static constexpr uint32_t kPacketFrames = 4096;

  void Reset() { packetCounter_ = 0; }

  // Appends the codes of frameCount frames (interleaved when stereo) to bits; writes the
  // code size first when the packet counter is 0. bitsPerCode is 2 to 5; channels 1 or 2.
  void EncodeADPCMBlock(const int16_t* samples, uint32_t frameCount, uint32_t channels,
                        uint32_t bitsPerCode, ByteBuffer& bits);

  uint32_t PacketCounter() const { return packetCounter_; }

 private:
  uint32_t packetCounter_ = 0;
  AdpcmState state_[2];
};

}  // namespace quillon
