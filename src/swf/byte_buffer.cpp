#include "swf/byte_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace quillon {

ByteBuffer::ByteBuffer() = default;

ByteBuffer::ByteBuffer(uint32_t size)
    : initialCapacity_(size), increment_(size), initialIncrement_(size) {}

ByteBuffer::ByteBuffer(uint32_t initialCapacity, uint32_t increment, float factor)
    : initialCapacity_(initialCapacity),
      increment_(increment),
      initialIncrement_(increment),
      factor_(factor) {}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept {
  *this = std::move(other);
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this == &other) return *this;
  base_ = std::exchange(other.base_, 0);
  cursor_ = std::exchange(other.cursor_, 0);
  size_ = std::exchange(other.size_, 0);
  capacity_ = std::exchange(other.capacity_, 0);
  initialCapacity_ = other.initialCapacity_;
  increment_ = other.increment_;
  initialIncrement_ = other.initialIncrement_;
  shortRead_ = std::exchange(other.shortRead_, 0);
  factor_ = other.factor_;
  data_ = std::move(other.data_);
  bits_ = other.bits_;
  other.bits_.Reset();
  failed_ = std::exchange(other.failed_, false);
  capacityLimit_ = other.capacityLimit_;
  return *this;
}

uint8_t* ByteBuffer::Allocate() {
  data_.reset();
  base_ = cursor_ = size_ = capacity_ = 0;
  increment_ = initialIncrement_;
  shortRead_ = 0;
  failed_ = false;
  bits_.Reset();
  if (initialCapacity_ > capacityLimit_) return nullptr;
  // malloc(0) may legitimately return null; one byte keeps "null means failure" true.
  auto* p = static_cast<uint8_t*>(std::malloc(initialCapacity_ ? initialCapacity_ : 1));
  if (p == nullptr) return nullptr;
  data_.reset(p);
  capacity_ = initialCapacity_;
  return p;
}

void ByteBuffer::Free() {
  data_.reset();
  base_ = cursor_ = size_ = capacity_ = 0;
  bits_.Reset();
}

bool ByteBuffer::EnsureRoom(uint32_t n) {
  const uint64_t need = uint64_t{cursor_} + n;
  if (need <= capacity_ && data_ != nullptr) return true;
  // A zero increment would never grow; treat it as the default step.
  const uint64_t inc = increment_ ? increment_ : kDefaultIncrement;
  const uint64_t grown = uint64_t{capacity_} + inc * (n / inc + 1);
  // The limit is on the storage held, which is all a buffer that dropped its head still owns.
  const uint64_t storage = grown - base_;
  if (storage > capacityLimit_ || grown > UINT32_MAX) {
    failed_ = true;
    return false;
  }
  auto* p = static_cast<uint8_t*>(std::realloc(data_.get(), static_cast<size_t>(storage)));
  if (p == nullptr) {
    failed_ = true;
    return false;
  }
  (void)data_.release();
  data_.reset(p);
  capacity_ = static_cast<uint32_t>(grown);
  if (factor_ != 1.0f) {
    const double next = std::trunc(static_cast<double>(increment_) * factor_);
    increment_ = next >= UINT32_MAX ? UINT32_MAX : next < 1.0 ? 1u : static_cast<uint32_t>(next);
  }
  return true;
}

uint32_t ByteBuffer::Append(const void* bytes, uint32_t n) {
  if (n == 0 || !EnsureRoom(n)) return 0;
  std::memcpy(At(cursor_), bytes, n);
  cursor_ += n;
  size_ = std::max(size_, cursor_);
  return n;
}

uint32_t ByteBuffer::Put8(uint8_t v) {
  // The bit writers emit byte by byte; skip the general path when there is room.
  if (cursor_ < capacity_ && data_ != nullptr) {
    *At(cursor_++) = v;
    if (cursor_ > size_) size_ = cursor_;
    return 1;
  }
  return Append(&v, 1);
}

uint32_t ByteBuffer::Put16(uint16_t v) {
  const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  return Append(b, 2);
}

uint32_t ByteBuffer::Put32(uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  return Append(b, 4);
}

bool ByteBuffer::Patch8(uint32_t pos, uint8_t v) {
  if (uint64_t{pos} + 1 > size_ || !Holds(pos)) return false;
  *At(pos) = v;
  return true;
}

bool ByteBuffer::Patch16(uint32_t pos, uint16_t v) {
  if (uint64_t{pos} + 2 > size_ || !Holds(pos)) return false;
  uint8_t* p = At(pos);
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  return true;
}

bool ByteBuffer::Patch32(uint32_t pos, uint32_t v) {
  if (uint64_t{pos} + 4 > size_ || !Holds(pos)) return false;
  uint8_t* p = At(pos);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  return true;
}

uint8_t* ByteBuffer::Reserve(uint32_t n) {
  if (!EnsureRoom(n)) return nullptr;
  return At(cursor_);
}

uint32_t ByteBuffer::Seek(uint32_t pos) {
  if (!Holds(pos)) return cursor_;
  cursor_ = std::min(pos, capacity_);
  size_ = std::max(size_, cursor_);
  return cursor_;
}

uint32_t ByteBuffer::Skip(int64_t delta) {
  const int64_t target = std::max<int64_t>(0, int64_t{cursor_} + delta);
  return Seek(target > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(target));
}

uint32_t ByteBuffer::Truncate(uint32_t pos) {
  if (!Holds(pos)) return cursor_;
  Seek(pos);
  size_ = cursor_;
  return cursor_;
}

uint32_t ByteBuffer::SeekEnd() {
  cursor_ = size_;
  return cursor_;
}

uint32_t ByteBuffer::Read(void* dst, uint32_t n) {
  const uint32_t count = std::min(n, Remaining());
  if (count > 0) std::memcpy(dst, At(cursor_), count);
  cursor_ += count;
  shortRead_ = count < n ? 1 : 0;
  return count;
}

bool ByteBuffer::Read8(uint8_t& v) {
  v = 0;
  return Read(&v, 1) == 1;
}

bool ByteBuffer::Read16(uint16_t& v) {
  uint8_t b[2] = {0, 0};
  const bool ok = Read(b, 2) == 2;
  v = ok ? static_cast<uint16_t>(b[0] | (b[1] << 8)) : 0;
  return ok;
}

bool ByteBuffer::Read32(uint32_t& v) {
  uint8_t b[4] = {0, 0, 0, 0};
  const bool ok = Read(b, 4) == 4;
  v = ok ? (uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) |
            (uint32_t{b[3]} << 24))
         : 0;
  return ok;
}

void ByteBuffer::RemoveRange(uint32_t from, uint32_t to) {
  if (from > to || to > size_ || !Holds(from)) return;
  if (from == to) return;
  std::memmove(At(from), At(to), size_ - to);
  size_ -= to - from;
  cursor_ = std::min(cursor_, size_);
}

bool ByteBuffer::OpenGap(uint32_t at, uint32_t end) {
  if (end < at || at > size_ || !Holds(at)) return false;
  const uint32_t gap = end - at;
  const uint32_t oldSize = size_;
  // Grow with the cursor at the old end, so the growth rule sees exactly the bytes needed.
  const uint32_t savedCursor = cursor_;
  cursor_ = oldSize;
  if (gap > 0 && !EnsureRoom(gap)) {
    cursor_ = savedCursor;
    return false;
  }
  if (gap > 0) std::memmove(At(end), At(at), oldSize - at);
  cursor_ = size_ = oldSize + gap;
  return true;
}

bool ByteBuffer::MoveBlock(uint32_t first, uint32_t last, uint32_t to) {
  if (first > last || last > size_ || to > size_ || !Holds(first) || !Holds(to)) return false;
  if (to > first && to < last) return false;
  const uint32_t len = last - first;
  if (len == 0 || to == first || to == last) {
    cursor_ = size_;
    return true;
  }
  if (!OpenGap(to, to + len)) return false;
  // Opening the gap below the block shifts the block up by its own length.
  const uint32_t src = to < first ? first + len : first;
  std::memcpy(At(to), At(src), len);
  RemoveRange(src, src + len);
  cursor_ = size_;
  return true;
}

bool ByteBuffer::Holds(uint32_t pos) {
  if (pos >= base_) return true;
  // Reaching into dropped bytes is a caller's fault that would corrupt a stored file: make it
  // the sticky failure that stops the part.
  failed_ = true;
  return false;
}

bool ByteBuffer::DropBefore(uint32_t pos) {
  if (pos < base_ || pos > size_ || pos > cursor_) return false;
  if (pos == base_) return true;
  std::memmove(data_.get(), At(pos), size_ - pos);
  const uint32_t storage = capacity_ - base_;
  base_ = pos;
  capacity_ = base_ + storage;
  return true;
}

}  // namespace quillon
