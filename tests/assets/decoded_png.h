// Reading back what the asset tool wrote: PNG files decoded with libspng to
// 8-bit RGBA, whatever colour type they store.
#pragma once

#include <gtest/gtest.h>
#include <spng.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace assets_test {

struct Picture {
  int width = 0, height = 0, colourType = -1;
  std::vector<std::uint8_t> rgba;  // decoded to 8-bit RGBA whatever was stored
  std::uint32_t At(int x, int y) const {
    const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
    return p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3];
  }
};

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline Picture Decode(const std::filesystem::path& path) {
  std::vector<std::uint8_t> file = ReadBytes(path);
  Picture pic;
  spng_ctx* ctx = spng_ctx_new(0);
  spng_ihdr ihdr{};
  std::size_t size = 0;
  int err = spng_set_png_buffer(ctx, file.data(), file.size());
  if (!err) err = spng_get_ihdr(ctx, &ihdr);
  if (!err) err = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
  if (!err) {
    pic.rgba.resize(size);
    err = spng_decode_image(ctx, pic.rgba.data(), size, SPNG_FMT_RGBA8, 0);
  }
  spng_ctx_free(ctx);
  EXPECT_EQ(err, 0) << path << ": " << spng_strerror(err);
  if (err) return {};
  pic.width = static_cast<int>(ihdr.width);
  pic.height = static_cast<int>(ihdr.height);
  pic.colourType = ihdr.color_type;
  return pic;
}

}  // namespace assets_test
