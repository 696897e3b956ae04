// TIFF files as tiles: named .png like every tile, drawn by the real program
// among PNG tiles and a missing one, and the BMP written compared pixel for
// pixel with a composition computed here.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "tests/platform/graphics/tiff_pictures.h"
#include "tests/support/run_program.h"
#include "tests/support/tiles.h"

namespace fs = std::filesystem;
using e2e::Picture;
using e2e::Rgba;
using graphics_test::TiffLayout;

namespace {

// A TIFF tile and the picture it must draw: `look` gives each pixel's
// straight colour and alpha, `sample` the samples stored for it.
struct TiffTile {
  TiffLayout layout;
  std::function<unsigned(int, int, int)> sample;
  std::function<Rgba(int, int)> look;
};

TiffLayout Kind(std::uint16_t photometric, std::uint16_t bits, std::uint16_t samples, std::uint16_t compression) {
  TiffLayout l;
  l.width = l.height = 256;
  l.photometric = photometric, l.bits = bits, l.samples = samples, l.compression = compression;
  return l;
}

std::vector<TiffTile> Tiles() {
  std::vector<TiffTile> t(6);
  // An opaque RGB tile wider than its square, in LZW strips with the predictor.
  const Picture rgb = e2e::Pattern(300, 256, 4);
  t[0].layout = Kind(PHOTOMETRIC_RGB, 8, 3, COMPRESSION_LZW);
  t[0].layout.width = 300, t[0].layout.predictor = PREDICTOR_HORIZONTAL, t[0].layout.rowsPerStrip = 7;
  t[0].sample = [rgb](int x, int y, int s) { return unsigned(s == 0 ? rgb.at(x, y).r : s == 1 ? rgb.at(x, y).g : rgb.at(x, y).b); };
  t[0].look = [rgb](int x, int y) { return rgb.at(x, y); };
  // Unassociated alpha in Deflate tiles, over the first tile's overhang.
  const Picture rgba = e2e::Pattern(256, 256, 8);
  auto alpha = [](int x, int y) { return std::uint8_t(x < 40 ? 255 : (x * 3 + y) % 256); };
  t[1].layout = Kind(PHOTOMETRIC_RGB, 8, 4, COMPRESSION_ADOBE_DEFLATE);
  t[1].layout.extra = {EXTRASAMPLE_UNASSALPHA}, t[1].layout.tileWidth = t[1].layout.tileLength = 64;
  t[1].sample = [rgba, alpha](int x, int y, int s) {
    const Rgba c = rgba.at(x, y);
    return unsigned(s == 0 ? c.r : s == 1 ? c.g : s == 2 ? c.b : alpha(x, y));
  };
  t[1].look = [rgba, alpha](int x, int y) { return Rgba{rgba.at(x, y).r, rgba.at(x, y).g, rgba.at(x, y).b, alpha(x, y)}; };
  // Palette, PackBits.
  t[2].layout = Kind(PHOTOMETRIC_PALETTE, 8, 1, COMPRESSION_PACKBITS);
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 256; ++i) t[2].layout.colormap.push_back(std::uint16_t((i * 37 + k * 80) % 256 * 257));
  t[2].sample = [](int x, int y, int) { return unsigned(x / 16 + y / 16 * 16); };
  t[2].look = [](int x, int y) {
    const int i = x / 16 + y / 16 * 16;
    return Rgba{std::uint8_t(i * 37 % 256), std::uint8_t((i * 37 + 80) % 256), std::uint8_t((i * 37 + 160) % 256), 255};
  };
  // 16-bit grey, big-endian, Deflate, the first of two pages.
  t[3].layout = Kind(PHOTOMETRIC_MINISBLACK, 16, 1, COMPRESSION_ADOBE_DEFLATE);
  t[3].layout.bigEndian = true, t[3].layout.pages = 2;
  t[3].sample = [](int x, int y, int) { return unsigned(x * 256 + y * 97) & 0xFFFF; };
  t[3].look = [](int x, int y) {
    const auto g = std::uint8_t((unsigned(x * 256 + y * 97) & 0xFFFF) >> 8);
    return Rgba{g, g, g, 255};
  };
  // Bilevel, 0 white, CCITT T.6.
  t[4].layout = Kind(PHOTOMETRIC_MINISWHITE, 1, 1, COMPRESSION_CCITT_T6);
  t[4].sample = [](int x, int y, int) { return unsigned(x / 8 + y / 8) % 2; };
  t[4].look = [](int x, int y) { return (x / 8 + y / 8) % 2 ? Rgba{0, 0, 0, 255} : Rgba{255, 255, 255, 255}; };
  // CMYK in separate planes: R = 255 (1 - C)(1 - K), rounded, and so on.
  t[5].layout = Kind(PHOTOMETRIC_SEPARATED, 8, 4, COMPRESSION_NONE);
  t[5].layout.separate = true;
  auto ink = [](int x, int y, int s) { return unsigned(s == 0 ? x : s == 1 ? y : s == 2 ? (x + y) / 2 : x * y % 128); };
  t[5].sample = ink;
  t[5].look = [ink](int x, int y) {
    auto c = [&](int s) { return std::uint8_t(std::lround(255 * (1 - ink(x, y, s) / 255.0) * (1 - ink(x, y, 3) / 255.0))); };
    return Rgba{c(0), c(1), c(2), 255};
  };
  return t;
}

TEST(TiffTiles, DrawnAmongPngTilesAndAMissingOneWhateverTheirName) {
  e2e::Sandbox s("tiff");
  const fs::path dir = s.root() / "2x";
  // Three bands of three: TIFF at (0,0) (0,1) (1,0) (1,2) (2,0) (2,1),
  // PNG at (0,2) and (2,2), (1,1) missing.
  const std::pair<int, int> at[] = {{0, 0}, {0, 1}, {1, 0}, {1, 2}, {2, 0}, {2, 1}};
  std::vector<std::vector<Picture>> want(3, std::vector<Picture>(3));
  const std::vector<TiffTile> tiffs = Tiles();
  for (int r = 0; r < 3; ++r) fs::create_directories(dir / ("00" + std::to_string(r)));
  auto name = [&](int r, int c) { return dir / ("00" + std::to_string(r)) / ("2x00" + std::to_string(r) + "00" + std::to_string(c) + ".png"); };
  for (std::size_t i = 0; i < tiffs.size(); ++i) {
    const auto [r, c] = at[i];
    const TiffTile& t = tiffs[i];
    const graphics_test::Bytes b = graphics_test::MakeTiff(t.layout, t.sample);
    std::ofstream(name(r, c), std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    Picture& p = want[r][c] = Picture(int(t.layout.width), int(t.layout.height));
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) p.at(x, y) = t.look(x, y);
  }
  for (int r : {0, 2}) {
    want[r][2] = e2e::Pattern(256, 256, 20 + r);
    e2e::WritePng(name(r, 2), want[r][2]);
  }
  want[1][1] = e2e::ReadPng(e2e::BinDir() / "Nodata.dll");
  ASSERT_GT(want[1][1].width, 0) << "the build puts the placeholder beside the executable";

  const e2e::Run run = s.Play({"folder " + dir.string(), "click 按钮_指定目录", "save " + (s.root() / "out").string(),
                               "click 按钮_保存路径", "click 按钮_开始拼合"});
  ASSERT_EQ(run.status, 0) << run.Joined();
  ASSERT_TRUE(run.Has("message 64 图片拼合并保存完成!!")) << run.Joined();
  e2e::Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  ASSERT_EQ(bmp.width, 768);

  // Drawing order: band by band, tile by tile, each at (256 c, 256 r), source-over on black.
  Picture canvas(768, 768, {0, 0, 0, 0});
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < want[r][c].height; ++y)
        for (int x = 0; x < want[r][c].width && 256 * c + x < 768; ++x) {
          Rgba& d = canvas.at(256 * c + x, 256 * r + y);
          d = e2e::Over(d, want[r][c].at(x, y));
        }
  int mismatches = 0;
  for (int y = 0; y < 768 && mismatches < 5; ++y)
    for (int x = 0; x < 768 && mismatches < 5; ++x) {
      const auto got = bmp.At(x, y);
      const Rgba w = canvas.at(x, y);
      if (got[0] != w.b || got[1] != w.g || got[2] != w.r || got[3] != 0)
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") of tile " << y / 256 << ',' << x / 256 << ": got "
                      << int(got[2]) << ',' << int(got[1]) << ',' << int(got[0]) << ',' << int(got[3]) << " want "
                      << int(w.r) << ',' << int(w.g) << ',' << int(w.b) << " (" << ++mismatches << ')';
    }
}

}  // namespace
