// libFuzzer target: the batch command line. The bytes are split at NUL into the argument list
// (arguments cannot hold a NUL) and read whole as the command text. Besides the sanitizers'
// checks: a parse logs exactly the lines its outcome calls for, a successful one names both
// paths and a range whose logged end is its start plus its duration, the overrides are finite,
// the rebuilt command text reads back as the arguments whenever no argument holds a quote, and
// the destination's part names read back as their part numbers.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "batch_log_recorder.h"
#include "encoder/batch_command.h"
#include "encoder/destination_name.h"
#include "settings/encoder_settings.h"

namespace {

using quillon::LogEventKind;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool IsFailure(LogEventKind kind) {
  return kind != LogEventKind::kRunStart;
}

// The part names of a destination: part 1 is the destination itself, or it with ".swf" added
// when its file name has no extension; every part's file name reads back as its own number.
void CheckDestinationNames(const std::string& destination) {
  const quillon::DestinationName d = quillon::SplitDestination(destination);
  const std::string first = quillon::FinalPartName(d, 1);
  const std::size_t slash = destination.find_last_of("/\\");
  const std::string file = slash == std::string::npos ? destination : destination.substr(slash + 1);
  Check(first == (file.find('.') == std::string::npos ? destination + ".swf" : destination));
  Check(first == quillon::FirstPartName(destination));
  for (const std::uint32_t n : {1u, 2u, 9u, 10u, 11u, 100u, 4000000000u}) {
    const std::string name = quillon::FinalPartName(d, n);
    const std::size_t cut = name.rfind('/');
    const std::string base = cut == std::string::npos ? name : name.substr(cut + 1);
    Check(quillon::PartNumberOf(d, base) == (n > 999999999u ? 0u : n));
  }
}

void CheckParse(bool ok, const quillon::BatchRequest& r) {
  const std::vector<quillon::LogEvent>& log = quillon::RecordedLog();
  Check(!log.empty() && log.size() <= 2);
  for (const quillon::LogEvent& e : log) Check(e.logPath == r.logPath);
  const quillon::LogEvent& last = log.back();
  if (!ok) {
    Check(IsFailure(last.kind));
    if (last.kind == LogEventKind::kEndBeforeStart) {
      Check(log.size() == 2 && log[0].kind == LogEventKind::kRunStart && !log[0].toEnd);
      Check(log[0].endMs < log[0].startMs);
    } else {
      Check(log.size() == 1);
    }
  } else {
    Check(log.size() == 1 && last.kind == LogEventKind::kRunStart);
    Check(!r.sourcePath.empty() && !r.destinationPath.empty() && !r.resolvedSettingsPath.empty());
    Check(last.startMs == r.startMs);
    if (last.toEnd) {
      Check(r.durationMs == quillon::kDurationToEnd);
    } else {
      Check(r.durationMs != quillon::kDurationToEnd);
      Check(last.endMs == std::uint64_t{r.startMs} + r.durationMs);
    }
  }
  if (r.matchLimit) Check(std::isfinite(*r.matchLimit));
  if (r.frameResize) Check(std::isfinite(*r.frameResize));
  if (r.frameFps) Check(std::isfinite(*r.frameFps));
  if (ok) {
    quillon::EncoderSettings settings;
    quillon::ApplyBatchOverrides(r, settings);
    Check(settings.match.plainBound == settings.match.limit);
    CheckDestinationNames(r.destinationPath);
  }
}

void ParseTokens(const std::vector<std::string>& tokens) {
  quillon::RecordedLog().clear();
  quillon::BatchRequest r;
  const bool ok = quillon::ParseBatchTokens(tokens, "default.log", r);
  CheckParse(ok, r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> arguments;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = bytes.find('\0', begin);
    arguments.push_back(
        bytes.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  ParseTokens(arguments);

  // As the program receives them: argv with the program name first.
  std::vector<const char*> argv{"quillon"};
  bool quoted = false;
  for (const std::string& a : arguments) {
    argv.push_back(a.c_str());
    quoted = quoted || a.find('"') != std::string::npos;
  }
  const int argc = static_cast<int>(argv.size());
  const std::vector<std::string> tokens = quillon::BatchArgumentTokens(argc, argv.data());
  (void)quillon::ClassifyBatchTokens(tokens);
  ParseTokens(tokens);
  if (!quoted)
    Check(quillon::TokenizeBatchCommand(quillon::RebuildCommandText(argc, argv.data())) == tokens);

  quillon::RecordedLog().clear();
  quillon::BatchRequest r;
  const bool ok = quillon::ParseBatchCommand(bytes, "", r);
  CheckParse(ok, r);
  return 0;
}
