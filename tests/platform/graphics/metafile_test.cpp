// Metafiles: recognition and dimensions per kind, GDI's pixel rules at exact
// pixels, and the defences (bombs, truncations, damaged bytes).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <vector>

#include "pictures.h"
#include "platform/graphics/metafile.h"

namespace {

using graphics_test::Bytes;
using graphics_test::EmfWriter;
using graphics_test::WmfWriter;
namespace mf = graphics::metafile;

constexpr std::uint32_t kGrey = 0x808080, kWhite = 0xFFFFFF, kBlack = 0, kRed = 0x0000FF;
constexpr std::int32_t kNullPen = std::int32_t(0x80000008), kBlackBrush = std::int32_t(0x80000004);

// Parses a copy of exactly the file's size, so that a read past it shows.
GpStatus Parse(const Bytes& file, mf::Metafile& m) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[file.size() + 1]);
  if (!file.empty()) std::memcpy(copy.get(), file.data(), file.size());
  return mf::Parse(std::move(copy), file.size(), m);
}

// A 32-bit bitmap of one colour; Pixel gives COLORREF values (0x00BBGGRR).
struct Canvas {
  int w, h;
  std::vector<std::uint8_t> bytes;
  Canvas(int width, int height, std::uint32_t colour) : w(width), h(height), bytes(std::size_t(width) * height * 4) {
    for (std::size_t i = 0; i < bytes.size(); i += 4)
      bytes[i] = std::uint8_t(colour >> 16), bytes[i + 1] = std::uint8_t(colour >> 8), bytes[i + 2] = std::uint8_t(colour);
  }
  graphics::Surface Surface() { return {bytes.data(), w, h, 32, std::ptrdiff_t(w) * 4}; }
  std::uint32_t Pixel(int x, int y) const {
    const std::uint8_t* p = &bytes[(std::size_t(y) * w + x) * 4];
    return p[2] | p[1] << 8 | std::uint32_t(p[0]) << 16;
  }
};

// An EMF whose logical units are the pixels of a w x h target (a 1 px/mm
// reference device, the frame w x h millimetres).
Bytes PixelEmf(const EmfWriter& e, int w = 16, int h = 16) {
  return e.Finish({0, 0, w - 1, h - 1}, {0, 0, w * 100, h * 100}, 4, {100, 100, 100, 100});
}

TEST(Metafile, KindsAndTheDimensionGdiplusReports) {
  Bytes badChecksum = graphics_test::MakeWmf(true);
  badChecksum[20] ^= 1;
  EmfWriter dual, only;
  // EMR_COMMENT holding "EMF+" and an EmfPlusHeader (type 0x4001, flags: bit 0 dual).
  for (auto [writer, flags] : {std::pair{&dual, 1}, std::pair{&only, 0}})
    writer->Record(70, {32, 0x2B464D45, 0x4001 | flags << 16, 28, 16, std::int32_t(0xDBC01002), 1, 96, 96});
  dual.Record(0x2B, {0, 0, 9, 9});
  const struct {
    const char* name;
    Bytes file;
    GpStatus status;
    double width, height;  // 0.01 mm
  } cases[] = {
      // 1000 x 500 units at 1000 per inch: 1 x 0.5 inch.
      {"placeable WMF", graphics_test::MakeWmf(true), Gdiplus::Ok, 2540, 1270},
      {"placeable WMF, wrong checksum", badChecksum, Gdiplus::UnknownImageFormat, 0, 0},
      {"plain WMF", graphics_test::MakeWmf(false), Gdiplus::UnknownImageFormat, 0, 0},
      // rclFrame 0,0 - 2645,1322 (0.01 mm).
      {"EMF", graphics_test::MakeEmf(), Gdiplus::Ok, 2645, 1322},
      {"EMF+ dual", dual.Finish({0, 0, 9, 9}, {0, 0, 500, 400}), Gdiplus::Ok, 500, 400},
      {"EMF+ only", only.Finish({0, 0, 9, 9}, {0, 0, 500, 400}), Gdiplus::UnknownImageFormat, 0, 0},
      {"EMF with an empty frame: its bounds", EmfWriter().Finish({0, 0, 99, 49}, {0, 0, 0, 0}, 1, {100, 100, 100, 100}),
       Gdiplus::Ok, 10000, 5000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mf::IsMetafile(c.file), c.file != badChecksum);
    mf::Metafile m;
    ASSERT_EQ(Parse(c.file, m), c.status);
    if (c.status != Gdiplus::Ok) continue;
    EXPECT_DOUBLE_EQ(m.width, c.width);
    EXPECT_DOUBLE_EQ(m.height, c.height);
  }
}

// Each case draws one small metafile onto a 16 x 16 grey bitmap at scale 1
// and checks pixels.
struct Check {
  int x, y;
  std::uint32_t colour;
};

Bytes StretchDibits() {
  // A 2 x 2 bottom-up 24-bit DIB: bottom row blue, green; top row red, white.
  Bytes dib(40, 0);
  graphics_test::Put32(dib, 0, 40), graphics_test::Put32(dib, 4, 2), graphics_test::Put32(dib, 8, 2);
  dib[12] = 1, dib[14] = 24;
  for (std::uint8_t b : {255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0}) dib.push_back(b);
  EmfWriter e;
  // bounds, x, y, xSrc, ySrc, cxSrc, cySrc, offBmi, cbBmi, offBits, cbBits, usage, rop, cxDest, cyDest.
  e.Record(81, {0, 0, 0, 0, 8, 8, 0, 0, 2, 2, 80, 40, 120, 16, 0, 0x00CC0020, 4, 4}, dib);
  return PixelEmf(e);
}

TEST(Metafile, GdiPixelRules) {
  const auto emf = [](const std::function<void(EmfWriter&)>& records) {
    EmfWriter e;
    records(e);
    return PixelEmf(e);
  };
  const auto poly16 = [](EmfWriter& e) {
    // Two nested squares turning the same way: a hole for ALTERNATE only.
    Bytes pts;
    for (int v : {2, 2, 14, 2, 14, 14, 2, 14, 5, 5, 11, 5, 11, 11, 5, 11}) pts.push_back(std::uint8_t(v)), pts.push_back(0);
    e.Record(37, {kNullPen}).Record(37, {kBlackBrush}).Record(91, {0, 0, 16, 16, 2, 8, 4, 4}, pts);
  };
  WmfWriter wmf;
  wmf.Record(0x02FA, {5, 0, 0, 0, 0}).Record(0x012D, {0}).Record(0x041B, {500, 500, 0, 0});  // null pen
  const struct {
    const char* name;
    Bytes file;
    std::vector<Check> checks;
  } cases[] = {
      {"a line excludes its last pixel",
       emf([](EmfWriter& e) { e.Record(27, {2, 5}).Record(54, {10, 5}); }),
       {{1, 5, kGrey}, {2, 5, kBlack}, {9, 5, kBlack}, {10, 5, kGrey}}},
      {"a rectangle's outline on its last pixels inside, the fill within",
       emf([](EmfWriter& e) { e.Record(43, {2, 2, 8, 6}); }),
       {{2, 2, kBlack}, {7, 5, kBlack}, {3, 3, kWhite}, {6, 4, kWhite}, {8, 3, kGrey}, {3, 6, kGrey}}},
      {"with the null pen a rectangle is one pixel smaller",
       emf([](EmfWriter& e) { e.Record(37, {kNullPen}).Record(43, {2, 2, 8, 6}); }),
       {{2, 2, kWhite}, {6, 4, kWhite}, {7, 3, kGrey}, {3, 5, kGrey}}},
      {"ALTERNATE leaves the inner square", emf(poly16),
       {{2, 2, kBlack}, {13, 13, kBlack}, {14, 8, kGrey}, {8, 14, kGrey}, {8, 8, kGrey}, {4, 8, kBlack}}},
      {"WINDING fills it", emf([&](EmfWriter& e) { e.Record(19, {2}); poly16(e); }), {{8, 8, kBlack}, {4, 8, kBlack}}},
      {"intersected and excluded clip rectangles",
       emf([](EmfWriter& e) {
         e.Record(30, {4, 4, 8, 8}).Record(29, {5, 5, 6, 6}).Record(37, {kNullPen}).Record(37, {kBlackBrush});
         e.Record(43, {0, 0, 17, 17});
       }),
       {{4, 4, kBlack}, {7, 7, kBlack}, {8, 7, kGrey}, {3, 5, kGrey}, {5, 5, kGrey}, {6, 5, kBlack}}},
      {"R2_XORPEN: twice is nothing",
       emf([](EmfWriter& e) {
         e.Record(20, {7}).Record(38, {1, 0, 0, 0, 0xFFFFFF}).Record(37, {1});
         e.Record(27, {0, 3}).Record(54, {8, 3}).Record(27, {0, 3}).Record(54, {4, 3});
       }),
       {{2, 3, kGrey}, {6, 3, 0x7F7F7F}, {8, 3, kGrey}}},
      {"StretchDIBits: a bottom-up DIB, doubled", StretchDibits(),
       {{8, 8, kRed}, {9, 9, kRed}, {10, 8, kWhite}, {8, 10, 0xFF0000}, {11, 11, 0x00FF00}, {12, 8, kGrey}}},
      {"a placeable WMF's box onto the target, null pen", wmf.Finish(1, 1000, 0, 0, 1000, 1000),
       {{0, 0, kWhite}, {6, 6, kWhite}, {7, 7, kGrey}, {8, 3, kGrey}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    mf::Metafile m;
    ASSERT_EQ(Parse(c.file, m), Gdiplus::Ok);
    Canvas canvas(16, 16, kGrey);
    ASSERT_EQ(mf::Play(m, canvas.Surface(), 0, 0, 16, 16), Gdiplus::Ok);
    for (const Check& k : c.checks) EXPECT_EQ(canvas.Pixel(k.x, k.y), k.colour) << k.x << "," << k.y;
  }
}

TEST(Metafile, OneBitBitmapsTakeTheNearerOfBlackAndWhite) {
  EmfWriter e;
  e.Record(39, {1, 0, 0x0000FF, 0}).Record(37, {1}).Record(43, {2, 2, 8, 6});  // a red brush: nearer black
  mf::Metafile m;
  ASSERT_EQ(Parse(PixelEmf(e), m), Gdiplus::Ok);
  std::vector<std::uint8_t> bits(16 * 4, 0xFF);  // white rows of 4 bytes
  ASSERT_EQ(mf::Play(m, {bits.data(), 16, 16, 1, 4}, 0, 0, 16, 16), Gdiplus::Ok);
  const auto bit = [&](int x, int y) { return (bits[std::size_t(y) * 4 + std::size_t(x) / 8] >> (7 - x % 8)) & 1; };
  EXPECT_EQ(bit(2, 2), 0);
  EXPECT_EQ(bit(4, 4), 0);
  EXPECT_EQ(bit(8, 4), 1);
  EXPECT_EQ(bit(4, 6), 1);
}

double Seconds(const std::function<void()>& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(Metafile, BombsAreRefusedOrBounded) {
  // More records than kMaxRecords: refused by the walk at load time.
  EmfWriter many;
  for (std::uint32_t i = 0; i <= mf::kMaxRecords; ++i) many.Record(18, {1});
  const Bytes manyFile = PixelEmf(many);
  mf::Metafile m;
  EXPECT_LT(Seconds([&] { EXPECT_EQ(Parse(manyFile, m), Gdiplus::OutOfMemory); }), 5.0);

  // Just below it, every record a rectangle over the whole target and the
  // last one red: the work budget (here 2^22 units, 2^28 in use) ends the
  // drawing long before.
  EmfWriter fills;
  for (std::uint32_t i = 0; i + 8 < mf::kMaxRecords; ++i) fills.Record(43, {-1, -1, 600, 600});
  fills.Record(39, {1, 0, 0x0000FF, 0}).Record(37, {1}).Record(43, {-1, -1, 600, 600});
  ASSERT_EQ(Parse(PixelEmf(fills, 512, 512), m), Gdiplus::Ok);
  Canvas big(512, 512, kGrey);
  EXPECT_LT(Seconds([&] { EXPECT_EQ(mf::Play(m, big.Surface(), 0, 0, 512, 512, 1 << 22), Gdiplus::Ok); }), 5.0);
  EXPECT_EQ(big.Pixel(100, 100), kWhite);

  // A clip region of thousands of rectangles (a grid of excluded squares),
  // then long lines: each pixel's clip test counts as work.
  EmfWriter grid;
  for (int i = 0; i < 4096; ++i) grid.Record(29, {i % 64 * 8, i / 64 * 8, i % 64 * 8 + 4, i / 64 * 8 + 4});
  for (int i = 0; i < 200000; ++i) grid.Record(27, {0, i % 512}).Record(54, {512, i % 512});
  ASSERT_EQ(Parse(PixelEmf(grid, 512, 512), m), Gdiplus::Ok);
  EXPECT_LT(Seconds([&] { EXPECT_EQ(mf::Play(m, big.Surface(), 0, 0, 512, 512, 1 << 22), Gdiplus::Ok); }), 5.0);

  // A frame of 2e7 mm, drawn at that size onto a small bitmap: only the
  // bitmap's pixels cost anything.
  EmfWriter huge;
  huge.Record(43, {0, 0, 2000000000, 2000000000}).Record(42, {-5, -5, 1000000000, 1000000000});
  ASSERT_EQ(Parse(huge.Finish({0, 0, 2000000000, 2000000000}, {0, 0, 2000000000, 2000000000}), m), Gdiplus::Ok);
  Canvas small(64, 64, kGrey);
  EXPECT_LT(Seconds([&] { EXPECT_EQ(mf::Play(m, small.Surface(), 0, 0, float(m.width), float(m.height)), Gdiplus::Ok); }), 2.0);
  EXPECT_EQ(small.Pixel(0, 0), kBlack);  // the rectangle's outline
}

TEST(Metafile, TruncatedAndDamagedFilesNeverCrash) {
  // Many kinds of record in one file; every prefix and every byte changed.
  EmfWriter e;
  e.Record(27, {2, 5}).Record(54, {10, 5}).Record(43, {2, 2, 8, 6}).Record(19, {2});
  e.Record(91, {0, 0, 16, 16, 2, 8, 4, 4}, Bytes(32, 3)).Record(30, {4, 4, 8, 8}).Record(33, {}).Record(34, {-1});
  e.Record(38, {1, 0, 3, 0, 0xFF}).Record(37, {1}).Record(45, {0, 0, 9, 9, 0, 5, 9, 5}).Record(59, {});
  e.Record(42, {1, 1, 12, 12}).Record(60, {}).Record(63, {}).Record(36, {0x3F800000, 0, 0, 0x3F800000, 0, 0, 2});
  Bytes file = PixelEmf(e);
  const Bytes stretch = StretchDibits();
  file.insert(file.end() - 20, stretch.begin() + 88, stretch.end() - 20);  // the StretchDIBits record too
  graphics_test::Put32(file, 48, std::uint32_t(file.size()));
  const Bytes wmf = graphics_test::MakeWmf(true);
  for (const Bytes* whole : {static_cast<const Bytes*>(&file), &wmf}) {
    for (std::size_t n = 0; n <= whole->size(); ++n) {
      for (int change = -1; change < 2; ++change) {
        Bytes f(whole->begin(), whole->begin() + std::ptrdiff_t(n));
        if (change >= 0 && n < whole->size()) f.push_back(change ? 0xFF : 0x7F), f.insert(f.end(), whole->begin() + std::ptrdiff_t(n) + 1, whole->end());
        mf::Metafile m;
        const GpStatus s = Parse(f, m);
        if (change < 0 && n < whole->size()) {
          EXPECT_NE(s, Gdiplus::Ok) << n;
        }
        if (s != Gdiplus::Ok) continue;
        Canvas canvas(16, 16, kGrey);
        EXPECT_EQ(mf::Play(m, canvas.Surface(), 0, 0, 16, 16), Gdiplus::Ok);
      }
    }
  }
}

}  // namespace
