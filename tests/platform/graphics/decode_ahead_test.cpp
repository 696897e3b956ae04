#include "platform/graphics/decode_ahead.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/platform/graphics/pictures.h"

namespace graphics {
namespace {

using graphics_test::Bytes;
using graphics_test::MakePng;
using graphics_test::TempDir;

// An opaque RGB tile whose colours depend on `seed`.
Bytes Tile(int seed, std::uint32_t edge = 16) {
  return MakePng(edge, edge, 2, 8, false, [seed](int x, int y, int c) {
    return unsigned(x * 7 + y * 13 + c * 31 + seed * 5) & 0xFF;
  });
}

// A zoom directory "2x" of `rows` x `cols` tiles; tile (r, c) has seed r * 100 + c.
struct TileSet {
  TempDir dir;
  std::string zoom;
  TileSet(int rows, int cols) {
    zoom = dir.path + "/2x";
    for (int r = 0; r < rows; ++r) {
      char row[16];
      std::snprintf(row, sizeof row, "%03d", r);
      std::filesystem::create_directories(zoom + "/" + row);
      for (int c = 0; c < cols; ++c) Write(r, c, Tile(r * 100 + c));
    }
  }
  std::string Path(int r, int c) const {
    char rel[64];
    std::snprintf(rel, sizeof rel, "/%03d/2x%03d%03d.png", r, r, c);
    return zoom + rel;
  }
  void Write(int r, int c, const Bytes& b) const {
    const std::string rel = Path(r, c).substr(dir.path.size() + 1);
    dir.Write(rel, b);
  }
};

bool SamePicture(const Picture& a, const Picture& b) {
  const std::size_t n = std::size_t(a.width) * a.height;
  return a.width == b.width && a.height == b.height && a.Opaque() == b.Opaque() &&
         std::memcmp(a.bgrx.get(), b.bgrx.get(), n * 4) == 0 &&
         (a.Opaque() || std::memcmp(a.alpha.get(), b.alpha.get(), n) == 0);
}

TEST(PredictNextTiles, FollowsTheRowThenTheNextRowDirectory) {
  TileSet set(3, 3);
  EXPECT_EQ(PredictNextTiles(set.Path(0, 0), 4),
            (std::vector<std::string>{set.Path(0, 1), set.Path(0, 2), set.Path(1, 0), set.Path(1, 1)}));
  // The row length is the number of row directories, not the files present.
  set.Write(0, 3, Tile(3));
  EXPECT_EQ(PredictNextTiles(set.Path(0, 2), 2),
            (std::vector<std::string>{set.Path(1, 0), set.Path(1, 1)}));
  // After the last row directory nothing is predicted.
  EXPECT_EQ(PredictNextTiles(set.Path(2, 1), 8), (std::vector<std::string>{set.Path(2, 2)}));
}

TEST(PredictNextTiles, NamesThatAreNoTilesPredictNothing) {
  TileSet set(2, 2);
  EXPECT_TRUE(PredictNextTiles(set.dir.path + "/Nodata.dll", 4).empty());
  EXPECT_TRUE(PredictNextTiles(set.zoom + "/000/3x000000.png", 4).empty());
  EXPECT_TRUE(PredictNextTiles(set.zoom + "/000/2x00000.png", 4).empty());
  EXPECT_TRUE(PredictNextTiles(set.zoom + "/000/2x000000.bmp", 4).empty());
  EXPECT_TRUE(PredictNextTiles(set.zoom + "/000/2x000abc.png", 4).empty());
}

TEST(DecodeAhead, AMergeInOrderIsServedAheadWithTheSamePictures) {
  TileSet set(3, 3);
  DecodeAhead ahead(4);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      Picture fast, fresh;
      ASSERT_EQ(ahead.Load(set.Path(r, c), fast), Gdiplus::Ok);
      ASSERT_EQ(LoadPictureFile(set.Path(r, c), fresh), Gdiplus::Ok);
      EXPECT_TRUE(SamePicture(fast, fresh)) << r << "," << c;
      usleep(20000);  // the caller's drawing, during which the worker runs ahead
    }
  // Every tile after the first was predicted; at least some came decoded.
  EXPECT_GT(ahead.Hits(), 0u);
  ahead.Stop();
  Picture again;
  EXPECT_EQ(ahead.Load(set.Path(0, 0), again), Gdiplus::Ok);  // works again after Stop
}

TEST(DecodeAhead, AFileChangedOrRemovedAfterItsDecodeGivesWhatItIsNow) {
  TileSet set(1, 4);
  set.Write(0, 3, Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'});
  DecodeAhead ahead(4);
  Picture first;
  ASSERT_EQ(ahead.Load(set.Path(0, 0), first), Gdiplus::Ok);
  // Give the worker time to decode tiles 1 and 2; then change both.
  usleep(100000);
  set.Write(0, 1, Tile(999, 24));
  std::filesystem::remove(set.Path(0, 2));

  Picture changed, expected;
  ASSERT_EQ(ahead.Load(set.Path(0, 1), changed), Gdiplus::Ok);
  ASSERT_EQ(LoadPictureFile(set.Path(0, 1), expected), Gdiplus::Ok);
  EXPECT_EQ(changed.width, 24);
  EXPECT_TRUE(SamePicture(changed, expected));
  Picture gone, bad;
  EXPECT_EQ(ahead.Load(set.Path(0, 2), gone), Gdiplus::FileNotFound);
  EXPECT_EQ(ahead.Load(set.Path(0, 3), bad), Gdiplus::UnknownImageFormat);
  // Loads out of order (a placeholder between tiles) change nothing either.
  Picture tile0;
  EXPECT_EQ(ahead.Load(set.Path(0, 0), tile0), Gdiplus::Ok);
  EXPECT_TRUE(SamePicture(tile0, first));
}

// Metafiles bypass the cache: the worker takes one for content it does not
// decode, and the call that asks for it parses it itself.
TEST(DecodeAhead, AMetafileTileIsParsedByTheCallThatAsks) {
  TileSet set(1, 3);
  set.Write(0, 1, graphics_test::MakeEmf());
  DecodeAhead ahead(4);
  Picture p;
  ASSERT_EQ(ahead.Load(set.Path(0, 0), p), Gdiplus::Ok);
  usleep(50000);  // the worker meets tile 1
  std::unique_ptr<metafile::Metafile> m;
  ASSERT_EQ(ahead.Load(set.Path(0, 1), p, &m), Gdiplus::Ok);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->width, 2645);
  EXPECT_EQ(ahead.Load(set.Path(0, 1), p), Gdiplus::UnknownImageFormat);  // asked for a picture only
}

TEST(DecodeAhead, StatusesMatchAPlainLoad) {
  TempDir dir;
  const std::string sub = dir.path + "/sub";
  std::filesystem::create_directories(sub);
  DecodeAhead ahead;
  Picture p;
  EXPECT_EQ(ahead.Load(dir.path + "/missing.png", p), Gdiplus::FileNotFound);
  EXPECT_EQ(ahead.Load(sub, p), Gdiplus::Win32Error);
  EXPECT_EQ(ahead.Load(dir.Write("empty.png", {}), p), Gdiplus::UnknownImageFormat);
  // A named pipe without a writer is refused at once, in the worker too.
  std::filesystem::create_directories(dir.path + "/2x/000");
  ASSERT_EQ(::mkfifo((dir.path + "/2x/000/2x000001.png").c_str(), 0600), 0);
  EXPECT_EQ(ahead.Load(dir.path + "/2x/000/2x000001.png", p), Gdiplus::Win32Error);
  EXPECT_EQ(ahead.Load(dir.path + "/2x/000/2x000000.png", p), Gdiplus::FileNotFound);
  ahead.Stop();  // returns: nothing waits on the pipe
}

}  // namespace
}  // namespace graphics
