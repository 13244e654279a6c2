#include "swf/transport/sound_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/audio_store.h"
#include "audio/mp3_ahead_encoder.h"
#include "settings/trace.h"

namespace quillon {
namespace {

// The MP3 data buffer is topped up whenever fewer than this many bytes are unread: more than
// the largest Layer III frame the stream can carry (1044 bytes at 320 kbit/s, 44100 Hz).
constexpr uint32_t kMp3Refill = 2304;
// Refills encoded ahead of the blocks: enough to ride out a frame whose block takes several,
// few enough that a stream stopped early has not encoded much for nothing.
constexpr uint32_t kMp3RefillsAhead = 4;

// Layer III bit rates in kbit/s by the 4-bit index; 0 (free format) and 15 are refused.
constexpr uint32_t kMpeg1Rates[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                      112, 128, 160, 192, 224, 256, 320, 0};
constexpr uint32_t kMpeg2Rates[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                      64, 80, 96, 112, 128, 144, 160, 0};

// PlaybackSoundRate / StreamSoundRate code; 0 stands for 5512 Hz.
uint32_t RateCode(uint32_t rate) {
  switch (rate) {
    case 44100:
      return 3;
    case 22050:
      return 2;
    case 11025:
      return 1;
    default:
      return 0;
  }
}

}  // namespace

Mp3HeaderKind ParseMp3FrameHeader(const uint8_t* p, Mp3FrameHeader& header) {
  if (p[0] == 'T' && p[1] == 'A' && p[2] == 'G') return Mp3HeaderKind::kEndTag;
  if (std::memcmp(p, "LYRI", 4) == 0) return Mp3HeaderKind::kEndTag;
  if (p[0] == 'I' && p[1] == 'D' && p[2] == '3') return Mp3HeaderKind::kId3v2;
  if (p[0] != 0xFF || p[1] <= 0xDF) return Mp3HeaderKind::kInvalid;  // 11 sync bits

  const uint32_t version = (p[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  if (version == 1) return Mp3HeaderKind::kInvalid;
  if (((p[1] >> 1) & 3) != 1) return Mp3HeaderKind::kInvalid;  // Layer III

  static constexpr uint32_t kMpeg1SampleRates[4] = {44100, 48000, 32000, 0};
  const uint32_t rateIndex = (p[2] >> 2) & 3;
  uint32_t rate = kMpeg1SampleRates[rateIndex];
  if (version == 2) rate /= 2;
  if (version == 0) rate /= 4;
  if (rate != 11025 && rate != 22050 && rate != 44100) return Mp3HeaderKind::kInvalid;

  const bool mpeg1 = version == 3;
  const uint32_t kbps = (mpeg1 ? kMpeg1Rates : kMpeg2Rates)[p[2] >> 4];
  if (kbps == 0) return Mp3HeaderKind::kInvalid;

  header.sampleRate = rate;
  header.bitRate = kbps * 1000;
  header.mpeg1 = mpeg1;
  header.stereo = (p[3] >> 6) != 3;
  header.samplesPerFrame = mpeg1 ? 1152 : 576;
  header.frameBytes = (mpeg1 ? 144 : 72) * header.bitRate / rate + ((p[2] >> 1) & 1);
  return Mp3HeaderKind::kFrame;
}

uint32_t Id3v2TagSize(const uint8_t* h) {
  return (uint32_t(h[6] & 0x7F) << 21) | (uint32_t(h[7] & 0x7F) << 14) |
         (uint32_t(h[8] & 0x7F) << 7) | uint32_t(h[9] & 0x7F);
}

SoundStream::SoundStream() = default;
SoundStream::~SoundStream() = default;

void SoundStream::Initialise(AudioStore* audio, double playerFrameRate) {
  audio_ = audio;
  playerFrameRate_ = playerFrameRate > 0.0 ? playerFrameRate : 12.0;
}

bool SoundStream::StartSound() {
  StopAhead();
  active_ = false;
  headWritten_ = false;
  encoderOpen_ = false;
  cachedHeadBytes_ = 0;
  carried_.Truncate(0);
  if (audio_ == nullptr || !audio_->IsActive()) return true;
  mp3_ = audio_->IsMP3();
  data_ = ByteBuffer();
  if (data_.Allocate() == nullptr) return false;
  active_ = true;
  unitsPerFrame_ = 0.0;
  unitsAccumulated_ = 0.0;
  unitsWritten_ = 0;
  const bool started = mp3_ ? audio_->StartMP3() : audio_->StartADPCM();
  if (!started) {
    active_ = false;
    data_.Free();
    return false;
  }
  encoderOpen_ = mp3_;
  if (mp3_ && encodeAhead_) {
    if (!ahead_) ahead_ = std::make_unique<Mp3AheadEncoder>();
    // Started on the calling thread so that it shares that thread's scheduling priority.
    // Without a thread of its own the stream is encoded here, as with encoding ahead off.
    (void)ahead_->Start(audio_, kMp3Refill, kMp3RefillsAhead, cancel_);
  }
  return true;
}

bool SoundStream::WriteSoundBlock(SwfWriter& writer, uint32_t& bytes) {
  bytes = 0;
  ByteBuffer* out = writer.Output();
  if (out == nullptr) return false;
  const uint32_t start = out->Cursor();
  headInFrame_ = false;
  blockStart_ = start;

  bool ok = true;
  if (HasCarriedBlock()) {
    // A block pushed out of the last part is written before anything new is taken, also
    // when it was the sound's last block.
    if (!headWritten_) {
      if (active_) {
        ok = WriteHead(writer);
      } else if (cachedHeadBytes_ > 0) {
        out->Append(cachedHead_, cachedHeadBytes_);
      }
      if (ok) {
        headWritten_ = true;
        headInFrame_ = true;
      }
    }
    if (ok) {
      blockStart_ = out->Cursor();
      out->Append(carried_.Data(), carried_.Cursor());
      carried_.Truncate(0);
    }
  } else if (active_) {
    if (!headWritten_) {
      ok = WriteHead(writer);
      if (ok) {
        headWritten_ = true;
        headInFrame_ = true;
      }
    }
    blockStart_ = out->Cursor();
    ok = ok && WriteBlock(writer);
  }
  bytes = out->Cursor() > start ? out->Cursor() - start : 0;
  return ok;
}

void SoundStream::CarryBlock(SwfWriter& writer, uint32_t from) {
  ByteBuffer* out = writer.Output();
  if (out == nullptr || from >= out->Cursor()) return;
  // Only the block travels: a head written in the same frame is dropped with the frame, and
  // the next part writes its own.
  uint32_t blockFrom = from;
  if (headInFrame_ && blockStart_ >= from && blockStart_ <= out->Cursor()) {
    blockFrom = blockStart_;
    headWritten_ = false;
  }
  carried_.Truncate(0);
  if (out->Cursor() > blockFrom)
    carried_.Append(out->At(blockFrom), out->Cursor() - blockFrom);
  out->Truncate(from);
  headInFrame_ = false;
}

void SoundStream::StopSound() {
  StopAhead();
  if (audio_ != nullptr) {
    if (mp3_) {
      if (encoderOpen_) {
        data_.Truncate(0);
        audio_->FinishMP3(&data_);
      }
    } else {
      audio_->StopADPCM();
    }
  }
  encoderOpen_ = false;
  active_ = false;
  data_.Free();
}

void SoundStream::ReleaseAudio() {
  if (StopAhead()) {
    active_ = false;
    data_.Free();
  }
}

bool SoundStream::StopAhead() {
  if (!ahead_ || !ahead_->Running()) return false;
  ahead_->Stop();
  return true;
}

void SoundStream::EndSound() {
  StopAhead();
  active_ = false;
  data_.Free();
  if (mp3_) {
    if (encoderOpen_ && audio_ != nullptr) audio_->FinishMP3(nullptr);
    encoderOpen_ = false;
  } else if (audio_ != nullptr) {
    audio_->StopADPCM();
  }
}

bool SoundStream::WriteHead(SwfWriter& writer) {
  ByteBuffer* out = writer.Output();
  const uint32_t start = out->Cursor();
  const bool ok = mp3_ ? WriteMp3Head(writer) : WriteAdpcmHead(writer);
  const uint32_t end = out->Cursor();
  if (ok && end > start && end - start <= sizeof(cachedHead_)) {
    std::memcpy(cachedHead_, out->At(start), end - start);
    cachedHeadBytes_ = end - start;
  }
  return ok;
}

bool SoundStream::WriteBlock(SwfWriter& writer) {
  return mp3_ ? WriteMp3Block(writer) : WriteAdpcmBlock(writer);
}

bool SoundStream::RefillMp3() {
  if (data_.Remaining() >= kMp3Refill) return true;
  data_.RemoveRange(0, data_.Cursor());
  data_.SeekEnd();
  if (encoderOpen_ && ahead_ && ahead_->Running()) {
    switch (ahead_->Take(data_)) {
      case Mp3AheadEncoder::Segment::kMore:
        break;
      case Mp3AheadEncoder::Segment::kLast:
        encoderOpen_ = false;
        break;
      case Mp3AheadEncoder::Segment::kFailed:
        encoderOpen_ = false;  // the failing segment closed the stream
        return false;
      case Mp3AheadEncoder::Segment::kCancelled:
        return false;
    }
    data_.Truncate(data_.Cursor());
  } else if (encoderOpen_) {
    const int64_t before = data_.Cursor();
    const int32_t got = audio_->EncodeMP3(kMp3Refill, data_);
    if (got < 0) {
      encoderOpen_ = false;  // the failing call closed the stream
      return false;
    }
    if (static_cast<int64_t>(data_.Cursor()) - before < kMp3Refill) {
      encoderOpen_ = false;
      if (audio_->FinishMP3(&data_) < 0) return false;
    }
    data_.Truncate(data_.Cursor());
  }
  data_.Seek(0);
  return true;
}

SoundStream::Mp3Read SoundStream::PeekMp3Frame(Mp3FrameHeader& header) {
  for (;;) {
    if (!RefillMp3()) return Mp3Read::kError;
    if (data_.Remaining() < 4) return Mp3Read::kEnd;
    const uint8_t* p = data_.Data() + data_.Cursor();
    switch (ParseMp3FrameHeader(p, header)) {
      case Mp3HeaderKind::kFrame:
        return Mp3Read::kFrame;
      case Mp3HeaderKind::kEndTag:
        return Mp3Read::kEnd;
      case Mp3HeaderKind::kInvalid:
        return Mp3Read::kError;
      case Mp3HeaderKind::kId3v2:
        break;
    }
    if (data_.Remaining() < 10) return Mp3Read::kEnd;  // a cut-off tag header ends the data
    uint64_t skip = 10 + static_cast<uint64_t>(Id3v2TagSize(p));
    // The tag may reach beyond what is buffered; skip across refills.
    while (skip > 0) {
      if (data_.Remaining() == 0) {
        if (!RefillMp3()) return Mp3Read::kError;
        if (data_.Remaining() == 0) return Mp3Read::kEnd;
      }
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(skip, data_.Remaining()));
      data_.Skip(n);
      skip -= n;
    }
  }
}

bool SoundStream::WriteMp3Head(SwfWriter& writer) {
  Mp3FrameHeader h;
  switch (PeekMp3Frame(h)) {
    case Mp3Read::kEnd:
      return true;  // no sound at all: the next block finds the end
    case Mp3Read::kError:
      return false;
    case Mp3Read::kFrame:
      break;
  }
  const double u = static_cast<double>(h.sampleRate) / h.samplesPerFrame / playerFrameRate_;
  const uint32_t rate = RateCode(h.sampleRate);
  const uint32_t stereo = h.stereo ? 1 : 0;
  writer.BeginTag(TagCode::kSoundStreamHead2);
  writer.WriteBits(0, 4);       // reserved
  writer.WriteBits(rate, 2);    // PlaybackSoundRate
  writer.WriteBits(1, 1);       // PlaybackSoundSize: 16 bits
  writer.WriteBits(stereo, 1);  // PlaybackSoundType
  writer.WriteBits(2, 4);       // StreamSoundCompression: MP3
  writer.WriteBits(rate, 2);    // StreamSoundRate
  writer.WriteBits(1, 1);       // StreamSoundSize: 16 bits
  writer.WriteBits(stereo, 1);  // StreamSoundType
  writer.FlushBits();
  const double count = std::trunc(h.samplesPerFrame * u + 1.0);
  writer.Put16(static_cast<uint16_t>(std::min(count, 65535.0)));  // StreamSoundSampleCount
  // LatencySeek, present in every MP3 head: the samples a player may skip to put the sound
  // back on the picture. Ruffle and FFmpeg ignore it; readers that follow the format need
  // the field to find the end of the head.
  writer.Put16(static_cast<uint16_t>(kMp3StreamDelaySamples));
  writer.EndTag();
  unitsPerFrame_ = u;
  unitsAccumulated_ = 0.0;
  unitsWritten_ = 0;
  return true;
}

bool SoundStream::WriteMp3Block(SwfWriter& writer) {
  ByteBuffer* out = writer.Output();
  const double due = std::floor(unitsPerFrame_ + unitsAccumulated_ - unitsWritten_) + 1.0;
  const uint32_t n = due > 0.0 ? static_cast<uint32_t>(std::min(due, 1000.0)) : 0;
  const uint32_t tagStart = out->Cursor();
  writer.BeginTag(TagCode::kSoundStreamBlock);
  const uint32_t countPos = out->Cursor();
  writer.Put16(0);  // SampleCount, patched below
  writer.Put16(0);  // SeekSamples
  uint32_t samples = 0;
  bool ended = false;
  for (uint32_t i = 0; i < n; ++i) {
    Mp3FrameHeader h;
    const Mp3Read read = PeekMp3Frame(h);
    if (read == Mp3Read::kEnd) {
      ended = true;
      break;
    }
    if (read == Mp3Read::kError) {
      StopAhead();
      active_ = false;
      data_.Free();
      if (encoderOpen_) audio_->FinishMP3(nullptr);
      encoderOpen_ = false;
      out->Truncate(tagStart);
      return false;
    }
    if (data_.Remaining() < h.frameBytes) {
      ended = true;  // a frame cut off at the end of the data is dropped
      break;
    }
    writer.Append(data_.Data() + data_.Cursor(), h.frameBytes);
    data_.Skip(h.frameBytes);
    samples += h.samplesPerFrame;
  }
  writer.EndTag();
  out->Patch16(countPos, static_cast<uint16_t>(std::min<uint32_t>(samples, 65535)));
  Trace("+MP3 Frame Size: %u\n", writer.LastTagLength());
  if (ended) {
    EndSound();
  } else {
    unitsWritten_ += n;
    unitsAccumulated_ += unitsPerFrame_;
  }
  return true;
}

bool SoundStream::WriteAdpcmHead(SwfWriter& writer) {
  const uint32_t outRate = audio_->OutputRate();
  const uint32_t rate = RateCode(outRate);
  const uint32_t type = audio_->OutputChannels() - 1;
  writer.BeginTag(TagCode::kSoundStreamHead2);
  writer.WriteBits(0, 4);     // reserved
  writer.WriteBits(rate, 2);  // PlaybackSoundRate
  writer.WriteBits(1, 1);     // PlaybackSoundSize: 16 bits
  writer.WriteBits(type, 1);  // PlaybackSoundType
  writer.WriteBits(1, 4);     // StreamSoundCompression: ADPCM
  writer.WriteBits(rate, 2);  // StreamSoundRate
  writer.WriteBits(1, 1);     // StreamSoundSize: 16 bits
  writer.WriteBits(type, 1);  // StreamSoundType
  writer.FlushBits();
  unitsPerFrame_ = outRate / playerFrameRate_;
  writer.Put16(static_cast<uint16_t>(std::min(std::trunc(unitsPerFrame_), 65535.0)));
  writer.EndTag();
  return true;
}

bool SoundStream::WriteAdpcmBlock(SwfWriter& writer) {
  data_.Clear();
  uint32_t produced = 0;
  const uint32_t samples = static_cast<uint32_t>(std::min(std::trunc(unitsPerFrame_), 65535.0));
  const int32_t len = audio_->EncodeFrameADPCM(samples, data_, produced);
  if (len <= 0) {
    active_ = false;
    data_.Free();
    audio_->StopADPCM();
    return len == 0;
  }
  writer.BeginTag(TagCode::kSoundStreamBlock);
  writer.Append(data_.Data(), std::min<uint32_t>(static_cast<uint32_t>(len), data_.Size()));
  writer.EndTag();
  Trace("+ADPCM Frame Size: %u\n", writer.LastTagLength());
  return true;
}

}  // namespace quillon
