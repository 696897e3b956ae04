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

// Writes 8-bit RGB (channels 3) or RGBA (channels 4) pixels, rows top-down, as
// a PNG file. False with a message on failure.
bool WritePng(const std::string& path, int width, int height, int channels,
              const std::uint8_t* pixels, std::string* error);

}  // namespace velmo::ui
