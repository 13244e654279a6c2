// The engine's trace hook: diagnostic lines (frame numbers, budgets, bitmap ids, statistics)
// that are discarded unless a sink is installed, so hot loops pay only for a null check.
#pragma once

namespace quillon {

// Receives one formatted trace line (no trailing line feed added).
using TraceSink = void (*)(const char* line);

// Installs a sink for debugging or tests; nullptr (the default) discards every line.
void SetTraceSink(TraceSink sink);

// printf-style; formats only when a sink is installed.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quillon
