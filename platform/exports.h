// Export tables of the platform libraries: what the host binds the program
// image's native calls to, by library file name and entry name, as
// LoadLibrary and GetProcAddress would on Windows.
//
// An export pairs an entry name with a thunk and the entry's declared argument
// list. The thunk takes the call's argument words (first argument first),
// converts each to the parameter's type, calls the function and returns its
// result as a word. The argument list is what the host compares the number of
// words passed with (the stack-depth check).
//
// Word conventions:
//  - integers and handles: the low bits of the word (a 32-bit parameter takes
//    the low 32 bits);
//  - pointers: the whole word;
//  - REAL (32-bit float): its IEEE 754 bits in the low 32 bits of the word;
//  - results narrower than a word are zero-extended, as a 32-bit result
//    register would hold them; a void result is 0.
//
// Adding a library: define a `Library` in the library's own source file and
// either declare it below and add one line to the list in exports.cpp (code of
// this target), or call RegisterLibrary once at start-up, before native calls
// are bound (code of a target that links this one, which avoids a dependency
// cycle between static libraries). Several tables may share a file name (for
// example GDI entries of "user32.dll" kept with the GDI code); lookups search
// them all, built-in tables first, then registered ones in registration order.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include "host/abi.h"

namespace platform {

enum class ArgKind : std::uint8_t {
  kWord,     // unsigned integer or handle value
  kInt,      // signed integer
  kPointer,  // address
  kReal,     // 32-bit float
};

inline constexpr std::size_t kMaxArgs = 16;

struct ArgList {
  std::uint8_t count = 0;
  std::array<ArgKind, kMaxArgs> kinds{};
};

using Thunk = host::Word (*)(const host::Word* args);

struct Export {
  const char* name;
  Thunk thunk;   // reads args[0 .. args.count - 1]
  ArgList args;
};

struct Library {
  const char* fileName;  // "kernel32.dll", "gdiplus.dll", ...
  bool system;           // searched for native calls with an empty library name
  std::span<const Export> exports;
};

// The export `entryName` (case-sensitive) of library `libraryName` (compared
// without regard to ASCII case; a directory part is ignored and a name without
// extension gets ".dll", as LoadLibrary does). An empty library name searches
// the system libraries: kernel32, user32, gdi32, in that order, then any other
// table marked as system. Null when there is no such export.
const Export* FindExport(std::string_view libraryName, std::string_view entryName);

// Adds a table at run time, searched after the built-in ones. The table must
// outlive every lookup.
void RegisterLibrary(const Library& library);

// Built-in tables, each defined with its functions.
extern const Library kKernel32Library;
extern const Library kUser32Library;

namespace detail {

template <class>
inline constexpr bool kUnsupported = false;

template <class T>
constexpr ArgKind KindOf() {
  if constexpr (std::is_same_v<T, float>) return ArgKind::kReal;
  else if constexpr (std::is_pointer_v<T>) return ArgKind::kPointer;
  else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) return ArgKind::kInt;
  else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) return ArgKind::kWord;
  else static_assert(kUnsupported<T>, "parameter type has no word form");
}

template <class T>
T FromWord(host::Word w) {
  if constexpr (std::is_same_v<T, float>) return std::bit_cast<float>(static_cast<std::uint32_t>(w));
  else if constexpr (std::is_pointer_v<T>) return reinterpret_cast<T>(w);
  else return static_cast<T>(w);
}

template <class R>
host::Word ToWord(R r) {
  if constexpr (std::is_same_v<R, float>) return std::bit_cast<std::uint32_t>(r);
  else if constexpr (std::is_pointer_v<R>) return reinterpret_cast<host::Word>(r);
  else if constexpr (std::is_same_v<R, bool>) return r ? 1 : 0;
  else if constexpr (std::is_enum_v<R>) return ToWord(static_cast<std::underlying_type_t<R>>(r));
  else if constexpr (std::is_integral_v<R>)
    return static_cast<host::Word>(static_cast<std::make_unsigned_t<R>>(r));
  else static_assert(kUnsupported<R>, "result type has no word form");
}

template <auto F, class R, class... A, std::size_t... I>
host::Word Invoke(R (*)(A...), const host::Word* args, std::index_sequence<I...>) {
  if constexpr (std::is_void_v<R>) {
    F(FromWord<A>(args[I])...);
    return 0;
  } else {
    return ToWord(F(FromWord<A>(args[I])...));
  }
}

template <class R, class... A>
constexpr ArgList ArgsOf(R (*)(A...)) {
  static_assert(sizeof...(A) <= kMaxArgs);
  return ArgList{static_cast<std::uint8_t>(sizeof...(A)), {KindOf<A>()...}};
}

template <class R, class... A>
constexpr std::size_t Arity(R (*)(A...)) {
  return sizeof...(A);
}

}  // namespace detail

// The thunk of function F: unpacks the argument words by F's parameter types.
template <auto F>
host::Word ThunkOf(const host::Word* args) {
  return detail::Invoke<F>(F, args, std::make_index_sequence<detail::Arity(F)>{});
}

// An export whose argument list is F's own parameter list.
template <auto F>
constexpr Export MakeExport(const char* name) {
  return Export{name, &ThunkOf<F>, detail::ArgsOf(F)};
}

// The export of function `f` under its own name: `PLATFORM_EXPORT(GetDC)` is
// MakeExport<&GetDC>("GetDC"), the name written once.
#define PLATFORM_EXPORT(f) ::platform::MakeExport<&f>(#f)

}  // namespace platform
