// The size from which a block of memory gets a mapping of its own, in both
// builds: the platform's bitmaps and the runtime host's large allocations
// (platform/graphics/big_block.h on Linux, VirtualAlloc on Windows).
#pragma once

#include <cstddef>

namespace graphics {

inline constexpr std::size_t kBigBlockBytes = std::size_t(1) << 20;

}  // namespace graphics
