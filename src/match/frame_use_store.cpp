#include "match/frame_use_store.h"

namespace quillon {

FrameUseStore::FrameUseStore() = default;
FrameUseStore::~FrameUseStore() = default;
bool FrameUseStore::Setup(const FrameStore&) { return false; }
bool FrameUseStore::Setup(uint32_t, uint32_t, uint32_t, bool) { return false; }
void FrameUseStore::Reset() {}
FrameUse* FrameUseStore::GetFrameUse(uint32_t) { return nullptr; }
const FrameUse* FrameUseStore::GetFrameUse(uint32_t) const { return nullptr; }
bool FrameUseStore::AddUse(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) { return false; }
void FrameUseStore::MarkCells(CellGrid&, uint32_t, uint32_t, uint32_t, uint32_t, bool) {}
bool FrameUseStore::PrepareFrame(uint32_t) { return false; }
UseRect* FrameUseStore::FindRect(uint32_t, uint32_t, uint32_t) { return nullptr; }

}  // namespace quillon
