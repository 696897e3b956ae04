// Pictures that claim far more than they hold: enormous sides in a small
// file, or a compressed stream that inflates far beyond what its header
// announces. Each must fail its load quickly with a status and without a
// large allocation, and a merge with such tiles must still complete.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>

#include "platform/graphics/picture.h"
#include "tests/platform/graphics/decoding.h"
#include "tests/platform/graphics/pictures.h"
#include "tests/reliability/merge_support.h"
#include "tests/support/run_program.h"

namespace fs = std::filesystem;
using graphics_test::Bytes;
using graphics_test::PeakRssKiB;

namespace {

void PutBe32(Bytes& b, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(std::uint8_t(v >> shift));
}

void Chunk(Bytes& png, const char* type, const Bytes& data) {
  PutBe32(png, std::uint32_t(data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  PutBe32(png, std::uint32_t(crc32(0, png.data() + start, uInt(png.size() - start))));
}

// A PNG of 8-bit samples whose IDAT holds `rawBytes` zero bytes (filter
// bytes included) compressed, deflated piecewise so that the raw data never
// exists in memory.
Bytes Png(std::uint32_t width, std::uint32_t height, int colourType, std::size_t rawBytes) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  PutBe32(ihdr, width);
  PutBe32(ihdr, height);
  ihdr.insert(ihdr.end(), {8, std::uint8_t(colourType), 0, 0, 0});
  Chunk(png, "IHDR", ihdr);
  z_stream z{};
  deflateInit(&z, 9);
  Bytes zeros(1 << 16, 0), idat;
  std::uint8_t out[1 << 16];
  for (std::size_t left = rawBytes;;) {
    const std::size_t take = std::min(left, zeros.size());
    left -= take;
    z.next_in = zeros.data();
    z.avail_in = uInt(take);
    const int flush = left ? Z_NO_FLUSH : Z_FINISH;
    int rc;
    do {
      z.next_out = out;
      z.avail_out = sizeof out;
      rc = deflate(&z, flush);
      idat.insert(idat.end(), out, out + (sizeof out - z.avail_out));
    } while (z.avail_out == 0);
    if (rc == Z_STREAM_END) break;
  }
  deflateEnd(&z);
  Chunk(png, "IDAT", idat);
  Chunk(png, "IEND", {});
  return png;
}

// A small valid JPEG with the sides in its frame header replaced.
Bytes JpegClaiming(std::uint16_t width, std::uint16_t height) {
  Bytes jpeg = graphics_test::MakeJpeg(8, 8, 3, Bytes(8 * 8 * 3, 128), false);
  for (std::size_t i = 0; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = std::uint8_t(height >> 8), jpeg[i + 6] = std::uint8_t(height);
      jpeg[i + 7] = std::uint8_t(width >> 8), jpeg[i + 8] = std::uint8_t(width);
      break;
    }
  return jpeg;
}

struct Bomb {
  const char* what;
  Bytes bytes;
};

std::vector<Bomb> Bombs() {
  std::vector<Bomb> bombs;
  bombs.push_back({"PNG of 100000 x 100000", Png(100000, 100000, 6, 4096)});
  // 64 x 64 RGBA needs 16 KiB of filtered rows; the stream inflates to 64 MiB.
  bombs.push_back({"PNG whose data inflates 4000 times beyond its header", Png(64, 64, 6, std::size_t(64) << 20)});
  // A larger picture (8 MiB of rows) is checked by streaming: the same refusal.
  bombs.push_back({"PNG of 2048 x 1024 whose data inflates 8 times beyond its header",
                   Png(2048, 1024, 6, std::size_t(64) << 20)});
  bombs.push_back({"JPEG of 65000 x 65000", JpegClaiming(65000, 65000)});
  bombs.push_back({"BMP of 100000 x 100000",
                   graphics_test::MakeBmp(40, 100000, 100000, 24, 0, {}, Bytes(64, 7))});
  Bytes hugeHeader = graphics_test::MakeBmp(40, 4, 4, 24, 0, {}, Bytes(48, 7));
  graphics_test::Put32(hugeHeader, 14, 0xFFFFFFF0u);  // the info header's own size
  bombs.push_back({"BMP whose info header claims 4 GiB", hugeHeader});
  Bytes palette(2 * 3, 200);
  bombs.push_back({"GIF with a screen of 65535 x 65535",
                   graphics_test::MakeGif(65535, 65535, 0, 0, 2, 2, Bytes{0, 1, 1, 0}, palette, -1, false)});
  return bombs;
}

TEST(DecompressionBombs, EachFailsWithAStatusAndWithoutALargeAllocation) {
  const auto bombs = Bombs();
  const long before = PeakRssKiB();
  for (const Bomb& bomb : bombs) {
    graphics::Picture picture;
    EXPECT_NE(graphics::DecodePicture(bomb.bytes, picture), Gdiplus::Ok) << bomb.what;
  }
  // A picture of any of the claimed sides would take gigabytes.
  EXPECT_LT(PeakRssKiB() - before, 100 * 1024) << "KiB";
}

TEST(DecompressionBombs, AMergeWithBombTilesCompletesAndLeavesTheirSquaresUntouched) {
  e2e::Sandbox s("bombs");
  const fs::path dir = s.root() / "2x";
  const auto tiles = e2e::MakeTileSet(dir, 3, 3);
  const auto bombs = Bombs();
  for (std::size_t i = 0; i < bombs.size(); ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "%03d/2x%03d%03d.png", int(i / 3), int(i / 3), int(i % 3));
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bombs[i].bytes.data()), std::streamsize(bombs[i].bytes.size()));
  }
  const e2e::Run r = s.Play(reliability::Merge(dir, s.root() / "out"));
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_TRUE(r.Has(reliability::kDone)) << r.Joined();
  e2e::Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  ASSERT_EQ(bmp.width, 768);
  for (int i = 0; i < 9; ++i) {
    const int row = i / 3, col = i % 3;
    const bool bomb = std::size_t(i) < bombs.size();
    EXPECT_EQ(reliability::Classify(bmp, row, col, &tiles[row][col]),
              bomb ? reliability::Square::Black : reliability::Square::Tile)
        << (bomb ? bombs[i].what : "a normal tile") << " at " << row << ", " << col;
  }
}

}  // namespace
