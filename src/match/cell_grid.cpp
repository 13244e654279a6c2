#include "match/cell_grid.h"

namespace quillon {

bool CellGrid::Init(uint32_t, uint32_t, bool) { return false; }
bool CellGrid::CopyTo(CellGrid&) const { return false; }
void CellGrid::SetRect(uint32_t, uint32_t, uint32_t, uint32_t, bool) {}
bool CellGrid::LargestRect(bool, Rect&, std::vector<uint32_t>&) const { return false; }
bool CellGrid::LargestRect(bool, Rect&) const { return false; }

}  // namespace quillon
