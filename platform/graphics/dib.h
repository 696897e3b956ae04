// Device-independent bitmaps: the header, bit masks and colour table that a
// BMP file and an icon's entries share, and their uncompressed pixel rows,
// read with a bounds check on every access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/graphics/picture.h"

namespace graphics::dib {

inline constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6;

// One colour channel given by a bit mask: the masked value scaled to 0-255.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;

  explicit Channel(std::uint32_t m = 0) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    max = m >> shift;
  }
  std::uint8_t Get(std::uint32_t pixel, std::uint8_t none) const {
    if (!mask) return none;
    const std::uint64_t v = (pixel & mask) >> shift;
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
  }
};

struct Layout {
  std::int64_t width = 0, height = 0;
  bool topDown = false;
  unsigned bpp = 0;
  std::uint32_t compression = 0;
  Channel red, green, blue, alpha;
  std::uint8_t palette[256][4] = {};  // blue, green, red, 0
  // Where the header, its masks and the colour table end: the pixel rows of
  // a DIB held in one block (an icon's entry) start here.
  std::size_t tableEnd = 0;
  // Where the pixel rows start; the caller sets it.
  std::size_t pixelOffset = 0;
};

// Reads the header that starts at `headerAt` in `f` (BITMAPCOREHEADER of 12
// bytes, or BITMAPINFOHEADER of 40 bytes or more with its later forms), the
// bit masks and the colour table. Decoded variants: 1, 4 and 8 bits through
// the colour table, 16 bits (5-5-5 or bit fields), 24 and 32 bits, RLE8 and
// RLE4 (bottom-up only). Ok; GenericError for a header or table that does not
// fit in `f` or a size below 1; UnknownImageFormat for other variants.
GpStatus ReadLayout(std::span<const std::uint8_t> f, std::size_t headerAt, Layout& l);

// Uncompressed rows of `l` at l.pixelOffset in `f`, into the colour rows of
// `p` (allocated at l.width x l.height) and, where l.alpha has a mask, into
// its alpha plane; FinishAlpha is the caller's. GenericError when the rows
// do not fit in `f`.
GpStatus DecodeRows(std::span<const std::uint8_t> f, const Layout& l, Picture& p);

// The bytes of one row of `width` pixels at `bpp` bits, padded to 4 bytes.
inline std::uint64_t Stride(std::int64_t width, unsigned bpp) {
  return (std::uint64_t(width) * bpp + 31) / 32 * 4;
}

}  // namespace graphics::dib
