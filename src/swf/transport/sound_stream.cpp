#include "swf/transport/sound_stream.h"

namespace quillon {

// First stand-in: a run without sound until the audio stage is wired in.

Mp3HeaderKind ParseMp3FrameHeader(const uint8_t*, Mp3FrameHeader&) {
  return Mp3HeaderKind::kInvalid;
}

uint32_t Id3v2TagSize(const uint8_t* h) {
  return (uint32_t(h[6] & 0x7F) << 21) | (uint32_t(h[7] & 0x7F) << 14) |
         (uint32_t(h[8] & 0x7F) << 7) | uint32_t(h[9] & 0x7F);
}

SoundStream::SoundStream() = default;
SoundStream::~SoundStream() = default;

void SoundStream::Initialise(AudioStore* audio, double playerFrameRate) {
  audio_ = audio;
  playerFrameRate_ = playerFrameRate;
}

bool SoundStream::StartSound() {
  active_ = false;
  headWritten_ = false;
  carried_.Truncate(0);
  return true;
}

bool SoundStream::WriteSoundBlock(SwfWriter&, uint32_t& bytes) {
  bytes = 0;
  return true;
}

void SoundStream::CarryBlock(SwfWriter& writer, uint32_t from) {
  ByteBuffer* out = writer.Output();
  if (out == nullptr || from >= out->Cursor()) return;
  carried_.Truncate(0);
  carried_.Append(out->Data() + from, out->Cursor() - from);
  out->Truncate(from);
}

void SoundStream::StopSound() { active_ = false; }

}  // namespace quillon
