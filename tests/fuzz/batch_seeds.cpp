// Writes the seed corpus of the batch fuzzer: argument lists (NUL between arguments) that reach
// every option, both switch characters, the start and end forms and the failing outcomes.
#include <cstdio>
#include <string>

#include "seed_files.h"

using quillon::fuzzing::WriteSeed;

namespace {

std::string Arguments(std::initializer_list<const char*> list) {
  std::string out;
  for (const char* a : list) {
    if (!out.empty()) out.push_back('\0');
    out += a;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = quillon::fuzzing::CorpusFolder(argc, argv);
  if (dir.empty()) return 2;
  const bool ok =
      WriteSeed(dir + "options",
                Arguments({"-s", "my.settings", "a.avi", "/Q", "90", "b.swf", "-fs", "-320",
                           "-rate", "-50", "/jpeg", "80", "-br", "56", "-ps", "40", "-l", ""})) &&
      WriteSeed(dir + "range", Arguments({" /tmp/clip.avi ", "out \"1\".swf", "12.5", "+30"})) &&
      WriteSeed(dir + "words", Arguments({"a.avi", "b.swf", "begin", "all", "extra"})) &&
      WriteSeed(dir + "backwards", Arguments({"a.avi", "b.swf", "20", "10"})) &&
      WriteSeed(dir + "help", Arguments({"-l", "-h", "--version"})) &&
      WriteSeed(dir + "text", "\"my movie.avi\" C:\\out.swf start end -q 50 \"unclosed");
  return ok ? 0 : 1;
}
