// Native calls on Windows: the system's own libraries, loaded with
// LoadLibraryA and looked up with GetProcAddress, called as stdcall
// functions with the stack pointer compared before and after.
#include <windows.h>

#include <cctype>
#include <map>
#include <mutex>

#include "runtime/native_call.h"

extern "C" host::Word velmo_CallStdcall(const void* fn, const host::Word* argv, std::uint32_t argc,
                                        std::int32_t* depthChange);

namespace velmo {
namespace {

// The most argument words one call passes on; far more than any Windows
// function of the program takes.
constexpr std::uint32_t kMaxArgs = 32;

// Modules stay loaded for the life of the process, one handle per name
// (names compared without regard to case, as Windows does).
HMODULE Module(const std::string& name) {
  static std::mutex mutex;
  static std::map<std::string, HMODULE> loaded;
  std::string key;
  for (char c : name) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::lock_guard lock(mutex);
  auto it = loaded.find(key);
  if (it != loaded.end()) return it->second;
  HMODULE m = LoadLibraryA(name.c_str());
  if (m) loaded.emplace(key, m);
  return m;
}

}  // namespace

const void* BindNative(const std::string& library, const std::string& entry) {
  if (!library.empty()) {
    HMODULE m = Module(library);
    return m ? reinterpret_cast<const void*>(GetProcAddress(m, entry.c_str())) : nullptr;
  }
  for (const char* system : {"kernel32.dll", "user32.dll", "gdi32.dll"}) {
    HMODULE m = Module(system);
    if (FARPROC f = m ? GetProcAddress(m, entry.c_str()) : nullptr)
      return reinterpret_cast<const void*>(f);
  }
  return nullptr;
}

NativeResult InvokeNative(const void* target, std::uint32_t argc, const host::Word* argv) {
  std::int32_t change = 0;
  const std::uint32_t passed = argc < kMaxArgs ? argc : kMaxArgs;
  host::Word value = velmo_CallStdcall(target, argv, passed, &change);
  return {value, change != 0 || passed != argc};
}

std::string LastPictureFailure() { return {}; }

}  // namespace velmo
