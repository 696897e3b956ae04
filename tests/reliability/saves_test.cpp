// Saves that cannot succeed: a full file system, a missing directory, a
// directory where the file should go. Each must say "保存图片失败!", leave
// whatever was there exactly as it was and leave no temporary file behind;
// the next save to a good place must work. And saves cut short by a signal,
// which must leave the old picture as it was and nothing beside it.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "tests/reliability/merge_support.h"
#include "tests/support/file_states.h"
#include "tests/support/run_program.h"

namespace fs = std::filesystem;
using reliability::kDone;
using reliability::kSaveFailed;
using reliability::Listing;
using reliability::Merge;

namespace {

using Names = std::vector<std::string>;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::vector<std::string> Twice(const fs::path& dir, const fs::path& bad, const fs::path& good) {
  auto s = Merge(dir, bad);
  auto second = Merge(dir, good);
  s.insert(s.end(), second.begin(), second.end());
  return s;
}

TEST(FailedSaves, AMissingDirectoryFailsAndCreatesNothing) {
  e2e::Sandbox s("save-missing");
  e2e::MakeTileSet(s.root() / "2x", 2, 2);
  const e2e::Run r = s.Play(Twice(s.root() / "2x", s.root() / "gone" / "out", s.root() / "out"));
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_EQ(r.Lines("message "), Names({kSaveFailed, kDone})) << r.Joined();
  EXPECT_FALSE(fs::exists(s.root() / "gone"));
  EXPECT_EQ(Listing(s.root()), Names({"2x", "config", "out.bmp", "scenario.txt", "stderr.txt", "stdout.txt"}));
}

TEST(FailedSaves, ADirectoryInTheWayStaysAsItWas) {
  e2e::Sandbox s("save-over-dir");
  e2e::MakeTileSet(s.root() / "2x", 2, 2);
  const fs::path target = s.root() / "out" / "map.bmp";
  fs::create_directories(target);
  std::ofstream(target / "inside.txt") << "kept";
  const e2e::Run r = s.Play(Twice(s.root() / "2x", target, s.root() / "out" / "next"));
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_EQ(r.Lines("message "), Names({kSaveFailed, kDone})) << r.Joined();
  EXPECT_TRUE(fs::is_directory(target));
  EXPECT_EQ(Listing(target), Names({"inside.txt"}));
  EXPECT_EQ(Slurp(target / "inside.txt"), "kept");
  EXPECT_EQ(Listing(s.root() / "out"), Names({"map.bmp", "next.bmp"}));
}

// The output directory is a 256 KiB file system mounted in a private mount
// namespace of a child process; the merge (1 MiB) cannot fit. The child runs
// the program and reports the transcript and what the directory holds.
TEST(FailedSaves, AFullFileSystemKeepsTheExistingFileAndLeavesNoTemporaryFile) {
  e2e::Sandbox s("save-full");
  e2e::MakeTileSet(s.root() / "2x", 2, 2);
  const fs::path small = s.root() / "small", report = s.root() / "report.txt";
  fs::create_directories(small);
  const std::string old = "an earlier picture, kept byte for byte\n";

  const pid_t pid = fork();
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0)
      _exit(77);
    std::ofstream(small / "out.bmp", std::ios::binary) << old;
    const e2e::Run r = s.Play(Twice(s.root() / "2x", small / "out", s.root() / "after"));
    std::ofstream out(report);
    out << "status " << r.status << "\n";
    for (const auto& l : r.Lines("message ")) out << l << "\n";
    for (const auto& name : Listing(small)) out << "entry " << name << "\n";
    out << "old " << (Slurp(small / "out.bmp") == old ? "kept" : "changed") << "\n";
    out.close();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
  EXPECT_EQ(Slurp(report), "status 0\n" + kSaveFailed + "\n" + kDone + "\nentry out.bmp\nold kept\n");
  EXPECT_TRUE(fs::exists(s.root() / "after.bmp"));
}

// Whether a process started for the sandbox (its HOME) still runs.
bool AnyProcessOf(const e2e::Sandbox& s) {
  const std::string home = "HOME=" + s.root().string();
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    const std::string env = Slurp(e.path() / "environ");
    for (std::size_t at = 0; at < env.size(); at = env.find('\0', at) + 1) {
      if (env.compare(at, home.size() + 1, home + '\0') == 0) return true;
      if (env.find('\0', at) == std::string::npos) break;
    }
  }
  return false;
}

// A merge of 32 x 32 placeholder squares (a 256 MiB file) over an existing
// picture ends by each signal, once while the tiles are drawn and once while
// the file is written: nothing of the program keeps running, and the old
// picture stays alone in its directory, byte for byte.
TEST(InterruptedSaves, EveryEndLeavesTheOldPictureAloneAndIntact) {
  e2e::Sandbox s("save-interrupted");
  e2e::MakeTileSet(s.root() / "5x", 32, 0);  // bands without tiles
  const fs::path dir = s.root() / "out";
  const std::string old = "an earlier picture, kept byte for byte\n";
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL})
    for (const bool writing : {false, true}) {
      SCOPED_TRACE(std::string(strsignal(sig)) + (writing ? " while writing" : " while drawing"));
      fs::remove_all(dir);
      fs::create_directories(dir);
      std::ofstream(dir / "out.bmp", std::ios::binary) << old;
      s.Start(Merge(s.root() / "5x", dir / "out"));
      const auto drawing = [&] {
        for (const auto& l : s.TranscriptSoFar())
          if (l.rfind("set 进度条_处理进度 13 ", 0) == 0) return true;
        return false;
      };
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
      while (std::chrono::steady_clock::now() < deadline && !(writing ? testfiles::HoldsFileIn(s.pid(), dir.string()) : drawing()))
        usleep(200);
      kill(s.pid(), sig);
      const e2e::Run r = s.Finish();
      EXPECT_EQ(r.status, 1000 + sig) << r.Joined();
      EXPECT_FALSE(AnyProcessOf(s));
      EXPECT_EQ(Listing(dir), Names({"out.bmp"}));
      EXPECT_TRUE(Slurp(dir / "out.bmp") == old) << "the old picture changed";
    }
}

}  // namespace
