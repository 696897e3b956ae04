// The profile's memory figures on Windows, which has no spill files.
#include <windows.h>
#include <psapi.h>

#include "runtime/profile.h"

namespace velmo {

double PeakResidentMiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize / (1024.0 * 1024.0);
}

// The most private memory the process has committed (its commit charge): a
// page counts once however many views map it.
double MemoryInUseMiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakPagefileUsage / (1024.0 * 1024.0);
}

std::uint64_t SpilledPeak() { return 0; }

}  // namespace velmo
