#include <cstdlib>

#include "runtime/ui/backend.h"

namespace velmo {

std::unique_ptr<UiBackend> MakeBackendFromEnvironment(std::string* error) {
  const char* script = std::getenv("VELMO_SCRIPT");
  if (script && *script) return MakeScriptedBackend(script, error);
  std::string displayError;
  if (std::unique_ptr<UiBackend> backend = MakeFltkBackend(&displayError)) return backend;
  if (error) *error = "no display available (set DISPLAY, or VELMO_SCRIPT for a scripted run)";
  return nullptr;
}

}  // namespace velmo
