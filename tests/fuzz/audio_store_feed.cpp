// The AudioStore operations the sound stream calls, for the sound stream fuzzer only: MP3 bytes
// come from the fuzz input instead of the encoder library, so the stream's reading of MP3 data
// (frame headers, tags, refills across chunk borders) runs without LAME, FFmpeg or a movie.
#include "audio_store_feed.h"

#include <algorithm>

#include "audio/audio_store.h"
#include "settings/encoder_settings.h"

namespace quillon {

namespace {
Mp3Feed gFeed;
std::size_t gFed = 0;
int gCalls = 0;

void FeedInto(ByteBuffer& out, std::size_t bytes) {
  const std::size_t n = std::min(bytes, gFeed.size - gFed);
  if (n > 0) out.Append(gFeed.data + gFed, static_cast<uint32_t>(n));
  gFed += n;
}
}  // namespace

void SetMp3Feed(const Mp3Feed& feed) {
  gFeed = feed;
  gFed = 0;
  gCalls = 0;
}

AudioStore::AudioStore(std::unique_ptr<Mp3EncoderLibrary> mp3Library)
    : mp3_(std::move(mp3Library)) {}
AudioStore::~AudioStore() = default;

bool AudioStore::Setup(AudioOptions& options) {
  flags_ = options.flags;
  rate_ = static_cast<uint32_t>(options.rate);
  active_ = true;
  return true;
}

bool AudioStore::StartMP3() {
  running_ = !gFeed.startFails;
  return running_;
}

int32_t AudioStore::EncodeMP3(uint32_t minBytes, ByteBuffer& out) {
  if (!active_ || !running_) return 0;
  if (gCalls++ == gFeed.failAtCall) {
    running_ = false;
    active_ = false;
    return -1;
  }
  const uint32_t start = out.Cursor();
  while (out.Cursor() - start < minBytes && gFed < gFeed.size) FeedInto(out, gFeed.chunk);
  return static_cast<int32_t>(out.Cursor());
}

int32_t AudioStore::FinishMP3(ByteBuffer* out) {
  if (!running_) return 0;
  running_ = false;
  if (out == nullptr) return 0;
  FeedInto(*out, gFeed.size);  // the encoder's last frames: whatever is left
  return static_cast<int32_t>(out->Cursor());
}

bool AudioStore::StartADPCM() {
  return false;
}
int32_t AudioStore::EncodeFrameADPCM(uint32_t, ByteBuffer&, uint32_t&) {
  return -1;
}
void AudioStore::StopADPCM() {}
uint32_t AudioStore::OutputChannels() const {
  return 1;
}

}  // namespace quillon
