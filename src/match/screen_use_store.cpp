#include "match/screen_use_store.h"

namespace quillon {

ScreenUseStore::ScreenUseStore() = default;
ScreenUseStore::~ScreenUseStore() = default;
bool ScreenUseStore::Setup(const FrameStore&, uint32_t, uint32_t) { return false; }
bool ScreenUseStore::Setup(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, bool) {
  return false;
}
void ScreenUseStore::Reset() {}
bool ScreenUseStore::RecordBlock(uint32_t, uint32_t, uint32_t, const MatchResult&) {
  return false;
}
void ScreenUseStore::MarkTransient(uint32_t) {}
bool ScreenUseStore::Diff(uint32_t) { return false; }
bool ScreenUseStore::NewRects() { return false; }
bool ScreenUseStore::AllTransient(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) const {
  return false;
}
ScreenCell* ScreenUseStore::GetScreenCell(uint32_t, uint32_t) { return nullptr; }
const ScreenCell* ScreenUseStore::GetScreenCell(uint32_t, uint32_t) const { return nullptr; }
FrameCells* ScreenUseStore::GetFrameCells(uint32_t) { return nullptr; }
const FrameCells* ScreenUseStore::GetFrameCells(uint32_t) const { return nullptr; }
bool ScreenUseStore::LargestChangedRect(ScreenRect&) const { return false; }
bool ScreenUseStore::Qualifies(const ScreenCell&, uint32_t, uint32_t, uint32_t, uint32_t) const {
  return false;
}

}  // namespace quillon
