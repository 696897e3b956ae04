// TIFF decoding: every photometric kind, depth, sample layout and
// compression against the test's own samples; alpha both ways; several
// pages; the size limit, bombs, damaged files and the variants refused.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/graphics/picture.h"
#include "tests/platform/graphics/decoding.h"
#include "tests/platform/graphics/tiff_pictures.h"

namespace {

using graphics::Picture;
using graphics_test::Bytes;
using graphics_test::Decode;
using graphics_test::MakeTiff;
using graphics_test::MustDecode;
using graphics_test::PeakRssKiB;
using graphics_test::TiffLayout;
using graphics_test::TiffSamples;
using Rgba = std::array<int, 4>;

Rgba At(const Picture& p, int x, int y) {
  const std::uint8_t* c = p.Row(y) + x * 4;
  EXPECT_EQ(c[3], 0);
  return {c[2], c[1], c[0], p.Opaque() ? 255 : p.AlphaRow(y)[x]};
}

// Samples that differ from pixel to pixel and sample to sample; 16-bit ones
// with low bytes of every kind.
unsigned Wave(int x, int y, int s, int bits) {
  const unsigned v = (unsigned(x * 7919 + y * 104729 + s * 31337 + 4242) * 2654435761u) >> 16;
  return v >> (16 - bits);
}
int To8(unsigned v, int bits) { return bits == 16 ? int(v >> 8) : int(v * 255 / ((1u << bits) - 1)); }

TiffLayout Layout(std::uint16_t photometric, std::uint16_t bits, std::uint16_t samples,
                  std::vector<std::uint16_t> extra = {}) {
  TiffLayout l;
  l.width = 37, l.height = 21, l.photometric = photometric, l.bits = bits, l.samples = samples;
  l.extra = std::move(extra);
  return l;
}

// Strips of 4 rows (little-endian), of 5 rows (big-endian), and 16 x 16 tiles
// that overhang the picture.
std::vector<TiffLayout> Arrangements(TiffLayout l) {
  std::vector<TiffLayout> out(3, l);
  out[0].rowsPerStrip = 4;
  out[1].rowsPerStrip = 5, out[1].bigEndian = true;
  out[2].tileWidth = out[2].tileLength = 16;
  return out;
}

TEST(DecodeTiff, EveryKindDepthAndSampleLayout) {
  const std::uint16_t assoc = EXTRASAMPLE_ASSOCALPHA, unassoc = EXTRASAMPLE_UNASSALPHA;
  std::vector<TiffLayout> kinds = {
      Layout(PHOTOMETRIC_MINISWHITE, 1, 1), Layout(PHOTOMETRIC_MINISBLACK, 1, 1),
      Layout(PHOTOMETRIC_MINISBLACK, 2, 1), Layout(PHOTOMETRIC_MINISBLACK, 4, 1),
      Layout(PHOTOMETRIC_MINISBLACK, 8, 1), Layout(PHOTOMETRIC_MINISWHITE, 16, 1),
      Layout(PHOTOMETRIC_PALETTE, 1, 1), Layout(PHOTOMETRIC_PALETTE, 2, 1),
      Layout(PHOTOMETRIC_PALETTE, 4, 1), Layout(PHOTOMETRIC_PALETTE, 8, 1),
      Layout(PHOTOMETRIC_RGB, 8, 3), Layout(PHOTOMETRIC_RGB, 16, 3),
      Layout(PHOTOMETRIC_RGB, 8, 4, {unassoc}), Layout(PHOTOMETRIC_RGB, 16, 4, {unassoc}),
      Layout(PHOTOMETRIC_RGB, 8, 4, {assoc}), Layout(PHOTOMETRIC_RGB, 16, 4, {assoc}),
      Layout(PHOTOMETRIC_MINISBLACK, 8, 2, {unassoc}), Layout(PHOTOMETRIC_MINISBLACK, 16, 2, {assoc}),
      Layout(PHOTOMETRIC_MINISBLACK, 2, 2, {unassoc}), Layout(PHOTOMETRIC_PALETTE, 4, 2, {unassoc}),
      // Unspecified extra samples are not alpha; the first alpha among them is.
      Layout(PHOTOMETRIC_RGB, 8, 4, {EXTRASAMPLE_UNSPECIFIED}),
      Layout(PHOTOMETRIC_RGB, 8, 6, {EXTRASAMPLE_UNSPECIFIED, unassoc, assoc}),
  };
  for (std::size_t i = 10; i < 16; ++i) {
    kinds.push_back(kinds[i]);
    kinds.back().separate = true;
  }
  for (const TiffLayout& kind : kinds)
    for (TiffLayout l : Arrangements(kind)) {
      SCOPED_TRACE(::testing::Message() << "photometric " << l.photometric << " bits " << l.bits << " samples "
                                        << l.samples << " separate " << l.separate << " tiles " << l.tileWidth
                                        << " big-endian " << l.bigEndian);
      const unsigned max = (1u << l.bits) - 1;
      int alpha = -1;
      for (std::size_t k = 0; k < l.extra.size() && alpha < 0; ++k)
        if (l.extra[k] != EXTRASAMPLE_UNSPECIFIED) alpha = int(l.samples - l.extra.size() + k);
      const bool premultiplied = alpha >= 0 && l.extra[std::size_t(alpha) - (l.samples - l.extra.size())] == assoc;
      TiffSamples sample = [&](int x, int y, int s) {
        const unsigned v = Wave(x, y, s, l.bits);
        if (premultiplied && s < alpha) return v * Wave(x, y, alpha, l.bits) / max;  // colour <= alpha
        return x == 3 && s == alpha ? max : v;                                       // column 3 opaque
      };
      if (l.photometric == PHOTOMETRIC_PALETTE)
        for (unsigned i = 0; i < 3 * (1u << l.bits); ++i) l.colormap.push_back(std::uint16_t(i * 40503 + 977));
      const Picture p = MustDecode(MakeTiff(l, sample));
      ASSERT_EQ(p.width * 100 + p.height, 3721);
      EXPECT_EQ(p.Opaque(), alpha < 0);
      for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x) {
          const Rgba got = At(p, x, y);
          Rgba want{};
          const int c0 = To8(sample(x, y, 0), l.bits);
          if (l.photometric == PHOTOMETRIC_PALETTE) {
            const std::size_t n = std::size_t(1) << l.bits, i = sample(x, y, 0);
            want = {l.colormap[i] >> 8, l.colormap[n + i] >> 8, l.colormap[2 * n + i] >> 8, 255};
          } else if (l.photometric == PHOTOMETRIC_RGB) {
            want = {c0, To8(sample(x, y, 1), l.bits), To8(sample(x, y, 2), l.bits), 255};
          } else {
            const int g = l.photometric == PHOTOMETRIC_MINISWHITE ? 255 - c0 : c0;
            want = {g, g, g, 255};
          }
          if (alpha >= 0) want[3] = To8(sample(x, y, alpha), l.bits);
          if (!premultiplied || want[3] == 255) {
            ASSERT_EQ(got, want) << x << ',' << y;
            continue;
          }
          // Premultiplied colour: drawn over any background as draw.cpp
          // blends straight colour, within one step of premultiplied
          // source-over (file colour + background * (1 - alpha)).
          ASSERT_EQ(got[3], want[3]) << x << ',' << y;
          for (int c = 0; c < (l.samples == 2 ? 1 : 3); ++c)
            for (int bg : {0, 90, 255}) {
              const int a = want[3], drawn = (got[c] * a + bg * (255 - a) + 127) / 255;
              ASSERT_NEAR(drawn, want[c] + bg * (255 - a) / 255.0, 1.01) << x << ',' << y << " bg " << bg;
            }
        }
    }
}

TEST(DecodeTiff, EveryCompressionInStripsAndTiles) {
  struct Codec {
    std::uint16_t compression, predictor;
  };
  const Codec codecs[] = {{COMPRESSION_NONE, 1},          {COMPRESSION_PACKBITS, 1}, {COMPRESSION_LZW, 1},
                          {COMPRESSION_LZW, 2},           {COMPRESSION_ADOBE_DEFLATE, 1},
                          {COMPRESSION_DEFLATE, 2}};
  std::vector<TiffLayout> kinds = {Layout(PHOTOMETRIC_RGB, 8, 4, {EXTRASAMPLE_UNASSALPHA}),
                                   Layout(PHOTOMETRIC_MINISBLACK, 16, 1), Layout(PHOTOMETRIC_RGB, 8, 3)};
  kinds[2].separate = true;
  std::vector<TiffLayout> files;
  for (const TiffLayout& kind : kinds)
    for (TiffLayout l : Arrangements(kind))
      for (const Codec& c : codecs) {
        l.compression = c.compression, l.predictor = c.predictor;
        files.push_back(l);
      }
  for (std::uint16_t fax : {COMPRESSION_CCITTRLE, COMPRESSION_CCITT_T4, COMPRESSION_CCITT_T6}) {
    files.push_back(Layout(PHOTOMETRIC_MINISWHITE, 1, 1));
    files.back().compression = fax;
  }
  for (const TiffLayout& l : files) {
    SCOPED_TRACE(::testing::Message() << "compression " << l.compression << " predictor " << l.predictor << " bits "
                                      << l.bits << " tiles " << l.tileWidth << " big-endian " << l.bigEndian);
    auto sample = [&](int x, int y, int s) { return Wave(x, y, s, l.bits); };
    const Picture p = MustDecode(MakeTiff(l, sample));
    ASSERT_EQ(p.width * 100 + p.height, 3721);
    for (int y = 0; y < 21; ++y)
      for (int x = 0; x < 37; ++x) {
        const int c0 = To8(sample(x, y, 0), l.bits), grey = l.photometric == PHOTOMETRIC_MINISWHITE ? 255 - c0 : c0;
        const Rgba want = l.samples == 1 ? Rgba{grey, grey, grey, 255}
                                         : Rgba{c0, To8(sample(x, y, 1), 8), To8(sample(x, y, 2), 8),
                                                l.samples == 4 ? To8(sample(x, y, 3), 8) : 255};
        ASSERT_EQ(At(p, x, y), want) << x << ',' << y;
      }
  }
}

// Colour conversions, compared with the conversion computed here in double
// precision from the samples written:
//  - CMYK, R = 255 (1 - C)(1 - K): 8-bit inks exactly (one rounding, never a
//    tie); 16-bit inks are cut to their high byte first, which moves each
//    factor by up to one step of 255 and the product by up to 2 levels.
//  - YCbCr without JPEG, by TIFF's equations from ReferenceBlackWhite and the
//    luma coefficients, each block's chroma for all its pixels: within 1
//    level (the decoder computes in single precision).
//  - YCbCr with JPEG, and JPEG grey: within 4 levels of the RGB or grey
//    samples written (lossy at quality 95, chroma halved both ways, on a
//    smooth picture).
TEST(DecodeTiff, CmykAndYCbCrWithinTheRoundingOfTheirConversion) {
  for (int bits : {8, 16})
    for (bool separate : {false, true}) {
      TiffLayout l = Layout(PHOTOMETRIC_SEPARATED, std::uint16_t(bits), 4);
      l.separate = separate;
      auto sample = [&](int x, int y, int s) { return Wave(x, y, s, bits); };
      const Picture p = MustDecode(MakeTiff(l, sample));
      ASSERT_EQ(p.width, 37);
      const double max = (1 << bits) - 1;
      for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x)
          for (int c = 0; c < 3; ++c) {
            const double want = 255 * (1 - sample(x, y, c) / max) * (1 - sample(x, y, 3) / max);
            ASSERT_NEAR(At(p, x, y)[c], std::lround(want), bits == 8 ? 0 : 2) << x << ',' << y << " bits " << bits;
          }
    }

  const std::vector<float> fullRange = {0, 255, 128, 255, 128, 255}, video = {16, 235, 128, 240, 128, 240};
  const std::pair<int, int> blocks[] = {{1, 1}, {2, 1}, {2, 2}, {4, 2}, {4, 4}};
  for (const auto& [h, v] : blocks)
    for (TiffLayout l : Arrangements(Layout(PHOTOMETRIC_YCBCR, 8, 3))) {
      l.subH = std::uint16_t(h), l.subV = std::uint16_t(v);
      l.rowsPerStrip = 8;
      if (l.bigEndian) l.referenceBlackWhite = video;
      const std::vector<float>& bw = l.bigEndian ? video : fullRange;
      auto sample = [&](int x, int y, int s) { return Wave(x, y, s, 8); };
      const Picture p = MustDecode(MakeTiff(l, sample));
      ASSERT_EQ(p.width, 37);
      for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x) {
          const int bx = x / h * h, by = y / v * v;
          const double luma = (sample(x, y, 0) - bw[0]) * 255 / (bw[1] - bw[0]);
          const double cb = (sample(bx, by, 1) - bw[2]) * 127 / (bw[3] - bw[2]);
          const double cr = (sample(bx, by, 2) - bw[4]) * 127 / (bw[5] - bw[4]);
          const double r = cr * (2 - 2 * 0.299) + luma, b = cb * (2 - 2 * 0.114) + luma;
          const double g = (luma - 0.114 * b - 0.299 * r) / 0.587;
          const Rgba got = At(p, x, y);
          const double want[] = {r, g, b};
          for (int c = 0; c < 3; ++c)
            ASSERT_NEAR(got[c], std::clamp(std::round(want[c]), 0.0, 255.0), 1)
                << x << ',' << y << " blocks " << h << 'x' << v;
        }
    }

  for (bool colour : {false, true})
    for (TiffLayout l : Arrangements(colour ? Layout(PHOTOMETRIC_YCBCR, 8, 3) : Layout(PHOTOMETRIC_MINISBLACK, 8, 1))) {
      l.compression = COMPRESSION_JPEG, l.jpegFromRgb = colour;
      l.rowsPerStrip = 16;  // JPEG strips: multiples of 16 rows
      auto sample = [](int x, int y, int s) { return unsigned(x * 2 + y * 2 + s * 60 + 10); };
      const Picture p = MustDecode(MakeTiff(l, sample));
      ASSERT_EQ(p.width * 100 + p.height, 3721);
      for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x)
          for (int c = 0; c < 3; ++c)
            ASSERT_NEAR(At(p, x, y)[c], int(sample(x, y, colour ? c : 0)), 4) << x << ',' << y << " tiles " << l.tileWidth;
    }
}

TEST(DecodeTiff, OnlyTheFirstOfSeveralPagesIsDrawn) {
  TiffLayout l = Layout(PHOTOMETRIC_RGB, 8, 3);
  l.pages = 3;
  const Picture p = MustDecode(MakeTiff(l, [](int x, int y, int s) { return Wave(x, y, s, 8); }));
  ASSERT_EQ(p.width * 100 + p.height, 3721);  // the later pages are 74 x 42
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 37; ++x) ASSERT_EQ(At(p, x, y)[1], int(Wave(x, y, 1, 8))) << x << ',' << y;
}

// A picture at the limit in tiny compressed strips decodes within a few
// hundred MiB; beyond the limit, or with strips that claim more than the file
// holds, it fails without allocating. Speed is measured in bench/, not here.
TEST(DecodeTiff, LimitsAndBombs) {
  for (std::uint16_t compression : {COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE}) {
    TiffLayout l = Layout(PHOTOMETRIC_MINISBLACK, 8, 1);
    l.width = l.height = 8192, l.compression = compression, l.rowsPerStrip = 64;
    const Bytes atLimit = MakeTiff(l, {});
    ASSERT_LT(atLimit.size(), 512u << 10) << "tiny strips";
    {
      Picture p;
      const long before = PeakRssKiB();
      ASSERT_EQ(Decode(atLimit, p), Gdiplus::Ok);
      EXPECT_LT(PeakRssKiB() - before, 400 * 1024) << "KiB, compression " << compression;
      EXPECT_EQ(At(p, 8191, 8191), (Rgba{0, 0, 0, 255}));
    }
    Bytes overLimit = atLimit, hugeStrips = atLimit, offsetsPast = atLimit;
    graphics_test::SetTiffValue(overLimit, TIFFTAG_IMAGELENGTH, 8193);
    graphics_test::SetTiffValue(hugeStrips, TIFFTAG_STRIPBYTECOUNTS, 0xFFFFFF00u);
    graphics_test::SetTiffValue(offsetsPast, TIFFTAG_STRIPOFFSETS, std::uint32_t(atLimit.size()) - 8);
    Bytes claims = MakeTiff(Layout(PHOTOMETRIC_RGB, 8, 3), {});
    graphics_test::SetTiffValue(claims, TIFFTAG_IMAGEWIDTH, 100000);
    graphics_test::SetTiffValue(claims, TIFFTAG_IMAGELENGTH, 100000);
    TiffLayout tiled = Layout(PHOTOMETRIC_RGB, 16, 4, {EXTRASAMPLE_UNASSALPHA});
    tiled.width = tiled.height = tiled.tileWidth = tiled.tileLength = 16;
    Bytes hugeTile = MakeTiff(tiled, {});  // a 16 x 16 picture in one 2048 x 2048 tile
    graphics_test::SetTiffValue(hugeTile, TIFFTAG_TILEWIDTH, 2048);
    graphics_test::SetTiffValue(hugeTile, TIFFTAG_TILELENGTH, 2048);
    const std::pair<const Bytes*, GpStatus> refused[] = {{&overLimit, Gdiplus::OutOfMemory},
                                                         {&claims, Gdiplus::OutOfMemory},
                                                         {&hugeTile, Gdiplus::OutOfMemory},
                                                         {&hugeStrips, Gdiplus::GenericError},
                                                         {&offsetsPast, Gdiplus::GenericError}};
    const long before = PeakRssKiB();
    for (const auto& [file, status] : refused) {
      Picture p;
      EXPECT_EQ(Decode(*file, p), status) << &file - &refused[0].first;
    }
    EXPECT_LT(PeakRssKiB() - before, 16 * 1024) << "KiB";
  }
}

TEST(DecodeTiff, DamagedFilesFailQuietlyAndNeverGiveAPartialPicture) {
  TiffLayout rgb = Layout(PHOTOMETRIC_RGB, 8, 3), jpeg = Layout(PHOTOMETRIC_YCBCR, 8, 3),
             grey = Layout(PHOTOMETRIC_MINISBLACK, 16, 1), ycc = Layout(PHOTOMETRIC_YCBCR, 8, 3),
             palette = Layout(PHOTOMETRIC_PALETTE, 4, 1);
  rgb.compression = COMPRESSION_LZW, rgb.rowsPerStrip = 21;
  jpeg.compression = COMPRESSION_JPEG, jpeg.jpegFromRgb = true, jpeg.rowsPerStrip = 32;
  grey.compression = COMPRESSION_PACKBITS, grey.bigEndian = true, grey.tileWidth = grey.tileLength = 16;
  ycc.compression = COMPRESSION_ADOBE_DEFLATE, ycc.subH = ycc.subV = 2, ycc.rowsPerStrip = 21;
  palette.colormap.assign(48, 0x1234);
  auto sample = [](int x, int y, int s) { return unsigned(x * 3 + y * 5 + s) % 16; };
  ::testing::internal::CaptureStderr();
  for (const TiffLayout* l : {&rgb, &jpeg, &grey, &ycc, &palette}) {
    const Bytes full = MakeTiff(*l, sample);
    const Picture whole = MustDecode(full);
    const std::size_t bytes = std::size_t(whole.width) * whole.height * 4;
    // Cut anywhere (libtiff writes the directory last): a failure, or the whole picture.
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
      Picture p;
      if (Decode(Bytes(full.begin(), full.begin() + std::ptrdiff_t(cut)), p) == Gdiplus::Ok) {
        ASSERT_EQ(0, std::memcmp(p.bgrx.get(), whole.bgrx.get(), bytes)) << "cut " << cut;
      }
    }
    // Every byte changed in turn: no crash, no read outside the file.
    for (std::size_t at = 0; at < full.size(); ++at) {
      Bytes b = full;
      b[at] ^= 0x5A;
      Picture p;
      Decode(b, p);
    }
    if (l->tileWidth) continue;
    // The strip data moved behind the directory, then cut: GenericError.
    Bytes moved = full;
    const std::uint32_t offset = graphics_test::TiffValue(full, TIFFTAG_STRIPOFFSETS);
    const std::uint32_t count = graphics_test::TiffValue(full, TIFFTAG_STRIPBYTECOUNTS);
    moved.insert(moved.end(), full.begin() + offset, full.begin() + offset + count);
    graphics_test::SetTiffValue(moved, TIFFTAG_STRIPOFFSETS, std::uint32_t(full.size()));
    ASSERT_EQ(MustDecode(moved).width, whole.width);
    for (std::size_t cut = full.size(); cut < moved.size(); ++cut) {
      Picture p;
      ASSERT_EQ(Decode(Bytes(moved.begin(), moved.begin() + std::ptrdiff_t(cut)), p), Gdiplus::GenericError)
          << "cut " << cut << " of " << moved.size();
    }
    // Compressed data whose stream ends or breaks early in its strip.
    Bytes shorter = full, broken = full;
    graphics_test::SetTiffValue(shorter, TIFFTAG_STRIPBYTECOUNTS, count / 2);
    broken[offset] ^= 0xFF;  // zlib's and libjpeg's headers; LZW's clear code
    Picture p;
    if (l->compression != COMPRESSION_NONE) {
      EXPECT_EQ(Decode(shorter, p), Gdiplus::GenericError) << l->compression;
      EXPECT_EQ(Decode(broken, p), Gdiplus::GenericError) << l->compression;
    }
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(DecodeTiff, VariantsNotDecodedAreUnknownFormats) {
  TiffLayout big = Layout(PHOTOMETRIC_RGB, 8, 3), wide = Layout(PHOTOMETRIC_RGB, 32, 3),
             real = Layout(PHOTOMETRIC_MINISBLACK, 32, 1), lab = Layout(PHOTOMETRIC_CIELAB, 8, 3),
             deep = Layout(PHOTOMETRIC_PALETTE, 16, 1), planes = Layout(PHOTOMETRIC_YCBCR, 8, 3);
  big.bigTiff = true;
  real.format = SAMPLEFORMAT_IEEEFP;
  deep.colormap.assign(3 << 16, 7);
  planes.separate = true, planes.subH = planes.subV = 2;
  std::vector<TiffLayout> files = {big, wide, real, lab, deep, planes};
  for (std::uint16_t c : {COMPRESSION_LZMA, COMPRESSION_ZSTD})
    if (TIFFIsCODECConfigured(c)) {
      files.push_back(Layout(PHOTOMETRIC_MINISBLACK, 8, 1));
      files.back().compression = c;
    }
  for (const TiffLayout& l : files) {
    const Bytes b = MakeTiff(l, {});
    Picture p;
    EXPECT_EQ(Decode(b, p), Gdiplus::UnknownImageFormat) << l.photometric << ' ' << l.bits << ' ' << l.compression;
    EXPECT_EQ(graphics::DecodeTiff(b, p), Gdiplus::UnknownImageFormat);
  }
}

}  // namespace
