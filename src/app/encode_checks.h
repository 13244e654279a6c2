// The checks the window makes before it starts an encoding: a sound track that alone exceeds
// the bit-rate limit, and a selection too long for one part of the player.
#pragma once

#include <QString>
#include <cstdint>

#include "settings/encoder_settings.h"

namespace quillon {

// The player's frame limit: a selection with more frames needs several parts.
inline constexpr uint32_t kPlayerFrameLimit = 16000;

// Bits per second the sound track adds: 0 without sound, the MP3 rate, or ADPCM bits x rate x
// channels (one channel when stereo is mixed down).
uint32_t AudioBitRate(const AudioOptions& audio, bool hasSound, uint32_t channels);
// True when a bit-rate limit is set, sound is encoded and the sound alone needs more.
bool AudioExceedsBitRateLimit(const EncoderSettings& settings, bool hasSound, uint32_t channels);

// True when the selection has too many player frames and no part size limit splits it anyway.
bool NeedsMultiPartQuestion(uint32_t playerFrames, uint32_t partSizeLimit);
// The frame rate that would fit the selection into one part (shown to one decimal).
double SinglePartFps(uint32_t selectionDurationMs);
QString MultiPartQuestionText(uint32_t selectionDurationMs);

}  // namespace quillon
