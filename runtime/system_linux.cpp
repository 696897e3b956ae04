// The runtime host on Linux: the program's Windows paths go through the
// platform's path map, its texts through the platform's code pages.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/graphics/big_block.h"
#include "platform/paths.h"
#include "platform/win32.h"
#include "runtime/system.h"
#include "runtime/windows_path.h"
#include "runtime/write_file.h"

namespace velmo::sys {
namespace {

bool IsDriveRoot(const std::string& dir) {
  return (dir.size() == 2 || (dir.size() == 3 && (dir[2] == '\\' || dir[2] == '/'))) &&
         std::isalpha(static_cast<unsigned char>(dir[0])) && dir[1] == ':';
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) { return platform::AnsiToUtf8(ansi); }
std::string Utf8ToAnsi(std::string_view utf8) { return platform::Utf8ToAnsi(utf8); }

std::string ProgramDir() {
  const std::optional<std::string> dir = platform::PosixToWindows(platform::ExecutableDir());
  return WithoutTrailingBackslash(dir.value_or(std::string()));
}

bool FileExists(const char* ansiPath) {
  auto posix = platform::WindowsToPosix(ansiPath ? ansiPath : "");
  struct stat st;
  return posix && ::stat(posix->c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool WriteBytes(const char* ansiPath, const void* data, std::size_t size) {
  auto posix = platform::WindowsToPosix(ansiPath ? ansiPath : "");
  return posix && WriteFileAtomically(*posix, data, size);
}

std::vector<std::string> ListMatches(std::string_view ansiPattern, FindFilter filter) {
  const std::string pattern(ansiPattern);
  const std::size_t cut = pattern.find_last_of("\\/");
  const std::string dir = cut == std::string::npos ? std::string(".") : pattern.substr(0, cut + 1);
  const std::string last = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
  FindOptions options;
  options.driveRoot = IsDriveRoot(dir);
  auto posix = platform::WindowsToPosix(dir);
  if (!posix) return {};
  std::vector<std::string> names =
      velmo::ListMatches(*posix, platform::AnsiToUtf8(last), filter, options);
  for (std::string& name : names) name = platform::Utf8ToAnsi(name);
  return names;
}

void* MapBigBlock(std::size_t bytes, std::size_t lead, bool faultIn) {
  return graphics::MapBigBlock(bytes, lead, faultIn);
}
void UnmapBigBlock(void* block, std::size_t bytes) { graphics::UnmapBigBlock(block, bytes); }

std::string SpillDirectory() { return graphics::SpillDirectory(); }

bool AddressSpaceHolds(std::initializer_list<std::uint64_t> blocks) {
  std::vector<std::pair<void*, std::size_t>> reserved;
  bool holds = true;
  for (std::uint64_t bytes : blocks) {
    const std::size_t size = bytes ? static_cast<std::size_t>(bytes) : 1;
    void* p = bytes <= SIZE_MAX ? mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0)
                                : MAP_FAILED;
    if (p == MAP_FAILED) {
      holds = false;
      break;
    }
    reserved.emplace_back(p, size);
  }
  for (const auto& [p, size] : reserved) munmap(p, size);
  return holds;
}

NoRoom WhyNoRoom(std::size_t) {
  // A large block lives in memory or in a spill file (platform/graphics/big_block.h).
  const std::string spill = SpillDirectory();
  if (spill.empty())
    return {"fits neither in memory nor in a spill directory (none is set: no HOME, XDG_CACHE_HOME or "
            "MOSALIN_SPILL_DIR)",
            "在内存里放不下,也没有可用的临时目录"};
  return {"fits neither in memory nor in the spill directory " + spill, "在内存和临时目录里都放不下"};
}

void Exit(unsigned code) { ExitProcess(code); }

}  // namespace velmo::sys
