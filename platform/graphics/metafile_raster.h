// The metafile player's rasteriser: GDI's pixel rules on the target bitmap,
// without anti-aliasing, in device pixels of the target.
//
// Rules (Microsoft's GDI documentation: "Line Drawing", "Filled Shapes",
// "Polygon Fill Mode", "Binary Raster Operations", "Ternary Raster
// Operations"):
//  - a pixel belongs to a filled area when its centre (x + 0.5, y + 0.5) lies
//    inside the outline whose vertices are at whole device coordinates; a
//    centre exactly on an edge belongs to the area on the edge's right
//    (left and top edges in, right and bottom edges out); ALTERNATE counts
//    crossings odd/even, WINDING counts a nonzero winding number;
//  - a 1-pixel line covers the pixels a DDA visits from its first point up
//    to, not including, its last point (a line excludes its last pixel);
//  - a wider pen strokes a band of its width centred on the line with round
//    joins and ends, filled as one area (each pixel written once, so an XOR
//    pen does not cancel itself where segments meet);
//  - colours are COLORREF values (0x00BBGGRR); binary raster operations
//    combine pen and destination bit by bit (R2_BLACK .. R2_WHITE), ternary
//    ones pattern, source and destination by the operation's truth table
//    (the high word's low byte of the ROP code).
// A 1-bit target is read as black and white and written through
// IsNearerWhite.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/graphics/picture.h"
#include "platform/graphics/surface.h"

namespace graphics::metafile {

struct PointD {
  double x = 0, y = 0;
};
using Figure = std::vector<PointD>;

// [left, right) x [top, bottom) in device pixels.
struct IRect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool Empty() const { return left >= right || top >= bottom; }
};

// A region: non-overlapping rectangles, kept in bands (sorted by top, then left).
using Region = std::vector<IRect>;
enum class RegionOp { kAnd = 1, kOr = 2, kXor = 3, kDiff = 4, kCopy = 5 };
// The result has at most kMaxClipRects rectangles (the rest is dropped).
// `work` (when given) grows by the steps taken: bands times rectangles, at
// most about 2 (a.size() + b.size())^2.
Region Combine(const Region& a, const Region& b, RegionOp op, std::uint64_t* work = nullptr);
IRect BoundsOf(const Region& r);

// What fills a pixel: a solid colour, a hatch over the background (or over
// nothing, transparent mode), or a tiled pattern picture.
struct Paint {
  enum class Kind : std::uint8_t { kNone, kSolid, kHatch, kPattern };
  Kind kind = Kind::kSolid;
  std::uint32_t colour = 0;
  int hatch = 0;                   // HS_HORIZONTAL .. HS_DIAGCROSS
  bool opaqueBackground = true;    // hatch gaps filled with `background`
  std::uint32_t background = 0xFFFFFF;
  std::shared_ptr<const Picture> pattern;
  // The colour at device pixel (x, y); false where the paint leaves the pixel.
  bool At(std::int32_t x, std::int32_t y, std::uint32_t* c) const;
};

std::uint32_t Rop2(int rop2, std::uint32_t pen, std::uint32_t dst);
std::uint32_t Rop3(std::uint32_t rop3, std::uint32_t pattern, std::uint32_t source, std::uint32_t dst);

// The target with its clip region and the work budget.
class Canvas {
 public:
  // `bound`: the part of the target rectangle that lies on the bitmap.
  Canvas(const Surface& s, IRect bound, std::uint64_t budget);

  const IRect& Bound() const { return bound_; }
  const Surface& Target() const { return s_; }
  // The clip region in force, always inside Bound(): the canvas's own (the
  // bound) until the player points it at its device context's.
  const Region* clip = &own_;

  std::uint32_t Get(std::int32_t x, std::int32_t y) const;
  void Set(std::int32_t x, std::int32_t y, std::uint32_t colour);
  bool Clipped(std::int32_t x, std::int32_t y) const;  // true: may not draw

  // Counts `n` units of work; false (for good) once the budget is spent.
  bool Spend(std::uint64_t n);
  bool Exhausted() const { return exhausted_; }

  // Fills pixels [x0, x1) of row y where the clip allows.
  void FillSpan(std::int32_t y, std::int32_t x0, std::int32_t x1, const Paint& p, int rop2);
  // Plots one pixel of a line where the clip allows.
  void Plot(std::int32_t x, std::int32_t y, std::uint32_t colour, int rop2);

 private:
  const Surface& s_;
  IRect bound_;
  Region own_;
  std::uint64_t budget_, work_ = 0;
  bool exhausted_ = false;
};

// Fills the area of `figures` (device coordinates) with `paint`.
void FillFigures(Canvas& c, const std::vector<Figure>& figures, bool winding, const Paint& paint, int rop2);
// The rows of the area as a region (for clip paths and regions made of outlines).
Region RegionOfFigures(Canvas& c, const std::vector<Figure>& figures, bool winding);

// A cosmetic pen's dash pattern in pixels: on, off, on, off...; empty: solid.
using Dashes = std::vector<int>;
struct LinePen {
  std::uint32_t colour = 0;
  Dashes dashes;
  bool opaqueGaps = false;  // background mode OPAQUE: gaps in `background`
  std::uint32_t background = 0xFFFFFF;
};
// A 1-pixel line from a to b (whole device pixels), its last pixel excluded;
// `phase` carries the dash position from one segment to the next.
void DrawLine(Canvas& c, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, const LinePen& pen,
              int rop2, std::int64_t& phase);
// The band of `width` pixels around the polyline (closed or open), round
// joins and ends, as figures to fill with WINDING.
std::vector<Figure> WidePolyline(const Figure& points, bool closed, double width);

// Points of the ellipse inscribed in the box, from angle a0 sweeping `sweep`
// radians (counter-clockwise on the screen when positive); `segments` from
// the size.
Figure EllipseArc(double cx, double cy, double rx, double ry, double a0, double sweep);
// A cubic Bézier from p0 to p3 flattened (p0 excluded).
void FlattenBezier(PointD p0, PointD p1, PointD p2, PointD p3, Figure& out);

}  // namespace graphics::metafile
