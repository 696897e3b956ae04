// Writes the seed corpora of the fuzz targets: this program's own image for
// the image reader, and small pictures of every format and colour layout the
// decoders take for the picture target. Run once; the output is committed.
//   make_seeds <corpus dir>   (writes <dir>/fuzz_image_reader, <dir>/fuzz_picture)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "image/format/program_image.h"
#include "image/program_layout.h"
#include "tests/platform/graphics/ico_pictures.h"
#include "tests/platform/graphics/pictures.h"
#include "tests/platform/graphics/tiff_pictures.h"

namespace {

using graphics_test::Bytes;

void Write(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

Bytes Samples(int w, int h, int channels) {
  Bytes b(std::size_t(w) * h * channels);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = std::uint8_t(i * 37 + i / 5);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <corpus dir>\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path image = fs::path(argv[1]) / "fuzz_image_reader";
  const fs::path pic = fs::path(argv[1]) / "fuzz_picture";
  fs::create_directories(image);
  fs::create_directories(pic);
  Write(image / "program.img", image::BuildProgramImage());

  using namespace graphics_test;
  auto wave = [](int depth) {
    return [depth](int x, int y, int c) { return unsigned((x * 5 + y * 3 + c * 7) % (1 << depth)); };
  };
  const Bytes plte = {255, 0, 0, 0, 255, 0, 0, 0, 255, 250, 250, 250, 10, 10, 10};
  Write(pic / "grey1.png", MakePng(9, 5, 0, 1, false, wave(1)));
  Write(pic / "grey16.png", MakePng(5, 4, 0, 16, false, wave(16)));
  Write(pic / "rgb8-interlaced.png", MakePng(9, 9, 2, 8, true, wave(8)));
  Write(pic / "palette4-trns.png", MakePng(7, 6, 3, 4, false, [](int x, int y, int) { return unsigned(x + y) % 5; },
                                   plte, Bytes{0, 128}));
  Write(pic / "grey-alpha8.png", MakePng(6, 5, 4, 8, false, wave(8)));
  Write(pic / "rgba16.png", MakePng(4, 3, 6, 16, false, wave(16)));
  Write(pic / "grey.jpg", MakeJpeg(11, 7, 1, Samples(11, 7, 1), false));
  Write(pic / "rgb.jpg", MakeJpeg(17, 9, 3, Samples(17, 9, 3), false, 80));
  Write(pic / "rgb-progressive.jpg", MakeJpeg(10, 10, 3, Samples(10, 10, 3), true));
  Write(pic / "cmyk.jpg", MakeJpeg(8, 8, 4, Samples(8, 8, 4), false));
  // giflib takes colour maps of 2^n entries; the frame uses one index past the map.
  Bytes gifPalette = plte;
  gifPalette.resize(8 * 3, 90);
  auto indices = [](int w, int h) {
    Bytes b = Samples(w, h, 1);
    for (auto& i : b) i %= 9;
    return b;
  };
  Write(pic / "frame.gif", MakeGif(12, 10, 2, 1, 7, 6, indices(7, 6), gifPalette, 3, false));
  Write(pic / "interlaced.gif", MakeGif(9, 9, 0, 0, 9, 9, indices(9, 9), gifPalette, -1, true));
  const Bytes palette16 = Samples(4, 16, 1);  // 16 BGRX entries
  Write(pic / "1bit.bmp", MakeBmp(40, 9, 4, 1, 0, Bytes{0, 0, 0, 0, 255, 255, 255, 0}, Samples(4, 4, 1)));
  Write(pic / "4bit.bmp", MakeBmp(40, 7, 3, 4, 0, palette16, Samples(4, 3, 1)));
  Write(pic / "8bit-rle.bmp", MakeBmp(40, 6, 3, 8, 1, palette16,
                                      Bytes{3, 1, 0, 2, 2, 5, 0, 0, 0, 3, 4, 5, 6, 0, 0, 1}));
  Write(pic / "4bit-rle.bmp", MakeBmp(40, 6, 2, 4, 2, palette16, Bytes{6, 0x12, 0, 0, 4, 0x34, 0, 1}));
  Write(pic / "24bit-bottom-up.bmp", MakeBmp(40, 5, 3, 24, 0, {}, Samples(16, 3, 1)));
  Write(pic / "24bit-top-down.bmp", MakeBmp(40, 3, -4, 24, 0, {}, Samples(12, 4, 1)));
  Write(pic / "16bit-masks.bmp", MakeBmp(40, 4, 2, 16, 3, Bytes{0, 0xF8, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0},
                                         Samples(8, 2, 1)));
  Write(pic / "32bit-v5.bmp", MakeBmp(124, 3, 3, 32, 0, {}, Samples(12, 3, 1)));
  Write(pic / "16bit.bmp", MakeBmp(40, 2, 2, 16, 0, {}, Samples(4, 2, 1)));
  WriteTiffSeeds(pic.string());
  WriteIcoSeeds(pic.string());
  return 0;
}
