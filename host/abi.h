// The binary interface between the program image's compiled routines and the
// runtime host: word size, texts, byte buffers, argument records, type tags,
// the service table and the support-command numbers.
//
// Everything here is plain data and plain function-pointer types so that the
// program side (which includes this header) and the host side (which fills the
// service table) agree without sharing any code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace host {

// One machine word. Globals, service-table slots and link cells are one word
// each: 4 bytes on a 32-bit target, 8 bytes on x86-64. Offsets stored in the
// image count 4-byte units (slot 0x0c is the fourth slot, global 0x14 the sixth
// global); the host scales them to words.
using Word = std::uintptr_t;
inline constexpr std::uint32_t kStoredUnit = 4;

// A text: zero-terminated bytes in the ANSI code page (936 for the program's
// own texts). A null pointer counts as the empty text.
using Text = char*;
using ConstText = const char*;

// A byte buffer: one block {u32 always 1, u32 length, length data bytes}.
// A null pointer counts as the empty buffer.
struct BufferHeader {
  std::uint32_t one;
  std::uint32_t length;
};
static_assert(sizeof(BufferHeader) == 8);
using Buffer = BufferHeader*;

// Logical values: callers that test for success compare with 1.
inline constexpr std::uint32_t kTrue = 1;
inline constexpr std::uint32_t kFalse = 0;

// Type tags of support-command arguments.
enum class TypeTag : std::uint32_t {
  kOmitted = 0,
  kText = 0x80000004,
  kInteger = 0x80000301,
  kDouble = 0x80000601,
  kLogical = 0x80000002,
  kBuffer = 0x80000005,
  // A control reference: the high half is the 1-based library number (1 =
  // velmo), the low half the control kind (0x1F = common dialog).
  kCommonDialogRef = 0x0001001F,
};

// One support-command argument: {value low, value high, type tag}. A pointer
// (text, buffer) fills both value words on a 64-bit target; a double fills
// them with its IEEE 754 bits; a control reference puts the window id in the
// low word and the control id in the high word.
struct ArgRecord {
  std::uint32_t low;
  std::uint32_t high;
  std::uint32_t tag;
};
static_assert(sizeof(ArgRecord) == 12);

// Service-table slots, by their stored offset. The host's table has one word
// per slot, so slot offset s is table index s / 4.
enum class Slot : std::uint32_t {
  ReportRuntimeError = 0x00,
  CallNative = 0x04,
  CallLibraryCommand = 0x08,
  CallCoreCommand = 0x0c,
  ReadProperty = 0x10,
  WriteProperty = 0x14,
  Allocate = 0x18,
  Unused1c = 0x1c,  // never called
  Free = 0x20,
  EndProgram = 0x24,
  RunMessageLoop = 0x28,
  LoadStartWindow = 0x2c,
  AuxService = 0x30,
};
inline constexpr std::size_t kSlotCount = 13;
constexpr std::size_t SlotIndex(Slot s) { return static_cast<std::uint32_t>(s) / kStoredUnit; }

// The slots that the program calls (all but 0x1c), in slot order: each has a
// service stub at the end of the code segment.
inline constexpr Slot kCalledSlots[] = {
    Slot::ReportRuntimeError, Slot::CallNative,      Slot::CallLibraryCommand,
    Slot::CallCoreCommand,    Slot::ReadProperty,    Slot::WriteProperty,
    Slot::Allocate,           Slot::Free,            Slot::EndProgram,
    Slot::RunMessageLoop,     Slot::LoadStartWindow, Slot::AuxService,
};

// Function types of the slots.
extern "C" {
using ReportRuntimeErrorFn = void (*)(std::uint32_t code);
// index: native-call index; argc: number of argument words passed (the
// "stack depth"); argv: the argument words, first argument first.
using CallNativeFn = Word (*)(std::uint32_t index, std::uint32_t argc, const Word* argv);
using CallLibraryCommandFn = Word (*)(std::uint32_t library, std::uint32_t command,
                                      std::uint32_t argc, const ArgRecord* args);
using CallCoreCommandFn = Word (*)(std::uint32_t command, std::uint32_t argc,
                                   const ArgRecord* args);
using ReadPropertyFn = Word (*)(std::uint32_t window, std::uint32_t control,
                                std::uint32_t property, std::int32_t index);
using WritePropertyFn = void (*)(std::uint32_t window, std::uint32_t control,
                                 std::uint32_t property, std::int32_t index,
                                 std::uint32_t low, std::uint32_t high);
using AllocateFn = void* (*)(std::uint32_t bytes);
using FreeFn = void (*)(void* block);
using EndProgramFn = void (*)(Word code);
using RunMessageLoopFn = void (*)(Word unused);
using LoadStartWindowFn = void (*)(std::uint32_t windowId);
using AuxServiceFn = Word (*)(std::uint32_t function, Word a, Word b, Word c, Word d);
}

// The service table the host hands out: one function address per slot.
struct ServiceTable {
  Word slot[kSlotCount];
};

// AuxService sub-functions.
enum class Aux : std::uint32_t {
  FindFile = 0,   // (pattern or 0, attribute, no-filter flag, &handle) -> text
  EndFind = 1,    // (handle value)
  SetEndRoutine = 3,  // (address of the end routine's entry cell)
};
inline constexpr std::uint32_t kAttrDirectory = 0x10;

// Support libraries, by their index in the image's list.
enum class Library : std::uint32_t { Velmo = 0, Panea = 1 };

// velmo commands (CallCoreCommand).
enum class Core : std::uint32_t {
  ProgramDir = 0x104,
  TextLength = 0x130,
  RightText = 0x138,
  FindText = 0x148,
  FindTextBack = 0x14c,
  ToText = 0x168,
  ZeroBytes = 0x1bc,
  FileExists = 0x24c,
  WriteBytes = 0x26c,
  ShowMessage = 0x300,
  Idle350 = 0x350,  // accepted and ignored
  OpenDialog = 0x3a4,
};

// panea commands (CallLibraryCommand with library 1).
enum class Panea : std::uint32_t {
  BrowseFolder = 8,
  OpenTarget = 0x18,
};

// Runtime error codes.
inline constexpr std::uint32_t kErrorStackDepth = 6;

// Message-box styles the program uses.
inline constexpr std::uint32_t kStylePlain = 0;
inline constexpr std::uint32_t kStyleError = 0x10;
inline constexpr std::uint32_t kStyleInfo = 0x40;

// The routine GetNewSock(1000) returns: runs the program image at `image`.
extern "C" {
using RunImageFn = void (*)(void* image);
using GetNewSockFn = RunImageFn (*)(std::uint32_t);
}
inline constexpr std::uint32_t kGetNewSockKey = 1000;

}  // namespace host
