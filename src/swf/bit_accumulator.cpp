#include "swf/bit_accumulator.h"

#include "swf/byte_buffer.h"

namespace quillon {

void BitAccumulator::Write(ByteBuffer& out, uint32_t value, uint32_t n) {
  if (n > 32) n = 32;
  if (n < 32) value &= (1u << n) - 1u;
  while (n > 0) {
    const uint32_t take = n < bitsFree ? n : bitsFree;
    const uint32_t chunk = (value >> (n - take)) & ((1u << take) - 1u);
    pending |= chunk << (bitsFree - take);
    bitsFree -= take;
    n -= take;
    if (bitsFree == 0) {
      out.Put8(static_cast<uint8_t>(pending));
      Reset();
    }
  }
}

void BitAccumulator::Flush(ByteBuffer& out) {
  if (bitsFree < 8) out.Put8(static_cast<uint8_t>(pending));
  Reset();
}

}  // namespace quillon
