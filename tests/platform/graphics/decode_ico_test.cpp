// Icon and cursor decoding: every DIB depth with its AND mask, 32-bit alpha,
// PNG entries, which entry of several is decoded and whose size counts, and
// damaged or hostile files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/graphics/picture.h"
#include "tests/platform/graphics/decoding.h"
#include "tests/platform/graphics/ico_pictures.h"

namespace {

using graphics::Picture;
using graphics_test::Bytes;
using graphics_test::Decode;
using graphics_test::EntryFor;
using graphics_test::MakeIco;
using graphics_test::MakeIcoDib;
using graphics_test::MustDecode;
using Rgba = std::vector<int>;
using PixelFn = std::function<std::uint32_t(int, int)>;
using MaskFn = std::function<bool(int, int)>;

Rgba At(const Picture& p, int x, int y) {
  const std::uint8_t* c = p.Row(y) + x * 4;
  const int a = p.Opaque() ? 255 : p.AlphaRow(y)[x];
  if (a == 0) return {0, 0, 0, 0, c[3]};  // the colour of a transparent pixel is never drawn
  return {c[2], c[1], c[0], a, c[3]};
}

// Compares the whole picture with `want(x, y)` as red, green, blue, alpha.
void ExpectPixels(const Picture& p, int w, int h, const std::function<Rgba(int, int)>& want) {
  ASSERT_EQ(p.width, w);
  ASSERT_EQ(p.height, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      Rgba expected = want(x, y);
      if (expected[3] == 0) expected = {0, 0, 0, 0};
      expected.push_back(0);  // the fourth byte of every pixel
      ASSERT_EQ(At(p, x, y), expected) << x << ',' << y;
    }
}

Bytes Table(int entries) {
  Bytes t;
  for (int i = 0; i < entries; ++i)
    t.insert(t.end(), {std::uint8_t(i * 7 + 1), std::uint8_t(255 - i), std::uint8_t(i * 13 + 5), 0});
  return t;
}

Bytes Solid24(int side, std::uint32_t rgb) {
  return MakeIcoDib(side, side, 24, {}, [rgb](int, int) { return rgb; }, [](int, int) { return false; });
}

TEST(DecodeIco, EveryDepthThroughItsColoursAndItsMaskOrItsAlpha) {
  const MaskFn masked = [](int x, int y) { return (x + 2 * y) % 5 == 0; };
  const MaskFn none = [](int, int) { return false; };
  // bpp 33: 32 bits with alpha bytes, some of them 0 where the mask is clear
  // (2, 5) and nonzero where it is set (5, 0); the mask is then ignored.
  for (int bpp : {1, 4, 8, 16, 24, 32, 33}) {
    SCOPED_TRACE(::testing::Message() << bpp << " bits");
    const int entries = bpp <= 8 ? 1 << bpp : 0;
    const Bytes table = Table(entries);
    auto alpha = [&](int x, int y) { return bpp == 33 ? std::uint32_t((x + y) % 7 * 40) : 0u; };
    const PixelFn pixel = [&](int x, int y) -> std::uint32_t {
      if (bpp <= 8) return std::uint32_t(x * 3 + y * 5) % entries;
      if (bpp == 16) return std::uint32_t((x * 2) & 31) << 10 | ((y * 5) & 31) << 5 | ((x + y) & 31);
      return alpha(x, y) << 24 | std::uint32_t(x * 19) << 16 | (y * 41) << 8 | ((x * y) & 255);
    };
    for (const MaskFn* m : {&masked, &none}) {
      const MaskFn& mask = *m;
      const Picture p = MustDecode(MakeIco({EntryFor(MakeIcoDib(13, 6, std::min(bpp, 32), table, pixel, mask), 13, 6, bpp)}));
      EXPECT_EQ(p.Opaque(), m == &none && bpp != 33);
      // 13 pixels: rows and mask rows both padded.
      ExpectPixels(p, 13, 6, [&](int x, int y) -> Rgba {
        const std::uint32_t v = pixel(x, y);
        const int a = bpp == 33 ? int(alpha(x, y)) : mask(x, y) ? 0 : 255;
        if (bpp <= 8) return {table[4 * v + 2], table[4 * v + 1], table[4 * v], a};
        if (bpp == 16) {
          auto five = [](std::uint32_t c) { return int(std::lround((c & 31) * 255.0 / 31)); };
          return {five(v >> 10), five(v >> 5), five(v), a};
        }
        return {int(v >> 16 & 255), int(v >> 8 & 255), int(v & 255), a};  // straight colour
      });
    }
  }
}

TEST(DecodeIco, PngEntriesDecodeAsThePngFile) {
  auto rgba = [](int x, int y, int c) { return unsigned(c == 3 ? (x + y) * 3 : x * 5 + y * 7 + c * 60) & 255; };
  const Bytes png = graphics_test::MakePng(256, 256, 6, 8, false, rgba);
  const Picture alone = MustDecode(png);
  for (int type : {1, 2}) {  // an icon and a cursor, width and height bytes 0: 256
    const Picture p = MustDecode(MakeIco({EntryFor(png, 256, 256, 32)}, type));
    ASSERT_EQ(p.width * 1000 + p.height, 256256);
    ASSERT_FALSE(p.Opaque());
    EXPECT_EQ(0, std::memcmp(p.bgrx.get(), alone.bgrx.get(), 256 * 256 * 4));
    EXPECT_EQ(0, std::memcmp(p.alpha.get(), alone.alpha.get(), 256 * 256));
  }
}

TEST(DecodeIco, TheFirstEntryIsDecodedWhateverTheOrderAndTheDirectorySays) {
  auto colourOf = [](int side) { return std::uint32_t(side * 5) << 16 | std::uint32_t(side) << 8 | 0x11; };
  auto entry = [&](int side) {
    // Directory bytes that disagree with the data: 256 x 256 at 4 bits.
    return EntryFor(Solid24(side, colourOf(side)), 256, 256, 4);
  };
  const int orders[][3] = {{16, 32, 48}, {48, 16, 32}, {32, 48, 16}};
  for (const auto& order : orders)
    for (int type : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << order[0] << ',' << order[1] << ',' << order[2] << " type " << type);
      std::vector<graphics_test::IcoEntry> entries = {entry(order[0]), entry(order[1]), entry(order[2])};
      if (type == 2)  // a cursor's planes and bit count are its hotspot
        for (auto& e : entries) e.planes = 7, e.bitCount = 3;
      const std::uint32_t c = colourOf(order[0]);
      ExpectPixels(MustDecode(MakeIco(entries, type)), order[0], order[0],
                   [&](int, int) -> Rgba { return {int(c >> 16), int(c >> 8 & 255), int(c & 255), 255}; });
    }
  // A PNG entry first, then a DIB entry, and the other way round.
  const Bytes png = graphics_test::MakePng(20, 10, 2, 8, false, [](int, int, int c) { return c * 100u; });
  EXPECT_EQ(MustDecode(MakeIco({EntryFor(png, 20, 10, 24), entry(16)})).height, 10);
  EXPECT_EQ(MustDecode(MakeIco({entry(16), EntryFor(png, 20, 10, 24)})).height, 16);
  // The first entry decides even when it is damaged and the second is fine.
  Bytes cut = Solid24(16, 0);
  cut.pop_back();
  Picture p;
  EXPECT_EQ(Decode(MakeIco({EntryFor(cut, 16, 16, 24), entry(32)}), p), Gdiplus::GenericError);
}

TEST(DecodeIco, DamagedFilesAndVariantsNotDecodedAreRefused) {
  const Bytes dib = Solid24(8, 0x405060);
  const Bytes good = MakeIco({EntryFor(dib, 8, 8, 24)});
  constexpr std::size_t kData = 22;  // the only entry's data follows the directory
  auto withDib = [&](auto change) {
    Bytes d = dib;
    change(d);
    return MakeIco({EntryFor(d, 8, 8, 24)});
  };
  auto withEntry = [&](std::uint32_t bytes, std::uint32_t offset) {
    Bytes f = good;
    graphics_test::Put32(f, 14, bytes);
    graphics_test::Put32(f, 18, offset);
    return f;
  };
  Bytes badCrc = MakeIco({EntryFor(graphics_test::MakePng(4, 4, 2, 8, false, [](int, int, int) { return 9u; }), 4, 4, 24)});
  badCrc[kData + 30] ^= 1;  // inside the IHDR's CRC
  const struct {
    const char* what;
    Bytes file;
    GpStatus status;
  } cases[] = {
      {"no room for the entry", Bytes(good.begin(), good.begin() + 12), Gdiplus::GenericError},
      {"three entries, one written", [&] { Bytes f = good; f[4] = 3; f.resize(40); return f; }(), Gdiplus::GenericError},
      {"offset past the end", withEntry(4, std::uint32_t(good.size()) + 1), Gdiplus::GenericError},
      {"size past the end", withEntry(std::uint32_t(dib.size()) + 1, kData), Gdiplus::GenericError},
      {"offset + size wraps", withEntry(0xFFFFFFFF, kData), Gdiplus::GenericError},
      {"empty entry at the end", withEntry(0, std::uint32_t(good.size())), Gdiplus::GenericError},
      // The file holds the bytes; the entry does not.
      {"size one short", withEntry(std::uint32_t(dib.size()) - 1, kData), Gdiplus::GenericError},
      {"mask cut short", MakeIco({EntryFor(Bytes(dib.begin(), dib.end() - 4), 8, 8, 24)}), Gdiplus::GenericError},
      {"odd height", withDib([](Bytes& d) { d[8] = 17; }), Gdiplus::GenericError},
      {"20-byte header", withDib([](Bytes& d) { d[0] = 20; }), Gdiplus::GenericError},
      {"PNG entry with a bad CRC", badCrc, Gdiplus::GenericError},
      {"RLE8", withDib([](Bytes& d) { d[14] = 8, d[16] = 1, d[32] = 2; }), Gdiplus::UnknownImageFormat},
      {"bit fields", withDib([](Bytes& d) { d[14] = 32, d[16] = 3; }), Gdiplus::UnknownImageFormat},
      {"top-down", withDib([](Bytes& d) { graphics_test::Put32(d, 8, std::uint32_t(-16)); }), Gdiplus::UnknownImageFormat},
  };
  for (const auto& c : cases) {
    Picture p;
    EXPECT_EQ(Decode(c.file, p), c.status) << c.what;
  }

  // Cut anywhere: refused up to the end of the first entry's data, the same
  // picture from there on.
  const Bytes two = MakeIco({EntryFor(MakeIcoDib(5, 3, 4, Table(16), [](int x, int y) { return x + y * 3u; },
                                                 [](int x, int) { return x == 1; }), 5, 3, 4),
                             EntryFor(Solid24(4, 0x112233), 4, 4, 24)});
  const std::size_t firstEnd = 6 + 32 + 40 + 64 + 3 * 4 + 3 * 4;
  const Picture whole = MustDecode(two);
  for (std::size_t cut = 0; cut < two.size(); ++cut) {
    Picture p;
    const GpStatus s = Decode(Bytes(two.begin(), two.begin() + std::ptrdiff_t(cut)), p);
    if (cut < firstEnd) {
      ASSERT_NE(s, Gdiplus::Ok) << "cut " << cut;
    } else {
      ASSERT_EQ(s, Gdiplus::Ok) << "cut " << cut;
      ASSERT_EQ(0, std::memcmp(p.bgrx.get(), whole.bgrx.get(), 5 * 3 * 4));
      ASSERT_EQ(0, std::memcmp(p.alpha.get(), whole.alpha.get(), 5 * 3));
    }
  }
}

// A PNG whose header has been given another size (with a valid CRC).
Bytes Resized(Bytes png, std::uint32_t width, std::uint32_t height) {
  graphics_test::Put32(png, 16, __builtin_bswap32(width));
  graphics_test::Put32(png, 20, __builtin_bswap32(height));
  graphics_test::Put32(png, 29, __builtin_bswap32(std::uint32_t(crc32(0, &png[12], 17))));
  return png;
}

TEST(DecodeIco, BombsAreRefusedWithoutTheirMemory) {
  auto claim = [](std::int32_t width, std::int32_t height) {
    Bytes d = Solid24(8, 0);
    graphics_test::Put32(d, 4, std::uint32_t(width));
    graphics_test::Put32(d, 8, std::uint32_t(height));
    return MakeIco({EntryFor(d, 0, 0, 24)});
  };
  const auto grey = [](int x, int y, int) { return unsigned(x * y) & 255; };
  const struct {
    const char* what;
    Bytes file;
    GpStatus status;
    bool allocates = false;  // the picture the header describes, no more
  } cases[] = {
      // Within the limits (8192 x 8192) but far beyond the entry's bytes.
      {"8192 x 8192 DIB", claim(8192, 16384), Gdiplus::GenericError},
      {"100000 x 100000 DIB", claim(100000, 200000), Gdiplus::OutOfMemory},
      {"2^31 - 1 square DIB", claim(0x7FFFFFFF, 0x7FFFFFFE), Gdiplus::OutOfMemory},
      {"100000 x 100000 PNG",
       MakeIco({EntryFor(Resized(graphics_test::MakePng(1, 1, 0, 8, false, grey), 100000, 100000), 0, 0, 8)}),
       Gdiplus::OutOfMemory},
      // 2048 rows of image data behind a header of 16.
      {"PNG data beyond its header",
       MakeIco({EntryFor(Resized(graphics_test::MakePng(64, 2048, 0, 8, false, grey), 64, 16), 64, 16, 8)}),
       Gdiplus::GenericError, true},
      // The first entry is whole; the directory is not.
      {"65535 entries in 70 bytes",
       [] { Bytes f = MakeIco({EntryFor(Solid24(1, 0), 1, 1, 24)}); f[4] = f[5] = 0xFF; return f; }(),
       Gdiplus::GenericError},
  };
  for (const auto& c : cases) {
    Picture p;
    EXPECT_EQ(Decode(c.file, p), c.status) << c.what;
    if (!c.allocates) {
      EXPECT_FALSE(p.bgrx) << c.what << ": allocated";
    }
  }
  // A whole directory of 65535 entries: the first is decoded, the others are
  // never looked at (each points past the end).
  Bytes many = MakeIco({EntryFor(Solid24(3, 0xABCDEF), 3, 3, 24)});
  many.insert(many.begin() + 22, std::size_t(65534) * 16, 0xEE);
  many[4] = many[5] = 0xFF;
  graphics_test::Put32(many, 18, 6 + 65535 * 16);
  const Picture p = MustDecode(many);
  EXPECT_EQ(At(p, 2, 2), (Rgba{0xAB, 0xCD, 0xEF, 255, 0}));
}

}  // namespace
