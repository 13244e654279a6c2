#include "audio/audio_store.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "audio/stream_audio_reader.h"
#include "settings/encoder_settings.h"

namespace quillon {

static_assert(std::endian::native == std::endian::little,
              "PCM buffers are little-endian 16-bit samples accessed in place");

namespace {

// The ADPCM sound stream declares one of these four rates; any other would play at the
// wrong pitch, so a hand-edited rate is taken to the nearest of them.
uint32_t NearestAdpcmRate(int32_t rate) {
  if (rate < (5512 + 11025) / 2) return 5512;
  if (rate < (11025 + 22050) / 2) return 11025;
  if (rate < (22050 + 44100) / 2) return 22050;
  return 44100;
}

int16_t ClampSample(float v) {
  if (v >= 32767.0f) return 32767;
  if (v <= -32768.0f) return -32768;
  return static_cast<int16_t>(v);  // truncation toward zero
}

}  // namespace

AudioStore::AudioStore() : AudioStore(CreateLameEncoderLibrary()) {}

AudioStore::AudioStore(std::unique_ptr<Mp3EncoderLibrary> mp3Library)
    : mp3_(std::move(mp3Library)) {}

AudioStore::~AudioStore() {
  Close();
}

void AudioStore::DestroyReader() {
  if (running_) {
    if (IsMP3()) {
      FinishMP3(nullptr);
    } else {
      StopADPCM();
    }
  }
  reader_.reset();
  readerKind_ = AudioReaderKind::kNone;
  info_ = AudioInfo();
}

bool AudioStore::Open(const std::string& path) {
  DestroyReader();
  raw_.Clear();
  opened_ = false;
  active_ = false;
  running_ = false;
  // Only the stream reader exists here; it reads every format the other two slots would.
  if (readerMask_ & kReaderStream) {
    try {
      auto reader = std::make_unique<StreamAudioReader>();
      if (reader->Open(path)) return OpenReader(std::move(reader), AudioReaderKind::kStream);
    } catch (const std::bad_alloc&) {
      // Counts as a reader that could not open the file.
    }
  }
  lastError = kAudioOpenError;
  return false;
}

bool AudioStore::OpenReader(std::unique_ptr<AudioReader> reader, AudioReaderKind kind) {
  DestroyReader();
  raw_.Clear();
  opened_ = false;
  active_ = false;
  running_ = false;
  const AudioInfo info = reader ? reader->GetInfo() : AudioInfo();
  if (!reader || info.sampleRate == 0 || info.channels == 0 || info.channels > 2 ||
      (info.bitsPerSample != 8 && info.bitsPerSample != 16)) {
    lastError = kAudioOpenError;
    return false;
  }
  reader_ = std::move(reader);
  readerKind_ = kind;
  info_ = info;
  opened_ = true;
  return true;
}

bool AudioStore::Setup(AudioOptions& options) {
  // A run set up again while its encoder is open would otherwise leave the stream open.
  if (running_) {
    if (IsMP3()) {
      FinishMP3(nullptr);
    } else {
      StopADPCM();
    }
  }
  if ((options.flags & AudioOptions::kProcess) == 0 || !opened_) {
    active_ = false;
    return false;
  }
  active_ = true;
  if ((options.flags & AudioOptions::kCompressionMp3) != 0 && !LoadMP3Encoder()) {
    options.flags &= ~AudioOptions::kCompressionMp3;
  }
  flags_ = options.flags;
  rate_ = NearestAdpcmRate(options.rate);
  mp3Kbps_ = options.mp3kbps > 0 ? static_cast<uint32_t>(options.mp3kbps) : 0;
  adpcmBits_ = std::clamp<uint32_t>(options.adpcmBits, 2, 5);
  volume_ = options.volume;
  offset_ = options.offset;
  running_ = false;
  return true;
}

uint32_t AudioStore::OutputChannels() const {
  return ((flags_ & kFlagForceMono) != 0 || info_.channels == 1) ? 1 : 2;
}

bool AudioStore::SetRange(uint32_t startMs, uint32_t durationMs) {
  if (!active_) return true;
  if (!reader_) return false;
  const uint32_t trackMs = info_.durationMs;
  if (startMs > trackMs) startMs = trackMs > 0 ? trackMs - 1 : 0;
  if (static_cast<double>(startMs) + static_cast<double>(durationMs) > trackMs) {
    durationMs = trackMs - startMs;
  }
  rangeStartMs_ = startMs;
  rangeDurationMs_ = durationMs;
  firstFrame_ = reader_->TimeToFrame(startMs);
  const uint32_t lastFrame = reader_->TimeToFrame(startMs + durationMs);
  frameCount_ = std::min(lastFrame - firstFrame_ + 1, info_.totalFrames);
  pos_ = firstFrame_;
  end_ = static_cast<uint32_t>(
      std::min<uint64_t>(static_cast<uint64_t>(firstFrame_) + frameCount_, UINT32_MAX));

  // Offsets beyond what 32 bits hold are meaningless; clamping keeps the conversion defined.
  const double offset = std::clamp(static_cast<double>(offset_), -2.0e9, 2.0e9);
  offsetMs_ = static_cast<int32_t>(offset);
  const double lead =
      info_.microsecondsPerFrame > 0.0 ? offset * 1000.0 / info_.microsecondsPerFrame : 0.0;
  leadFrames_ = static_cast<int32_t>(std::clamp(lead, -2.0e9, 2.0e9));
  return true;
}

bool AudioStore::SetPosition(uint32_t first, uint32_t count) {
  if (!reader_) return false;
  pos_ = first;
  end_ =
      static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(first) + count, UINT32_MAX));
  int64_t start = 0;
  if (!(leadFrames_ > 0 && static_cast<int64_t>(first) <= leadFrames_)) {
    start = static_cast<int64_t>(first) - leadFrames_;
  }
  start = std::clamp<int64_t>(start, 0, UINT32_MAX);
  return reader_->Seek(static_cast<uint32_t>(start));
}

int32_t AudioStore::ReadSamples(uint32_t want, ByteBuffer& buffer) {
  if (!reader_ || pos_ >= end_) return 0;
  want = std::min(want, end_ - pos_);
  want = std::min<uint32_t>(want, INT32_MAX / 4);
  if (want == 0) return 0;
  raw_.Clear();
  uint32_t got = 0;
  const uint32_t rawFrameBytes = static_cast<uint32_t>(info_.channels) * (info_.bitsPerSample / 8);
  if (leadFrames_ > 0 && pos_ < static_cast<uint32_t>(leadFrames_)) {
    const uint32_t n = std::min(static_cast<uint32_t>(leadFrames_) - pos_, want);
    const uint32_t bytes = n * rawFrameBytes;
    uint8_t* p = raw_.Reserve(bytes);
    if (p != nullptr) {
      std::memset(p, info_.bitsPerSample == 8 ? 0x80 : 0x00, bytes);
      raw_.Skip(bytes);
      want -= n;
      got = n;
    }
  }
  if (want > 0) {
    const int32_t read = reader_->Read(want, raw_);
    // A failed read is a failure even after lead silence: converting what is there would
    // drop the error and shift the sound.
    if (read < 0) {
      lastError = kAudioReadError;
      return -1;
    }
    got += static_cast<uint32_t>(read);
  }
  if (got == 0) return 0;
  // Only frames actually in the raw buffer are converted (a buffer that could not grow holds
  // fewer).
  got = std::min(got, raw_.Size() / rawFrameBytes);
  pos_ += got;
  ConvertRaw(got, buffer);
  return static_cast<int32_t>(got);
}

void AudioStore::ConvertRaw(uint32_t frames, ByteBuffer& buffer) const {
  const uint32_t outChannels = OutputChannels();
  const uint32_t bytes = frames * outChannels * 2;
  uint8_t* dst = buffer.Reserve(bytes);
  if (dst == nullptr) return;
  int16_t* out = reinterpret_cast<int16_t*>(dst);
  const uint8_t* src = raw_.Data();
  const bool stereoIn = info_.channels == 2;
  if (info_.bitsPerSample == 8) {
    for (uint32_t i = 0; i < frames; ++i) {
      if (!stereoIn) {
        *out++ = static_cast<int16_t>((src[i] - 128) * 256);
      } else if (outChannels == 2) {
        *out++ = static_cast<int16_t>((src[2 * i] - 128) * 256);
        *out++ = static_cast<int16_t>((src[2 * i + 1] - 128) * 256);
      } else {
        *out++ = static_cast<int16_t>((src[2 * i] + src[2 * i + 1] - 256) * 128);
      }
    }
  } else {
    const int16_t* s = reinterpret_cast<const int16_t*>(src);
    if (!stereoIn || outChannels == 2) {
      std::memcpy(out, s, bytes);
    } else {
      for (uint32_t i = 0; i < frames; ++i) {
        out[i] = static_cast<int16_t>((s[2 * i] + s[2 * i + 1]) >> 1);
      }
    }
  }
  if (volume_ != 100.0f) {
    const float factor = volume_ * 0.01f;
    int16_t* v = reinterpret_cast<int16_t*>(dst);
    const uint32_t samples = frames * outChannels;
    for (uint32_t i = 0; i < samples; ++i) v[i] = ClampSample(static_cast<float>(v[i]) * factor);
  }
  buffer.Skip(bytes);
}

bool AudioStore::StartADPCM() {
  if (!SetPosition(firstFrame_, frameCount_)) return false;
  pcm_.Clear();
  resampled_.Clear();
  adpcm_.Reset();
  running_ = true;
  return true;
}

void AudioStore::StopADPCM() {
  if (!running_) return;
  pcm_.Free();
  resampled_.Free();
  running_ = false;
}

int32_t AudioStore::EncodeFrameADPCM(uint32_t n, ByteBuffer& bitBuffer, uint32_t& produced) {
  produced = 0;
  if (!active_ || !running_ || !reader_) return 0;
  if (pos_ >= end_ || n == 0) return 0;
  const uint32_t channels = OutputChannels();
  adpcm_.Reset();
  bitBuffer.Clear();

  const uint32_t sourceFrames = static_cast<uint32_t>(
      std::floor(static_cast<double>(info_.sampleRate) * n / static_cast<double>(rate_)));
  pcm_.Clear();
  uint32_t read = 0;
  while (read < sourceFrames) {
    const int32_t got = ReadSamples(sourceFrames - read, pcm_);
    if (got < 0) {
      active_ = false;
      return -1;
    }
    if (got == 0) break;
    read += static_cast<uint32_t>(got);
  }
  if (read == 0) return 0;
  read = std::min(read, pcm_.Size() / (2 * channels));

  resampled_.Clear();
  uint32_t made = Resample(reinterpret_cast<const int16_t*>(pcm_.Data()), read, channels,
                           info_.sampleRate, resampled_, rate_, static_cast<int32_t>(n));
  if (made < n) {
    const uint32_t pad = (n - made) * channels * 2;
    uint8_t* p = resampled_.Reserve(pad);
    if (p != nullptr) {
      std::memset(p, 0, pad);
      resampled_.Skip(pad);
    }
  }
  const uint32_t frames = std::min(n, resampled_.Size() / (2 * channels));
  adpcm_.EncodeADPCMBlock(reinterpret_cast<const int16_t*>(resampled_.Data()), frames, channels,
                          adpcmBits_, bitBuffer);
  bitBuffer.FlushBits();
  produced = frames;
  return static_cast<int32_t>(bitBuffer.Size());
}

uint32_t AudioStore::Resample(const int16_t* src, uint32_t count, uint32_t channels,
                              uint32_t inRate, ByteBuffer& out, uint32_t outRate, int32_t wanted) {
  if (count == 0 || channels == 0) return 0;
  if (inRate == outRate || inRate == 0 || outRate == 0) {
    out.Append(src, count * channels * 2);
    return count;
  }
  const double ratio = static_cast<double>(outRate) / static_cast<double>(inRate);

  // Every channel yields the same number of frames; count them first so that the output
  // can be reserved once and written with a stride.
  uint32_t result = 0;
  if (ratio >= 1.0) {
    double acc = 0.0;
    uint32_t made = 0;
    for (uint32_t i = 0; i < count; ++i) {
      acc += ratio;
      const uint32_t k = static_cast<uint32_t>(std::floor(acc)) - made;
      made += k;
    }
    result = made;
  } else {
    const double inv = 1.0 / ratio;
    double acc = 0.0;
    uint32_t used = 0;
    while (used < count) {
      acc += inv;
      const uint32_t u = static_cast<uint32_t>(std::min<double>(std::floor(acc), count));
      used = std::max(used, u);
      ++result;
    }
  }
  if (result == 0) return 0;
  const uint32_t reserveFrames = result + 1;
  uint8_t* base = out.Reserve(reserveFrames * channels * 2);
  if (base == nullptr) return 0;
  int16_t* dst = reinterpret_cast<int16_t*>(base);

  for (uint32_t c = 0; c < channels; ++c) {
    int16_t* o = dst + c;
    if (ratio >= 1.0) {
      double acc = 0.0;
      uint32_t made = 0;
      for (uint32_t i = 0; i < count; ++i) {
        acc += ratio;
        const uint32_t k = static_cast<uint32_t>(std::floor(acc)) - made;
        if (k == 0) continue;
        const int32_t cur = src[static_cast<size_t>(i) * channels + c];
        const int32_t next = i + 1 < count ? src[static_cast<size_t>(i + 1) * channels + c] : cur;
        const int32_t step = (next - cur) / static_cast<int32_t>(k);
        int16_t v = static_cast<int16_t>(cur);
        for (uint32_t j = 0; j < k; ++j) {
          *o = v;
          o += channels;
          v = static_cast<int16_t>(v + step);
        }
        made += k;
      }
    } else {
      const double inv = 1.0 / ratio;
      double acc = 0.0;
      uint32_t used = 0;
      while (used < count) {
        acc += inv;
        const uint32_t u = static_cast<uint32_t>(std::min<double>(std::floor(acc), count));
        const uint32_t k = u > used ? u - used : 0;
        int32_t mean = 0;
        if (k > 0) {
          int64_t sum = 0;
          for (uint32_t j = used; j < u; ++j) sum += src[static_cast<size_t>(j) * channels + c];
          mean = static_cast<int32_t>(sum / static_cast<int64_t>(k));
        }
        *o = static_cast<int16_t>(mean);
        o += channels;
        used += k;
      }
    }
  }

  if (wanted >= 0 && result > 1) {
    if (static_cast<uint32_t>(wanted) == result + 1) {
      std::memcpy(dst + static_cast<size_t>(result) * channels,
                  dst + static_cast<size_t>(result - 1) * channels, channels * 2);
      ++result;
    } else if (static_cast<uint32_t>(wanted) == result - 1) {
      --result;
    }
  }
  out.Skip(result * channels * 2);
  return result;
}

void AudioStore::Close() {
  DestroyReader();
  raw_.Free();
  pcm_.Free();
  resampled_.Free();
  opened_ = false;
  active_ = false;
  running_ = false;
  UnloadMP3Encoder();
}

}  // namespace quillon
