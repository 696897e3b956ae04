// kernel32: module path, text helpers, library loading, process exit, code
// page conversion and memory copy.
//
// Library loading maps Windows module names onto shared objects:
//  - a name without extension gets ".dll" (a trailing '.' means "no
//    extension" and is dropped), as on Windows;
//  - a name with a drive or a separator is a path and goes through the path
//    map;
//  - a bare name is looked for beside the executable only (there is no
//    system directory of loadable modules; the system libraries exist as
//    export tables, see exports.h);
//  - the file is loaded with dlopen; a file that exists but does not load
//    fails with ERROR_BAD_EXE_FORMAT, a missing one with ERROR_MOD_NOT_FOUND.
// Module handles are the dlopen handles; only handles that LoadLibraryA gave
// out (and that are not yet fully freed) are accepted.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/exports.h"
#include "platform/paths.h"
#include "platform/win32.h"

namespace {

thread_local DWORD tLastError = ERROR_SUCCESS;

std::mutex gModulesMutex;
std::map<void*, unsigned> gModules;  // dlopen handle -> LoadLibraryA count

bool IsLoaded(void* handle) {
  std::lock_guard lock(gModulesMutex);
  return gModules.count(handle) != 0;
}

// The POSIX file a module name stands for, or "" (with the last error set).
std::string ModuleFile(LPCSTR fileName) {
  bool exact = false;
  std::string name = platform::AnsiToUtf8(fileName, &exact);
  if (!exact || name.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return {};
  }
  std::size_t base = name.find_last_of("\\/");
  base = base == std::string::npos ? 0 : base + 1;
  if (name.size() > base && name.back() == '.')
    name.pop_back();
  else if (name.find('.', base) == std::string::npos)
    name += ".dll";

  const bool isPath = base > 0 || (name.size() >= 2 && name[1] == ':');
  std::string posix;
  if (isPath) {
    std::optional<std::string> mapped = platform::Utf8WindowsToPosix(name);
    if (mapped) posix = *mapped;
  } else if (std::string dir = platform::ExecutableDir(); !dir.empty()) {
    posix = (dir == "/" ? dir : dir + "/") + name;
  }
  struct stat st {};
  if (posix.empty() || stat(posix.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return {};
  }
  return posix;
}

enum Charset { kAnsi, kUtf8, kUnsupported };

Charset CharsetOf(UINT codePage) {
  switch (codePage) {
    case CP_ACP:
    case CP_OEMCP:
    case CP_THREAD_ACP:
    case CP_GBK:
      return kAnsi;
    case CP_UTF8:
      return kUtf8;
    default:
      return kUnsupported;
  }
}

}  // namespace

extern "C" {

DWORD GetLastError(void) { return tLastError; }

void SetLastError(DWORD code) { tLastError = code; }

// The Windows form of the executable's path (module null) or of a module that
// LoadLibraryA loaded. A path without a Windows form (a name with "\" or
// invalid UTF-8) fails like a missing file: 0, ERROR_FILE_NOT_FOUND.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  std::string posix;
  if (!module) {
    posix = platform::ExecutablePath();
  } else if (IsLoaded(module)) {
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) posix = map->l_name;
  } else {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  std::optional<std::string> windows = posix.empty() ? std::nullopt : platform::PosixToWindows(posix);
  if (!windows) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (!fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (windows->size() < size) {
    std::memcpy(fileName, windows->c_str(), windows->size() + 1);
    return static_cast<DWORD>(windows->size());
  }
  // Too long: as much as fits, always terminated, and the capacity as result.
  std::memcpy(fileName, windows->data(), size - 1);
  fileName[size - 1] = '\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

LPSTR lstrcatA(LPSTR dest, LPCSTR src) {
  if (!dest || !src) return nullptr;
  return std::strcat(dest, src);
}

int lstrlenA(LPCSTR text) {
  if (!text) return 0;
  std::size_t n = std::strlen(text);
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

HMODULE LoadLibraryA(LPCSTR fileName) {
  if (!fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string posix = ModuleFile(fileName);
  if (posix.empty()) return nullptr;
  void* handle = dlopen(posix.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  std::lock_guard lock(gModulesMutex);
  ++gModules[handle];
  return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  if (!module || !IsLoaded(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Names only: an "address" below 0x10000 is an ordinal, which shared objects do not have.
  if (!procName || reinterpret_cast<std::uintptr_t>(procName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* symbol = dlsym(module, procName);
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
  {
    std::lock_guard lock(gModulesMutex);
    auto it = module ? gModules.find(module) : gModules.end();
    if (it == gModules.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--it->second == 0) gModules.erase(it);
  }
  dlclose(module);
  return TRUE;
}

// Ends the process after writing out buffered output. The exit status is the
// code's low 8 bits, which is all a POSIX status holds: 0xFFFFFFFF becomes 255.
void ExitProcess(UINT exitCode) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::exit(static_cast<int>(exitCode & 0xFF));
}

// Code pages 0 (CP_ACP), 1, 3 and 936 are the ANSI code page; 65001 is UTF-8.
// Flags: 0, MB_PRECOMPOSED (no effect) and MB_ERR_INVALID_CHARS (fail with
// ERROR_NO_UNICODE_TRANSLATION on input that does not decode; without it each
// undecodable byte becomes U+FFFD). A count of -1 takes the text up to and
// including its terminator. When the output does not fit, nothing is written.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                        LPWSTR wide, int wideCount) {
  const Charset charset = CharsetOf(codePage);
  if (charset == kUnsupported || !multiByte || multiByteCount == 0 || multiByteCount < -1 ||
      wideCount < 0 || (wideCount > 0 && !wide)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (flags & ~(MB_PRECOMPOSED | MB_ERR_INVALID_CHARS)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const std::size_t length =
      multiByteCount == -1 ? std::strlen(multiByte) + 1 : static_cast<std::size_t>(multiByteCount);
  const std::string_view input(multiByte, length);
  bool exact = true;
  const std::u16string units =
      charset == kAnsi ? platform::AnsiToUtf16(input, &exact) : platform::Utf8ToUtf16(input, &exact);
  if (!exact && (flags & MB_ERR_INVALID_CHARS)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (units.size() > INT_MAX) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int needed = static_cast<int>(units.size());
  if (wideCount == 0) return needed;
  if (wideCount < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(wide, units.data(), units.size() * sizeof(char16_t));
  return needed;
}

void RtlMoveMemory(void* dest, const void* src, SIZE_T length) {
  if (length == 0 || !dest || !src) return;
  std::memmove(dest, src, length);
}

}  // extern "C"

namespace platform {
namespace {
constexpr Export kKernel32Exports[] = {
    PLATFORM_EXPORT(MultiByteToWideChar),
    PLATFORM_EXPORT(RtlMoveMemory),
};
}  // namespace

const Library kKernel32Library{"kernel32.dll", true, kKernel32Exports};

}  // namespace platform
