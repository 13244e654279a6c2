#include "audio/mp3_ahead_encoder.h"

#include <exception>
#include <system_error>

#include "audio/audio_store.h"

namespace quillon {

Mp3AheadEncoder::~Mp3AheadEncoder() {
  Stop();
}

bool Mp3AheadEncoder::Start(AudioStore* audio, uint32_t segmentBytes, uint32_t segmentsAhead,
                            const std::atomic<bool>* cancel) {
  Stop();
  if (audio == nullptr || segmentBytes == 0 || segmentsAhead == 0) return false;
  audio_ = audio;
  segmentBytes_ = segmentBytes;
  cancel_ = cancel;
  first_ = 0;
  count_ = 0;
  stop_ = false;
  try {
    keptError_ = audio->lastError;
    if (slots_.size() != segmentsAhead) {
      slots_.clear();
      slots_.resize(segmentsAhead);
    }
    audio->SetCancelFlag(cancel);
    thread_ = std::thread([this] { Produce(); });
  } catch (const std::exception&) {
    // No thread (or no memory for the slots): the caller encodes on its own thread.
    audio->SetCancelFlag(nullptr);
    return false;
  }
  return true;
}

void Mp3AheadEncoder::Produce() {
  for (;;) {
    Slot* slot = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      room_.wait(lock, [this] { return stop_ || count_ < slots_.size(); });
      if (stop_) return;
      slot = &slots_[(first_ + count_) % slots_.size()];
    }
    // The slot is this thread's until count_ takes it in.
    const bool more = Encode(*slot);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
      ++count_;
    }
    ready_.notify_one();
    if (!more) return;
  }
}

bool Mp3AheadEncoder::Encode(Slot& slot) {
  slot.bytes.Clear();
  slot.kind = Segment::kMore;
  slot.error.clear();
  try {
    const int32_t got = audio_->EncodeMP3(segmentBytes_, slot.bytes);
    if (got >= 0) {
      if (cancel_ != nullptr && cancel_->load(std::memory_order_acquire)) {
        // The segment may have been cut short: it must not pass for the stream's end.
        slot.kind = Segment::kCancelled;
        return false;
      }
      if (slot.bytes.Cursor() >= segmentBytes_) return true;
      slot.kind = Segment::kLast;
      if (audio_->FinishMP3(&slot.bytes) >= 0) return false;
    }
    slot.kind = Segment::kFailed;
    slot.error = audio_->lastError;
    audio_->lastError = keptError_;
    return false;
  } catch (const std::exception&) {
  }
  // Only memory can have run out: the stream is closed as after any encoder failure.
  slot.kind = Segment::kFailed;
  try {
    (void)audio_->FinishMP3(nullptr);
    slot.error = kMp3EncodeError;
  } catch (const std::exception&) {
    slot.error.clear();
  }
  return false;
}

Mp3AheadEncoder::Segment Mp3AheadEncoder::Take(ByteBuffer& out) {
  if (!Running()) return Segment::kCancelled;
  Slot* slot = nullptr;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return count_ > 0; });
    slot = &slots_[first_];
  }
  const Segment kind = slot->kind;
  bool copied = true;
  if (kind == Segment::kMore || kind == Segment::kLast) {
    const uint32_t n = slot->bytes.Cursor();
    copied = n == 0 || out.Append(slot->bytes.Data(), n) == n;
  }
  if (kind == Segment::kMore && copied) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      first_ = (first_ + 1) % static_cast<uint32_t>(slots_.size());
      --count_;
    }
    room_.notify_one();
    return kind;
  }
  // The thread has ended (or is told to end): the store is this thread's again.
  Join();
  if (!copied) {
    // As when the store's own output cannot grow: the stream is closed with the error.
    if (kind == Segment::kMore) (void)audio_->FinishMP3(nullptr);
    audio_->lastError = kMp3EncodeError;
    return Segment::kFailed;
  }
  if (kind == Segment::kFailed) audio_->lastError = slot->error;
  return kind;
}

void Mp3AheadEncoder::Stop() {
  if (!Running()) return;
  Join();
}

void Mp3AheadEncoder::Join() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  room_.notify_one();
  thread_.join();
  audio_->SetCancelFlag(nullptr);
  first_ = 0;
  count_ = 0;
}

}  // namespace quillon
