// Metafile text drawn as GDI draws it: monochrome glyphs (no anti-aliasing)
// from FreeType, out of the installed font that fontconfig finds for the
// logical font.
//
// Which font a face name gets:
//  1. Well-known Windows faces (compared without regard to ASCII case; a
//     leading '@', the vertical variant, is dropped) map to fonts with the
//     same metrics or the same script: Arial, Helvetica, MS Sans Serif,
//     Microsoft Sans Serif, Tahoma, Segoe UI and System to Liberation Sans;
//     Times New Roman, Times and MS Serif to Liberation Serif; Courier New,
//     Courier, Lucida Console, Consolas, Fixedsys and Terminal to Liberation
//     Mono; the Chinese faces SimSun/宋体, SimHei/黑体, Microsoft YaHei/微软雅黑,
//     KaiTi/楷体, FangSong/仿宋, DengXian/等线, MingLiU/細明體 and PMingLiU/
//     新細明體 to WenQuanYi Micro Hei, the fixed-pitch NSimSun/新宋体 to
//     WenQuanYi Micro Hei Mono.
//  2. Any other face in the GB2312 (GBK) or Big5 character set: WenQuanYi
//     Micro Hei. An empty face name: Liberation Sans.
//  3. Any other face: fontconfig's best match for the name, with the
//     LOGFONT's family bits (roman, swiss, modern, fixed pitch) as a generic
//     second choice.
//  4. When the font found cannot be opened or is not scalable: WenQuanYi
//     Micro Hei, then Liberation Sans, then fontconfig's sans-serif, then
//     fixed paths under /usr/share/fonts. Nothing found: only the background
//     and the lines are drawn.
// Weight and italic take part in every match; a character the font lacks is
// taken from WenQuanYi Micro Hei when that has it (as Windows links a Chinese
// font to Latin ones).
//
// Sizes follow LOGFONT: a negative height is the em height, a positive one
// the cell height (the font's Windows ascent plus descent, OS/2 usWinAscent
// and usWinDescent), zero a cell height of kDefaultCellHeight; a nonzero
// width scales the em horizontally so the font's average character width
// (OS/2 xAvgCharWidth) becomes that width. Ems are whole pixels and at most
// kMaxEm. A weight of 600 or more on a face that is not bold is synthesised as
// Microsoft's "Drawing Text from Different Fonts on the Same Line" says GDI
// does: each glyph drawn twice, the second time one pixel further along the
// baseline; each advance is a pixel wider so the glyphs keep their spacing.
// Italic on an upright face shears the outline by tan 12 degrees (that page
// describes the shear only for bitmap fonts). Underline and strikeout come
// from the post and OS/2 tables. The escapement rotates the baseline and the
// glyphs with it (GDI's compatible graphics mode, where lfOrientation is not
// used).
#include "platform/graphics/metafile_text.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SIZES_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <numbers>
#include <optional>
#include <tuple>

#include "platform/codepage.h"
#include "platform/trace.h"

namespace graphics::metafile {
namespace {

constexpr double kMaxEm = 4096;            // larger text is drawn at this em
constexpr int kDefaultCellHeight = 16;     // lfHeight 0
constexpr std::size_t kMaxUnits = 65536;   // code units of one run that are drawn
constexpr std::size_t kMaxSizesPerFace = 32;
constexpr std::size_t kMaxResolved = 256;
constexpr std::uint32_t kAlignRight = 2, kAlignCenter = 6, kAlignHorizontal = 6;
constexpr std::uint32_t kAlignBottom = 8, kAlignBaseline = 24, kAlignVertical = 24;
constexpr std::uint8_t kGb2312Charset = 134, kBig5Charset = 136;
constexpr int kBoldWeight = 600;
constexpr FT_Fixed kObliqueShear = 0x0366A;  // tan 12 degrees, 16.16
constexpr char kCjkFamily[] = "WenQuanYi Micro Hei";
constexpr char kSansFamily[] = "Liberation Sans";

struct Rule {
  const char16_t* face;
  const char* family;
};

constexpr Rule kRules[] = {
    {u"arial", kSansFamily}, {u"helvetica", kSansFamily}, {u"ms sans serif", kSansFamily},
    {u"microsoft sans serif", kSansFamily}, {u"tahoma", kSansFamily}, {u"segoe ui", kSansFamily},
    {u"system", kSansFamily},
    {u"times new roman", "Liberation Serif"}, {u"times", "Liberation Serif"}, {u"ms serif", "Liberation Serif"},
    {u"courier new", "Liberation Mono"}, {u"courier", "Liberation Mono"}, {u"lucida console", "Liberation Mono"},
    {u"consolas", "Liberation Mono"}, {u"fixedsys", "Liberation Mono"}, {u"terminal", "Liberation Mono"},
    {u"simsun", kCjkFamily}, {u"宋体", kCjkFamily}, {u"simhei", kCjkFamily}, {u"黑体", kCjkFamily},
    {u"microsoft yahei", kCjkFamily}, {u"微软雅黑", kCjkFamily}, {u"kaiti", kCjkFamily}, {u"楷体", kCjkFamily},
    {u"kaiti_gb2312", kCjkFamily}, {u"楷体_gb2312", kCjkFamily}, {u"fangsong", kCjkFamily},
    {u"仿宋", kCjkFamily}, {u"fangsong_gb2312", kCjkFamily}, {u"仿宋_gb2312", kCjkFamily},
    {u"dengxian", kCjkFamily}, {u"等线", kCjkFamily}, {u"mingliu", kCjkFamily}, {u"細明體", kCjkFamily},
    {u"pmingliu", kCjkFamily}, {u"新細明體", kCjkFamily},
    {u"nsimsun", "WenQuanYi Micro Hei Mono"}, {u"新宋体", "WenQuanYi Micro Hei Mono"},
};

constexpr const char* kLastResortFiles[] = {
    "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
    "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
};

// The face name as the rules compare it: trimmed, without a leading '@',
// ASCII letters in lower case.
std::u16string RuleName(std::u16string_view face) {
  std::u16string s(face.substr(0, face.find(u'\0')));
  while (!s.empty() && s.back() == u' ') s.pop_back();
  std::size_t start = 0;
  while (start < s.size() && s[start] == u' ') ++start;
  if (start < s.size() && s[start] == u'@') ++start;
  s.erase(0, start);
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return s;
}

struct FontFile {
  std::string path;
  int index = 0;
};

// FreeType, fontconfig and what they have opened, kept for the process.
// Every member is used with `lock` held.
class Fonts {
 public:
  static Fonts& Get() {
    static Fonts* const fonts = new Fonts;  // never destroyed: faces outlive static destructors
    return *fonts;
  }

  std::mutex lock;

  // The scalable face for `font`, or null when no font at all can be opened.
  FT_Face Find(const TextFont& font) {
    const std::u16string name = RuleName(font.face);
    const bool bold = font.weight >= kBoldWeight, italic = font.italic;
    const std::string key = platform::Utf16ToUtf8(name) + '\n' + char('0' + bold) + char('0' + italic) +
                            std::to_string(font.charSet) + ',' + std::to_string(font.pitchAndFamily);
    if (auto it = resolved_.find(key); it != resolved_.end()) return it->second;
    FT_Face face = Open(Match(name, font));
    if (!face) face = Open(Match(kCjkFamily, bold, italic));
    if (!face) face = Open(Match(kSansFamily, bold, italic));
    if (!face) face = Open(Match("sans-serif", bold, italic));
    for (const char* path : kLastResortFiles)
      if (!face) face = Open(FontFile{path, 0});
    if (!face) platform::Trace("DrawText: no font could be opened for \"%s\"", platform::Utf16ToUtf8(name).c_str());
    if (resolved_.size() >= kMaxResolved) resolved_.clear();
    resolved_[key] = face;
    return face;
  }

  // The face a character missing from the chosen one is taken from.
  FT_Face Linked() {
    if (!linkedTried_) {
      linkedTried_ = true;
      linked_ = Open(Match(kCjkFamily, false, false));
    }
    return linked_;
  }

  // Makes `face` use an em of emX x emY pixels (each 1..kMaxEm).
  bool Activate(FT_Face face, double emX, double emY) {
    const auto key = std::make_tuple(face, FT_F26Dot6(emX * 64), FT_F26Dot6(emY * 64));
    auto it = sizes_.find(key);
    if (it == sizes_.end()) {
      auto& count = sizeCount_[face];
      if (count >= kMaxSizesPerFace) {
        for (auto s = sizes_.begin(); s != sizes_.end();) {
          if (std::get<0>(s->first) == face) FT_Done_Size(s->second), s = sizes_.erase(s);
          else ++s;
        }
        count = 0;
      }
      FT_Size size = nullptr;
      if (FT_New_Size(face, &size) != 0) return false;
      if (FT_Activate_Size(size) != 0 || FT_Set_Char_Size(face, std::get<1>(key), std::get<2>(key), 72, 72) != 0) {
        FT_Done_Size(size);
        return false;
      }
      it = sizes_.emplace(key, size).first;
      ++count;
    }
    return FT_Activate_Size(it->second) == 0;
  }

 private:
  Fonts() {
    if (FT_Init_FreeType(&library_) != 0) library_ = nullptr;
    config_ = FcInitLoadConfigAndFonts();
  }

  // The installed font file fontconfig finds for a family.
  std::optional<FontFile> Match(const char* family, bool bold, bool italic, const char* generic = nullptr,
                                bool chinese = false) {
    if (!config_) return std::nullopt;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return std::nullopt;
    if (*family) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    if (generic) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(generic));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    if (chinese) FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("zh-cn"));
    FcConfigSubstitute(config_, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config_, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return std::nullopt;
    std::optional<FontFile> found;
    FcChar8* file = nullptr;
    int index = 0;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
      FcPatternGetInteger(match, FC_INDEX, 0, &index);
      found = FontFile{reinterpret_cast<const char*>(file), index};
    }
    FcPatternDestroy(match);
    return found;
  }

  std::optional<FontFile> Match(const std::u16string& name, const TextFont& font) {
    const bool bold = font.weight >= kBoldWeight;
    for (const Rule& rule : kRules)
      if (name == rule.face) return Match(rule.family, bold, font.italic);
    const bool chinese = font.charSet == kGb2312Charset || font.charSet == kBig5Charset;
    if (chinese) return Match(kCjkFamily, bold, font.italic, nullptr, true);
    if (name.empty()) return Match(kSansFamily, bold, font.italic);
    const char* generic = (font.pitchAndFamily & 3) == 1 ? "monospace"
                          : (font.pitchAndFamily & 0xF0) == 0x10 ? "serif"
                          : (font.pitchAndFamily & 0xF0) == 0x20 ? "sans-serif"
                          : (font.pitchAndFamily & 0xF0) == 0x30 ? "monospace"
                                                                 : nullptr;
    return Match(platform::Utf16ToUtf8(name).c_str(), bold, font.italic, generic);
  }

  FT_Face Open(const std::optional<FontFile>& file) {
    if (!file || !library_) return nullptr;
    const auto key = std::make_pair(file->path, file->index);
    if (auto it = faces_.find(key); it != faces_.end()) return it->second;
    FT_Face face = nullptr;
    if (FT_New_Face(library_, file->path.c_str(), file->index, &face) != 0) face = nullptr;
    if (face && (!FT_IS_SCALABLE(face) || !face->charmap || face->units_per_EM == 0)) {
      FT_Done_Face(face);
      face = nullptr;
    }
    faces_[key] = face;  // a file that fails is not tried again
    return face;
  }

  FT_Library library_ = nullptr;
  FcConfig* config_ = nullptr;
  std::map<std::pair<std::string, int>, FT_Face> faces_;
  std::map<std::string, FT_Face> resolved_;
  std::map<std::tuple<FT_Face, FT_F26Dot6, FT_F26Dot6>, FT_Size> sizes_;
  std::map<FT_Face, std::size_t> sizeCount_;
  FT_Face linked_ = nullptr;
  bool linkedTried_ = false;
};

// The font's sizes in device pixels.
struct Metrics {
  double emX = 1, emY = 1;
  int ascent = 0, descent = 0;
  int underlineTop = 0, underlineSize = 1;  // rows below the baseline
  int strikeTop = 0, strikeSize = 1;        // rows above the baseline
  int embolden = 0;                          // extra pixels of synthetic bold
  bool oblique = false;
};

int Round(double v) { return static_cast<int>(std::lround(v)); }

Metrics Measure(FT_Face face, const TextFont& font) {
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  const double units = face->units_per_EM;
  double winAscent = os2 ? os2->usWinAscent : face->ascender;
  double winDescent = os2 ? os2->usWinDescent : -face->descender;
  if (winAscent <= 0 || winAscent + winDescent <= 0) winAscent = units * 0.8, winDescent = units * 0.2;
  winDescent = std::max(winDescent, 0.0);

  Metrics m;
  const double height = font.height == 0 ? kDefaultCellHeight : font.height;
  const double em = height > 0 ? height * units / (winAscent + winDescent) : -height;
  m.emY = std::clamp(std::round(em), 1.0, kMaxEm);
  m.ascent = Round(winAscent * m.emY / units);
  m.descent = Round(winDescent * m.emY / units);
  if (height > 0 && m.emY == std::round(em)) m.descent = static_cast<int>(height) - m.ascent;
  m.descent = std::max(m.descent, 0);
  m.emX = m.emY;
  const double width = std::fabs(double(font.width));
  if (width > 0 && os2 && os2->xAvgCharWidth > 0)
    m.emX = std::clamp(std::round(width * units / os2->xAvgCharWidth), 1.0, kMaxEm);

  const double scale = m.emY / units;
  m.underlineSize = std::max(1, Round(face->underline_thickness * scale));
  m.underlineTop = face->underline_thickness > 0 ? -Round(face->underline_position * scale) : Round(m.emY * 0.1);
  m.underlineTop = std::max(m.underlineTop, 1);
  if (os2 && os2->yStrikeoutSize > 0) {
    m.strikeSize = std::max(1, Round(os2->yStrikeoutSize * scale));
    m.strikeTop = Round(os2->yStrikeoutPosition * scale);
  } else {
    m.strikeSize = m.underlineSize;
    m.strikeTop = Round(m.emY * 0.3);
  }
  const bool faceBold = (os2 && os2->usWeightClass >= kBoldWeight) || (face->style_flags & FT_STYLE_FLAG_BOLD);
  if (font.weight >= kBoldWeight && !faceBold) m.embolden = 1;
  m.oblique = font.italic && !(face->style_flags & FT_STYLE_FLAG_ITALIC);
  return m;
}

// Where pixels may be written: the clip within the surface, 32 or 1 bits.
class Painter {
 public:
  Painter(const Surface& s, const Clip& clip) : s_(s), clip_(clip) {
    left_ = std::max(clip.left, 0), top_ = std::max(clip.top, 0);
    right_ = std::min(clip.right, s.width), bottom_ = std::min(clip.bottom, s.height);
    if (!s.bits || (s.bitsPerPixel != 32 && s.bitsPerPixel != 1)) right_ = left_;
  }

  bool Empty() const { return left_ >= right_ || top_ >= bottom_; }
  std::int32_t left() const { return left_; }
  std::int32_t top() const { return top_; }
  std::int32_t right() const { return right_; }
  std::int32_t bottom() const { return bottom_; }

  void Put(std::int64_t x, std::int64_t y, std::uint32_t colour) const {
    if (x < left_ || x >= right_ || y < top_ || y >= bottom_) return;
    if (!clip_.Allows(std::int32_t(x), std::int32_t(y))) return;
    const unsigned red = colour & 0xFF, green = (colour >> 8) & 0xFF, blue = (colour >> 16) & 0xFF;
    std::uint8_t* row = s_.Row(y);
    if (s_.bitsPerPixel == 32) {
      std::uint8_t* p = row + x * 4;
      p[0] = std::uint8_t(blue), p[1] = std::uint8_t(green), p[2] = std::uint8_t(red), p[3] = 0;
    } else {
      const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
      if (IsNearerWhite(blue, green, red)) row[x >> 3] |= bit;
      else row[x >> 3] &= static_cast<std::uint8_t>(~bit);
    }
  }

 private:
  const Surface& s_;
  const Clip& clip_;
  std::int32_t left_, top_, right_, bottom_;
};

// The baseline's frame: `origin` is where the run starts on its baseline,
// `u` the baseline's direction and `d` the direction towards the descent,
// both unit vectors in device pixels (y down).
struct Frame {
  double ox, oy, ux, uy, dx, dy;
};

// Fills the box [s0, s1) along the baseline by [t0, t1) towards the descent:
// the pixels whose centres lie inside.
void FillBox(const Painter& painter, const Frame& f, double s0, double s1, double t0, double t1, std::uint32_t colour) {
  if (s1 <= s0 || t1 <= t0) return;
  constexpr double kFar = std::numeric_limits<double>::infinity();
  double minX = kFar, minY = kFar, maxX = -kFar, maxY = -kFar;
  for (double s : {s0, s1})
    for (double t : {t0, t1}) {
      const double x = f.ox + s * f.ux + t * f.dx, y = f.oy + s * f.uy + t * f.dy;
      minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
  const auto x0 = std::int64_t(std::max<double>(std::floor(minX), painter.left()));
  const auto x1 = std::int64_t(std::min<double>(std::ceil(maxX), painter.right()));
  const auto y0 = std::int64_t(std::max<double>(std::floor(minY), painter.top()));
  const auto y1 = std::int64_t(std::min<double>(std::ceil(maxY), painter.bottom()));
  for (std::int64_t y = y0; y < y1; ++y)
    for (std::int64_t x = x0; x < x1; ++x) {
      const double px = x + 0.5 - f.ox, py = y + 0.5 - f.oy;
      const double s = px * f.ux + py * f.uy, t = px * f.dx + py * f.dy;
      if (s >= s0 && s < s1 && t >= t0 && t < t1) painter.Put(x, y, colour);
    }
}

struct Glyph {
  FT_Face face = nullptr;
  FT_UInt index = 0;
  double start = 0;  // along the baseline from the run's start
};

// Loads a glyph's hinted outline, sheared and rotated by `matrix` when
// `transform`. False when the glyph has no outline.
bool LoadOutline(Fonts& fonts, const Glyph& g, const Metrics& m, const FT_Matrix& matrix, bool transform) {
  if (!fonts.Activate(g.face, m.emX, m.emY)) return false;
  if (FT_Load_Glyph(g.face, g.index, FT_LOAD_TARGET_MONO | FT_LOAD_NO_BITMAP) != 0) return false;
  FT_GlyphSlot slot = g.face->glyph;
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return false;
  if (transform) FT_Outline_Transform(&slot->outline, &matrix);
  return true;
}

}  // namespace

double DrawText(const Surface& target, const Clip& clip, const TextFont& font, const TextRun& run) {
  if (!std::isfinite(run.x) || !std::isfinite(run.y)) return 0;
  Fonts& fonts = Fonts::Get();
  std::lock_guard<std::mutex> hold(fonts.lock);
  FT_Face face = fonts.Find(font);
  const Metrics m = face ? Measure(face, font) : Metrics{};

  // Lay the run out: a glyph per character, from the linked face where the
  // chosen one lacks it.
  const std::size_t units = std::min(run.text.size(), kMaxUnits);
  std::vector<Glyph> glyphs;
  double advance = 0;
  for (std::size_t i = 0; i < units; ++i) {
    char32_t c = run.text[i];
    std::size_t n = 1;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && run.text[i + 1] >= 0xDC00 && run.text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (run.text[i + 1] - 0xDC00);
      n = 2;
    }
    Glyph g{face, 0, advance};
    if (face) {
      g.index = FT_Get_Char_Index(face, c);
      if (g.index == 0) {
        if (FT_Face linked = fonts.Linked(); linked && linked != face) {
          if (FT_UInt index = FT_Get_Char_Index(linked, c)) g.face = linked, g.index = index;
        }
      }
    }
    double step = 0;
    if (!run.dx.empty()) {
      for (std::size_t k = i; k < i + n; ++k) step += k < run.dx.size() ? run.dx[k] : 0;
    } else if (face && fonts.Activate(g.face, m.emX, m.emY) &&
               FT_Load_Glyph(g.face, g.index, FT_LOAD_TARGET_MONO | FT_LOAD_NO_BITMAP) == 0) {
      step = g.face->glyph->advance.x / 64.0 + m.embolden;
    }
    if (face) glyphs.push_back(g);
    advance += step;
    i += n - 1;
  }

  const Painter painter(target, clip);
  if (painter.Empty()) return advance;

  const double angle = font.escapement / 10.0 * std::numbers::pi / 180.0;
  const double cs = std::cos(angle), sn = std::sin(angle);
  Frame f{run.x, run.y, cs, -sn, sn, cs};
  const std::uint32_t horizontal = run.align & kAlignHorizontal, vertical = run.align & kAlignVertical;
  const double shiftS = horizontal == kAlignCenter  ? -std::floor(advance / 2)
                        : horizontal == kAlignRight ? -advance
                                                    : 0;
  const double shiftT = vertical == kAlignBaseline ? 0 : vertical == kAlignBottom ? -m.descent : m.ascent;
  f.ox += shiftS * f.ux + shiftT * f.dx;
  f.oy += shiftS * f.uy + shiftT * f.dy;

  if (run.opaque) FillBox(painter, f, 0, advance, -m.ascent, m.descent, run.background);

  // Rotation by the escapement after the oblique shear, in FreeType's y-up
  // coordinates.
  const FT_Fixed shear = m.oblique ? kObliqueShear : 0;
  const auto fixed = [](double v) { return FT_Fixed(std::lround(v * 65536)); };
  const FT_Matrix matrix{fixed(cs), fixed(cs * shear / 65536.0 - sn), fixed(sn), fixed(sn * shear / 65536.0 + cs)};
  const bool transform = m.oblique || font.escapement % 3600 != 0;
  const double reach = 2 * std::max(m.emX, m.emY) + m.embolden;  // no ink farther than this from the pen
  const std::int64_t boldX = std::lround(f.ux), boldY = std::lround(f.uy);  // the overstrike's pixel
  for (const Glyph& g : glyphs) {
    const double penX = std::floor(f.ox + g.start * f.ux + 0.5), penY = std::floor(f.oy + g.start * f.uy + 0.5);
    if (penX + reach < painter.left() || penX - reach > painter.right() || penY + reach < painter.top() ||
        penY - reach > painter.bottom())
      continue;
    if (!LoadOutline(fonts, g, m, matrix, transform)) continue;
    FT_GlyphSlot slot = g.face->glyph;
    FT_BBox box;
    FT_Outline_Get_CBox(&slot->outline, &box);
    const int bold = m.embolden;
    if (penX + std::floor(box.xMin / 64.0) - bold >= painter.right() ||
        penX + std::ceil(box.xMax / 64.0) + bold <= painter.left() ||
        penY - std::ceil(box.yMax / 64.0) - bold >= painter.bottom() ||
        penY - std::floor(box.yMin / 64.0) + bold <= painter.top())
      continue;
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0 || slot->bitmap.pixel_mode != FT_PIXEL_MODE_MONO) continue;
    const FT_Bitmap& bitmap = slot->bitmap;
    const auto gx = std::int64_t(penX) + slot->bitmap_left, gy = std::int64_t(penY) - slot->bitmap_top;
    for (unsigned r = 0; r < bitmap.rows; ++r) {
      const unsigned char* bits =
          bitmap.buffer + (bitmap.pitch >= 0 ? std::ptrdiff_t(r) * bitmap.pitch
                                             : std::ptrdiff_t(bitmap.rows - 1 - r) * -bitmap.pitch);
      for (unsigned c = 0; c < bitmap.width; ++c) {
        if (!(bits[c >> 3] & (0x80 >> (c & 7)))) continue;
        painter.Put(gx + c, gy + r, run.colour);
        if (m.embolden) painter.Put(gx + c + boldX, gy + r + boldY, run.colour);
      }
    }
  }

  if (font.underline) FillBox(painter, f, 0, advance, m.underlineTop, m.underlineTop + m.underlineSize, run.colour);
  if (font.strikeOut) FillBox(painter, f, 0, advance, -m.strikeTop, -m.strikeTop + m.strikeSize, run.colour);
  return advance;
}

}  // namespace graphics::metafile
