#include "runtime/ui/icon.h"

#include <spng.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace velmo::ui {
namespace {

struct Rgba {
  double r, g, b, a;
};

constexpr Rgba kClear{0, 0, 0, 0};
constexpr Rgba kGrid{70, 78, 88, 255};
constexpr Rgba kLand{143, 203, 107, 255};
constexpr Rgba kWater{125, 183, 232, 255};
constexpr Rgba kFields{232, 212, 154, 255};
constexpr Rgba kRoad{250, 250, 245, 255};
constexpr Rgba kPin{217, 52, 43, 255};
constexpr Rgba kPinDot{255, 255, 255, 255};

// The picture at (u, v) in [0, 1) x [0, 1); `px` is one pixel in those units,
// so that the frame and the grid lines stay one whole pixel wide at every size.
Rgba Sample(double u, double v, double px) {
  // Rounded corners, two pixels in radius.
  const double r = 2 * px;
  double cu = std::clamp(u, r, 1.0 - r), cv = std::clamp(v, r, 1.0 - r);
  if ((u - cu) * (u - cu) + (v - cv) * (v - cv) > r * r) return kClear;

  // Map pin: a round head on a point, over everything else.
  const double cx = 0.5, cy = 0.40, radius = 0.19;
  double dx = u - cx, dy = v - cy;
  if (dx * dx + dy * dy <= radius * radius) {
    double dot = radius * 0.38;
    return dx * dx + dy * dy <= dot * dot ? kPinDot : kPin;
  }
  if (v > cy && v <= 0.84) {
    // Triangle from the head's widest point down to the tip at v = 0.84.
    double halfWidth = radius * 0.92 * (0.84 - v) / (0.84 - cy);
    if (std::fabs(dx) <= halfWidth) return kPin;
  }

  // Frame and the lines between the four tiles (the pixel row and column
  // starting at the middle).
  if (u < px || v < px || u >= 1.0 - px || v >= 1.0 - px) return kGrid;
  if ((u >= 0.5 && u < 0.5 + px) || (v >= 0.5 && v < 0.5 + px)) return kGrid;

  bool right = u >= 0.5, bottom = v >= 0.5;
  // A road across the two lower tiles.
  if (bottom && std::fabs(v - 0.78) < std::max(px, 0.045)) return kRoad;
  if (!bottom && !right) return kLand;
  if (!bottom && right) return kWater;
  if (bottom && !right) return kFields;
  return kLand;
}

}  // namespace

std::vector<std::uint8_t> DrawIcon(int size) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(size) * size * 4);
  const int kSub = 4;
  const double px = 1.0 / size;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      double r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < kSub; ++sy) {
        for (int sx = 0; sx < kSub; ++sx) {
          Rgba c = Sample((x + (sx + 0.5) / kSub) * px, (y + (sy + 0.5) / kSub) * px, px);
          // Premultiplied sums, so transparent samples do not darken edges.
          r += c.r * c.a;
          g += c.g * c.a;
          b += c.b * c.a;
          a += c.a;
        }
      }
      std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * size + x) * 4];
      if (a > 0) {
        p[0] = static_cast<std::uint8_t>(std::lround(r / a));
        p[1] = static_cast<std::uint8_t>(std::lround(g / a));
        p[2] = static_cast<std::uint8_t>(std::lround(b / a));
      }
      p[3] = static_cast<std::uint8_t>(std::lround(a / (kSub * kSub)));
    }
  }
  return pixels;
}

bool WritePng(const std::string& path, int width, int height, int channels,
              const std::uint8_t* pixels, std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error) *error = path + ": " + what;
    return false;
  };
  if (width <= 0 || height <= 0 || (channels != 3 && channels != 4))
    return fail("unsupported picture format");

  std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(SPNG_CTX_ENCODER),
                                                     spng_ctx_free);
  if (!ctx) return fail("out of memory");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                       std::fclose);
  if (!file) return fail("cannot open for writing");

  spng_ihdr ihdr{};
  ihdr.width = static_cast<std::uint32_t>(width);
  ihdr.height = static_cast<std::uint32_t>(height);
  ihdr.bit_depth = 8;
  ihdr.color_type = channels == 4 ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
  int rc = spng_set_png_file(ctx.get(), file.get());
  if (rc == 0) rc = spng_set_ihdr(ctx.get(), &ihdr);
  if (rc == 0) {
    std::size_t bytes = static_cast<std::size_t>(width) * height * channels;
    rc = spng_encode_image(ctx.get(), pixels, bytes, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  }
  if (rc != 0) return fail(spng_strerror(rc));
  ctx.reset();  // finishes the stream before the file is closed
  if (std::fflush(file.get()) != 0) return fail("write failed");
  return true;
}

}  // namespace velmo::ui
