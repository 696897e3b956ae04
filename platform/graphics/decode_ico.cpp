// Icon (.ico) and cursor (.cur) files: a directory (ICONDIR: reserved 0,
// type 1 for an icon or 2 for a cursor, the entry count) of 16-byte entries
// (ICONDIRENTRY), each naming the bytes of one picture in the file: a PNG
// file, or a DIB without its file header whose height counts the colour rows
// and the 1-bit AND mask that follows them.
//
// Which entry: GDI+ loads an icon file as an image of one frame, and Microsoft
// does not say which of the directory's entries that frame is (the "smallest
// image" rule documented for System.Drawing's Icon class belongs to that
// class, not to the image decoder). The icon codec of the Windows Imaging
// Component exposes the directory's entries as the file's frames, so the one
// frame is taken to be frame 0: the first entry of the directory. That is the
// entry decoded here, whatever its size or depth. The directory must be
// whole, but the other entries are not looked at: a first entry that is
// damaged fails the decode even when another would decode.
//
// The picture's size is the one its own data gives (the PNG header, or the
// DIB's width and half its height); the directory's width, height, colour
// count, planes and bit count (a cursor's hotspot) are not used, so a
// directory that disagrees with its entry changes nothing. The entry's offset
// and size must lie within the file and the entry is decoded from those bytes
// only: data that needs more is truncated.
//
// DIB entries (a 12-byte core header or a BITMAPINFOHEADER and its later
// forms): uncompressed (BI_RGB) rows of 1, 4 or 8 bits through the colour
// table, 16 bits (5-5-5), 24 or 32 bits, bottom-up. GDI+ documents no list of
// icon depths; an uncompressed 16-bit DIB is as plain a DIB as the others and
// the shared DIB code reads it, so it is taken too. The AND mask gives the
// transparency (bit 1: transparent, 0: opaque), except in a 32-bit entry whose
// fourth bytes are not all zero: those bytes are then the alpha of straight
// (not premultiplied) colour and the mask is ignored. Compressed DIB entries
// (RLE, bit fields, the JPEG and PNG compression codes) and top-down DIBs are
// not decoded: UnknownImageFormat. An odd DIB height (colour and mask of
// different heights), a header that does not fit, and colour rows or a mask
// cut short are GenericError. PNG entries (the data starts with the PNG
// signature) are decoded as PNG files, with their own statuses and their alpha
// as decoded.
//
// The limits of picture.h are checked from the entry's header and the rows'
// size against the entry's bytes, both before the picture is allocated, so a
// claimed size that the data cannot hold costs no memory.
#include <cstring>

#include "platform/graphics/dib.h"
#include "platform/graphics/picture.h"
#include "host/little_endian.h"

namespace graphics {
namespace {

constexpr std::size_t kDirectorySize = 6, kEntrySize = 16;
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

using host::Le16;
using host::Le32;

GpStatus DecodeDibEntry(std::span<const std::uint8_t> d, Picture& out) {
  dib::Layout l;
  if (GpStatus s = dib::ReadLayout(d, 0, l); s != Gdiplus::Ok) return s;
  if (l.compression != dib::kRgb || l.topDown)
    return Failed(Gdiplus::UnknownImageFormat, "icon: a compressed or top-down BMP entry");
  if (l.height % 2 != 0) return Failed(Gdiplus::GenericError, "icon: an odd height (no room for the mask)");
  l.height /= 2;
  if (std::uint64_t(l.width) * std::uint64_t(l.height) > kMaxPixels)
    return Failed(Gdiplus::OutOfMemory, "icon: more pixels than a picture may have");

  // The colour rows follow the colour table; the mask rows follow them.
  l.pixelOffset = l.tableEnd;
  const std::uint64_t colourBytes = dib::Stride(l.width, l.bpp) * std::uint64_t(l.height);
  const std::uint64_t maskStride = dib::Stride(l.width, 1);
  if (colourBytes + maskStride * std::uint64_t(l.height) > d.size() - l.pixelOffset)
    return Failed(Gdiplus::GenericError, "icon: the entry ends before its last row of colours or mask");

  if (l.bpp == 32) l.alpha = dib::Channel(0xFF000000);
  if (GpStatus s = AllocatePicture(out, l.width, l.height, true); s != Gdiplus::Ok) return s;
  if (GpStatus s = dib::DecodeRows(d, l, out); s != Gdiplus::Ok) return s;

  const std::size_t pixels = std::size_t(out.width) * std::size_t(out.height);
  bool alphaBytes = false;
  if (l.bpp == 32)
    for (std::size_t i = 0; i < pixels && !alphaBytes; ++i) alphaBytes = out.alpha[i] != 0;
  if (!alphaBytes) {
    const std::uint8_t* mask = d.data() + l.pixelOffset + colourBytes;
    for (std::int32_t fileRow = 0; fileRow < out.height; ++fileRow) {
      const std::uint8_t* bits = mask + std::size_t(fileRow) * maskStride;
      std::uint8_t* a = out.alpha.get() + std::size_t(out.height - 1 - fileRow) * out.width;
      for (std::int32_t x = 0; x < out.width; ++x)
        a[x] = (bits[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 255;
    }
  }
  FinishAlpha(out);
  return Gdiplus::Ok;
}

}  // namespace

GpStatus DecodeIco(std::span<const std::uint8_t> file, Picture& out) {
  if (file.size() < kDirectorySize || Le16(&file[0]) != 0)
    return Failed(Gdiplus::UnknownImageFormat, "icon: no icon directory");
  const std::uint32_t type = Le16(&file[2]), count = Le16(&file[4]);
  if ((type != 1 && type != 2) || count == 0)
    return Failed(Gdiplus::UnknownImageFormat, "icon: neither an icon nor a cursor, or no entries");
  // The whole directory must be there, though only its first entry is used.
  if (file.size() - kDirectorySize < std::size_t(count) * kEntrySize)
    return Failed(Gdiplus::GenericError, "icon: the file ends inside the directory");

  // ICONDIRENTRY: width and height bytes (0 meaning 256), colour count,
  // reserved byte, planes and bit count (a cursor's hotspot), then the two
  // fields used here: the entry's size and its offset in the file.
  const std::uint8_t* e = &file[kDirectorySize];
  const std::uint32_t bytes = Le32(e + 8), offset = Le32(e + 12);
  if (offset > file.size() || bytes > file.size() - offset)
    return Failed(Gdiplus::GenericError, "icon: the first entry lies past the end of the file");
  const std::span<const std::uint8_t> data = file.subspan(offset, bytes);

  if (data.size() >= sizeof kPngSignature &&
      std::memcmp(data.data(), kPngSignature, sizeof kPngSignature) == 0)
    return DecodePng(data, out);
  return DecodeDibEntry(data, out);
}

}  // namespace graphics
