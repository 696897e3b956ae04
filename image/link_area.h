// The code segment as the program's link area.
//
// The program's routines are compiled into the executable; the code segment of
// the image is where they meet the runtime host. It holds:
//  - an entry cell at each routine's code offset, holding the routine's
//    address (the executable fills it before it hands the image over);
//  - a pool of cells through which the routines reach the constants (type-1
//    fixups), the globals (type-2), the end routine's address (type-3) and the
//    identifiers that the host may renumber (the four identifier groups);
//  - the service stubs at the end: one cell per called service-table slot
//    (type-0 fixups).
// Every cell is one word wide; the image stores its 32-bit value in the low
// half and zero in the high half, and the host's fixups turn it into a full
// address.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "host/abi.h"
#include "image/constants.h"
#include "image/controls.h"
#include "image/globals.h"
#include "image/native_calls.h"

namespace image {

inline constexpr std::uint32_t kCodeSize = 10004;
inline constexpr std::uint32_t kCellSize = 8;

// The program's routines and the code offsets of their entry cells.
enum class Routine : std::uint32_t {
  OnWindowCreated = 0x0400,
  OnStartMergeClick = 0x0480,
  OnPickTileDirClick = 0x0580,
  OnPickSavePathClick = 0x0900,
  OnAboutLabelPress = 0x0A80,
  MergeTiles = 0x0B00,
  DrawTileRow = 0x0F00,
  DrawTile = 0x1200,
  AnsiToWide = 0x1500,
  BitmapToBmpBytes = 0x1600,
  ConcatByteBuffers = 0x1A00,
  TestFixedPathMerge = 0x1B00,
  TestSingleTile = 0x2000,
  TestTileEnumeration = 0x2300,
  TestSubdirEnumeration = 0x2480,
  FreeGlobals = 0x2627,
  InitGlobals = 0x2668,
  StartProgram = 0x2696,
};

struct RoutineInfo {
  Routine routine;
  std::string_view name;
};

inline constexpr RoutineInfo kRoutines[] = {
    {Routine::OnWindowCreated, "OnWindowCreated"},
    {Routine::OnStartMergeClick, "OnStartMergeClick"},
    {Routine::OnPickTileDirClick, "OnPickTileDirClick"},
    {Routine::OnPickSavePathClick, "OnPickSavePathClick"},
    {Routine::OnAboutLabelPress, "OnAboutLabelPress"},
    {Routine::MergeTiles, "MergeTiles"},
    {Routine::DrawTileRow, "DrawTileRow"},
    {Routine::DrawTile, "DrawTile"},
    {Routine::AnsiToWide, "AnsiToWide"},
    {Routine::BitmapToBmpBytes, "BitmapToBmpBytes"},
    {Routine::ConcatByteBuffers, "ConcatByteBuffers"},
    {Routine::TestFixedPathMerge, "TestFixedPathMerge"},
    {Routine::TestSingleTile, "TestSingleTile"},
    {Routine::TestTileEnumeration, "TestTileEnumeration"},
    {Routine::TestSubdirEnumeration, "TestSubdirEnumeration"},
    {Routine::FreeGlobals, "FreeGlobals"},
    {Routine::InitGlobals, "InitGlobals"},
    {Routine::StartProgram, "StartProgram"},
};

constexpr std::uint32_t Offset(Routine r) { return static_cast<std::uint32_t>(r); }

// What a pool cell holds, and so which fixup or identifier group describes it.
enum class CellKind : std::uint8_t {
  kConst,         // fixup type 1: offset into the const segment's bytes
  kGlobal,        // fixup type 2: offset into the var segment
  kRoutineAddr,   // fixup type 3: offset of a routine's entry cell
  kWindowId,      // identifier group 0: window or control id
  kNativeIndex,   // identifier group 1: native-call index
  kLibraryIndex,  // identifier group 2: support-library index
  kTypeTag,       // identifier group 3: type tag of a control reference
};

struct Cell {
  CellKind kind;
  std::uint32_t value;
};

inline constexpr std::uint32_t kPoolOffset = 0x0010;

// The pool, in code order. Every constant, global and identifier that a
// routine uses has exactly one cell here.
inline constexpr Cell kPool[] = {
    // constants
    {CellKind::kConst, std::uint32_t(K::kFixedMergeDir)},
    {CellKind::kConst, std::uint32_t(K::kEmpty)},
    {CellKind::kConst, std::uint32_t(K::kBackslash)},
    {CellKind::kConst, std::uint32_t(K::kAllPattern)},
    {CellKind::kConst, std::uint32_t(K::kTileSide)},
    {CellKind::kConst, std::uint32_t(K::kBitmapFailShort)},
    {CellKind::kConst, std::uint32_t(K::kDotDot)},
    {CellKind::kConst, std::uint32_t(K::kDot)},
    {CellKind::kConst, std::uint32_t(K::kEmptyBuffer)},
    {CellKind::kConst, std::uint32_t(K::kFixedMergeOut)},
    {CellKind::kConst, std::uint32_t(K::kOne)},
    {CellKind::kConst, std::uint32_t(K::kZeroZero)},
    {CellKind::kConst, std::uint32_t(K::kZero)},
    {CellKind::kConst, std::uint32_t(K::kPngSuffix)},
    {CellKind::kConst, std::uint32_t(K::kNodataName)},
    {CellKind::kConst, std::uint32_t(K::kProgressSteps)},
    {CellKind::kConst, std::uint32_t(K::kSizeEpsilon)},
    {CellKind::kConst, std::uint32_t(K::kWideCharBytes)},
    {CellKind::kConst, std::uint32_t(K::kFileHeaderBytes)},
    {CellKind::kConst, std::uint32_t(K::kFixedTile)},
    {CellKind::kConst, std::uint32_t(K::kFixedTileOut)},
    {CellKind::kConst, std::uint32_t(K::kFixedPngPattern)},
    {CellKind::kConst, std::uint32_t(K::kBitmapFailLong)},
    {CellKind::kConst, std::uint32_t(K::kMergeDone)},
    {CellKind::kConst, std::uint32_t(K::kSaveFailed)},
    {CellKind::kConst, std::uint32_t(K::kFolderPrompt)},
    {CellKind::kConst, std::uint32_t(K::kLetterX)},
    {CellKind::kConst, std::uint32_t(K::kWrongDir)},
    {CellKind::kConst, std::uint32_t(K::kNoTiles)},
    {CellKind::kConst, std::uint32_t(K::kStar)},
    {CellKind::kConst, std::uint32_t(K::kTilePathLabel)},
    {CellKind::kConst, std::uint32_t(K::kSavePrompt)},
    {CellKind::kConst, std::uint32_t(K::kSaveFilter)},
    {CellKind::kConst, std::uint32_t(K::kBmpSuffix)},
    {CellKind::kConst, std::uint32_t(K::kSavePathLabel)},
    {CellKind::kConst, std::uint32_t(K::kAuthorUrl)},
    {CellKind::kConst, std::uint32_t(K::kFixedDirPattern)},
    // globals, in var-segment order
    {CellKind::kGlobal, std::uint32_t(G::tileDir)},
    {CellKind::kGlobal, std::uint32_t(G::tilePrefix)},
    {CellKind::kGlobal, std::uint32_t(G::entryName)},
    {CellKind::kGlobal, std::uint32_t(G::gridSize)},
    {CellKind::kGlobal, std::uint32_t(G::tileEdge)},
    {CellKind::kGlobal, std::uint32_t(G::mosaicEdge)},
    {CellKind::kGlobal, std::uint32_t(G::gdipStartupInput)},
    {CellKind::kGlobal, std::uint32_t(G::gdipToken)},
    {CellKind::kGlobal, std::uint32_t(G::screenDc)},
    {CellKind::kGlobal, std::uint32_t(G::mosaicDc)},
    {CellKind::kGlobal, std::uint32_t(G::mosaicBitmap)},
    {CellKind::kGlobal, std::uint32_t(G::savedBitmap)},
    {CellKind::kGlobal, std::uint32_t(G::rowIndex)},
    {CellKind::kGlobal, std::uint32_t(G::bmpFileBytes)},
    {CellKind::kGlobal, std::uint32_t(G::colIndex)},
    {CellKind::kGlobal, std::uint32_t(G::tilesDrawn)},
    {CellKind::kGlobal, std::uint32_t(G::outputPath)},
    // the end routine's address, for SetEndRoutine
    {CellKind::kRoutineAddr, Offset(Routine::FreeGlobals)},
    // window and control identifiers
    {CellKind::kWindowId, kMainWindow},
    {CellKind::kWindowId, kPickDirButton},
    {CellKind::kWindowId, kSavePathButton},
    {CellKind::kWindowId, kStartButton},
    {CellKind::kWindowId, kPrefixEdit},
    {CellKind::kWindowId, kSizeEdit},
    {CellKind::kWindowId, kSaveDialog},
    {CellKind::kWindowId, kTilePathLabel},
    {CellKind::kWindowId, kSavePathLabel},
    {CellKind::kWindowId, kProgressBar},
    // native-call indices
#define MOSALIN_NATIVE_CELL(name, entry, library, signature) {CellKind::kNativeIndex, Index(NativeId::k##name)},
    MOSALIN_NATIVE_CALLS(MOSALIN_NATIVE_CELL)
#undef MOSALIN_NATIVE_CELL
    // the support library of the panea commands
    {CellKind::kLibraryIndex, std::uint32_t(host::Library::Panea)},
    // the type tag of the save dialog's control reference
    {CellKind::kTypeTag, std::uint32_t(host::TypeTag::kCommonDialogRef)},
};

inline constexpr std::uint32_t kPoolCells = sizeof(kPool) / sizeof(kPool[0]);

// Code offset of the cell for (kind, value). Used in constant expressions, so
// a routine that asks for a cell the pool lacks does not compile.
constexpr std::uint32_t CellOffset(CellKind kind, std::uint32_t value) {
  for (std::uint32_t i = 0; i < kPoolCells; ++i)
    if (kPool[i].kind == kind && kPool[i].value == value) return kPoolOffset + i * kCellSize;
  throw "no such cell in the link pool";
}

// Service stubs: one cell per called slot, at the end of the code segment.
inline constexpr std::uint32_t kServiceStubsOffset =
    kCodeSize - static_cast<std::uint32_t>(std::size(host::kCalledSlots)) * kCellSize;

constexpr std::uint32_t ServiceCellOffset(host::Slot slot) {
  for (std::uint32_t i = 0; i < std::size(host::kCalledSlots); ++i)
    if (host::kCalledSlots[i] == slot) return kServiceStubsOffset + i * kCellSize;
  throw "slot 0x1c has no stub";
}

// The code segment's bytes and what describes them.
struct CodeSegment {
  std::vector<std::uint8_t> bytes;                // kCodeSize bytes
  std::vector<std::uint32_t> fixups;              // (offset << 3) | type, sorted by offset
  std::array<std::vector<std::uint32_t>, 4> ids;  // identifier groups: code offsets
};

CodeSegment BuildCodeSegment();

}  // namespace image
