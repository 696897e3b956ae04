// How the runtime host binds and makes the program image's native calls.
//
// Binding looks the entry up by library file name and entry name, as
// LoadLibrary and GetProcAddress do on Windows (an empty library name means
// the system libraries every GUI process has: kernel32, user32, gdi32).
// A call passes the program's argument words, first argument first, and
// reports whether the stack depth changed: whether the function took a
// different number of argument words than it was given.
//
// One implementation per build: native_call_linux.cpp binds to the
// platform's export tables (the depth check compares with the export's
// declared argument list), native_call_windows.cpp to the system's own
// libraries, calls them as the stdcall functions they are and compares the
// stack pointer before and after the call.
#pragma once

#include <cstdint>
#include <string>

#include "host/abi.h"

namespace velmo {

// The bound function, or null when no library of that name exports the entry.
const void* BindNative(const std::string& library, const std::string& entry);

struct NativeResult {
  host::Word value = 0;
  bool depthChanged = false;
};

// Calls `target` (from BindNative) with `argc` argument words. Arguments the
// function takes beyond those passed read as 0.
NativeResult InvokeNative(const void* target, std::uint32_t argc, const host::Word* argv);

// Why the last GdipLoadImageFromFile made on this thread failed, where the
// library that served it says: "missing", "unreadable", "not-a-picture",
// "truncated", "too-large" or "damaged"; empty when it does not say (the
// system's GDI+ gives its status only).
std::string LastPictureFailure();

}  // namespace velmo
