// The runtime host's one export.
#include <cstdint>

#include "host/abi.h"
#include "platform/win32.h"
#include "runtime/host.h"

namespace {

extern "C" void RunProgramImage(void* image) {
  int code = velmo::Host::Get().RunImage(static_cast<std::uint8_t*>(image));
  if (code != 0) ExitProcess(static_cast<UINT>(code));
}

}  // namespace

// Given 1000, the routine that runs a program image; any other value gives 0.
extern "C" __attribute__((visibility("default"))) host::RunImageFn GetNewSock(std::uint32_t key) {
  return key == host::kGetNewSockKey ? &RunProgramImage : nullptr;
}
