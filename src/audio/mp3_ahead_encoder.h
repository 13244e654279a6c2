// An AudioStore's MP3 stream encoded ahead on a thread of its own, in the pieces the sound
// stream would otherwise encode one at a time on the thread that writes the movie.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "swf/byte_buffer.h"

namespace quillon {

class AudioStore;

// A segment is what one AudioStore::EncodeMP3(segmentBytes) call appends; the first one
// shorter than segmentBytes ends the stream and also carries what FinishMP3 flushes. The
// segments, their order and the calls that make them are those of a caller that encodes one
// segment whenever it needs bytes, so the bytes are the same.
//
// From Start until the thread has ended (Stop, or a Take that returns anything but kMore) the
// store belongs to the thread: nothing else may call it or read its lastError. An encoder error
// reaches the store's lastError only when its segment is taken, as it would have on the
// calling thread; a failure in a segment never taken leaves lastError as it was.
class Mp3AheadEncoder {
 public:
  enum class Segment : uint8_t {
    kMore,       // a whole segment; the stream goes on
    kLast,       // the stream is over and closed; the flush is in the bytes
    kFailed,     // the encoder failed at this segment; closed, lastError says why
    kCancelled,  // the run's cancel flag cut the encoding short; the stream is still open
  };

  Mp3AheadEncoder() = default;
  ~Mp3AheadEncoder();
  Mp3AheadEncoder(const Mp3AheadEncoder&) = delete;
  Mp3AheadEncoder& operator=(const Mp3AheadEncoder&) = delete;

  // audio has a started MP3 stream (StartMP3). Up to segmentsAhead segments wait to be taken.
  // cancel (may be null) is the run's stop flag: once set, the thread stops within one chunk of
  // encoding. False when the thread cannot be started; the store is then the caller's.
  [[nodiscard]] bool Start(AudioStore* audio, uint32_t segmentBytes, uint32_t segmentsAhead,
                           const std::atomic<bool>* cancel);
  // Appends the next segment to out, waiting for it. Anything but kMore also ends the thread,
  // and the store is the caller's again.
  Segment Take(ByteBuffer& out);
  // Ends the thread and drops the segments not taken; the store is the caller's again, its
  // stream as far as the thread took it (still open unless the thread reached its end).
  // Waits for at most the segment being encoded (one chunk when the cancel flag is set).
  void Stop();
  bool Running() const { return thread_.joinable(); }

 private:
  struct Slot {
    ByteBuffer bytes;
    Segment kind = Segment::kMore;
    std::string error;
  };

  void Produce();
  // Encodes the next segment into slot; false when the thread should end after it.
  bool Encode(Slot& slot);
  void Join();

  AudioStore* audio_ = nullptr;
  uint32_t segmentBytes_ = 0;
  const std::atomic<bool>* cancel_ = nullptr;
  // The store's lastError when the thread started: a failure in a segment that is never taken
  // must not show.
  std::string keptError_;

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable room_;   // the thread waits for a free slot
  std::condition_variable ready_;  // the taker waits for a segment
  std::vector<Slot> slots_;        // a ring: first_ is the next to take, count_ are ready
  uint32_t first_ = 0;
  uint32_t count_ = 0;
  bool stop_ = false;
};

}  // namespace quillon
