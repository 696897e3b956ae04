#include <unistd.h>

#include "platform/paths.h"
#include "runtime/ui/scenario_files.h"

namespace velmo::scenario {

std::optional<std::string> ProgramPath(std::string_view utf8) { return platform::PosixToWindows(utf8); }

bool FileExists(std::string_view utf8) { return ::access(std::string(utf8).c_str(), F_OK) == 0; }

}  // namespace velmo::scenario
