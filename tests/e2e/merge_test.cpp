// Whole merges through the real executable and runtime host with a scripted
// user: the BMP written, its pixels against a composition computed here, the
// progress written, the messages shown.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/run_program.h"
#include "tests/support/tiles.h"

namespace fs = std::filesystem;
using e2e::Bmp;
using e2e::Picture;
using e2e::Rgba;
using e2e::Sandbox;

namespace {

const std::string kDone = "message 64 图片拼合并保存完成!!";
const std::string kSaveFailed = "message 16 保存图片失败!";

std::vector<std::string> Merge(const fs::path& dir, const fs::path& out) {
  return {"folder " + dir.string(), "click 按钮_指定目录", "save " + out.string(), "click 按钮_保存路径",
          "click 按钮_开始拼合"};
}

[[maybe_unused]] std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<int> Progress(const e2e::Run& r) {
  std::vector<int> out;
  for (const auto& l : r.Lines("set 进度条_处理进度 13 ")) out.push_back(std::stoi(l.substr(l.rfind(' ') + 1)));
  return out;
}

// The picture a merge of these tiles must give: tile j of band r at
// (256 j, 256 r), source-over in drawing order, on a black bitmap.
void ExpectPixels(const Bmp& bmp, int side, const std::vector<std::vector<Picture>>& tiles,
                  const Picture* placeholder) {
  Picture want(side, side, {0, 0, 0, 0});
  for (std::size_t r = 0; r < tiles.size(); ++r)
    for (std::size_t c = 0; c < tiles[r].size(); ++c) {
      const Picture& t = tiles[r][c].width ? tiles[r][c] : *placeholder;
      for (int y = 0; y < t.height; ++y)
        for (int x = 0; x < t.width; ++x) {
          int px = int(c) * 256 + x, py = int(r) * 256 + y;
          if (px < side && py < side) want.at(px, py) = e2e::Over(want.at(px, py), t.at(x, y));
        }
    }
  int mismatches = 0;
  for (int y = 0; y < side && mismatches < 5; ++y)
    for (int x = 0; x < side && mismatches < 5; ++x) {
      auto got = bmp.At(x, y);
      Rgba w = want.at(x, y);
      if (got[0] != w.b || got[1] != w.g || got[2] != w.r || got[3] != 0) {
        ++mismatches;
        ADD_FAILURE() << "pixel (" << x << ", " << y << "): got " << int(got[2]) << "," << int(got[1]) << ","
                      << int(got[0]) << "," << int(got[3]) << " want " << int(w.r) << "," << int(w.g) << ","
                      << int(w.b);
      }
    }
}

TEST(Merge, OneBandOfOneTileGivesThatTileAndEndsFull) {
  Sandbox s("n1");
  auto tiles = e2e::MakeTileSet(s.root() / "2x", 1, 1);
  e2e::Run r = s.Play(Merge(s.root() / "2x", s.root() / "out"));
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_TRUE(r.Has(kDone)) << r.Joined();
  EXPECT_EQ(Progress(r), std::vector<int>{120});
  Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  EXPECT_EQ(bmp.bytes.size(), 262198u);
  EXPECT_EQ(bmp.fileSize, 262198u);
  EXPECT_EQ(bmp.offBits, 54u);
  EXPECT_EQ(bmp.width, 256);
  EXPECT_EQ(bmp.height, 256);
  EXPECT_EQ(bmp.bitCount, 32);
  EXPECT_EQ(bmp.compression, 0u);
  ExpectPixels(bmp, 256, tiles, nullptr);
}

TEST(Merge, BandsFollowTheSearchOrderAndMissingTilesGetThePlaceholder) {
  Sandbox s("order");
  fs::path dir = s.root() / "3x";
  // Row directories created in one order; the search returns "A", "b", "c".
  std::vector<std::vector<Picture>> tiles(3, std::vector<Picture>(3));
  const char* rows[] = {"c", "A", "b"};
  const int band[] = {2, 0, 1};
  for (int i = 0; i < 3; ++i) {
    fs::create_directories(dir / rows[i]);
    for (int c = 0; c < 3; ++c) {
      if (i == 2 && c == 1) continue;  // b's middle tile is missing
      Picture t = e2e::Pattern(256, 256, i * 10 + c + 3);
      e2e::WritePng(dir / rows[i] / ("3x" + std::string(rows[i]) + "00" + std::to_string(c) + ".png"), t);
      tiles[band[i]][c] = t;
    }
  }
  e2e::Run r = s.Play(Merge(dir, s.root() / "out"));
  ASSERT_EQ(r.status, 0) << r.Joined();
  ASSERT_TRUE(r.Has(kDone)) << r.Joined();
  EXPECT_EQ(Progress(r), (std::vector<int>{13, 26, 40, 53, 66, 80, 93, 106, 120}));
  Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  Picture placeholder = e2e::ReadPng(e2e::BinDir() / "Nodata.dll");
  ASSERT_GT(placeholder.width, 0) << "the build puts the placeholder beside the executable";
  ExpectPixels(bmp, 768, tiles, &placeholder);
}

// Windows finds a name whatever its case on disk: the tile directory, the
// tiles, the placeholder beside the executable and the output's directory.
TEST(Merge, NamesThatDifferOnlyInCaseAreFoundAsOnWindows) {
  Sandbox s("case");
  const fs::path bin = s.root() / "bin";
  fs::create_directories(bin);
  for (const char* file : {"mosalin", "velmo.vxr"}) fs::copy_file(e2e::BinDir() / file, bin / file);
  const Picture placeholder = e2e::Pattern(256, 256, 77);
  e2e::WritePng(bin / "NODATA.DLL", placeholder);
  const fs::path dir = s.root() / "Maps" / "2x";
  auto tiles = e2e::MakeTileSet(dir, 2, 2, {{1, 1}});
  fs::rename(dir / "000" / "2x000000.png", dir / "000" / "2x000000.PNG");
  fs::rename(dir / "000" / "2x000001.png", dir / "000" / "2X000001.Png");
  fs::rename(dir, s.root() / "Maps" / "2X");
  fs::create_directories(s.root() / "out");
  e2e::Run r = s.Play(Merge(s.root() / "maps" / "2x", s.root() / "OUT" / "picture"), bin / "mosalin");
  ASSERT_TRUE(r.Has(kDone)) << r.Joined();
  Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out" / "picture.bmp", &bmp));
  EXPECT_FALSE(fs::exists(s.root() / "OUT"));
  ExpectPixels(bmp, 512, tiles, &placeholder);
}

TEST(Merge, TilesBeyondTheBandCountAreNotDrawn) {
  Sandbox s("extra");
  fs::path dir = s.root() / "2x";
  auto tiles = e2e::MakeTileSet(dir, 2, 3);  // three tiles per band, but N = 2
  e2e::Run r = s.Play(Merge(dir, s.root() / "out"));
  ASSERT_TRUE(r.Has("set 编辑框_大图尺寸 8 512*512")) << r.Joined();
  ASSERT_TRUE(r.Has(kDone)) << r.Joined();
  EXPECT_EQ(Progress(r), (std::vector<int>{30, 60, 90, 120}));
  Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  EXPECT_EQ(bmp.width, 512);
  for (auto& band : tiles) band.resize(2);  // tile 2 of each band is not drawn
  ExpectPixels(bmp, 512, tiles, nullptr);
}

TEST(Merge, AnOutputInAMissingDirectoryFailsToSave) {
  Sandbox s("missing");
  e2e::MakeTileSet(s.root() / "2x", 1, 1);
  e2e::Run r = s.Play(Merge(s.root() / "2x", s.root() / "no" / "such" / "out"));
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_TRUE(r.Has(kSaveFailed)) << r.Joined();
  EXPECT_FALSE(fs::exists(s.root() / "no"));
  // The inputs are enabled again.
  EXPECT_EQ(r.transcript.back(), "set 编辑框_大图尺寸 6 0");
}

TEST(Merge, TwoMergesOfOneDirectoryWriteIdenticalFiles) {
  Sandbox s("twice");
  e2e::MakeTileSet(s.root() / "2x", 2, 2, {{1, 0}});
  auto scenario = Merge(s.root() / "2x", s.root() / "a");
  scenario = Concat(scenario, {"save " + (s.root() / "b").string(), "click 按钮_保存路径", "click 按钮_开始拼合"});
  e2e::Run r = s.Play(scenario);
  ASSERT_EQ(r.Lines(kDone).size(), 2u) << r.Joined();
  std::ifstream a(s.root() / "a.bmp", std::ios::binary), b(s.root() / "b.bmp", std::ios::binary);
  std::string da((std::istreambuf_iterator<char>(a)), {}), db((std::istreambuf_iterator<char>(b)), {});
  EXPECT_EQ(da.size(), 2u * 256 * 512 * 4 + 54);
  EXPECT_TRUE(da == db);
}

TEST(Merge, TransparentTilesShowWhatIsAlreadyThere) {
  Sandbox s("alpha");
  fs::path dir = s.root() / "2x";
  std::vector<std::vector<Picture>> tiles(1, std::vector<Picture>(2));
  fs::create_directories(dir / "000");
  fs::create_directories(dir / "001");
  // A wide opaque first tile reaches under the second, which is half transparent.
  tiles[0][0] = e2e::Pattern(300, 256, 5);
  tiles[0][1] = e2e::Pattern(256, 256, 9);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) tiles[0][1].at(x, y).a = static_cast<std::uint8_t>((x + y) % 256);
  e2e::WritePng(dir / "000" / "2x000000.png", tiles[0][0]);
  e2e::WritePng(dir / "000" / "2x000001.png", tiles[0][1]);
  e2e::Run r = s.Play(Merge(dir, s.root() / "out"));
  ASSERT_TRUE(r.Has(kDone)) << r.Joined();
  Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  // Band 1 has no tiles at all: all placeholders.
  Picture placeholder = e2e::ReadPng(e2e::BinDir() / "Nodata.dll");
  tiles.push_back({Picture(), Picture()});
  ExpectPixels(bmp, 512, tiles, &placeholder);
}

TEST(Merge, AnImpossibleSideFailsThenANormalMergeWorks) {
  Sandbox s("huge");
  fs::path huge = s.root() / "big" / "9x";
  e2e::MakeTileSet(huge, 129, 0);  // bands without tiles
  e2e::MakeTileSet(s.root() / "2x", 1, 1);
  auto scenario = Merge(huge, s.root() / "big-out");
  scenario = Concat(scenario, Merge(s.root() / "2x", s.root() / "out"));
  e2e::Run r = s.Play(scenario);
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_TRUE(r.Has("set 编辑框_大图尺寸 8 33024*33024")) << r.Joined();
  EXPECT_TRUE(r.Has("message 64 创建位图失败!可能是图片尺寸过大,正在想办法解决这个问题.")) << r.Joined();
  EXPECT_FALSE(fs::exists(s.root() / "big-out.bmp"));
  EXPECT_TRUE(r.Has(kDone));
  Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  EXPECT_EQ(bmp.width, 256);
}

TEST(Merge, ProgressForTenBandsRisesByOnePointTwo) {
  Sandbox s("ten");
  e2e::MakeTileSet(s.root() / "1x", 10, 10);
  e2e::Run r = s.Play(Merge(s.root() / "1x", s.root() / "out"));
  ASSERT_TRUE(r.Has(kDone)) << r.Joined();
  std::vector<int> p = Progress(r);
  ASSERT_EQ(p.size(), 100u);
  std::vector<int> head(p.begin(), p.begin() + 10);
  EXPECT_EQ(head, (std::vector<int>{1, 2, 3, 4, 6, 7, 8, 9, 10, 12}));
  EXPECT_EQ(p.back(), 120);
}

}  // namespace

namespace {

TEST(Merge, AMapCutIntoTilesComesBackWhole) {
  Sandbox s("map");
  fs::path dir = s.root() / "3x", full = s.root() / "full.png";
  std::string cmd = "'" + (e2e::BinDir() / "mosalin-assets").string() + "' samples '" + dir.string() +
                    "' 3 11 --full '" + full.string() + "' --jobs 1 >/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  e2e::Run r = s.Play(Merge(dir, s.root() / "out"));
  ASSERT_TRUE(r.Has(kDone)) << r.Joined();
  Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  Picture map = e2e::ReadPng(full);
  ASSERT_EQ(map.width, 768);
  ASSERT_EQ(bmp.width, 768);
  int mismatches = 0;
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 768; ++x) {
      auto got = bmp.At(x, y);
      const Rgba& w = map.at(x, y);
      mismatches += got[0] != w.b || got[1] != w.g || got[2] != w.r || got[3] != 0;
    }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace

namespace {

TEST(Merge, ABandAddedAfterTheCountFallsOutsideAndTheProgressPasses120) {
  Sandbox s("late-band");
  fs::path dir = s.root() / "2x";
  auto tiles = e2e::MakeTileSet(dir, 2, 2);
  fs::path go = s.root() / "go";
  s.Start({"folder " + dir.string(), "click 按钮_指定目录", "save " + (s.root() / "out").string(),
           "click 按钮_保存路径", "wait-file " + go.string(), "click 按钮_开始拼合"});
  // Once the directory was counted (two bands), a third band appears.
  for (int i = 0; i < 500; ++i) {
    auto lines = s.TranscriptSoFar();
    if (std::find(lines.begin(), lines.end(), "dialog 请选择拼合后的图片保存地址:") != lines.end()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  e2e::MakeTileSet(s.root() / "extra" / "2x", 3, 2);
  fs::rename(s.root() / "extra" / "2x" / "002", dir / "002");
  std::ofstream(go) << "go";
  e2e::Run r = s.Finish();
  ASSERT_TRUE(r.Has("set 编辑框_大图尺寸 8 512*512")) << r.Joined();
  ASSERT_TRUE(r.Has(kDone)) << r.Joined();
  EXPECT_EQ(Progress(r), (std::vector<int>{30, 60, 90, 120, 150, 180}));
  Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  EXPECT_EQ(bmp.width, 512);
  ExpectPixels(bmp, 512, tiles, nullptr);  // the third band is lost
}

}  // namespace
