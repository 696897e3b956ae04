// The compiled routines of the program and their entry cells.
#pragma once

#include <cstdint>

#include "image/link_area.h"

namespace app {

// The address of the compiled routine, or null when this build has none.
void* RoutineAddress(image::Routine routine);

// Writes each routine's address into its entry cell in the code segment's
// bytes at `codeBase`. The executable does this before it hands its image to
// the runtime host.
void FillEntryCells(std::uint8_t* codeBase);

}  // namespace app
