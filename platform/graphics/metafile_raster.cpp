#include "platform/graphics/metafile_raster.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/graphics/metafile.h"

namespace graphics::metafile {
namespace {

// The 8 x 8 hatch patterns of HS_HORIZONTAL .. HS_DIAGCROSS: one byte per
// row, the most significant bit the leftmost pixel.
constexpr std::uint8_t kHatches[6][8] = {
    {0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00},  // horizontal: row 3
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},  // vertical: column 4
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // \\\ from the top left
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // /// from the top right
    {0x08, 0x08, 0x08, 0xFF, 0x08, 0x08, 0x08, 0x08},  // cross: both of the first two
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // diagonal cross: both diagonals
};

std::int32_t Mod(std::int64_t v, std::int32_t m) {
  const std::int64_t r = v % m;
  return static_cast<std::int32_t>(r < 0 ? r + m : r);
}

std::int32_t ClampToInt(double v) {
  return std::isnan(v) ? 0 : static_cast<std::int32_t>(std::clamp(v, -1073741824.0, 1073741824.0));
}

struct Edge {
  double top, bottom, x, slope;
  int dir;
};

// Calls span(y, x0, x1) for every row of the area inside Bound(), row by row.
template <class Span>
void Scan(Canvas& c, const std::vector<Figure>& figures, bool winding, Span span) {
  std::vector<Edge> edges;
  double ymin = INFINITY, ymax = -INFINITY;
  for (const Figure& f : figures) {
    if (f.size() < 2) continue;
    if (!c.Spend(f.size())) return;
    for (std::size_t i = 0; i < f.size(); ++i) {
      PointD a = f[i], b = f[(i + 1) % f.size()];
      if (a.y == b.y || !std::isfinite(a.x + a.y + b.x + b.y)) continue;
      int dir = 1;
      if (a.y > b.y) std::swap(a, b), dir = -1;
      // An edge wholly above or below the canvas crosses none of its rows.
      if (b.y <= c.Bound().top || a.y >= c.Bound().bottom + 1.0) continue;
      edges.push_back({a.y, b.y, a.x, (b.x - a.x) / (b.y - a.y), dir});
      ymin = std::min(ymin, a.y), ymax = std::max(ymax, b.y);
    }
  }
  if (edges.empty()) return;
  std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.top < b.top; });
  const IRect& bound = c.Bound();
  const std::int32_t y0 = std::max(bound.top, ClampToInt(std::ceil(ymin - 0.5)));
  const std::int32_t y1 = std::min(bound.bottom, ClampToInt(std::ceil(ymax - 0.5)));
  std::size_t next = 0;
  std::vector<const Edge*> active;
  std::vector<std::pair<double, int>> cross;
  for (std::int32_t y = y0; y < y1; ++y) {
    const double sy = y + 0.5;
    while (next < edges.size() && edges[next].top <= sy) active.push_back(&edges[next++]);
    std::erase_if(active, [sy](const Edge* e) { return e->bottom <= sy; });
    if (!c.Spend(active.size() + 1)) return;
    cross.clear();
    for (const Edge* e : active)
      if (e->top <= sy) {
        const double x = e->x + (sy - e->top) * e->slope;  // steep edges of huge figures may overflow
        cross.push_back({std::isnan(x) ? 0.0 : std::clamp(x, -2e9, 2e9), e->dir});
      }
    std::sort(cross.begin(), cross.end());
    int count = 0;
    for (std::size_t i = 0; i + 1 < cross.size(); ++i) {
      count += winding ? cross[i].second : 1;
      const bool inside = winding ? count != 0 : (count & 1) != 0;
      if (!inside) continue;
      const std::int32_t xa = std::max(bound.left, ClampToInt(std::ceil(cross[i].first - 0.5)));
      const std::int32_t xb = std::min(bound.right, ClampToInt(std::ceil(cross[i + 1].first - 0.5)));
      if (xa < xb) span(y, xa, xb);
      if (c.Exhausted()) return;
    }
  }
}

// A round join or end: at most 64 sides, whatever the radius.
Figure Circle(PointD centre, double r) {
  const int sides = std::isfinite(r) ? static_cast<int>(std::clamp(r, 4.0, 64.0)) : 4;
  Figure f;
  for (int i = 0; i < sides; ++i) {
    const double t = 2 * std::numbers::pi * i / sides;
    f.push_back({centre.x + r * std::cos(t), centre.y - r * std::sin(t)});
  }
  return f;
}

// Makes every figure turn the same way, so that WINDING fills their union.
void Orient(Figure& f) {
  double area = 0;
  for (std::size_t i = 0; i < f.size(); ++i) {
    const PointD a = f[i], b = f[(i + 1) % f.size()];
    area += a.x * b.y - b.x * a.y;
  }
  if (area < 0) std::reverse(f.begin(), f.end());
}

}  // namespace

Region Combine(const Region& a, const Region& b, RegionOp op, std::uint64_t* work) {
  if (op == RegionOp::kCopy) return b;
  std::vector<std::int32_t> ys;
  for (const Region* r : {&a, &b})
    for (const IRect& q : *r)
      if (!q.Empty()) ys.push_back(q.top), ys.push_back(q.bottom);
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  if (work) *work += std::uint64_t(ys.size()) * (a.size() + b.size() + 1);
  Region out;
  std::vector<std::pair<std::int32_t, std::int32_t>> previous, current;
  std::vector<std::pair<std::int32_t, int>> edges;  // x, +-1 for a, +-2 for b
  std::size_t previousStart = 0;
  for (std::size_t i = 0; i + 1 < ys.size(); ++i) {
    const std::int32_t top = ys[i], bottom = ys[i + 1];
    // The band's spans of both regions as entering and leaving edges.
    edges.clear();
    for (int which = 0; which < 2; ++which)
      for (const IRect& q : which ? b : a)
        if (q.top <= top && q.bottom >= bottom && q.left < q.right)
          edges.push_back({q.left, which ? 2 : 1}), edges.push_back({q.right, which ? -2 : -1});
    std::sort(edges.begin(), edges.end());
    current.clear();
    int inA = 0, inB = 0;
    for (std::size_t j = 0; j < edges.size(); ++j) {
      const int e = edges[j].second;
      (e == 1 || e == -1 ? inA : inB) += e > 0 ? 1 : -1;
      if (j + 1 == edges.size() || edges[j + 1].first == edges[j].first) continue;
      const bool ia = inA > 0, ib = inB > 0;
      const bool keep = op == RegionOp::kAnd ? ia && ib
                        : op == RegionOp::kOr ? ia || ib
                        : op == RegionOp::kXor ? ia != ib
                                               : ia && !ib;
      if (!keep) continue;
      const std::int32_t l = edges[j].first, r = edges[j + 1].first;
      if (!current.empty() && current.back().second == l) current.back().second = r;
      else current.push_back({l, r});
    }
    // A band equal to the one right above it extends that band's rectangles.
    if (!current.empty() && current == previous && !out.empty() && out[previousStart].bottom == top) {
      for (std::size_t k = previousStart; k < out.size(); ++k) out[k].bottom = bottom;
      continue;
    }
    previousStart = out.size();
    for (auto [l, r] : current) {
      if (out.size() >= kMaxClipRects) return out;
      out.push_back({l, top, r, bottom});
    }
    previous = current;
  }
  return out;
}

IRect BoundsOf(const Region& r) {
  if (r.empty()) return {};
  IRect b = r.front();
  for (const IRect& q : r)
    b = {std::min(b.left, q.left), std::min(b.top, q.top), std::max(b.right, q.right), std::max(b.bottom, q.bottom)};
  return b;
}

bool Paint::At(std::int32_t x, std::int32_t y, std::uint32_t* c) const {
  switch (kind) {
    case Kind::kNone: return false;
    case Kind::kSolid: *c = colour; return true;
    case Kind::kHatch: {
      const bool on = (kHatches[std::clamp(hatch, 0, 5)][Mod(y, 8)] >> (7 - Mod(x, 8))) & 1;
      if (!on && !opaqueBackground) return false;
      *c = on ? colour : background;
      return true;
    }
    case Kind::kPattern: {
      if (!pattern || pattern->width < 1 || pattern->height < 1) return false;
      const std::uint8_t* p = pattern->Row(Mod(y, pattern->height)) + std::size_t(Mod(x, pattern->width)) * 4;
      *c = p[2] | std::uint32_t(p[1]) << 8 | std::uint32_t(p[0]) << 16;
      return true;
    }
  }
  return false;
}

std::uint32_t Rop2(int rop2, std::uint32_t p, std::uint32_t d) {
  // R2_BLACK (1) .. R2_WHITE (16): code - 1 is the truth table, bit
  // (pen << 1 | destination).
  const unsigned t = unsigned(std::clamp(rop2, 1, 16) - 1);
  std::uint32_t r = 0;
  if (t & 1) r |= ~p & ~d;
  if (t & 2) r |= ~p & d;
  if (t & 4) r |= p & ~d;
  if (t & 8) r |= p & d;
  return r & 0xFFFFFF;
}

std::uint32_t Rop3(std::uint32_t rop3, std::uint32_t p, std::uint32_t s, std::uint32_t d) {
  // Bit (pattern << 2 | source << 1 | destination) of the operation index.
  std::uint32_t r = 0;
  for (unsigned i = 0; i < 8; ++i) {
    if (!((rop3 >> i) & 1)) continue;
    r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  }
  return r & 0xFFFFFF;
}

Canvas::Canvas(const Surface& s, IRect bound, std::uint64_t budget) : s_(s), bound_(bound), budget_(budget) {
  if (!bound.Empty()) own_.push_back(bound);
}

std::uint32_t Canvas::Get(std::int32_t x, std::int32_t y) const {
  const std::uint8_t* row = s_.Row(y);
  if (s_.bitsPerPixel == 1) return (row[x >> 3] >> (7 - (x & 7))) & 1 ? 0xFFFFFF : 0;
  const std::uint8_t* p = row + std::size_t(x) * 4;
  return p[2] | std::uint32_t(p[1]) << 8 | std::uint32_t(p[0]) << 16;
}

void Canvas::Set(std::int32_t x, std::int32_t y, std::uint32_t c) {
  std::uint8_t* row = s_.Row(y);
  const unsigned r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
  if (s_.bitsPerPixel == 1) {
    const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
    if (IsNearerWhite(b, g, r)) row[x >> 3] |= bit;
    else row[x >> 3] &= static_cast<std::uint8_t>(~bit);
    return;
  }
  std::uint8_t* p = row + std::size_t(x) * 4;
  p[0] = std::uint8_t(b), p[1] = std::uint8_t(g), p[2] = std::uint8_t(r), p[3] = 0;
}

bool Canvas::Clipped(std::int32_t x, std::int32_t y) const {
  for (const IRect& r : *clip)
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return false;
  return true;
}

bool Canvas::Spend(std::uint64_t n) {
  if (exhausted_) return false;
  work_ += n;
  if (work_ > budget_) exhausted_ = true;
  return !exhausted_;
}

void Canvas::FillSpan(std::int32_t y, std::int32_t x0, std::int32_t x1, const Paint& p, int rop2) {
  if (!Spend(clip->size())) return;
  for (const IRect& r : *clip) {
    if (y < r.top || y >= r.bottom) continue;
    const std::int32_t a = std::max(x0, r.left), b = std::min(x1, r.right);
    if (a >= b || !Spend(std::uint64_t(b - a))) continue;
    for (std::int32_t x = a; x < b; ++x) {
      std::uint32_t c;
      if (!p.At(x, y, &c)) continue;
      Set(x, y, rop2 == 13 ? c : Rop2(rop2, c, Get(x, y)));
    }
  }
}

void Canvas::Plot(std::int32_t x, std::int32_t y, std::uint32_t colour, int rop2) {
  if (!Spend(clip->size()) || Clipped(x, y)) return;
  Set(x, y, rop2 == 13 ? colour : Rop2(rop2, colour, Get(x, y)));
}

void FillFigures(Canvas& c, const std::vector<Figure>& figures, bool winding, const Paint& paint, int rop2) {
  if (paint.kind == Paint::Kind::kNone) return;
  Scan(c, figures, winding, [&](std::int32_t y, std::int32_t x0, std::int32_t x1) { c.FillSpan(y, x0, x1, paint, rop2); });
}

Region RegionOfFigures(Canvas& c, const std::vector<Figure>& figures, bool winding) {
  Region rows;
  Scan(c, figures, winding, [&](std::int32_t y, std::int32_t x0, std::int32_t x1) {
    if (rows.size() < kMaxClipRects) rows.push_back({x0, y, x1, y + 1});
  });
  std::uint64_t work = 0;
  Region merged = Combine({}, rows, RegionOp::kOr, &work);  // merges the rows into bands
  c.Spend(work);
  return merged;
}

void DrawLine(Canvas& c, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, const LinePen& pen,
              int rop2, std::int64_t& phase) {
  const std::int64_t dx = x1 - x0, dy = y1 - y0;
  const std::int64_t major = std::max(std::llabs(dx), std::llabs(dy));
  if (major == 0) return;
  const bool alongX = std::llabs(dx) >= std::llabs(dy);
  // Only the steps whose major coordinate lies on the canvas are visited.
  const IRect& b = c.Bound();
  const std::int64_t start = alongX ? x0 : y0, step = (alongX ? dx : dy) > 0 ? 1 : -1;
  const std::int64_t lo = alongX ? b.left : b.top, hi = alongX ? b.right : b.bottom;
  std::int64_t i0 = 0, i1 = major;  // steps [i0, i1)
  if (step > 0) i0 = std::max<std::int64_t>(i0, lo - start), i1 = std::min<std::int64_t>(i1, hi - start);
  else i0 = std::max<std::int64_t>(i0, start - (hi - 1)), i1 = std::min<std::int64_t>(i1, start - lo + 1);
  std::int64_t total = 0;
  for (int d : pen.dashes) total += d;
  const double minorStep = double(alongX ? dy : dx) / double(major);
  const std::int64_t minorStart = alongX ? y0 : x0;
  if (i1 > i0 && !c.Spend(std::uint64_t(i1 - i0))) return;
  for (std::int64_t i = std::max<std::int64_t>(i0, 0); i < i1; ++i) {
    const std::int64_t m = start + i * step;
    const auto n = static_cast<std::int64_t>(std::floor(double(minorStart) + double(i) * minorStep + 0.5));
    const std::int64_t x = alongX ? m : n, y = alongX ? n : m;
    if (x < b.left || x >= b.right || y < b.top || y >= b.bottom) continue;
    std::uint32_t colour = pen.colour;
    if (total > 0) {
      std::int64_t at = (phase + i) % total;
      bool on = true;
      for (int d : pen.dashes) {
        if (at < d) break;
        at -= d;
        on = !on;
      }
      if (!on && !pen.opaqueGaps) continue;
      if (!on) colour = pen.background;
    }
    c.Plot(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), colour, rop2);
  }
  phase += major;
}

std::vector<Figure> WidePolyline(const Figure& points, bool closed, double width) {
  std::vector<Figure> out;
  const double half = width / 2;
  auto centre = [](PointD p) { return PointD{p.x + 0.5, p.y + 0.5}; };
  const std::size_t n = points.size();
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(Circle(centre(points[i]), half));
    if (i + 1 == n && !closed) break;
    const PointD a = centre(points[i]), b = centre(points[(i + 1) % n]);
    const double dx = b.x - a.x, dy = b.y - a.y, len = std::hypot(dx, dy);
    if (len == 0) continue;
    const double nx = -dy / len * half, ny = dx / len * half;
    out.push_back({{a.x + nx, a.y + ny}, {b.x + nx, b.y + ny}, {b.x - nx, b.y - ny}, {a.x - nx, a.y - ny}});
  }
  for (Figure& f : out) Orient(f);
  return out;
}

Figure EllipseArc(double cx, double cy, double rx, double ry, double a0, double sweep) {
  const double extent = std::max(std::fabs(rx), std::fabs(ry)) * std::fabs(sweep);
  const int segments = std::isfinite(extent) ? static_cast<int>(std::clamp(extent / 2, 4.0, 1024.0)) : 4;
  Figure f;
  f.reserve(std::size_t(segments) + 1);
  for (int i = 0; i <= segments; ++i) {
    const double t = a0 + sweep * i / segments;
    f.push_back({cx + rx * std::cos(t), cy - ry * std::sin(t)});
  }
  return f;
}

void FlattenBezier(PointD p0, PointD p1, PointD p2, PointD p3, Figure& out) {
  const double length = std::hypot(p1.x - p0.x, p1.y - p0.y) + std::hypot(p2.x - p1.x, p2.y - p1.y) +
                        std::hypot(p3.x - p2.x, p3.y - p2.y);
  const int segments = std::isfinite(length) ? static_cast<int>(std::clamp(length / 4, 1.0, 256.0)) : 1;
  for (int i = 1; i <= segments; ++i) {
    const double t = double(i) / segments, u = 1 - t;
    const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    out.push_back({a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
  }
}

}  // namespace graphics::metafile
