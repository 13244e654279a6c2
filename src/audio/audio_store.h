// The sound track of the movie being encoded: opening it through a reader, PCM conversion,
// volume and offset, rate conversion and the two coders (ADPCM, MP3 through the encoder
// library) that feed the SWF sound stream.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/adpcm_encoder.h"
#include "audio/audio_reader.h"
#include "audio/mp3_encoder_library.h"
#include "swf/byte_buffer.h"

namespace quillon {

struct AudioOptions;

enum class AudioReaderKind : uint8_t { kNone = 0, kQuickTime = 1, kStream = 2, kAviFile = 3 };

inline constexpr const char* kAudioOpenError = "Audio source has unsupported/broken format";
inline constexpr const char* kAudioReadError = "Error reading sound samples";
inline constexpr const char* kMp3NotFoundError = "Unable to find MP3 encoder";
inline constexpr const char* kMp3AttachError = "Unable to attach MP3 encoder dll";
inline constexpr const char* kMp3VersionError =
    "MP3 encoder dll version too old - must be at last 3.88";
inline constexpr const char* kMp3OpenStreamError = "Error opening encoding stream";
inline constexpr const char* kMp3EncodeError = "Error working with temporary audio cache(3)";
inline constexpr const char* kMp3FlushError = "Error working with temporary audio cache(5)";

// Calling order in a run: Open, Setup, SetRange, then StartADPCM and one EncodeFrameADPCM per
// SWF frame, or StartMP3, EncodeMP3 as often as bytes are needed and FinishMP3; Close at the
// end. Every operation that fails leaves its message in lastError. Driven by one thread.
class AudioStore {
 public:
  // ReaderMask bits (the same mask, "FormatFlags", steers the video source). Only the stream
  // reader exists on this platform; the other two bits are kept for the stored preference.
  static constexpr uint32_t kReaderQuickTime = 1u << 0;
  static constexpr uint32_t kReaderStream = 1u << 1;
  static constexpr uint32_t kReaderAviFile = 1u << 2;

  // Most source frames read per MP3 chunk.
  static constexpr uint32_t kMp3ReadFrames = 11025;

  // Uses the real MP3 encoder library.
  AudioStore();
  // For tests and other encoders: any implementation of the encoder interface.
  explicit AudioStore(std::unique_ptr<Mp3EncoderLibrary> mp3Library);
  ~AudioStore();
  AudioStore(const AudioStore&) = delete;
  AudioStore& operator=(const AudioStore&) = delete;

  void SetReaderMask(uint32_t mask) { readerMask_ = static_cast<uint8_t>(mask); }
  uint32_t GetReaderMask() const { return readerMask_; }

  // Closes any open track and opens the sound track of path.
  [[nodiscard]] bool Open(const std::string& path);
  // Like Open, with a reader that has already opened its track (tests, synthetic sound).
  [[nodiscard]] bool OpenReader(std::unique_ptr<AudioReader> reader, AudioReaderKind kind);
  // False (and not active) when sound is off or no track is open. MP3 asked for but the
  // library unusable: clears the MP3 bit in options (the run falls back to ADPCM) and keeps
  // the library's message in lastError, still returning true.
  [[nodiscard]] bool Setup(AudioOptions& options);
  // Range in milliseconds of the track. True when not active; false only when active
  // without a reader.
  [[nodiscard]] bool SetRange(uint32_t startMs, uint32_t durationMs);
  [[nodiscard]] bool SetPosition(uint32_t first, uint32_t count);
  // Appends up to want frames at the source rate as 16-bit PCM in the output channel count,
  // lead silence, conversion and volume applied. Frames appended, 0 at the end, -1 on failure.
  int32_t ReadSamples(uint32_t want, ByteBuffer& buffer);

  [[nodiscard]] bool StartADPCM();
  // The ADPCM body of one SWF frame's sound block for samplesPerFrame frames at the output
  // rate, written to bitBuffer (emptied first). Returns its bytes, 0 when the sound has ended,
  // -1 on failure; produced = frames coded.
  int32_t EncodeFrameADPCM(uint32_t samplesPerFrame, ByteBuffer& bitBuffer, uint32_t& produced);
  void StopADPCM();

  // Converts count frames of channels-interleaved 16-bit samples from inRate to outRate,
  // appending to out. With wanted >= 0 a result one frame off wanted is corrected by
  // repeating or dropping the last frame. Returns the frames appended.
  static uint32_t Resample(const int16_t* src, uint32_t count, uint32_t channels, uint32_t inRate,
                           ByteBuffer& out, uint32_t outRate, int32_t wanted);

  // Loads the encoder library once and checks its version (at least 3.88).
  [[nodiscard]] bool LoadMP3Encoder();
  bool IsMP3Available();
  [[nodiscard]] bool StartMP3();
  // Appends MP3 bytes at out's cursor until at least minBytes more or the range is used up
  // (or the cancel flag is set: then possibly fewer, and no failure).
  // Returns out's cursor afterwards, 0 when not running, -1 on failure.
  int32_t EncodeMP3(uint32_t minBytes, ByteBuffer& out);
  // Flushes the encoder's last frames into out (discarded when out is null) and closes the
  // stream. Returns out's cursor, 0 without out or when not running, -1 on failure.
  int32_t FinishMP3(ByteBuffer* out);

  // Lent by a thread that encodes ahead, for as long as it does, so that a cancelled run
  // waits for one chunk of encoding at most (null: EncodeMP3 always delivers minBytes).
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

  // Destroys the reader, clears the opened and active flags and unloads the MP3 library.
  void Close();

  bool IsOpened() const { return opened_; }
  bool IsActive() const { return active_; }
  bool IsRunning() const { return running_; }
  AudioReaderKind ReaderKind() const { return readerKind_; }
  const AudioInfo& Info() const { return info_; }
  uint32_t Channels() const { return info_.channels; }
  uint32_t SampleRate() const { return info_.sampleRate; }
  uint32_t BitsPerSample() const { return info_.bitsPerSample; }
  uint32_t DurationMs() const { return info_.durationMs; }

  // Figures of the run, valid after Setup.
  bool IsMP3() const { return (flags_ & kFlagMp3) != 0; }
  // 1 when mono is forced or the track is mono, else 2.
  uint32_t OutputChannels() const;
  // Audio.Rate: the rate of the ADPCM stream.
  uint32_t OutputRate() const { return rate_; }
  // The rate the MP3 stream is encoded at: Audio.Rate, or the nearest rate an MP3 sound
  // stream can carry (11025, 22050, 44100) when Audio.Rate is not one of them.
  uint32_t Mp3OutputRate() const;
  // The encoder configuration StartMP3 passes for the current settings and track.
  Mp3Config MakeMp3Config() const;

  uint32_t FirstFrame() const { return firstFrame_; }
  uint32_t FrameCount() const { return frameCount_; }
  uint32_t Position() const { return pos_; }
  uint32_t End() const { return end_; }
  int32_t LeadFrames() const { return leadFrames_; }
  int32_t OffsetMs() const { return offsetMs_; }

  std::string lastError;

 private:
  // Bits of the copied audio flags (the same as the settings record's).
  static constexpr uint32_t kFlagProcess = 1u << 0;
  static constexpr uint32_t kFlagForceMono = 1u << 1;
  static constexpr uint32_t kFlagMp3 = 1u << 2;
  static constexpr uint32_t kFlagMp3Abr = 1u << 3;

  void DestroyReader();
  // Appends frames of raw_ converted to 16 bits in the output channel count, volume applied.
  void ConvertRaw(uint32_t frames, ByteBuffer& buffer) const;
  bool EncodeMp3Chunk(uint32_t frames, ByteBuffer& out);
  // Flushes and closes the stream; reportError false on the error paths that keep their
  // own message.
  int32_t FlushMp3(ByteBuffer* out, bool reportError);
  void UnloadMP3Encoder();

  AudioReaderKind readerKind_ = AudioReaderKind::kNone;
  std::unique_ptr<AudioReader> reader_;
  bool opened_ = false;
  bool active_ = false;
  bool running_ = false;
  AudioInfo info_;

  uint32_t rangeStartMs_ = 0;
  uint32_t rangeDurationMs_ = 0;
  uint32_t firstFrame_ = 0;
  uint32_t frameCount_ = 0;
  uint32_t pos_ = 0;
  uint32_t end_ = 0;
  int32_t offsetMs_ = 0;
  int32_t leadFrames_ = 0;

  ByteBuffer raw_;
  ByteBuffer pcm_;
  ByteBuffer resampled_;
  AdpcmEncoder adpcm_;

  // The copied audio settings.
  uint32_t flags_ = 0;
  uint32_t rate_ = 22050;
  uint32_t mp3Kbps_ = 16;
  uint32_t adpcmBits_ = 5;
  float volume_ = 100.0f;
  float offset_ = 0.0f;

  std::unique_ptr<Mp3EncoderLibrary> mp3_;
  bool mp3Loaded_ = false;
  uint32_t mp3MaxSamples_ = 0;
  uint32_t mp3OutBufferSize_ = 0;
  uint32_t mp3Stream_ = 0;

  uint8_t readerMask_ = 0xFF;
  const std::atomic<bool>* cancel_ = nullptr;
};

}  // namespace quillon
