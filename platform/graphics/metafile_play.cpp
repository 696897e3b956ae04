// The GDI record player: a device context's state, its objects and the
// drawing records of WMF and EMF, drawn by the rasteriser (metafile_raster.h)
// and, for text, by DrawText (metafile_text.h).
//
// Mapping. An EMF's records are in logical units; the world transform
// (EMF only) and the page transform (mapping mode MM_TEXT .. MM_ANISOTROPIC,
// window and viewport origins and extents; the fixed modes through the
// reference device's pixels per millimetre) take them to reference device
// pixels, and the frame (rclFrame, in those pixels) is mapped onto the target
// rectangle. A placeable WMF's window (its bounding box until a record sets
// another window origin or extent) is mapped onto the target rectangle, as
// GDI+ plays a WMF in MM_ANISOTROPIC with the viewport on the destination;
// the WMF's own mapping-mode and viewport records are therefore ignored.
// Device coordinates are rounded to whole pixels before anything is drawn,
// as GDI draws in whole device pixels.
//
// Covered records. Both formats: state (background mode and colour, text
// colour and alignment, ROP2, polygon fill mode, mapping mode, window and
// viewport origin and extent with their offset and scale forms, SaveDC,
// RestoreDC), objects (pens, brushes, fonts, regions, palettes as
// placeholders, select, delete, EMF stock objects), MoveTo, LineTo,
// polylines, polygons, poly-polygons, rectangles, rounded rectangles,
// ellipses, arcs, chords, pies, SetPixel, clipping (intersect and exclude
// rectangles, clip regions, offset), text (DrawText), PatBlt and blits of
// DIBs with ternary raster operations. EMF besides: world transforms,
// Bézier curves, the *16 forms, PolylineTo, ArcTo, AngleArc, arc direction,
// paths (begin, end, close figure, fill, stroke, stroke and fill, select as
// clip, widen, abort), FillRgn and PaintRgn, InvertRgn, StretchDIBits,
// SetDIBitsToDevice, BitBlt and StretchBlt with a source bitmap, DIB pattern
// and mono brushes, SmallTextOut. Every other record is skipped, as GDI
// skips a record it does not know; comments (EMF+ records among them) are
// skipped whole.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>
#include <string>

#include "host/little_endian.h"
#include "platform/codepage.h"
#include "platform/graphics/dib.h"
#include "platform/graphics/metafile.h"
#include "platform/graphics/metafile_raster.h"
#include "platform/graphics/metafile_text.h"

namespace graphics::metafile {
namespace {

using host::Le16;
using host::Le32;
// Signed fields, as both formats store most coordinates.
constexpr auto S16 = host::LeSigned16;
constexpr auto S32 = host::LeSigned32;
using Span = std::span<const std::uint8_t>;

constexpr double kPi = std::numbers::pi;

// x' = a x + c y + e, y' = b x + d y + f.
struct Affine {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
  PointD Apply(PointD p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
  // This transform, then `n`.
  Affine Then(const Affine& n) const {
    return {n.a * a + n.c * b, n.b * a + n.d * b, n.a * c + n.c * d, n.b * c + n.d * d, n.a * e + n.c * f + n.e,
            n.b * e + n.d * f + n.f};
  }
  bool AxisAligned() const { return b == 0 && c == 0; }
  double ScaleX() const { return std::hypot(a, b); }
  double ScaleY() const { return std::hypot(c, d); }
};

struct Pen {
  int style = 0;        // PS_SOLID .. PS_ALTERNATE (the low 4 bits)
  double width = 0;     // logical units; cosmetic pens are 1 pixel
  bool cosmetic = true;
  std::uint32_t colour = 0;
};
constexpr int kPsNull = 5, kPsInsideFrame = 6;

struct Brush {
  Paint::Kind kind = Paint::Kind::kSolid;
  std::uint32_t colour = 0xFFFFFF;
  int hatch = 0;
  std::shared_ptr<const Picture> pattern;
};

struct Object {
  enum class Kind { kPen, kBrush, kFont, kRegion, kOther } kind = Kind::kOther;
  Pen pen;
  Brush brush;
  TextFont font;
  Region region;  // device pixels of the target
};

struct State {
  Pen pen;
  Brush brush;
  TextFont font;
  std::uint32_t textColour = 0, bkColour = 0xFFFFFF, textAlign = 0;
  bool bkOpaque = true, winding = false, clockwise = false;
  int rop2 = 13, mapMode = 1;
  PointD winOrg, winExt{1, 1}, vpOrg, vpExt{1, 1};
  Affine world;
  Region clip;
  PointD position;  // logical
};

std::uint32_t Colour(std::uint32_t colorref) {
  // PALETTEINDEX values (high byte 1) name entries of a palette that is not kept: black.
  return (colorref >> 24) == 1 ? 0 : colorref & 0xFFFFFF;
}

Dashes DashesOf(int style) {
  switch (style) {
    case 1: return {18, 6};              // PS_DASH
    case 2: return {3, 3};               // PS_DOT
    case 3: return {9, 6, 3, 6};         // PS_DASHDOT
    case 4: return {9, 3, 3, 3, 3, 3};   // PS_DASHDOTDOT
    case 8: return {1, 1};               // PS_ALTERNATE
    default: return {};
  }
}

std::u16string AnsiText(std::string_view bytes, std::uint8_t charSet) {
  // DEFAULT_CHARSET (1) is the system's ANSI code page, 936 here, as is
  // GB2312_CHARSET (134); SYMBOL_CHARSET (2) maps byte b to U+F000 + b as
  // Windows maps symbol fonts; other charsets are read as Latin-1.
  if (charSet == 134 || charSet == 1) return platform::AnsiToUtf16(bytes);
  std::u16string out;
  for (unsigned char ch : bytes) out.push_back(static_cast<char16_t>(charSet == 2 ? 0xF000 + ch : ch));
  return out;
}

class Player {
 public:
  Player(const Metafile& m, Canvas& canvas, Affine base, double w, double h) : m_(m), c_(canvas), base_(base) {
    s_.clip = *c_.clip;
    c_.clip = &s_.clip;
    const Header& hd = m.header;
    wmf_ = hd.kind != Kind::kEmf;
    if (wmf_) {
      s_.mapMode = 8;
      s_.winOrg = {double(hd.boxLeft), double(hd.boxTop)};
      s_.winExt = {double(hd.boxRight - hd.boxLeft), double(hd.boxBottom - hd.boxTop)};
      s_.vpExt = {w, h};
      objects_.resize(hd.wmfObjects);
    } else {
      objects_.resize(hd.emfHandles);
    }
  }

  void Run() {
    Records walk(m_);
    Record r;
    while (!c_.Exhausted() && walk.Next(r)) {
      if (!c_.Spend(1)) break;
      if (wmf_) Wmf(r);
      else Emf(r);
    }
  }

 private:
  // --- Coordinates --------------------------------------------------------

  Affine Page() const {
    double sx = 1, sy = 1;
    const double mmX = wmf_ ? 1 : m_.header.pixelsPerMmX, mmY = wmf_ ? 1 : m_.header.pixelsPerMmY;
    switch (s_.mapMode) {
      case 2: sx = 0.1 * mmX, sy = -0.1 * mmY; break;              // MM_LOMETRIC
      case 3: sx = 0.01 * mmX, sy = -0.01 * mmY; break;            // MM_HIMETRIC
      case 4: sx = 0.254 * mmX, sy = -0.254 * mmY; break;          // MM_LOENGLISH
      case 5: sx = 0.0254 * mmX, sy = -0.0254 * mmY; break;        // MM_HIENGLISH
      case 6: sx = 25.4 / 1440 * mmX, sy = -25.4 / 1440 * mmY; break;  // MM_TWIPS
      case 7:
      case 8:
        sx = s_.vpExt.x / s_.winExt.x, sy = s_.vpExt.y / s_.winExt.y;
        if (s_.mapMode == 7) {  // MM_ISOTROPIC: the smaller scale on both axes
          const double k = std::min(std::fabs(sx), std::fabs(sy));
          sx = std::copysign(k, sx), sy = std::copysign(k, sy);
        }
        break;
      default: break;  // MM_TEXT
    }
    return {sx, 0, 0, sy, s_.vpOrg.x - s_.winOrg.x * sx, s_.vpOrg.y - s_.winOrg.y * sy};
  }
  Affine Full() const { return s_.world.Then(Page()).Then(base_); }
  PointD Dev(PointD p) const { return Full().Apply(p); }
  // Whole device pixels within +-1e9 (a NaN from overflowing transforms: 0).
  static double Whole(double v) { return std::isnan(v) ? 0 : std::floor(std::clamp(v, -1e9, 1e9) + 0.5); }
  static PointD Round(PointD p) { return {Whole(p.x), Whole(p.y)}; }
  static std::int32_t Int(double v) { return static_cast<std::int32_t>(Whole(v)); }
  PointD DevRound(PointD p) const { return Round(Dev(p)); }

  // --- Drawing ------------------------------------------------------------

  Paint BrushPaint(const Brush& b) const {
    Paint p;
    p.kind = b.kind, p.colour = b.colour, p.hatch = b.hatch, p.pattern = b.pattern;
    p.opaqueBackground = s_.bkOpaque, p.background = s_.bkColour;
    return p;
  }
  double PenPixels() const {
    if (s_.pen.cosmetic || s_.pen.width <= 1) return 1;
    const Affine f = Full();
    return std::max(1.0, Whole(s_.pen.width * std::sqrt(std::fabs(f.a * f.d - f.b * f.c))));
  }

  void Stroke(const Figure& device, bool closed) {
    if (s_.pen.style == kPsNull || device.size() < 2) return;
    Figure pts(device.size());
    std::transform(device.begin(), device.end(), pts.begin(), Round);
    const double width = PenPixels();
    if (width <= 1) {
      LinePen pen{s_.pen.colour, DashesOf(s_.pen.style), s_.bkOpaque, s_.bkColour};
      std::int64_t phase = 0;
      const std::size_t n = pts.size(), segments = closed ? n : n - 1;
      for (std::size_t i = 0; i < segments && !c_.Exhausted(); ++i) {
        const PointD a = pts[i], b = pts[(i + 1) % n];
        DrawLine(c_, std::int64_t(a.x), std::int64_t(a.y), std::int64_t(b.x), std::int64_t(b.y), pen, s_.rop2, phase);
      }
      return;
    }
    Paint solid;
    solid.colour = s_.pen.colour;
    FillFigures(c_, WidePolyline(pts, closed, width), true, solid, s_.rop2);
  }

  void Fill(const std::vector<Figure>& device) {
    if (s_.brush.kind == Paint::Kind::kNone) return;
    std::vector<Figure> rounded = device;
    for (Figure& f : rounded) std::transform(f.begin(), f.end(), f.begin(), Round);
    FillFigures(c_, rounded, s_.winding, BrushPaint(s_.brush), s_.rop2);
  }

  // A shape in device coordinates: into the path while one is open, else
  // filled (closed shapes) and stroked.
  void Shape(std::vector<Figure> device, bool closed, bool fill) {
    if (inPath_) {
      for (Figure& f : device)
        if (PathRoom(f.size())) path_.push_back({std::move(f), closed});
      figureOpen_ = false;
      return;
    }
    if (fill) Fill(device);
    for (const Figure& f : device) Stroke(f, closed);
  }

  Figure DevFigure(const std::vector<PointD>& logical) const {
    Figure f;
    f.reserve(logical.size());
    for (PointD p : logical) f.push_back(Dev(p));
    return f;
  }

  enum class BoxShape { kRect, kEllipse, kRoundRect, kArc, kChord, kPie };

  // Rectangles, ellipses and their parts by bounding box. With an
  // axis-aligned transform the box goes to whole device pixels first and the
  // shape is built there, right and bottom edges excluded (the outline runs
  // on the last pixels inside the box); otherwise it is built in logical
  // units and each point transformed.
  // `to` (ArcTo): the arc continues the current figure from the current
  // position, which moves to the end radial's point.
  void Box(BoxShape kind, double l, double t, double r, double b, PointD start = {}, PointD end = {},
           PointD corner = {}, bool to = false) {
    const Affine full = Full();
    const PointD endLogical = end;
    const bool aligned = full.AxisAligned();
    if (aligned) {
      const PointD p0 = Round(full.Apply({l, t})), p1 = Round(full.Apply({r, b}));
      l = std::min(p0.x, p1.x), r = std::max(p0.x, p1.x) - 1;
      t = std::min(p0.y, p1.y), b = std::max(p0.y, p1.y) - 1;
      start = full.Apply(start), end = full.Apply(end);
      corner = {corner.x * full.ScaleX(), corner.y * full.ScaleY()};
      if (r < l || b < t) return;
    } else {
      if (l > r) std::swap(l, r);
      if (t > b) std::swap(t, b);
    }
    if (s_.pen.style == kPsInsideFrame && PenPixels() > 1 && aligned) {
      const double inset = std::floor(PenPixels() / 2);
      l += inset, t += inset, r -= inset, b -= inset;
    }
    const double cx = (l + r) / 2, cy = (t + b) / 2, rx = (r - l) / 2, ry = (b - t) / 2;
    Figure f;
    bool closed = true, fill = true;
    switch (kind) {
      case BoxShape::kRect: f = {{l, t}, {r, t}, {r, b}, {l, b}}; break;
      case BoxShape::kEllipse: f = EllipseArc(cx, cy, rx, ry, 0, 2 * kPi); f.pop_back(); break;
      case BoxShape::kRoundRect: {
        const double w = std::min(std::fabs(corner.x) / 2, rx), h = std::min(std::fabs(corner.y) / 2, ry);
        const PointD centres[4] = {{r - w, t + h}, {l + w, t + h}, {l + w, b - h}, {r - w, b - h}};
        for (int q = 0; q < 4; ++q) {
          const Figure arc = EllipseArc(centres[q].x, centres[q].y, w, h, q * kPi / 2, kPi / 2);
          f.insert(f.end(), arc.begin(), arc.end());
        }
        break;
      }
      default: {
        auto angle = [&](PointD p) {
          return std::atan2(-(p.y - cy) / (ry ? ry : 1), (p.x - cx) / (rx ? rx : 1));
        };
        const double a0 = angle(start), a1 = angle(end);
        double sweep = a1 - a0;
        if (s_.clockwise) {
          if (sweep >= 0) sweep -= 2 * kPi;
        } else if (sweep <= 0) {
          sweep += 2 * kPi;
        }
        f = EllipseArc(cx, cy, rx, ry, a0, sweep);
        if (kind == BoxShape::kPie) f.push_back({cx, cy});
        if (kind == BoxShape::kArc) closed = false, fill = false;
      }
    }
    if (!aligned)
      for (PointD& p : f) p = full.Apply(p);
    if (to) {
      f.insert(f.begin(), Dev(s_.position));
      s_.position = endLogical;
      if (inPath_) return AppendToFigure(f);
      Stroke(f, false);
      return;
    }
    Shape({std::move(f)}, closed, fill);
  }

  // --- Paths and the current position -------------------------------------

  struct PathFigure {
    Figure points;
    bool closed;
  };

  // A path holds at most kMaxPathPoints points; figures beyond are dropped.
  static constexpr std::size_t kMaxPathPoints = std::size_t(1) << 22;
  bool PathRoom(std::size_t n) {
    if (n > kMaxPathPoints - pathPoints_) return false;
    pathPoints_ += n;
    return true;
  }
  void AppendToFigure(const Figure& f) {
    if (!PathRoom(f.size())) return;
    if (!figureOpen_) path_.push_back({{f.front()}, false}), figureOpen_ = true;
    path_.back().points.insert(path_.back().points.end(), f.begin() + 1, f.end());
  }

  void MoveTo(PointD p) {
    s_.position = p;
    figureOpen_ = false;
  }
  // Extends the current figure (path) or draws from the current position.
  void LineTo(const std::vector<PointD>& logical) {
    if (logical.empty()) return;
    Figure f = DevFigure(logical);
    f.insert(f.begin(), Dev(s_.position));
    s_.position = logical.back();
    if (inPath_) return AppendToFigure(f);
    Stroke(f, false);
  }

  std::vector<Figure> PathFigures() const {
    std::vector<Figure> out;
    for (const PathFigure& f : path_) out.push_back(f.points);
    return out;
  }
  void EndPathUse() {
    path_.clear();
    pathPoints_ = 0;
    figureOpen_ = false;
  }

  void SetPixel(PointD logical, std::uint32_t colour) {
    const PointD p = DevRound(logical);
    const IRect& b = c_.Bound();
    if (p.x < b.left || p.x >= b.right || p.y < b.top || p.y >= b.bottom) return;
    if (!c_.Clipped(std::int32_t(p.x), std::int32_t(p.y))) c_.Set(std::int32_t(p.x), std::int32_t(p.y), Colour(colour));
  }
  void PaintRegion(const Region& region, const Paint& paint, int rop2) {
    for (const IRect& q : Comb(region, s_.clip, RegionOp::kAnd))
      for (std::int32_t y = q.top; y < q.bottom && !c_.Exhausted(); ++y) c_.FillSpan(y, q.left, q.right, paint, rop2);
  }

  // --- Clipping -----------------------------------------------------------

  // Combine, its steps counted as work.
  Region Comb(const Region& a, const Region& b, RegionOp op) {
    std::uint64_t work = 0;
    Region r = Combine(a, b, op, &work);
    c_.Spend(work);
    return r;
  }

  void ClipTo(Region r, RegionOp op) {
    if (op == RegionOp::kCopy) s_.clip = Comb(r, {c_.Bound()}, RegionOp::kAnd);
    else s_.clip = Comb(Comb(s_.clip, r, op), {c_.Bound()}, RegionOp::kAnd);
  }
  // OffsetClipRgn: the clip moves by a logical offset.
  void OffsetClip(double x, double y) {
    const Affine f = Full();
    const std::int32_t dx = Int(x * f.a), dy = Int(y * f.d);
    Region moved = s_.clip;
    for (IRect& q : moved) q = {q.left + dx, q.top + dy, q.right + dx, q.bottom + dy};
    ClipTo(moved, RegionOp::kCopy);
  }
  IRect DevRect(double l, double t, double r, double b, const Affine& a) const {
    const PointD p0 = Round(a.Apply({l, t})), p1 = Round(a.Apply({r, b}));
    return {std::int32_t(std::min(p0.x, p1.x)), std::int32_t(std::min(p0.y, p1.y)), std::int32_t(std::max(p0.x, p1.x)),
            std::int32_t(std::max(p0.y, p1.y))};
  }
  void ClipRect(double l, double t, double r, double b, bool exclude) {
    ClipTo({DevRect(l, t, r, b, Full())}, exclude ? RegionOp::kDiff : RegionOp::kAnd);
  }
  // RGNDATA (EMF): its rectangles are in reference device pixels.
  std::optional<Region> RegionData(Span d) {
    if (d.size() < 32) return std::nullopt;
    const std::uint32_t count = Le32(&d[8]);
    if (count > (d.size() - 32) / 16) return std::nullopt;
    Region r;
    for (std::uint32_t i = 0; i < count && r.size() < kMaxClipRects; ++i) {
      const std::uint8_t* q = &d[32 + 16 * std::size_t(i)];
      const IRect rect = DevRect(S32(q), S32(q + 4), S32(q + 8), S32(q + 12), base_);
      if (!rect.Empty()) r.push_back(rect);
    }
    return Comb({}, r, RegionOp::kOr);
  }

  // --- Text ---------------------------------------------------------------

  void Text(PointD logical, std::u16string text, const std::vector<std::int32_t>& dxLogical, std::uint32_t options,
            const std::optional<std::array<double, 4>>& rect) {
    constexpr std::uint32_t kOpaque = 2, kClipped = 4;
    const Affine full = Full();
    if (!c_.Spend(s_.clip.size())) return;
    Region textClip = s_.clip;
    if (rect) {
      const IRect box = DevRect((*rect)[0], (*rect)[1], (*rect)[2], (*rect)[3], full);
      if (options & kOpaque) {
        Paint bk;
        bk.colour = s_.bkColour;
        for (std::int32_t y = std::max(box.top, c_.Bound().top); y < std::min(box.bottom, c_.Bound().bottom); ++y)
          c_.FillSpan(y, box.left, box.right, bk, 13);
      }
      if (options & kClipped) textClip = Comb(textClip, {box}, RegionOp::kAnd);
    }
    const bool updateCp = s_.textAlign & 1;
    if (updateCp) logical = s_.position;
    TextRun run;
    run.text = std::move(text);
    const PointD at = Round(full.Apply(logical));
    run.x = at.x, run.y = at.y;
    run.align = s_.textAlign & ~1u;
    run.colour = s_.textColour, run.opaque = s_.bkOpaque, run.background = s_.bkColour;
    for (std::int32_t dx : dxLogical) run.dx.push_back(Int(dx * full.ScaleX()));
    TextFont font = s_.font;
    font.height = Int(font.height * full.ScaleY());
    font.width = Int(font.width * full.ScaleX());
    const IRect bounds = BoundsOf(textClip);
    if (!bounds.Empty() && !run.text.empty()) {
      Clip clip{bounds.left, bounds.top, bounds.right, bounds.bottom, nullptr, 0};
      std::vector<std::uint8_t> mask;
      const std::uint64_t area = std::uint64_t(bounds.right - bounds.left) * std::uint64_t(bounds.bottom - bounds.top);
      bool draw = true;
      if (textClip.size() > 1) {
        draw = area <= kMaxPixels && c_.Spend(area);
        if (draw) {
          mask.assign(std::size_t(area), 0);
          const std::size_t stride = std::size_t(bounds.right - bounds.left);
          for (const IRect& q : textClip)
            for (std::int32_t y = q.top; y < q.bottom; ++y)
              std::memset(&mask[std::size_t(y - bounds.top) * stride + std::size_t(q.left - bounds.left)], 1,
                          std::size_t(q.right - q.left));
          clip.mask = mask.data(), clip.maskStride = std::ptrdiff_t(stride);
        }
      }
      if (draw && c_.Spend(run.text.size() * 64)) {
        const double advance = DrawText(c_.Target(), clip, font, run);
        if (updateCp && full.a != 0) s_.position.x += advance / full.a;
      }
    }
  }

  // ANSI advances come one per byte: a double-byte character (code page
  // 936) advances by the sum of its two. Empty when they do not fit the text.
  std::vector<std::int32_t> PerCharacter(std::string_view bytes, const std::vector<std::int32_t>& dx,
                                         std::size_t units) const {
    if (dx.size() != bytes.size()) return {};
    if (dx.size() == units) return dx;
    const bool dbcs = s_.font.charSet == 134 || s_.font.charSet == 1;
    std::vector<std::int32_t> merged;
    for (std::size_t k = 0; k < bytes.size(); ++k) {
      const bool lead = dbcs && static_cast<unsigned char>(bytes[k]) >= 0x81 && k + 1 < bytes.size();
      merged.push_back(dx[k] + (lead ? dx[k + 1] : 0));
      k += lead ? 1 : 0;
    }
    return merged.size() == units ? merged : std::vector<std::int32_t>{};
  }

  // --- Blits --------------------------------------------------------------

  struct Source {
    Picture picture;
    bool dibOrigin = false;  // y counted from the bottom for a bottom-up DIB
    bool bottomUp = false;
  };

  // Pattern brushes keep their pictures: kMaxPixels pixels in all.
  bool PatternRoom(const Source& s) {
    const std::uint64_t n = std::uint64_t(s.picture.width) * std::uint64_t(s.picture.height);
    if (n > kMaxPixels - patternPixels_) return false;
    patternPixels_ += n;
    return true;
  }

  // A DIB inside a record: header at `bmi`, rows at `bits` (both within `rec`).
  std::optional<Source> ReadDib(Span rec, std::size_t bmi, std::size_t bits, std::uint32_t usage) {
    if (usage != 0 || bmi >= rec.size()) return std::nullopt;  // DIB_PAL_COLORS needs a palette: not drawn
    dib::Layout l;
    if (dib::ReadLayout(rec, bmi, l) != Gdiplus::Ok) return std::nullopt;
    if (l.compression != dib::kRgb && l.compression != dib::kBitfields && l.compression != dib::kAlphaBitfields)
      return std::nullopt;
    if (bits == SIZE_MAX) bits = l.tableEnd;
    l.pixelOffset = bits;
    // The rows must be in the record before anything is allocated for them.
    if (bits > rec.size() || dib::Stride(l.width, l.bpp) > (rec.size() - bits) / std::uint64_t(l.height))
      return std::nullopt;
    Source s;
    if (!c_.Spend(std::uint64_t(l.width) * std::uint64_t(l.height))) return std::nullopt;
    if (AllocatePicture(s.picture, l.width, l.height, l.alpha.mask != 0) != Gdiplus::Ok) return std::nullopt;
    if (dib::DecodeRows(rec, l, s.picture) != Gdiplus::Ok) return std::nullopt;
    s.bottomUp = !l.topDown;
    return s;
  }

  // Draws the logical rectangle (x, y, w, h) with ternary operation `rop`
  // from the source's rectangle (sx, sy, sw, sh), nearest pixel.
  void Blt(double x, double y, double w, double h, const Source* src, double sx, double sy, double sw, double sh,
           std::uint32_t rop) {
    const std::uint32_t rop3 = (rop >> 16) & 0xFF;
    const Affine full = Full();
    const PointD p0 = Round(full.Apply({x, y})), p1 = Round(full.Apply({x + w, y + h}));
    const bool flipX = p1.x < p0.x, flipY = p1.y < p0.y;
    const double L = std::min(p0.x, p1.x), R = std::max(p0.x, p1.x), T = std::min(p0.y, p1.y), B = std::max(p0.y, p1.y);
    const IRect& bound = c_.Bound();
    const std::int32_t x0 = std::max<std::int32_t>(bound.left, std::int32_t(L)), x1 = std::min<std::int32_t>(bound.right, std::int32_t(R));
    const std::int32_t y0 = std::max<std::int32_t>(bound.top, std::int32_t(T)), y1 = std::min<std::int32_t>(bound.bottom, std::int32_t(B));
    if (x0 >= x1 || y0 >= y1) return;
    if (!c_.Spend(std::uint64_t(x1 - x0) * std::uint64_t(y1 - y0) * c_.clip->size())) return;
    const Paint pattern = BrushPaint(s_.brush);
    // The source rectangle's top row in the picture (rows top-down): a
    // bottom-up DIB counts the rectangle's y from its bottom row.
    const double ah = std::fabs(sh), aw = std::fabs(sw), low = sy + std::min(sh, 0.0);
    const double top = src && src->dibOrigin && src->bottomUp ? src->picture.height - low - ah : low;
    const double left = sx + std::min(sw, 0.0);
    for (std::int32_t dy = y0; dy < y1; ++dy) {
      double fy = (dy + 0.5 - T) / (B - T);
      if (flipY != (sh < 0)) fy = 1 - fy;
      std::int64_t row = 0;
      if (src) {
        row = static_cast<std::int64_t>(top + std::floor(fy * ah));
        if (row < 0 || row >= src->picture.height) continue;
      }
      for (std::int32_t dx = x0; dx < x1; ++dx) {
        if (c_.Clipped(dx, dy)) continue;
        std::uint32_t s = 0, p = 0;
        if (src) {
          double fx = (dx + 0.5 - L) / (R - L);
          if (flipX != (sw < 0)) fx = 1 - fx;
          const double u = left + std::floor(fx * aw);
          if (u < 0 || u >= src->picture.width) continue;
          const std::uint8_t* q = src->picture.Row(std::int32_t(row)) + std::size_t(u) * 4;
          s = q[2] | std::uint32_t(q[1]) << 8 | std::uint32_t(q[0]) << 16;
        }
        if (!pattern.At(dx, dy, &p)) p = 0;
        c_.Set(dx, dy, Rop3(rop3, p, s, c_.Get(dx, dy)));
      }
    }
  }

  // --- Objects --------------------------------------------------------------

  Object* Slot(std::uint32_t i) { return i < objects_.size() ? objects_[i].get() : nullptr; }
  void Put(std::uint32_t i, Object o) {
    if (i < objects_.size()) objects_[i] = std::make_unique<Object>(std::move(o));
  }
  // WMF: a new object takes the lowest free index of the table.
  void Add(Object o) {
    for (auto& slot : objects_)
      if (!slot) {
        slot = std::make_unique<Object>(std::move(o));
        return;
      }
  }
  void Select(const Object& o) {
    switch (o.kind) {
      case Object::Kind::kPen: s_.pen = o.pen; break;
      case Object::Kind::kBrush: s_.brush = o.brush; break;
      case Object::Kind::kFont: s_.font = o.font; break;
      case Object::Kind::kRegion: ClipTo(o.region, RegionOp::kCopy); break;
      default: break;
    }
  }
  void SelectStock(std::uint32_t i) {
    const std::uint32_t greys[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
    if (i <= 4) s_.brush = Brush{Paint::Kind::kSolid, greys[i], 0, nullptr};
    else if (i == 5) s_.brush = Brush{Paint::Kind::kNone, 0, 0, nullptr};
    else if (i == 6 || i == 7) s_.pen = Pen{0, 0, true, i == 6 ? 0xFFFFFFu : 0u};
    else if (i == 8) s_.pen = Pen{kPsNull, 0, true, 0};
    else if (i == 18) s_.brush = Brush{Paint::Kind::kSolid, 0xFFFFFF, 0, nullptr};  // DC_BRUSH: white
    else if (i == 19) s_.pen = Pen{0, 0, true, 0};                                  // DC_PEN: black
    else if (i >= 10 && i <= 17 && i != 15) s_.font = TextFont{};                   // stock fonts
  }
  static Brush MakeBrush(std::uint32_t style, std::uint32_t colour, std::uint32_t hatch) {
    Brush b;
    b.colour = Colour(colour);
    b.hatch = int(hatch);
    b.kind = style == 1 ? Paint::Kind::kNone : style == 2 ? Paint::Kind::kHatch : Paint::Kind::kSolid;
    return b;
  }

  // --- State ----------------------------------------------------------------

  void SaveDc() {
    if (!c_.Spend(s_.clip.size())) return;
    if (saved_.size() < std::size_t(kMaxSavedStates)) saved_.push_back(s_);
    else ++ignoredSaves_;
  }
  void RestoreDc(std::int32_t n) {
    if (!c_.Spend(s_.clip.size())) return;
    // Negative: relative to the latest save (-1: the latest); positive: the
    // n-th save counting from 1.
    std::int64_t index = n < 0 ? std::int64_t(saved_.size()) + n : std::int64_t(n) - 1;
    if (n < 0 && ignoredSaves_ > 0) {
      const std::int64_t drop = std::min<std::int64_t>(ignoredSaves_, -std::int64_t(n));
      ignoredSaves_ -= drop;
      index += drop;
      if (index >= std::int64_t(saved_.size())) return;
    }
    if (n == 0 || index < 0 || index >= std::int64_t(saved_.size())) return;
    s_ = saved_[std::size_t(index)];
    saved_.resize(std::size_t(index));
  }
  void SetMapMode(std::uint32_t mode) {
    if (mode < 1 || mode > 8) return;
    if (mode != 7 && mode != 8) s_.winExt = {1, 1}, s_.vpExt = {1, 1};
    s_.mapMode = int(mode);
  }
  static void SetExt(PointD& ext, double x, double y) {
    if (x != 0 && y != 0) ext = {x, y};
  }
  static void ScaleExt(PointD& ext, double xn, double xd, double yn, double yd) {
    if (xd != 0 && yd != 0 && xn != 0 && yn != 0) ext = {ext.x * xn / xd, ext.y * yn / yd};
  }

  // --- EMF ------------------------------------------------------------------

  static float F32(const std::uint8_t* p) {
    const std::uint32_t v = Le32(p);
    float f;
    std::memcpy(&f, &v, 4);
    return std::isfinite(f) ? f : 0.0f;
  }

  // `count` points of `size` bytes (8: 32-bit, 4: 16-bit) at `at`.
  static std::optional<std::vector<PointD>> Points(Span d, std::size_t at, std::uint64_t count, int size) {
    if (at > d.size() || count > (d.size() - at) / std::size_t(size)) return std::nullopt;
    std::vector<PointD> pts(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < pts.size(); ++i) {
      const std::uint8_t* p = &d[at + i * std::size_t(size)];
      pts[i] = size == 8 ? PointD{double(S32(p)), double(S32(p + 4))} : PointD{double(S16(p)), double(S16(p + 2))};
    }
    return pts;
  }

  void EmfPoly(std::uint32_t type, Span d, int size) {
    // EMR_POLYBEZIER .. EMR_POLYLINETO and their *16 forms: bounds, count, points.
    if (d.size() < 20) return;
    const auto pts = Points(d, 20, Le32(&d[16]), size);
    if (!pts || pts->empty()) return;
    const std::uint32_t base = type >= 85 ? type - 83 : type;  // *16 records follow 2, 3, 4, 5, 6
    switch (base) {
      case 2: case 5: {  // PolyBezier, PolyBezierTo: from the first point or the current position
        std::size_t i = base == 2 ? 1 : 0;
        PointD previous = base == 2 ? (*pts)[0] : s_.position;
        Figure f{Dev(previous)};
        for (; i + 3 <= pts->size(); i += 3) {
          if (!c_.Spend(256)) return;
          FlattenBezier(Dev(previous), Dev((*pts)[i]), Dev((*pts)[i + 1]), Dev((*pts)[i + 2]), f);
          previous = (*pts)[i + 2];
        }
        if (base == 2) {
          Shape({f}, false, false);
          break;
        }
        s_.position = previous;
        if (inPath_) AppendToFigure(f);
        else Stroke(f, false);
        break;
      }
      case 3: Shape({DevFigure(*pts)}, true, true); break;   // Polygon
      case 4: Shape({DevFigure(*pts)}, false, false); break;  // Polyline
      case 6: LineTo(*pts); break;                            // PolylineTo
    }
  }

  void EmfPolyPoly(Span d, int size, bool polygon) {
    // bounds, nPolys, total points, counts, points.
    if (d.size() < 24) return;
    const std::uint32_t polys = Le32(&d[16]), total = Le32(&d[20]);
    if (polys > (d.size() - 24) / 4) return;
    const auto pts = Points(d, 24 + std::size_t(polys) * 4, total, size);
    if (!pts) return;
    std::vector<Figure> figures;
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < polys; ++i) {
      const std::uint32_t n = Le32(&d[24 + 4 * std::size_t(i)]);
      if (n > pts->size() - at) return;
      figures.push_back(DevFigure({pts->begin() + std::ptrdiff_t(at), pts->begin() + std::ptrdiff_t(at + n)}));
      at += n;
    }
    Shape(std::move(figures), polygon, polygon);
  }

  void EmfText(Span whole, Span d, bool wide) {
    // EMR_EXTTEXTOUTA/W: bounds, graphics mode, scales, then EMRTEXT.
    if (d.size() < 68) return;
    const PointD ref{double(S32(&d[28])), double(S32(&d[32]))};
    const std::uint32_t chars = Le32(&d[36]), offString = Le32(&d[40]), options = Le32(&d[44]);
    const std::uint32_t offDx = Le32(&d[64]);
    const std::uint64_t bytes = std::uint64_t(chars) * (wide ? 2 : 1);
    if (offString > whole.size() || bytes > whole.size() - offString) return;
    std::u16string text;
    if (wide)
      for (std::uint32_t i = 0; i < chars; ++i) text.push_back(char16_t(Le16(&whole[offString + 2 * std::size_t(i)])));
    else
      text = AnsiText({reinterpret_cast<const char*>(&whole[offString]), chars}, s_.font.charSet);
    std::vector<std::int32_t> dx;
    if (offDx != 0 && offDx <= whole.size() && chars <= (whole.size() - offDx) / 4) {
      for (std::uint32_t i = 0; i < chars; ++i) dx.push_back(S32(&whole[offDx + 4 * std::size_t(i)]));
      if (!wide) dx = PerCharacter({reinterpret_cast<const char*>(&whole[offString]), chars}, dx, text.size());
    }
    std::optional<std::array<double, 4>> rect;
    if (options & 6) rect = std::array<double, 4>{double(S32(&d[48])), double(S32(&d[52])), double(S32(&d[56])), double(S32(&d[60]))};
    Text(ref, std::move(text), dx, options, rect);
  }

  void EmfFont(Span d) {
    // ihFont, then LOGFONTW (92 bytes).
    if (d.size() < 4 + 92) return;
    const std::uint8_t* f = &d[4];
    Object o;
    o.kind = Object::Kind::kFont;
    TextFont& t = o.font;
    t.height = S32(f), t.width = S32(f + 4), t.escapement = S32(f + 8), t.orientation = S32(f + 12);
    t.weight = S32(f + 16), t.italic = f[20], t.underline = f[21], t.strikeOut = f[22], t.charSet = f[23];
    t.pitchAndFamily = f[27];
    for (int i = 0; i < 32; ++i) {
      const char16_t ch = char16_t(Le16(f + 28 + 2 * i));
      if (!ch) break;
      t.face.push_back(ch);
    }
    Put(Le32(&d[0]), std::move(o));
  }

  void EmfBlt(const Record& r, bool stretch) {
    // EMR_BITBLT / EMR_STRETCHBLT: bounds, dest x, y, cx, cy, rop, src x, y,
    // xform, bk colour, usage, offBmi, cbBmi, offBits, cbBits [, src cx, cy].
    const Span d = r.params;
    if (d.size() < (stretch ? 100u : 92u)) return;
    const double x = S32(&d[16]), y = S32(&d[20]), w = S32(&d[24]), h = S32(&d[28]);
    const std::uint32_t rop = Le32(&d[32]);
    const double sx = S32(&d[36]), sy = S32(&d[40]);
    const std::uint32_t usage = Le32(&d[72]), offBmi = Le32(&d[76]), cbBmi = Le32(&d[80]), offBits = Le32(&d[84]);
    if (cbBmi == 0) return Blt(x, y, w, h, nullptr, 0, 0, 0, 0, rop);
    auto src = ReadDib(r.whole, offBmi, offBits, usage);
    if (!src) return;
    const double sw = stretch ? S32(&d[92]) : w, sh = stretch ? S32(&d[96]) : h;
    Blt(x, y, w, h, &*src, sx, sy, sw, sh, rop);
  }

  void EmfStretchDibits(const Record& r) {
    // bounds, x, y, xSrc, ySrc, cxSrc, cySrc, offBmi, cbBmi, offBits, cbBits, usage, rop, cxDest, cyDest.
    const Span d = r.params;
    if (d.size() < 72) return;
    auto src = ReadDib(r.whole, Le32(&d[40]), Le32(&d[48]), Le32(&d[56]));
    if (!src) return;
    src->dibOrigin = true;
    Blt(S32(&d[16]), S32(&d[20]), S32(&d[64]), S32(&d[68]), &*src, S32(&d[24]), S32(&d[28]), S32(&d[32]), S32(&d[36]),
        Le32(&d[60]));
  }

  void EmfSetDibitsToDevice(const Record& r) {
    // bounds, x, y, xSrc, ySrc, cx, cy, offBmi, cbBmi, offBits, cbBits, usage, start scan, scans.
    const Span d = r.params;
    if (d.size() < 68) return;
    auto src = ReadDib(r.whole, Le32(&d[40]), Le32(&d[48]), Le32(&d[56]));
    if (!src) return;
    src->dibOrigin = true;
    const double cx = S32(&d[32]), cy = S32(&d[36]);
    Blt(S32(&d[16]), S32(&d[20]), cx, cy, &*src, S32(&d[24]), S32(&d[28]), cx, cy, 0x00CC0020);
  }

  void EmfDibBrush(const Record& r) {
    // ihBrush, usage, offBmi, cbBmi, offBits, cbBits.
    const Span d = r.params;
    if (d.size() < 24) return;
    Object o;
    o.kind = Object::Kind::kBrush;
    auto src = ReadDib(r.whole, Le32(&d[8]), Le32(&d[16]), Le32(&d[4]));
    if (src && PatternRoom(*src)) {
      o.brush.kind = Paint::Kind::kPattern;
      o.brush.pattern = std::make_shared<Picture>(std::move(src->picture));
    }
    Put(Le32(&d[0]), std::move(o));
  }

  void Emf(const Record& r) {
    const Span d = r.params;
    auto u32 = [&](std::size_t at) -> std::uint32_t { return at + 4 <= d.size() ? Le32(&d[at]) : 0; };
    auto i32 = [&](std::size_t at) -> double { return at + 4 <= d.size() ? double(S32(&d[at])) : 0; };
    switch (r.type) {
      case 2: case 3: case 4: case 5: case 6: EmfPoly(r.type, d, 8); break;
      case 85: case 86: case 87: case 88: case 89: EmfPoly(r.type, d, 4); break;
      case 7: EmfPolyPoly(d, 8, false); break;
      case 8: EmfPolyPoly(d, 8, true); break;
      case 90: EmfPolyPoly(d, 4, false); break;
      case 91: EmfPolyPoly(d, 4, true); break;
      case 9: SetExt(s_.winExt, i32(0), i32(4)); break;
      case 10: s_.winOrg = {i32(0), i32(4)}; break;
      case 11: SetExt(s_.vpExt, i32(0), i32(4)); break;
      case 12: s_.vpOrg = {i32(0), i32(4)}; break;
      case 15: SetPixel({i32(0), i32(4)}, u32(8)); break;  // SetPixelV
      case 17: SetMapMode(u32(0)); break;
      case 18: s_.bkOpaque = u32(0) == 2; break;
      case 19: s_.winding = u32(0) == 2; break;
      case 20: s_.rop2 = int(std::clamp<std::uint32_t>(u32(0), 1, 16)); break;
      case 22: s_.textAlign = u32(0); break;
      case 24: s_.textColour = Colour(u32(0)); break;
      case 25: s_.bkColour = Colour(u32(0)); break;
      case 26: OffsetClip(i32(0), i32(4)); break;
      case 27: MoveTo({i32(0), i32(4)}); break;
      case 29: ClipRect(i32(0), i32(4), i32(8), i32(12), true); break;
      case 30: ClipRect(i32(0), i32(4), i32(8), i32(12), false); break;
      case 31: ScaleExt(s_.vpExt, i32(0), i32(4), i32(8), i32(12)); break;
      case 32: ScaleExt(s_.winExt, i32(0), i32(4), i32(8), i32(12)); break;
      case 33: SaveDc(); break;
      case 34: RestoreDc(static_cast<std::int32_t>(u32(0))); break;
      case 35:
      case 36: {  // SetWorldTransform, ModifyWorldTransform
        if (d.size() < 24) break;
        const Affine x{F32(&d[0]), F32(&d[4]), F32(&d[8]), F32(&d[12]), F32(&d[16]), F32(&d[20])};
        const std::uint32_t mode = r.type == 35 ? 4 : u32(24);
        if (mode == 1) s_.world = Affine{};
        else if (mode == 2) s_.world = x.Then(s_.world);   // MWT_LEFTMULTIPLY
        else if (mode == 3) s_.world = s_.world.Then(x);   // MWT_RIGHTMULTIPLY
        else if (mode == 4) s_.world = x;
        break;
      }
      case 37: {  // SelectObject
        const std::uint32_t i = u32(0);
        if (i & 0x80000000u) SelectStock(i & 0x7FFFFFFFu);
        else if (const Object* o = Slot(i)) Select(*o);
        break;
      }
      case 38: {  // CreatePen: ih, style, width (x), colour
        if (d.size() < 20) break;
        Object o;
        o.kind = Object::Kind::kPen;
        o.pen = Pen{int(u32(4) & 0xF), i32(8), i32(8) <= 1, Colour(u32(16))};
        Put(u32(0), std::move(o));
        break;
      }
      case 95: {  // ExtCreatePen: ih, offBmi, cbBmi, offBits, cbBits, style, width, brush style, colour
        if (d.size() < 36) break;
        Object o;
        o.kind = Object::Kind::kPen;
        const std::uint32_t style = u32(20);
        const bool geometric = style & 0x10000;
        o.pen = Pen{int(style & 0xF), geometric ? double(u32(24)) : 1, !geometric, Colour(u32(32))};
        if (u32(28) == 1) o.pen.style = kPsNull;  // BS_NULL brush: nothing drawn
        Put(u32(0), std::move(o));
        break;
      }
      case 39: {  // CreateBrushIndirect: ih, style, colour, hatch
        if (d.size() < 16) break;
        Object o;
        o.kind = Object::Kind::kBrush;
        o.brush = MakeBrush(u32(4), u32(8), u32(12));
        Put(u32(0), std::move(o));
        break;
      }
      case 93: case 94: EmfDibBrush(r); break;
      case 40: if (u32(0) < objects_.size()) objects_[u32(0)].reset(); break;
      case 41: {  // AngleArc: centre, radius, start and sweep angles (degrees)
        if (d.size() < 20) break;
        const PointD centre{i32(0), i32(4)};
        const double radius = Le32(&d[8]), a0 = F32(&d[12]) * kPi / 180, sweep = F32(&d[16]) * kPi / 180;
        const Figure arc = EllipseArc(centre.x, centre.y, radius, radius, a0, sweep);
        LineTo(std::vector<PointD>(arc.begin(), arc.end()));  // a line to the arc's start, then the arc
        break;
      }
      case 42: Box(BoxShape::kEllipse, i32(0), i32(4), i32(8), i32(12)); break;
      case 43: Box(BoxShape::kRect, i32(0), i32(4), i32(8), i32(12)); break;
      case 44: Box(BoxShape::kRoundRect, i32(0), i32(4), i32(8), i32(12), {}, {}, {i32(16), i32(20)}); break;
      case 45: case 46: case 47: case 55: {  // Arc, Chord, Pie, ArcTo
        const BoxShape kind = r.type == 46 ? BoxShape::kChord : r.type == 47 ? BoxShape::kPie : BoxShape::kArc;
        Box(kind, i32(0), i32(4), i32(8), i32(12), {i32(16), i32(20)}, {i32(24), i32(28)}, {}, r.type == 55);
        break;
      }
      case 54: LineTo({{i32(0), i32(4)}}); break;
      case 57: s_.clockwise = u32(0) == 2; break;
      case 59: EndPathUse(), inPath_ = true; break;
      case 60: inPath_ = false; break;
      case 61:  // CloseFigure
        if (inPath_ && figureOpen_) path_.back().closed = true, figureOpen_ = false;
        break;
      case 62: case 63: case 64: {  // FillPath, StrokeAndFillPath, StrokePath
        if (inPath_) break;
        if (r.type != 64) Fill(PathFigures());
        if (r.type != 62)
          for (const PathFigure& f : path_) Stroke(f.points, f.closed);
        EndPathUse();
        break;
      }
      case 66: {  // WidenPath: the band the pen would stroke
        if (inPath_) break;
        std::vector<PathFigure> wide;
        for (const PathFigure& f : path_)
          for (Figure& g : WidePolyline(f.points, f.closed, PenPixels())) wide.push_back({std::move(g), true});
        path_ = std::move(wide);
        break;
      }
      case 67: {  // SelectClipPath
        if (inPath_) break;
        std::vector<Figure> figures = PathFigures();
        for (Figure& f : figures) std::transform(f.begin(), f.end(), f.begin(), Round);
        const std::uint32_t mode = u32(0);
        if (mode >= 1 && mode <= 5) ClipTo(RegionOfFigures(c_, figures, s_.winding), RegionOp(mode));
        EndPathUse();
        break;
      }
      case 68: EndPathUse(), inPath_ = false; break;
      case 71: case 73: case 74: {  // FillRgn (bounds, cb, ih, data), InvertRgn, PaintRgn (bounds, cb, data)
        const bool fill = r.type == 71;
        const std::size_t at = fill ? 24 : 20;
        if (d.size() < at) break;
        const std::uint32_t cb = u32(16);
        if (cb > d.size() - at) break;
        const auto region = RegionData(d.subspan(at, cb));
        if (!region) break;
        Paint paint = BrushPaint(s_.brush);
        if (fill) {
          const Object* o = Slot(u32(20));
          if (!o || o->kind != Object::Kind::kBrush) break;
          paint = BrushPaint(o->brush);
        }
        PaintRegion(*region, paint, r.type == 73 ? 6 : s_.rop2);  // InvertRgn: R2_NOT
        break;
      }
      case 75: {  // ExtSelectClipRgn: cb, mode, data
        const std::uint32_t cb = u32(0), mode = u32(4);
        if (mode < 1 || mode > 5) break;
        if (cb == 0 || d.size() < 8) {
          if (mode == 5) s_.clip = {c_.Bound()};
          break;
        }
        if (cb > d.size() - 8) break;
        if (const auto region = RegionData(d.subspan(8, cb))) ClipTo(*region, RegionOp(mode));
        break;
      }
      case 76: EmfBlt(r, false); break;
      case 77: EmfBlt(r, true); break;
      case 80: EmfSetDibitsToDevice(r); break;
      case 81: EmfStretchDibits(r); break;
      case 82: EmfFont(d); break;
      case 83: EmfText(r.whole, d, false); break;
      case 84: EmfText(r.whole, d, true); break;
      case 108: {  // SmallTextOut: x, y, chars, options, mode, scales, [clip rect], text
        if (d.size() < 28) break;
        const std::uint32_t chars = u32(8), options = u32(12);
        std::size_t at = 28;
        std::optional<std::array<double, 4>> rect;
        if (!(options & 0x100)) {  // ETO_NO_RECT
          if (d.size() < 44) break;
          rect = std::array<double, 4>{i32(28), i32(32), i32(36), i32(40)};
          at = 44;
        }
        const bool small = options & 0x200;  // ETO_SMALL_CHARS: 8-bit characters
        const std::uint64_t bytes = std::uint64_t(chars) * (small ? 1 : 2);
        if (bytes > d.size() - at) break;
        std::u16string text;
        if (small) text = AnsiText({reinterpret_cast<const char*>(&d[at]), chars}, s_.font.charSet);
        else
          for (std::uint32_t i = 0; i < chars; ++i) text.push_back(char16_t(Le16(&d[at + 2 * std::size_t(i)])));
        Text({i32(0), i32(4)}, std::move(text), {}, options, rect);
        break;
      }
      default: break;  // EMR_HEADER, comments and records not played
    }
  }

  // --- WMF ------------------------------------------------------------------

  // WMF parameters are 16-bit words, most of them signed.
  static double W(Span d, std::size_t i) { return 2 * i + 2 <= d.size() ? double(S16(&d[2 * i])) : 0; }
  static std::uint32_t U(Span d, std::size_t i) { return 2 * i + 2 <= d.size() ? Le16(&d[2 * i]) : 0; }
  static std::uint32_t U32(Span d, std::size_t i) { return U(d, i) | U(d, i + 1) << 16; }

  std::optional<std::vector<PointD>> WmfPoints(Span d, std::size_t word, std::uint64_t count) const {
    return Points(d, word * 2, count, 4);
  }

  std::vector<std::int32_t> WmfDx(Span d, std::size_t at, std::size_t count) {
    std::vector<std::int32_t> dx;
    if (at + count * 2 <= d.size())
      for (std::size_t i = 0; i < count; ++i) dx.push_back(S16(&d[at + 2 * i]));
    return dx;
  }

  // META_CREATEREGION: a Region object of scans, each with its left/right pairs.
  Object WmfRegion(Span d) {
    Object o;
    o.kind = Object::Kind::kRegion;
    if (d.size() < 22) return o;
    const std::uint32_t scans = U(d, 5);
    std::size_t at = 22;
    Region r;
    const Affine full = Full();
    for (std::uint32_t s = 0; s < scans && at + 6 <= d.size(); ++s) {
      const std::uint32_t count = Le16(&d[at]);
      const double top = S16(&d[at + 2]), bottom = S16(&d[at + 4]);
      if (at + 6 + std::size_t(count) * 2 + 2 > d.size()) break;
      for (std::uint32_t k = 0; k + 1 < count && r.size() < kMaxClipRects; k += 2) {
        const IRect q = DevRect(S16(&d[at + 6 + 2 * k]), top, S16(&d[at + 8 + 2 * k]), bottom, full);
        if (!q.Empty()) r.push_back(q);
      }
      at += 6 + std::size_t(count) * 2 + 2;
    }
    o.region = Comb({}, r, RegionOp::kOr);
    return o;
  }

  // A WMF DIB blit: the ROP, the source and destination words, then the DIB
  // (when the record is longer than its fixed part).
  void WmfDib(const Record& r) {
    const Span d = r.params;
    const std::uint32_t rop = U32(d, 0);
    const bool hasBitmap = r.whole.size() / 2 != (r.type >> 8) + 3;
    if (r.type == 0x0F43) {  // StretchDIB: rop, usage, sh, sw, sy, sx, dh, dw, dy, dx, DIB
      auto src = ReadDib(d, 22, SIZE_MAX, U(d, 2));
      if (!src) return;
      src->dibOrigin = true;
      Blt(W(d, 10), W(d, 9), W(d, 8), W(d, 7), &*src, W(d, 6), W(d, 5), W(d, 4), W(d, 3), rop);
      return;
    }
    const bool stretch = r.type == 0x0B41;
    if (!hasBitmap) {  // no source: rop, [src words], reserved, dest words
      const std::size_t at = stretch ? 7 : 5;
      Blt(W(d, at + 3), W(d, at + 2), W(d, at + 1), W(d, at), nullptr, 0, 0, 0, 0, rop);
      return;
    }
    // DIBStretchBlt: rop, sh, sw, sy, sx, dh, dw, dy, dx, DIB; DIBBitBlt: rop, sy, sx, h, w, dy, dx, DIB.
    const std::size_t words = stretch ? 10 : 8;
    auto src = ReadDib(d, words * 2, SIZE_MAX, 0);
    if (!src) return;
    if (stretch)
      Blt(W(d, 9), W(d, 8), W(d, 7), W(d, 6), &*src, W(d, 5), W(d, 4), W(d, 3), W(d, 2), rop);
    else
      Blt(W(d, 7), W(d, 6), W(d, 5), W(d, 4), &*src, W(d, 3), W(d, 2), W(d, 5), W(d, 4), rop);
  }

  void WmfText(Span d, bool ext) {
    if (!ext) {  // TextOut: length, string (even), y, x
      const std::uint32_t n = U(d, 0);
      const std::size_t padded = (n + 1) / 2 * 2;
      if (2 + padded + 4 > d.size()) return;
      const std::string_view s(reinterpret_cast<const char*>(&d[2]), n);
      Text({double(S16(&d[2 + padded + 2])), double(S16(&d[2 + padded]))}, AnsiText(s, s_.font.charSet), {}, 0,
           std::nullopt);
      return;
    }
    // ExtTextOut: y, x, length, options, [rectangle], string (even), [dx].
    if (d.size() < 8) return;
    const std::uint32_t n = U(d, 2), options = U(d, 3);
    std::size_t at = 8;
    std::optional<std::array<double, 4>> rect;
    if (options & 6) {
      if (d.size() < 16) return;
      rect = std::array<double, 4>{W(d, 4), W(d, 5), W(d, 6), W(d, 7)};
      at = 16;
    }
    if (at + n > d.size()) return;
    const std::string_view s(reinterpret_cast<const char*>(&d[at]), n);
    std::u16string text = AnsiText(s, s_.font.charSet);
    const std::vector<std::int32_t> dx = PerCharacter(s, WmfDx(d, at + (n + 1) / 2 * 2, n), text.size());
    Text({W(d, 1), W(d, 0)}, std::move(text), dx, options, rect);
  }

  void Wmf(const Record& r) {
    const Span d = r.params;
    switch (r.type) {
      case 0x0201: s_.bkColour = Colour(U32(d, 0)); break;
      case 0x0102: s_.bkOpaque = U(d, 0) == 2; break;
      case 0x0104: s_.rop2 = int(std::clamp<std::uint32_t>(U(d, 0), 1, 16)); break;
      case 0x0106: s_.winding = U(d, 0) == 2; break;
      case 0x012E: s_.textAlign = U(d, 0); break;
      case 0x0209: s_.textColour = Colour(U32(d, 0)); break;
      case 0x020B: s_.winOrg = {W(d, 1), W(d, 0)}; break;
      case 0x020C: SetExt(s_.winExt, W(d, 1), W(d, 0)); break;
      case 0x020F: s_.winOrg = {s_.winOrg.x + W(d, 1), s_.winOrg.y + W(d, 0)}; break;
      case 0x0410: ScaleExt(s_.winExt, W(d, 3), W(d, 2), W(d, 1), W(d, 0)); break;
      case 0x0213: LineTo({{W(d, 1), W(d, 0)}}); break;
      case 0x0214: MoveTo({W(d, 1), W(d, 0)}); break;
      case 0x0415: ClipRect(W(d, 3), W(d, 2), W(d, 1), W(d, 0), true); break;
      case 0x0416: ClipRect(W(d, 3), W(d, 2), W(d, 1), W(d, 0), false); break;
      case 0x0220: OffsetClip(W(d, 1), W(d, 0)); break;  // OffsetClipRgn: y, x
      case 0x0817: case 0x081A: case 0x0830: {  // Arc, Pie, Chord: ye, xe, ys, xs, b, r, t, l
        const BoxShape kind = r.type == 0x0817 ? BoxShape::kArc : r.type == 0x081A ? BoxShape::kPie : BoxShape::kChord;
        Box(kind, W(d, 7), W(d, 6), W(d, 5), W(d, 4), {W(d, 3), W(d, 2)}, {W(d, 1), W(d, 0)});
        break;
      }
      case 0x0418: Box(BoxShape::kEllipse, W(d, 3), W(d, 2), W(d, 1), W(d, 0)); break;
      case 0x041B: Box(BoxShape::kRect, W(d, 3), W(d, 2), W(d, 1), W(d, 0)); break;
      case 0x061C: Box(BoxShape::kRoundRect, W(d, 5), W(d, 4), W(d, 3), W(d, 2), {}, {}, {W(d, 1), W(d, 0)}); break;
      case 0x061D: Blt(W(d, 5), W(d, 4), W(d, 3), W(d, 2), nullptr, 0, 0, 0, 0, U32(d, 0)); break;  // PatBlt
      case 0x041F: SetPixel({W(d, 3), W(d, 2)}, U32(d, 0)); break;  // SetPixel: colour, y, x
      case 0x0521: WmfText(d, false); break;
      case 0x0A32: WmfText(d, true); break;
      case 0x0324: case 0x0325: {  // Polygon, Polyline: count, points
        const auto pts = WmfPoints(d, 1, U(d, 0));
        if (!pts || pts->empty()) break;
        const bool polygon = r.type == 0x0324;
        Shape({DevFigure(*pts)}, polygon, polygon);
        break;
      }
      case 0x0538: {  // PolyPolygon: polygons, counts, points
        const std::uint32_t polys = U(d, 0);
        if (2 + std::size_t(polys) * 2 > d.size()) break;
        std::uint64_t total = 0;
        for (std::uint32_t i = 0; i < polys; ++i) total += U(d, 1 + i);
        const auto pts = WmfPoints(d, 1 + polys, total);
        if (!pts) break;
        std::vector<Figure> figures;
        std::size_t at = 0;
        for (std::uint32_t i = 0; i < polys; ++i) {
          const std::size_t n = U(d, 1 + i);
          figures.push_back(DevFigure({pts->begin() + std::ptrdiff_t(at), pts->begin() + std::ptrdiff_t(at + n)}));
          at += n;
        }
        Shape(std::move(figures), true, true);
        break;
      }
      case 0x001E: SaveDc(); break;
      case 0x0127: RestoreDc(std::int32_t(W(d, 0))); break;
      case 0x012D: if (const Object* o = Slot(U(d, 0))) Select(*o); break;
      case 0x012C: {  // SelectClipRegion: a region object, or none for the default clip
        const Object* o = Slot(U(d, 0));
        if (o && o->kind == Object::Kind::kRegion) ClipTo(o->region, RegionOp::kCopy);
        else if (!o) s_.clip = {c_.Bound()};
        break;
      }
      case 0x01F0: if (U(d, 0) < objects_.size()) objects_[U(d, 0)].reset(); break;
      case 0x02FA: {  // CreatePenIndirect: style, width (x, y), colour
        Object o;
        o.kind = Object::Kind::kPen;
        o.pen = Pen{int(U(d, 0) & 0xF), W(d, 1), W(d, 1) <= 1, Colour(U32(d, 3))};
        Add(std::move(o));
        break;
      }
      case 0x02FC: {  // CreateBrushIndirect: style, colour, hatch
        Object o;
        o.kind = Object::Kind::kBrush;
        o.brush = MakeBrush(U(d, 0), U32(d, 1), U(d, 3));
        Add(std::move(o));
        break;
      }
      case 0x0142: {  // DIBCreatePatternBrush: style, usage, DIB
        Object o;
        o.kind = Object::Kind::kBrush;
        if (U(d, 0) == 5) {
          if (auto src = ReadDib(d, 4, SIZE_MAX, U(d, 1)); src && PatternRoom(*src)) {
            o.brush.kind = Paint::Kind::kPattern;
            o.brush.pattern = std::make_shared<Picture>(std::move(src->picture));
          }
        }
        Add(std::move(o));
        break;
      }
      case 0x02FB: {  // CreateFontIndirect: LOGFONT with 16-bit fields and an ANSI face
        Object o;
        o.kind = Object::Kind::kFont;
        if (d.size() >= 18) {
          TextFont& t = o.font;
          t.height = S16(&d[0]), t.width = S16(&d[2]), t.escapement = S16(&d[4]), t.orientation = S16(&d[6]);
          t.weight = S16(&d[8]), t.italic = d[10], t.underline = d[11], t.strikeOut = d[12], t.charSet = d[13];
          t.pitchAndFamily = d[17];
          std::string face;
          for (std::size_t i = 18; i < d.size() && i < 18 + 32 && d[i]; ++i) face.push_back(char(d[i]));
          t.face = AnsiText(face, t.charSet == 2 ? 0 : t.charSet);
        }
        Add(std::move(o));
        break;
      }
      case 0x06FF: Add(WmfRegion(d)); break;
      case 0x00F7: case 0x01F9: Add(Object{}); break;  // CreatePalette, CreatePatternBrush: they take a slot
      case 0x0228: case 0x012B: case 0x012A: {  // FillRegion (region, brush), PaintRegion, InvertRegion
        const Object* region = Slot(U(d, 0));
        if (!region || region->kind != Object::Kind::kRegion) break;
        Paint paint = BrushPaint(s_.brush);
        if (r.type == 0x0228) {
          const Object* b = Slot(U(d, 1));
          if (!b || b->kind != Object::Kind::kBrush) break;
          paint = BrushPaint(b->brush);
        }
        PaintRegion(region->region, paint, r.type == 0x012A ? 6 : s_.rop2);
        break;
      }
      case 0x0940: case 0x0B41: case 0x0F43: WmfDib(r); break;
      default: break;  // SetMapMode, viewport records, palettes, escapes and the rest
    }
  }

  const Metafile& m_;
  Canvas& c_;
  Affine base_;
  bool wmf_ = false;
  State s_;
  std::vector<State> saved_;
  std::int64_t ignoredSaves_ = 0;
  std::vector<std::unique_ptr<Object>> objects_;
  bool inPath_ = false, figureOpen_ = false;
  std::vector<PathFigure> path_;
  std::size_t pathPoints_ = 0;
  std::uint64_t patternPixels_ = 0;
};

}  // namespace

GpStatus Play(const Metafile& m, const Surface& target, double x, double y, double w, double h,
              std::uint64_t budget) {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h))
    return Gdiplus::InvalidParameter;
  if (target.bitsPerPixel != 32 && target.bitsPerPixel != 1) return Gdiplus::InvalidParameter;
  if (w == 0 || h == 0) return Gdiplus::Ok;
  // The target rectangle's pixels (centres inside it) that lie on the bitmap.
  const double l = std::min(x, x + w), r = std::max(x, x + w), t = std::min(y, y + h), b = std::max(y, y + h);
  IRect bound{std::int32_t(std::clamp(std::ceil(l - 0.5), 0.0, double(target.width))),
              std::int32_t(std::clamp(std::ceil(t - 0.5), 0.0, double(target.height))),
              std::int32_t(std::clamp(std::ceil(r - 0.5), 0.0, double(target.width))),
              std::int32_t(std::clamp(std::ceil(b - 0.5), 0.0, double(target.height)))};
  if (bound.Empty()) return Gdiplus::Ok;
  // The frame (reference pixels for an EMF, the WMF's window as the player
  // sets it) onto the target rectangle.
  Affine base;
  const Header& hd = m.header;
  if (hd.kind == Kind::kEmf) {
    double fl = hd.frame[0] / 100.0 * hd.pixelsPerMmX, ft = hd.frame[1] / 100.0 * hd.pixelsPerMmY;
    double fw = (double(hd.frame[2]) - hd.frame[0]) / 100.0 * hd.pixelsPerMmX;
    double fh = (double(hd.frame[3]) - hd.frame[1]) / 100.0 * hd.pixelsPerMmY;
    if (!(fw > 0 && fh > 0)) {
      fl = hd.bounds[0], ft = hd.bounds[1];
      fw = double(hd.bounds[2]) - hd.bounds[0] + 1, fh = double(hd.bounds[3]) - hd.bounds[1] + 1;
    }
    base = {w / fw, 0, 0, h / fh, x - fl * w / fw, y - ft * h / fh};
  } else {
    // The window maps onto the viewport (0, 0, w, h): only the offset is left.
    base = {1, 0, 0, 1, x, y};
  }
  Canvas canvas(target, bound, budget);
  Player player(m, canvas, base, w, h);
  player.Run();
  return Gdiplus::Ok;
}

}  // namespace graphics::metafile
