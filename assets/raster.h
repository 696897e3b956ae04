// An RGBA picture in memory with the few drawing operations the asset tool
// needs: pixels, blending, rectangles and bitmap-font text with a halo.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mosalin_assets {

struct Rgb {
  std::uint8_t r, g, b;
};

// `c` darkened (factor < 256) or lightened (factor > 256) by factor / 256.
Rgb Shade(Rgb c, int factor);
// `under` covered by `over` to the extent cover / 255.
Rgb Mix(Rgb under, Rgb over, int cover);

class Raster {
 public:
  Raster(int width, int height);
  int width() const { return width_; }
  int height() const { return height_; }
  std::uint8_t* data() { return px_.data(); }
  const std::uint8_t* data() const { return px_.data(); }

  void Put(int x, int y, Rgb c, std::uint8_t alpha = 255);
  Rgb At(int x, int y) const;
  std::uint8_t AlphaAt(int x, int y) const;
  void Fill(int x0, int y0, int x1, int y1, Rgb c);  // [x0, x1) x [y0, y1), clipped

  // The RGB bytes (alpha dropped), rows top-down.
  std::vector<std::uint8_t> Rgb8() const;

 private:
  int width_, height_;
  std::vector<std::uint8_t> px_;  // RGBA, rows top-down
};

// A run of text as a stencil: every cell is blank, halo or ink. The halo is a
// ring of `halo` pixels around the ink that keeps the text readable over a
// busy background.
class TextStencil {
 public:
  enum Cell : std::uint8_t { kBlank = 0, kHalo = 1, kInk = 2 };
  TextStencil(std::string_view text, int scale, int halo);
  int width() const { return width_; }
  int height() const { return height_; }
  Cell At(int x, int y) const { return static_cast<Cell>(cells_[y * width_ + x]); }

  // Draws the stencil with its top-left corner at (left, top) in the drawing's
  // coordinates into `r`, whose top-left pixel is (originX, originY) of the
  // drawing. Only the part that falls inside `r` is drawn, so pieces of one
  // drawing made separately agree with the drawing made in one piece. The halo
  // is mixed over what is there to the extent haloCover / 255.
  void Stamp(Raster& r, int originX, int originY, int left, int top, Rgb ink, Rgb halo,
             int haloCover) const;

 private:
  int width_, height_;
  std::vector<std::uint8_t> cells_;
};

}  // namespace mosalin_assets
