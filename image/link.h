// The program's view of its own link area while it runs.
//
// Routines never hold the addresses of constants, globals or host services
// themselves: they read them from the cells of the code segment, which the
// runtime host has fixed up (constants, globals, service slots, the end
// routine) and whose identifiers it may have renumbered. Everything below
// names its cell at compile time, so a routine that uses a cell the link pool
// lacks does not build. What the routines use reads as plain C++:
//   g.mosaicBitmap = native.SelectObject(g.mosaicDc, g.savedBitmap);
//   svc.ShowMessage(pool.mergeDone, host::kStyleInfo);
// g's members are the globals, pool's the constants, native's the native calls
// (image/native_calls.h); each reads its cell on every use.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "host/abi.h"
#include "host/services.h"
#include "image/globals.h"
#include "image/link_area.h"
#include "image/native_calls.h"

namespace image {

class Link {
 public:
  // Where the code segment's bytes lie in the image that the host runs.
  static void Attach(std::uint8_t* codeBase) { codeBase_ = codeBase; }
  static host::Word Cell(std::uint32_t codeOffset) {
    host::Word w;
    std::memcpy(&w, codeBase_ + codeOffset, sizeof w);
    return w;
  }

 private:
  static inline std::uint8_t* codeBase_ = nullptr;
};

// --- host services, through the service stubs --------------------------------
inline host::Services Svc() {
  const host::Word* slots[host::kSlotCount] = {};
  for (host::Slot s : host::kCalledSlots)
    slots[host::SlotIndex(s)] = reinterpret_cast<const host::Word*>(Link::Cell(ServiceCellOffset(s)));
  return host::Services(slots);
}

// --- values as words, and back ---------------------------------------------------
// How a value of a global or an argument of a native call is one word, and
// how a word is read back as a value of the type.
template <typename T>
host::Word ToWord(T v) {
  if constexpr (std::is_same_v<T, float>) return std::bit_cast<std::uint32_t>(v);
  else if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>) return reinterpret_cast<host::Word>(v);
  else if constexpr (std::is_same_v<T, std::int32_t>) return static_cast<host::Word>(static_cast<std::intptr_t>(v));
  else return static_cast<host::Word>(v);
}
template <typename T>
T FromWord(host::Word w) {
  if constexpr (std::is_pointer_v<T>) return reinterpret_cast<T>(w);
  else if constexpr (std::is_same_v<T, std::int32_t>) return static_cast<std::int32_t>(static_cast<std::uint32_t>(w));
  else return static_cast<T>(w);
}

// --- globals --------------------------------------------------------------------
// A global of type T: read, assigned and addressed through its cell.
template <G id, typename T>
class Global {
 public:
  // The global's word in the var segment.
  host::Word& Raw() const {
    constexpr std::uint32_t at = CellOffset(CellKind::kGlobal, std::uint32_t(id));
    return *reinterpret_cast<host::Word*>(Link::Cell(at));
  }
  host::Word* Address() const { return &Raw(); }
  operator T() const { return FromWord<T>(Raw()); }
  const Global& operator=(T v) const {
    Raw() = ToWord(v);
    return *this;
  }
  // The ownership rule for every text or buffer held in a global: the caller
  // computes the new value first; the old block is freed when it is not
  // null; then the new pointer is stored.
  void Replace(T fresh) const
    requires std::is_pointer_v<T>
  {
    if (Raw()) Svc().Free(reinterpret_cast<void*>(Raw()));
    Raw() = ToWord(fresh);
  }
};

// The 17 globals, by their names; `g.tileDir` is the tile directory.
struct Globals {
  Global<G::tileDir, host::Text> tileDir;
  Global<G::tilePrefix, host::Text> tilePrefix;
  Global<G::entryName, host::Text> entryName;
  Global<G::gridSize, std::int32_t> gridSize;
  Global<G::tileEdge, std::int32_t> tileEdge;
  Global<G::mosaicEdge, std::int32_t> mosaicEdge;
  Global<G::gdipStartupInput, std::uint32_t*> gdipStartupInput;
  Global<G::gdipToken, host::Word> gdipToken;
  Global<G::screenDc, host::Word> screenDc;
  Global<G::mosaicDc, host::Word> mosaicDc;
  Global<G::mosaicBitmap, host::Word> mosaicBitmap;
  Global<G::savedBitmap, host::Word> savedBitmap;
  Global<G::rowIndex, std::int32_t> rowIndex;
  Global<G::bmpFileBytes, host::Buffer> bmpFileBytes;
  Global<G::colIndex, std::int32_t> colIndex;
  Global<G::tilesDrawn, std::int32_t> tilesDrawn;
  Global<G::outputPath, host::Text> outputPath;
};
inline constexpr Globals g{};

// The same ownership rule for a routine's own local variables.
template <typename T>
inline void AssignLocal(T*& local, T* fresh) {
  if (local) Svc().Free(local);
  local = fresh;
}

// --- constants ----------------------------------------------------------------
// A constant of the pool: its address through its cell, read as T (a text, a
// double or the empty byte buffer).
template <K k, typename T>
struct Constant {
  const char* Address() const {
    constexpr std::uint32_t at = CellOffset(CellKind::kConst, std::uint32_t(k));
    return reinterpret_cast<const char*>(Link::Cell(at));
  }
  operator T() const {
    if constexpr (std::is_same_v<T, double>) {
      double d;
      std::memcpy(&d, Address(), sizeof d);
      return d;
    } else {
      return reinterpret_cast<T>(Address());
    }
  }
};

// The constants the routines use, by name.
struct Constants {
  Constant<K::kFixedMergeDir, const char*> fixedMergeDir;
  Constant<K::kEmpty, const char*> empty;
  Constant<K::kBackslash, const char*> backslash;
  Constant<K::kAllPattern, const char*> allPattern;
  Constant<K::kTileSide, double> tileSide;
  Constant<K::kBitmapFailShort, const char*> bitmapFailShort;
  Constant<K::kDotDot, const char*> dotDot;
  Constant<K::kDot, const char*> dot;
  Constant<K::kEmptyBuffer, const host::BufferHeader*> emptyBuffer;
  Constant<K::kFixedMergeOut, const char*> fixedMergeOut;
  Constant<K::kOne, double> one;
  Constant<K::kZeroZero, const char*> zeroZero;
  Constant<K::kZero, const char*> zero;
  Constant<K::kPngSuffix, const char*> pngSuffix;
  Constant<K::kNodataName, const char*> nodataName;
  Constant<K::kProgressSteps, double> progressSteps;
  Constant<K::kSizeEpsilon, double> sizeEpsilon;
  Constant<K::kWideCharBytes, double> wideCharBytes;
  Constant<K::kFileHeaderBytes, double> fileHeaderBytes;
  Constant<K::kFixedTile, const char*> fixedTile;
  Constant<K::kFixedTileOut, const char*> fixedTileOut;
  Constant<K::kFixedPngPattern, const char*> fixedPngPattern;
  Constant<K::kBitmapFailLong, const char*> bitmapFailLong;
  Constant<K::kMergeDone, const char*> mergeDone;
  Constant<K::kSaveFailed, const char*> saveFailed;
  Constant<K::kFolderPrompt, const char*> folderPrompt;
  Constant<K::kLetterX, const char*> letterX;
  Constant<K::kWrongDir, const char*> wrongDir;
  Constant<K::kNoTiles, const char*> noTiles;
  Constant<K::kStar, const char*> star;
  Constant<K::kTilePathLabel, const char*> tilePathLabel;
  Constant<K::kSavePrompt, const char*> savePrompt;
  Constant<K::kSaveFilter, const char*> saveFilter;
  Constant<K::kBmpSuffix, const char*> bmpSuffix;
  Constant<K::kSavePathLabel, const char*> savePathLabel;
  Constant<K::kAuthorUrl, const char*> authorUrl;
  Constant<K::kFixedDirPattern, const char*> fixedDirPattern;
};
inline constexpr Constants pool{};

// --- identifiers ------------------------------------------------------------------
template <std::uint32_t id>
inline std::uint32_t Id() {
  constexpr std::uint32_t at = CellOffset(CellKind::kWindowId, id);
  return static_cast<std::uint32_t>(Link::Cell(at));
}
template <NativeId call>
inline std::uint32_t NativeIndex() {
  constexpr std::uint32_t at = CellOffset(CellKind::kNativeIndex, Index(call));
  return static_cast<std::uint32_t>(Link::Cell(at));
}
inline std::uint32_t PaneaLibrary() {
  constexpr std::uint32_t at = CellOffset(CellKind::kLibraryIndex, std::uint32_t(host::Library::Panea));
  return static_cast<std::uint32_t>(Link::Cell(at));
}
inline std::uint32_t DialogRefTag() {
  constexpr std::uint32_t at = CellOffset(CellKind::kTypeTag, std::uint32_t(host::TypeTag::kCommonDialogRef));
  return static_cast<std::uint32_t>(Link::Cell(at));
}

// --- native calls ---------------------------------------------------------------
// The host's CallNative service, through its stub.
inline host::Word CallNative(std::uint32_t index, std::initializer_list<host::Word> args) {
  const auto* slot = reinterpret_cast<const host::Word*>(Link::Cell(ServiceCellOffset(host::Slot::CallNative)));
  return reinterpret_cast<host::CallNativeFn>(*slot)(index, static_cast<std::uint32_t>(args.size()), args.begin());
}

// One row of the table as a typed function: the arguments become words, the
// call goes to the host with the row's index as its cell holds it, and the
// result word is read back as the row's result type.
template <NativeId call, typename Signature>
struct NativeFunction;
template <NativeId call, typename R, typename... A>
struct NativeFunction<call, R(A...)> {
  R operator()(A... args) const {
    if constexpr (std::is_void_v<R>) CallNative(NativeIndex<call>(), {ToWord<A>(args)...});
    else return FromWord<R>(CallNative(NativeIndex<call>(), {ToWord<A>(args)...}));
  }
};

// Every native call of the image, by its row's name.
struct NativeCalls {
#define MOSALIN_NATIVE_MEMBER(name, entry, library, signature) NativeFunction<NativeId::k##name, signature> name;
  MOSALIN_NATIVE_CALLS(MOSALIN_NATIVE_MEMBER)
#undef MOSALIN_NATIVE_MEMBER
};
inline constexpr NativeCalls native{};

// --- properties of the main window's controls -------------------------------------
template <std::uint32_t control>
inline void WriteInt(std::uint32_t property, std::int32_t value) {
  Svc().WriteInteger(Id<kMainWindow>(), Id<control>(), property, value);
}
template <std::uint32_t control>
inline void WriteText(std::uint32_t property, const char* value) {
  Svc().WriteText(Id<kMainWindow>(), Id<control>(), property, value);
}
template <std::uint32_t control>
inline host::Text ReadText(std::uint32_t property) {
  return Svc().ReadText(Id<kMainWindow>(), Id<control>(), property);
}

// The address of a routine's entry cell, through its type-3 cell.
template <Routine r>
inline host::Word RoutineCell() {
  constexpr std::uint32_t at = CellOffset(CellKind::kRoutineAddr, Offset(r));
  return Link::Cell(at);
}

}  // namespace image
