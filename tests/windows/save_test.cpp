// Saving the picture, by the Windows build under Wine and by the Linux build
// alike: a read-only picture is refused, a writable picture in a directory
// where no file can be made is written in place, every path the save dialog
// returns is written, and a merge cut short leaves the old picture alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/support/file_states.h"
#include "tests/support/run_program.h"
#include "tests/support/tiles.h"
#include "tests/windows/wine_support.h"

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;
const std::string kDone = "message 64 图片拼合并保存完成!!";
const std::string kFailed = "message 16 保存图片失败!";

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

Names Listing(const fs::path& dir) {
  Names names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Choose `dir`, then for each of `outs`: choose it, press start.
std::vector<std::string> Merges(const fs::path& dir, const std::vector<fs::path>& outs, bool windows) {
  auto name = [&](const fs::path& p) { return windows ? e2e::WindowsPath(p) : p.string(); };
  std::vector<std::string> lines = {"folder " + name(dir), "click 按钮_指定目录"};
  for (const fs::path& out : outs)
    for (const std::string& l : {"save " + name(out), std::string("click 按钮_保存路径"),
                                 std::string("click 按钮_开始拼合")})
      lines.push_back(l);
  return lines;
}

// The messages of a merge by each build, Windows first.
std::vector<Names> BothBuilds(e2e::Sandbox& s, const fs::path& dir, const std::vector<fs::path>& outs,
                              const std::function<void()>& between = {}) {
  const e2e::Run win = wintest::PlayWine(s.root() / "win", Merges(dir, outs, true));
  EXPECT_EQ(win.status, 0) << win.Joined();
  if (between) between();
  const e2e::Run linux = s.Play(Merges(dir, outs, false));
  EXPECT_EQ(linux.status, 0) << linux.Joined();
  return {win.Lines("message "), linux.Lines("message ")};
}

TEST(Saves, AReadOnlyPictureIsRefusedAndKept) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  e2e::Sandbox s("save-read-only");
  e2e::MakeTileSet(s.root() / "2x", 2, 2);
  const fs::path out = s.root() / "out" / "map.bmp";
  fs::create_directories(out.parent_path());
  std::ofstream(out, std::ios::binary) << "an earlier picture";
  chmod(out.c_str(), 0444);
  for (const Names& messages : BothBuilds(s, s.root() / "2x", {out})) EXPECT_EQ(messages, Names{kFailed});
  EXPECT_TRUE(Bytes(out) == "an earlier picture") << "the read-only picture changed";
  struct stat st{};
  stat(out.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(Listing(out.parent_path()), Names{"map.bmp"});
}

TEST(Saves, AWritablePictureInALockedDirectoryIsWrittenInPlace) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  e2e::Sandbox s("save-locked-dir");
  e2e::MakeTileSet(s.root() / "2x", 2, 2);
  const fs::path dir = s.root() / "locked", out = dir / "map.bmp";
  fs::create_directories(dir);
  struct stat before{}, after{};
  auto reset = [&] {
    testfiles::LockDirectory(dir, false);
    std::ofstream(out, std::ios::binary) << "an earlier picture";
    stat(out.c_str(), &before);
    ASSERT_TRUE(testfiles::LockDirectory(dir, true));
  };
  reset();
  auto check = [&] {
    stat(out.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_size, 4 * 512 * 512 + 54);
    EXPECT_EQ(Listing(dir), Names{"map.bmp"});
    reset();
  };
  const std::vector<Names> messages = BothBuilds(s, s.root() / "2x", {out}, check);
  check();
  testfiles::LockDirectory(dir, false);
  for (const Names& m : messages) EXPECT_EQ(m, Names{kDone});
}

TEST(Saves, EveryPathTheSaveDialogReturnsIsWritten) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  // Windows paths of 251 to 260 characters, "Z:" and the file name included.
  e2e::Sandbox s("save-long-paths");
  e2e::MakeTileSet(s.root() / "2x", 1, 1);
  const fs::path dir = s.root() / "out";
  fs::create_directories(dir);
  std::vector<fs::path> outs;
  for (std::size_t length = 251; length <= 260; ++length) {
    const std::size_t name = length - e2e::WindowsPath(dir).size() - 1 - 4;
    outs.push_back(dir / (std::string(name - 3, 'm') + std::to_string(length) + ".bmp"));
    ASSERT_EQ(e2e::WindowsPath(outs.back()).size(), length);
  }
  const auto clear = [&] {
    for (const fs::path& out : outs) fs::remove(out);
  };
  for (const Names& messages : BothBuilds(s, s.root() / "2x", outs, clear))
    EXPECT_EQ(messages, Names(outs.size(), kDone));
  EXPECT_EQ(Listing(dir).size(), outs.size());
}

// Processes of the Windows program run by this sandbox's scenario.
std::vector<int> ProgramProcesses(const fs::path& scenarioDir) {
  const std::string marker = "VELMO_SCRIPT=" + e2e::WindowsPath(scenarioDir / "scenario.txt");
  std::vector<int> pids;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    const std::string env = Bytes(e.path() / "environ");
    if (env.find(marker + '\0') == std::string::npos && !env.ends_with(marker)) continue;
    const std::string name = e.path().filename();
    if (name.find_first_not_of("0123456789") == std::string::npos &&
        Bytes(e.path() / "cmdline").find("mosalin.exe") != std::string::npos)
      pids.push_back(std::stoi(name));
  }
  return pids;
}

// A merge of 32 x 32 placeholder squares (a 256 MiB file) over an existing
// picture is killed while the tiles are drawn and while the file is written:
// the old picture stays alone and intact, and nothing of the program keeps
// running.
TEST(Saves, AMergeCutShortLeavesTheOldPictureAlone) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  e2e::Sandbox s("save-cut-short");
  e2e::MakeTileSet(s.root() / "5x", 32, 0);  // bands without tiles
  const fs::path dir = s.root() / "out";
  const std::string old = "an earlier picture, kept byte for byte\n";
  int run = 0;
  // Windows has no signals: SIGKILL stands for any end from outside
  // (TerminateProcess, a crash), which the system cleans up after alike.
  const int sig = SIGKILL;
  for (const bool writing : {false, true}) {
    SCOPED_TRACE(writing ? "killed while writing" : "killed while drawing");
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "out.bmp", std::ios::binary) << old;
    const fs::path work = s.root() / ("run" + std::to_string(run++));
    e2e::Run r;
    std::atomic<bool> ended{false};
    std::thread merge([&] {
      r = wintest::PlayWine(work, Merges(s.root() / "5x", {dir / "out"}, true));
      ended = true;
    });
    bool reached = false;
    while (!reached && !ended) {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      for (const int pid : ProgramProcesses(work)) {
        reached = writing ? testfiles::HoldsFileIn(pid, dir.string())
                          : Bytes(work / "stdout.txt").find("set 进度条_处理进度 13 ") != std::string::npos;
        if (reached) kill(pid, sig);
      }
    }
    merge.join();
    EXPECT_TRUE(reached) << r.Joined();
    EXPECT_FALSE(r.Has(kDone)) << r.Joined();
    EXPECT_TRUE(ProgramProcesses(work).empty());
    EXPECT_EQ(Listing(dir), Names{"out.bmp"});
    EXPECT_TRUE(Bytes(dir / "out.bmp") == old) << "the old picture changed";
  }
}

}  // namespace
