// Test driver: a sound-only SWF movie (header, the sound stream's head and blocks, one
// ShowFrame per frame, End) from a sound file, written with the engine's own writer, sound
// stream and audio store - the shape of movie a streaming-sound reader expects.
#pragma once

#include <cstdint>
#include <string>

#include "settings/encoder_settings.h"

namespace quillon::testing {

struct SoundSwfRequest {
  std::string input;
  std::string output;
  AudioOptions audio;
  double fps = 12.0;
  uint32_t startMs = 0;
  uint32_t durationMs = 0xFFFFFFFFu;
};

struct SoundSwfResult {
  uint32_t frames = 0;       // SWF frames written
  uint32_t selectionMs = 0;  // the selection after clamping to the track
  bool mp3 = false;          // the stream's kind after any MP3 fallback
};

// False with error set when any stage fails.
bool WriteSoundOnlySwf(const SoundSwfRequest& request, SoundSwfResult& result, std::string& error);

}  // namespace quillon::testing
