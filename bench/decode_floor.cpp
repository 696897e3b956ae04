// decode_floor: the least work any merge of a tile set must do, as a yardstick
// for the benchmark: read and decode every tile once, on one thread, to RGBA8
// (the pixel format the program's decoder produces), and nothing else: no
// composition, no output file.
//
//   decode_floor ZOOM_DIR     decodes every .png in the sub-directories of
//                             ZOOM_DIR; prints the number of tiles and pixels
#include <spng.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: decode_floor ZOOM_DIR\n");
    return 2;
  }
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(argv[1], ec))
    if (entry.is_regular_file() && entry.path().extension() == ".png") files.push_back(entry.path());
  if (ec) {
    std::fprintf(stderr, "decode_floor: %s: %s\n", argv[1], ec.message().c_str());
    return 1;
  }
  std::sort(files.begin(), files.end());

  std::vector<char> data;
  std::vector<std::uint8_t> pixels;
  std::uint64_t decodedPixels = 0;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    data.assign(std::istreambuf_iterator<char>(in), {});
    spng_ctx* ctx = spng_ctx_new(0);
    std::size_t size = 0;
    spng_ihdr ihdr{};
    int rc = spng_set_png_buffer(ctx, data.data(), data.size());
    if (rc == 0) rc = spng_get_ihdr(ctx, &ihdr);
    if (rc == 0) rc = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
    if (rc == 0) {
      pixels.resize(size);
      rc = spng_decode_image(ctx, pixels.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    }
    spng_ctx_free(ctx);
    if (rc != 0) {
      std::fprintf(stderr, "decode_floor: %s: %s\n", file.c_str(), spng_strerror(rc));
      return 1;
    }
    decodedPixels += std::uint64_t(ihdr.width) * ihdr.height;
  }
  std::printf("%zu tiles, %llu pixels\n", files.size(), static_cast<unsigned long long>(decodedPixels));
  return 0;
}
