// The window's icon, drawn in code: a 2 x 2 grid of map tiles (land, water,
// fields, land) with a red map pin in the middle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmo::ui {

// size x size pixels, 4 bytes each (R, G, B, A), rows top-down. Edges are
// smoothed by 4 x 4 supersampling, so any size looks clean; 16 and 32 are the
// sizes the window uses.
std::vector<std::uint8_t> DrawIcon(int size);

// The icon as a Windows icon file: four BMP-encoded images in this order,
// 16 x 16 at 8 and 24 bits per pixel, then 32 x 32 at 8 and 24 bits. Pixels
// with alpha of 128 or more are opaque, the rest transparent through the AND
// mask; the 8-bit images use a palette of the picture's most frequent colours,
// the others mapped to the nearest of them.
std::vector<std::uint8_t> IconFile();

}  // namespace velmo::ui
