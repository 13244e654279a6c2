// AudioStore's MP3 half: loading the encoder library, its configuration, chunked feeding and
// the flush.
#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/audio_store.h"

namespace quillon {

bool AudioStore::LoadMP3Encoder() {
  if (mp3Loaded_) return true;
  if (!mp3_) {
    lastError = kMp3NotFoundError;
    return false;
  }
  switch (mp3_->Load()) {
    case Mp3LoadResult::kNotFound:
      lastError = kMp3NotFoundError;
      return false;
    case Mp3LoadResult::kMissingEntryPoint:
      lastError = kMp3AttachError;
      mp3_->Unload();
      return false;
    case Mp3LoadResult::kLoaded:
      break;
  }
  Mp3Version version;
  mp3_->Version(version);
  const bool recentEnough =
      version.majorVersion > 3 || (version.majorVersion == 3 && version.minorVersion >= 88);
  if (!recentEnough) {
    lastError = kMp3VersionError;
    mp3_->Unload();
    return false;
  }
  mp3Loaded_ = true;
  return true;
}

bool AudioStore::IsMP3Available() {
  return mp3Loaded_ || LoadMP3Encoder();
}

void AudioStore::UnloadMP3Encoder() {
  if (!mp3_) return;
  if (mp3Stream_ != 0 && mp3Loaded_) {
    mp3_->CloseStream(mp3Stream_);
    mp3Stream_ = 0;
  }
  if (mp3Loaded_) mp3_->Unload();
  mp3Loaded_ = false;
}

uint32_t AudioStore::Mp3OutputRate() const {
  // The MP3 sound stream carries only these three rates; 5512 (or a hand-edited value) would
  // produce frames the stream cannot hold, so the nearest of them is encoded instead.
  if (rate_ == 11025 || rate_ == 22050 || rate_ == 44100) return rate_;
  if (rate_ < (11025 + 22050) / 2) return 11025;
  if (rate_ < (22050 + 44100) / 2) return 22050;
  return 44100;
}

Mp3Config AudioStore::MakeMp3Config() const {
  Mp3Config config;
  config.dwConfig = kMp3ConfigLame;
  config.dwStructVersion = 1;
  config.dwStructSize = sizeof(Mp3Config);
  config.dwSampleRate = info_.sampleRate;
  config.dwReSampleRate = Mp3OutputRate();
  if (OutputChannels() == 1) {
    config.nMode = kMp3ModeMono;
  } else {
    config.nMode = mp3Kbps_ > 160 ? kMp3ModeStereo : kMp3ModeJointStereo;
  }
  config.dwBitrate = mp3Kbps_;
  config.nPreset = kMp3PresetHighQuality;
  config.dwMpegVersion = Mp3OutputRate() == 44100 ? 1 : 0;
  if (flags_ & kFlagMp3Abr) {
    config.bEnableVBR = 1;
    config.dwVbrAbr_bps = mp3Kbps_ * 1000;
  }
  return config;
}

bool AudioStore::StartMP3() {
  running_ = false;
  if (!mp3Loaded_ || !mp3_) return false;
  const Mp3Config config = MakeMp3Config();
  uint32_t maxSamples = 0;
  uint32_t outBufferSize = 0;
  uint32_t stream = 0;
  if (mp3_->InitStream(config, maxSamples, outBufferSize, stream) != 0) {
    lastError = kMp3OpenStreamError;
    return false;
  }
  // A stereo count is in 16-bit values and must cover whole frames; a limit below one frame
  // would never make progress.
  if (OutputChannels() == 2) maxSamples &= ~1u;
  if (maxSamples == 0 || outBufferSize == 0) {
    uint32_t ignored = 0;
    std::vector<uint8_t> scratch(outBufferSize);
    mp3_->DeinitStream(stream, scratch.data(), ignored);
    mp3_->CloseStream(stream);
    lastError = kMp3OpenStreamError;
    return false;
  }
  mp3MaxSamples_ = maxSamples;
  mp3OutBufferSize_ = outBufferSize;
  mp3Stream_ = stream;
  if (!SetPosition(firstFrame_, frameCount_)) {
    // Otherwise the open stream would outlive the run.
    std::vector<uint8_t> scratch(outBufferSize);
    uint32_t ignored = 0;
    mp3_->DeinitStream(mp3Stream_, scratch.data(), ignored);
    mp3_->CloseStream(mp3Stream_);
    mp3Stream_ = 0;
    return false;
  }
  pcm_.Clear();
  running_ = true;
  return true;
}

bool AudioStore::EncodeMp3Chunk(uint32_t frames, ByteBuffer& out) {
  uint32_t factor = 2;
  if (OutputChannels() == 1) {
    // The encoder always takes left/right pairs; a mono chunk becomes pairs of equal values.
    factor = 1;
    if (pcm_.Size() < frames * 2) return false;
    pcm_.Seek(frames * 2);
    if (pcm_.Reserve(frames * 2) == nullptr) return false;
    pcm_.Skip(frames * 2);
    int16_t* p = reinterpret_cast<int16_t*>(pcm_.Data());
    for (uint32_t i = frames; i-- > 0;) {
      p[2 * i + 1] = p[i];
      p[2 * i] = p[i];
    }
  }
  if (pcm_.Size() < frames * 4) return false;
  const int16_t* samples = reinterpret_cast<const int16_t*>(pcm_.Data());
  uint32_t done = 0;
  while (done < frames) {
    const uint32_t count = std::min(mp3MaxSamples_, factor * (frames - done));
    uint8_t* dst = out.Reserve(mp3OutBufferSize_);
    if (dst == nullptr) return false;
    uint32_t written = 0;
    if (mp3_->EncodeChunk(mp3Stream_, count, samples + static_cast<size_t>(done) * 2, dst,
                          written) != 0) {
      return false;
    }
    out.Skip(std::min(written, mp3OutBufferSize_));
    done += count / factor;
  }
  return true;
}

int32_t AudioStore::EncodeMP3(uint32_t minBytes, ByteBuffer& out) {
  if (!active_ || !running_) return 0;
  const uint32_t start = out.Cursor();
  while (out.Cursor() - start < minBytes && pos_ < end_ &&
         (cancel_ == nullptr || !cancel_->load(std::memory_order_acquire))) {
    pcm_.Clear();
    const int32_t got = ReadSamples(std::min(end_ - pos_, kMp3ReadFrames), pcm_);
    if (got == 0) break;
    if (got < 0) {
      const std::string readError = lastError;
      FlushMp3(&out, false);
      lastError = readError;
      active_ = false;
      return -1;
    }
    if (!EncodeMp3Chunk(static_cast<uint32_t>(got), out)) {
      lastError = kMp3EncodeError;
      FlushMp3(&out, false);
      active_ = false;
      return -1;
    }
  }
  return static_cast<int32_t>(out.Cursor());
}

int32_t AudioStore::FinishMP3(ByteBuffer* out) {
  return FlushMp3(out, true);
}

int32_t AudioStore::FlushMp3(ByteBuffer* out, bool reportError) {
  if (!running_) return 0;
  bool failed = false;
  if (mp3Stream_ != 0) {
    ByteBuffer* target = out != nullptr ? out : &pcm_;
    uint8_t* dst = target->Reserve(mp3OutBufferSize_);
    uint32_t written = 0;
    if (dst == nullptr) {
      std::vector<uint8_t> scratch(mp3OutBufferSize_);
      mp3_->DeinitStream(mp3Stream_, scratch.data(), written);
      failed = true;
      written = 0;
    } else if (mp3_->DeinitStream(mp3Stream_, dst, written) != 0) {
      failed = true;
    }
    mp3_->CloseStream(mp3Stream_);
    mp3Stream_ = 0;
    if (dst != nullptr) target->Skip(std::min(written, mp3OutBufferSize_));
  }
  pcm_.Free();
  running_ = false;
  if (reader_) reader_->EndRead();
  if (out != nullptr && failed && reportError) {
    lastError = kMp3FlushError;
    active_ = false;
    return -1;
  }
  return out != nullptr ? static_cast<int32_t>(out->Cursor()) : 0;
}

}  // namespace quillon
