// The runtime host's one export.
#include <cstdint>

#include "host/abi.h"
#include "runtime/host.h"
#include "runtime/system.h"

#ifdef _WIN32
#define VELMO_EXPORT
#else
#define VELMO_EXPORT __attribute__((visibility("default")))
#endif

namespace {

extern "C" void RunProgramImage(void* image) {
  int code = velmo::Host::Get().RunImage(static_cast<std::uint8_t*>(image));
  if (code != 0) velmo::sys::Exit(static_cast<unsigned>(code));
}

}  // namespace

// Given 1000, the routine that runs a program image; any other value gives 0.
extern "C" VELMO_EXPORT host::RunImageFn GetNewSock(std::uint32_t key) {
  return key == host::kGetNewSockKey ? &RunProgramImage : nullptr;
}
