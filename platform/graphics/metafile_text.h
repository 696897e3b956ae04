// Text of a metafile (TextOut, ExtTextOut and their EMF records) drawn as GDI
// draws it: glyphs without anti-aliasing, from an installed font that the
// face name is mapped to (FreeType and fontconfig underneath).
//
// The metafile player turns a record's logical coordinates and font into
// device pixels of the target bitmap and calls DrawText; everything here is
// in those pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/graphics/surface.h"

namespace graphics::metafile {

// Where drawing may land: a rectangle of the target [left, right) x
// [top, bottom) and, within it, an optional mask (one byte per pixel,
// nonzero: drawable) whose rows of `maskStride` bytes start at the
// rectangle's top-left pixel.
struct Clip {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  const std::uint8_t* mask = nullptr;
  std::ptrdiff_t maskStride = 0;

  bool Allows(std::int32_t x, std::int32_t y) const {
    if (x < left || x >= right || y < top || y >= bottom) return false;
    return !mask || mask[(y - top) * maskStride + (x - left)] != 0;
  }
};

// A logical font (LOGFONT) with its sizes already in device pixels.
struct TextFont {
  std::u16string face;        // lfFaceName, UTF-16, without its terminator
  std::int32_t height = 0;    // < 0: character height; > 0: cell height; 0: a default size
  std::int32_t width = 0;     // average character width; 0: the face's own aspect
  std::int32_t escapement = 0;   // tenths of a degree, counter-clockwise from the x axis
  std::int32_t orientation = 0;  // tenths of a degree
  std::int32_t weight = 0;    // 0 (default) .. 1000; 700 bold
  bool italic = false, underline = false, strikeOut = false;
  std::uint8_t charSet = 0;   // lfCharSet
  std::uint8_t pitchAndFamily = 0;
};

// One run of text at a reference point.
struct TextRun {
  std::u16string text;            // UTF-16 code units (the player converts ANSI text)
  std::vector<std::int32_t> dx;   // advance after each code unit, pixels; empty: the font's own
  double x = 0, y = 0;            // the reference point
  std::uint32_t align = 0;        // TA_LEFT/TA_RIGHT/TA_CENTER | TA_TOP/TA_BOTTOM/TA_BASELINE
  std::uint32_t colour = 0;       // COLORREF of the glyphs (0x00BBGGRR)
  bool opaque = false;            // background mode OPAQUE: the text's cell box is filled first
  std::uint32_t background = 0;   // COLORREF of that fill
};

// Draws `run` in `font` onto the 32-bit `target`, only where `clip` allows.
// Returns the run's total advance in pixels along its baseline (for
// TA_UPDATECP). A face that maps to no installed font, or text of no glyphs,
// draws what it can and never fails.
double DrawText(const Surface& target, const Clip& clip, const TextFont& font, const TextRun& run);

}  // namespace graphics::metafile
