#include "platform/graphics/draw.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace graphics {
namespace {

constexpr std::uint64_t kFull = 255u * 65536u;  // alpha 255 at full weight
constexpr std::uint64_t kHalf = 255u * 32768u;

// Hands out destination spans as blue, green, red, 0: the bitmap's own memory
// at 32 bits per pixel; for a 1-bit bitmap a scratch span expanded from the
// bits and packed back by Commit.
class RowTarget {
 public:
  explicit RowTarget(const Surface& s) : s_(s) {}

  std::uint8_t* Begin(std::int64_t y, std::int64_t x0, std::int64_t n) {
    row_ = s_.Row(y);
    x0_ = x0, n_ = n;
    if (s_.bitsPerPixel == 32) return row_ + std::size_t(x0) * 4;
    scratch_.resize(std::size_t(n) * 4);
    for (std::int64_t i = 0; i < n; ++i) {
      const std::int64_t x = x0 + i;
      const std::uint8_t v = (row_[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
      std::memset(&scratch_[std::size_t(i) * 4], v, 3);
      scratch_[std::size_t(i) * 4 + 3] = 0;
    }
    return scratch_.data();
  }

  void Commit() {
    if (s_.bitsPerPixel == 32) return;
    for (std::int64_t i = 0; i < n_; ++i) {
      const std::uint8_t* p = &scratch_[std::size_t(i) * 4];
      const std::int64_t x = x0_ + i;
      const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
      if (IsNearerWhite(p[0], p[1], p[2])) row_[x >> 3] |= bit;
      else row_[x >> 3] &= static_cast<std::uint8_t>(~bit);
    }
  }

 private:
  const Surface& s_;
  std::uint8_t* row_ = nullptr;
  std::int64_t x0_ = 0, n_ = 0;
  std::vector<std::uint8_t> scratch_;
};

void BlendSpan(std::uint8_t* d, const std::uint8_t* s, const std::uint8_t* alpha,
               std::int64_t n) {
  for (std::int64_t i = 0; i < n; ++i, d += 4, s += 4) {
    const unsigned a = alpha[i];
    if (a == 255) {
      std::memcpy(d, s, 4);
    } else if (a != 0) {
      const unsigned na = 255 - a;
      d[0] = static_cast<std::uint8_t>((s[0] * a + d[0] * na + 127) / 255);
      d[1] = static_cast<std::uint8_t>((s[1] * a + d[1] * na + 127) / 255);
      d[2] = static_cast<std::uint8_t>((s[2] * a + d[2] * na + 127) / 255);
      d[3] = 0;
    }
  }
}

void DrawExact(const Picture& p, const Surface& s, double x, double y) {
  const double fx = std::floor(x + 0.5), fy = std::floor(y + 0.5);
  if (fx >= s.width || fy >= s.height || fx + p.width <= 0 || fy + p.height <= 0) return;
  const auto ix = static_cast<std::int64_t>(fx), iy = static_cast<std::int64_t>(fy);
  const std::int64_t x0 = std::max<std::int64_t>(ix, 0), x1 = std::min<std::int64_t>(ix + p.width, s.width);
  const std::int64_t y0 = std::max<std::int64_t>(iy, 0), y1 = std::min<std::int64_t>(iy + p.height, s.height);
  const std::int64_t n = x1 - x0, sx = x0 - ix;
  RowTarget target(s);
  for (std::int64_t y = y0; y < y1; ++y) {
    const auto sy = static_cast<std::int32_t>(y - iy);
    const RowCover cover = p.Opaque()        ? RowCover::kOpaque
                           : p.rows.empty() ? RowCover::kMixed
                                            : p.rows[std::size_t(sy)];
    if (cover == RowCover::kClear) continue;
    std::uint8_t* d = target.Begin(y, x0, n);
    const std::uint8_t* src = p.Row(sy) + sx * 4;
    if (cover == RowCover::kOpaque) std::memcpy(d, src, std::size_t(n) * 4);
    else BlendSpan(d, src, p.AlphaRow(sy) + sx, n);
    target.Commit();
  }
}

// One destination axis of the scaled path: for each destination pixel the two
// source taps and the weight of the second (0-256).
struct Taps {
  std::vector<std::int32_t> a, b;
  std::vector<std::uint32_t> f;
};

Taps MakeTaps(std::int64_t d0, std::int64_t d1, double origin, double extent, std::int32_t size,
              bool mirror) {
  Taps t;
  const std::size_t n = std::size_t(d1 - d0);
  t.a.resize(n), t.b.resize(n), t.f.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    double u = (double(d0 + std::int64_t(i)) + 0.5 - origin) * size / extent;
    if (mirror) u = size - u;
    const double sv = u - 0.5, base = std::floor(sv);
    const auto clamp = [size](double v) {
      return static_cast<std::int32_t>(std::clamp(v, 0.0, double(size - 1)));
    };
    t.a[i] = clamp(base);
    t.b[i] = clamp(base + 1);
    // A far-off point (a vanishing extent) has no usable fraction: take the edge tap.
    const double frac = sv - base;
    t.f[i] = frac >= 0 && frac < 1 ? static_cast<std::uint32_t>(std::lround(frac * 256)) : 0;
  }
  return t;
}

void DrawScaled(const Picture& p, const Surface& s, double x, double y, double w, double h,
                bool mirrorX, bool mirrorY) {
  const double dx0 = std::max(0.0, std::ceil(x - 0.5)), dx1 = std::min(double(s.width), std::ceil(x + w - 0.5));
  const double dy0 = std::max(0.0, std::ceil(y - 0.5)), dy1 = std::min(double(s.height), std::ceil(y + h - 0.5));
  if (dx0 >= dx1 || dy0 >= dy1) return;
  const auto x0 = static_cast<std::int64_t>(dx0), x1 = static_cast<std::int64_t>(dx1);
  const auto y0 = static_cast<std::int64_t>(dy0), y1 = static_cast<std::int64_t>(dy1);
  const Taps cols = MakeTaps(x0, x1, x, w, p.width, mirrorX);
  const Taps rows = MakeTaps(y0, y1, y, h, p.height, mirrorY);
  const std::size_t n = std::size_t(x1 - x0);
  RowTarget target(s);
  for (std::size_t r = 0; r < rows.a.size(); ++r) {
    const std::uint32_t fy = rows.f[r], gy = 256 - fy;
    const std::uint8_t* top = p.Row(rows.a[r]);
    const std::uint8_t* bottom = p.Row(rows.b[r]);
    std::uint8_t* d = target.Begin(y0 + std::int64_t(r), x0, n);
    if (p.Opaque()) {
      for (std::size_t i = 0; i < n; ++i, d += 4) {
        const std::uint32_t fx = cols.f[i], gx = 256 - fx;
        const std::uint32_t w00 = gx * gy, w10 = fx * gy, w01 = gx * fy, w11 = fx * fy;
        const std::uint8_t *p00 = top + cols.a[i] * 4, *p10 = top + cols.b[i] * 4;
        const std::uint8_t *p01 = bottom + cols.a[i] * 4, *p11 = bottom + cols.b[i] * 4;
        for (int c = 0; c < 3; ++c)
          d[c] = static_cast<std::uint8_t>(
              (w00 * p00[c] + w10 * p10[c] + w01 * p01[c] + w11 * p11[c] + 32768) >> 16);
        d[3] = 0;
      }
    } else {
      const std::uint8_t* aTop = p.AlphaRow(rows.a[r]);
      const std::uint8_t* aBottom = p.AlphaRow(rows.b[r]);
      for (std::size_t i = 0; i < n; ++i, d += 4) {
        const std::uint32_t fx = cols.f[i], gx = 256 - fx;
        const std::int32_t xa = cols.a[i], xb = cols.b[i];
        // Weights premultiplied by each tap's alpha.
        const std::uint64_t w00 = std::uint64_t(gx * gy) * aTop[xa];
        const std::uint64_t w10 = std::uint64_t(fx * gy) * aTop[xb];
        const std::uint64_t w01 = std::uint64_t(gx * fy) * aBottom[xa];
        const std::uint64_t w11 = std::uint64_t(fx * fy) * aBottom[xb];
        const std::uint64_t coverage = w00 + w10 + w01 + w11;
        if (coverage == 0) continue;
        const std::uint64_t rest = kFull - coverage;
        const std::uint8_t *p00 = top + xa * 4, *p10 = top + xb * 4;
        const std::uint8_t *p01 = bottom + xa * 4, *p11 = bottom + xb * 4;
        for (int c = 0; c < 3; ++c)
          d[c] = static_cast<std::uint8_t>((w00 * p00[c] + w10 * p10[c] + w01 * p01[c] +
                                            w11 * p11[c] + d[c] * rest + kHalf) /
                                           kFull);
        d[3] = 0;
      }
    }
    target.Commit();
  }
}

}  // namespace

GpStatus DrawPicture(const Picture& p, const Surface& s, double x, double y, double w, double h) {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h))
    return Gdiplus::InvalidParameter;
  if (s.bitsPerPixel != 32 && s.bitsPerPixel != 1) return Gdiplus::InvalidParameter;
  if (w == 0 || h == 0 || p.width < 1 || p.height < 1) return Gdiplus::Ok;
  const bool mirrorX = w < 0, mirrorY = h < 0;
  if (mirrorX) x += w, w = -w;
  if (mirrorY) y += h, h = -h;
  if (!mirrorX && !mirrorY && w == p.width && h == p.height) DrawExact(p, s, x, y);
  else DrawScaled(p, s, x, y, w, h, mirrorX, mirrorY);
  return Gdiplus::Ok;
}

}  // namespace graphics
