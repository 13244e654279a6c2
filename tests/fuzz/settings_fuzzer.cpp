// libFuzzer target: the settings reader over arbitrary text, and the writer over what it read.
// Beyond the sanitizers' checks: the file and memory readers agree, every real is finite, every
// text fits its field, and a save of the loaded settings loads back to the same settings (the
// writer's text is a fixed point: writing what was read from it gives the same text again).
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "settings/encoder_settings.h"
#include "settings/settings_file.h"

namespace {

using quillon::EncoderSettings;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Reals are dumped as the writer prints them, so a value that the "%f" rounding moved compares
// equal to its original; every other field is dumped exactly.
class Dump {
 public:
  Dump& Real(double v) {
    Check(std::isfinite(v));
    char text[400];
    std::snprintf(text, sizeof text, "%f;", v);
    out_ += text;
    return *this;
  }
  Dump& Int(long long v) {
    out_ += std::to_string(v) + ';';
    return *this;
  }
  Dump& Text(const std::string& v) {
    out_ += std::to_string(v.size()) + ':' + v + ';';
    return *this;
  }
  Dump& Signature(const quillon::LimitSignature& s) {
    return Real(s.low).Real(s.high).Real(s.knee).Real(s.mid);
  }
  const std::string& Out() const { return out_; }

 private:
  std::string out_;
};

// Every field the reader can set; the working values are left out (the reader never sets them).
std::string DumpSettings(const EncoderSettings& s) {
  const quillon::FrameOptions& f = s.frame;
  const quillon::AudioOptions& a = s.audio;
  const quillon::MatchOptions& m = s.match;
  const quillon::TransportOptions& t = s.transport;
  Dump d;
  d.Int(f.flags).Real(f.fps).Int(f.resizeMethod).Real(f.resize).Real(f.uniformSpanLimit);
  d.Int(f.uniformSpanSize).Real(f.uniformBlockLimit).Int(f.uniformBlockSize).Real(f.darken);
  d.Real(f.darkLimit).Int(f.lightQuantize).Int(f.chromaQuantize).Real(f.smooth);
  d.Int(f.smoothCycles).Int(f.cacheSize).Signature(f.signature[0]).Signature(f.signature[1]);
  d.Int(a.flags).Int(a.rate).Int(a.mp3kbps).Int(a.adpcmBits).Real(a.volume).Real(a.offset);
  d.Int(m.flags).Int(m.searchedFrames).Real(m.blockWidth).Real(m.blockHeight).Real(m.limit);
  d.Real(m.plainBound).Real(m.useLimit).Int(m.nearbyGrain).Int(m.nearbyDisplacement);
  d.Signature(m.signature);
  d.Int(t.flags).Int(t.jpegQuality).Int(t.zlibQuality).Real(t.zlib8PaletteDiffLimit);
  d.Int(t.zlib8Palette).Int(t.zlib8UniqueLimit).Int(t.backColor).Real(t.backWidth);
  d.Real(t.backHeight).Real(t.resizeLimit).Int(t.resizeMethod).Real(t.transientResizeLimit);
  d.Int(t.transientResizeMethod).Int(t.partSizeLimit).Int(t.bitrateLimit).Real(t.playerFps);
  d.Int(static_cast<int>(t.playerQuality)).Real(t.playerBlockLimbo).Int(t.playerFlags);
  d.Text(t.playerLink).Text(t.playerLinkTarget).Text(t.playerEndLink);
  d.Text(t.playerEndLinkTarget).Text(t.playerLoader).Text(t.description);
  d.Int(t.playerVar.has_value()).Text(t.playerVar.value_or(std::string()));
  d.Signature(t.signature[0]).Signature(t.signature[1]);
  return d.Out();
}

// The writer turns a line break inside a one-line text into a blank (a variables text keeps
// its lines, one key each).
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

void CheckLimits(const quillon::TransportOptions& t) {
  Check(t.playerLink.size() <= quillon::kLinkMaxLength);
  Check(t.playerEndLink.size() <= quillon::kLinkMaxLength);
  Check(t.playerLinkTarget.size() <= quillon::kLinkTargetMaxLength);
  Check(t.playerEndLinkTarget.size() <= quillon::kLinkTargetMaxLength);
  Check(t.playerLoader.size() <= quillon::kLoaderMaxLength);
  Check(t.description.size() <= quillon::kDescriptionMaxLength);
  // A variables buffer that exists after a read holds whole lines.
  Check(!t.playerVar || (!t.playerVar->empty() && t.playerVar->back() == '\n'));
}

std::string Format(const EncoderSettings& s) {
  return quillon::FormatSettingsText(&s.frame, &s.audio, &s.match, &s.transport);
}

void Parse(const std::string& text, EncoderSettings& s) {
  quillon::ParseSettingsText(text, &s.frame, &s.audio, &s.match, &s.transport);
}

// The file reader runs on the same bytes through a memory file, so nothing touches the disk.
bool LoadThroughFile(const uint8_t* data, std::size_t size, EncoderSettings& s) {
  static const int fd = memfd_create("settings_fuzz", 0);
  if (fd < 0) return false;
  if (ftruncate(fd, 0) != 0) return false;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return quillon::LoadSettingsFile("/proc/self/fd/" + std::to_string(fd), s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  EncoderSettings loaded;
  Parse(text, loaded);
  CheckLimits(loaded.transport);
  const std::string dumped = DumpSettings(loaded);

  EncoderSettings fromFile;
  if (LoadThroughFile(data, size, fromFile)) Check(DumpSettings(fromFile) == dumped);

  // Load -> save -> load: read into a copy of the loaded records (as callers read into records
  // holding defaults), so the keys the writer leaves out keep their values too.
  const std::string saved = Format(loaded);
  EncoderSettings reloaded = loaded;
  Parse(saved, reloaded);
  EncoderSettings expected = loaded;
  quillon::TransportOptions& t = expected.transport;
  for (std::string* field : {&t.playerLink, &t.playerLinkTarget, &t.playerEndLink,
                             &t.playerEndLinkTarget, &t.playerLoader, &t.description}) {
    *field = OneLine(*field);
  }
  Check(DumpSettings(reloaded) == DumpSettings(expected));
  Check(Format(reloaded) == saved);

  // Records left out are neither read nor written; a subset chosen by the input's length.
  const unsigned mask = static_cast<unsigned>(size % 15);
  EncoderSettings part;
  quillon::FrameOptions* frame = (mask & 1) ? &part.frame : nullptr;
  quillon::AudioOptions* audio = (mask & 2) ? &part.audio : nullptr;
  quillon::MatchOptions* match = (mask & 4) ? &part.match : nullptr;
  quillon::TransportOptions* transport = (mask & 8) ? &part.transport : nullptr;
  quillon::ParseSettingsText(text, frame, audio, match, transport);
  (void)quillon::FormatSettingsText(frame, audio, match, transport);
  EncoderSettings others = part;
  if (frame != nullptr) others.frame = {};
  if (audio != nullptr) others.audio = {};
  if (match != nullptr) others.match = {};
  if (transport != nullptr) others.transport = {};
  Check(DumpSettings(others) == DumpSettings(EncoderSettings{}));
  return 0;
}
