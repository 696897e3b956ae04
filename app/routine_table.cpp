#include "app/routine_table.h"

#include <cstring>

#include "app/start.h"
#include "devroutines/test_routines.h"
#include "mosaic/mosaic.h"
#include "window/handlers.h"

namespace app {

void* RoutineAddress(image::Routine routine) {
  using image::Routine;
  switch (routine) {
    case Routine::StartProgram: return reinterpret_cast<void*>(&StartProgram);
    case Routine::InitGlobals: return reinterpret_cast<void*>(&InitGlobals);
    case Routine::FreeGlobals: return reinterpret_cast<void*>(&FreeGlobals);
    case Routine::OnWindowCreated: return reinterpret_cast<void*>(&window::OnWindowCreated);
    case Routine::OnStartMergeClick: return reinterpret_cast<void*>(&window::OnStartMergeClick);
    case Routine::OnPickTileDirClick: return reinterpret_cast<void*>(&window::OnPickTileDirClick);
    case Routine::OnPickSavePathClick: return reinterpret_cast<void*>(&window::OnPickSavePathClick);
    case Routine::OnAboutLabelPress: return reinterpret_cast<void*>(&window::OnAboutLabelPress);
    case Routine::TestFixedPathMerge: return reinterpret_cast<void*>(&devroutines::TestFixedPathMerge);
    case Routine::TestSingleTile: return reinterpret_cast<void*>(&devroutines::TestSingleTile);
    case Routine::TestTileEnumeration: return reinterpret_cast<void*>(&devroutines::TestTileEnumeration);
    case Routine::TestSubdirEnumeration: return reinterpret_cast<void*>(&devroutines::TestSubdirEnumeration);
    case Routine::MergeTiles: return reinterpret_cast<void*>(&mosaic::MergeTiles);
    case Routine::DrawTileRow: return reinterpret_cast<void*>(&mosaic::DrawTileRow);
    case Routine::DrawTile: return reinterpret_cast<void*>(&mosaic::DrawTile);
    case Routine::AnsiToWide: return reinterpret_cast<void*>(&mosaic::AnsiToWide);
    case Routine::BitmapToBmpBytes: return reinterpret_cast<void*>(&mosaic::BitmapToBmpBytes);
    case Routine::ConcatByteBuffers: return nullptr;  // joins any number of buffers: no plain entry
  }
  return nullptr;
}

void FillEntryCells(std::uint8_t* codeBase) {
  for (const auto& r : image::kRoutines) {
    std::uintptr_t address = reinterpret_cast<std::uintptr_t>(RoutineAddress(r.routine));
    std::memcpy(codeBase + image::Offset(r.routine), &address, sizeof address);
  }
}

}  // namespace app
