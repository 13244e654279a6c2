// Encodes synthetic clips through the whole Transport into one folder per scenario, for the
// independent whole-file checks (and anything else that wants real part files quickly).
// Usage: transport_clip_writer <output folder>
#include <cstdio>
#include <filesystem>
#include <string>

#include "transport/synthetic_clip.h"

namespace {

using quillon::PlayerEndType;
using quillon::TransportOptions;
using quillon::testing::ClipPattern;
using quillon::testing::ClipSpec;
using quillon::testing::TransportRig;

struct Scenario {
  const char* name;
  ClipSpec clip;
  uint32_t partSizeLimit;
  uint32_t bitrateLimit;
  bool zlib8;
  bool link;
};

bool Write(const std::string& root, const Scenario& s, std::FILE* manifest, bool first) {
  TransportRig rig;
  TransportOptions& o = rig.settings.transport;
  o.partSizeLimit = s.partSizeLimit;
  o.bitrateLimit = s.bitrateLimit;
  if (s.zlib8) o.flags |= TransportOptions::kZlib8;
  if (s.link) {
    quillon::SetPlayerLinkType(o, quillon::PlayerLinkType::kGetUrl);
    o.playerLink = "http://example.org/";
  }
  quillon::SetPlayerEndType(o, PlayerEndType::kLoop);
  const std::string dir = root + "/" + s.name + "/";
  std::filesystem::create_directories(dir);
  if (!rig.Prepare(s.clip) || !rig.Run(dir)) {
    std::fprintf(stderr, "%s: %s\n", s.name, rig.error.c_str());
    return false;
  }
  std::fprintf(manifest,
               "%s{\"name\": \"%s\", \"parts\": %u, \"frames\": %u, \"partSizeLimit\": %u, "
               "\"width\": %u, \"height\": %u}",
               first ? "" : ",\n  ", s.name, rig.transport->PartCount(),
               rig.transport->FrameCount(), s.partSizeLimit, s.clip.width, s.clip.height);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const std::string root = argv[1];
  std::filesystem::create_directories(root);
  const Scenario scenarios[] = {
      {"moving", ClipSpec{.width = 96, .height = 64, .frames = 24, .sound = true}, 0, 0, true,
       true},
      {"noise",
       ClipSpec{
           .width = 64, .height = 48, .frames = 16, .pattern = ClipPattern::kNoise, .sound = true},
       0, 0, false, false},
      {"parts",
       ClipSpec{
           .width = 64, .height = 48, .frames = 30, .pattern = ClipPattern::kNoise, .sound = true},
       7000, 0, false, true},
      {"bitrate", ClipSpec{.width = 64, .height = 48, .frames = 24, .pattern = ClipPattern::kNoise},
       0, 8 * 6000, false, false},
  };
  std::FILE* manifest = std::fopen((root + "/manifest.json").c_str(), "w");
  if (manifest == nullptr) return 1;
  std::fprintf(manifest, "[\n  ");
  bool ok = true;
  bool first = true;
  for (const Scenario& s : scenarios) {
    ok = Write(root, s, manifest, first) && ok;
    first = false;
  }
  std::fprintf(manifest, "\n]\n");
  std::fclose(manifest);
  return ok ? 0 : 1;
}
