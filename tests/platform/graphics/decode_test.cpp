// Picture decoding: every PNG form, JPEG, GIF and BMP variants, and hostile
// input (truncation at every point, huge claimed sizes, unknown content).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/graphics/picture.h"
#include "tests/platform/graphics/decoding.h"
#include "tests/platform/graphics/pictures.h"

namespace {

using graphics::Picture;
using graphics_test::Bytes;
using graphics_test::Decode;
using graphics_test::MustDecode;
using Rgba = std::vector<int>;

Rgba At(const Picture& p, int x, int y) {
  const std::uint8_t* c = p.Row(y) + x * 4;
  return {c[2], c[1], c[0], p.Opaque() ? 255 : p.AlphaRow(y)[x], c[3]};
}

Bytes Padded(Bytes b, std::size_t size) {
  b.resize(size);
  return b;
}

unsigned Sample(int x, int y, int c, int depth) {
  const unsigned v8 = (x * 37 + y * 59 + c * 71 + 13) & 255;
  return depth == 16 ? v8 * 257 : depth == 8 ? v8 : v8 % (1u << depth);
}
int To8(unsigned v, int depth) { return depth == 16 ? int(v / 257) : int(v * 255 / ((1u << depth) - 1)); }

TEST(DecodePng, EveryColourTypeAndDepthPlainAndInterlaced) {
  const std::pair<int, std::vector<int>> forms[] = {{0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}},
                                                    {4, {8, 16}}, {6, {8, 16}}};
  Bytes plte, trns;
  for (int i = 0; i < 256; ++i) plte.insert(plte.end(), {std::uint8_t(i * 3), std::uint8_t(255 - i), std::uint8_t(i * 7)});
  for (int i = 0; i < 200; ++i) trns.push_back(std::uint8_t(i * 5));  // indices from 200 on: opaque
  for (const auto& [type, depths] : forms)
    for (int depth : depths)
      for (bool interlaced : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "type " << type << " depth " << depth << " interlaced " << interlaced);
        auto s = [&](int x, int y, int c) { return Sample(x, y, c, depth); };
        const int entries = 1 << std::min(depth, 8);
        const Picture p = MustDecode(graphics_test::MakePng(
            11, 7, type, depth, interlaced, s, type == 3 ? Padded(plte, 3 * entries) : Bytes{},
            type == 3 ? Padded(trns, std::min(200, entries)) : Bytes{}));
        ASSERT_EQ(p.width * 100 + p.height, 1107);
        EXPECT_EQ(p.Opaque(), type == 0 || type == 2);
        for (int y = 0; y < 7; ++y)
          for (int x = 0; x < 11; ++x) {
            const int s0 = To8(s(x, y, 0), depth);
            Rgba want = {s0, s0, s0, 255, 0};
            if (type == 3) {
              const unsigned i = s(x, y, 0);
              want = {plte[3 * i], plte[3 * i + 1], plte[3 * i + 2], i < 200 ? trns[i] : 255, 0};
            }
            if (type == 2 || type == 6) want[1] = To8(s(x, y, 1), depth), want[2] = To8(s(x, y, 2), depth);
            if (type == 4 || type == 6) want[3] = To8(s(x, y, type == 4 ? 1 : 3), depth);
            ASSERT_EQ(At(p, x, y), want) << x << ',' << y;
          }
      }
  // tRNS key colours: RGB (10, 20, 30) and 16-bit grey 0x1234 become transparent.
  auto rgb = [](int x, int, int c) { return x == 1 ? unsigned(10 * (c + 1)) : 99u; };
  Picture p = MustDecode(graphics_test::MakePng(3, 1, 2, 8, false, rgb, {}, {0, 10, 0, 20, 0, 30}));
  EXPECT_EQ(At(p, 1, 0), (Rgba{10, 20, 30, 0, 0}));
  EXPECT_EQ(At(p, 0, 0)[3], 255);
  p = MustDecode(graphics_test::MakePng(2, 1, 0, 16, false, [](int x, int, int) { return x ? 0x1234u : 0x1235u; },
                                        {}, {0x12, 0x34}));
  EXPECT_EQ(At(p, 0, 0)[3] + At(p, 1, 0)[3], 255);
}

TEST(DecodeOthers, JpegAndGif) {
  Bytes rgb;
  for (int i = 0; i < 40 * 24; ++i) rgb.insert(rgb.end(), {std::uint8_t(i % 40 * 6), std::uint8_t(i / 40 * 10), 128});
  for (bool progressive : {false, true}) {
    const Picture p = MustDecode(graphics_test::MakeJpeg(40, 24, 3, rgb, progressive));
    ASSERT_EQ(p.width * 100 + p.height, 4024);
    EXPECT_TRUE(p.Opaque());
    for (int i = 0; i < 40 * 24; i += 7)
      for (int c = 0; c < 3; ++c) ASSERT_NEAR(At(p, i % 40, i / 40)[c], rgb[3 * i + c], 8) << i;
  }
  Picture p = MustDecode(graphics_test::MakeJpeg(8, 8, 1, Bytes(64, 70), false));
  EXPECT_EQ(At(p, 3, 3), (Rgba{70, 70, 70, 255, 0}));
  Bytes red;  // CMYK as Adobe writes it (inverted): red is C=255 M=0 Y=0 K=255
  for (int i = 0; i < 16 * 16; ++i) red.insert(red.end(), {255, 0, 0, 255});
  p = MustDecode(graphics_test::MakeJpeg(16, 16, 4, red, false));
  EXPECT_GT(At(p, 8, 8)[0], 245);
  EXPECT_LT(At(p, 8, 8)[1] + At(p, 8, 8)[2], 20);

  // GIF: a 4 x 10 frame at (1, 1) of a 6 x 12 screen, index 2 transparent.
  const Bytes palette = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};
  Bytes indices;
  for (int i = 0; i < 40; ++i) indices.push_back(std::uint8_t((i % 4 + i / 4) % 4));
  for (bool interlaced : {false, true}) {
    p = MustDecode(graphics_test::MakeGif(6, 12, 1, 1, 4, 10, indices, palette, 2, interlaced));
    ASSERT_EQ(p.width * 100 + p.height, 612);
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 6; ++x) {
        const bool inFrame = x >= 1 && x < 5 && y >= 1 && y < 11;
        const int i = inFrame ? indices[(y - 1) * 4 + x - 1] : 2;
        Rgba want = {palette[3 * i], palette[3 * i + 1], palette[3 * i + 2], 255, 0}, got = At(p, x, y);
        if (i == 2) want = {0, 0, 0, 0, 0}, got = {0, 0, 0, got[3], 0};  // transparent: colour irrelevant
        ASSERT_EQ(got, want) << x << ',' << y << " interlaced " << interlaced;
      }
  }
}

TEST(DecodeBmp, DepthsOrientationsMasksAndRuns) {
  using graphics_test::MakeBmp;
  // 24 bits, 3 x 2, bottom-up: rows of 9 bytes padded to 12.
  Picture p = MustDecode(MakeBmp(40, 3, 2, 24, 0, {}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0}));
  EXPECT_EQ(At(p, 0, 1), (Rgba{3, 2, 1, 255, 0}));
  EXPECT_EQ(At(p, 2, 0), (Rgba{19, 18, 17, 255, 0}));
  // 32 bits top-down: the fourth byte is not alpha.
  p = MustDecode(MakeBmp(40, 1, -2, 32, 0, {}, {1, 2, 3, 9, 4, 5, 6, 9}));
  EXPECT_EQ(At(p, 0, 0), (Rgba{3, 2, 1, 255, 0}));
  // 8 and 1 bits through a 3-entry colour table; index 3 lies beyond it.
  const Bytes table = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0};
  Bytes eight = MakeBmp(40, 4, 1, 8, 0, table, {0, 1, 2, 3});
  graphics_test::Put32(eight, 46, 3);  // colours used
  p = MustDecode(eight);
  EXPECT_EQ(At(p, 1, 0), (Rgba{60, 50, 40, 255, 0}));
  EXPECT_EQ(At(p, 3, 0), (Rgba{0, 0, 0, 255, 0}));
  p = MustDecode(MakeBmp(40, 9, 1, 1, 0, Padded(table, 8), {0x40, 0x80, 0, 0}));
  EXPECT_EQ(At(p, 0, 0)[0] + At(p, 1, 0)[0] + At(p, 8, 0)[0], 30 + 60 + 60);
  // 16 bits: 5-5-5 by default, 5-6-5 through bit fields after the header.
  p = MustDecode(MakeBmp(40, 1, 1, 16, 0, {}, {0x1F, 0x7C, 0, 0}));
  EXPECT_EQ(At(p, 0, 0), (Rgba{255, 0, 255, 255, 0}));
  p = MustDecode(MakeBmp(40, 1, 1, 16, 3, {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0}, {0xE0, 0x07, 0, 0}));
  EXPECT_EQ(At(p, 0, 0), (Rgba{0, 255, 0, 255, 0}));
  // A 108-byte header whose masks include alpha.
  Bytes tail(68, 0);
  const std::uint32_t masks[] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  std::memcpy(tail.data(), masks, sizeof masks);
  p = MustDecode(MakeBmp(108, 2, 1, 32, 3, {}, {1, 2, 3, 128, 4, 5, 6, 255}, tail));
  EXPECT_EQ(At(p, 0, 0), (Rgba{3, 2, 1, 128, 0}));
  // RLE8, 4 x 2: bottom row a run of 3 x index 1; top row a delta of (2, 0),
  // then an absolute run {0, 1, 1} whose last pixel is beyond the width.
  p = MustDecode(MakeBmp(40, 4, 2, 8, 1, Padded(table, 1024), {3, 1, 0, 0, 0, 2, 2, 0, 0, 3, 0, 1, 1, 0, 0, 1}));
  EXPECT_EQ(At(p, 2, 1), (Rgba{60, 50, 40, 255, 0}));
  EXPECT_EQ(At(p, 3, 1)[3] + At(p, 0, 0)[3], 0);  // skipped: transparent
  EXPECT_EQ(At(p, 2, 0), (Rgba{30, 20, 10, 255, 0}));
  EXPECT_EQ(At(p, 3, 0), (Rgba{60, 50, 40, 255, 0}));
  p = MustDecode(MakeBmp(40, 3, 1, 4, 2, Padded(table, 64), {3, 0x10, 0, 1}));  // RLE4
  EXPECT_EQ(At(p, 0, 0)[0] + At(p, 1, 0)[0] + At(p, 2, 0)[0], 60 + 30 + 60);
  EXPECT_EQ(Decode(MakeBmp(40, 3, 2, 4, 2, Padded(table, 64), {3, 0x10}), p), Gdiplus::GenericError);
}

TEST(DecodeHostile, TruncationAnywhereFailsOrGivesTheWholePicture) {
  Bytes rgb(48 * 32 * 3), indices(20 * 9);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = std::uint8_t(i * 7);
  for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = std::uint8_t(i % 4);
  const Bytes files[] = {
      graphics_test::MakePng(13, 9, 6, 8, true, [](int x, int y, int c) { return Sample(x, y, c, 8); }),
      graphics_test::MakeJpeg(48, 32, 3, rgb, false),
      graphics_test::MakeJpeg(48, 32, 3, rgb, true),
      graphics_test::MakeGif(20, 9, 0, 0, 20, 9, indices, {0, 0, 0, 9, 9, 9, 50, 50, 50, 90, 90, 90}, 1, true),
      graphics_test::MakeBmp(40, 5, 4, 24, 0, {}, Bytes(64, 77)),
      graphics_test::MakeBmp(40, 4, 2, 8, 1, Bytes(1024, 1), {3, 1, 0, 0, 0, 2, 2, 0, 0, 3, 0, 1, 1, 0, 0, 1}),
  };
  for (const Bytes& full : files) {
    const Picture whole = MustDecode(full);
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
      Picture p;
      const GpStatus s = Decode(Bytes(full.begin(), full.begin() + std::ptrdiff_t(cut)), p);
      if (cut + 16 < full.size()) {
        EXPECT_NE(s, Gdiplus::Ok) << "cut " << cut << " of " << full.size();
      } else if (s == Gdiplus::Ok) {  // only the trailer is missing
        ASSERT_EQ(0, std::memcmp(p.bgrx.get(), whole.bgrx.get(), std::size_t(p.width) * p.height * 4));
      }
    }
  }
}

TEST(DecodeHostile, HugeClaimsAndUnknownContent) {
  // A PNG header claiming 100000 x 100000 (with a valid CRC).
  Bytes png = graphics_test::MakePng(1, 1, 0, 8, false, [](int, int, int) { return 1u; });
  for (int at : {16, 20}) png[at] = 0, png[at + 1] = 0x01, png[at + 2] = 0x86, png[at + 3] = 0xA0;
  const uLong crc = crc32(0, &png[12], 17);
  for (int i = 0; i < 4; ++i) png[29 + i] = std::uint8_t(crc >> (24 - 8 * i));
  Picture p;
  EXPECT_EQ(Decode(png, p), Gdiplus::OutOfMemory);
  EXPECT_EQ(Decode(graphics_test::MakeBmp(40, 100000, -100000, 24, 0, {}, Bytes(64, 0)), p), Gdiplus::OutOfMemory);
  // Within the limits, but the rows are not in the file: refused before the
  // picture's 256 MiB are taken.
  Picture unallocated;
  EXPECT_EQ(Decode(graphics_test::MakeBmp(40, 8192, 8192, 24, 0, {}, Bytes(64, 0)), unallocated),
            Gdiplus::GenericError);
  EXPECT_EQ(unallocated.bgrx, nullptr);
  EXPECT_EQ(Decode(graphics_test::MakeGif(65535, 65535, 0, 0, 1, 1, {0}, {0, 0, 0, 1, 1, 1}, -1, false), p),
            Gdiplus::OutOfMemory);
  Bytes jpeg = graphics_test::MakeJpeg(8, 8, 1, Bytes(64, 1), false);
  const std::uint8_t startOfFrame[] = {0xFF, 0xC0};
  const auto sof = std::search(jpeg.begin(), jpeg.end(), std::begin(startOfFrame), std::end(startOfFrame));
  std::fill(sof + 5, sof + 9, 0xEA);  // height and width 60138
  EXPECT_EQ(Decode(jpeg, p), Gdiplus::OutOfMemory);

  EXPECT_EQ(Decode({}, p), Gdiplus::UnknownImageFormat);
  EXPECT_EQ(Decode({'h', 'e', 'l', 'l', 'o'}, p), Gdiplus::UnknownImageFormat);
  EXPECT_EQ(Decode({0x89, 'P', 'N'}, p), Gdiplus::UnknownImageFormat);
  EXPECT_EQ(Decode(graphics_test::MakeBmp(40, 2, 2, 0, 4, {}, Bytes(16, 0)), p), Gdiplus::UnknownImageFormat);
}

// The image data's Adler-32 is checked, for tiles (inflated whole) and for
// larger pictures (streamed) alike; the chunk's CRC is made right again, so
// only the stream's own checksum is wrong.
TEST(Decode, APngWhoseStreamChecksumIsWrongFails) {
  for (std::uint32_t side : {64u, 1200u}) {
    Bytes png = graphics_test::MakePng(side, side, 2, 8, false,
                                       [](int x, int y, int c) { return unsigned(x * 3 + y * 7 + c * 11) & 255; });
    Picture p;
    ASSERT_EQ(Decode(png, p), Gdiplus::Ok) << side;
    const auto idat = std::search(png.begin(), png.end(), std::begin("IDAT"), std::end("IDAT") - 1);
    ASSERT_NE(idat, png.end());
    const std::size_t at = std::size_t(idat - png.begin());
    const std::uint32_t len = std::uint32_t(png[at - 4]) << 24 | png[at - 3] << 16 | png[at - 2] << 8 | png[at - 1];
    png[at + 4 + len - 1] ^= 0x5A;  // the stream's last byte: part of its Adler-32
    const uLong crc = crc32(0, &png[at], uInt(4 + len));
    for (int i = 0; i < 4; ++i) png[at + 4 + len + i] = std::uint8_t(crc >> (24 - 8 * i));
    Picture bad;
    EXPECT_EQ(Decode(png, bad), Gdiplus::GenericError) << side;
  }
}

}  // namespace
