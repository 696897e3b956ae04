// BMP files, parsed here with a bounds check on every read; the DIB header,
// colour table and uncompressed rows are shared with icon entries (dib.h).
//
// Decoded: headers of 12 bytes (OS/2 1.x) and of 40 bytes or more (Windows,
// including the 52-, 56-, 108- and 124-byte forms with their masks);
// 1, 4 and 8 bits per pixel through the colour table (an index beyond the
// table is black), RLE8 and RLE4; 16 bits (5-5-5 or bit fields), 24 bits, and
// 32 bits (the fourth byte is ignored unless bit fields give an alpha mask);
// bottom-up and top-down rows. Pixels that RLE data skips (deltas, early ends
// of lines or of the picture) are transparent, so drawing leaves what lies
// below, as GDI leaves them. Pixel data that ends early, and RLE data that ends
// before its end marker or its last line, fail the decode (GenericError); other compressions (JPEG,
// PNG, Huffman), OS/2 2.x compression codes, other depths and top-down RLE are
// UnknownImageFormat.
#include <algorithm>
#include <cstring>

#include "platform/graphics/dib.h"
#include "platform/graphics/picture.h"
#include "host/little_endian.h"

namespace graphics {
namespace dib {
using host::Le16;
using host::Le32;

GpStatus ReadLayout(std::span<const std::uint8_t> f, std::size_t headerAt, Layout& l) {
  if (f.size() < headerAt + 12) return Failed(Gdiplus::GenericError, "DIB: the file ends inside the header");
  const std::uint32_t headerSize = Le32(&f[headerAt]);
  if (headerSize > f.size() - headerAt)
    return Failed(Gdiplus::GenericError, "DIB: the header is longer than the file");
  const std::uint8_t* h = &f[headerAt];
  std::size_t paletteEntry = 4;
  std::uint32_t colours = 0;
  if (headerSize == 12) {
    l.width = Le16(h + 4);
    l.height = Le16(h + 6);
    l.bpp = Le16(h + 10);
    paletteEntry = 3;
  } else if (headerSize >= 40) {
    l.width = host::LeSigned32(h + 4);
    l.height = host::LeSigned32(h + 8);
    l.bpp = Le16(h + 14);
    l.compression = Le32(h + 16);
    colours = Le32(h + 32);
    if (headerSize == 64 && l.compression != kRgb)
      return Failed(Gdiplus::UnknownImageFormat, "DIB: an OS/2 2.x compression code");
  } else {
    return Failed(Gdiplus::GenericError, "DIB: a header size that no DIB has");
  }
  if (l.height < 0) {
    l.topDown = true;
    l.height = -l.height;
  }
  if (l.width < 1 || l.height < 1)
    return Failed(Gdiplus::GenericError, "DIB: no pixels (width or height below 1)");

  std::size_t at = headerAt + headerSize;
  const bool bitfields = l.compression == kBitfields || l.compression == kAlphaBitfields;
  if (bitfields) {
    if (l.bpp != 16 && l.bpp != 32)
      return Failed(Gdiplus::UnknownImageFormat, "DIB: bit fields at a depth other than 16 or 32");
    // Masks are part of headers of 52 bytes and more, else they follow it.
    const std::size_t maskAt = headerSize >= 52 ? headerAt + 40 : at;
    const std::size_t maskCount = l.compression == kAlphaBitfields || headerSize >= 56 ? 4 : 3;
    if (maskAt + 4 * maskCount > f.size())
      return Failed(Gdiplus::GenericError, "DIB: the file ends inside the colour masks");
    l.red = Channel(Le32(&f[maskAt]));
    l.green = Channel(Le32(&f[maskAt + 4]));
    l.blue = Channel(Le32(&f[maskAt + 8]));
    if (maskCount == 4) l.alpha = Channel(Le32(&f[maskAt + 12]));
    if (headerSize < 52) at += 4 * maskCount;
  } else if (l.compression == kRgb) {
    if (l.bpp == 16) l.red = Channel(0x7C00), l.green = Channel(0x03E0), l.blue = Channel(0x001F);
    if (l.bpp == 32) l.red = Channel(0xFF0000), l.green = Channel(0xFF00), l.blue = Channel(0xFF);
    if (l.bpp != 1 && l.bpp != 4 && l.bpp != 8 && l.bpp != 16 && l.bpp != 24 && l.bpp != 32)
      return Failed(Gdiplus::UnknownImageFormat, "DIB: a depth that is not decoded");
  } else if (!(l.compression == kRle8 && l.bpp == 8) && !(l.compression == kRle4 && l.bpp == 4)) {
    return Failed(Gdiplus::UnknownImageFormat, "DIB: a compression not decoded, or RLE at the wrong depth");
  }
  if ((l.compression == kRle8 || l.compression == kRle4) && l.topDown)
    return Failed(Gdiplus::UnknownImageFormat, "DIB: top-down RLE");

  if (l.bpp <= 8) {
    const std::uint32_t full = 1u << l.bpp;
    if (colours == 0 || colours > full) colours = full;
    if (at + colours * paletteEntry > f.size())
      return Failed(Gdiplus::GenericError, "DIB: the file ends inside the colour table");
    for (std::uint32_t i = 0; i < colours; ++i) std::memcpy(l.palette[i], &f[at + i * paletteEntry], 3);
    at += colours * paletteEntry;
  }
  l.tableEnd = at;
  return Gdiplus::Ok;
}

GpStatus DecodeRows(std::span<const std::uint8_t> f, const Layout& l, Picture& p) {
  const std::uint64_t stride = Stride(l.width, l.bpp);
  if (l.pixelOffset > f.size() || stride > (f.size() - l.pixelOffset) / std::uint64_t(l.height))
    return Failed(Gdiplus::GenericError, "DIB: the pixel rows end before the last one");
  const bool anyAlpha = l.alpha.mask != 0;
  for (std::int64_t fileRow = 0; fileRow < l.height; ++fileRow) {
    const std::uint8_t* src = &f[l.pixelOffset + std::size_t(fileRow) * stride];
    const std::int64_t y = l.topDown ? fileRow : l.height - 1 - fileRow;
    std::uint8_t* out = p.bgrx.get() + std::size_t(y) * p.width * 4;
    std::uint8_t* a = anyAlpha ? p.alpha.get() + std::size_t(y) * p.width : nullptr;
    for (std::int64_t x = 0; x < l.width; ++x, out += 4) {
      switch (l.bpp) {
        case 1:
          std::memcpy(out, l.palette[(src[x >> 3] >> (7 - (x & 7))) & 1], 4);
          break;
        case 4:
          std::memcpy(out, l.palette[(src[x >> 1] >> (x & 1 ? 0 : 4)) & 15], 4);
          break;
        case 8:
          std::memcpy(out, l.palette[src[x]], 4);
          break;
        case 24:
          out[0] = src[3 * x], out[1] = src[3 * x + 1], out[2] = src[3 * x + 2], out[3] = 0;
          break;
        default: {
          const std::uint32_t px = l.bpp == 16 ? Le16(src + 2 * x) : Le32(src + 4 * x);
          out[0] = l.blue.Get(px, 0), out[1] = l.green.Get(px, 0), out[2] = l.red.Get(px, 0);
          out[3] = 0;
          if (a) a[x] = l.alpha.Get(px, 255);
        }
      }
    }
  }
  return Gdiplus::Ok;
}

}  // namespace dib

namespace {

using dib::kRle4;
using dib::kRle8;
using dib::Layout;

// RLE8 and RLE4: runs and absolute runs of colour indices, bottom-up.
GpStatus DecodeRle(std::span<const std::uint8_t> f, const Layout& l, Picture& p) {
  std::memset(p.bgrx.get(), 0, std::size_t(p.width) * p.height * 4);
  std::memset(p.alpha.get(), 0, std::size_t(p.width) * p.height);
  const bool four = l.compression == kRle4;
  std::size_t i = l.pixelOffset;
  std::int64_t x = 0, y = 0;  // y counts from the bottom row
  auto put = [&](unsigned index) {
    if (x < p.width && y < p.height) {
      const std::size_t at = std::size_t(p.height - 1 - y) * p.width + std::size_t(x);
      std::memcpy(p.bgrx.get() + at * 4, l.palette[index], 4);
      p.alpha[at] = 255;
    }
    ++x;
  };
  while (y < l.height) {
    if (i + 2 > f.size())
      return Failed(Gdiplus::GenericError, "BMP: the RLE data ends before its end marker");
    const unsigned count = f[i], value = f[i + 1];
    i += 2;
    if (count > 0) {
      for (unsigned k = 0; k < count && x < l.width; ++k)
        put(four ? (k & 1 ? value & 15 : value >> 4) : value);
    } else if (value == 0) {
      x = 0, ++y;
    } else if (value == 1) {
      break;
    } else if (value == 2) {
      if (i + 2 > f.size()) return Failed(Gdiplus::GenericError, "BMP: the RLE data ends inside a delta");
      x += f[i], y += f[i + 1];
      i += 2;
    } else {
      const std::size_t bytes = four ? (value + 1) / 2 : value;
      if (i + bytes > f.size())
        return Failed(Gdiplus::GenericError, "BMP: the RLE data ends inside an absolute run");
      for (unsigned k = 0; k < value; ++k)
        put(four ? (k & 1 ? f[i + k / 2] & 15 : f[i + k / 2] >> 4) : f[i + k]);
      i += bytes + (bytes & 1);
    }
  }
  FinishAlpha(p);
  return Gdiplus::Ok;
}

}  // namespace

GpStatus DecodeBmp(std::span<const std::uint8_t> file, Picture& out) {
  // The 14-byte file header, then the DIB; bfOffBits gives where the pixel
  // data starts.
  Layout l;
  if (GpStatus s = dib::ReadLayout(file, 14, l); s != Gdiplus::Ok) return s;
  l.pixelOffset = host::Le32(&file[10]);
  if (l.pixelOffset > file.size()) {
    NoteTruncated();
    return Failed(Gdiplus::GenericError, "BMP: the pixel data starts past the end of the file");
  }
  const bool rle = l.compression == kRle8 || l.compression == kRle4;
  // Uncompressed rows must all be in the file: a header that claims more
  // than the file holds is refused before the picture's memory is taken.
  if (!rle) {
    if (std::uint64_t(l.width) * std::uint64_t(l.height) > kMaxPixels)
      return Failed(Gdiplus::OutOfMemory, "BMP: more pixels than a picture may have");
    if (dib::Stride(l.width, l.bpp) * std::uint64_t(l.height) > file.size() - l.pixelOffset) {
      NoteTruncated();
      return Failed(Gdiplus::GenericError, "BMP: the file ends before the last row of pixels");
    }
  }
  if (GpStatus s = AllocatePicture(out, l.width, l.height, rle || l.alpha.mask != 0);
      s != Gdiplus::Ok)
    return s;
  if (rle) return DecodeRle(file, l, out);
  if (GpStatus s = dib::DecodeRows(file, l, out); s != Gdiplus::Ok) return s;
  FinishAlpha(out);
  return Gdiplus::Ok;
}

}  // namespace graphics
