#include "sound_swf_writer.h"

#include <cmath>
#include <cstdio>

#include "audio/audio_store.h"
#include "swf/swf_writer.h"
#include "swf/transport/sound_stream.h"

namespace quillon::testing {

bool WriteSoundOnlySwf(const SoundSwfRequest& request, SoundSwfResult& result, std::string& error) {
  AudioStore audio;
  if (!audio.Open(request.input)) {
    error = "open: " + audio.lastError;
    return false;
  }
  AudioOptions options = request.audio;
  if (!audio.Setup(options)) {
    error = "setup refused";
    return false;
  }
  result.mp3 = audio.IsMP3();
  if (!audio.SetRange(request.startMs, request.durationMs)) {
    error = "range: " + audio.lastError;
    return false;
  }
  uint32_t start = request.startMs;
  if (start > audio.DurationMs()) start = audio.DurationMs() - 1;
  const double duration = std::min<double>(request.durationMs, audio.DurationMs() - start);
  result.selectionMs = static_cast<uint32_t>(duration);
  result.frames = static_cast<uint32_t>(std::ceil(duration * request.fps / 1000.0));

  SwfWriter writer;
  if (!writer.Open()) {
    error = "writer";
    return false;
  }
  writer.WriteFileHeader(kSwfVersion, SwfRect{0, 8000, 0, 6000}, request.fps);
  writer.WriteSetBackgroundColor(0xFFFFFF);

  SoundStream sound;
  sound.Initialise(&audio, request.fps);
  if (!sound.StartSound()) {
    error = "start sound: " + audio.lastError;
    return false;
  }
  sound.StartPart();
  for (uint32_t f = 0; f < result.frames; ++f) {
    const uint32_t p0 = writer.Cursor();
    uint32_t bytes = 0;
    if (!sound.WriteSoundBlock(writer, bytes)) {
      sound.StopSound();
      error = "sound block of frame " + std::to_string(f) + ": " + audio.lastError;
      return false;
    }
    writer.WriteShowFrame();
    writer.Compact(p0, writer.Cursor());
  }
  sound.StopSound();
  writer.WriteEnd();
  writer.FinishPart(result.frames);
  if (writer.OutputFailed()) {
    error = "output lost bytes";
    return false;
  }
  std::FILE* f = std::fopen(request.output.c_str(), "wb");
  if (f == nullptr) {
    error = "cannot create " + request.output;
    return false;
  }
  const size_t n = writer.Output()->Cursor();
  const bool ok = std::fwrite(writer.Output()->Data(), 1, n, f) == n;
  return std::fclose(f) == 0 && ok;
}

}  // namespace quillon::testing
