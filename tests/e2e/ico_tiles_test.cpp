// Icon and cursor files as tiles: named .png like every tile, drawn by the
// real program among PNG tiles and a missing one, and the BMP written
// compared pixel for pixel with a composition computed here.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/platform/graphics/ico_pictures.h"
#include "tests/support/run_program.h"
#include "tests/support/tiles.h"

namespace fs = std::filesystem;
using e2e::Picture;
using e2e::Rgba;
using graphics_test::Bytes;
using graphics_test::IcoEntry;

namespace {

using MaskFn = std::function<bool(int, int)>;

// A DIB icon entry of side x side at 24 bits (with `mask`) or 32 bits (with
// `look`'s alpha), and the picture it must draw.
struct Tile {
  IcoEntry entry;
  Picture look;
};

Tile TrueColour(int side, int bpp, const std::function<Rgba(int, int)>& look, const MaskFn& mask) {
  auto pixel = [&](int x, int y) {
    const Rgba c = look(x, y);
    return std::uint32_t(bpp == 32 ? c.a : 0) << 24 | std::uint32_t(c.r) << 16 | c.g << 8 | c.b;
  };
  Tile t{graphics_test::EntryFor(graphics_test::MakeIcoDib(side, side, bpp, {}, pixel, mask), side, side, bpp),
         Picture(side, side)};
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      t.look.at(x, y) = look(x, y);
      if (bpp == 24) t.look.at(x, y).a = mask(x, y) ? 0 : 255;
    }
  return t;
}

void WriteFile(const fs::path& file, const Bytes& data) {
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

TEST(IcoTiles, IconsAndCursorsAreDrawnByTheirFirstEntryAmongPngTiles) {
  e2e::Sandbox s("ico");
  const fs::path dir = s.root() / "2x";
  auto path = [&](int r, int c) {
    const std::string row = "00" + std::to_string(r);
    fs::create_directories(dir / row);
    return dir / row / ("2x" + row + "00" + std::to_string(c) + ".png");
  };
  std::vector<std::vector<Picture>> drawn(2, std::vector<Picture>(2));
  auto icon = [&](int r, int c, const std::vector<Tile>& entries, int type) {
    std::vector<IcoEntry> list;
    for (const Tile& t : entries) list.push_back(t.entry);
    WriteFile(path(r, c), graphics_test::MakeIco(list, type));
    drawn[r][c] = entries.front().look;
  };
  // Band 0: a wide opaque PNG reaching under an icon of 32-bit alpha, whose
  // second entry is not drawn.
  drawn[0][0] = e2e::Pattern(300, 256, 3);
  e2e::WritePng(path(0, 0), drawn[0][0]);
  const auto gradient = [](int x, int y) {
    return Rgba{std::uint8_t(x), std::uint8_t(y), std::uint8_t(x ^ y), std::uint8_t((x + 2 * y) % 256)};
  };
  const auto plain = [](int x, int y) { return Rgba{std::uint8_t(x * 9), 90, std::uint8_t(y * 9), 255}; };
  icon(0, 1, {TrueColour(256, 32, gradient, [](int, int) { return false; }),
              TrueColour(16, 24, plain, [](int, int) { return false; })}, 1);
  // Band 1: a 48-pixel cursor with a round mask ahead of a 256-pixel entry,
  // then a missing tile.
  const MaskFn outsideDisc = [](int x, int y) { return (x - 24) * (x - 24) + (y - 24) * (y - 24) > 400; };
  std::vector<Tile> cursor = {TrueColour(48, 24, plain, outsideDisc),
                              TrueColour(256, 32, gradient, [](int, int) { return false; })};
  cursor[0].entry.planes = 24, cursor[0].entry.bitCount = 24;  // the hotspot
  icon(1, 0, cursor, 2);

  const e2e::Run r = s.Play({"folder " + dir.string(), "click 按钮_指定目录", "save " + (s.root() / "out").string(),
                             "click 按钮_保存路径", "click 按钮_开始拼合"});
  ASSERT_EQ(r.status, 0) << r.Joined();
  ASSERT_TRUE(r.Has("message 64 图片拼合并保存完成!!")) << r.Joined();
  e2e::Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  ASSERT_EQ(bmp.width, 512);

  // Tile j of band r at (256 j, 256 r), in drawing order, on a black bitmap.
  const Picture placeholder = e2e::ReadPng(e2e::BinDir() / "Nodata.dll");
  ASSERT_GT(placeholder.width, 0);
  Picture want(512, 512, {0, 0, 0, 0});
  for (int band = 0; band < 2; ++band)
    for (int c = 0; c < 2; ++c) {
      const Picture& t = drawn[band][c].width ? drawn[band][c] : placeholder;
      for (int y = 0; y < t.height; ++y)
        for (int x = 0; x < t.width; ++x) {
          const int px = c * 256 + x, py = band * 256 + y;
          if (px < 512 && py < 512) want.at(px, py) = e2e::Over(want.at(px, py), t.at(x, y));
        }
    }
  int mismatches = 0;
  for (int y = 0; y < 512 && mismatches < 5; ++y)
    for (int x = 0; x < 512 && mismatches < 5; ++x) {
      const auto got = bmp.At(x, y);
      const Rgba& w = want.at(x, y);
      if (got[0] != w.b || got[1] != w.g || got[2] != w.r || got[3] != 0) {
        ++mismatches;
        ADD_FAILURE() << "pixel (" << x << ", " << y << "): got " << int(got[2]) << "," << int(got[1]) << ","
                      << int(got[0]) << "," << int(got[3]) << " want " << int(w.r) << "," << int(w.g) << ","
                      << int(w.b);
      }
    }
}

}  // namespace
