// libFuzzer target: the MP3 reading of the sound stream, over arbitrary "encoded" bytes handed
// out in chunks by a stand-in encoder. Besides the sanitizers' checks: every SoundStreamBlock
// holds whole frames whose headers measure exactly the block, its sample count is theirs, and
// the frames are the input's own bytes in input order, so no reported frame length ever
// reached past the data the stream was given. The frame header parser also runs on every
// 4-byte window of the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/audio_store.h"
#include "audio_store_feed.h"
#include "settings/encoder_settings.h"
#include "swf/swf_writer.h"
#include "swf/transport/sound_stream.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The largest Layer III frame the header can describe (MPEG-1, 320 kbit/s, 32000 Hz, padded).
constexpr uint32_t kLargestFrame = 144 * 320000 / 32000 + 1;

void CheckHeaders(const uint8_t* data, std::size_t size) {
  for (std::size_t at = 0; at + 4 <= size; ++at) {
    quillon::Mp3FrameHeader h;
    if (quillon::ParseMp3FrameHeader(data + at, h) != quillon::Mp3HeaderKind::kFrame) continue;
    Check(h.frameBytes > 4 && h.frameBytes <= kLargestFrame);
    Check(h.samplesPerFrame == (h.mpeg1 ? 1152u : 576u));
  }
}

// Walks the tags the stream wrote; `cursor` follows the input past each frame found in it.
void CheckOutput(const uint8_t* out, std::size_t size, const uint8_t* mp3, std::size_t mp3Size) {
  std::size_t at = 0;
  std::size_t cursor = 0;
  while (at < size) {
    Check(size - at >= 2);
    const uint16_t header = static_cast<uint16_t>(out[at] | out[at + 1] << 8);
    at += 2;
    std::size_t length = header & 0x3F;
    if (length == 0x3F) {
      Check(size - at >= 4);
      length = out[at] | out[at + 1] << 8 | out[at + 2] << 16 | std::size_t{out[at + 3]} << 24;
      at += 4;
    }
    Check(length <= size - at);
    const uint16_t code = header >> 6;
    const uint8_t* body = out + at;
    at += length;
    if (code == static_cast<uint16_t>(quillon::TagCode::kSoundStreamHead2)) {
      Check(length == 6 && (body[1] >> 4) == 2);  // MP3, LatencySeek included
      continue;
    }
    Check(code == static_cast<uint16_t>(quillon::TagCode::kSoundStreamBlock) && length >= 4);
    uint32_t samples = 0;
    std::size_t p = 4;
    while (p < length) {
      Check(length - p >= 4);
      quillon::Mp3FrameHeader h;
      Check(quillon::ParseMp3FrameHeader(body + p, h) == quillon::Mp3HeaderKind::kFrame);
      Check(h.frameBytes <= length - p);
      const uint8_t* found =
          std::search(mp3 + cursor, mp3 + mp3Size, body + p, body + p + h.frameBytes);
      Check(found != mp3 + mp3Size);
      cursor = static_cast<std::size_t>(found - mp3) + h.frameBytes;
      samples += h.samplesPerFrame;
      p += h.frameBytes;
    }
    Check((body[0] | body[1] << 8) == std::min<uint32_t>(samples, 65535));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const double fps = in.ConsumeIntegralInRange<int>(1, 1200) / 10.0;
  quillon::Mp3Feed feed;
  feed.chunk = in.ConsumeIntegralInRange<std::size_t>(1, 5000);
  feed.failAtCall = in.ConsumeIntegralInRange<int>(-1, 30);
  feed.startFails = in.ConsumeIntegralInRange<int>(0, 63) == 0;
  // Per SWF frame: bit 0 pushes the frame's block out of a full part into the next one. Bit 1
  // of the first frame's: the stand-in encoder runs ahead on a thread of its own.
  const std::vector<uint8_t> actions =
      in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 32));
  const std::vector<uint8_t> mp3 = in.ConsumeRemainingBytes<uint8_t>();
  feed.data = mp3.data();
  feed.size = mp3.size();
  CheckHeaders(mp3.data(), mp3.size());

  quillon::AudioOptions options;  // MP3
  quillon::AudioStore audio(nullptr);
  if (!audio.Setup(options)) return 0;
  quillon::SetMp3Feed(feed);
  quillon::SwfWriter writer;
  if (!writer.Open()) return 0;
  quillon::SoundStream sound;
  sound.Initialise(&audio, fps);
  sound.SetEncodeAhead(!actions.empty() && (actions[0] & 2) != 0);
  if (!sound.StartSound()) {
    Check(!sound.IsActive());
    return 0;
  }
  sound.StartPart();
  for (std::size_t frame = 0; frame < 4000 && (sound.IsActive() || sound.HasCarriedBlock());
       ++frame) {
    const uint32_t from = writer.Output()->Cursor();
    uint32_t bytes = 0;
    if (!sound.WriteSoundBlock(writer, bytes)) break;  // fails the run, which stops the sound
    Check(bytes == writer.Output()->Cursor() - from);
    const bool carry = frame < actions.size() && (actions[frame] & 1) != 0;
    if (carry && bytes > 0) {
      sound.CarryBlock(writer, from);
      Check(writer.Output()->Cursor() == from);
      sound.StartPart();
    }
  }
  sound.StopSound();
  CheckOutput(writer.Output()->Data(), writer.Output()->Cursor(), mp3.data(), mp3.size());
  return 0;
}
