// The same tile sets merged by the Linux build (our GDI and GDI+ substitutes)
// and by the Windows build under Wine (the system's GDI and GDI+): the files
// must agree in every header byte and every blue, green and red byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "platform/graphics/gdiplus.h"
#include "tests/platform/graphics/ico_pictures.h"
#include "tests/platform/graphics/pictures.h"
#include "tests/platform/graphics/tiff_pictures.h"
#include "tests/support/run_program.h"
#include "tests/support/tiles.h"
#include "tests/windows/wine_support.h"

namespace fs = std::filesystem;
using graphics_test::Bytes;

namespace {

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

void WriteFile(const fs::path& p, const Bytes& b) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// A smooth picture with detail in every channel, so that decoders and
// resampling differences show.
unsigned Wave(int x, int y, int c, int seed, unsigned max) {
  const double v = 0.5 + 0.25 * std::sin((x + 3 * seed) * 0.11 + c) + 0.25 * std::cos((y - seed) * 0.07 + 2 * c);
  return static_cast<unsigned>(std::lround(v * max));
}

Bytes Samples(int width, int height, int channels, int seed) {
  Bytes px;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) px.push_back(static_cast<std::uint8_t>(Wave(x, y, c, seed, 255)));
  return px;
}

Bytes GifTile(int seed, int transparent) {
  Bytes idx, pal;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) idx.push_back(static_cast<std::uint8_t>((x / 4 + y / 4 + seed) % 64));
  for (int i = 0; i < 64; ++i) {
    pal.push_back(static_cast<std::uint8_t>(i * 4));
    pal.push_back(static_cast<std::uint8_t>(255 - i * 4));
    pal.push_back(128);
  }
  return graphics_test::MakeGif(256, 256, 0, 0, 256, 256, idx, pal, transparent, false);
}

// A tile of the named kind; `seed` varies the content from tile to tile.
Bytes Make(const std::string& kind, int seed) {
  using graphics_test::MakePng;
  auto wave = [seed](unsigned max) {
    return [seed, max](int x, int y, int c) { return Wave(x, y, c, seed, max); };
  };
  if (kind == "rgb8") return MakePng(256, 256, 2, 8, false, wave(255));
  if (kind == "rgb8-300x300") return MakePng(300, 300, 2, 8, false, wave(255));
  if (kind == "rgb8-interlaced") return MakePng(256, 256, 2, 8, true, wave(255));
  if (kind == "rgb16") return MakePng(256, 256, 2, 16, false, wave(65535));
  if (kind == "grey16") return MakePng(256, 256, 0, 16, false, wave(65535));
  if (kind == "rgba8-partial" || kind == "rgba8-interlaced")
    return MakePng(256, 256, 6, 8, kind == "rgba8-interlaced", [seed](int x, int y, int c) {
      return c == 3 ? static_cast<unsigned>((x + 2 * y + seed) % 256) : Wave(x, y, c, seed, 255);
    });
  if (kind == "rgba16-partial")
    return MakePng(256, 256, 6, 16, false, [seed](int x, int y, int c) {
      return c == 3 ? static_cast<unsigned>(((x * 7 + y + seed) % 256) * 257 + x % 200) : Wave(x, y, c, seed, 65535);
    });
  if (kind == "greyalpha8")
    return MakePng(256, 256, 4, 8, false, [seed](int x, int y, int c) {
      return c == 1 ? static_cast<unsigned>((x * 3 + y) % 256) : Wave(x, y, 0, seed, 255);
    });
  if (kind == "grey1")
    return MakePng(256, 256, 0, 1, false, [](int x, int y, int) { return unsigned(((x / 8) ^ (y / 8)) & 1); });
  if (kind == "palette8-trns") {
    Bytes plte, trns;
    for (int i = 0; i < 256; ++i) {
      plte.push_back(static_cast<std::uint8_t>(i));
      plte.push_back(static_cast<std::uint8_t>(255 - i));
      plte.push_back(static_cast<std::uint8_t>((i * 5 + seed) & 0xFF));
      trns.push_back(static_cast<std::uint8_t>(i < 16 ? i * 16 : 255));
    }
    return MakePng(256, 256, 3, 8, false,
                   [seed](int x, int y, int) { return static_cast<unsigned>((x / 3 + y / 5 + seed) % 256); }, plte, trns);
  }
  if (kind == "palette4") {
    Bytes plte;
    for (int i = 0; i < 16; ++i)
      for (int c = 0; c < 3; ++c) plte.push_back(static_cast<std::uint8_t>((i * 17 + c * 80 + seed) & 0xFF));
    return MakePng(256, 256, 3, 4, false, [](int x, int y, int) { return unsigned((x / 16 + y / 16) % 16); }, plte);
  }
  if (kind == "jpeg-ycbcr-420") return graphics_test::MakeJpeg(256, 256, 3, Samples(256, 256, 3, seed), false);
  if (kind == "jpeg-progressive") return graphics_test::MakeJpeg(256, 256, 1, Samples(256, 256, 1, seed), true);
  if (kind == "jpeg-grey") return graphics_test::MakeJpeg(256, 256, 1, Samples(256, 256, 1, seed), false);
  if (kind == "gif-transparent") return GifTile(seed, 5);
  if (kind == "gif-opaque") return GifTile(seed, -1);
  if (kind == "bmp24") return graphics_test::MakeBmp(40, 256, 256, 24, 0, {}, Samples(256, 256, 3, seed));
  ADD_FAILURE() << "no tile kind " << kind;
  return {};
}

// A TIFF, icon, cursor or metafile tile of the named kind (256 x 256 where
// the format has a size of its own).
Bytes MakeNewFormat(const std::string& kind, int seed) {
  using namespace graphics_test;
  if (kind == "rgb8") return Make(kind, seed);
  if (kind == "wmf-placeable") return MakeWmf(true);
  if (kind == "emf") return MakeEmf();
  if (kind.rfind("tiff-", 0) == 0) {
    TiffLayout l;
    l.width = l.height = 256;
    l.rowsPerStrip = 32;
    unsigned max = 255;
    TiffSamples sample = [&](int x, int y, int c) { return Wave(x, y, c, seed, max); };
    if (kind == "tiff-lzw-predictor") l.compression = COMPRESSION_LZW, l.predictor = PREDICTOR_HORIZONTAL;
    if (kind == "tiff-deflate-tiled") l.compression = COMPRESSION_ADOBE_DEFLATE, l.tileWidth = l.tileLength = 64;
    if (kind == "tiff-packbits-grey") l.photometric = PHOTOMETRIC_MINISBLACK, l.samples = 1, l.compression = COMPRESSION_PACKBITS;
    if (kind == "tiff-grey16") l.photometric = PHOTOMETRIC_MINISBLACK, l.samples = 1, l.bits = 16, max = 65535;
    if (kind == "tiff-rgb16") l.bits = 16, max = 65535;
    if (kind == "tiff-big-endian") l.bigEndian = true;
    if (kind == "tiff-two-pages") l.pages = 2;
    if (kind == "tiff-palette") {
      l.photometric = PHOTOMETRIC_PALETTE, l.samples = 1;
      for (unsigned i = 0; i < 3 * 256; ++i) l.colormap.push_back(std::uint16_t(i * 40503 + 977 + seed));
      sample = [seed](int x, int y, int) { return unsigned((x / 3 + y / 5 + seed) % 256); };
    }
    if (kind == "tiff-bilevel") {
      l.photometric = PHOTOMETRIC_MINISWHITE, l.samples = 1, l.bits = 1;
      sample = [](int x, int y, int) { return unsigned(((x / 8) ^ (y / 8)) & 1); };
    }
    if (kind == "tiff-rgba-unassociated" || kind == "tiff-rgba-associated") {
      const bool associated = kind == "tiff-rgba-associated";
      l.samples = 4, l.extra = {std::uint16_t(associated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA)};
      sample = [seed, associated](int x, int y, int c) {
        const unsigned a = unsigned((x + 2 * y + seed) % 256);
        if (c == 3) return a;
        const unsigned v = Wave(x, y, c, seed, 255);
        return associated ? (v * a + 127) / 255 : v;  // premultiplied colour
      };
    }
    if (kind == "tiff-cmyk") l.photometric = PHOTOMETRIC_SEPARATED, l.samples = 4;
    if (kind == "tiff-ycbcr-jpeg")
      l.photometric = PHOTOMETRIC_YCBCR, l.compression = COMPRESSION_JPEG, l.jpegFromRgb = true;
    return MakeTiff(l, sample);
  }
  auto dib = [seed](int bpp, bool maskPattern) {
    Bytes table;
    for (int i = 0; i < (bpp <= 8 ? 1 << bpp : 0); ++i)
      for (int c : {0, 1, 2, 3}) table.push_back(c == 3 ? 0 : std::uint8_t((i * (c * 60 + 17) + seed) & 0xFF));
    return MakeIcoDib(
        256, 256, bpp, table,
        [seed, bpp](int x, int y) -> std::uint32_t {
          if (bpp <= 8) return std::uint32_t((x / 4 + y / 4 + seed) % (1 << bpp));
          const std::uint32_t rgb = Wave(x, y, 0, seed, 255) << 16 | Wave(x, y, 1, seed, 255) << 8 | Wave(x, y, 2, seed, 255);
          return bpp == 32 ? std::uint32_t((x + y + seed) % 256) << 24 | rgb : rgb;
        },
        [maskPattern](int x, int y) { return maskPattern && ((x / 16 + y / 16) % 3 == 0); });
  };
  if (kind == "ico-32-alpha") return MakeIco({EntryFor(dib(32, false), 256, 256, 32)});
  if (kind == "ico-24-mask") return MakeIco({EntryFor(dib(24, true), 256, 256, 24)});
  if (kind == "ico-8-palette") return MakeIco({EntryFor(dib(8, true), 256, 256, 8)});
  if (kind == "ico-1-mask") return MakeIco({EntryFor(dib(1, true), 256, 256, 1)});
  if (kind == "ico-png")
    return MakeIco({EntryFor(MakePng(256, 256, 6, 8, false,
                                     [seed](int x, int y, int c) {
                                       return c == 3 ? unsigned((x * 3 + y + seed) % 256) : Wave(x, y, c, seed, 255);
                                     }),
                             256, 256, 32)});
  if (kind == "ico-three-entries" || kind == "cur-hotspot") {
    auto small = [seed](int side) {
      return MakeIcoDib(side, side, 24, {}, [seed](int, int) { return std::uint32_t(0x102030 * (seed % 7 + 1)); },
                        [](int, int) { return false; });
    };
    return MakeIco({EntryFor(dib(24, kind == "cur-hotspot"), 256, 256, 24), EntryFor(small(16), 16, 16, 24),
                    EntryFor(small(48), 48, 48, 24)},
                   kind == "cur-hotspot" ? 2 : 1);
  }
  ADD_FAILURE() << "no tile kind " << kind;
  return {};
}

// Where Wine's GDI+ departs from ours and Windows documents nothing that makes
// Wine right, the Linux build keeps its own behaviour and the difference is
// allowed here, for these kinds of tile only and up to the given amount.
struct Departure {
  std::vector<std::string> kinds;
  int maxChannelDifference;  // per blue, green or red byte
  const char* reason;
};
const Departure kWineDepartures[] = {
    {{"rgba8-partial", "rgba8-interlaced", "rgba16-partial", "greyalpha8", "palette8-trns"}, 1,
     "a partly transparent pixel drawn over a pixel that is not black: Wine rounds the blend "
     "its own way (off by one either way in about a quarter of the channels); Windows "
     "documents no rounding, ours is the nearest integer to s*a/255 + d*(255-a)/255"},
    {{"jpeg-ycbcr-420"}, 8,
     "Wine decodes JPEG with its own copy of the IJG library (version 9), which upsamples "
     "the halved chroma planes differently; Windows documents no particular upsampling, and "
     "ours keeps libjpeg-turbo's"},
    {{"gif-transparent"}, 255,
     "Wine's GDI+ draws a GIF's transparent colour index as an opaque colour; Windows "
     "documents the GIF transparent index as a fully transparent palette entry "
     "(IWICPalette::HasAlpha), which ours leaves transparent"},
    {{"tiff-ycbcr-jpeg"}, 255,
     "Wine's GDI+ fails to load a TIFF in YCbCr with JPEG compression, so its square stays "
     "as it was; Windows' TIFF codec states TIFF 6.0 support, which defines it, and ours "
     "draws it"},
    {{"tiff-cmyk"}, 1,
     "CMYK turned into RGB: Wine rounds the conversion its own way (off by one); Windows "
     "documents no formula, ours rounds R = (255 - C)(255 - K) / 255 to nearest"},
    {{"cur-hotspot"}, 255,
     "Wine's GDI+ does not load a cursor file (directory type 2), so its square stays as it "
     "was; ours decodes it as the icon whose layout it shares"},
};

const Departure* DepartureFor(const std::string& kind) {
  for (const Departure& d : kWineDepartures)
    for (const std::string& k : d.kinds)
      if (kind == k) return &d;
  return nullptr;
}

// Metafiles: our own player draws them by GDI's documented rules, which is
// held to the per-cell bar of RecordedMetafilesMergeAsOnWindows (real GDI
// recordings) rather than to equality here.
const std::vector<std::string> kNotDrawnHere = {"wmf-placeable", "emf"};

bool NotDrawnHere(const std::string& kind) {
  return std::find(kNotDrawnHere.begin(), kNotDrawnHere.end(), kind) != kNotDrawnHere.end();
}

using Layout = std::vector<std::vector<std::string>>;
using MakeTile = std::function<Bytes(const std::string&, int)>;

// The files both builds wrote for one tile set, and where its tiles are.
struct Merged {
  std::string ours, wine;  // the Linux build's BMP and the Windows build's
  int edge = 0;            // the picture's side in pixels
  fs::path tiles;          // the tile directory on disk
};

// The blue, green, red and fourth byte of pixel (x, y), counted from the top.
const std::uint8_t* Pixel(const std::string& bmp, int edge, int x, int y) {
  return reinterpret_cast<const std::uint8_t*>(bmp.data()) + 54 + (std::size_t(edge - 1 - y) * edge + x) * 4;
}

// Writes the tiles of `layout` (rows of tile kinds, "missing" for none) into
// the sandbox, merges them with both builds and reads both files back;
// fails unless both merges succeeded and the files have the same size and
// header bytes.
//
// With `otherCase`, the names on disk differ from the names the program asks
// for only in case: the tile directory, a third of the tiles' names whole and
// another third's extension, and the directory the files are written to.
void MergeBoth(const e2e::Sandbox& s, const Layout& layout, const MakeTile& make, Merged& merged,
               bool otherCase = false) {
  const int n = static_cast<int>(layout.size());
  const fs::path dir = s.root() / "tiles" / "3x";
  const fs::path dirOnDisk = otherCase ? s.root() / "Tiles" / "3X" : dir;
  const fs::path out = s.root() / "out", outOnDisk = otherCase ? s.root() / "OUT" : out;
  merged.tiles = dirOnDisk.parent_path();
  fs::create_directories(outOnDisk);
  for (int r = 0; r < n; ++r) {
    char row[16];
    std::snprintf(row, sizeof row, "%03d", r);
    fs::create_directories(dirOnDisk / row);
    for (int c = 0; c < n; ++c) {
      if (layout[r][c] == "missing") continue;
      char file[32];
      const int form = otherCase ? (r + c) % 3 : 0;
      std::snprintf(file, sizeof file, form == 1 ? "3X%s%03d.PNG" : form == 2 ? "3x%s%03d.Png" : "3x%s%03d.png", row, c);
      WriteFile(dirOnDisk / row / file, make(layout[r][c], r * n + c));
    }
  }
  auto scenario = [&](const std::string& folder, const std::string& out) {
    return std::vector<std::string>{"folder " + folder, "click 按钮_指定目录", "save " + out,
                                    "click 按钮_保存路径", "click 按钮_开始拼合"};
  };
  e2e::Run linux = s.Play(scenario(dir.string(), (out / "linux").string()));
  ASSERT_TRUE(linux.Has("message 64 图片拼合并保存完成!!")) << linux.Joined();
  e2e::Run win = wintest::PlayWine(s.root() / "win", scenario(e2e::WindowsPath(dir), e2e::WindowsPath(out / "windows")));
  ASSERT_TRUE(win.Has("message 64 图片拼合并保存完成!!")) << win.Joined();

  merged.ours = Slurp(outOnDisk / "linux.bmp"), merged.wine = Slurp(outOnDisk / "windows.bmp");
  merged.edge = n * 256;
  ASSERT_EQ(merged.ours.size(), 54u + std::size_t(merged.edge) * merged.edge * 4);
  ASSERT_EQ(merged.ours.size(), merged.wine.size());
  for (std::size_t i = 0; i < 54; ++i) EXPECT_EQ(merged.ours[i], merged.wine[i]) << "header byte " << i;
}

// After a failure, keeps both files and the tiles for a look.
void KeepOnFailure(const std::string& name, const Merged& merged) {
  if (!::testing::Test::HasFailure()) return;
  const fs::path keep = fs::temp_directory_path() / ("mosalin-" + name);
  fs::remove_all(keep);
  fs::create_directories(keep);
  WriteFile(keep / "linux.bmp", Bytes(merged.ours.begin(), merged.ours.end()));
  WriteFile(keep / "windows.bmp", Bytes(merged.wine.begin(), merged.wine.end()));
  fs::copy(merged.tiles, keep / "tiles", fs::copy_options::recursive);
  std::printf("both files and the tiles are kept in %s\n", keep.c_str());
}

// Merges `layout` with both builds and compares the files: every header
// byte, every blue, green and red byte, except in the cells of listed
// departures; prints what differs and what Wine writes into the fourth byte.
void MergeBothAndCompare(const std::string& name, const Layout& layout, const MakeTile& make, bool otherCase = false) {
  e2e::Sandbox s(name);
  Merged merged;
  MergeBoth(s, layout, make, merged, otherCase);
  if (::testing::Test::HasFatalFailure()) return;
  const std::string &a = merged.ours, &b = merged.wine;
  const int edge = merged.edge;

  struct CellDiff {
    int pixels = 0, max = 0;
  };
  std::map<std::pair<int, int>, CellDiff> diff;
  std::map<std::string, std::map<int, int>> fourth;  // kind -> value -> pixels (Windows)
  for (int y = 0; y < edge; ++y)
    for (int x = 0; x < edge; ++x) {
      const std::uint8_t *p = Pixel(a, edge, x, y), *q = Pixel(b, edge, x, y);
      int m = 0;
      for (int c = 0; c < 3; ++c) m = std::max(m, std::abs(int(p[c]) - int(q[c])));
      EXPECT_EQ(p[3], 0) << "our fourth byte at " << x << "," << y;
      ++fourth[layout[y / 256][x / 256]][q[3]];
      if (m) {
        CellDiff& d = diff[{y / 256, x / 256}];
        ++d.pixels;
        d.max = std::max(d.max, m);
      }
    }

  for (const auto& [cell, d] : diff) {
    const std::string& kind = layout[cell.first][cell.second];
    const Departure* departure = DepartureFor(kind);
    const bool ours = NotDrawnHere(kind);
    std::printf("cell (%d, %d) %-18s differs in %6d pixels, by up to %3d%s\n", cell.first, cell.second,
                kind.c_str(), d.pixels, d.max,
                departure ? " (a listed departure of Wine)" : ours ? " (a metafile: held to the recorded-metafile bar)" : "");
    EXPECT_TRUE(ours || (departure && d.max <= departure->maxChannelDifference))
        << "cell (" << cell.first << ", " << cell.second << ") " << kind << " differs by up to " << d.max;
  }
  // What Wine writes into the fourth byte of a pixel (ours is always 0).
  for (const auto& [kind, values] : fourth) {
    std::string shown;
    int others = 0;
    for (const auto& [v, count] : values) {
      if (v == 0 || v == 255) shown += " " + std::to_string(v) + ":" + std::to_string(count);
      else others += count;
    }
    std::printf("fourth byte under Wine, %-18s%s, other values: %d\n", kind.c_str(), shown.c_str(), others);
  }
  KeepOnFailure(name, merged);
}

// A tile set of every kind of PNG, JPEG, GIF and BMP tile. A tile larger
// than 256 x 256 overlaps its right and lower neighbours, so that the tiles
// after it blend over what it left there; "missing" cells get the
// placeholder.
TEST(Differential, EveryKindOfTileMergesAsOnLinux) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  MergeBothAndCompare("win-diff",
                      {{"rgb8", "rgba8-partial", "rgb16", "rgba16-partial", "palette8-trns"},
                       {"rgb8-300x300", "rgba8-partial", "palette4", "grey1", "grey16"},
                       {"rgba8-partial", "greyalpha8", "rgba8-interlaced", "rgb8-interlaced", "missing"},
                       {"jpeg-ycbcr-420", "jpeg-grey", "jpeg-progressive", "gif-transparent", "gif-opaque"},
                       {"bmp24", "missing", "rgb8-300x300", "greyalpha8", "rgba16-partial"}},
                      Make);
}

// TIFF, icon, cursor and metafile tiles, all under .png names.
TEST(Differential, TiffIconAndMetafileTilesMergeAsOnLinux) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  MergeBothAndCompare("win-diff-formats",
                      {{"tiff-rgb8", "tiff-lzw-predictor", "tiff-deflate-tiled", "tiff-packbits-grey", "tiff-grey16"},
                       {"tiff-palette", "tiff-bilevel", "tiff-rgba-unassociated", "tiff-rgba-associated", "tiff-cmyk"},
                       {"tiff-ycbcr-jpeg", "tiff-two-pages", "ico-32-alpha", "ico-24-mask", "ico-8-palette"},
                       {"ico-png", "ico-three-entries", "cur-hotspot", "wmf-placeable", "emf"},
                       {"missing", "ico-1-mask", "tiff-rgb16", "rgb8", "tiff-big-endian"}},
                      MakeNewFormat);
}

// Tiles, their directory and the output's directory named in another case on
// disk than the program names them: found on both builds, the same picture.
TEST(Differential, NamesThatDifferOnlyInCaseGiveTheSamePicture) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  MergeBothAndCompare("win-diff-case",
                      {{"rgb8", "jpeg-grey", "rgb8"}, {"bmp24", "missing", "rgb8"}, {"rgb8", "rgb8", "jpeg-grey"}},
                      Make, true);
}

// A metafile that GDI or GDI+ recorded under Wine, as the recorder
// (on_windows/metafile_recorder.cpp, which holds the table of cases) lists it.
struct Recorded {
  std::string kind;  // emf, wmf, wmf-placeable, emf-plus-dual, emf-plus-only
  bool text = false;
  std::string size;  // "WIDTH HEIGHT" as GDI+ under Wine reports it, or "refused STATUS"
};

// The size our GDI+ substitute reports for `file`, in the recorder's form.
std::string OurSize(const fs::path& file) {
  GpImage* image = nullptr;
  REAL width = 0, height = 0;
  GpStatus s = GdipLoadImageFromFile(graphics_test::WindowsPath(file.string()).c_str(), &image);
  if (s == Gdiplus::Ok) s = GdipGetImageDimension(image, &width, &height);
  if (image) GdipDisposeImage(image);
  char text[64];
  if (s == Gdiplus::Ok) std::snprintf(text, sizeof text, "%.9g %.9g", width, height);
  else std::snprintf(text, sizeof text, "refused %d", int(s));
  return text;
}

// The box of a cell's pixels that are not black, what the bitmap holds where
// nothing was drawn: left, top, right and bottom (exclusive); all 0 if none.
std::array<int, 4> InkBox(const std::string& bmp, int edge, int row, int col) {
  std::array<int, 4> box = {256, 256, 0, 0};
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      const std::uint8_t* p = Pixel(bmp, edge, col * 256 + x, row * 256 + y);
      if (p[0] | p[1] | p[2])
        box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x + 1), std::max(box[3], y + 1)};
    }
  return box[2] ? box : std::array<int, 4>{};
}

// Metafiles recorded by the system's own GDI and GDI+ under Wine, every kind
// (EMF, plain and placeable WMF, dual and EMF+-only), merged as tiles under
// .png names beside PNG tiles and a missing one. Our GDI+ substitute must
// report each file's size as Wine's does; each cell of shapes must have at
// least 99.5 % of its pixels equal to Wine's, and every pixel that differs is
// listed; text depends on the fonts each side finds, so a cell of text must
// have its ink in the same box as Wine's, give or take a few pixels. PNG
// cells and the placeholder must be equal.
TEST(Differential, RecordedMetafilesMergeAsOnWindows) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  e2e::Sandbox s("win-diff-metafiles");
  const fs::path recorded = s.root() / "recorded";
  fs::create_directories(recorded);
  const e2e::Run r = wintest::RunWine(wintest::WindowsBin() / "metafile-recorder.exe",
                                      {e2e::WindowsPath(recorded)}, {}, s.root() / "recorder");
  ASSERT_EQ(r.status, 0) << r.Joined();
  std::map<std::string, Recorded> files;
  std::set<std::string> kinds;
  for (const std::string& line : r.transcript) {
    if (line.empty()) continue;
    std::istringstream in(line);
    std::string name, content, w, h;
    Recorded f;
    ASSERT_TRUE(in >> name >> f.kind >> content >> w >> h) << line;
    f.text = content == "text";
    f.size = w + " " + h;
    kinds.insert(f.kind);
    files[name] = f;
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"emf", "wmf", "wmf-placeable", "emf-plus-dual", "emf-plus-only"}));

  ULONG_PTR token = 0;
  const GdiplusStartupInput input{1, 0, FALSE, FALSE};
  ASSERT_EQ(GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
  for (const auto& [name, f] : files) EXPECT_EQ(OurSize(recorded / name), f.size) << name << ": the size GDI+ reports";
  GdiplusShutdown(token);

  // The recorded files in the table's order between a PNG tile and a
  // missing one, PNG tiles up to a square.
  std::vector<std::string> cells = {"rgb8"};
  for (const std::string& line : r.transcript)
    if (!line.empty()) cells.push_back(line.substr(0, line.find(' ')));
  cells.push_back("missing");
  const int n = int(std::ceil(std::sqrt(double(cells.size()))));
  cells.resize(std::size_t(n) * n, "rgb8");
  Layout layout(n);
  for (std::size_t i = 0; i < cells.size(); ++i) layout[i / n].push_back(cells[i]);
  Merged merged;
  MergeBoth(s, layout, [&](const std::string& kind, int seed) {
    if (!files.count(kind)) return Make(kind, seed);
    const std::string bytes = Slurp(recorded / kind);
    return Bytes(bytes.begin(), bytes.end());
  }, merged);
  if (::testing::Test::HasFatalFailure()) return;

  constexpr int kInkSlack = 4;  // pixels each edge of a text's box may move
  for (int row = 0; row < n; ++row)
    for (int col = 0; col < n; ++col) {
      const std::string& kind = layout[row][col];
      const auto f = files.find(kind);
      const bool metafile = f != files.end();
      if (metafile && f->second.text) {
        const auto a = InkBox(merged.ours, merged.edge, row, col), b = InkBox(merged.wine, merged.edge, row, col);
        auto shown = [](const std::array<int, 4>& box) {
          char text[48] = "none";
          if (box[2]) std::snprintf(text, sizeof text, "%d,%d to %d,%d", box[0], box[1], box[2], box[3]);
          return std::string(text);
        };
        std::printf("cell (%d, %d) %-28s ink %s here, %s under Wine\n", row, col, kind.c_str(), shown(a).c_str(),
                    shown(b).c_str());
        EXPECT_TRUE(a[2] && b[2]) << kind << ": a side draws no text";
        for (int e = 0; e < 4; ++e) EXPECT_LE(std::abs(a[e] - b[e]), kInkSlack) << kind << ": the ink's box";
        continue;
      }
      // Every pixel that differs, as runs along its row.
      auto differs = [&](int x, int y) {
        return std::memcmp(Pixel(merged.ours, merged.edge, col * 256 + x, row * 256 + y),
                           Pixel(merged.wine, merged.edge, col * 256 + x, row * 256 + y), 3) != 0;
      };
      int differing = 0;
      std::string runs;
      for (int y = 0; y < 256; ++y) {
        std::string line;
        for (int x = 0; x < 256; ++x) {
          if (!differs(x, y)) continue;
          const int first = x;
          while (x + 1 < 256 && differs(x + 1, y)) ++x;
          differing += x - first + 1;
          line += " " + std::to_string(first) + (x > first ? "-" + std::to_string(x) : "");
        }
        if (!line.empty()) runs += "    y " + std::to_string(y) + ":" + line + "\n";
      }
      if (differing)
        std::printf("cell (%d, %d) %-28s %5d pixels differ (%.2f %%), at x:\n%s", row, col, kind.c_str(), differing,
                    differing * 100.0 / 65536, runs.c_str());
      if (metafile)
        EXPECT_LE(differing, 65536 * 5 / 1000) << kind << ": more than 0.5 % of the pixels differ";
      else
        EXPECT_EQ(differing, 0) << kind;
    }
  KeepOnFailure("win-diff-metafiles", merged);
}

}  // namespace
