// Little-endian numbers in bytes, whatever the machine's own order: the words
// of the program image and of the host's interface, and the fields of picture
// files. Every layer reads them through these (the signed forms: two's
// complement, as the formats store them).
#pragma once

#include <cstdint>

namespace host {

inline std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

inline std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}

inline std::int16_t LeSigned16(const std::uint8_t* p) { return static_cast<std::int16_t>(Le16(p)); }
inline std::int32_t LeSigned32(const std::uint8_t* p) { return static_cast<std::int32_t>(Le32(p)); }

}  // namespace host
