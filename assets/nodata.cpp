#include "assets/nodata.h"

#include "assets/bitmap_font.h"

namespace mosalin_assets {

namespace {
constexpr int kEdge = 256;
constexpr Rgb kGround{228, 228, 226}, kHatch{215, 215, 213}, kBorder{158, 158, 156};
constexpr Rgb kPanel{241, 241, 239}, kPanelEdge{188, 188, 186}, kInk{108, 108, 106};
}  // namespace

Raster DrawNoData() {
  Raster r(kEdge, kEdge);
  for (int y = 0; y < kEdge; ++y)
    for (int x = 0; x < kEdge; ++x) r.Put(x, y, (x + y) % 12 < 2 ? kHatch : kGround);
  // A thin frame, so that neighbouring placeholders stay apart in a mosaic.
  r.Fill(0, 0, kEdge, 1, kBorder);
  r.Fill(0, kEdge - 1, kEdge, kEdge, kBorder);
  r.Fill(0, 0, 1, kEdge, kBorder);
  r.Fill(kEdge - 1, 0, kEdge, kEdge, kBorder);

  constexpr int kScale = 4;
  const char* text = "NO DATA";
  int tw = TextWidth(text, kScale), th = TextHeight(kScale);
  int tx = (kEdge - tw) / 2, ty = (kEdge - th) / 2;
  int px0 = tx - 14, py0 = ty - 14, px1 = tx + tw + 14, py1 = ty + th + 14;
  r.Fill(px0, py0, px1, py1, kPanelEdge);
  r.Fill(px0 + 1, py0 + 1, px1 - 1, py1 - 1, kPanel);
  TextStencil(text, kScale, 0).Stamp(r, 0, 0, tx, ty, kInk, kPanel, 0);
  return r;
}

}  // namespace mosalin_assets
