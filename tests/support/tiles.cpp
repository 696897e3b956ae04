#include "tests/support/tiles.h"

#include <spng.h>

#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;

namespace e2e {

Picture Pattern(int width, int height, int seed) {
  Picture p(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p.at(x, y) = {static_cast<std::uint8_t>((x * 7 + seed * 37) & 0xFF),
                    static_cast<std::uint8_t>((y * 5 + seed * 91) & 0xFF),
                    static_cast<std::uint8_t>(((x ^ y) + seed * 13) & 0xFF), 255};
  return p;
}

Picture ReadPng(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> data((std::istreambuf_iterator<char>(in)), {});
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_png_buffer(ctx, data.data(), data.size());
  spng_ihdr ihdr{};
  Picture p;
  if (spng_get_ihdr(ctx, &ihdr) == 0) {
    p = Picture(int(ihdr.width), int(ihdr.height));
    spng_decode_image(ctx, p.px.data(), p.px.size() * 4, SPNG_FMT_RGBA8, 0);
  }
  spng_ctx_free(ctx);
  return p;
}

void WritePng(const fs::path& file, const Picture& p) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{};
  ihdr.width = static_cast<std::uint32_t>(p.width);
  ihdr.height = static_cast<std::uint32_t>(p.height);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  spng_set_ihdr(ctx, &ihdr);
  spng_encode_image(ctx, p.px.data(), p.px.size() * 4, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  std::size_t size = 0;
  int err = 0;
  void* data = spng_get_png_buffer(ctx, &size, &err);
  std::ofstream(file, std::ios::binary).write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  std::free(data);
  spng_ctx_free(ctx);
}

std::vector<std::vector<Picture>> MakeTileSet(const fs::path& dir, int rows, int cols,
                                              std::vector<std::pair<int, int>> skip) {
  std::string prefix = dir.filename().string();
  std::vector<std::vector<Picture>> tiles(rows, std::vector<Picture>(cols));
  for (int r = 0; r < rows; ++r) {
    char row[16];
    std::snprintf(row, sizeof row, "%03d", r);
    fs::create_directories(dir / row);
    for (int c = 0; c < cols; ++c) {
      bool skipped = false;
      for (auto s : skip) skipped |= s == std::pair{r, c};
      if (skipped) continue;
      char name[64];
      std::snprintf(name, sizeof name, "%s%s%03d.png", prefix.c_str(), row, c);
      tiles[r][c] = Pattern(256, 256, r * 31 + c + 1);
      WritePng(dir / row / name, tiles[r][c]);
    }
  }
  return tiles;
}

std::array<std::uint8_t, 4> Bmp::At(int x, int y) const {
  const int stride = ((width * bitCount + 31) / 32) * 4;
  const std::size_t o = offBits + std::size_t(height - 1 - y) * stride + std::size_t(x) * (bitCount / 8);
  std::array<std::uint8_t, 4> v{};
  for (int i = 0; i < bitCount / 8 && i < 4; ++i) v[i] = bytes.at(o + i);
  return v;
}

bool ReadBmp(const fs::path& file, Bmp* out) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  out->bytes.assign(std::istreambuf_iterator<char>(in), {});
  const auto& b = out->bytes;
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return false;
  auto u32 = [&](std::size_t o) { return std::uint32_t(b[o]) | b[o + 1] << 8 | b[o + 2] << 16 | std::uint32_t(b[o + 3]) << 24; };
  auto u16 = [&](std::size_t o) { return static_cast<std::uint16_t>(b[o] | b[o + 1] << 8); };
  out->fileSize = u32(2);
  out->offBits = u32(10);
  out->headerSize = u32(14);
  out->width = static_cast<std::int32_t>(u32(18));
  out->height = static_cast<std::int32_t>(u32(22));
  out->planes = u16(26);
  out->bitCount = u16(28);
  out->compression = u32(30);
  out->sizeImage = u32(34);
  return true;
}

Rgba Over(Rgba d, Rgba s) {
  auto mix = [&](int sc, int dc) { return static_cast<std::uint8_t>((sc * s.a + dc * (255 - s.a) + 127) / 255); };
  return {mix(s.r, d.r), mix(s.g, d.g), mix(s.b, d.b), d.a};
}

}  // namespace e2e
