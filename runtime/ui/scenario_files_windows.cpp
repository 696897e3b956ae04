#include <windows.h>

#include "runtime/system.h"
#include "runtime/ui/scenario_files.h"

namespace velmo::scenario {

std::optional<std::string> ProgramPath(std::string_view utf8) {
  // Only a path every character of which the ANSI code page holds: one that
  // comes back unchanged.
  std::string ansi = sys::Utf8ToAnsi(utf8);
  if (sys::AnsiToUtf8(ansi) != utf8) return std::nullopt;
  return ansi;
}

bool FileExists(std::string_view utf8) {
  if (utf8.empty()) return false;
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace velmo::scenario
