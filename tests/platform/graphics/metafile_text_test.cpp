// Metafile text: where the glyphs land by the LOGFONT height and alignment
// rules, monochrome colour, the opaque cell box, the clip, and the fonts the
// face names find. Needs the fonts scripts/install-deps installs.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "platform/graphics/metafile_text.h"

namespace {

using graphics::metafile::Clip;
using graphics::metafile::DrawText;
using graphics::metafile::TextFont;
using graphics::metafile::TextRun;

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
    const std::uint8_t* p = s.Row(y) + x * 4;
    return p[2] | p[1] << 8 | p[0] << 16 | p[3] << 24;
  }
  struct Box { int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN; };  // inclusive
  Box Ink(std::uint32_t colour = kRed) const {
    Box b;
    for (int y = 0; y < s.height; ++y)
      for (int x = 0; x < s.width; ++x)
        if (At(x, y) == colour)
          b = {std::min(b.left, x), std::min(b.top, y), std::max(b.right, x), std::max(b.bottom, y)};
    return b;
  }
  double Draw(const std::u16string& text, TextFont font, double x, double y, std::uint32_t align, bool opaque = false,
              Clip clip = {0, 0, 1 << 20, 1 << 20}) {
    return DrawText(s, clip, font, TextRun{text, {}, x, y, align, kRed, opaque, kBlue});
  }
  std::vector<std::uint8_t> bits;
  graphics::Surface s;
};

TextFont Font(std::int32_t height, std::u16string face = u"Arial") {
  TextFont f;
  f.face = face, f.height = height;
  return f;
}

TEST(MetafileText, HeightAndAlignmentPlaceTheInk) {
  // A positive height is the cell: the text is the same whether its top or its bottom is given.
  Canvas top, bottom, baseline, negative(160, 100, true);
  top.Draw(u"H", Font(40), 20, 10, kTop);
  bottom.Draw(u"H", Font(40), 20, 50, kBottom);
  EXPECT_EQ(top.bits, bottom.bits);
  baseline.Draw(u"H", Font(40), 20, 60, kBaseline);
  EXPECT_EQ(baseline.Ink().bottom, 59);  // sits on the row above the baseline
  // A negative height is the em, larger than the cell's em; bottom-up rows take the same glyphs.
  negative.Draw(u"H", Font(-40), 20, 60, kBaseline);
  const int capCell = baseline.Ink().bottom - baseline.Ink().top + 1, capEm = negative.Ink().bottom - negative.Ink().top + 1;
  EXPECT_GT(capEm, capCell);
  EXPECT_NEAR(capEm, 0.7 * 40, 2.5);
  EXPECT_EQ(negative.Ink().bottom, 59);
  std::vector<int> stems;  // the row through the H's upper half crosses its two stems
  for (int x = 0, y = negative.Ink().top + capEm / 4; x < negative.s.width; ++x)
    if (negative.At(x, y) == kRed && negative.At(x - 1, y) != kRed) stems.push_back(x);
    else if (negative.At(x, y) != kRed && negative.At(x - 1, y) == kRed) stems.back() = x - stems.back();
  ASSERT_EQ(stems.size(), 2u);
  EXPECT_TRUE(stems[0] >= 3 && stems[0] <= 6 && stems[0] == stems[1]) << stems[0] << " " << stems[1];

  Canvas right, center;
  const double advance = right.Draw(u"HH", Font(-30), 120, 50, kRight | kBaseline);
  EXPECT_LE(right.Ink().right, 119);
  EXPECT_GE(right.Ink().right, 115);
  EXPECT_NEAR(right.Ink().left, 120 - advance, 4);
  center.Draw(u"HH", Font(-30), 80, 50, kCenter | kBaseline);
  EXPECT_NEAR((center.Ink().left + center.Ink().right) / 2.0, 80, 2);
}

TEST(MetafileText, OnlyTheTextColourInsideTheOpaqueCellBox) {
  Canvas c;
  TextFont font = Font(30, u"Times New Roman");
  font.underline = true;
  const double advance = c.Draw(u"Wg", font, 30, 20, kTop, true);
  ASSERT_GT(advance, 20);
  int red = 0;
  for (int y = 0; y < c.s.height; ++y)
    for (int x = 0; x < c.s.width; ++x) {
      const bool inBox = x >= 30 && x < 30 + advance && y >= 20 && y < 50;
      const std::uint32_t p = c.At(x, y);
      red += p == kRed;
      if (inBox) EXPECT_TRUE(p == kRed || p == kBlue) << x << "," << y;
      else EXPECT_EQ(p, kGrey) << x << "," << y;
    }
  EXPECT_GT(red, 60);
}

TEST(MetafileText, NothingOutsideTheClipAndItsMask) {
  Canvas c;
  std::vector<std::uint8_t> mask(40 * 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) mask[y * 40 + x] = (x + y) % 2;
  c.Draw(u"MMMM", Font(-60), 0, 0, kTop, true, Clip{50, 20, 90, 50, mask.data(), 40});
  int drawn = 0;
  for (int y = 0; y < c.s.height; ++y)
    for (int x = 0; x < c.s.width; ++x) {
      const bool allowed = x >= 50 && x < 90 && y >= 20 && y < 50 && (x - 50 + y - 20) % 2;
      if (!allowed) EXPECT_EQ(c.At(x, y), kGrey) << x << "," << y;
      else drawn += c.At(x, y) != kGrey;
    }
  EXPECT_EQ(drawn, 20 * 30);
}

TEST(MetafileText, EveryFaceFindsAFont) {
  Canvas unknown, chinese, linked;
  unknown.Draw(u"Ab", Font(-30, u"No Such Face Zq"), 10, 10, kTop);
  EXPECT_GT(unknown.Ink().right, unknown.Ink().left + 10);
  TextFont gb = Font(-30, u"宋体");
  gb.charSet = 134;
  chinese.Draw(u"中文", gb, 10, 10, kTop);
  EXPECT_GT(chinese.Ink().right - chinese.Ink().left, 40);
  linked.Draw(u"中文", Font(-30), 10, 10, kTop);  // Arial lacks them: the Chinese font gives them
  EXPECT_GT(linked.Ink().right - linked.Ink().left, 40);
}

TEST(MetafileText, RotatedBoldItalicAndHostileSizesStayInBounds) {
  Canvas up, hostile(50, 50);
  TextFont font = Font(-20);
  font.escapement = 900, font.weight = 700, font.italic = true;
  up.Draw(u"HHHH", font, 40, 90, kBaseline);
  EXPECT_GT(up.Ink().bottom - up.Ink().top, 2 * (up.Ink().right - up.Ink().left));
  EXPECT_LE(up.Ink().right, 40);  // the glyphs stand on the baseline, which runs upwards

  for (std::int32_t h : {INT_MIN, INT_MAX, -100000, 1})
    hostile.Draw(u"W\xD800x", TextFont{u"Arial", h, INT_MAX, -123456}, 25, 25, kCenter, true, {-5, -5, 99, 99});
  EXPECT_EQ(hostile.Draw(u"", Font(-20), 0, 0, kTop), 0);
  EXPECT_EQ(hostile.Draw(u"x", Font(-20), NAN, 0, kTop), 0);
}

}  // namespace
