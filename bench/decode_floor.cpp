// decode_floor: the least work any merge of a tile set must do, as a yardstick
// for the benchmark: read and decode every tile once to RGBA8 (the pixel
// format the program's decoder produces), and nothing else: no composition,
// no output file.
//
//   decode_floor [--threads N] ZOOM_DIR
//       decodes every .png in the sub-directories of ZOOM_DIR on N threads
//       (default 1), each taking the next tile; prints the number of tiles
//       and pixels
#include <spng.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Decodes `file`; the pixels decoded, or -1 after saying why on stderr.
long long DecodeOne(const fs::path& file, std::vector<char>& data, std::vector<std::uint8_t>& pixels) {
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
    return -1;
  }
  return static_cast<long long>(ihdr.width) * ihdr.height;
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 1;
  if (argc == 4 && std::string(argv[1]) == "--threads") {
    threads = std::atoi(argv[2]);
    argv += 2, argc -= 2;
  }
  if (argc != 2 || threads < 1) {
    std::fprintf(stderr, "usage: decode_floor [--threads N] ZOOM_DIR\n");
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

  std::atomic<std::size_t> next{0};
  std::atomic<unsigned long long> decodedPixels{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    std::vector<char> data;
    std::vector<std::uint8_t> pixels;
    for (std::size_t i; !failed && (i = next++) < files.size();) {
      const long long n = DecodeOne(files[i], data, pixels);
      if (n < 0) failed = true;
      else decodedPixels += static_cast<unsigned long long>(n);
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  if (failed) return 1;
  std::printf("%zu tiles, %llu pixels\n", files.size(), decodedPixels.load());
  return 0;
}
