// TIFF through libtiff: the first image (directory) of a classic TIFF file.
// libtiff parses the directory and undoes the compression; the samples are
// turned into the picture here.
//
// Decoded: strips and tiles, contiguous and separate sample planes;
//  - bilevel and grey (MinIsWhite, MinIsBlack) of 1, 2, 4, 8 and 16 bits;
//  - palette of 1, 2, 4 and 8 bits (16-bit colour map entries, their high
//    byte, as TIFF defines them; no guessing at 8-bit maps);
//  - RGB of 8 and 16 bits;
//  - CMYK (Separated with InkSet CMYK) of 8 and 16 bits, as
//    R = (255 - C)(255 - K) / 255 (likewise G from M, B from Y), rounded;
//  - YCbCr of 8 bits: JPEG-compressed, converted by libjpeg (libtiff's RGB
//    colour mode), or otherwise with chroma blocks of 1, 2 or 4 either way
//    (each chroma pair covers its whole block), converted as TIFF defines it
//    with the file's YCbCrCoefficients and ReferenceBlackWhite (when the
//    latter is missing, the full-range coding of JPEG: 0-255, 128 +- 127);
//  - alpha from ExtraSamples (see Unpremultiply); extra samples of
//    unspecified meaning are ignored, as TIFF says they are not alpha.
// 16-bit samples keep their high byte, as the PNG decoder does. Rows are
// drawn as stored: the Orientation field is not applied (baseline readers
// need not apply it).
// Compressions: none, CCITT (modified Huffman, T.4, T.6), LZW and Deflate
// (both codes) with or without the horizontal predictor, PackBits, JPEG.
//
// Statuses: a picture beyond the limits of picture.h, or a strip or tile
// whose decode buffer would exceed kMaxBuffer, or both kSmallBuffer and 8
// bytes per pixel of the picture, is OutOfMemory before any pixel data is read. A header or
// directory libtiff cannot read, a strip or tile that does not decode, lies
// outside the file or holds too few rows: GenericError. BigTIFF, other
// photometric kinds, inks, sample formats, depths and compressions (old-style
// JPEG included): UnknownImageFormat.
//
// Safety: libtiff reads the file as a read-only mapping of the span (no
// copy, no temporary file), so a strip or tile whose data would lie past the
// end of the file fails before anything is allocated for it; libtiff's own
// allocations are capped at kMaxLibraryAlloc each. Each strip or tile is decoded into a
// buffer of exactly its size, so a compressed stream that would inflate
// further is never inflated further. Messages go to per-handle handlers that
// drop them; there is no global state, so decodes may run on several threads.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/graphics/picture.h"

namespace graphics {
namespace {

constexpr tmsize_t kMaxLibraryAlloc = tmsize_t(64) << 20;
constexpr std::uint64_t kMaxBuffer = std::uint64_t(256) << 20;
// Any picture may use decode buffers up to this, however small it is.
constexpr std::uint64_t kSmallBuffer = std::uint64_t(16) << 20;
// Colour samples and alpha of one pixel, 8 bits each, while a row is converted.
constexpr int kSlots = 5;
constexpr int kAlphaSlot = 4;

// The file as libtiff sees it.
struct Source {
  std::span<const std::uint8_t> file;
  std::uint64_t at = 0;
  bool dataEnded = false;  // libjpeg ran out of data inside a strip or tile
  std::string error;       // libtiff's last error message
};

// A failure of this decoder, its reason said as TIFF's.
GpStatus Refuse(GpStatus status, const std::string& reason) { return Failed(status, "TIFF: " + reason); }

Source& SourceOf(thandle_t h) { return *static_cast<Source*>(h); }

tmsize_t ReadProc(thandle_t h, void* buf, tmsize_t n) {
  Source& s = SourceOf(h);
  const std::uint64_t left = s.at < s.file.size() ? s.file.size() - s.at : 0;
  const std::uint64_t take = n > 0 ? std::min<std::uint64_t>(left, std::uint64_t(n)) : 0;
  if (take) std::memcpy(buf, s.file.data() + s.at, std::size_t(take));
  s.at += take;
  return tmsize_t(take);
}
tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return 0; }
toff_t SeekProc(thandle_t h, toff_t off, int whence) {
  Source& s = SourceOf(h);
  const std::uint64_t base = whence == SEEK_CUR ? s.at : whence == SEEK_END ? s.file.size() : 0;
  if (off > UINT64_MAX - base) return toff_t(-1);
  return s.at = base + off;
}
int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return SourceOf(h).file.size(); }
// libtiff only ever reads a mapping.
int MapProc(thandle_t h, void** base, toff_t* size) {
  Source& s = SourceOf(h);
  *base = const_cast<std::uint8_t*>(s.file.data());
  *size = s.file.size();
  return 1;
}
void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
  char text[200];
  std::vsnprintf(text, sizeof text, fmt, ap);
  static_cast<Source*>(user)->error = text;
  return 1;
}
// libjpeg goes on after the data ends and makes up the rest of the strip;
// like the JPEG decoder, that fails the decode. Other warnings are dropped.
int OnWarning(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  if (module && std::strcmp(module, "JPEGLib") == 0) {
    char text[200];
    std::vsnprintf(text, sizeof text, fmt, ap);
    if (std::strncmp(text, "Premature end of JPEG", 21) == 0) static_cast<Source*>(user)->dataEnded = true;
  }
  return 1;
}

struct CloseTiff {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
struct FreeOptions {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

struct Layout {
  std::uint32_t width = 0, height = 0;
  std::uint16_t photometric = 0, bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG;
  int colours = 0;  // colour samples of the photometric kind
  int alpha = -1;   // the alpha sample, or -1
  bool associated = false;
  std::uint16_t subH = 1, subV = 1;  // chroma blocks (uncompressed YCbCr)
  const std::uint16_t* map[3] = {};  // palette
  // YCbCr: per code, Y at full range and the red and blue terms of Cr and Cb.
  float y[256] = {}, redOfCr[256] = {}, blueOfCb[256] = {}, lumaRed = 0, lumaBlue = 0, lumaGreen = 1;
  bool tiled = false;
  std::uint32_t segWidth = 0, segRows = 0;  // tile size, or width and rows per strip

  bool Blocks() const { return subH * subV > 1; }
  // Bytes of one row (for chroma blocks: one row of blocks) of a segment.
  std::uint64_t Stride() const {
    if (Blocks()) return (std::uint64_t(segWidth) + subH - 1) / subH * (subH * subV + 2);
    const std::uint64_t perPixel = planar == PLANARCONFIG_CONTIG ? samples : 1;
    return (std::uint64_t(segWidth) * perPixel * bits + 7) / 8;
  }
  std::uint64_t StrideRows(std::uint32_t rows) const { return Blocks() ? (rows + subV - 1) / subV : rows; }
};

bool Supported(std::uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE: case COMPRESSION_CCITTRLE: case COMPRESSION_CCITT_T4:
    case COMPRESSION_CCITT_T6: case COMPRESSION_LZW: case COMPRESSION_JPEG:
    case COMPRESSION_ADOBE_DEFLATE: case COMPRESSION_DEFLATE: case COMPRESSION_PACKBITS:
      return TIFFIsCODECConfigured(compression) != 0;
    default:
      return false;
  }
}

// Codes to full range by ReferenceBlackWhite: Y = (code - black) * 255 /
// (white - black), Cb and Cr likewise with 127; then R = Cr (2 - 2 LumaRed) + Y
// and B = Cb (2 - 2 LumaBlue) + Y. False for fields that make no sense.
bool YCbCrTables(TIFF* t, Layout& l) {
  float *luma = nullptr, *bw = nullptr;
  TIFFGetFieldDefaulted(t, TIFFTAG_YCBCRCOEFFICIENTS, &luma);
  TIFFGetFieldDefaulted(t, TIFFTAG_REFERENCEBLACKWHITE, &bw);
  if (!luma || !bw) return false;
  for (int i = 0; i < 6; ++i)
    if (!std::isfinite(bw[i]) || (i % 2 && bw[i] == bw[i - 1])) return false;
  if (!std::isfinite(luma[0]) || !std::isfinite(luma[1]) || !std::isfinite(luma[2]) || luma[1] == 0) return false;
  l.lumaRed = luma[0], l.lumaGreen = luma[1], l.lumaBlue = luma[2];
  for (int c = 0; c < 256; ++c) {
    l.y[c] = (float(c) - bw[0]) * 255 / (bw[1] - bw[0]);
    l.blueOfCb[c] = (float(c) - bw[2]) * 127 / (bw[3] - bw[2]) * (2 - 2 * l.lumaBlue);
    l.redOfCr[c] = (float(c) - bw[4]) * 127 / (bw[5] - bw[4]) * (2 - 2 * l.lumaRed);
  }
  return true;
}

GpStatus ReadLayout(TIFF* t, Layout& l) {
  if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &l.width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &l.height) ||
      l.width == 0 || l.height == 0)
    return Refuse(Gdiplus::GenericError, "no width or height");
  if (std::uint64_t(l.width) * l.height > kMaxPixels)
    return Refuse(Gdiplus::OutOfMemory, "more pixels than a picture may have");

  std::uint16_t compression = 0, format = 0, extraCount = 0, inks = 0;
  std::uint16_t* extra = nullptr;
  if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &l.photometric))
    return Refuse(Gdiplus::GenericError, "no photometric interpretation");
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &l.bits);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &l.planar);
  TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
  TIFFGetFieldDefaulted(t, TIFFTAG_INKSET, &inks);
  if (format != SAMPLEFORMAT_UINT || !Supported(compression))
    return Refuse(Gdiplus::UnknownImageFormat, "a sample format or compression that is not decoded");
  if (l.bits != 1 && l.bits != 2 && l.bits != 4 && l.bits != 8 && l.bits != 16)
    return Refuse(Gdiplus::UnknownImageFormat, "a sample depth that is not decoded");
  if (l.planar != PLANARCONFIG_CONTIG && l.planar != PLANARCONFIG_SEPARATE)
    return Refuse(Gdiplus::UnknownImageFormat, "an unknown planar configuration");

  const bool lowDepth = l.bits < 8;
  switch (l.photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
      l.colours = 1;
      break;
    case PHOTOMETRIC_PALETTE:
      l.colours = 1;
      if (l.bits > 8) return Refuse(Gdiplus::UnknownImageFormat, "a palette of more than 8 bits");
      if (!TIFFGetField(t, TIFFTAG_COLORMAP, &l.map[0], &l.map[1], &l.map[2]))
        return Refuse(Gdiplus::GenericError, "a palette picture without a colour map");
      break;
    case PHOTOMETRIC_RGB:
      l.colours = 3;
      if (lowDepth) return Refuse(Gdiplus::UnknownImageFormat, "RGB below 8 bits a sample");
      break;
    case PHOTOMETRIC_SEPARATED:
      l.colours = 4;
      if (lowDepth || inks != INKSET_CMYK)
        return Refuse(Gdiplus::UnknownImageFormat, "separated inks other than 8-bit CMYK");
      break;
    case PHOTOMETRIC_YCBCR: {
      l.colours = 3;
      if (l.bits != 8 || l.samples != 3)
        return Refuse(Gdiplus::UnknownImageFormat, "YCbCr other than three 8-bit samples");
      if (compression == COMPRESSION_JPEG) {
        // libjpeg upsamples and converts; the strips then hold RGB.
        if (l.planar != PLANARCONFIG_CONTIG)
          return Refuse(Gdiplus::UnknownImageFormat, "JPEG-compressed YCbCr in separate planes");
        TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        l.photometric = PHOTOMETRIC_RGB;
        break;
      }
      TIFFGetFieldDefaulted(t, TIFFTAG_YCBCRSUBSAMPLING, &l.subH, &l.subV);
      for (std::uint16_t f : {l.subH, l.subV})
        if (f != 1 && f != 2 && f != 4)
          return Refuse(Gdiplus::UnknownImageFormat, "a YCbCr subsampling that is not decoded");
      if (l.Blocks() && l.planar != PLANARCONFIG_CONTIG)
        return Refuse(Gdiplus::UnknownImageFormat, "subsampled YCbCr in separate planes");
      if (!YCbCrTables(t, l))
        return Refuse(Gdiplus::GenericError, "unusable YCbCr coefficients or reference values");
      break;
    }
    default:
      return Refuse(Gdiplus::UnknownImageFormat, "a photometric interpretation that is not decoded");
  }
  if (l.samples < l.colours + extraCount)
    return Refuse(Gdiplus::UnknownImageFormat, "fewer samples than colours and extra samples");
  // The extra samples are the last ones; the first alpha among them is used.
  for (std::uint16_t k = 0; k < extraCount && extra; ++k)
    if (extra[k] == EXTRASAMPLE_ASSOCALPHA || extra[k] == EXTRASAMPLE_UNASSALPHA) {
      l.alpha = l.samples - extraCount + k;
      l.associated = extra[k] == EXTRASAMPLE_ASSOCALPHA;
      break;
    }

  l.tiled = TIFFIsTiled(t) != 0;
  if (l.tiled) {
    if (!TIFFGetField(t, TIFFTAG_TILEWIDTH, &l.segWidth) || !TIFFGetField(t, TIFFTAG_TILELENGTH, &l.segRows) ||
        l.segWidth == 0 || l.segRows == 0)
      return Refuse(Gdiplus::GenericError, "tiles without a size");
  } else {
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &l.segRows);
    l.segWidth = l.width;
    l.segRows = std::clamp<std::uint32_t>(l.segRows, 1, l.height);
  }
  return Gdiplus::Ok;
}

// One decoded strip or tile: where it lies and its sample rows, one plane
// for contiguous samples, else one per slot.
struct Segment {
  std::uint32_t x0 = 0, y0 = 0, width = 0, rows = 0;  // the part inside the picture
  const std::uint8_t* plane[kSlots] = {};
  std::size_t stride = 0;
};

// Puts sample `s` of pixels [xa, xb) of row `r` of the segment into `slot`
// of each pixel of `out`, as 8 bits: 16-bit samples by their high byte,
// lower depths scaled to 0-255 unless `scale` is false (palette indices).
void Expand(const Layout& l, const Segment& g, std::uint32_t r, std::uint32_t xa, std::uint32_t xb, int s,
            int slot, bool scale, std::uint8_t* out) {
  out += slot;
  if (l.Blocks()) {  // per block: subH x subV luma samples, then Cb and Cr
    const std::size_t blockBytes = std::size_t(l.subH) * l.subV + 2;
    const std::uint8_t* row = g.plane[0] + std::size_t(r / l.subV) * g.stride;
    const std::size_t inBlock = s == 0 ? std::size_t(r % l.subV) * l.subH : l.subH * l.subV + s - 1;
    const int shift = l.subH == 4 ? 2 : l.subH == 2 ? 1 : 0;
    const std::uint32_t within = s == 0 ? l.subH - 1 : 0;
    for (std::uint32_t x = xa; x < xb; ++x, out += kSlots)
      *out = row[(x >> shift) * blockBytes + inBlock + (x & within)];
    return;
  }
  const bool contig = l.planar == PLANARCONFIG_CONTIG;
  const std::uint8_t* row = g.plane[contig ? 0 : slot] + std::size_t(r) * g.stride;
  const std::size_t step = contig ? l.samples : 1;
  std::size_t i = std::size_t(xa) * step + (contig ? std::size_t(s) : 0);
  switch (l.bits) {
    case 8:
      for (std::uint32_t x = xa; x < xb; ++x, i += step, out += kSlots) *out = row[i];
      break;
    case 16:
      for (std::uint32_t x = xa; x < xb; ++x, i += step, out += kSlots) {
        std::uint16_t v;
        std::memcpy(&v, row + 2 * i, 2);
        *out = static_cast<std::uint8_t>(v >> 8);
      }
      break;
    default: {
      const unsigned max = (1u << l.bits) - 1, factor = scale ? 255 / max : 1;
      for (std::uint32_t x = xa; x < xb; ++x, i += step, out += kSlots) {
        const std::size_t bit = i * l.bits;
        *out = static_cast<std::uint8_t>(((row[bit >> 3] >> (8 - l.bits - (bit & 7))) & max) * factor);
      }
    }
  }
}

unsigned Mul255(unsigned a, unsigned b) { return (a * b + 127) / 255; }

// Associated alpha: the file's colour is premultiplied (c = colour * a / 255),
// the picture's is straight, as draw.cpp blends it
// (out = (s*a + d*(255-a) + 127) / 255). The colour is divided back, rounded
// to nearest, so that s*a is within a/2 of c*255 and the drawn pixel within
// one step of premultiplied source-over; an opaque pixel keeps its colour
// exactly. A sample above its alpha (not a valid premultiplied colour) gives
// 255; a clear pixel gives black, which is never drawn. Unassociated alpha
// needs nothing: the file's colour is the straight colour drawn.
std::uint8_t Unpremultiply(unsigned c, unsigned a) {
  if (a == 0) return 0;
  return static_cast<std::uint8_t>(std::min(255u, (c * 255 + a / 2) / a));
}

// Rounded to 0-255; not-a-number (from absurd fields) is 0.
std::uint8_t Clamp(float v) { return v > 0 ? v < 255 ? static_cast<std::uint8_t>(v + 0.5f) : 255 : 0; }

// One row of 8-bit slots (colour samples, alpha) to blue, green, red, 0.
void Convert(const Layout& l, const std::uint8_t* in, std::uint32_t n, std::uint8_t* bgrx, std::uint8_t* alpha) {
  for (std::uint32_t x = 0; x < n; ++x, in += kSlots, bgrx += 4) {
    unsigned c[4] = {in[0], in[1], in[2], in[3]};
    const unsigned a = in[kAlphaSlot];
    if (alpha) alpha[x] = static_cast<std::uint8_t>(a);
    if (l.associated && l.photometric != PHOTOMETRIC_PALETTE)
      for (int i = 0; i < l.colours; ++i) c[i] = Unpremultiply(c[i], a);
    unsigned r, g, b;
    switch (l.photometric) {
      case PHOTOMETRIC_MINISWHITE:
        r = g = b = 255 - c[0];
        break;
      case PHOTOMETRIC_MINISBLACK:
        r = g = b = c[0];
        break;
      case PHOTOMETRIC_PALETTE:
        r = l.map[0][c[0]] >> 8, g = l.map[1][c[0]] >> 8, b = l.map[2][c[0]] >> 8;
        break;
      case PHOTOMETRIC_SEPARATED:
        r = Mul255(255 - c[0], 255 - c[3]), g = Mul255(255 - c[1], 255 - c[3]), b = Mul255(255 - c[2], 255 - c[3]);
        break;
      case PHOTOMETRIC_YCBCR: {  // the inverse of Y = LumaRed R + LumaGreen G + LumaBlue B
        const float y = l.y[c[0]], fr = y + l.redOfCr[c[2]], fb = y + l.blueOfCb[c[1]];
        r = Clamp(fr), b = Clamp(fb), g = Clamp((y - l.lumaBlue * fb - l.lumaRed * fr) / l.lumaGreen);
        break;
      }
      default:  // RGB
        r = c[0], g = c[1], b = c[2];
    }
    bgrx[0] = static_cast<std::uint8_t>(b);
    bgrx[1] = static_cast<std::uint8_t>(g);
    bgrx[2] = static_cast<std::uint8_t>(r);
    bgrx[3] = 0;
  }
}

constexpr std::uint32_t kChunk = 4096;  // pixels converted at a time

void Place(const Layout& l, const Segment& g, std::uint8_t* scratch, Picture& p) {
  const bool palette = l.photometric == PHOTOMETRIC_PALETTE;
  for (std::uint32_t r = 0; r < g.rows; ++r)
    for (std::uint32_t xa = 0; xa < g.width; xa += kChunk) {
      const std::uint32_t xb = std::min(g.width, xa + kChunk);
      std::memset(scratch, 255, std::size_t(xb - xa) * kSlots);  // opaque unless alpha is read
      for (int s = 0; s < l.colours; ++s) Expand(l, g, r, xa, xb, s, s, !palette, scratch);
      if (l.alpha >= 0) Expand(l, g, r, xa, xb, l.alpha, kAlphaSlot, true, scratch);
      const std::size_t at = std::size_t(g.y0 + r) * p.width + g.x0 + xa;
      Convert(l, scratch, xb - xa, p.bgrx.get() + at * 4, p.alpha ? p.alpha.get() + at : nullptr);
    }
}

GpStatus ReadPixels(TIFF* t, const Layout& l, Source& source, Picture& p) {
  const std::uint64_t stride = l.Stride();
  const std::uint64_t segBytes = stride * l.StrideRows(l.segRows);
  // The samples actually used: colours and alpha, each its own plane when separate.
  const int planes = l.planar == PLANARCONFIG_CONTIG ? 1 : l.colours + (l.alpha >= 0);
  const std::uint64_t pixels = std::uint64_t(l.width) * l.height;
  const std::uint64_t limit = std::min(kMaxBuffer, std::max(kSmallBuffer, pixels * 8));
  if (segBytes == 0 || segBytes > limit / planes)
    return Refuse(Gdiplus::OutOfMemory, "strips or tiles larger than allowed");
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[std::size_t(segBytes) * planes]);
  std::unique_ptr<std::uint8_t[]> scratch(new (std::nothrow) std::uint8_t[kChunk * kSlots]);
  if (!buffer || !scratch) return Refuse(Gdiplus::OutOfMemory, "no memory for a strip or tile");
  if (GpStatus s = AllocatePicture(p, l.width, l.height, l.alpha >= 0); s != Gdiplus::Ok) return s;

  // The stored sample each separate plane buffer holds, and its slot.
  int sampleOf[kSlots] = {0, 1, 2, 3, 4}, slotOf[kSlots] = {0, 1, 2, 3, 4};
  if (planes > l.colours) sampleOf[l.colours] = l.alpha, slotOf[l.colours] = kAlphaSlot;
  for (std::uint32_t y0 = 0; y0 < l.height; y0 += l.segRows) {
    for (std::uint32_t x0 = 0; x0 < l.width; x0 += l.segWidth) {
      Segment g;
      g.x0 = x0, g.y0 = y0, g.stride = std::size_t(stride);
      g.width = std::min(l.segWidth, l.width - x0);
      g.rows = std::min(l.segRows, l.height - y0);
      const std::uint64_t need = stride * l.StrideRows(g.rows);
      for (int i = 0; i < planes; ++i) {
        std::uint8_t* dst = buffer.get() + std::size_t(segBytes) * i;
        const auto sample = static_cast<std::uint16_t>(sampleOf[i]);
        const tmsize_t got =
            l.tiled ? TIFFReadEncodedTile(t, TIFFComputeTile(t, x0, y0, 0, sample), dst, tmsize_t(segBytes))
                    : TIFFReadEncodedStrip(t, TIFFComputeStrip(t, y0, sample), dst, tmsize_t(segBytes));
        if (got < 0 || std::uint64_t(got) < need || source.dataEnded)
          return Refuse(Gdiplus::GenericError,
                        "a strip or tile could not be read" + (source.error.empty() ? "" : ": " + source.error));
        if (l.planar == PLANARCONFIG_CONTIG) g.plane[0] = dst;
        else g.plane[slotOf[i]] = dst;
      }
      Place(l, g, scratch.get(), p);
    }
  }
  FinishAlpha(p);
  return Gdiplus::Ok;
}

}  // namespace

GpStatus DecodeTiff(std::span<const std::uint8_t> file, Picture& out) {
  if (file.size() < 4) return Refuse(Gdiplus::UnknownImageFormat, "shorter than its header");
  const bool little = file[0] == 'I' && file[1] == 'I', big = file[0] == 'M' && file[1] == 'M';
  const unsigned version = little ? file[2] | file[3] << 8 : file[2] << 8 | file[3];
  if ((!little && !big) || version != 42)
    return Refuse(Gdiplus::UnknownImageFormat, "not classic TIFF");  // BigTIFF is 43

  Source source;
  source.file = file;
  std::unique_ptr<TIFFOpenOptions, FreeOptions> options(TIFFOpenOptionsAlloc());
  if (!options) return Refuse(Gdiplus::OutOfMemory, "no memory for libtiff's options");
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxLibraryAlloc);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &source);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &source);
  std::unique_ptr<TIFF, CloseTiff> tiff(TIFFClientOpenExt("tiff", "r", &source, ReadProc, WriteProc, SeekProc,
                                                          CloseProc, SizeProc, MapProc, UnmapProc, options.get()));
  if (!tiff) return Refuse(Gdiplus::GenericError, "libtiff cannot open it: " + source.error);
  Layout layout;
  if (GpStatus s = ReadLayout(tiff.get(), layout); s != Gdiplus::Ok) return s;
  Picture picture;
  if (GpStatus s = ReadPixels(tiff.get(), layout, source, picture); s != Gdiplus::Ok) return s;
  out = std::move(picture);
  return Gdiplus::Ok;
}

}  // namespace graphics
