#include <cstdlib>

#include "runtime/ui/backend.h"

namespace velmo {

std::unique_ptr<UiBackend> MakeBackendFromEnvironment(std::string* error) {
  const char* script = std::getenv("VELMO_SCRIPT");
  if (script && *script) return MakeScriptedBackend(script, error);
  return MakeFltkBackend(error);
}

}  // namespace velmo
