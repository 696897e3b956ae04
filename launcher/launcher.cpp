#include "launcher/launcher.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/win32.h"
#endif

#include "host/abi.h"

namespace launcher {
namespace {

constexpr char kLibraryBeside[] = "velmo.vxr";
constexpr char kLibraryInstalled[] = "velmo.vxl";
constexpr char kRegistryKey[] = "Software\\Varnel\\Q\\Install";
constexpr char kRegistryValue[] = "Path";
constexpr REGSAM kKeyAccess = 131097;  // 0x20019, read access
constexpr DWORD kValueCapacity = 259;
constexpr char kEntry[] = "GetNewSock";
constexpr char kErrorText[] = "Not found the kernel library or the kernel library is invalid!";
constexpr char kErrorCaption[] = "Error";
constexpr UINT kErrorStyle = 16;
constexpr DWORD kPathBuffer = 260;

// Whether `text` + `append` still fits into the path buffer with its zero.
bool Fits(const char* text, const char* append) {
  return std::strlen(text) + std::strlen(append) + 1 <= kPathBuffer;
}

// Step 1: the executable's directory with its trailing backslash, or false.
// The whole buffer is offered for the path, and the last backslash of the
// full path is taken, so a long path or a short file name never leads the
// search into another directory; a path that does not fit is no directory.
bool ExecutableDirectory(char* path) {
  DWORD n = GetModuleFileNameA(nullptr, path, kPathBuffer);
  if (n == 0 || n >= kPathBuffer) return false;  // failed, or truncated
  for (DWORD i = n; i-- > 0;) {
    if (path[i] == '\\') {
      path[i + 1] = 0;
      return true;
    }
  }
  return false;
}

// Steps 3 to 5: the installed library through the registry, or null.
HMODULE LoadInstalledLibrary(char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, kKeyAccess, &key) != ERROR_SUCCESS)
    return nullptr;
  DWORD size = kValueCapacity;
  LONG read = RegQueryValueExA(key, kRegistryValue, nullptr, nullptr,
                               reinterpret_cast<LPBYTE>(path), &size);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS) return nullptr;
  path[kValueCapacity] = 0;  // a value stored without its zero still ends here
  int len = lstrlenA(path);
  if (len == 0 || path[len - 1] != '\\') {
    if (!Fits(path, "\\")) return nullptr;
    lstrcatA(path, "\\");
  }
  if (!Fits(path, kLibraryInstalled)) return nullptr;
  lstrcatA(path, kLibraryInstalled);
  return LoadLibraryA(path);
}

}  // namespace

int Run(std::uint8_t* programImage) {
  char path[kPathBuffer] = {};
  HMODULE library = nullptr;
  if (ExecutableDirectory(path) && Fits(path, kLibraryBeside)) {
    lstrcatA(path, kLibraryBeside);
    library = LoadLibraryA(path);
  }
  if (!library) library = LoadInstalledLibrary(path);
  if (library) {
    // The entry's real type; GetProcAddress hands out a generic one.
    auto getNewSock = reinterpret_cast<host::GetNewSockFn>(
        reinterpret_cast<void*>(GetProcAddress(library, kEntry)));
    if (!getNewSock) {
      FreeLibrary(library);
    } else if (host::RunImageFn run = getNewSock(host::kGetNewSockKey)) {
      run(programImage);
      ExitProcess(0);
    } else {
      FreeLibrary(library);
    }
  }
  MessageBoxA(nullptr, kErrorText, kErrorCaption, kErrorStyle);
  return -1;
}

}  // namespace launcher
