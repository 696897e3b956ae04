// Writers of small picture files of every format the decoders take, for the
// graphics tests; each builds the format from its own definition.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace graphics_test {

using Bytes = std::vector<std::uint8_t>;

// PNG. `sample(x, y, channel)` gives each stored sample (0 .. 2^depth - 1);
// channels per colour type: 0 grey 1, 2 RGB 3, 3 palette 1, 4 grey+alpha 2,
// 6 RGBA 4. `plte` holds RGB triples, `trns` the raw tRNS chunk data.
Bytes MakePng(std::uint32_t width, std::uint32_t height, int colourType, int depth,
              bool interlaced, const std::function<unsigned(int, int, int)>& sample,
              const Bytes& plte = {}, const Bytes& trns = {});

// JPEG of `components` (1 grey, 3 RGB, 4 CMYK with an Adobe marker) samples
// per pixel, rows top-down, optionally progressive.
Bytes MakeJpeg(int width, int height, int components, const Bytes& samples, bool progressive,
               int quality = 95);

// GIF: a screen of sw x sh, one frame at (left, top) of w x h with the given
// indices (row-major), palette of RGB triples, transparent index or -1.
Bytes MakeGif(int sw, int sh, int left, int top, int w, int h, const Bytes& indices,
              const Bytes& paletteRgb, int transparent, bool interlaced);

// BMP: the two headers (a BITMAPINFOHEADER grown to `headerSize` bytes), then
// `extra` (masks or colour table) and the pixel bytes as given.
Bytes MakeBmp(std::uint32_t headerSize, std::int32_t width, std::int32_t height, int bpp,
              std::uint32_t compression, const Bytes& extra, const Bytes& pixels,
              const Bytes& headerTail = {});

// Metafiles assembled from records. A WMF record is its function number and
// 16-bit words (as [MS-WMF] orders them) plus raw bytes; an EMF record its
// type and 32-bit values plus raw bytes. Finish puts the header before them
// and the end record after them.
struct WmfWriter {
  Bytes records;
  WmfWriter& Record(unsigned function, std::initializer_list<int> words, const Bytes& tail = {});
  // The 9-word header (type 1, version 0x300, `objects` table entries) and,
  // when `inch` is nonzero, the placeable header with the box and its checksum.
  Bytes Finish(unsigned objects, unsigned inch = 0, int left = 0, int top = 0, int right = 0, int bottom = 0) const;
};
struct EmfWriter {
  Bytes records;
  EmfWriter& Record(std::uint32_t type, std::initializer_list<std::int32_t> values, const Bytes& tail = {});
  // EMR_HEADER with the bounds (pixels), frame (0.01 mm), handle count and
  // reference device (pixels and millimetres).
  Bytes Finish(std::array<std::int32_t, 4> bounds, std::array<std::int32_t, 4> frame, unsigned handles = 1,
               std::array<std::int32_t, 4> device = {1920, 1080, 508, 285}) const;
};

// Metafiles of one red rectangle: a WMF (the 9-word header and its records,
// behind the placeable header with the bounding box 0,0 to 1000,500 at 1000
// units per inch when `placeable`), and an EMF of 100 x 50 pixels.
Bytes MakeWmf(bool placeable);
Bytes MakeEmf();

void Put32(Bytes& b, std::size_t at, std::uint32_t v);

// A scratch directory removed at destruction, and file writing.
struct TempDir {
  TempDir();
  ~TempDir();
  std::string path;
  std::string Write(const std::string& name, const Bytes& data) const;
};

// The memory limit and spill directory that large blocks see while it
// lives, put back afterwards.
struct BlockEnvironment {
  BlockEnvironment(const std::string& limit, const std::string& spill) {
    setenv("MOSALIN_MEMORY_LIMIT", limit.c_str(), 1);
    setenv("MOSALIN_SPILL_DIR", spill.c_str(), 1);
  }
  ~BlockEnvironment() {
    unsetenv("MOSALIN_MEMORY_LIMIT");
    unsetenv("MOSALIN_SPILL_DIR");
  }
};

// The UTF-16 Windows form ("Z:\...") of a POSIX path.
std::u16string WindowsPath(const std::string& posix);

}  // namespace graphics_test
