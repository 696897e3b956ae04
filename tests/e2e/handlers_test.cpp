// The window's handlers through the scripted user: choosing and checking the
// tile directory, choosing the output file, starting, the about label.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/run_program.h"
#include "tests/support/tiles.h"

namespace fs = std::filesystem;
using e2e::Sandbox;

namespace {

const std::string kWrongDir =
    "message 16 目录不正确,请指定类似\"2x\"或者\"1x\"的目录,并确定小图片的前缀和目录名相同!";
const std::string kNoTiles = "message 16 此路径下没有可用的图片数据!";

std::vector<std::string> Pick(const fs::path& dir) { return {"folder " + dir.string(), "click 按钮_指定目录"}; }

// The transcript lines after the folder browser was shown.
std::vector<std::string> AfterBrowse(const e2e::Run& r) {
  std::vector<std::string> out;
  bool seen = false;
  for (const auto& l : r.transcript) {
    if (seen) out.push_back(l);
    seen |= l.rfind("browse-folder ", 0) == 0;
  }
  return out;
}

TEST(PickTileDir, ShowsPrefixSizeAndPathForADirectoryOfFiveBands) {
  Sandbox s("five");
  fs::path dir = s.root() / "maps" / "2x";
  for (const char* b : {"000", "001", "002", "003", "004"}) fs::create_directories(dir / b);
  std::ofstream(dir / "readme.txt") << "files beside the bands are not counted";
  e2e::Run r = s.Play(Pick(dir));
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_TRUE(r.Has("browse-folder 选择你要拼合的图片目录:"));
  std::string path = e2e::WindowsPath(dir);
  std::string escaped;
  for (char c : path) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_EQ(AfterBrowse(r), (std::vector<std::string>{"set 编辑框_目录名称 8 2x", "set 编辑框_大图尺寸 8 1280*1280",
                                                      "set 标签_小图路径 8 小图路径:" + escaped}));
}

TEST(PickTileDir, TheNameMustContainALowercaseX) {
  Sandbox s("names");
  for (const char* name : {"tiles", "2X", "box", "x"}) fs::create_directories(s.root() / name / "000");
  for (const char* name : {"tiles", "2X"}) {
    e2e::Run r = s.Play(Pick(s.root() / name));
    EXPECT_EQ(AfterBrowse(r), std::vector<std::string>{kWrongDir}) << name << "\n" << r.Joined();
  }
  for (const char* name : {"box", "x"}) {
    e2e::Run r = s.Play(Pick(s.root() / name));
    EXPECT_TRUE(r.Has(std::string("set 编辑框_目录名称 8 ") + name)) << r.Joined();
    EXPECT_TRUE(r.Has("set 编辑框_大图尺寸 8 256*256")) << r.Joined();
  }
}

TEST(PickTileDir, ACancelledBrowserAndADirectoryWithoutBandsAreRejected) {
  Sandbox s("cancel");
  e2e::Run r = s.Play({"folder-cancel", "click 按钮_指定目录"});
  EXPECT_EQ(AfterBrowse(r), std::vector<std::string>{kWrongDir}) << r.Joined();
  fs::create_directories(s.root() / "4x");
  std::ofstream(s.root() / "4x" / "4x000000.png") << "a file, not a band";
  r = s.Play(Pick(s.root() / "4x"));
  // The window keeps showing what a start would merge: nothing new.
  EXPECT_EQ(AfterBrowse(r), std::vector<std::string>{kNoTiles}) << r.Joined();
}

TEST(PickSavePath, TheLabelShowsThePathWithOneBmpSuffix) {
  Sandbox s("save");
  for (const char* name : {"out", "big.bmp", "BIG.BMP", "shot.bmp.png"}) {
    e2e::Run r = s.Play({"save " + (s.root() / name).string(), "click 按钮_保存路径"});
    std::string want = e2e::WindowsPath(s.root() / name);
    std::string lower = want;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.size() < 4 || lower.compare(lower.size() - 4, 4, ".bmp") != 0) want += ".bmp";
    std::string escaped;
    for (char c : want) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_EQ(r.transcript.back(), "set 标签_保存路径 8 保存在:" + escaped) << name;
    EXPECT_TRUE(r.Has("set 通用对话框_保存 8 1"));
    EXPECT_TRUE(r.Has("set 通用对话框_保存 9 请选择拼合后的图片保存地址:"));
    EXPECT_TRUE(r.Has("set 通用对话框_保存 11 (位图文件)*.bmp|*.bmp|(所有文件)*.*|*.*"));
    EXPECT_TRUE(r.Has("dialog 请选择拼合后的图片保存地址:"));
  }
}

TEST(PickSavePath, ACancelledDialogKeepsTheFileChosenBefore) {
  Sandbox s("savecancel");
  e2e::Run r = s.Play({"save-cancel", "click 按钮_保存路径"});
  EXPECT_EQ(r.transcript.back(), "set 标签_保存路径 8 保存在:.bmp");
  r = s.Play({"save " + (s.root() / "a").string(), "click 按钮_保存路径", "save-cancel", "click 按钮_保存路径"});
  auto labels = r.Lines("set 标签_保存路径 8 ");
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels[0], labels[1]);
}

TEST(StartMerge, WithoutASaveFileOnlyDisablesAndEnablesTheInputs) {
  Sandbox s("nosave");
  e2e::MakeTileSet(s.root() / "2x", 1, 1);
  auto scenario = Pick(s.root() / "2x");
  scenario.push_back("click 按钮_开始拼合");
  e2e::Run r = s.Play(scenario);
  std::vector<std::string> tail(r.transcript.end() - 10, r.transcript.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "set 按钮_指定目录 6 1", "set 按钮_保存路径 6 1", "set 按钮_开始拼合 6 1",
                      "set 编辑框_目录名称 6 1", "set 编辑框_大图尺寸 6 1", "set 按钮_指定目录 6 0",
                      "set 按钮_保存路径 6 0", "set 按钮_开始拼合 6 0", "set 编辑框_目录名称 6 0",
                      "set 编辑框_大图尺寸 6 0"}));
  // A save dialog that was only ever cancelled leaves the file name empty.
  r = s.Play({"save-cancel", "click 按钮_保存路径", "click 按钮_开始拼合"});
  EXPECT_TRUE(r.Lines("message").empty()) << r.Joined();
  EXPECT_FALSE(fs::exists(s.root() / ".bmp"));
}

TEST(StartMerge, WithoutATileDirectoryAsksForOneAndWritesNothing) {
  Sandbox s("nodir");
  e2e::Run r = s.Play({"save " + (s.root() / "out").string(), "click 按钮_保存路径", "click 按钮_开始拼合"});
  EXPECT_TRUE(r.Has(kWrongDir)) << r.Joined();
  EXPECT_FALSE(fs::exists(s.root() / "out.bmp"));
  EXPECT_EQ(r.transcript.back(), "set 编辑框_大图尺寸 6 0");
}

TEST(Ownership, ChoosingAgainFreesEveryTextOnceAndNothingIsLeftAtTheEnd) {
  Sandbox s("owner");
  e2e::MakeTileSet(s.root() / "2x", 1, 1);
  e2e::MakeTileSet(s.root() / "other" / "1x", 2, 2);
  setenv("VELMO_TRACE", "1", 1);
  auto scenario = Pick(s.root() / "2x");
  for (const auto& l : Pick(s.root() / "other" / "1x")) scenario.push_back(l);
  for (const auto& l : Pick(s.root() / "tiles")) scenario.push_back(l);
  scenario.push_back("save " + (s.root() / "o").string());
  scenario.push_back("click 按钮_保存路径");
  scenario.push_back("save " + (s.root() / "p").string());
  scenario.push_back("click 按钮_保存路径");
  scenario.push_back("click 按钮_开始拼合");
  e2e::Run r = s.Play(scenario);
  unsetenv("VELMO_TRACE");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find("did not hand out"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("velmo: 0 blocks left after the end routine"), std::string::npos) << r.err;
}

TEST(AboutLabel, PressingItOpensTheAuthorsPage) {
  Sandbox s("about");
  e2e::Run r = s.Play({"press 标签_关于"});
  EXPECT_EQ(r.transcript, (std::vector<std::string>{"window-created", "open-target http://mosalin.cn"}));
}

}  // namespace

namespace {

TEST(StartMerge, AfterOnlyRejectedDirectoriesTheOutputIsLeftAlone) {
  Sandbox s("rejected");
  fs::create_directories(s.root() / "tiles" / "000");
  fs::create_directories(s.root() / "5x");
  std::ofstream(s.root() / "out.bmp") << "precious";
  for (const char* dir : {"tiles", "5x"}) {
    e2e::Run r = s.Play({"folder " + (s.root() / dir).string(), "click 按钮_指定目录",
                         "save " + (s.root() / "out.bmp").string(), "click 按钮_保存路径", "click 按钮_开始拼合"});
    EXPECT_EQ(r.Lines("message 64").size(), 0u) << r.Joined();
    EXPECT_EQ(r.Lines("message 16").back(), kWrongDir) << r.Joined();
    std::ifstream in(s.root() / "out.bmp");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "precious") << dir;
  }
}

TEST(PickTileDir, ADirectoryTheSearchCannotReadHasNoData) {
  Sandbox s("unreadable");
  // The browser answers with a directory that is gone by the time it is counted.
  e2e::Run r = s.Play(Pick(s.root() / "gone" / "2x"));
  EXPECT_EQ(AfterBrowse(r), std::vector<std::string>{kNoTiles}) << r.Joined();
}

// A pick that is cancelled or rejected after a good one changes neither the
// window nor what a start merges: the output is the good directory's merge.
TEST(StartMerge, ARejectedPickKeepsTheDirectoryChosenBefore) {
  Sandbox s("repick");
  e2e::MakeTileSet(s.root() / "2x", 2, 2);
  fs::create_directories(s.root() / "tiles" / "000");
  fs::create_directories(s.root() / "5x");
  const std::vector<std::string> save = {"save " + (s.root() / "out.bmp").string(), "click 按钮_保存路径",
                                         "click 按钮_开始拼合"};
  auto scenario = Pick(s.root() / "2x");
  scenario.insert(scenario.end(), save.begin(), save.end());
  e2e::Run good = s.Play(scenario);
  ASSERT_TRUE(good.Has("message 64 图片拼合并保存完成!!")) << good.Joined();
  std::ifstream in(s.root() / "out.bmp", std::ios::binary);
  const std::string want((std::istreambuf_iterator<char>(in)), {});
  for (const std::vector<std::string>& repick :
       {std::vector<std::string>{"folder-cancel", "click 按钮_指定目录"}, Pick(s.root() / "tiles"),
        Pick(s.root() / "5x")}) {
    fs::remove(s.root() / "out.bmp");
    auto again = Pick(s.root() / "2x");
    again.insert(again.end(), repick.begin(), repick.end());
    again.insert(again.end(), save.begin(), save.end());
    e2e::Run r = s.Play(again);
    EXPECT_TRUE(r.Has("message 64 图片拼合并保存完成!!")) << repick[0] << "\n" << r.Joined();
    EXPECT_EQ(r.Lines("set 编辑框_").size(), good.Lines("set 编辑框_").size()) << r.Joined();
    std::ifstream merged(s.root() / "out.bmp", std::ios::binary);
    EXPECT_TRUE(std::string((std::istreambuf_iterator<char>(merged)), {}) == want) << repick[0];
  }
}

}  // namespace
