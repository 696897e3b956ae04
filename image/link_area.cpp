#include "image/link_area.h"

#include <algorithm>
#include <cstring>

namespace image {
namespace {

void Put32(std::vector<std::uint8_t>& b, std::uint32_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr bool CellsDoNotOverlap() {
  // Entry cells, pool and stubs must be disjoint and inside the segment.
  std::uint32_t poolEnd = kPoolOffset + kPoolCells * kCellSize;
  for (const auto& r : kRoutines) {
    std::uint32_t at = Offset(r.routine);
    if (at < poolEnd || at + kCellSize > kServiceStubsOffset) return false;
    for (const auto& o : kRoutines)
      if (&o != &r && Offset(o.routine) < at + kCellSize && at < Offset(o.routine) + kCellSize)
        return false;
  }
  return true;
}
static_assert(CellsDoNotOverlap(), "link area cells overlap");

}  // namespace

CodeSegment BuildCodeSegment() {
  CodeSegment cs;
  cs.bytes.assign(kCodeSize, 0);
  for (std::uint32_t i = 0; i < kPoolCells; ++i) {
    const Cell& c = kPool[i];
    std::uint32_t at = kPoolOffset + i * kCellSize;
    Put32(cs.bytes, at, c.value);
    switch (c.kind) {
      case CellKind::kConst: cs.fixups.push_back(at << 3 | 1); break;
      case CellKind::kGlobal: cs.fixups.push_back(at << 3 | 2); break;
      case CellKind::kRoutineAddr: cs.fixups.push_back(at << 3 | 3); break;
      case CellKind::kWindowId: cs.ids[0].push_back(at); break;
      case CellKind::kNativeIndex: cs.ids[1].push_back(at); break;
      case CellKind::kLibraryIndex: cs.ids[2].push_back(at); break;
      case CellKind::kTypeTag: cs.ids[3].push_back(at); break;
    }
  }
  for (std::uint32_t i = 0; i < std::size(host::kCalledSlots); ++i) {
    std::uint32_t at = kServiceStubsOffset + i * kCellSize;
    Put32(cs.bytes, at, static_cast<std::uint32_t>(host::kCalledSlots[i]));
    cs.fixups.push_back(at << 3 | 0);
  }
  std::sort(cs.fixups.begin(), cs.fixups.end());
  return cs;
}

}  // namespace image
