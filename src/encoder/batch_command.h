// Batch mode's command line: the argument list or rebuilt command text turned into a
// BatchRequest (paths, time range, settings file, overrides), and the overrides applied.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/encoder_settings.h"

namespace quillon {

// A duration that runs to the end of the movie.
inline constexpr std::uint32_t kDurationToEnd = 0xFFFFFFFFu;
// The settings file used when no "-s" is given, relative to the application folder.
inline constexpr const char* kDefaultSettingsFile = "presets/default.settings";

struct BatchRequest {
  std::string sourcePath;       // as the command line named it
  std::string destinationPath;  // as the command line named it
  std::optional<std::string> settingsPath;  // the "-s" value, unresolved
  std::string resolvedSettingsPath;         // the file to load (default file when no "-s")
  std::uint32_t startMs = 0;
  std::uint32_t durationMs = kDurationToEnd;
  std::string logPath;  // the log in force after "-l"; empty = standard output

  // Overrides; each is applied only when given.
  std::optional<float> matchLimit;             // -q
  std::optional<float> frameResize;            // -fs, -size
  std::optional<double> frameFps;              // -fps, -rate
  std::optional<std::uint8_t> jpegQuality;     // -j, -jpeg
  std::optional<std::uint32_t> bitrateLimit;   // -br (kbit/s x 1000)
  std::optional<std::uint32_t> partSizeLimit;  // -ps (KB x 1024)
};

// The text the program hands to the batch run: each argument in double quotes, a leading
// switch character written as "-", one blank between. Empty when there are no arguments,
// which means interactive mode. An argument that itself holds a double quote cannot survive
// this text; the program therefore parses BatchArgumentTokens instead.
std::string RebuildCommandText(int argc, const char* const* argv);

// The arguments (without the program name) as the parser's tokens: trimmed, and "/name"
// turned into "-name" only when name is an option, so absolute paths stay paths.
std::vector<std::string> BatchArgumentTokens(int argc, const char* const* argv);

// True for a token ("-fps", "-L", ...) that names an option of the batch command line; such
// an option takes the next token as its value.
bool IsBatchOption(const std::string& token);

// What a command line asks for before any conversion: "-h"/"--help" or "--version" anywhere
// except as the value of an option ("-l -h" names a log file called "-h").
enum class BatchCommandKind { kBatch, kHelp, kVersion };
BatchCommandKind ClassifyBatchTokens(const std::vector<std::string>& tokens);
// The text "-h" prints (ends with a line feed) and the version line ("quillon 0.1.0\n").
const char* BatchUsageText();
const char* VersionText();

// Splits a command text the way the batch parser reads it.
std::vector<std::string> TokenizeBatchCommand(const std::string& commandText);

// Parses a command text (tokenised as above) and writes the parser's error lines and the
// start-of-run line to the log; logPath is the default log. False on a parse failure
// (already logged).
[[nodiscard]] bool ParseBatchCommand(const std::string& commandText, const std::string& logPath,
                                     BatchRequest& request);
// The same on tokens already split, so no argument text is ever re-read.
[[nodiscard]] bool ParseBatchTokens(const std::vector<std::string>& tokens,
                                    const std::string& logPath, BatchRequest& request);

// Applies the given overrides in their fixed order, then sets Match.PlainBound to
// Match.Limit whether "-q" was given or not.
void ApplyBatchOverrides(const BatchRequest& request, EncoderSettings& settings);

// The "-s" value (or kDefaultSettingsFile) as the path to load: absolute values only get
// forward slashes; a relative one names the file in currentFolder when a file is there (a user
// types "-s my.settings" beside it), else the file in the application folder, where presets live.
// An empty currentFolder looks in the application folder only.
std::string ResolveSettingsPath(const std::string& applicationFolder, const std::string& value,
                                const std::string& currentFolder = std::string());

}  // namespace quillon
