// The program's global state: 17 word-sized globals in var-segment order. The
// stored offset of a global counts 4-byte units (0x00, 0x04, ... 0x40); the
// host lays the globals out one word each.
#pragma once

#include <cstdint>

namespace image {

enum class G : std::uint32_t {
  tileDir = 0x00,
  tilePrefix = 0x04,
  entryName = 0x08,
  gridSize = 0x0c,
  tileEdge = 0x10,
  mosaicEdge = 0x14,
  gdipStartupInput = 0x18,
  gdipToken = 0x1c,
  screenDc = 0x20,
  mosaicDc = 0x24,
  mosaicBitmap = 0x28,
  savedBitmap = 0x2c,
  rowIndex = 0x30,
  bmpFileBytes = 0x34,
  colIndex = 0x38,
  tilesDrawn = 0x3c,
  outputPath = 0x40,
};

inline constexpr std::uint32_t kGlobalCount = 17;
inline constexpr std::uint32_t kVarSegmentSize = kGlobalCount * 4;  // as stored: 68

}  // namespace image
