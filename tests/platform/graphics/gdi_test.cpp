// Device contexts, bitmaps and pixel fetch of the GDI substitute.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/graphics/big_block.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/surface.h"
#include "tests/platform/graphics/pictures.h"

namespace {

struct Info {  // a header with room for 4 colour entries, marked
  BITMAPINFOHEADER h{};
  std::uint32_t colours[4] = {0xA5A5A5A5, 0xA5A5A5A5, 0xA5A5A5A5, 0xA5A5A5A5};
  BITMAPINFO* Bi() { return reinterpret_cast<BITMAPINFO*>(this); }
};

BITMAP ObjectOf(HGDIOBJ h) {
  BITMAP bm{};
  EXPECT_EQ(GetObjectA(h, sizeof bm, &bm), 24);
  return bm;
}

// Row y of a bitmap's pixels, y = 0 at the top.
std::uint8_t* RowOf(HBITMAP bm, int y) {
  std::lock_guard lock(graphics::GdiLock());
  graphics::Surface s;
  EXPECT_TRUE(graphics::SurfaceOfBitmap(bm, &s));
  return s.Row(y);
}

TEST(GdiBitmap, CreationRulesAndRecord) {
  const HDC screen = GetDC(nullptr);
  const HBITMAP stock = CreateCompatibleBitmap(screen, 0, 50);
  ASSERT_NE(stock, 0u);
  EXPECT_EQ(CreateCompatibleBitmap(screen, 50, 0), stock);
  EXPECT_EQ(ObjectOf(stock).bmBitsPixel, 1);
  EXPECT_EQ(ObjectOf(stock).bmWidth, 1);
  for (auto [w, h] : {std::pair{-1, 10}, {10, -1}, {0, -1}, {32768, 32768}, {65536, 16384}})
    EXPECT_EQ(CreateCompatibleBitmap(screen, w, h), 0u) << w << 'x' << h;  // 4 GiB + 54 > 32 bits
  EXPECT_EQ(CreateCompatibleBitmap(0, 10, 10), 0u);

  const HBITMAP bm = CreateCompatibleBitmap(screen, 3, 2);
  const BITMAP rec = ObjectOf(bm);
  EXPECT_EQ(std::vector<LONG>({rec.bmType, rec.bmWidth, rec.bmHeight, rec.bmWidthBytes}),
            std::vector<LONG>({0, 3, 2, 12}));
  EXPECT_EQ(rec.bmPlanes, 1);
  EXPECT_EQ(rec.bmBitsPixel, 32);
  for (int y = 0; y < 2; ++y)
    EXPECT_EQ(std::vector<std::uint8_t>(RowOf(bm, y), RowOf(bm, y) + 12), std::vector<std::uint8_t>(12, 0));
  unsigned char buf[24];
  std::memset(buf, 0xEE, sizeof buf);
  EXPECT_EQ(GetObjectA(bm, 23, buf), 0);
  EXPECT_EQ(buf[0], 0xEE);
  EXPECT_EQ(GetObjectA(bm, 0, nullptr), 24);
  EXPECT_EQ(GetObjectA(screen, 24, buf), 0);

  // A memory context holding the stock bitmap makes monochrome bitmaps.
  const HDC mem = CreateCompatibleDC(screen);
  const HBITMAP mono = CreateCompatibleBitmap(mem, 17, 3);
  EXPECT_EQ(ObjectOf(mono).bmBitsPixel, 1);
  EXPECT_EQ(ObjectOf(mono).bmWidthBytes, 4);
  EXPECT_EQ(SelectObject(mem, bm), stock);
  EXPECT_EQ(ObjectOf(CreateCompatibleBitmap(mem, 4, 4)).bmBitsPixel, 32);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
}

TEST(GdiBitmap, SelectionDeletionAndStaleHandles) {
  const HDC screen = GetDC(nullptr);
  const HDC a = CreateCompatibleDC(screen), b = CreateCompatibleDC(0);
  const HBITMAP bm = CreateCompatibleBitmap(screen, 8, 8), stock = CreateCompatibleBitmap(screen, 0, 0);
  EXPECT_EQ(SelectObject(screen, bm), 0u);  // screen contexts hold no bitmap
  EXPECT_EQ(SelectObject(a, bm), stock);
  EXPECT_EQ(SelectObject(b, bm), 0u);       // held by another context
  EXPECT_EQ(DeleteObject(bm), FALSE);       // selected: kept
  EXPECT_EQ(SelectObject(a, stock), bm);    // the stock bitmap may be in both
  EXPECT_EQ(SelectObject(b, bm), stock);
  EXPECT_EQ(DeleteDC(b), TRUE);             // deselects, does not delete
  EXPECT_EQ(DeleteObject(bm), TRUE);
  EXPECT_EQ(DeleteObject(stock), TRUE);     // never really deleted
  EXPECT_EQ(ObjectOf(stock).bmWidth, 1);
  EXPECT_EQ(DeleteDC(screen), FALSE);       // released with ReleaseDC only
  EXPECT_EQ(ReleaseDC(nullptr, a), 0);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(GetDC(reinterpret_cast<HWND>(0x1000)), 0u);

  Info info;
  info.h.biSize = 40;
  std::uint8_t out[64];
  for (HGDIOBJ h : {bm, b, screen, 0u, 0x12345678u, 0xFFFFFFFFu, 0x20000001u}) {
    EXPECT_EQ(GetObjectA(h, 24, out), 0);
    EXPECT_EQ(SelectObject(a, h), 0u);
    EXPECT_EQ(DeleteObject(h), FALSE);
    EXPECT_EQ(GetDIBits(a, h, 0, 4, out, info.Bi(), 0), 0);
    EXPECT_EQ(CreateCompatibleBitmap(h, 4, 4), 0u);
    EXPECT_EQ(DeleteDC(h), FALSE);
    EXPECT_EQ(ReleaseDC(nullptr, h), 0);
  }
  EXPECT_EQ(DeleteDC(a), TRUE);
}

// A 3 x 2 bitmap whose pixel (x, y) is blue 10x+y, green 100+x, red 200+y.
TEST(GdiBitmap, PixelFetchFormatsAndRowOrder) {
  const HDC dc = CreateCompatibleDC(0), screen = GetDC(nullptr);
  const HBITMAP bm = CreateCompatibleBitmap(screen, 3, 2);
  for (int i = 0; i < 6; ++i) {
    std::uint8_t* p = RowOf(bm, i / 3) + i % 3 * 4;
    p[0] = std::uint8_t(10 * (i % 3) + i / 3), p[1] = std::uint8_t(100 + i % 3), p[2] = std::uint8_t(200 + i / 3);
  }
  Info info;
  info.h.biSize = 40;
  EXPECT_NE(GetDIBits(dc, bm, 0, 0, nullptr, info.Bi(), 0), 0);  // the query
  EXPECT_EQ(std::vector<LONG>({info.h.biWidth, info.h.biHeight, info.h.biPlanes, info.h.biBitCount}),
            std::vector<LONG>({3, 2, 1, 32}));
  EXPECT_EQ(info.h.biCompression, BI_BITFIELDS);
  EXPECT_EQ(info.h.biSizeImage, 24u);
  EXPECT_EQ(info.colours[0], 0xA5A5A5A5u);  // no colour table

  auto fetch = [&](HBITMAP from, int width, int bpp, LONG height, UINT start = 0) {
    info = Info{};
    info.h = {40, width, height, 1, WORD(bpp), BI_RGB, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> bits(96, 0xEE);
    EXPECT_EQ(GetDIBits(dc, from, start, 2, bits.data(), info.Bi(), 0), 2 - int(start));
    return bits;
  };
  const std::vector<std::uint8_t> bottom = {1, 100, 201, 0, 11, 101, 201, 0, 21, 102, 201, 0};
  const std::vector<std::uint8_t> top = {0, 100, 200, 0, 10, 101, 200, 0, 20, 102, 200, 0};
  auto b = fetch(bm, 3, 32, 2);
  EXPECT_EQ(std::vector(b.begin(), b.begin() + 12), bottom);  // first row: the bottom one
  EXPECT_EQ(std::vector(b.begin() + 12, b.begin() + 24), top);
  b = fetch(bm, 3, 32, -2);
  EXPECT_EQ(std::vector(b.begin(), b.begin() + 12), top);
  b = fetch(bm, 3, 32, 2, 1);  // lines [1, 2): the top row, at the buffer's start
  EXPECT_EQ(std::vector(b.begin(), b.begin() + 12), top);
  EXPECT_EQ(b[12], 0xEE);
  b = fetch(bm, 3, 24, 2);  // rows of 9 bytes padded to 12
  EXPECT_EQ(std::vector(b.begin(), b.begin() + 12),
            std::vector<std::uint8_t>({1, 100, 201, 11, 101, 201, 21, 102, 201, 0, 0, 0}));
  b = fetch(bm, 3, 16, 2);  // 5-5-5, rows of 6 bytes padded to 8
  EXPECT_EQ(b[2] | b[3] << 8, (201 >> 3) << 10 | (101 >> 3) << 5 | 11 >> 3);
  EXPECT_EQ(b[8] | b[9] << 8, (200 >> 3) << 10 | (100 >> 3) << 5);
  EXPECT_EQ(b[6] | b[7], 0);
  b = fetch(bm, 3, 1, 2);  // all nearer black than white
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(info.colours[1], 0x00FFFFFFu);

  // A monochrome bitmap: colour table {black, white}, bits bottom-up.
  const HBITMAP m = CreateCompatibleBitmap(dc, 10, 2);
  RowOf(m, 0)[0] = 0x80;  // top row: pixel 0 white
  RowOf(m, 1)[1] = 0x40;  // bottom row: pixel 9 white
  b = fetch(m, 10, 1, 2);
  EXPECT_EQ(std::vector(b.begin(), b.begin() + 8), std::vector<std::uint8_t>({0, 0x40, 0, 0, 0x80, 0, 0, 0}));
  EXPECT_EQ(std::vector(info.colours, info.colours + 3), std::vector<std::uint32_t>({0, 0xFFFFFF, 0xA5A5A5A5}));
  b = fetch(m, 10, 32, 2);
  EXPECT_EQ(b[9 * 4] + b[40] + b[44], 255 + 255 + 0);

  for (WORD bpp : {0, 4, 8}) {  // formats that need a palette, or none
    info.h = {40, 3, 2, 1, bpp, BI_RGB, 0, 0, 0, 0, 0};
    EXPECT_EQ(GetDIBits(dc, bm, 0, 2, b.data(), info.Bi(), 0), 0) << bpp;
  }
  info.h = {40, 3, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  EXPECT_EQ(GetDIBits(dc, bm, 0, 2, b.data(), info.Bi(), DIB_PAL_COLORS), 0);
  EXPECT_EQ(GetDIBits(dc, bm, 0, 2, b.data(), nullptr, 0), 0);
  DeleteObject(m);
  DeleteObject(bm);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

// The file mapped at `p` ("" for anonymous memory), from /proc/self/maps.
std::string FileMappedAt(const void* p) {
  std::ifstream maps("/proc/self/maps");
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  for (std::string line; std::getline(maps, line);) {
    std::istringstream in(line);
    std::uintptr_t from = 0, to = 0;
    char dash = 0;
    std::string perms, offset, device, inode, file;
    in >> std::hex >> from >> dash >> to >> perms >> offset >> device >> inode;
    std::getline(in >> std::ws, file);
    if (at >= from && at < to) return file;
  }
  return "?";
}

// A fetch of all rows of a large 32-bit bitmap, bottom-up, into a page-aligned
// large block maps the bitmap's pages there (in memory and spilled alike);
// every other fetch copies. Either way the rows are the bitmap's, and no later
// write to one side shows in the other.
TEST(GdiBitmap, AFetchOfAllRowsSharesTheBitmapsPagesCopyOnWrite) {
  graphics_test::TempDir dir;
  for (const bool spilled : {false, true}) {
    SCOPED_TRACE(spilled ? "spilled" : "in memory");
    std::optional<graphics_test::BlockEnvironment> env;
    if (spilled) env.emplace("1", dir.path);  // every block in a spill file
    const int w = 256, h = 1101;  // 1.07 MiB, the rows ending inside a page
    const std::size_t bytes = std::size_t(w) * 4 * h;
    const HDC dc = CreateCompatibleDC(0), screen = GetDC(nullptr);
    const HBITMAP bm = CreateCompatibleBitmap(screen, w, h);
    for (int y = 0; y < h; ++y) {
      std::uint8_t* row = RowOf(bm, y);
      for (int x = 0; x < w; ++x) {
        const std::uint32_t v = y * 4099 + x;  // blue, green, red; 0
        std::memcpy(row + 4 * x, &v, 3);
      }
    }
    // A host-style block: 8 bytes of header, then rows from a page boundary.
    struct Target {
      std::uint8_t* block;
      std::size_t size;
      std::uint8_t* rows;
    };
    auto fetch = [&](std::size_t at, int bpp, LONG height, UINT start, UINT lines) {
      Target t{static_cast<std::uint8_t*>(graphics::MapBigBlock(bytes + 8192, 8)), bytes + 8192, nullptr};
      t.rows = t.block + at;
      t.rows[bytes] = 0x5A;  // the block's own byte after the rows, in their last page
      Info info;
      info.h = {40, w, height, 1, WORD(bpp), BI_RGB, 0, 0, 0, 0, 0};
      EXPECT_EQ(GetDIBits(dc, bm, start, lines, t.rows, info.Bi(), 0), int(lines));
      EXPECT_EQ(t.rows[bytes], 0x5A) << "a fetch writes nothing past its rows";
      return t;
    };
    // Line k of a bottom-up fetch is the bitmap's row h - 1 - k.
    auto matches = [&](const std::uint8_t* rows, int line, int y) {
      return std::memcmp(rows + std::size_t(line) * w * 4, RowOf(bm, y), std::size_t(w) * 4) == 0;
    };

    Target shared = fetch(8, 32, h, 0, h);
    const std::string bitmapFile = FileMappedAt(RowOf(bm, 0));
    EXPECT_NE(bitmapFile, "");
    EXPECT_EQ(FileMappedAt(shared.rows), bitmapFile) << "the bitmap's pages are mapped";
    EXPECT_TRUE(matches(shared.rows, 0, h - 1) && matches(shared.rows, h - 1, 0));
    const std::uint8_t before = shared.rows[5];
    RowOf(bm, h - 1)[5] ^= 0xFF;  // the bitmap's bottom row: the rows' first
    EXPECT_EQ(shared.rows[5], before);
    shared.rows[bytes - 1] ^= 0xFF;  // the rows' last byte: the bitmap's top row
    EXPECT_NE(shared.rows[bytes - 1], RowOf(bm, 0)[w * 4 - 1]);

    // Copies: a second fetch of the same bitmap (which has changed since the
    // first), a target off a page boundary, part of the rows, top-down rows,
    // other depths.
    Target again = fetch(8, 32, h, 0, h), offPage = fetch(12, 32, h, 0, h), part = fetch(8, 32, h, 1, h - 1),
           topDown = fetch(8, 32, -h, 0, h), rgb24 = fetch(8, 24, h, 0, h), mono = fetch(8, 1, h, 0, h);
    for (const Target& t : {again, offPage, part, topDown, rgb24, mono}) {
      EXPECT_NE(FileMappedAt(t.rows), bitmapFile);
    }
    EXPECT_TRUE(matches(again.rows, 0, h - 1) && matches(again.rows, h - 1, 0)) << "the changed bitmap";
    EXPECT_TRUE(matches(offPage.rows, 0, h - 1) && matches(part.rows, 0, h - 2) && matches(topDown.rows, 0, 0));
    for (const Target& t : {shared, again, offPage, part, topDown, rgb24, mono})
      graphics::UnmapBigBlock(t.block, t.size);
    EXPECT_EQ(DeleteObject(bm), TRUE);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(graphics::Spilled().now, 0u);
  }
}

}  // namespace
