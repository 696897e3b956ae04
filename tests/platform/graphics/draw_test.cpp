// Drawing decoded pictures onto bitmaps: exact copies, clipping, source-over
// blending and bilinear scaling, each checked against arithmetic of its own.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>

#include "platform/graphics/draw.h"

namespace {

using graphics::Picture;
using Px = std::array<int, 4>;  // blue, green, red, alpha

Picture Make(int w, int h, const std::function<Px(int, int)>& f) {
  Picture p;
  EXPECT_EQ(graphics::AllocatePicture(p, w, h, true), Gdiplus::Ok);
  for (int i = 0; i < w * h; ++i) {
    const Px c = f(i % w, i / w);
    for (int k = 0; k < 3; ++k) p.bgrx[i * 4 + k] = std::uint8_t(c[k]);
    p.bgrx[i * 4 + 3] = 0;
    p.alpha[i] = std::uint8_t(c[3]);
  }
  graphics::FinishAlpha(p);
  return p;
}

Px Pattern(int x, int y) { return {x * 13 & 255, y * 29 & 255, (x * y + 7) & 255, 255}; }
Px Background(int x, int y) { return {(x + y) & 255, 200, 60, 0}; }

// A 32-bit (or 1-bit) surface filled with Background.
struct Canvas {
  Canvas(int w, int h, int bpp = 32) : bits(std::size_t(w) * h * 4) {
    s = {bits.data(), w, h, bpp, bpp == 32 ? std::ptrdiff_t(w) * 4 : (std::ptrdiff_t(w) + 31) / 32 * 4};
    for (int y = 0; bpp == 32 && y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int k = 0; k < 3; ++k) At(x, y)[k] = std::uint8_t(Background(x, y)[k]);
  }
  std::uint8_t* At(int x, int y) { return bits.data() + y * s.stride + x * 4; }
  GpStatus Draw(const Picture& p, double x, double y, double w, double h) {
    return graphics::DrawPicture(p, s, x, y, w, h);
  }
  std::vector<std::uint8_t> bits;
  graphics::Surface s;
};

TEST(Draw, OwnSizeIsAnExactCopyClippedAtEveryEdge) {
  const Picture p = Make(8, 6, Pattern);
  const std::pair<double, double> places[] = {{5, 3},  {-3, -2}, {17, 15}, {-3, 16}, {16, -5},
                                              {-8, 0}, {20, 0},  {0, -6},  {0, 20},  {5.4, 2.5}};
  for (const auto& [px, py] : places) {
    Canvas c(20, 20);
    ASSERT_EQ(c.Draw(p, px, py, 8, 6), Gdiplus::Ok);
    const int ix = int(std::floor(px + 0.5)), iy = int(std::floor(py + 0.5));  // nearest pixel
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) {
        const bool in = x >= ix && x < ix + 8 && y >= iy && y < iy + 6;
        const Px want = in ? Pattern(x - ix, y - iy) : Background(x, y);
        ASSERT_EQ(Px({c.At(x, y)[0], c.At(x, y)[1], c.At(x, y)[2], c.At(x, y)[3]}), Px({want[0], want[1], want[2], 0}))
            << "at " << px << ',' << py << " pixel " << x << ',' << y;
      }
  }
}

TEST(Draw, SourceOverWithPartialAlpha) {
  auto src = [](int x, int y) { return Px{x * 16, 255 - y * 16, 77, (x * 16 + y) & 255}; };
  Canvas c(16, 16);
  ASSERT_EQ(c.Draw(Make(16, 16, src), 0, 0, 16, 16), Gdiplus::Ok);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      for (int k = 0; k < 3; ++k) {
        const int a = src(x, y)[3];
        const double exact = (src(x, y)[k] * a + Background(x, y)[k] * (255 - a)) / 255.0;
        ASSERT_EQ(c.At(x, y)[k], int(std::floor(exact + 0.5))) << x << ',' << y;
      }
}

TEST(Draw, BilinearScaling) {
  const Picture p = Make(256, 256, Pattern);
  Canvas c(256, 256);
  ASSERT_EQ(c.Draw(p, 0, 0, 128, 256), Gdiplus::Ok);  // half width: pairs averaged
  for (int y = 0; y < 256; y += 17)
    for (int x = 0; x < 128; x += 5) ASSERT_EQ(c.At(x, y)[0], (Pattern(2 * x, y)[0] + Pattern(2 * x + 1, y)[0] + 1) / 2);
  EXPECT_EQ(c.At(128, 0)[1], 200);  // beside the drawn half: untouched
  ASSERT_EQ(c.Draw(p, 0, 0, 128, 128), Gdiplus::Ok);  // half both ways: squares averaged
  for (int y = 0; y < 128; y += 7)
    for (int x = 0; x < 128; x += 3) {
      int sum = 0;
      for (int k = 0; k < 4; ++k) sum += Pattern(2 * x + k % 2, 2 * y + k / 2)[1];
      ASSERT_EQ(c.At(x, y)[1], (sum + 2) / 4) << x << ',' << y;
    }

  // Constant colours stay constant at any scale and position; a ramp stays ordered.
  Canvas d(40, 30);
  ASSERT_EQ(d.Draw(Make(7, 5, [](int, int) { return Px{10, 120, 250, 255}; }), 2.3, 1.7, 23.5, 11.2), Gdiplus::Ok);
  for (int i = 0; i < 24 * 11; ++i) ASSERT_EQ(d.At(2 + i % 24, 2 + i / 24)[2], 250) << i;  // x 2..25, y 2..12
  EXPECT_EQ(d.At(26, 5)[2], 60);
  ASSERT_EQ(d.Draw(Make(7, 5, [](int, int) { return Px{10, 120, 250, 128}; }), 0, 15, 31, 13), Gdiplus::Ok);
  for (int x = 0; x < 31; ++x) ASSERT_EQ(d.At(x, 20)[0], (10 * 128 + Background(x, 20)[0] * 127 + 127) / 255) << x;
  ASSERT_EQ(d.Draw(Make(4, 1, [](int x, int) { return Px{x * 80, 0, 0, 255}; }), 0, 29, 40, 1), Gdiplus::Ok);
  for (int x = 1; x < 40; ++x) ASSERT_GE(d.At(x, 29)[0], d.At(x - 1, 29)[0]) << x;
  EXPECT_EQ(d.At(0, 29)[0] + d.At(39, 29)[0], 0 + 240);  // edges clamp
}

TEST(Draw, MirroringBadArgumentsAndMonochromeTargets) {
  const Picture p = Make(5, 1, [](int x, int) { return Px{x * 50, 0, 0, x == 2 ? 0 : 255}; });
  Canvas c(5, 1);
  ASSERT_EQ(c.Draw(p, 5, 0, -5, 1), Gdiplus::Ok);
  EXPECT_EQ(c.At(0, 0)[0] + c.At(4, 0)[0], 200 + 0);
  EXPECT_EQ(c.At(2, 0)[0], Background(2, 0)[0]);  // transparent: unchanged
  EXPECT_EQ(c.Draw(p, 0, 0, 0, 1), Gdiplus::Ok);
  EXPECT_EQ(c.Draw(p, NAN, 0, 5, 1), Gdiplus::InvalidParameter);
  EXPECT_EQ(c.Draw(p, 0, 0, INFINITY, 1), Gdiplus::InvalidParameter);
  EXPECT_EQ(c.Draw(p, 0, 0, 1e-30, 1e30), Gdiplus::Ok);

  Canvas mono(10, 1, 1);
  mono.bits[0] = 0xFF;
  const Picture grey = Make(10, 1, [](int x, int) { return Px{x * 28, x * 28, x * 28, 255}; });
  ASSERT_EQ(mono.Draw(grey, 0, 0, 10, 1), Gdiplus::Ok);
  EXPECT_EQ(mono.bits[0], 0x07);  // 0 .. 112 black, 140 .. 252 white
  EXPECT_EQ(mono.bits[1], 0xC0);
}

}  // namespace
