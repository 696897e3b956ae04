// The profile's memory figures on Linux.
#include <sys/resource.h>

#include "platform/graphics/big_block.h"
#include "runtime/profile.h"

namespace velmo {

double PeakResidentMiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

std::uint64_t SpilledPeak() { return graphics::Spilled().peak; }

}  // namespace velmo
