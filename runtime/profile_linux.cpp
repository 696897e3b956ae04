// The profile's memory figures on Linux.
#include <sys/resource.h>

#include <cstdio>

#include "platform/graphics/big_block.h"
#include "runtime/profile.h"

namespace velmo {

double PeakResidentMiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

// The proportional set size: a page mapped twice counts once, where the
// resident size counts it twice.
double MemoryInUseMiB() {
  std::FILE* f = std::fopen("/proc/self/smaps_rollup", "r");
  if (!f) return 0;
  char line[256];
  unsigned long long kib = 0;
  bool found = false;
  while (!found && std::fgets(line, sizeof line, f)) found = std::sscanf(line, "Pss: %llu kB", &kib) == 1;
  std::fclose(f);
  return found ? kib / 1024.0 : 0;
}

std::uint64_t SpilledPeak() { return graphics::Spilled().peak; }

}  // namespace velmo
