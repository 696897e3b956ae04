// Metafile text: where the glyphs land by the LOGFONT height and alignment
// rules, monochrome colour, the opaque cell box, the clip, and the fonts the
// face names find. Needs the fonts scripts/install-deps installs.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <vector>

#include "platform/graphics/metafile_text.h"

namespace {

using namespace graphics::metafile;

constexpr std::uint32_t kGrey = 0x00808080, kRed = 0x000000FF, kBlue = 0x00FF0000;
constexpr std::uint32_t kTop = 0, kRight = 2, kCenter = 6, kBottom = 8, kBaseline = 24;

// A 32-bit canvas of kGrey, optionally kept bottom-up in memory.
struct Canvas {
  explicit Canvas(int w = 160, int h = 100, bool bottomUp = false) : bits(std::size_t(w) * h * 4, 0x80) {
    s = {bits.data(), w, h, 32, std::ptrdiff_t(w) * 4};
    for (std::size_t i = 3; i < bits.size(); i += 4) bits[i] = 0;
    if (bottomUp) s.bits += (h - 1) * s.stride, s.stride = -s.stride;
  }
  std::uint32_t At(int x, int y) const {  // as a COLORREF
    return s.Row(y)[x * 4 + 2] | s.Row(y)[x * 4 + 1] << 8 | s.Row(y)[x * 4] << 16;
  }
  std::array<int, 4> Ink() const {  // left, top, right, bottom of the kRed pixels, inclusive
    std::array<int, 4> b{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (int y = 0; y < s.height; ++y)
      for (int x = 0; x < s.width; ++x)
        if (At(x, y) == kRed) b = {std::min(b[0], x), std::min(b[1], y), std::max(b[2], x), std::max(b[3], y)};
    return b;
  }
  double Draw(const std::u16string& text, TextFont font, double x, double y, std::uint32_t align, bool opaque = false,
              Clip clip = {0, 0, 1 << 20, 1 << 20}, std::vector<std::int32_t> dx = {}) {
    return DrawText(s, clip, font, TextRun{text, dx, x, y, align, kRed, opaque, kBlue});
  }
  std::vector<std::uint8_t> bits;
  graphics::Surface s;
};

TextFont Font(std::int32_t height, std::u16string face = u"Arial") { return TextFont{face, height}; }

TEST(MetafileText, HeightAndAlignmentPlaceTheInk) {
  // A positive height is the cell: the text is the same whether its top or its bottom is given.
  Canvas top, bottom, cell, em(160, 100, true);
  top.Draw(u"H", Font(40), 20, 10, kTop);
  bottom.Draw(u"H", Font(40), 20, 50, kBottom);
  EXPECT_EQ(top.bits, bottom.bits);
  // A negative height is the em, larger than the cell's em; both sit on the row above the baseline.
  cell.Draw(u"H", Font(40), 20, 60, kBaseline);
  em.Draw(u"H", Font(-40), 20, 60, kBaseline);  // bottom-up rows
  const int capCell = cell.Ink()[3] - cell.Ink()[1] + 1, capEm = em.Ink()[3] - em.Ink()[1] + 1;
  EXPECT_TRUE(cell.Ink()[3] == 59 && em.Ink()[3] == 59);
  EXPECT_GT(capEm, capCell);
  EXPECT_NEAR(capEm, 0.7 * 40, 2.5);
  std::vector<int> stems;  // the row through the H's upper half crosses its two stems
  for (int x = 1, y = em.Ink()[1] + capEm / 4; x < em.s.width; ++x)
    if (em.At(x, y) == kRed && em.At(x - 1, y) != kRed) stems.push_back(x);
    else if (em.At(x, y) != kRed && em.At(x - 1, y) == kRed) stems.back() = x - stems.back();
  ASSERT_EQ(stems.size(), 2u);
  EXPECT_TRUE(stems[0] >= 3 && stems[0] <= 6 && stems[0] == stems[1]) << stems[0] << " " << stems[1];

  Canvas right, spaced;
  const double advance = right.Draw(u"HH", Font(-30), 120, 50, kRight | kBaseline);
  EXPECT_TRUE(right.Ink()[2] <= 119 && right.Ink()[2] >= 115) << right.Ink()[2];
  EXPECT_NEAR(right.Ink()[0], 120 - advance, 4);
  EXPECT_EQ(spaced.Draw(u"HH", Font(-30), 10, 50, kBaseline, false, {0, 0, 999, 999}, {60, 5}), 65);
  EXPECT_EQ(spaced.Ink()[2] - spaced.Ink()[0], right.Ink()[2] - right.Ink()[0] + 60 - advance / 2);
}

TEST(MetafileText, OnlyTheTextColourInTheOpaqueCellBoxWhereTheClipAllows) {
  Canvas c;
  TextFont font = Font(30, u"Times New Roman");
  font.underline = true;
  std::vector<std::uint8_t> mask(40 * 80);  // a checkerboard over [20, 60) x [10, 90)
  for (std::size_t i = 0; i < mask.size(); ++i) mask[i] = (i % 40 + i / 40) % 2;
  const double advance = c.Draw(u"Wg", font, 30, 20, kTop, true, Clip{20, 10, 60, 90, mask.data(), 40});
  ASSERT_GT(advance, 35);
  int red = 0;
  for (int y = 0; y < c.s.height; ++y)
    for (int x = 0; x < c.s.width; ++x) {
      const bool allowed = x >= 20 && x < 60 && y >= 10 && y < 90 && (x + y) % 2;
      const bool inBox = x >= 30 && x < 30 + advance && y >= 20 && y < 50;  // the 30-pixel cell
      const std::uint32_t p = c.At(x, y);
      red += p == kRed;
      if (allowed && inBox) EXPECT_TRUE(p == kRed || p == kBlue) << x << "," << y;
      else EXPECT_EQ(p, kGrey) << x << "," << y;
    }
  EXPECT_GT(red, 40);
}

TEST(MetafileText, EveryFaceFindsAFont) {
  Canvas unknown, chinese, linked, bold;
  unknown.Draw(u"Ab", Font(-30, u"No Such Face Zq"), 10, 10, kTop);
  EXPECT_GT(unknown.Ink()[2], unknown.Ink()[0] + 10);
  TextFont gb = Font(-30, u"宋体");
  gb.charSet = 134;
  const double regular = chinese.Draw(u"中文", gb, 10, 10, kTop);
  EXPECT_GT(chinese.Ink()[2] - chinese.Ink()[0], 40);
  linked.Draw(u"中文", Font(-30), 10, 10, kTop);  // Arial lacks them: the Chinese font gives them
  EXPECT_GT(linked.Ink()[2] - linked.Ink()[0], 40);
  gb.weight = 700;  // the Chinese font has no bold: each glyph is drawn again a pixel on, a pixel wider
  EXPECT_EQ(bold.Draw(u"中文", gb, 10, 10, kTop), regular + 2);
  EXPECT_EQ(bold.Ink()[2], chinese.Ink()[2] + 2);
}

TEST(MetafileText, RotatedBoldItalicAndHostileSizesStayInBounds) {
  Canvas up, hostile(50, 50);
  TextFont font = Font(-20);
  font.escapement = 900, font.weight = 700, font.italic = true;
  up.Draw(u"HHHH", font, 40, 90, kBaseline);
  EXPECT_GT(up.Ink()[3] - up.Ink()[1], 2 * (up.Ink()[2] - up.Ink()[0]));
  EXPECT_LE(up.Ink()[2], 40);  // the glyphs stand on the baseline, which runs upwards

  for (std::int32_t h : {INT_MIN, INT_MAX, -100000, 1})
    hostile.Draw(u"W\xD800x", TextFont{u"Arial", h, INT_MAX, -123456}, 25, 25, kCenter, true, {-5, -5, 99, 99});
  EXPECT_EQ(hostile.Draw(u"", Font(-20), 0, 0, kTop), 0);
  EXPECT_EQ(hostile.Draw(u"x", Font(-20), NAN, 0, kTop), 0);

  std::vector<std::uint8_t> mono(4 * 30, 0xFF);  // 1 bit, white: dark text clears bits
  const graphics::Surface s{mono.data(), 32, 30, 1, 4};
  DrawText(s, {0, 0, 32, 30}, Font(-20), TextRun{u"II", {}, 2, 2, kTop, 0x00404040, false, 0});
  EXPECT_LT(std::count(mono.begin(), mono.end(), 0xFF), 4 * 30);
}

}  // namespace
