#include "runtime/ui/icon.h"

#include <algorithm>
#include <cmath>
#include <map>

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

namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

bool OpaqueAt(const std::vector<std::uint8_t>& rgba, std::size_t i) { return rgba[i * 4 + 3] >= 128; }
std::uint32_t RgbAt(const std::vector<std::uint8_t>& rgba, std::size_t i) {
  return std::uint32_t(rgba[i * 4]) << 16 | std::uint32_t(rgba[i * 4 + 1]) << 8 | rgba[i * 4 + 2];
}

// Up to 256 colours: the most frequent ones of the opaque pixels.
std::vector<std::uint32_t> Palette(const std::vector<std::uint8_t>& rgba) {
  std::map<std::uint32_t, std::size_t> counts;
  for (std::size_t i = 0; i < rgba.size() / 4; ++i)
    if (OpaqueAt(rgba, i)) ++counts[RgbAt(rgba, i)];
  std::vector<std::pair<std::size_t, std::uint32_t>> byCount;
  for (const auto& [rgb, n] : counts) byCount.emplace_back(n, rgb);
  std::stable_sort(byCount.begin(), byCount.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<std::uint32_t> palette;
  for (std::size_t i = 0; i < byCount.size() && i < 256; ++i) palette.push_back(byCount[i].second);
  if (palette.empty()) palette.push_back(0);
  return palette;
}

std::uint8_t Nearest(const std::vector<std::uint32_t>& palette, std::uint32_t rgb) {
  auto channel = [](std::uint32_t v, int shift) { return static_cast<int>((v >> shift) & 0xFF); };
  std::size_t best = 0;
  long bestDistance = -1;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    long d = 0;
    for (int shift : {16, 8, 0}) {
      const long c = channel(palette[i], shift) - channel(rgb, shift);
      d += c * c;
    }
    if (bestDistance < 0 || d < bestDistance) bestDistance = d, best = i;
  }
  return static_cast<std::uint8_t>(best);
}

// One BMP-encoded icon image: the information header (of twice the height:
// colours and mask), the colour table, the colour rows and the AND mask, both
// bottom-up with rows padded to 4 bytes.
std::vector<std::uint8_t> IconImage(int size, int bits) {
  const std::vector<std::uint8_t> rgba = DrawIcon(size);
  const std::size_t colourStride = (static_cast<std::size_t>(size) * bits / 8 + 3) / 4 * 4;
  const std::size_t maskStride = (static_cast<std::size_t>(size) + 31) / 32 * 4;
  const std::vector<std::uint32_t> palette = bits == 8 ? Palette(rgba) : std::vector<std::uint32_t>();

  std::vector<std::uint8_t> out;
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(size));
  Put32(out, static_cast<std::uint32_t>(size) * 2);
  Put16(out, 1);
  Put16(out, static_cast<unsigned>(bits));
  Put32(out, 0);  // uncompressed
  Put32(out, static_cast<std::uint32_t>((colourStride + maskStride) * size));
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, bits == 8 ? 256 : 0);
  Put32(out, 0);
  if (bits == 8) {
    for (std::size_t i = 0; i < 256; ++i) {
      const std::uint32_t rgb = i < palette.size() ? palette[i] : 0;
      out.push_back(static_cast<std::uint8_t>(rgb));
      out.push_back(static_cast<std::uint8_t>(rgb >> 8));
      out.push_back(static_cast<std::uint8_t>(rgb >> 16));
      out.push_back(0);
    }
  }
  for (int y = size - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(colourStride, 0);
    for (int x = 0; x < size; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * size + x;
      if (!OpaqueAt(rgba, i)) continue;
      const std::uint32_t rgb = RgbAt(rgba, i);
      if (bits == 8) {
        row[x] = Nearest(palette, rgb);
      } else {
        row[x * 3] = static_cast<std::uint8_t>(rgb);
        row[x * 3 + 1] = static_cast<std::uint8_t>(rgb >> 8);
        row[x * 3 + 2] = static_cast<std::uint8_t>(rgb >> 16);
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  for (int y = size - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(maskStride, 0);
    for (int x = 0; x < size; ++x)
      if (!OpaqueAt(rgba, static_cast<std::size_t>(y) * size + x))
        row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace

std::vector<std::uint8_t> IconFile() {
  const std::pair<int, int> kImages[] = {{16, 8}, {16, 24}, {32, 8}, {32, 24}};
  std::vector<std::vector<std::uint8_t>> images;
  for (const auto& [size, bits] : kImages) images.push_back(IconImage(size, bits));

  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);  // an icon
  Put16(out, static_cast<unsigned>(images.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    out.push_back(static_cast<std::uint8_t>(kImages[i].first));
    out.push_back(static_cast<std::uint8_t>(kImages[i].first));
    out.push_back(0);  // colour count: 0 for 256 colours and more
    out.push_back(0);
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(kImages[i].second));
    Put32(out, static_cast<std::uint32_t>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
  return out;
}

}  // namespace velmo::ui
