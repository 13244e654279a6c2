#include "app/encode_checks.h"

#include <algorithm>

namespace quillon {

uint32_t AudioBitRate(const AudioOptions& audio, bool hasSound, uint32_t channels) {
  if (!hasSound) return 0;
  if ((audio.flags & AudioOptions::kCompressionMp3) != 0) {
    return static_cast<uint32_t>(std::max(audio.mp3kbps, 0)) * 1000u;
  }
  const uint32_t used = (audio.flags & AudioOptions::kForceMono) != 0 ? 1u : channels;
  const uint64_t rate = static_cast<uint64_t>(audio.adpcmBits) *
                        static_cast<uint64_t>(std::max(audio.rate, 0)) * used;
  return static_cast<uint32_t>(std::min<uint64_t>(rate, UINT32_MAX));
}

bool AudioExceedsBitRateLimit(const EncoderSettings& settings, bool hasSound, uint32_t channels) {
  const uint32_t limit = settings.transport.bitrateLimit;
  if (limit == 0 || (settings.audio.flags & AudioOptions::kProcess) == 0) return false;
  return limit < AudioBitRate(settings.audio, hasSound, channels);
}

bool NeedsMultiPartQuestion(uint32_t playerFrames, uint32_t partSizeLimit) {
  return playerFrames >= kPlayerFrameLimit && partSizeLimit == 0;
}

double SinglePartFps(uint32_t selectionDurationMs) {
  if (selectionDurationMs == 0) return 0.0;
  const double fps = kPlayerFrameLimit / (selectionDurationMs / 1000.0);
  return fps > 0.1 ? fps - 0.1 : fps;
}

QString MultiPartQuestionText(uint32_t selectionDurationMs) {
  return QString::asprintf(
      "The selection you want to encode contains more than %u frames, which is a limit of the "
      "current Flash player.\nTo solve this problem, Quillon Video Encoder will automatically "
      "split the movie in two or more auto-loading parts.\nIf you don't want automatic part "
      "splitting, decrease the Frame Rate (or the Player Frame Rate if higher) \nto about %.1f "
      "FPS, which will allow you to encode the current selection into a single part.\n\nWould "
      "you like to continue and encode into several parts?",
      kPlayerFrameLimit, SinglePartFps(selectionDurationMs));
}

}  // namespace quillon
