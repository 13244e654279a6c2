// The SWF streaming sound of a run: one SoundStreamHead2 per part and one SoundStreamBlock per
// SWF frame, paced against the player frame rate, from the sound the AudioStore encodes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "swf/byte_buffer.h"
#include "swf/swf_writer.h"

namespace quillon {

class AudioStore;
class Mp3AheadEncoder;

// What 4 bytes at the read position of MP3 data are.
enum class Mp3HeaderKind {
  kFrame,    // a Layer III frame header the sound stream can carry
  kEndTag,   // "TAG" (ID3 version 1) or "LYRI" (Lyrics3): the MP3 data is over
  kId3v2,    // "ID3": a tag to skip (its size needs 6 more bytes)
  kInvalid,  // anything else, including rates other than 11025, 22050, 44100
};

struct Mp3FrameHeader {
  uint32_t sampleRate = 0;       // Hz
  uint32_t bitRate = 0;          // bit/s
  uint32_t samplesPerFrame = 0;  // 1152 for MPEG-1, 576 for MPEG-2 and MPEG-2.5
  uint32_t frameBytes = 0;       // whole frame, header and padding included
  bool stereo = false;
  bool mpeg1 = false;
};

// Classifies the 4 bytes at p and, for a frame, fills header.
Mp3HeaderKind ParseMp3FrameHeader(const uint8_t* p, Mp3FrameHeader& header);
// The size of an ID3 version 2 tag's body from its 10-byte header (28 bits, 7 per byte).
uint32_t Id3v2TagSize(const uint8_t* header10);

// Owned by the Transport. Lifecycle of a run: Initialise, StartSound, then per part StartPart
// and per SWF frame WriteSoundBlock (the first thing written for the frame); CarryBlock when a
// frame is pushed out of a full part; StopSound at the end or on failure. Sound, once run out
// or failed, stays off for the rest of the run.
// With encoding ahead on, an MP3 stream is encoded on a thread of its own from StartSound until
// the stream ends or stops, and the AudioStore is that thread's meanwhile: the owner's thread
// reads it (its lastError, say) only after ReleaseAudio, StopSound or the stream's end.
class SoundStream {
 public:
  SoundStream();
  ~SoundStream();
  SoundStream(const SoundStream&) = delete;
  SoundStream& operator=(const SoundStream&) = delete;

  // audio may be null (no sound); playerFrameRate is the SWF frame rate (> 0).
  void Initialise(AudioStore* audio, double playerFrameRate);
  // Off (the default): MP3 bytes are encoded on the calling thread as blocks need them. On:
  // encoded ahead by the next StartSound's stream, the same bytes. ADPCM is always encoded in
  // place (it costs little).
  void SetEncodeAhead(bool on) { encodeAhead_ = on; }
  // The run's stop flag (may be null): once set, the encoding ahead stops within one chunk and
  // the block that waits for it fails.
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

  // Once per run, before the first part. Starts the encoder when the audio source has sound;
  // false when it cannot be started (the run fails). Empties the carried block.
  [[nodiscard]] bool StartSound();
  // A new part needs its own head before its first block.
  void StartPart() { headWritten_ = false; }
  // Writes the head when this part has none yet and the frame's block (or the carried one).
  // bytes = growth of the stream (0 when sound is not active). False fails the frame.
  [[nodiscard]] bool WriteSoundBlock(SwfWriter& writer, uint32_t& bytes);
  // Moves the output's bytes [from, cursor) - the block of a frame refused for lack of room -
  // into the carried block and cuts the output back to from.
  void CarryBlock(SwfWriter& writer, uint32_t from);
  void ClearCarriedBlock() { carried_.Truncate(0); }
  // Closes the encoder (MP3: its last frames are flushed into the data buffer and dropped).
  void StopSound();
  // For a run that is failing: ends the encoding ahead so that the AudioStore may be read on
  // this thread. A stream that was encoded ahead writes no more blocks; StopSound still follows.
  void ReleaseAudio();

  bool IsActive() const { return active_; }
  bool IsMP3() const { return mp3_; }
  bool HeadWritten() const { return headWritten_; }
  bool HasCarriedBlock() const { return carried_.Cursor() > 0; }
  double UnitsPerFrame() const { return unitsPerFrame_; }

 private:
  enum class Mp3Read { kFrame, kEnd, kError };

  bool WriteHead(SwfWriter& writer);
  bool WriteBlock(SwfWriter& writer);
  bool WriteMp3Head(SwfWriter& writer);
  bool WriteMp3Block(SwfWriter& writer);
  bool WriteAdpcmHead(SwfWriter& writer);
  bool WriteAdpcmBlock(SwfWriter& writer);
  // Tops up the MP3 data when fewer than a frame's worth of bytes are unread.
  bool RefillMp3();
  // Refills and reads the next frame header, skipping ID3 version 2 tags; leaves the cursor
  // on the header.
  Mp3Read PeekMp3Frame(Mp3FrameHeader& header);
  void EndSound();
  // Ends the encoding ahead, if any; true when it was running.
  bool StopAhead();

  AudioStore* audio_ = nullptr;
  double playerFrameRate_ = 12.0;
  bool active_ = false;
  bool mp3_ = false;
  bool headWritten_ = false;
  bool encoderOpen_ = false;
  bool encodeAhead_ = false;
  const std::atomic<bool>* cancel_ = nullptr;
  std::unique_ptr<Mp3AheadEncoder> ahead_;
  ByteBuffer data_;
  ByteBuffer carried_{8192, 8192, 1.0f};
  double unitsPerFrame_ = 0.0;
  double unitsAccumulated_ = 0.0;
  uint32_t unitsWritten_ = 0;
  // Where this frame's block began and whether the frame also wrote the part's head, so
  // that CarryBlock moves the block alone.
  uint32_t blockStart_ = 0;
  bool headInFrame_ = false;
  // The last head written, for a carried last block that outlives the sound's data.
  uint8_t cachedHead_[16] = {};
  uint32_t cachedHeadBytes_ = 0;
};

}  // namespace quillon
