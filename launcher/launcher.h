// The launcher: finds the runtime host library beside the executable or in
// the directory the registry names, hands it the program image and ends the
// process.
#pragma once

#include <cstdint>

namespace launcher {

// Runs the launcher. Returns only on failure, with -1, after the one error
// box; on success the process ends inside (or right after) the runtime host.
int Run(std::uint8_t* programImage);

}  // namespace launcher
