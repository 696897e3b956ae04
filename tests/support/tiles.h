// Tile sets and pictures for end-to-end tests: PNG files written with
// libspng, BMP files read back, and the expected composition computed here,
// independently of the program.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace e2e {

struct Rgba {
  std::uint8_t r, g, b, a;
  bool operator==(const Rgba&) const = default;
};

struct Picture {
  int width = 0, height = 0;
  std::vector<Rgba> px;  // top row first
  Picture() = default;
  Picture(int w, int h, Rgba fill = {0, 0, 0, 255}) : width(w), height(h), px(std::size_t(w) * h, fill) {}
  Rgba& at(int x, int y) { return px[std::size_t(y) * width + x]; }
  const Rgba& at(int x, int y) const { return px[std::size_t(y) * width + x]; }
};

// A picture with content that differs from tile to tile and pixel to pixel.
Picture Pattern(int width, int height, int seed);
void WritePng(const std::filesystem::path& file, const Picture& p);
// A PNG file as straight RGBA; an empty picture when it is none.
Picture ReadPng(const std::filesystem::path& file);

// A zoom directory `dir` (its name is the prefix) with `rows` row directories
// named 000, 001, ... and `cols` tiles in each; `skip` lists (row, col) pairs
// left out. Returns the tiles written, by [row][col] (empty when skipped).
std::vector<std::vector<Picture>> MakeTileSet(const std::filesystem::path& dir, int rows, int cols,
                                              std::vector<std::pair<int, int>> skip = {});

struct Bmp {
  std::uint32_t fileSize = 0, offBits = 0, headerSize = 0, compression = 0, sizeImage = 0;
  std::int32_t width = 0, height = 0;
  std::uint16_t planes = 0, bitCount = 0;
  std::vector<std::uint8_t> bytes;
  // The pixel at (x, y), y counted from the top, as B, G, R, fourth byte.
  std::array<std::uint8_t, 4> At(int x, int y) const;
};
bool ReadBmp(const std::filesystem::path& file, Bmp* out);

// Source-over of `src` onto a destination pixel, as 8-bit integer arithmetic
// rounded to nearest: out = (s*a + d*(255-a) + 127) / 255.
Rgba Over(Rgba dst, Rgba src);

}  // namespace e2e
