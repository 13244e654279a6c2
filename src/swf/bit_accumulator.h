// Most-significant-bit-first packing of bit fields into whole bytes of a ByteBuffer.
#pragma once

#include <cstdint>

namespace quillon {

class ByteBuffer;

// Holds the byte being assembled. Invariant: 1 <= bitsFree <= 8, and the bits of `pending`
// below the free count are zero, so a flushed partial byte is padded with zeros.
class BitAccumulator {
 public:
  // Appends the low n bits (n <= 32) of value, most significant first. Each completed byte is
  // appended to out; signed fields are passed as their two's complement.
  void Write(ByteBuffer& out, uint32_t value, uint32_t n);
  // Appends the partial byte, if any, and empties the accumulator.
  void Flush(ByteBuffer& out);
  // Forgets any partial byte without writing it.
  void Reset() {
    pending = 0;
    bitsFree = 8;
  }
  bool Empty() const { return bitsFree == 8; }

  uint32_t pending = 0;
  uint32_t bitsFree = 8;
};

}  // namespace quillon
