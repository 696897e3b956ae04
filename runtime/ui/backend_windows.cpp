#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "runtime/ui/backend.h"

namespace velmo {

std::unique_ptr<UiBackend> MakeBackendFromEnvironment(std::string* error) {
  const char* script = std::getenv("VELMO_SCRIPT");
  if (script && *script) {
    // The transcript's lines end in LF, as on Linux, not in the CR LF of a
    // text-mode stream.
    _setmode(_fileno(stdout), _O_BINARY);
    return MakeScriptedBackend(script, error);
  }
  return MakeWin32Backend(error);
}

}  // namespace velmo
