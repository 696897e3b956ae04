// Little-endian numbers in bytes, whatever the machine's own order: the
// fields of picture files and of the program image.
#pragma once

#include <cstdint>

namespace platform {

inline std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

inline std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}

}  // namespace platform
