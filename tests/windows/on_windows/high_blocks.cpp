// Runs a program whose low 2 GiB of address space are taken, so that all it
// allocates lies above 0x80000000:
//   high-blocks.exe PROGRAM [ARGS...]
// The program is started suspended, every free range below 2 GiB is reserved
// in it (VirtualAllocEx with MEM_RESERVE: addresses only, no memory), then it
// runs with this program's standard handles. Ends with the program's exit
// status; 90 when it cannot be started or its low ranges cannot be taken.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr std::uintptr_t kTwoGiB = 0x80000000u;
constexpr std::uintptr_t kGranularity = 0x10000;  // where VirtualAlloc may place a range

// The command line after this program's own name, as it was given.
std::string Rest(const char* line) {
  const char* p = line;
  if (*p == '"') {
    for (++p; *p && *p != '"'; ++p) {
    }
    if (*p) ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

// Reserves every free range below 2 GiB in `process`; the bytes reserved, or
// -1 when a range could not be taken.
long long TakeLowRanges(HANDLE process) {
  long long taken = 0;
  MEMORY_BASIC_INFORMATION info;
  for (std::uintptr_t at = kGranularity; at < kTwoGiB;) {
    if (VirtualQueryEx(process, reinterpret_cast<void*>(at), &info, sizeof info) != sizeof info) return -1;
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
    std::uintptr_t end = begin + info.RegionSize;
    if (end <= at) return -1;
    if (end > kTwoGiB) end = kTwoGiB;
    const std::uintptr_t aligned = (begin + kGranularity - 1) & ~(kGranularity - 1);
    if (info.State == MEM_FREE && aligned < end) {
      if (!VirtualAllocEx(process, reinterpret_cast<void*>(aligned), end - aligned, MEM_RESERVE, PAGE_NOACCESS)) {
        std::fprintf(stderr, "high-blocks: cannot reserve 0x%08lx..0x%08lx (error %lu)\n",
                     static_cast<unsigned long>(aligned), static_cast<unsigned long>(end), GetLastError());
        return -1;
      }
      taken += static_cast<long long>(end - aligned);
    }
    at = end;
  }
  return taken;
}

}  // namespace

int main() {
  std::string command = Rest(GetCommandLineA());
  if (command.empty()) {
    std::fprintf(stderr, "usage: high-blocks PROGRAM [ARGS...]\n");
    return 90;
  }
  STARTUPINFOA start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                      &start, &child)) {
    std::fprintf(stderr, "high-blocks: cannot start %s (error %lu)\n", command.c_str(), GetLastError());
    return 90;
  }
  const long long taken = TakeLowRanges(child.hProcess);
  if (taken < 0) {
    TerminateProcess(child.hProcess, 90);
    return 90;
  }
  std::fprintf(stderr, "high-blocks: %lld MiB below 2 GiB reserved\n", taken >> 20);
  std::fflush(stderr);
  ResumeThread(child.hThread);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 90;
  GetExitCodeProcess(child.hProcess, &status);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return static_cast<int>(status);
}
