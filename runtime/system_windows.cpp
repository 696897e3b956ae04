// The runtime host on Windows: the program's paths and texts go to the
// Windows API as they stand, in the system's ANSI code page.
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <utility>
#include <vector>

#include "runtime/system.h"
#include "runtime/windows_path.h"
#include "runtime/write_file.h"

namespace velmo::sys {
namespace {

std::wstring Widen(std::string_view text, UINT codePage) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string Narrow(std::wstring_view wide, UINT codePage) {
  if (wide.empty()) return {};
  BOOL usedDefault = FALSE;
  // UTF-8 takes no default-character arguments.
  BOOL* used = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int n = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, used);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                        used);
  return out;
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) { return Narrow(Widen(ansi, CP_ACP), CP_UTF8); }
std::string Utf8ToAnsi(std::string_view utf8) { return Narrow(Widen(utf8, CP_UTF8), CP_ACP); }

std::string ProgramDir() {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::string dir(path, n);
  const std::size_t cut = dir.find_last_of('\\');
  if (cut == std::string::npos) return {};
  dir.resize(cut + 1);
  return WithoutTrailingBackslash(std::move(dir));
}

bool FileExists(const char* ansiPath) {
  if (!ansiPath || !*ansiPath) return false;
  const DWORD attributes = GetFileAttributesA(ansiPath);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteBytes(const char* ansiPath, const void* data, std::size_t size) {
  return ansiPath && WriteFileAtomically(ansiPath, data, size);
}

std::vector<std::string> ListMatches(std::string_view ansiPattern, FindFilter filter) {
  std::vector<FoundName> found;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(std::string(ansiPattern).c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return {};
  do {
    if (FilterAccepts(filter, (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
      found.push_back({AnsiToUtf8(entry.cFileName), entry.cFileName});
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return InSearchOrder(std::move(found));
}

void* MapBigBlock(std::size_t bytes, std::size_t, bool) {
  return VirtualAlloc(nullptr, bytes ? bytes : 1, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void UnmapBigBlock(void* block, std::size_t) { VirtualFree(block, 0, MEM_RELEASE); }

std::string SpillDirectory() { return {}; }

bool AddressSpaceHolds(std::initializer_list<std::uint64_t> blocks) {
  std::vector<void*> reserved;
  bool holds = true;
  for (std::uint64_t bytes : blocks) {
    void* p = bytes <= SIZE_MAX ? VirtualAlloc(nullptr, static_cast<SIZE_T>(bytes ? bytes : 1), MEM_RESERVE,
                                               PAGE_NOACCESS)
                                : nullptr;
    if (!p) {
      holds = false;
      break;
    }
    reserved.push_back(p);
  }
  for (void* p : reserved) VirtualFree(p, 0, MEM_RELEASE);
  return holds;
}

NoRoom WhyNoRoom(std::size_t bytes) {
  // Large blocks come from VirtualAlloc, and there is no spill directory: the
  // block either finds no free range of addresses (a 32-bit process has 2 GiB
  // of them, 4 GiB when large-address-aware on 64-bit Windows), or the
  // system cannot commit more memory (its memory and page file).
  if (AddressSpaceHolds({bytes}))
    return {"exceeds the memory the system can commit (its memory and page file)",
            "超出了系统能提供的内存(物理内存和页面文件)"};
  MEMORY_BASIC_INFORMATION info;
  std::uint64_t largest = 0;
  for (auto* at = static_cast<const char*>(nullptr); VirtualQuery(at, &info, sizeof info) == sizeof info;) {
    if (info.State == MEM_FREE && info.RegionSize > largest) largest = info.RegionSize;
    const auto* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    if (next <= at) break;
    at = next;
  }
  char english[160];
  std::snprintf(english, sizeof english,
                "does not fit in the free address space of this 32-bit process (the largest free range is "
                "%.1f MiB)",
                largest / (1024.0 * 1024.0));
  return {english, "在本程序(32 位)的地址空间里放不下"};
}

void Exit(unsigned code) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  ExitProcess(code);
}

}  // namespace velmo::sys
