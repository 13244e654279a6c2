#include "match/match_engine.h"

namespace quillon {

MatchEngine::MatchEngine() = default;
MatchEngine::~MatchEngine() = default;
bool MatchEngine::Setup(const MatchOptions&, FrameStore*, FrameUseStore*, ScreenUseStore*) {
  return false;
}
bool MatchEngine::Start() { return false; }
bool MatchEngine::MatchFrame(uint32_t) { return false; }
void MatchEngine::Finish() {}
bool MatchEngine::MatchBlock(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, MatchResult&) {
  return false;
}
uint32_t MatchEngine::BlockSize(uint32_t, float) { return 8; }
float MatchEngine::SearchEarlier(const FrameImage&, uint32_t, uint32_t, uint32_t, MatchResult&) {
  return kNoScore;
}
bool MatchEngine::Fail(const char*) { return false; }

}  // namespace quillon
