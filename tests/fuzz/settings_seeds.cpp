// Writes the writer's own output as seeds of the settings fuzzer: the defaults, and records
// that reach the written forms the defaults do not (variables, texts, every enumeration's
// empty value, direction sets, a wide colour, negative and large numbers).
#include <cstdio>
#include <string>

#include "seed_files.h"
#include "settings/encoder_settings.h"
#include "settings/settings_file.h"

namespace {

bool Write(const std::string& path, const quillon::EncoderSettings& s) {
  return quillon::SaveSettingsFile(path, s);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = quillon::fuzzing::CorpusFolder(argc, argv);
  if (dir.empty()) return 2;
  using quillon::TransportOptions;
  quillon::EncoderSettings varied;
  quillon::FrameOptions& f = varied.frame;
  f.fps = 12.5;
  f.resize = -320.0f;
  f.flags |=
      quillon::FrameOptions::kUniformSpanHorizontal | quillon::FrameOptions::kUniformSpanVertical;
  f.smoothCycles = 4000000000u;
  f.signature[1] = {1e10, -2.5, 0.001, 99.999999};
  varied.audio.flags = quillon::AudioOptions::kForceMono | quillon::AudioOptions::kMp3Abr;
  varied.audio.rate = -5;
  varied.audio.offset = -250.75f;
  varied.match.searchedFrames = -3;
  varied.match.limit = 3.4e38f;
  TransportOptions& t = varied.transport;
  t.description = "Description: with = and : inside";
  t.backColor = 0xFFFFFFFFu;
  t.flags = TransportOptions::kZlib8 | TransportOptions::kResizeVertical |
            TransportOptions::kTransientResizeHorizontal;
  t.playerQuality = quillon::PlayerQuality::kNone;
  quillon::SetPlayerLinkType(t, quillon::PlayerLinkType::kGetUrl);
  quillon::SetPlayerEndType(t, quillon::PlayerEndType::kLoopBegin);
  t.playerLink = "http://example.org/a?b=c";
  t.playerLinkTarget = "_blank";
  t.playerEndLink = "next.swf";
  t.playerLoader = "C:\\loaders\\bar.swf";
  t.playerVar = std::string("name,value\n\nx,=1\n");

  quillon::EncoderSettings medium;
  medium.transport.playerQuality = quillon::PlayerQuality::kMedium;
  quillon::SetPlayerEndType(medium.transport, quillon::PlayerEndType::kStop2);
  medium.transport.playerVar = std::string("\n");

  const bool ok = Write(dir + "defaults.settings", quillon::EncoderSettings{}) &&
                  Write(dir + "varied.settings", varied) && Write(dir + "medium.settings", medium);
  return ok ? 0 : 1;
}
