#include "settings/settings_file.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include <strings.h>
#include <sys/stat.h>

namespace quillon {

namespace {

// ---------------------------------------------------------------- writing

void Append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void Append(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n > 0) {
    const std::size_t old = out.size();
    out.resize(old + static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data() + old, static_cast<std::size_t>(n) + 1, format, args);
    out.resize(old + static_cast<std::size_t>(n));
  }
  va_end(args);
}

// A line break inside a text value would end its line early and turn the rest into keys of
// its own when the file is read back; written as a blank, the value stays on its line.
std::string OneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

const char* YesNo(std::uint32_t flags, std::uint32_t bit) { return (flags & bit) != 0 ? "Yes" : "No"; }

const char* Directions(std::uint32_t flags, std::uint32_t horizontal, std::uint32_t vertical) {
  const bool h = (flags & horizontal) != 0;
  const bool v = (flags & vertical) != 0;
  return h ? (v ? "HV" : "H") : (v ? "V" : "");
}

const char* QualityText(PlayerQuality quality) {
  switch (quality) {
    case PlayerQuality::kLow: return "low";
    case PlayerQuality::kMedium: return "medium (Flash5 only)";
    case PlayerQuality::kHigh: return "high";
    case PlayerQuality::kBest: return "best";
    default: return "";
  }
}

const char* LinkTypeText(PlayerLinkType type) {
  switch (type) {
    case PlayerLinkType::kLoadMovie: return "loadMovie";
    case PlayerLinkType::kGetUrl: return "getUrl";
    default: return "";
  }
}

const char* EndTypeText(PlayerEndType type) {
  switch (type) {
    case PlayerEndType::kUnload: return "unload";
    case PlayerEndType::kStop: return "stop";
    case PlayerEndType::kStop2: return "stop2";
    case PlayerEndType::kLoop: return "loop";
    case PlayerEndType::kLoopBegin: return "loopBegin";
    case PlayerEndType::kLoadMovie: return "loadMovie";
    case PlayerEndType::kGetUrl: return "getUrl";
    default: return "";
  }
}

void AppendFrame(std::string& out, const FrameOptions& f) {
  const auto& s = f.signature;
  Append(out, "#========================================== Frame/Filter Settings\n");
  Append(out, "# Engine signature\nFrame.Signature=%f:%f:%f:%f:%f:%f:%f:%f\n\n", s[0].low, s[0].high,
         s[0].knee, s[0].mid, s[1].low, s[1].high, s[1].knee, s[1].mid);
  Append(out,
         "# Frame rate for generated movie: a positive values means exact FPS to use,\n# a negative "
         "value means (-)percentage of original FPS\nFrame.FPS=%f\n\n",
         f.fps);
  Append(out,
         "# Frame resizing percentage for generated movie: a positive value means\n# scaling "
         "percentage, a negative value means final (-)width\nFrame.Resize=%f\n\n",
         static_cast<double>(f.resize));
  Append(out, "#* Frame image resize method: 0 raw, 1 average\nFrame.ResizeMethod=%u\n\n",
         static_cast<unsigned>(f.resizeMethod));
  Append(out,
         "# Span compression settings:\nFrame.UniformSpan=%s\nFrame.UniformSpanLimit=%f\n"
         "Frame.UniformSpanSize=%u\n\n",
         Directions(f.flags, FrameOptions::kUniformSpanHorizontal, FrameOptions::kUniformSpanVertical),
         static_cast<double>(f.uniformSpanLimit), f.uniformSpanSize);
  Append(out, "# Darken the frames percentage: 0%% means original luminosity\nFrame.Darken=%f\n\n",
         static_cast<double>(f.darken));
  Append(out, "# Percentage of frame smoothing\nFrame.Smooth=%f\n\n", static_cast<double>(f.smooth));
  Append(out, "# Number of smoothing cycles to apply\nFrame.SmoothCycles=%u\n\n", f.smoothCycles);
  Append(out, "\n");
}

void AppendAudio(std::string& out, const AudioOptions& a) {
  Append(out, "#========================================== Audio Settings\n");
  Append(out, "Audio.Process=%s\n\n", YesNo(a.flags, AudioOptions::kProcess));
  Append(out, "# Force mono generation on stereo movies?\nAudio.ForceMono=%s\n\n",
         YesNo(a.flags, AudioOptions::kForceMono));
  Append(out, "# Sampling rate: 5512(ADPCM only), 11025, 22050, 44100hz\nAudio.Rate=%u\n\n",
         static_cast<unsigned>(a.rate));
  Append(out, "# Audio compression type: MP3 or ADPCM\nAudio.Compression=%s\n\n",
         (a.flags & AudioOptions::kCompressionMp3) != 0 ? "MP3" : "ADPCM");
  Append(out,
         "# If MP3, the data rate: 8,16,24,32,40,48,56,64,80,96,112,128,160,192,224,256,320\n# If "
         "using ABR, the average ABR data rate\nAudio.MP3kbps=%u\n\n",
         static_cast<unsigned>(a.mp3kbps));
  Append(out, "# If MP3, enable Average Bit Rate(ABR)?\nAudio.MP3ABR=%s\n\n",
         YesNo(a.flags, AudioOptions::kMp3Abr));
  Append(out, "# If ADPCM, the ADPCM bits per sample: 2, 3, 4, 5\nAudio.ADPCMBits=%u\n\n",
         static_cast<unsigned>(a.adpcmBits));
  Append(out, "# Volume amplification in percentage\nAudio.Volume=%f\n\n", static_cast<double>(a.volume));
  Append(out, "# Audio track offset in respect to video track in milliseconds\nAudio.Offset=%f\n\n",
         static_cast<double>(a.offset));
  Append(out, "\n");
}

void AppendMatch(std::string& out, const MatchOptions& m) {
  const LimitSignature& s = m.signature;
  Append(out, "#========================================== Match Settings\n");
  Append(out, "# Engine signature\nMatch.Signature=%f:%f:%f:%f\n\n", s.low, s.high, s.knee, s.mid);
  Append(out, "# Image quality percentage, 100%% means perfect image\nMatch.Limit=%f\n\n",
         static_cast<double>(m.limit));
  Append(out,
         "#* Number of back frames to match - a larger number will encode slower\n"
         "Match.SearchedFrames=%i\n\n",
         static_cast<int>(m.searchedFrames));
  Append(out, "\n");
}

void AppendVariables(std::string& out, const std::string& variables) {
  Append(out, "# Action Script variables:\n");
  std::size_t begin = 0;
  while (begin < variables.size()) {
    std::size_t end = variables.find('\n', begin);
    if (end == std::string::npos) end = variables.size();
    Append(out, "Transport.Player.Var=%.*s\n", static_cast<int>(end - begin), variables.data() + begin);
    begin = end + 1;
  }
  Append(out, "\n");
}

void AppendTransport(std::string& out, const TransportOptions& t) {
  using T = TransportOptions;
  const auto& s = t.signature;
  Append(out, "#========================================== Transport Settings\n");
  Append(out, "# Engine signature\nTransport.Signature=%f:%f:%f:%f:%f:%f:%f:%f\n\n", s[0].low,
         s[0].high, s[0].knee, s[0].mid, s[1].low, s[1].high, s[1].knee, s[1].mid);
  Append(out, "# Part size limit in bytes - 0 for no limit\nTransport.PartSizeLimit=%u\n\n", t.partSizeLimit);
  Append(out, "# Bitrate limit in bits per second - 0 for no limit\nTransport.BitrateLimit=%u\n\n",
         t.bitrateLimit);
  Append(out, "# Background Color\nTransport.BackColor=#%06x\n\n", t.backColor);
  Append(out, "# JPEG compression settings\nTransport.JPEG=%s\n", YesNo(t.flags, T::kJpeg));
  Append(out, "Transport.JPEGQuality=%u\n\n", static_cast<unsigned>(t.jpegQuality));
  Append(out, "# ZLIB Compression settings\nTransport.ZLIB32=%s\n", YesNo(t.flags, T::kZlib32));
  Append(out, "#* ZLIB 8bit compression settings\nTransport.ZLIB8=%s\n", YesNo(t.flags, T::kZlib8));
  Append(out, "Transport.ZLIB8PaletteDiffLimit=%f\n", static_cast<double>(t.zlib8PaletteDiffLimit));
  Append(out, "Transport.ZLIB8Palette=%u\n", t.zlib8Palette);
  Append(out, "Transport.ZLIB8UniqueLimit=%u\n\n", t.zlib8UniqueLimit);
  Append(out,
         "# Final compression bulldozers:\n# Resize arbitrary blocks, subject to limit\n"
         "Transport.Resize=%s\n",
         Directions(t.flags, T::kResizeHorizontal, T::kResizeVertical));
  Append(out, "Transport.ResizeLimit=%f\n", static_cast<double>(t.resizeLimit));
  Append(out, "Transport.ResizeMethod=%u\n", static_cast<unsigned>(t.resizeMethod));
  Append(out, "# Resize transient blocks, subject to limit\nTransport.TransientResize=%s\n",
         Directions(t.flags, T::kTransientResizeHorizontal, T::kTransientResizeVertical));
  Append(out, "Transport.TransientResizeLimit=%f\n", static_cast<double>(t.transientResizeLimit));
  Append(out, "Transport.TransientResizeMethod=%u\n\n", static_cast<unsigned>(t.transientResizeMethod));
  Append(out, "# Transport player settings\n");
  Append(out,
         "# Player frame rate, must be >= than Frame.FPS, 0 means same as Frame.FPS\n"
         "Transport.Player.FPS=%f\n\n",
         static_cast<double>(t.playerFps));
  Append(out,
         "#* Number of frames a trashed block will remain in memory. A positive value\n# means "
         "number of limbo frames, a negative number means (-)percentage of\n# Match.SearchedFrames\n"
         "Transport.Player.BlockLimbo=%f\n\n",
         static_cast<double>(t.playerBlockLimbo));
  Append(out, "# Player quality: none, low, medium (Flash5 only), high, best\nTransport.Player.Quality=%s\n\n",
         QualityText(t.playerQuality));
  Append(out, "# Player optimize/garbage collect memory\nTransport.Player.OptimizeMemory=%s\n\n",
         YesNo(t.playerFlags, T::kPlayerOptimizeMemory));
  Append(out, "# OnClick player link, possible types: none, loadMovie, getUrl\nTransport.Player.LinkType=%s\n",
         LinkTypeText(GetPlayerLinkType(t)));
  Append(out, "Transport.Player.Link=%s\n", OneLine(t.playerLink).c_str());
  Append(out, "Transport.Player.LinkTarget=%s\n\n", OneLine(t.playerLinkTarget).c_str());
  Append(out,
         "# OnEnd do: nothing, unload, stop, stop2, loop, loopBegin, loadMovie, getUrl\n"
         "Transport.Player.EndType=%s\n",
         EndTypeText(GetPlayerEndType(t)));
  Append(out, "Transport.Player.EndLink=%s\n", OneLine(t.playerEndLink).c_str());
  Append(out, "Transport.Player.EndLinkTarget=%s\n\n", OneLine(t.playerEndLinkTarget).c_str());
  Append(out, "# Include a preloader/overlay\nTransport.Player.Loader=%s\n\n", OneLine(t.playerLoader).c_str());
  if (t.playerVar) AppendVariables(out, *t.playerVar);
  Append(out, "# Misc player settings:\nTransport.Player.DisplayCursor=%s\n",
         YesNo(t.playerFlags, T::kPlayerDisplayCursor));
  Append(out, "Transport.Player.Protect=%s\n\n", YesNo(t.playerFlags, T::kPlayerProtect));
  Append(out, "\n");
}

// ---------------------------------------------------------------- reading

bool IsBlankCode(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlankCode(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankCode(text.back())) text.remove_suffix(1);
  return text;
}

bool Equals(std::string_view a, const char* b) {
  const std::size_t n = std::char_traits<char>::length(b);
  return a.size() == n && strncasecmp(a.data(), b, n) == 0;
}

bool Contains(std::string_view haystack, const char* needle) {
  const std::size_t n = std::char_traits<char>::length(needle);
  if (n > haystack.size()) return false;
  for (std::size_t i = 0; i + n <= haystack.size(); ++i) {
    if (strncasecmp(haystack.data() + i, needle, n) == 0) return true;
  }
  return false;
}

bool ReadBool(std::string_view value) {
  if (value.empty()) return false;
  const char c = value.front();
  return c == '1' || c == 't' || c == 'T' || c == 'y' || c == 'Y';
}

// Leading decimal integer, 0 when there is none; converted to the field's width by the
// caller's cast, as a C integer conversion would.
long long ReadInteger(std::string_view value) {
  const std::string text(value);
  return std::strtoll(text.c_str(), nullptr, 10);
}

// Leading decimal real, 0 when there is none. Infinities and NaN are not numbers a settings
// file can mean and would poison every threshold derived from them.
double ReadReal(std::string_view value) {
  const std::string text(value);
  const double result = std::strtod(text.c_str(), nullptr);
  return std::isfinite(result) ? result : 0.0;
}

// ReadReal for a float field: a finite double beyond the float range would arrive as an
// infinity, which ReadReal keeps out for the same reason.
float ReadFloat(std::string_view value) {
  const double result = ReadReal(value);
  return std::fabs(result) <= std::numeric_limits<float>::max() ? static_cast<float>(result) : 0.0f;
}

template <typename Field>
void StoreInteger(Field& field, std::string_view value) {
  field = static_cast<Field>(ReadInteger(value));
}

void StoreFlag(std::uint32_t& flags, std::uint32_t bit, bool on) {
  flags = on ? (flags | bit) : (flags & ~bit);
}

void StoreDirections(std::uint32_t& flags, std::uint32_t horizontal, std::uint32_t vertical,
                     std::string_view value) {
  StoreFlag(flags, horizontal, Contains(value, "h"));
  StoreFlag(flags, vertical, Contains(value, "v"));
}

// All `count` numbers separated by ":" must be read, else the signature stays as it was.
void StoreSignature(LimitSignature* quads, std::size_t count, std::string_view value) {
  const std::string text(value);
  double numbers[8];
  const char* p = text.c_str();
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) {
      if (*p != ':') return;
      ++p;
    }
    char* end = nullptr;
    numbers[i] = std::strtod(p, &end);
    if (end == p || !std::isfinite(numbers[i])) return;
    p = end;
  }
  for (std::size_t q = 0; q < count / 4; ++q) {
    quads[q] = LimitSignature{numbers[q * 4], numbers[q * 4 + 1], numbers[q * 4 + 2], numbers[q * 4 + 3]};
  }
}

void StoreColour(std::uint32_t& colour, std::string_view value) {
  if (!value.empty() && value.front() == '#') value.remove_prefix(1);
  std::uint64_t result = 0;
  std::size_t digits = 0;
  for (char c : value) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    if (result <= 0xFFFFFFFFull) result = result * 16 + static_cast<unsigned>(d);
    ++digits;
  }
  if (digits == 0) return;
  colour = result > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(result);
}

// Trimmed again after the cut: blanks at the end of a cut value would be trimmed away when a
// saved file is read back, so the value would not survive a save.
void StoreText(std::string& field, std::size_t limit, std::string_view value) {
  field.assign(Trim(value.substr(0, limit)));
}

void ReadFrameKey(FrameOptions& f, std::string_view name, std::string_view value) {
  if (Equals(name, "process")) StoreFlag(f.flags, FrameOptions::kProcess, ReadBool(value));
  else if (Equals(name, "resizemethod")) StoreInteger(f.resizeMethod, value);
  else if (Equals(name, "lightquantize")) StoreInteger(f.lightQuantize, value);
  else if (Equals(name, "chromaquantize")) StoreInteger(f.chromaQuantize, value);
  else if (Equals(name, "uniformspansize")) StoreInteger(f.uniformSpanSize, value);
  else if (Equals(name, "uniformblocksize")) StoreInteger(f.uniformBlockSize, value);
  else if (Equals(name, "smoothcycles")) StoreInteger(f.smoothCycles, value);
  else if (Equals(name, "cachesize")) StoreInteger(f.cacheSize, value);
  else if (Equals(name, "fps")) f.fps = ReadReal(value);
  else if (Equals(name, "smooth")) f.smooth = ReadFloat(value);
  else if (Equals(name, "resize")) f.resize = ReadFloat(value);
  else if (Equals(name, "uniformspanlimit")) f.uniformSpanLimit = ReadFloat(value);
  else if (Equals(name, "uniformblocklimit")) f.uniformBlockLimit = ReadFloat(value);
  else if (Equals(name, "darken")) f.darken = ReadFloat(value);
  else if (Equals(name, "darklimit")) f.darkLimit = ReadFloat(value);
  else if (Equals(name, "signature")) StoreSignature(f.signature.data(), 8, value);
  else if (Equals(name, "uniformspan"))
    StoreDirections(f.flags, FrameOptions::kUniformSpanHorizontal, FrameOptions::kUniformSpanVertical, value);
  else if (Equals(name, "uniformblock"))
    StoreDirections(f.flags, FrameOptions::kUniformBlockHorizontal, FrameOptions::kUniformBlockVertical, value);
}

void ReadAudioKey(AudioOptions& a, std::string_view name, std::string_view value) {
  if (Equals(name, "process")) StoreFlag(a.flags, AudioOptions::kProcess, ReadBool(value));
  else if (Equals(name, "forcemono")) StoreFlag(a.flags, AudioOptions::kForceMono, ReadBool(value));
  else if (Equals(name, "mp3abr")) StoreFlag(a.flags, AudioOptions::kMp3Abr, ReadBool(value));
  else if (Equals(name, "rate")) StoreInteger(a.rate, value);
  else if (Equals(name, "mp3kbps")) StoreInteger(a.mp3kbps, value);
  else if (Equals(name, "adpcmbits")) StoreInteger(a.adpcmBits, value);
  else if (Equals(name, "volume")) a.volume = ReadFloat(value);
  else if (Equals(name, "offset")) a.offset = ReadFloat(value);
  else if (Equals(name, "compression"))
    StoreFlag(a.flags, AudioOptions::kCompressionMp3, Contains(value, "mp3"));
}

void ReadMatchKey(MatchOptions& m, std::string_view name, std::string_view value) {
  if (Equals(name, "image")) StoreFlag(m.flags, MatchOptions::kImage, ReadBool(value));
  else if (Equals(name, "shape")) StoreFlag(m.flags, MatchOptions::kShape, ReadBool(value));
  else if (Equals(name, "coordtransform")) StoreFlag(m.flags, MatchOptions::kCoordTransform, ReadBool(value));
  else if (Equals(name, "nearby")) StoreFlag(m.flags, MatchOptions::kNearby, ReadBool(value));
  else if (Equals(name, "searchedframes")) StoreInteger(m.searchedFrames, value);
  else if (Equals(name, "nearbygrain")) StoreInteger(m.nearbyGrain, value);
  else if (Equals(name, "nearbydisplacement")) StoreInteger(m.nearbyDisplacement, value);
  else if (Equals(name, "uselimit")) m.useLimit = ReadFloat(value);
  else if (Equals(name, "blockwidth")) m.blockWidth = ReadFloat(value);
  else if (Equals(name, "blockheight")) m.blockHeight = ReadFloat(value);
  else if (Equals(name, "limit")) m.limit = ReadFloat(value);
  else if (Equals(name, "plainbound")) m.plainBound = ReadFloat(value);
  else if (Equals(name, "signature")) StoreSignature(&m.signature, 4, value);
  else if (Equals(name, "nearbymethod"))
    StoreFlag(m.flags, MatchOptions::kNearbyMethodLog, Equals(value, "log"));
}

// The word search runs on the value without inner blanks, so that the labels the settings
// pages show ("loop begin") read as the same value as the written spelling ("loopBegin").
std::string WithoutBlanks(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (!IsBlankCode(c)) out.push_back(c);
  }
  return out;
}

PlayerLinkType ReadLinkType(std::string_view v, PlayerLinkType current) {
  if (v.empty() || Contains(v, "nothing") || Contains(v, "none") || Contains(v, "0")) return PlayerLinkType::kNone;
  if (Contains(v, "movie") || Contains(v, "1")) return PlayerLinkType::kLoadMovie;
  if (Contains(v, "url") || Contains(v, "2")) return PlayerLinkType::kGetUrl;
  return current;
}

// The order matters: "stop2" before "stop", "loopbegin" before "loop".
PlayerEndType ReadEndType(std::string_view v, PlayerEndType current) {
  if (v.empty() || Contains(v, "nothing") || Contains(v, "none") || Contains(v, "0")) return PlayerEndType::kNothing;
  if (Contains(v, "unload") || Contains(v, "1")) return PlayerEndType::kUnload;
  if (Contains(v, "stop2") || Contains(v, "3")) return PlayerEndType::kStop2;
  if (Contains(v, "stop") || Contains(v, "2")) return PlayerEndType::kStop;
  if (Contains(v, "loopbegin") || Contains(v, "5")) return PlayerEndType::kLoopBegin;
  if (Contains(v, "loop") || Contains(v, "4")) return PlayerEndType::kLoop;
  if (Contains(v, "movie") || Contains(v, "6")) return PlayerEndType::kLoadMovie;
  if (Contains(v, "url") || Contains(v, "7")) return PlayerEndType::kGetUrl;
  return current;
}

PlayerQuality ReadQuality(std::string_view v) {
  if (v.empty() || Contains(v, "set") || Contains(v, "none") || Contains(v, "0")) return PlayerQuality::kNone;
  if (Contains(v, "low") || Contains(v, "1")) return PlayerQuality::kLow;
  if (Contains(v, "med") || Contains(v, "2")) return PlayerQuality::kMedium;
  if (Contains(v, "best") || Contains(v, "4")) return PlayerQuality::kBest;
  return PlayerQuality::kHigh;
}

void ReadTransportKey(TransportOptions& t, std::string_view name, std::string_view value) {
  using T = TransportOptions;
  if (Equals(name, "jpeg")) StoreFlag(t.flags, T::kJpeg, ReadBool(value));
  else if (Equals(name, "zlib32")) StoreFlag(t.flags, T::kZlib32, ReadBool(value));
  else if (Equals(name, "zlib8")) StoreFlag(t.flags, T::kZlib8, ReadBool(value));
  else if (Equals(name, "resizeforce8")) StoreFlag(t.flags, T::kResizeForce8, ReadBool(value));
  else if (Equals(name, "player.protect")) StoreFlag(t.playerFlags, T::kPlayerProtect, ReadBool(value));
  else if (Equals(name, "player.displaycursor")) StoreFlag(t.playerFlags, T::kPlayerDisplayCursor, ReadBool(value));
  else if (Equals(name, "player.optimizememory")) StoreFlag(t.playerFlags, T::kPlayerOptimizeMemory, ReadBool(value));
  else if (Equals(name, "partsizelimit")) StoreInteger(t.partSizeLimit, value);
  else if (Equals(name, "bitratelimit")) StoreInteger(t.bitrateLimit, value);
  else if (Equals(name, "jpegquality")) StoreInteger(t.jpegQuality, value);
  else if (Equals(name, "zlibquality")) StoreInteger(t.zlibQuality, value);
  else if (Equals(name, "zlib8palette")) StoreInteger(t.zlib8Palette, value);
  else if (Equals(name, "zlib8uniquelimit")) StoreInteger(t.zlib8UniqueLimit, value);
  else if (Equals(name, "resizemethod")) StoreInteger(t.resizeMethod, value);
  else if (Equals(name, "transientresizemethod")) StoreInteger(t.transientResizeMethod, value);
  else if (Equals(name, "player.blocklimbo")) t.playerBlockLimbo = ReadFloat(value);
  else if (Equals(name, "backwidth")) t.backWidth = ReadFloat(value);
  else if (Equals(name, "backheight")) t.backHeight = ReadFloat(value);
  else if (Equals(name, "zlib8palettedifflimit")) t.zlib8PaletteDiffLimit = ReadFloat(value);
  else if (Equals(name, "resizelimit")) t.resizeLimit = ReadFloat(value);
  else if (Equals(name, "transientresizelimit")) t.transientResizeLimit = ReadFloat(value);
  else if (Equals(name, "player.fps")) t.playerFps = ReadFloat(value);
  else if (Equals(name, "backcolor")) StoreColour(t.backColor, value);
  else if (Equals(name, "signature")) StoreSignature(t.signature.data(), 8, value);
  else if (Equals(name, "resize")) StoreDirections(t.flags, T::kResizeHorizontal, T::kResizeVertical, value);
  else if (Equals(name, "transientresize"))
    StoreDirections(t.flags, T::kTransientResizeHorizontal, T::kTransientResizeVertical, value);
  else if (Equals(name, "player.link")) StoreText(t.playerLink, kLinkMaxLength, value);
  else if (Equals(name, "player.linktarget")) StoreText(t.playerLinkTarget, kLinkTargetMaxLength, value);
  else if (Equals(name, "player.endlink")) StoreText(t.playerEndLink, kLinkMaxLength, value);
  else if (Equals(name, "player.endlinktarget")) StoreText(t.playerEndLinkTarget, kLinkTargetMaxLength, value);
  else if (Equals(name, "player.loader")) StoreText(t.playerLoader, kLoaderMaxLength, value);
  else if (Equals(name, "player.linktype")) SetPlayerLinkType(t, ReadLinkType(WithoutBlanks(value), GetPlayerLinkType(t)));
  else if (Equals(name, "player.endtype")) SetPlayerEndType(t, ReadEndType(WithoutBlanks(value), GetPlayerEndType(t)));
  else if (Equals(name, "player.quality")) t.playerQuality = ReadQuality(WithoutBlanks(value));
  else if (Equals(name, "player.var") || Equals(name, "player.variable")) {
    if (!t.playerVar) t.playerVar.emplace();
    t.playerVar->append(value);
    t.playerVar->push_back('\n');
  }
}

// The description line is recognised before the key split, so a description holding "=" is
// kept whole: "Description" and a ":" after leading blanks.
bool ReadDescriptionLine(std::string_view line, TransportOptions& t) {
  std::string_view rest = Trim(line);
  constexpr std::size_t kWord = 11;  // "description"
  if (rest.size() < kWord || strncasecmp(rest.data(), "description", kWord) != 0) return false;
  rest.remove_prefix(kWord);
  while (!rest.empty() && IsBlankCode(rest.front())) rest.remove_prefix(1);
  if (rest.empty() || rest.front() != ':') return false;
  rest.remove_prefix(1);
  StoreText(t.description, kDescriptionMaxLength, Trim(rest));
  return true;
}

void ReadLine(std::string_view line, FrameOptions* frame, AudioOptions* audio, MatchOptions* match,
              TransportOptions* transport) {
  // A line ends at an embedded NUL, as the C string it was once read into did. Kept, the rest
  // would sit in a text value that the writer's printf cuts at the NUL, so a save would not
  // load back to the same settings.
  line = line.substr(0, line.find('\0'));
  if (!line.empty() && line.front() == '#') return;
  if (transport != nullptr && ReadDescriptionLine(line, *transport)) return;
  std::size_t split = line.find('=');
  if (split == std::string_view::npos) split = line.find(':');
  if (split == std::string_view::npos) return;
  const std::string_view key = Trim(line.substr(0, split));
  const std::string_view value = Trim(line.substr(split + 1));

  std::string_view section;
  std::string_view name = key;
  const std::size_t dot = key.find('.');
  if (dot != std::string_view::npos) {
    section = key.substr(0, dot);
    name = key.substr(dot + 1);
  }
  if (frame != nullptr && Equals(section, "frame")) {
    ReadFrameKey(*frame, name, value);
  } else if (audio != nullptr && Equals(section, "audio")) {
    ReadAudioKey(*audio, name, value);
  } else if (match != nullptr && Equals(section, "match")) {
    ReadMatchKey(*match, name, value);
  } else if (transport != nullptr) {
    if (Equals(section, "transport")) {
      ReadTransportKey(*transport, name, value);
    } else if (Equals(name, "description")) {
      StoreText(transport->description, kDescriptionMaxLength, value);
    }
  }
}

// Every read leaves the transport record with a fresh variables text; an empty one is
// dropped again so that loading and saving a file without variables is idempotent.
void BeginRead(TransportOptions* transport) {
  if (transport != nullptr) transport->playerVar.emplace();
}

void EndRead(TransportOptions* transport) {
  if (transport != nullptr && transport->playerVar && transport->playerVar->empty()) {
    transport->playerVar.reset();
  }
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::string FormatSettingsText(const FrameOptions* frame, const AudioOptions* audio,
                               const MatchOptions* match, const TransportOptions* transport) {
  std::string out;
  Append(out, "#========================================== Quillon Video Encoder Settings\n");
  if (transport != nullptr) Append(out, "Description: %s\n\n", OneLine(transport->description).c_str());
  if (frame != nullptr) AppendFrame(out, *frame);
  if (audio != nullptr) AppendAudio(out, *audio);
  if (match != nullptr) AppendMatch(out, *match);
  if (transport != nullptr) AppendTransport(out, *transport);
  Append(out, "# * means setting is only available on the settings file\n");
  return out;
}

void ParseSettingsText(const std::string& text, FrameOptions* frame, AudioOptions* audio,
                       MatchOptions* match, TransportOptions* transport) {
  BeginRead(transport);
  const std::string_view all(text);
  std::size_t begin = 0;
  while (begin < all.size()) {
    std::size_t end = all.find('\n', begin);
    if (end == std::string_view::npos) end = all.size();
    ReadLine(all.substr(begin, end - begin), frame, audio, match, transport);
    begin = end + 1;
  }
  EndRead(transport);
}

bool SaveSettingsFile(const std::string& path, const FrameOptions* frame, const AudioOptions* audio,
                      const MatchOptions* match, const TransportOptions* transport) {
  std::string text;
  try {
    text = FormatSettingsText(frame, audio, match, transport);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "w"));
  if (!file) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  // A full disk often shows only when the buffer is flushed at close.
  const bool closed = std::fclose(file.release()) == 0;
  return written && closed;
}

bool SaveSettingsFile(const std::string& path, const EncoderSettings& settings) {
  return SaveSettingsFile(path, &settings.frame, &settings.audio, &settings.match,
                          &settings.transport);
}

bool LoadSettingsFile(const std::string& path, FrameOptions* frame, AudioOptions* audio,
                      MatchOptions* match, TransportOptions* transport) {
  // A folder opens as a stream here but reads as nothing; it is no settings file.
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return false;
  std::ifstream in(path, std::ios::in | std::ios::binary);
  if (!in.is_open()) return false;
  try {
    // Read with a bound: a device or a huge file without line ends would otherwise fill
    // memory one endless line at a time.
    std::string text(kMaxSettingsFileBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) return false;
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got > kMaxSettingsFileBytes) return false;
    text.resize(got);
    std::istringstream lines(text);
    BeginRead(transport);
    std::string line;
    while (std::getline(lines, line)) ReadLine(line, frame, audio, match, transport);
    EndRead(transport);
  } catch (const std::bad_alloc&) {
    EndRead(transport);
    return false;
  }
  return true;
}

bool LoadSettingsFile(const std::string& path, EncoderSettings& settings) {
  return LoadSettingsFile(path, &settings.frame, &settings.audio, &settings.match,
                          &settings.transport);
}

}  // namespace quillon
