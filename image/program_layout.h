// This program's image, laid out from its own tables (constant pool, form
// table, link area, globals) in the general image format.
#pragma once

#include <cstdint>
#include <vector>

namespace image {

// The image's bytes as the executable hands them over (the routines' entry
// cells hold 0).
std::vector<std::uint8_t> BuildProgramImage();

// The executable's data section: the image from its first byte, zero after
// its last, kDataSectionSize bytes.
std::vector<std::uint8_t> BuildDataSection();

}  // namespace image
