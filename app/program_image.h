// The program image as the executable carries it: laid out in the writable
// data area, with the routines' addresses in their entry cells, ready to be
// handed to the runtime host by address.
#pragma once

#include <cstdint>

namespace app {

// Prepares the image on first use and returns its first byte.
std::uint8_t* ProgramImage();

}  // namespace app
