// The drawing code of the asset tool, called directly: font, stencils, the
// map's consistency between pieces, the translucent variant, PNG output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "assets/bitmap_font.h"
#include "assets/map_scene.h"
#include "assets/nodata.h"
#include "assets/png_writer.h"
#include "assets/raster.h"
#include "tests/assets/decoded_png.h"

namespace ma = mosalin_assets;

namespace {

// The pixels of `r` inside [x0, x0 + w) x [y0, y0 + h), RGBA.
std::vector<std::uint8_t> Crop(const ma::Raster& r, int x0, int y0, int w, int h) {
  std::vector<std::uint8_t> out;
  for (int y = y0; y < y0 + h; ++y)
    out.insert(out.end(), r.data() + (static_cast<std::size_t>(y) * r.width() + x0) * 4,
               r.data() + (static_cast<std::size_t>(y) * r.width() + x0 + w) * 4);
  return out;
}

TEST(BitmapFont, GlyphsAreDistinctAndEveryPlaceNameHasThem) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-.'/&:!?";
  std::set<std::vector<std::uint8_t>> shapes;
  for (char c : alphabet) {
    const std::uint8_t* rows = ma::GlyphRows(c);
    shapes.insert(std::vector<std::uint8_t>(rows, rows + ma::kGlyphHeight));
    for (int row = 0; row < ma::kGlyphHeight; ++row)
      EXPECT_LT(rows[row], 1 << ma::kGlyphWidth) << c;
  }
  EXPECT_EQ(shapes.size(), alphabet.size()) << "two characters share a glyph";
  EXPECT_EQ(ma::GlyphRows('k'), ma::GlyphRows('K'));

  const std::uint8_t* unknown = ma::GlyphRows('?');
  for (std::uint64_t seed : {1, 2, 3, 77}) {
    ma::MapScene scene({12, seed, false});
    for (const std::string& text : scene.LabelTexts())
      for (char c : text)
        EXPECT_NE(ma::GlyphRows(c), unknown) << "no glyph for '" << c << "' in " << text;
  }
}

TEST(TextStencil, HaloRingsTheInkAndStampsAgreeAcrossPieces) {
  ma::TextStencil s("AB-7", 2, 2);
  EXPECT_EQ(s.width(), ma::TextWidth("AB-7", 2) + 4);
  EXPECT_EQ(s.width(), (4 * ma::kGlyphAdvance - 1) * 2 + 4);
  EXPECT_EQ(s.height(), ma::kGlyphHeight * 2 + 4);
  for (int y = 0; y < s.height(); ++y) {
    for (int x = 0; x < s.width(); ++x) {
      bool edge = x < 2 || y < 2 || x >= s.width() - 2 || y >= s.height() - 2;
      if (edge) {
        EXPECT_NE(s.At(x, y), ma::TextStencil::kInk) << x << "," << y;
      }
      if (s.At(x, y) != ma::TextStencil::kInk) continue;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) EXPECT_NE(s.At(x + dx, y + dy), ma::TextStencil::kBlank);
    }
  }

  // Stamped whole, or in four pieces whose origins are the pieces' places.
  ma::Raster whole(40, 30), pieces[4] = {{20, 15}, {20, 15}, {20, 15}, {20, 15}};
  whole.Fill(0, 0, 40, 30, {10, 20, 30});
  s.Stamp(whole, 0, 0, 3, 4, {200, 0, 0}, {255, 255, 255}, 128);
  for (int i = 0; i < 4; ++i) {
    int ox = (i % 2) * 20, oy = (i / 2) * 15;
    pieces[i].Fill(0, 0, 20, 15, {10, 20, 30});
    s.Stamp(pieces[i], ox, oy, 3, 4, {200, 0, 0}, {255, 255, 255}, 128);
    EXPECT_EQ(Crop(pieces[i], 0, 0, 20, 15), Crop(whole, ox, oy, 20, 15)) << "piece " << i;
  }
}

TEST(MapScene, AnyPieceMatchesTheSameSpotOfALargerPiece) {
  ma::MapScene scene({4, 9, false});
  ma::Raster big(700, 700);
  scene.Render(big, 100, 200);
  // Pieces that start in the middle of blocks, lots, streets and labels.
  for (auto [x, y, w, h] : {std::array{137, 211, 300, 257}, std::array{0, 0, 700, 1},
                            std::array{333, 45, 1, 600}, std::array{512, 600, 188, 100}}) {
    ma::Raster piece(w, h);
    scene.Render(piece, 100 + x, 200 + y);
    EXPECT_EQ(Crop(piece, 0, 0, w, h), Crop(big, x, y, w, h)) << x << "," << y;
  }
}

TEST(MapScene, DefaultMapNamesItsPlaces) {
  std::vector<std::string> texts = ma::MapScene({4, 1, false}).LabelTexts();
  for (const char* name : {"OLD TOWN", "RIVERSIDE", "PARK"})
    EXPECT_NE(std::find(texts.begin(), texts.end(), name), texts.end()) << name;
}

TEST(MapScene, TranslucentVariantOnlyLetsWaterShowThrough) {
  ma::MapScene opaque({4, 5, false}), translucent({4, 5, true});
  ma::Raster a(1024, 1024), b(1024, 1024);
  opaque.Render(a, 0, 0);
  translucent.Render(b, 0, 0);
  int seeThrough = 0;
  for (int y = 0; y < 1024; ++y) {
    for (int x = 0; x < 1024; ++x) {
      ASSERT_EQ(a.AlphaAt(x, y), 255);
      ma::Rgb pa = a.At(x, y), pb = b.At(x, y);
      ASSERT_TRUE(pa.r == pb.r && pa.g == pb.g && pa.b == pb.b) << x << "," << y;
      if (b.AlphaAt(x, y) == 255) continue;
      ASSERT_EQ(b.AlphaAt(x, y), ma::kWaterAlpha);
      ++seeThrough;
    }
  }
  EXPECT_GT(seeThrough, 1024 * 20) << "the river at least";
  EXPECT_LT(seeThrough, 1024 * 1024 / 4);
}

TEST(MapScene, RefusesSizesAndPiecesOutsideTheMap) {
  EXPECT_THROW(ma::MapScene({0, 1, false}), std::invalid_argument);
  EXPECT_THROW(ma::MapScene({ma::kMaxTiles + 1, 1, false}), std::invalid_argument);
  ma::MapScene one({1, 1, false});
  EXPECT_EQ(one.edge(), ma::kTileEdge);
  ma::Raster tile(256, 256);
  EXPECT_NO_THROW(one.Render(tile, 0, 0));
  EXPECT_THROW(one.Render(tile, 1, 0), std::out_of_range);
  EXPECT_THROW(one.Render(tile, 0, -1), std::out_of_range);
}

TEST(NoData, FramedAndLetteredInTheMiddle) {
  ma::Raster p = ma::DrawNoData();
  ASSERT_EQ(p.width(), 256);
  ASSERT_EQ(p.height(), 256);
  auto same = [](ma::Rgb a, ma::Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; };
  EXPECT_TRUE(same(p.At(0, 100), p.At(255, 3)));
  EXPECT_FALSE(same(p.At(0, 100), p.At(5, 100))) << "frame and ground alike";
  // The lettering: the darkest colour, centred both ways.
  ma::Rgb ink = p.At(0, 0);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      if (p.At(x, y).r < ink.r) ink = p.At(x, y);
  int x0 = 256, x1 = -1, y0 = 256, y1 = -1;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      if (same(p.At(x, y), ink))
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
  EXPECT_LE(std::abs(x0 - (255 - x1)), 1);
  EXPECT_LE(std::abs(y0 - (255 - y1)), 1);
  EXPECT_GT(x1 - x0, 128) << "large enough to read at a glance";
}

TEST(PngWriter, RoundTripsAndInsistsOnEveryRow) {
  std::string dir = ::testing::TempDir() + "assets_png_XXXXXX";
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  const std::vector<std::uint8_t> rgba = {1,  2,  3,  255, 4,  5,  6,  0, 7,  8,  9,  128,
                                          10, 11, 12, 1,   13, 14, 15, 2, 16, 17, 18, 3};
  ma::WritePng(dir + "/a.png", 3, 2, 4, rgba.data());
  assets_test::Picture a = assets_test::Decode(dir + "/a.png");
  EXPECT_EQ(a.colourType, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA);
  EXPECT_EQ(a.rgba, rgba);

  {
    ma::PngRowWriter w(dir + "/b.png", 2, 2, 3);
    const std::uint8_t row0[] = {1, 2, 3, 4, 5, 6}, row1[] = {7, 8, 9, 10, 11, 12};
    w.WriteRow(row0);
    w.WriteRow(row1);
    EXPECT_THROW(w.WriteRow(row1), std::runtime_error);
    w.Finish();
  }
  assets_test::Picture b = assets_test::Decode(dir + "/b.png");
  EXPECT_EQ(b.colourType, SPNG_COLOR_TYPE_TRUECOLOR);
  EXPECT_EQ(b.rgba,
            (std::vector<std::uint8_t>{1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255}));

  ma::PngRowWriter shortOne(dir + "/c.png", 2, 2, 3);
  EXPECT_THROW(shortOne.Finish(), std::runtime_error);
  EXPECT_THROW(ma::WritePng(dir + "/no/such/dir.png", 3, 2, 4, rgba.data()), std::runtime_error);
  EXPECT_THROW(ma::WritePng(dir + "/d.png", 3, 2, 2, rgba.data()), std::runtime_error);
  std::filesystem::remove_all(dir);
}

}  // namespace
