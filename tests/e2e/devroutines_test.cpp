// The hidden test buttons, pressed through the scripted user, with drives C:
// and F: mapped into the test's sandbox.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/run_program.h"
#include "tests/support/tiles.h"

namespace fs = std::filesystem;
using e2e::Sandbox;

namespace {

const char* kFixedDir = "MapTemp/不规则/extracted_tiles/2x";

TEST(TestSingleTile, WritesTheFixedTileIntoAThousandPixelPicture) {
  Sandbox s("single");
  fs::path c = s.MapDrive('c');
  fs::create_directories(c / "tttaaa");
  e2e::Picture tile = e2e::Pattern(256, 256, 42);
  e2e::WritePng(c / "tttaaa" / "4x002002.png", tile);
  e2e::Run r = s.Play({"click 按钮1"});
  ASSERT_EQ(r.status, 0) << r.Joined();
  // The program shows nothing; the host records the tile it drew.
  EXPECT_EQ(r.transcript, (std::vector<std::string>{"window-created", "picture 0 - c:\\\\tttaaa\\\\4x002002.png"}));
  e2e::Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(c / "tilbern.bmp", &bmp));
  EXPECT_EQ(bmp.bytes.size(), 4194358u);
  EXPECT_EQ(bmp.width, 1024);
  EXPECT_EQ(bmp.height, 1024);
  for (auto [x, y] : {std::pair{0, 0}, {255, 255}, {100, 37}}) {
    auto got = bmp.At(x, y);
    EXPECT_EQ(got[2], tile.at(x, y).r);
    EXPECT_EQ(got[1], tile.at(x, y).g);
    EXPECT_EQ(got[0], tile.at(x, y).b);
  }
  EXPECT_EQ(bmp.At(256, 0), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(bmp.At(1023, 1023), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
}

TEST(TestSingleTile, WithoutTheTileStillWritesABlackPicture) {
  Sandbox s("single-missing");
  fs::path c = s.MapDrive('c');
  e2e::Run r = s.Play({"click 按钮1"});
  ASSERT_EQ(r.status, 0) << r.Joined();
  e2e::Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(c / "tilbern.bmp", &bmp));
  EXPECT_EQ(bmp.bytes.size(), 4194358u);
  for (std::size_t i = 54; i < bmp.bytes.size(); i += 4099) ASSERT_EQ(bmp.bytes[i], 0) << i;
}

TEST(TestFixedPathMerge, WithoutItsDirectoryTheBitmapFailsAndNothingIsWritten) {
  Sandbox s("fixed-missing");
  s.MapDrive('c');
  fs::path f = s.MapDrive('f');
  e2e::Run r = s.Play({"click 按钮4"});
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_EQ(r.transcript, (std::vector<std::string>{"window-created", "message 0 创建位图失败!"}));
  EXPECT_FALSE(fs::exists(f / "tilbern.bmp"));
}

TEST(TestFixedPathMerge, MergesTheFixedDirectoryToDriveFAndLeavesTheWindowAsItWas) {
  Sandbox s("fixed");
  fs::path c = s.MapDrive('c');
  fs::path f = s.MapDrive('f');
  auto tiles = e2e::MakeTileSet(c / kFixedDir, 5, 5, {{4, 4}});
  e2e::MakeTileSet(s.root() / "mine" / "1x", 1, 1);
  e2e::Run r = s.Play({"folder " + (s.root() / "mine" / "1x").string(), "click 按钮_指定目录", "click 按钮4",
                       "save " + (s.root() / "out").string(), "click 按钮_保存路径", "click 按钮_开始拼合"});
  ASSERT_EQ(r.status, 0) << r.Joined();
  // No message from the test merge, and the edit boxes keep the user's choice.
  EXPECT_EQ(r.Lines("set 编辑框_目录名称 8 "), std::vector<std::string>{"set 编辑框_目录名称 8 1x"});
  EXPECT_EQ(r.Lines("set 编辑框_大图尺寸 8 "), std::vector<std::string>{"set 编辑框_大图尺寸 8 256*256"});
  EXPECT_EQ(r.Lines("message "), std::vector<std::string>{"message 64 图片拼合并保存完成!!"}) << r.Joined();
  e2e::Bmp fixed, merged;
  ASSERT_TRUE(e2e::ReadBmp(f / "tilbern.bmp", &fixed));
  EXPECT_EQ(fixed.width, 1280);
  EXPECT_EQ(fixed.height, 1280);
  auto px = fixed.At(256 * 3 + 10, 256 * 2 + 20);
  EXPECT_EQ(px[2], tiles[2][3].at(10, 20).r);
  // The start button now merges the fixed directory.
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &merged));
  EXPECT_EQ(merged.width, 1280);
  EXPECT_TRUE(merged.bytes == fixed.bytes);
  // 25 tile draws in each of the two merges.
  EXPECT_EQ(r.Lines("set 进度条_处理进度 13 ").size(), 50u);
}

TEST(TestFixedPathMerge, AMissingDriveFGoesUnnoticed) {
  Sandbox s("fixed-nof");
  fs::path c = s.MapDrive('c');
  e2e::MakeTileSet(c / kFixedDir, 1, 1);
  e2e::Run r = s.Play({"click 按钮4"});
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_TRUE(r.Lines("message").empty()) << r.Joined();
}

TEST(Walks, LeaveNoTraceAndFreeTheirLastName) {
  Sandbox s("walks");
  fs::path c = s.MapDrive('c');
  e2e::MakeTileSet(c / "testmap" / "extracted_tiles" / "1x", 2, 3);
  e2e::MakeTileSet(c / "testmap" / "extracted_tiles" / "4x", 3, 1);
  setenv("VELMO_TRACE", "1", 1);
  e2e::Run r = s.Play({"click 按钮3", "click 按钮2", "click 按钮3", "click 按钮2"});
  unsetenv("VELMO_TRACE");
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_EQ(r.transcript, std::vector<std::string>{"window-created"});
  EXPECT_NE(r.err.find("velmo: 0 blocks left after the end routine"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("did not hand out"), std::string::npos) << r.err;
  std::size_t files = 0;
  for (auto it = fs::recursive_directory_iterator(c); it != fs::recursive_directory_iterator(); ++it) ++files;
  EXPECT_EQ(files, 4u + (2 + 2 * 3) + (3 + 3 * 1));  // the four directories, then each zoom level's bands and tiles
}

}  // namespace
