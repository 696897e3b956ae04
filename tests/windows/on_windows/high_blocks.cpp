// Runs a program whose low 2 GiB of address space are taken, so that all it
// allocates lies above 0x80000000:
//   high-blocks.exe PROGRAM [ARGS...]
// The program is started suspended, every free range below 2 GiB is reserved
// in it (VirtualAllocEx with MEM_RESERVE: addresses only, no memory), then it
// runs with this program's standard handles. Ends with the program's exit
// status; 90 when it cannot be started or its low ranges cannot be taken.
#include <windows.h>

#include <algorithm>
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

// The first word of a command line: the program's file.
std::string FirstWord(const std::string& line) {
  if (!line.empty() && line[0] == '"') return line.substr(1, line.find('"', 1) - 1);
  return line.substr(0, line.find_first_of(" \t"));
}

struct Range {
  std::uintptr_t begin = 0, end = 0;
};

// Where the executable `file` asks to be loaded (ImageBase, SizeOfImage):
// an executable without relocations loads only there, and the system may
// not have mapped it yet while the process is suspended.
Range ImageRange(const std::string& file) {
  Range r;
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return r;
  unsigned char h[0x400] = {};
  const std::size_t n = std::fread(h, 1, sizeof h, f);
  std::fclose(f);
  auto u32 = [&](std::size_t at) -> std::uint32_t {
    return at + 4 <= n ? h[at] | h[at + 1] << 8 | h[at + 2] << 16 | std::uint32_t(h[at + 3]) << 24 : 0;
  };
  const std::uint32_t pe = u32(0x3C), opt = pe + 24;
  if (u32(pe) != 0x00004550) return r;
  r.begin = u32(opt + 28);
  r.end = r.begin + u32(opt + 56);
  return r;
}

// Reserves every free range below 2 GiB in `process` but `keep`; the bytes
// reserved, or -1 when a range could not be taken.
long long TakeLowRanges(HANDLE process, Range keep) {
  long long taken = 0;
  MEMORY_BASIC_INFORMATION info;
  for (std::uintptr_t at = kGranularity; at < kTwoGiB;) {
    if (VirtualQueryEx(process, reinterpret_cast<void*>(at), &info, sizeof info) != sizeof info) return -1;
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
    std::uintptr_t end = begin + info.RegionSize;
    if (end <= at) return -1;
    if (end > kTwoGiB) end = kTwoGiB;
    const std::uintptr_t aligned = (begin + kGranularity - 1) & ~(kGranularity - 1);
    // The free range less the image's.
    const std::uintptr_t kb = keep.begin, ke = (keep.end + kGranularity - 1) & ~(kGranularity - 1);
    Range pieces[2] = {{aligned, end}, {}};
    if (kb < ke && kb < end && ke > aligned) {
      pieces[0].end = std::max(aligned, kb);
      pieces[1] = {std::min(end, ke), end};
    }
    for (const Range& piece : pieces) {
      if (info.State != MEM_FREE || piece.begin >= piece.end) continue;
      if (!VirtualAllocEx(process, reinterpret_cast<void*>(piece.begin), piece.end - piece.begin, MEM_RESERVE,
                          PAGE_NOACCESS)) {
        std::fprintf(stderr, "high-blocks: cannot reserve 0x%08lx..0x%08lx (error %lu)\n",
                     static_cast<unsigned long>(piece.begin), static_cast<unsigned long>(piece.end),
                     GetLastError());
        return -1;
      }
      taken += static_cast<long long>(piece.end - piece.begin);
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
  const long long taken = TakeLowRanges(child.hProcess, ImageRange(FirstWord(command)));
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
