// PNG output of the asset tool: 8-bit RGB or RGBA, moderate zlib compression.
// Failures throw std::runtime_error with the file name and the reason.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct spng_ctx;

namespace mosalin_assets {

// Writes `width` x `height` pixels of `channels` (3: RGB, 4: RGBA) bytes each,
// rows top-down, to `path`.
void WritePng(const std::string& path, int width, int height, int channels,
              const std::uint8_t* pixels);

// Writes a PNG row by row, for pictures too large to hold in memory at once.
class PngRowWriter {
 public:
  PngRowWriter(const std::string& path, int width, int height, int channels);
  ~PngRowWriter();
  PngRowWriter(const PngRowWriter&) = delete;
  PngRowWriter& operator=(const PngRowWriter&) = delete;

  void WriteRow(const std::uint8_t* row);  // width x channels bytes
  void Finish();                           // after the last row; closes the file

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  spng_ctx* ctx_ = nullptr;
  int width_, height_, channels_, rows_ = 0;
};

}  // namespace mosalin_assets
