#include "encoder/batch_command.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <strings.h>

#include "encoder/batch_log.h"
#include "encoder/destination_name.h"
#include "settings/paths.h"

namespace quillon {

namespace {

enum class BatchOption { kNone, kSettings, kLog, kQuality, kResize, kFps, kJpeg, kBitrate, kPartSize };

struct OptionName {
  const char* name;
  BatchOption option;
};

constexpr OptionName kOptions[] = {
    {"s", BatchOption::kSettings},  {"l", BatchOption::kLog},      {"q", BatchOption::kQuality},
    {"fs", BatchOption::kResize},   {"size", BatchOption::kResize}, {"fps", BatchOption::kFps},
    {"rate", BatchOption::kFps},    {"j", BatchOption::kJpeg},      {"jpeg", BatchOption::kJpeg},
    {"br", BatchOption::kBitrate},  {"ps", BatchOption::kPartSize},
};

BatchOption FindOption(const std::string& name) {
  for (const OptionName& entry : kOptions) {
    if (strcasecmp(entry.name, name.c_str()) == 0) return entry.option;
  }
  return BatchOption::kNone;
}

// The process's working folder; empty when it cannot be read (it was removed, say).
std::string CurrentFolder() {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::current_path(ec);
  return ec ? std::string() : folder.string();
}

bool IsBlankCode(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlankCode(text[begin])) ++begin;
  while (end > begin && IsBlankCode(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// The longest leading decimal number; 0 when there is none.
double ReadNumber(const std::string& text) {
  const double value = std::strtod(text.c_str(), nullptr);
  return std::isfinite(value) ? value : 0.0;
}

// ReadNumber for a float override: a finite number beyond the float range would arrive as an
// infinity, which ReadNumber keeps out.
float ReadFloat(const std::string& text) {
  const double value = ReadNumber(text);
  return std::fabs(value) <= std::numeric_limits<float>::max() ? static_cast<float>(value) : 0.0f;
}

// Truncation toward zero, saturated into the unsigned 32-bit range (a negative number reads
// as 0) so that absurd values cannot wrap around.
std::uint32_t TruncU32(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(value);
}

std::uint8_t TruncU8(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 255.0) return 255;
  return static_cast<std::uint8_t>(value);
}

// A time argument in seconds: a leading number, as for the options, but one must be there
// and it must be finite. False when there is none.
bool ReadSeconds(const std::string& text, double& seconds) {
  char* end = nullptr;
  seconds = std::strtod(text.c_str(), &end);
  return end != text.c_str() && std::isfinite(seconds);
}

// "-5", "-0.5": what a user types for a negative time, which the option syntax would otherwise
// swallow as an unknown option.
bool IsNegativeNumber(const std::string& token) {
  double value = 0.0;
  return token.size() > 1 && token[0] == '-' && ReadSeconds(token, value) &&
         (token[1] == '.' || (token[1] >= '0' && token[1] <= '9'));
}

bool IsWord(const std::string& token, const char* word) {
  return strcasecmp(token.c_str(), word) == 0;
}

// The token a program argument stands for: trimmed, and "/name" read as "-name" only when
// name is an option, because on this platform "/..." is usually an absolute path.
std::string ArgumentToken(const char* argument) {
  std::string token = Trim(argument);
  if (!token.empty() && token[0] == '/' && FindOption(token.substr(1)) != BatchOption::kNone) {
    token[0] = '-';
  }
  return token;
}

}  // namespace

bool IsBatchOption(const std::string& token) {
  return !token.empty() && token[0] == '-' && FindOption(token.substr(1)) != BatchOption::kNone;
}

BatchCommandKind ClassifyBatchTokens(const std::vector<std::string>& tokens) {
  bool value = false;
  for (const std::string& token : tokens) {
    if (value) {
      value = false;
      continue;
    }
    if (token == "-h" || token == "--help") return BatchCommandKind::kHelp;
    if (token == "--version") return BatchCommandKind::kVersion;
    value = IsBatchOption(token);
  }
  return BatchCommandKind::kBatch;
}

const char* BatchUsageText() {
  return "Usage: quillon source destination [start] [end] [options]\n"
         "\n"
         "Converts a movie into an uncompressed SWF 5 movie and writes the outcome to a log.\n"
         "\n"
         "  source        movie file to encode\n"
         "  destination   SWF file to write (long movies become several numbered parts)\n"
         "  start         start time in seconds, or \"start\"/\"begin\" (default: start)\n"
         "  end           end time in seconds, \"+N\" for a duration of N seconds,\n"
         "                or \"all\"/\"end\" (default: end of the movie)\n"
         "\n"
         "Options (\"-\" or \"/\", any case; each takes the next argument as its value):\n"
         "  -s FILE           settings file instead of presets/default.settings\n"
         "                    (relative paths are taken from the program's folder)\n"
         "  -l FILE           log file instead of batch.log beside the program;\n"
         "                    -l \"\" writes the log and progress to standard output\n"
         "  -q N              image quality in percent (Match.Limit)\n"
         "  -fs N, -size N    frame size in percent; negative = final width in pixels\n"
         "  -fps N, -rate N   frame rate; negative = percent of the source rate\n"
         "  -j N, -jpeg N     JPEG quality 0-100\n"
         "  -br N             bit-rate limit in kbit/s\n"
         "  -ps N             part size limit in kilobytes\n"
         "\n"
         "  -h, --help        show this text\n"
         "  --version         show the version\n";
}

const char* VersionText() { return "quillon 0.1.0\n"; }

std::string RebuildCommandText(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i] != nullptr ? argv[i] : "";
    // The same test as ArgumentToken's, on the trimmed argument, so that the text reads back as
    // the tokens: " /s" is the option, "/ s" is a path.
    const std::string token = Trim(argument);
    if (!token.empty() && token[0] == '/' && FindOption(token.substr(1)) != BatchOption::kNone) {
      argument[argument.find('/')] = '-';
    }
    if (i > 1) text.push_back(' ');
    text.push_back('"');
    text.append(argument);
    text.push_back('"');
  }
  return Trim(text);
}

std::vector<std::string> BatchArgumentTokens(int argc, const char* const* argv) {
  std::vector<std::string> tokens;
  for (int i = 1; i < argc; ++i) tokens.push_back(ArgumentToken(argv[i] != nullptr ? argv[i] : ""));
  return tokens;
}

std::vector<std::string> TokenizeBatchCommand(const std::string& commandText) {
  // The text ends at an embedded NUL, as the C string it once was did.
  const std::string text = commandText.substr(0, commandText.find('\0'));
  std::vector<std::string> tokens;
  std::size_t i = 0;
  const std::size_t n = text.size();
  for (;;) {
    while (i < n && IsBlankCode(text[i])) ++i;
    if (i >= n) break;
    const char close = text[i] == '"' ? '"' : ' ';
    const std::size_t begin = text[i] == '"' ? i + 1 : i;
    std::size_t end = text.find(close, begin);
    if (end == std::string::npos) end = n;
    tokens.push_back(Trim(text.substr(begin, end - begin)));
    i = end + 1;
  }
  return tokens;
}

bool ParseBatchCommand(const std::string& commandText, const std::string& logPath,
                       BatchRequest& request) {
  if (Trim(commandText).empty()) {
    request = BatchRequest{};
    request.logPath = logPath;
    LogSourceMissing(request.logPath);
    return false;
  }
  return ParseBatchTokens(TokenizeBatchCommand(commandText), logPath, request);
}

bool ParseBatchTokens(const std::vector<std::string>& tokens, const std::string& logPath,
                      BatchRequest& request) {
  request = BatchRequest{};
  request.logPath = logPath;

  std::string startText;
  std::string endText;
  bool startGiven = false;
  bool endGiven = false;
  int positional = 0;
  BatchOption waiting = BatchOption::kNone;
  std::string negativeTime;

  for (const std::string& token : tokens) {
    if (waiting != BatchOption::kNone) {
      // An option takes the next token whatever it looks like, so "-fps -50" works.
      switch (waiting) {
        case BatchOption::kSettings: request.settingsPath = token; break;
        case BatchOption::kLog: request.logPath = token; break;
        case BatchOption::kQuality: request.matchLimit = ReadFloat(token); break;
        case BatchOption::kResize: request.frameResize = ReadFloat(token); break;
        case BatchOption::kFps: request.frameFps = ReadNumber(token); break;
        case BatchOption::kJpeg: request.jpegQuality = TruncU8(ReadNumber(token)); break;
        case BatchOption::kBitrate: request.bitrateLimit = TruncU32(ReadNumber(token) * 1000.0); break;
        case BatchOption::kPartSize: request.partSizeLimit = TruncU32(ReadNumber(token) * 1024.0); break;
        case BatchOption::kNone: break;
      }
      waiting = BatchOption::kNone;
      continue;
    }
    if (IsNegativeNumber(token)) {
      if (negativeTime.empty()) negativeTime = token;
      continue;
    }
    if (!token.empty() && token[0] == '-') {
      waiting = FindOption(token.substr(1));  // an unknown option is ignored and takes no value
      continue;
    }
    switch (positional++) {
      case 0: request.sourcePath = token; break;
      case 1: request.destinationPath = token; break;
      case 2: startText = token; startGiven = true; break;
      case 3: endText = token; endGiven = true; break;
      default: break;  // further positional arguments are ignored
    }
  }

  if (request.sourcePath.empty()) {
    LogSourceMissing(request.logPath);
    return false;
  }
  if (request.destinationPath.empty()) {
    LogDestinationMissing(request.logPath);
    return false;
  }

  // Only a path the user typed is looked for in the current folder; the default file always
  // comes from beside the program.
  request.resolvedSettingsPath =
      request.settingsPath
          ? ResolveSettingsPath(ApplicationFolder(), *request.settingsPath, CurrentFolder())
          : ResolveSettingsPath(ApplicationFolder(), kDefaultSettingsFile);

  // A time that cannot be read would otherwise become 0 and encode a range nobody asked for.
  if (!negativeTime.empty()) {
    LogNegativeTime(request.logPath, negativeTime);
    return false;
  }
  double seconds = 0.0;
  if (startGiven && !IsWord(startText, "start") && !IsWord(startText, "begin")) {
    if (!ReadSeconds(startText, seconds)) {
      LogTimeNotANumber(request.logPath, "Start", startText);
      return false;
    }
    request.startMs = TruncU32(seconds * 1000.0);
  }

  // The end is kept in 64 bits: a duration added to the start, or an absolute end just below
  // the start, must never wrap into a valid-looking range or into the "to the end" value.
  bool toEnd = true;
  std::uint64_t endMs = 0;
  if (endGiven && !IsWord(endText, "all") && !IsWord(endText, "end")) {
    toEnd = false;
    const bool plus = endText[0] == '+';
    if (!ReadSeconds(plus ? endText.substr(1) : endText, seconds)) {
      LogTimeNotANumber(request.logPath, "End", endText);
      return false;
    }
    if (seconds < 0.0) {
      LogNegativeTime(request.logPath, endText);
      return false;
    }
    if (plus) {
      request.durationMs = TruncU32(seconds * 1000.0);
      toEnd = request.durationMs == kDurationToEnd;
      endMs = static_cast<std::uint64_t>(request.startMs) + request.durationMs;
    } else {
      endMs = TruncU32(seconds * 1000.0);
      if (endMs >= request.startMs) {
        request.durationMs = static_cast<std::uint32_t>(endMs - request.startMs);
        toEnd = request.durationMs == kDurationToEnd;
      }
    }
  }

  // The log names the file part 1 really goes to (".swf" added when the name has none).
  LogRunStart(request.logPath, request.sourcePath, FirstPartName(request.destinationPath),
              request.startMs, toEnd, endMs,
              request.settingsPath ? request.resolvedSettingsPath : std::string());

  if (!toEnd && endMs < request.startMs) {
    LogEndBeforeStart(request.logPath);
    return false;
  }
  return true;
}

void ApplyBatchOverrides(const BatchRequest& request, EncoderSettings& settings) {
  if (request.matchLimit) settings.match.limit = *request.matchLimit;
  if (request.frameResize) settings.frame.resize = *request.frameResize;
  if (request.frameFps) settings.frame.fps = *request.frameFps;
  if (request.jpegQuality) settings.transport.jpegQuality = *request.jpegQuality;
  if (request.bitrateLimit) settings.transport.bitrateLimit = *request.bitrateLimit;
  if (request.partSizeLimit) settings.transport.partSizeLimit = *request.partSizeLimit;
  settings.match.plainBound = settings.match.limit;
}

std::string ResolveSettingsPath(const std::string& applicationFolder, const std::string& value,
                                const std::string& currentFolder) {
  if (IsAbsolutePath(value)) return ToForwardSlashes(value);
  if (!currentFolder.empty()) {
    std::string here = JoinPath(currentFolder + "/", value);
    std::error_code ec;
    if (std::filesystem::is_regular_file(here, ec)) return here;
  }
  return JoinPath(applicationFolder, value);
}

}  // namespace quillon
