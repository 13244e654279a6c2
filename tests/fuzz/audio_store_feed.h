// The sound stream fuzzer's stand-in for the AudioStore's MP3 encoder: the "encoded" MP3 data
// is the fuzz input, handed out in chunks as the encoder would, with an optional failure.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon {

struct Mp3Feed {
  const uint8_t* data = nullptr;
  std::size_t size = 0;
  std::size_t chunk = 1;  // bytes the encoder produces at a time (> 0)
  int failAtCall = -1;    // EncodeMP3 call (from 0) that fails; -1 never
  bool startFails = false;
};

// Set before StartSound; the stand-in hands out feed.data in order.
void SetMp3Feed(const Mp3Feed& feed);

}  // namespace quillon
