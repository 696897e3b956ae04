// Scripted merges by the Windows build under Wine: the same transcript and
// the same file as the Linux build.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "tests/support/run_program.h"
#include "tests/support/tiles.h"
#include "tests/windows/wine_support.h"

namespace fs = std::filesystem;

namespace {

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(WindowsMerge, SampleTilesGiveTheLinuxTranscriptAndFile) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  e2e::Sandbox s("win-sample");
  const fs::path samples = e2e::BinDir().parent_path() / "samples" / "2x";
  auto scenario = [&](const fs::path& out) {
    return std::vector<std::string>{"folder " + e2e::WindowsPath(samples), "click 按钮_指定目录",
                                    "save " + e2e::WindowsPath(out), "click 按钮_保存路径",
                                    "click 按钮_开始拼合"};
  };
  e2e::Run win = wintest::PlayWine(s.root() / "win", scenario(s.root() / "out"));
  ASSERT_EQ(win.status, 0) << win.Joined();
  EXPECT_TRUE(win.Has("message 64 图片拼合并保存完成!!")) << win.Joined();
  EXPECT_TRUE(win.Has("set 进度条_处理进度 13 120")) << win.Joined();
  const std::string windowsFile = Bytes(s.root() / "out.bmp");

  // The Linux build, scenario for scenario (its paths in POSIX form).
  e2e::Run linux = s.Play({"folder " + samples.string(), "click 按钮_指定目录",
                           "save " + (s.root() / "out").string(), "click 按钮_保存路径",
                           "click 按钮_开始拼合"});
  ASSERT_EQ(linux.status, 0) << linux.Joined();
  EXPECT_EQ(win.transcript, linux.transcript);
  EXPECT_EQ(windowsFile.size(), 4194358u);
  EXPECT_TRUE(windowsFile == Bytes(s.root() / "out.bmp")) << "the two builds wrote different files";

  // Again with the low 2 GiB of the process's addresses taken before it
  // starts: the host, its heap, the DLLs and the large blocks all lie above
  // 0x80000000, where an address read as a signed number goes wrong. Only a
  // large-address-aware executable gets any memory there.
  const fs::path script = s.root() / "high" / "scenario.txt";
  fs::create_directories(script.parent_path());
  std::ofstream(script) << [&] {
    std::string lines;
    for (const auto& l : scenario(s.root() / "high-out")) lines += l + "\n";
    return lines;
  }();
  e2e::Run high = wintest::RunWine(wintest::WindowsBin() / "high-blocks.exe",
                                   {e2e::WindowsPath(wintest::WindowsBin() / "mosalin.exe")},
                                   {"VELMO_SCRIPT=" + e2e::WindowsPath(script)}, script.parent_path());
  ASSERT_EQ(high.status, 0) << high.Joined();
  EXPECT_NE(high.err.find("MiB below 2 GiB reserved"), std::string::npos) << high.err;
  EXPECT_EQ(high.transcript, win.transcript);
  EXPECT_TRUE(windowsFile == Bytes(s.root() / "high-out.bmp")) << "the merge above 2 GiB wrote another file";
}

}  // namespace

namespace {

std::vector<std::string> MergeScenario(const fs::path& dir, const fs::path& out) {
  return {"folder " + e2e::WindowsPath(dir), "click 按钮_指定目录", "save " + e2e::WindowsPath(out),
          "click 按钮_保存路径", "click 按钮_开始拼合"};
}

TEST(WindowsMerge, AFailedSaveIsReportedAndLeavesNoFile) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  e2e::Sandbox s("win-failed-save");
  e2e::MakeTileSet(s.root() / "2x", 2, 2);
  const fs::path out = s.root() / "no-such-dir" / "out";
  e2e::Run r = wintest::PlayWine(s.root() / "run", MergeScenario(s.root() / "2x", out));
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_TRUE(r.Has("message 16 保存图片失败!")) << r.Joined();
  EXPECT_FALSE(r.Has("message 64 图片拼合并保存完成!!"));
  EXPECT_TRUE(r.Has("set 按钮_开始拼合 6 0")) << "the inputs are enabled again";
  EXPECT_FALSE(fs::exists(s.root() / "no-such-dir"));

  // A directory in the way of the file: the write fails, nothing is left
  // beside it (the temporary file is removed).
  fs::create_directories(s.root() / "busy.bmp");
  r = wintest::PlayWine(s.root() / "run2", MergeScenario(s.root() / "2x", s.root() / "busy"));
  EXPECT_TRUE(r.Has("message 16 保存图片失败!")) << r.Joined();
  for (const auto& e : fs::directory_iterator(s.root()))
    EXPECT_EQ(e.path().extension() == ".tmp", false) << e.path();
}

TEST(WindowsMerge, MissingTilesTakeThePlaceholderAndABadDirectoryIsRefused) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  e2e::Sandbox s("win-missing");
  auto tiles = e2e::MakeTileSet(s.root() / "2x", 2, 2, {{0, 1}, {1, 0}});
  e2e::Run r = wintest::PlayWine(s.root() / "run", MergeScenario(s.root() / "2x", s.root() / "out"));
  ASSERT_TRUE(r.Has("message 64 图片拼合并保存完成!!")) << r.Joined();
  e2e::Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  ASSERT_EQ(bmp.width, 512);
  // Drawn tiles are where they belong; the placeholder (Nodata.dll beside
  // the executable) fills the two missing squares with something.
  for (auto [row, col] : {std::pair{0, 0}, std::pair{1, 1}}) {
    const e2e::Rgba want = tiles[row][col].at(10, 20);
    const auto got = bmp.At(col * 256 + 10, row * 256 + 20);
    EXPECT_EQ((e2e::Rgba{got[2], got[1], got[0], 255}), want) << row << "," << col;
  }
  bool placeholderDrawn = false;
  for (int y = 0; y < 256 && !placeholderDrawn; ++y)
    for (int x = 256; x < 512 && !placeholderDrawn; ++x) {
      const auto p = bmp.At(x, y);
      placeholderDrawn = p[0] || p[1] || p[2];
    }
  EXPECT_TRUE(placeholderDrawn);

  // A directory whose name has no lowercase x is refused, as on Linux.
  fs::create_directories(s.root() / "tiles" / "000");
  r = wintest::PlayWine(s.root() / "run2", MergeScenario(s.root() / "tiles", s.root() / "out2"));
  EXPECT_TRUE(r.Has("message 16 目录不正确,请指定类似\"2x\"或者\"1x\"的目录,并确定小图片的前缀和目录名相同!"))
      << r.Joined();
  EXPECT_FALSE(fs::exists(s.root() / "out2.bmp"));

  // Refused after a good pick, it leaves the good one to be merged.
  r = wintest::PlayWine(s.root() / "run3", {"folder " + e2e::WindowsPath(s.root() / "2x"), "click 按钮_指定目录",
                                            "folder " + e2e::WindowsPath(s.root() / "tiles"), "click 按钮_指定目录",
                                            "save " + e2e::WindowsPath(s.root() / "out3"), "click 按钮_保存路径",
                                            "click 按钮_开始拼合"});
  EXPECT_TRUE(r.Has("message 64 图片拼合并保存完成!!")) << r.Joined();
  EXPECT_TRUE(Bytes(s.root() / "out3.bmp") == Bytes(s.root() / "out.bmp"));
}

TEST(WindowsMerge, ABitmapTooLargeForTheSystemTakesTheProgramsFailurePath) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  // 128 bands make a side of 32768 pixels: 4 GiB at 32 bits, more than a
  // 32-bit process can have, so CreateCompatibleBitmap fails.
  e2e::Sandbox s("win-huge");
  e2e::MakeTileSet(s.root() / "7x", 128, 0);  // bands without tiles
  e2e::Run r = wintest::PlayWine(s.root() / "run", MergeScenario(s.root() / "7x", s.root() / "out"));
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_TRUE(r.Has("set 编辑框_大图尺寸 8 32768*32768")) << r.Joined();
  EXPECT_TRUE(r.Has("message 64 创建位图失败!可能是图片尺寸过大,正在想办法解决这个问题.")) << r.Joined();
  EXPECT_TRUE(r.Has("set 编辑框_大图尺寸 6 0"));
  EXPECT_FALSE(fs::exists(s.root() / "out.bmp"));
}

}  // namespace

namespace {

TEST(WindowsMerge, BandsComeInIndexOrderWhateverTheDirectoryKeeps) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  // Row directories made in an order that is neither their byte order nor
  // their index order (names compared upper-cased): "a" comes first, then
  // "B", then "c", as NTFS (and Wine, which sorts the Linux directory's
  // entries) returns them; the host orders them that way on any file system.
  e2e::Sandbox s("win-band-order");
  const fs::path dir = s.root() / "1x";
  const char* const rows[] = {"c", "B", "a"};  // made in this order
  std::map<std::string, e2e::Picture> tiles;
  int seed = 1;
  for (const char* row : rows) {
    fs::create_directories(dir / row);
    for (int col = 0; col < 3; ++col) {
      char name[32];
      std::snprintf(name, sizeof name, "1x%s%03d.png", row, col);
      e2e::Picture p = e2e::Pattern(256, 256, seed++);
      e2e::WritePng(dir / row / name, p);
      if (col == 0) tiles[row] = p;
    }
  }
  e2e::Run r = wintest::PlayWine(s.root() / "run", MergeScenario(dir, s.root() / "out"));
  ASSERT_TRUE(r.Has("message 64 图片拼合并保存完成!!")) << r.Joined();
  e2e::Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  int band = 0;
  for (const char* row : {"a", "B", "c"}) {
    const auto got = bmp.At(5, band * 256 + 7);
    const e2e::Rgba want = tiles[row].at(5, 7);
    EXPECT_EQ((e2e::Rgba{got[2], got[1], got[0], 255}), want) << "band " << band << " should be " << row;
    ++band;
  }
}

}  // namespace
