// A tiny 5 x 7 bitmap font for the text in the pictures that the asset tool
// draws (the placeholder's "NO DATA", place names on the sample map). Only
// upper-case letters, digits and a few signs; lower case is drawn as upper
// case and anything else as '?'.
#pragma once

#include <cstdint>
#include <string_view>

namespace mosalin_assets {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kGlyphAdvance = kGlyphWidth + 1;  // one blank column between glyphs

// The seven rows of a glyph, top first; bit 4 of each row is the leftmost column.
const std::uint8_t* GlyphRows(char c);

// True when the pixel (col, row) of the glyph is ink; outside the glyph is blank.
bool GlyphInk(char c, int col, int row);

// Width and height in pixels of `text` drawn at `scale` (no trailing gap).
int TextWidth(std::string_view text, int scale);
inline int TextHeight(int scale) { return kGlyphHeight * scale; }

}  // namespace mosalin_assets
