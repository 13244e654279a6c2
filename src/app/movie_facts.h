// What the settings pages need to know of the open movie.
#pragma once

#include <cstdint>

namespace quillon {

struct MovieFacts {
  bool open = false;  // false before a movie is open: movie-dependent texts show "..."
  double fps = 0.0;   // source frame rate
  uint32_t width = 0, height = 0;
  bool hasSound = false;  // the audio source opened
  uint32_t channels = 0;
  uint32_t sampleRate = 44100;  // 44100 when there is no sound
  bool mp3Available = false;
};

}  // namespace quillon
