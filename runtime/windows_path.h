// Small rules of the program's Windows paths, the same in both builds.
#pragma once

#include <string>

namespace velmo {

// `path` without trailing backslashes (or slashes), except a drive root's:
// "C:\maps\" becomes "C:\maps", "C:\" stays.
inline std::string WithoutTrailingBackslash(std::string path) {
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

}  // namespace velmo
