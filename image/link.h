// The program's view of its own link area while it runs.
//
// Routines never hold the addresses of constants, globals or host services
// themselves: they read them from the cells of the code segment, which the
// runtime host has fixed up (constants, globals, service slots, the end
// routine) and whose identifiers it may have renumbered. Each accessor below
// names its cell at compile time, so a routine that uses a cell the link pool
// lacks does not build.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>

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
  static std::uint8_t* CodeBase() { return codeBase_; }
  static host::Word Cell(std::uint32_t codeOffset) {
    host::Word w;
    std::memcpy(&w, codeBase_ + codeOffset, sizeof w);
    return w;
  }

 private:
  static inline std::uint8_t* codeBase_ = nullptr;
};

// The address of a variable as an argument word of a native call.
template <typename T>
inline host::Word Addr(T* p) {
  return reinterpret_cast<host::Word>(p);
}

// --- host services, through the service stubs --------------------------------
inline host::Services Svc() {
  const host::Word* slots[host::kSlotCount] = {};
  for (host::Slot s : host::kCalledSlots)
    slots[host::SlotIndex(s)] =
        reinterpret_cast<const host::Word*>(Link::Cell(ServiceCellOffset(s)));
  return host::Services(slots);
}

// --- constants ----------------------------------------------------------------
template <K k>
inline const char* ConstText() {
  constexpr std::uint32_t at = CellOffset(CellKind::Const, std::uint32_t(k));
  return reinterpret_cast<const char*>(Link::Cell(at));
}
template <K k>
inline double ConstDouble() {
  double d;
  std::memcpy(&d, ConstText<k>(), sizeof d);
  return d;
}
template <K k>
inline const host::BufferHeader* ConstBuffer() {
  return reinterpret_cast<const host::BufferHeader*>(ConstText<k>());
}

// --- globals --------------------------------------------------------------------
template <G g>
inline host::Word& Var() {
  constexpr std::uint32_t at = CellOffset(CellKind::Global, std::uint32_t(g));
  return *reinterpret_cast<host::Word*>(Link::Cell(at));
}
template <G g>
inline std::int32_t Int() {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(Var<g>()));
}
template <G g>
inline void SetInt(std::int32_t v) {
  Var<g>() = static_cast<host::Word>(static_cast<std::intptr_t>(v));
}
template <G g>
inline host::Text TextVar() {
  return reinterpret_cast<host::Text>(Var<g>());
}
template <G g>
inline host::Buffer BufferVar() {
  return reinterpret_cast<host::Buffer>(Var<g>());
}

// The ownership rule for every text or buffer held in a variable: the caller
// computes the new value first; the old block is freed when it is not null;
// then the new pointer is stored.
inline void AssignOwned(host::Word& slot, void* fresh) {
  if (slot) Svc().Free(reinterpret_cast<void*>(slot));
  slot = reinterpret_cast<host::Word>(fresh);
}
template <G g>
inline void Assign(void* fresh) {
  AssignOwned(Var<g>(), fresh);
}
// The same rule for a routine's own local variables.
template <typename T>
inline void AssignLocal(T*& local, T* fresh) {
  if (local) Svc().Free(local);
  local = fresh;
}

// --- identifiers ------------------------------------------------------------------
template <std::uint32_t id>
inline std::uint32_t Id() {
  constexpr std::uint32_t at = CellOffset(CellKind::WindowId, id);
  return static_cast<std::uint32_t>(Link::Cell(at));
}
template <NativeId call>
inline std::uint32_t NativeIndex() {
  constexpr std::uint32_t at = CellOffset(CellKind::NativeIndex, Index(call));
  return static_cast<std::uint32_t>(Link::Cell(at));
}
inline std::uint32_t PaneaLibrary() {
  constexpr std::uint32_t at = CellOffset(CellKind::LibraryIndex,
                                                 std::uint32_t(host::Library::Panea));
  return static_cast<std::uint32_t>(Link::Cell(at));
}
inline std::uint32_t DialogRefTag() {
  constexpr std::uint32_t at = CellOffset(CellKind::TypeTag,
                                                 std::uint32_t(host::TypeTag::CommonDialogRef));
  return static_cast<std::uint32_t>(Link::Cell(at));
}

// A native call, named by its row of the image's table of native calls.
template <NativeId call>
inline host::Word Native(std::initializer_list<host::Word> args) {
  return Svc().CallNative(NativeIndex<call>(), args);
}

// A property write on a control of the main window.
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
  constexpr std::uint32_t at = CellOffset(CellKind::RoutineAddr, Offset(r));
  return Link::Cell(at);
}

}  // namespace image
