// The files a scenario names, written as paths of the system the host runs
// on (UTF-8). One implementation per build: scenario_files_linux.cpp maps
// POSIX paths through the platform's path map, scenario_files_windows.cpp
// takes Windows paths as they stand.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmo::scenario {

// A `folder` or `save` path as the program receives it: the Windows path in
// the ANSI code page, or nullopt when it has none.
std::optional<std::string> ProgramPath(std::string_view utf8);

// Whether a `wait-file` path exists.
bool FileExists(std::string_view utf8);

}  // namespace velmo::scenario
