// Icon and cursor files for the tests, built byte by byte from their layout:
// a directory (ICONDIR), its 16-byte entries (ICONDIRENTRY), and each entry's
// data, a DIB without its file header or a PNG file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/platform/graphics/pictures.h"

namespace graphics_test {

// One entry: the directory's fields and the data they point to.
struct IcoEntry {
  Bytes data;
  std::uint8_t width = 0, height = 0;  // 0 stands for 256
  std::uint8_t colours = 0;
  std::uint16_t planes = 1, bitCount = 0;  // a cursor's hotspot x and y
};

// An icon (type 1) or cursor (type 2) file: the directory, then the entries'
// data in directory order, each at the offset its entry gives.
Bytes MakeIco(const std::vector<IcoEntry>& entries, int type = 1);

// The DIB of an icon entry: a 40-byte BITMAPINFOHEADER whose height is twice
// `height`, the colour table `table` (blue, green, red, 0 per entry; depths up
// to 8 bits), the colour rows bottom-up, then the AND mask rows bottom-up.
// `pixel(x, y)` (y from the top) gives a table index at 1, 4 and 8 bits, the
// 5-5-5 value at 16 bits, 0xRRGGBB at 24 bits and 0xAARRGGBB at 32 bits;
// `masked(x, y)` sets the pixel's mask bit.
Bytes MakeIcoDib(int width, int height, int bpp, const Bytes& table,
                 const std::function<std::uint32_t(int, int)>& pixel,
                 const std::function<bool(int, int)>& masked);

// A directory entry for `data` of width x height at `bpp` bits (256 written as 0).
IcoEntry EntryFor(Bytes data, int width, int height, int bpp);

// Writes small icon and cursor files of every kind the decoder takes into
// `dir`, as seeds of the picture fuzz target.
void WriteIcoSeeds(const std::string& dir);

}  // namespace graphics_test
