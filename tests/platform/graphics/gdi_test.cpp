// Device contexts, bitmaps and pixel fetch of the GDI substitute.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/graphics/gdi.h"
#include "platform/graphics/surface.h"

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

std::uint8_t* BitsOf(HBITMAP bm) {
  std::lock_guard lock(graphics::GdiLock());
  graphics::Surface s;
  EXPECT_TRUE(graphics::SurfaceOfBitmap(bm, &s));
  return s.bits;
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
  const std::uint8_t* bits = BitsOf(bm);
  EXPECT_EQ(std::vector<std::uint8_t>(bits, bits + 24), std::vector<std::uint8_t>(24, 0));
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
    std::uint8_t* p = BitsOf(bm) + i * 4;
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
  BitsOf(m)[0] = 0x80;      // top row: pixel 0 white
  BitsOf(m)[4 + 1] = 0x40;  // bottom row: pixel 9 white
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

}  // namespace
