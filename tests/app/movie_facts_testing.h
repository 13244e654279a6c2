// The movie the settings page tests bind to: 320 x 240, stereo sound unless told otherwise.
#pragma once

#include "app/movie_facts.h"

namespace quillon {

inline MovieFacts TestMovie(double fps = 25.0, bool sound = true, bool mp3 = true) {
  MovieFacts facts;
  facts.open = true;
  facts.fps = fps;
  facts.width = 320;
  facts.height = 240;
  facts.hasSound = sound;
  facts.channels = 2;
  facts.sampleRate = 44100;
  facts.mp3Available = mp3;
  return facts;
}

}  // namespace quillon
