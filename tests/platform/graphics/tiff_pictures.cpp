#include "tests/platform/graphics/tiff_pictures.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace graphics_test {
namespace {

struct Sink {
  Bytes bytes;
  std::uint64_t at = 0;
};

Sink& SinkOf(thandle_t h) { return *static_cast<Sink*>(h); }

tmsize_t SinkRead(thandle_t h, void* buf, tmsize_t n) {
  Sink& s = SinkOf(h);
  const std::uint64_t take = std::min<std::uint64_t>(std::uint64_t(n), s.at < s.bytes.size() ? s.bytes.size() - s.at : 0);
  std::memcpy(buf, s.bytes.data() + s.at, take);
  s.at += take;
  return tmsize_t(take);
}
tmsize_t SinkWrite(thandle_t h, void* buf, tmsize_t n) {
  Sink& s = SinkOf(h);
  if (s.at + std::uint64_t(n) > s.bytes.size()) s.bytes.resize(s.at + std::uint64_t(n));
  std::memcpy(s.bytes.data() + s.at, buf, std::size_t(n));
  s.at += std::uint64_t(n);
  return n;
}
toff_t SinkSeek(thandle_t h, toff_t off, int whence) {
  Sink& s = SinkOf(h);
  return s.at = (whence == SEEK_CUR ? s.at : whence == SEEK_END ? s.bytes.size() : 0) + off;
}
int SinkClose(thandle_t) { return 0; }
toff_t SinkSize(thandle_t h) { return SinkOf(h).bytes.size(); }
int NoMap(thandle_t, void**, toff_t*) { return 0; }
void NoUnmap(thandle_t, void*, toff_t) {}
// Warnings are dropped, errors shown (a writer's error is a test's own fault).
int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }
int Show(TIFF*, void*, const char* module, const char* fmt, va_list ap) {
  std::fprintf(stderr, "libtiff (writing) %s: ", module ? module : "");
  std::vfprintf(stderr, fmt, ap);
  std::fprintf(stderr, "\n");
  return 1;
}

// Stored samples of one strip or tile of `w` x `rows` pixels from (x0, y0),
// all samples interleaved or only `plane`, rows padded to whole bytes.
Bytes Segment(const TiffLayout& l, const TiffSamples& sample, int x0, int y0, int w, int rows, int plane) {
  const int perPixel = plane < 0 ? l.samples : 1;
  const std::size_t rowBytes = (std::size_t(w) * perPixel * l.bits + 7) / 8;
  Bytes out(rowBytes * rows, 0);
  if (!sample) return out;
  for (int r = 0; r < rows; ++r) {
    std::uint8_t* row = &out[r * rowBytes];
    for (int x = 0; x < w; ++x)
      for (int s = 0; s < perPixel; ++s) {
        // Tiles beyond the picture repeat its edge.
        const int px = std::min(x0 + x, int(l.width) - 1), py = std::min(y0 + r, int(l.height) - 1);
        const unsigned v = sample(px, py, plane < 0 ? s : plane);
        const std::size_t i = std::size_t(x) * perPixel + s;
        if (l.bits == 32) {
          std::memcpy(row + 4 * i, &v, 4);
        } else if (l.bits == 16) {
          const auto v16 = static_cast<std::uint16_t>(v);
          std::memcpy(row + 2 * i, &v16, 2);  // libtiff swaps to the file's order
        } else if (l.bits == 8) {
          row[i] = static_cast<std::uint8_t>(v);
        } else {
          const std::size_t bit = i * l.bits;
          row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - l.bits - bit % 8));
        }
      }
  }
  return out;
}

// Uncompressed YCbCr with chroma blocks: per block its luma samples, row by
// row, then the Cb and Cr of its top-left pixel.
Bytes Blocks(const TiffLayout& l, const TiffSamples& sample, int x0, int y0, int w, int rows) {
  Bytes out;
  auto at = [&](int x, int y, int s) {
    return !sample ? std::uint8_t(0) : std::uint8_t(sample(std::min(x, int(l.width) - 1), std::min(y, int(l.height) - 1), s));
  };
  for (int by = 0; by < rows; by += l.subV)
    for (int bx = 0; bx < w; bx += l.subH) {
      for (int y = 0; y < l.subV; ++y)
        for (int x = 0; x < l.subH; ++x) out.push_back(at(x0 + bx + x, y0 + by + y, 0));
      out.push_back(at(x0 + bx, y0 + by, 1));
      out.push_back(at(x0 + bx, y0 + by, 2));
    }
  return out;
}

void WritePage(TIFF* t, const TiffLayout& l, const TiffSamples& sample) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, l.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, l.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, l.bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, l.samples);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, l.photometric);
  if (l.format != SAMPLEFORMAT_UINT) TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, l.format);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, l.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, l.compression);
  if (l.predictor != PREDICTOR_NONE) TIFFSetField(t, TIFFTAG_PREDICTOR, l.predictor);
  if (!l.extra.empty()) TIFFSetField(t, TIFFTAG_EXTRASAMPLES, std::uint16_t(l.extra.size()), l.extra.data());
  if (!l.colormap.empty()) {
    const std::size_t n = l.colormap.size() / 3;
    TIFFSetField(t, TIFFTAG_COLORMAP, &l.colormap[0], &l.colormap[n], &l.colormap[2 * n]);
  }
  const bool blocks = l.photometric == PHOTOMETRIC_YCBCR && l.compression != COMPRESSION_JPEG;
  if (l.photometric == PHOTOMETRIC_YCBCR) TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, l.subH, l.subV);
  if (!l.referenceBlackWhite.empty()) TIFFSetField(t, TIFFTAG_REFERENCEBLACKWHITE, l.referenceBlackWhite.data());
  if (l.compression == COMPRESSION_JPEG) {
    TIFFSetField(t, TIFFTAG_JPEGQUALITY, l.jpegQuality);
    if (l.jpegFromRgb) TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  }
  const bool tiled = l.tileWidth != 0;
  std::uint32_t segW = l.width, segH = l.rowsPerStrip ? l.rowsPerStrip : TIFFDefaultStripSize(t, 0);
  if (tiled) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, l.tileWidth);
    TIFFSetField(t, TIFFTAG_TILELENGTH, l.tileLength);
    segW = l.tileWidth, segH = l.tileLength;
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, segH);
  }
  for (int plane = 0; plane < (l.separate ? l.samples : 1); ++plane)
    for (std::uint32_t y = 0; y < l.height; y += segH)
      for (std::uint32_t x = 0; x < l.width; x += segW) {
        const int rows = tiled ? int(segH) : int(std::min(segH, l.height - y));
        Bytes data = blocks && (l.subH > 1 || l.subV > 1)
                         ? Blocks(l, sample, int(x), int(y), int(segW), rows)
                         : Segment(l, sample, int(x), int(y), int(segW), rows, l.separate ? plane : -1);
        const auto p = std::uint16_t(plane);
        const tmsize_t done =
            tiled ? TIFFWriteEncodedTile(t, TIFFComputeTile(t, x, y, 0, p), data.data(), tmsize_t(data.size()))
                  : TIFFWriteEncodedStrip(t, TIFFComputeStrip(t, y, p), data.data(), tmsize_t(data.size()));
        if (done < 0) throw std::runtime_error("libtiff could not write a segment");
      }
}

struct Entry {
  std::size_t at;  // of the directory entry
  std::uint16_t type;
  std::uint32_t count;
};

std::uint32_t Le(const Bytes& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | b.at(at + i);
  return v;
}

Entry Find(const Bytes& b, std::uint16_t tag) {
  if (b.size() < 8 || b[0] != 'I') throw std::runtime_error("not a little-endian TIFF");
  const std::size_t ifd = Le(b, 4, 4);
  for (std::uint32_t i = 0, n = Le(b, ifd, 2); i < n; ++i) {
    const std::size_t e = ifd + 2 + 12 * i;
    if (Le(b, e, 2) == tag) return {e, std::uint16_t(Le(b, e + 2, 2)), Le(b, e + 4, 4)};
  }
  throw std::runtime_error("no such tag");
}

}  // namespace

Bytes MakeTiff(const TiffLayout& l, const TiffSamples& sample) {
  Sink sink;
  std::string mode = "w";
  mode += l.bigEndian ? "b" : "l";
  if (l.bigTiff) mode += "8";
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
  TIFFOpenOptionsSetErrorHandlerExtR(options, Show, nullptr);
  TIFF* t = TIFFClientOpenExt("test", mode.c_str(), &sink, SinkRead, SinkWrite, SinkSeek, SinkClose, SinkSize, NoMap,
                              NoUnmap, options);
  TIFFOpenOptionsFree(options);
  if (!t) throw std::runtime_error("TIFFClientOpen");
  for (int page = 0; page < l.pages; ++page) {
    TiffLayout pl = l;
    if (page > 0) pl.width *= 2, pl.height *= 2;
    const unsigned max = l.bits >= 32 ? ~0u : (1u << l.bits) - 1;
    TiffSamples inverted = [&](int x, int y, int s) { return max - (sample ? sample(x / 2, y / 2, s) : 0); };
    WritePage(t, pl, page == 0 ? sample : inverted);
    if (!TIFFWriteDirectory(t)) throw std::runtime_error("TIFFWriteDirectory");
  }
  TIFFClose(t);
  return sink.bytes;
}

std::uint32_t TiffValue(const Bytes& tiff, std::uint16_t tag) {
  const Entry e = Find(tiff, tag);
  const int size = e.type == TIFF_SHORT ? 2 : 4;
  const std::size_t at = e.count * size <= 4 ? e.at + 8 : Le(tiff, e.at + 8, 4);
  return Le(tiff, at, size);
}

void SetTiffValue(Bytes& tiff, std::uint16_t tag, std::uint32_t value) {
  const Entry e = Find(tiff, tag);
  auto put = [&](std::size_t at, int n) {
    for (int i = 0; i < n; ++i) tiff.at(at + i) = std::uint8_t(value >> (8 * i));
  };
  if (e.count == 1) {
    tiff[e.at + 2] = TIFF_LONG, tiff[e.at + 3] = 0;
    put(e.at + 8, 4);
    return;
  }
  const int size = e.type == TIFF_SHORT ? 2 : 4;
  const std::size_t base = e.count * size <= 4 ? e.at + 8 : Le(tiff, e.at + 8, 4);
  for (std::uint32_t i = 0; i < e.count; ++i) put(base + i * size, size);
}

void WriteTiffSeeds(const std::string& dir) {
  auto wave = [](int bits) {
    return [bits](int x, int y, int s) { return unsigned((x * 5 + y * 3 + s * 7) * 37 % (1 << bits)); };
  };
  std::vector<std::uint16_t> map(3 * 16);
  for (std::size_t i = 0; i < map.size(); ++i) map[i] = std::uint16_t(i * 4099);
  struct Seed {
    const char* name;
    TiffLayout layout;
  };
  auto layout = [](std::uint16_t photometric, std::uint16_t bits, std::uint16_t samples) {
    TiffLayout l;
    l.width = 7, l.height = 5, l.photometric = photometric, l.bits = bits, l.samples = samples;
    return l;
  };
  std::vector<Seed> seeds;
  seeds.push_back({"bilevel-white-g4.tif", layout(PHOTOMETRIC_MINISWHITE, 1, 1)});
  seeds.back().layout.compression = COMPRESSION_CCITT_T6;
  seeds.push_back({"grey4-packbits.tif", layout(PHOTOMETRIC_MINISBLACK, 4, 1)});
  seeds.back().layout.compression = COMPRESSION_PACKBITS;
  seeds.push_back({"grey16-big-endian-deflate-predictor.tif", layout(PHOTOMETRIC_MINISBLACK, 16, 1)});
  seeds.back().layout.compression = COMPRESSION_ADOBE_DEFLATE;
  seeds.back().layout.predictor = PREDICTOR_HORIZONTAL;
  seeds.back().layout.bigEndian = true;
  seeds.push_back({"palette4-lzw.tif", layout(PHOTOMETRIC_PALETTE, 4, 1)});
  seeds.back().layout.compression = COMPRESSION_LZW;
  seeds.back().layout.colormap = map;
  seeds.push_back({"rgb8-lzw-predictor-strips.tif", layout(PHOTOMETRIC_RGB, 8, 3)});
  seeds.back().layout.compression = COMPRESSION_LZW;
  seeds.back().layout.predictor = PREDICTOR_HORIZONTAL;
  seeds.back().layout.rowsPerStrip = 2;
  seeds.push_back({"rgba8-unassociated-lzw-tiles.tif", layout(PHOTOMETRIC_RGB, 8, 4)});
  seeds.back().layout.extra = {EXTRASAMPLE_UNASSALPHA};
  seeds.back().layout.compression = COMPRESSION_LZW;
  seeds.back().layout.tileWidth = seeds.back().layout.tileLength = 16;
  seeds.push_back({"rgba16-associated-separate.tif", layout(PHOTOMETRIC_RGB, 16, 4)});
  seeds.back().layout.extra = {EXTRASAMPLE_ASSOCALPHA};
  seeds.back().layout.separate = true;
  seeds.push_back({"grey-alpha8-old-deflate.tif", layout(PHOTOMETRIC_MINISBLACK, 8, 2)});
  seeds.back().layout.extra = {EXTRASAMPLE_UNASSALPHA};
  seeds.back().layout.compression = COMPRESSION_DEFLATE;
  seeds.push_back({"cmyk8.tif", layout(PHOTOMETRIC_SEPARATED, 8, 4)});
  seeds.push_back({"ycbcr-blocks-2x2.tif", layout(PHOTOMETRIC_YCBCR, 8, 3)});
  seeds.back().layout.subH = seeds.back().layout.subV = 2;
  seeds.push_back({"ycbcr-jpeg.tif", layout(PHOTOMETRIC_YCBCR, 8, 3)});
  seeds.back().layout.compression = COMPRESSION_JPEG;
  seeds.back().layout.jpegFromRgb = true;
  seeds.back().layout.width = 8, seeds.back().layout.height = 16;  // strips: 16 rows with chroma halved
  seeds.back().layout.rowsPerStrip = 16;
  seeds.push_back({"two-pages.tif", layout(PHOTOMETRIC_MINISBLACK, 8, 1)});
  seeds.back().layout.pages = 2;
  for (const Seed& s : seeds) {
    const Bytes b = MakeTiff(s.layout, wave(s.layout.bits));
    std::FILE* f = std::fopen((dir + "/" + s.name).c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write a seed");
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
  }
}

}  // namespace graphics_test
