// Scripted merges by the Windows build under Wine: the same transcript and
// the same file as the Linux build.
#include <gtest/gtest.h>

#include <fstream>

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
}

}  // namespace
