#include "swf/bit_accumulator.h"

#include "swf/byte_buffer.h"

namespace quillon {

void BitAccumulator::Write(ByteBuffer& out, uint32_t value, uint32_t n) {
  if (n == 0) return;
  if (n > 32) n = 32;
  if (n < 32) value &= (1u << n) - 1u;
  // The pending bits (top of the byte) as a small integer, followed by the new field: at most
  // 7 + 32 bits, so one 64-bit word holds them all.
  uint32_t total = (8 - bitsFree) + n;
  const uint64_t acc = (uint64_t{pending >> bitsFree} << n) | value;
  while (total >= 8) {
    total -= 8;
    out.Put8(static_cast<uint8_t>(acc >> total));
  }
  pending = static_cast<uint32_t>((acc << (8 - total)) & 0xFFu);
  bitsFree = 8 - total;
}

void BitAccumulator::Flush(ByteBuffer& out) {
  if (bitsFree < 8) out.Put8(static_cast<uint8_t>(pending));
  Reset();
}

}  // namespace quillon
