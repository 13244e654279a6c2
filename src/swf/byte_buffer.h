// Growable little-endian byte array with a cursor and a bit writer; every output byte goes
// through one of these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "swf/bit_accumulator.h"

namespace quillon {

// Invariants: base <= cursor <= capacity and size <= capacity; after a write, size >= cursor.
// Positions are absolute: once the bytes before `base` are dropped (written out elsewhere),
// cursor, size and capacity still count from the first byte ever written, and any patch, seek,
// truncation or move that would reach below the base is refused and sets `Failed()`.
// A write that cannot grow the storage is dropped whole (nothing written, cursor unmoved) and
// sets the sticky `Failed()` flag, so that a caller about to store the bytes can tell that they
// are short and report out-of-memory instead of writing a corrupt file.
class ByteBuffer {
 public:
  static constexpr uint32_t kDefaultCapacity = 32768;
  static constexpr uint32_t kDefaultIncrement = 32768;

  // Construction never allocates; call Allocate (or just write: the first write grows the
  // empty storage by the increment).
  ByteBuffer();
  explicit ByteBuffer(uint32_t size);
  ByteBuffer(uint32_t initialCapacity, uint32_t increment, float factor);
  ~ByteBuffer() = default;

  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;

  // Frees old storage and allocates the initial capacity; cursor, size, the short-read and
  // failed flags and the bit accumulator start over. Returns the storage or null.
  uint8_t* Allocate();
  // Releases the storage; the buffer is then empty with capacity 0.
  void Free();

  // Writes at the cursor, growing as needed; each returns the bytes written (0 on failure).
  uint32_t Append(const void* bytes, uint32_t n);
  uint32_t Append(std::string_view text) {
    return Append(text.data(), static_cast<uint32_t>(text.size()));
  }
  uint32_t Put8(uint8_t v);
  uint32_t Put16(uint16_t v);
  uint32_t Put32(uint32_t v);

  // Overwrite already valid bytes in place (back-patching lengths and counts) without moving
  // the cursor. False when [pos, pos + width) is not within size.
  bool Patch8(uint32_t pos, uint8_t v);
  bool Patch16(uint32_t pos, uint16_t v);
  bool Patch32(uint32_t pos, uint32_t v);

  // Makes room for n bytes at the cursor and returns a pointer to them (null when growth
  // fails), for producers that write straight into the storage. The cursor does not move:
  // follow with Skip or Seek over the bytes actually produced.
  uint8_t* Reserve(uint32_t n);

  // cursor = min(pos, capacity); size = max(size, cursor). Returns the cursor.
  uint32_t Seek(uint32_t pos);
  // Seek to max(0, cursor + delta).
  uint32_t Skip(int64_t delta);
  // Seek to pos, then size = cursor.
  uint32_t Truncate(uint32_t pos);
  // cursor = size.
  uint32_t SeekEnd();
  // Empties the buffer, keeping its storage.
  void Clear() { Truncate(0); }

  // Copies min(n, size - cursor) bytes from the cursor; sets the short-read flag when fewer
  // than n were there. Returns the count.
  uint32_t Read(void* dst, uint32_t n);
  // Little-endian reads; false (value 0) on a short read.
  bool Read8(uint8_t& v);
  bool Read16(uint16_t& v);
  bool Read32(uint32_t& v);

  // Removes [from, to), shifting the rest down. Ignored unless from <= to <= size.
  void RemoveRange(uint32_t from, uint32_t to);
  // Moves [at, size) up to end, leaving end - at bytes of undefined content at `at`;
  // then cursor = size = old size + (end - at). False when growth fails or end < at or
  // at > size (nothing changes).
  [[nodiscard]] bool OpenGap(uint32_t at, uint32_t end);
  // Moves the bytes [first, last) so that they start at `to` in the buffer as it was before
  // the move (to <= first or to >= last). Afterwards cursor = size.
  [[nodiscard]] bool MoveBlock(uint32_t first, uint32_t last, uint32_t to);

  // The buffer's own bit writer (distinct from any SwfWriter's).
  void WriteBits(uint32_t value, uint32_t n) { bits_.Write(*this, value, n); }
  void FlushBits() { bits_.Flush(*this); }

  // Forgets the bytes before pos (base <= pos <= min(cursor, size)), keeping the rest and the
  // storage; positions stay as they were. False (nothing changes) outside that range.
  bool DropBefore(uint32_t pos);
  // The first byte still held.
  uint32_t Base() const { return base_; }

  // Refuses growth beyond this many bytes (default: none) so out-of-memory paths can be
  // exercised deterministically.
  void SetCapacityLimit(uint32_t limit) { capacityLimit_ = limit; }

  uint32_t Cursor() const { return cursor_; }
  uint32_t Size() const { return size_; }
  // The storage held (from the base).
  uint32_t Capacity() const { return capacity_ - base_; }
  uint32_t Increment() const { return increment_; }
  // Bytes between the cursor and size (what a Read can still deliver).
  uint32_t Remaining() const { return size_ > cursor_ ? size_ - cursor_ : 0; }
  bool ShortRead() const { return shortRead_ != 0; }
  // Sticky: a write was dropped because the storage could not grow. Cleared by Allocate.
  bool Failed() const { return failed_; }
  void ClearFailed() { failed_ = false; }

  // The storage, holding the byte at Base() first.
  uint8_t* Data() { return data_.get(); }
  const uint8_t* Data() const { return data_.get(); }
  // The byte at an absolute position; pos must lie in [Base(), Capacity() + Base()].
  uint8_t* At(uint32_t pos) { return data_.get() + (pos - base_); }
  const uint8_t* At(uint32_t pos) const { return data_.get() + (pos - base_); }

 private:
  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };

  // True when pos has not been dropped; otherwise sets the failed flag.
  bool Holds(uint32_t pos);
  // Makes cursor + n fit, by the growth rule. False (and failed set) when it cannot.
  bool EnsureRoom(uint32_t n);

  uint32_t base_ = 0;
  uint32_t cursor_ = 0;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
  uint32_t initialCapacity_ = kDefaultCapacity;
  uint32_t increment_ = kDefaultIncrement;
  // The step as constructed: Allocate starts growth over from it, so a buffer filled again and
  // again (a preloader read for every part) does not see its step multiply without end.
  uint32_t initialIncrement_ = kDefaultIncrement;
  uint8_t shortRead_ = 0;
  float factor_ = 1.0f;
  std::unique_ptr<uint8_t, FreeDeleter> data_;
  BitAccumulator bits_;
  bool failed_ = false;
  uint32_t capacityLimit_ = UINT32_MAX;
};

}  // namespace quillon
