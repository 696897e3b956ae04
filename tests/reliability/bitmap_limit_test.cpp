// The merged picture's bitmap at the edge of what a BMP file can describe:
// the largest accepted bitmap still gives sizes that fit the file's 32-bit
// size fields exactly; one pixel more is refused at creation, before any
// pixel memory is taken, so the merge reports a bitmap failure instead of
// writing a file whose size fields have wrapped.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "platform/graphics/gdi.h"

namespace {

constexpr std::uint64_t kHeaders = 14 + 40;  // file header + info header, no colour table at 32 bits

// The pixel bytes a 32-bit query of `bitmap` reports, or 0 when the query fails.
std::uint64_t QueriedSize(HDC dc, HBITMAP bitmap) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  if (GetDIBits(dc, bitmap, 0, 0, nullptr, &info, 0) == 0) return 0;
  return info.bmiHeader.biSizeImage;
}

TEST(BitmapLimit, TheLargestSquareBitmapFitsTheFileSizeFieldExactly) {
  const HDC screen = GetDC(nullptr);
  const HDC dc = CreateCompatibleDC(screen);
  // 32767 is the largest side whose 32-bit file (4 x 32767^2 + 54 bytes)
  // stays below 4 GiB; a merge's sides are multiples of 256, so 127 bands
  // (32512) is the largest merge and 128 bands the first that is refused.
  for (int side : {32767, 32512}) {
    const HBITMAP bm = CreateCompatibleBitmap(screen, side, side);
    ASSERT_NE(bm, 0u) << side;
    const std::uint64_t pixels = QueriedSize(dc, bm);
    EXPECT_EQ(pixels, 4ull * side * side) << side;
    EXPECT_LE(pixels + kHeaders, std::numeric_limits<std::uint32_t>::max()) << side;
    DeleteObject(bm);
  }
  for (auto [w, h] : {std::pair{32768, 32768}, {32768 + 256, 32768 + 256}, {33024, 33024}, {65536, 65536},
                      {std::numeric_limits<int>::max(), 1}, {1, std::numeric_limits<int>::max()},
                      {std::numeric_limits<int>::max(), std::numeric_limits<int>::max()}})
    EXPECT_EQ(CreateCompatibleBitmap(screen, w, h), 0u) << w << " x " << h;
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

TEST(BitmapLimit, OneBitBitmapsAreLimitedByTheirOwnSize) {
  // A memory context starts with a 1-bit bitmap, so its compatible bitmaps
  // have 1 bit per pixel: far larger sides fit, but not any side.
  const HDC dc = CreateCompatibleDC(0);
  const HBITMAP bm = CreateCompatibleBitmap(dc, 65536, 65536);  // 512 MiB of bits
  ASSERT_NE(bm, 0u);
  DeleteObject(bm);
  EXPECT_EQ(CreateCompatibleBitmap(dc, 1 << 18, 1 << 18), 0u);  // 8 GiB of bits
  EXPECT_EQ(CreateCompatibleBitmap(dc, std::numeric_limits<int>::max(), std::numeric_limits<int>::max()), 0u);
  DeleteDC(dc);
}

}  // namespace
