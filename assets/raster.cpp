#include "assets/raster.h"

#include <algorithm>
#include <stdexcept>

#include "assets/bitmap_font.h"

namespace mosalin_assets {

namespace {
std::uint8_t Clamp8(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); }
}  // namespace

Rgb Shade(Rgb c, int factor) {
  return {Clamp8(c.r * factor / 256), Clamp8(c.g * factor / 256), Clamp8(c.b * factor / 256)};
}

Rgb Mix(Rgb under, Rgb over, int cover) {
  cover = std::clamp(cover, 0, 255);
  auto mix = [cover](int u, int o) { return Clamp8((u * (255 - cover) + o * cover + 127) / 255); };
  return {mix(under.r, over.r), mix(under.g, over.g), mix(under.b, over.b)};
}

Raster::Raster(int width, int height) : width_(width), height_(height) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("picture size must be positive");
  px_.assign(static_cast<std::size_t>(width) * height * 4, 0);
}

void Raster::Put(int x, int y, Rgb c, std::uint8_t alpha) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  std::uint8_t* p = &px_[(static_cast<std::size_t>(y) * width_ + x) * 4];
  p[0] = c.r;
  p[1] = c.g;
  p[2] = c.b;
  p[3] = alpha;
}

Rgb Raster::At(int x, int y) const {
  const std::uint8_t* p = &px_[(static_cast<std::size_t>(y) * width_ + x) * 4];
  return {p[0], p[1], p[2]};
}

std::uint8_t Raster::AlphaAt(int x, int y) const {
  return px_[(static_cast<std::size_t>(y) * width_ + x) * 4 + 3];
}

void Raster::Fill(int x0, int y0, int x1, int y1, Rgb c) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, width_);
  y1 = std::min(y1, height_);
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) Put(x, y, c);
}

std::vector<std::uint8_t> Raster::Rgb8() const {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(width_) * height_ * 3);
  for (std::size_t i = 0, n = static_cast<std::size_t>(width_) * height_; i < n; ++i) {
    out[i * 3] = px_[i * 4];
    out[i * 3 + 1] = px_[i * 4 + 1];
    out[i * 3 + 2] = px_[i * 4 + 2];
  }
  return out;
}

TextStencil::TextStencil(std::string_view text, int scale, int halo)
    : width_(TextWidth(text, scale) + 2 * halo), height_(TextHeight(scale) + 2 * halo) {
  cells_.assign(static_cast<std::size_t>(width_) * height_, kBlank);
  std::vector<std::uint8_t> ink(cells_.size(), 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    for (int row = 0; row < kGlyphHeight; ++row) {
      for (int col = 0; col < kGlyphWidth; ++col) {
        if (!GlyphInk(text[i], col, row)) continue;
        int x0 = halo + (static_cast<int>(i) * kGlyphAdvance + col) * scale;
        int y0 = halo + row * scale;
        for (int dy = 0; dy < scale; ++dy)
          for (int dx = 0; dx < scale; ++dx) ink[(y0 + dy) * width_ + x0 + dx] = 1;
      }
    }
  }
  // The halo: every blank cell within `halo` cells (square neighbourhood) of ink.
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      if (ink[y * width_ + x]) {
        cells_[y * width_ + x] = kInk;
        continue;
      }
      bool near = false;
      for (int dy = -halo; dy <= halo && !near; ++dy)
        for (int dx = -halo; dx <= halo && !near; ++dx) {
          int nx = x + dx, ny = y + dy;
          near = nx >= 0 && ny >= 0 && nx < width_ && ny < height_ && ink[ny * width_ + nx];
        }
      if (near) cells_[y * width_ + x] = kHalo;
    }
  }
}

void TextStencil::Stamp(Raster& r, int originX, int originY, int left, int top, Rgb ink, Rgb halo,
                        int haloCover) const {
  int sx0 = std::max(0, originX - left), sy0 = std::max(0, originY - top);
  int sx1 = std::min(width_, originX + r.width() - left);
  int sy1 = std::min(height_, originY + r.height() - top);
  for (int sy = sy0; sy < sy1; ++sy) {
    for (int sx = sx0; sx < sx1; ++sx) {
      Cell c = At(sx, sy);
      if (c == kBlank) continue;
      int x = left + sx - originX, y = top + sy - originY;
      if (c == kInk)
        r.Put(x, y, ink);
      else
        r.Put(x, y, Mix(r.At(x, y), halo, haloCover), 255);
    }
  }
}

}  // namespace mosalin_assets
