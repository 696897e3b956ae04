// The trace channel: lines for a developer on stderr, each "velmo: " and the
// text. Off by default; on while the environment variable VELMO_TRACE is set
// (to any value), read at every line so that a process can switch it at any
// time. Header-only, so that the Windows build of the runtime host, which
// links no other part of the platform, writes the same lines.
//
// Messages meant for the user (a damaged image, a scenario that cannot be
// played, no room for a block) are not traces: they are always written.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace platform {

inline bool TraceOn() { return std::getenv("VELMO_TRACE") != nullptr; }

#if defined(__GNUC__)
__attribute__((format(gnu_printf, 1, 2)))
#endif
inline void Trace(const char* format, ...) {
  if (!TraceOn()) return;
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string line(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(line.data(), line.size() + 1, format, again);
  va_end(again);
  std::fprintf(stderr, "velmo: %s\n", line.c_str());
}

}  // namespace platform
