// Typed access to the runtime host's services for the program's routines.
//
// A Services object holds the address of each service-table slot (as the
// routines find them through their service stubs) and turns typed calls into
// the host's calling convention: argument records for support commands,
// argument words for native calls, index word -1 for properties.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "host/abi.h"
#include "host/args.h"

namespace host {

class Services {
 public:
  // slotAddress[i] is the address of slot i of the host's table (null for the
  // slot that is never called).
  explicit Services(const Word* const (&slotAddress)[kSlotCount]) {
    for (std::size_t i = 0; i < kSlotCount; ++i) slot_[i] = slotAddress[i];
  }

  // --- the slots themselves -------------------------------------------------
  Word CallNative(std::uint32_t index, std::initializer_list<Word> args) const {
    return Fn<CallNativeFn>(Slot::CallNative)(index, static_cast<std::uint32_t>(args.size()),
                                              args.begin());
  }
  Word CallLibraryCommand(std::uint32_t library, std::uint32_t command,
                          std::initializer_list<ArgRecord> args) const {
    return Fn<CallLibraryCommandFn>(Slot::CallLibraryCommand)(
        library, command, static_cast<std::uint32_t>(args.size()), args.begin());
  }
  Word CallCoreCommand(Core command, std::initializer_list<ArgRecord> args) const {
    return Fn<CallCoreCommandFn>(Slot::CallCoreCommand)(
        static_cast<std::uint32_t>(command), static_cast<std::uint32_t>(args.size()), args.begin());
  }
  Word ReadProperty(std::uint32_t window, std::uint32_t control, std::uint32_t property) const {
    return Fn<ReadPropertyFn>(Slot::ReadProperty)(window, control, property, -1);
  }
  void WriteProperty(std::uint32_t window, std::uint32_t control, std::uint32_t property,
                     std::uint64_t value) const {
    Fn<WritePropertyFn>(Slot::WriteProperty)(window, control, property, -1,
                                             static_cast<std::uint32_t>(value),
                                             static_cast<std::uint32_t>(value >> 32));
  }
  void* Allocate(std::uint32_t bytes) const { return Fn<AllocateFn>(Slot::Allocate)(bytes); }
  void Free(void* block) const { Fn<FreeFn>(Slot::Free)(block); }
  [[noreturn]] void EndProgram() const {
    Fn<EndProgramFn>(Slot::EndProgram)(0);
    __builtin_trap();  // the host never returns from EndProgram
  }
  void RunMessageLoop() const { Fn<RunMessageLoopFn>(Slot::RunMessageLoop)(0); }
  void LoadStartWindow(std::uint32_t windowId) const {
    Fn<LoadStartWindowFn>(Slot::LoadStartWindow)(windowId);
  }
  Word AuxService(Aux function, Word a, Word b, Word c, Word d) const {
    return Fn<AuxServiceFn>(Slot::AuxService)(static_cast<std::uint32_t>(function), a, b, c, d);
  }

  // --- typed helpers ---------------------------------------------------------
  // Property reads and writes.
  Text ReadText(std::uint32_t window, std::uint32_t control, std::uint32_t property) const {
    return reinterpret_cast<Text>(ReadProperty(window, control, property));
  }
  void WriteInteger(std::uint32_t window, std::uint32_t control, std::uint32_t property,
                    std::int32_t value) const {
    WriteProperty(window, control, property, static_cast<std::uint32_t>(value));
  }
  // The host copies the text; the caller keeps (and frees) its own.
  void WriteText(std::uint32_t window, std::uint32_t control, std::uint32_t property,
                 ConstText value) const {
    WriteProperty(window, control, property,
                  reinterpret_cast<std::uintptr_t>(value ? value : kEmptyText));
  }

  // Directory search. `handle` is the caller's search-handle word.
  Text FindFirst(ConstText pattern, std::uint32_t attribute, Word* handle) const {
    return reinterpret_cast<Text>(AuxService(Aux::FindFile, reinterpret_cast<Word>(pattern),
                                             attribute, 0, reinterpret_cast<Word>(handle)));
  }
  Text FindFirstAnyAttribute(ConstText pattern, Word* handle) const {
    return reinterpret_cast<Text>(AuxService(Aux::FindFile, reinterpret_cast<Word>(pattern), 0, 1,
                                             reinterpret_cast<Word>(handle)));
  }
  Text FindNext(std::uint32_t attribute, std::uint32_t noFilter, Word* handle) const {
    return reinterpret_cast<Text>(
        AuxService(Aux::FindFile, 0, attribute, noFilter, reinterpret_cast<Word>(handle)));
  }
  void EndFind(Word handle) const { AuxService(Aux::EndFind, handle, 0, 0, 0); }
  void SetEndRoutine(Word entryCellAddress) const {
    AuxService(Aux::SetEndRoutine, entryCellAddress, 0, 0, 0);
  }

  // velmo commands.
  Text ProgramDir() const { return AsText(CallCoreCommand(Core::ProgramDir, {})); }
  std::int32_t TextLength(ConstText t) const {
    return AsInt(CallCoreCommand(Core::TextLength, {Arg::Text(t)}));
  }
  Text RightText(ConstText t, std::int32_t n) const {
    return AsText(CallCoreCommand(Core::RightText, {Arg::Text(t), Arg::Integer(n)}));
  }
  std::int32_t FindText(ConstText t, ConstText sought) const {
    return AsInt(CallCoreCommand(
        Core::FindText, {Arg::Text(t), Arg::Text(sought), Arg::Omitted(), Arg::Logical(false)}));
  }
  std::int32_t FindTextBack(ConstText t, ConstText sought) const {
    return AsInt(CallCoreCommand(
        Core::FindTextBack, {Arg::Text(t), Arg::Text(sought), Arg::Omitted(), Arg::Logical(false)}));
  }
  Text ToText(double value) const {
    return AsText(CallCoreCommand(Core::ToText, {Arg::Double(value)}));
  }
  Text ToText(std::int32_t value) const {
    return AsText(CallCoreCommand(Core::ToText, {Arg::Integer(value)}));
  }
  Buffer ZeroBytes(std::int32_t n) const {
    return reinterpret_cast<Buffer>(CallCoreCommand(Core::ZeroBytes, {Arg::Integer(n)}));
  }
  std::uint32_t FileExists(ConstText path) const {
    return static_cast<std::uint32_t>(CallCoreCommand(Core::FileExists, {Arg::Text(path)}));
  }
  std::uint32_t WriteBytes(ConstText path, const BufferHeader* bytes) const {
    return static_cast<std::uint32_t>(
        CallCoreCommand(Core::WriteBytes, {Arg::Text(path), Arg::Bytes(bytes)}));
  }
  void ShowMessage(ConstText text, std::int32_t style) const {
    CallCoreCommand(Core::ShowMessage, {Arg::Text(text), Arg::Integer(style), Arg::Omitted()});
  }
  void Idle350() const { CallCoreCommand(Core::Idle350, {}); }
  void OpenDialog(std::uint32_t window, std::uint32_t control, std::uint32_t tag) const {
    CallCoreCommand(Core::OpenDialog, {Arg::ControlRef(window, control, tag)});
  }

  // panea commands; `library` is panea's index in the image's library list.
  Text BrowseFolder(std::uint32_t library, ConstText prompt) const {
    return AsText(CallLibraryCommand(library, static_cast<std::uint32_t>(Panea::BrowseFolder),
                                     {Arg::Text(prompt), Arg::Omitted()}));
  }
  void OpenTarget(std::uint32_t library, ConstText target) const {
    CallLibraryCommand(library, static_cast<std::uint32_t>(Panea::OpenTarget),
                       {Arg::Omitted(), Arg::Text(target), Arg::Omitted(), Arg::Omitted()});
  }

 private:
  template <typename F>
  F Fn(Slot s) const {
    return reinterpret_cast<F>(*slot_[SlotIndex(s)]);
  }
  static Text AsText(Word w) { return reinterpret_cast<Text>(w); }
  static std::int32_t AsInt(Word w) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(w)); }

  const Word* slot_[kSlotCount] = {};
};

}  // namespace host
