// Saves that cannot succeed: a full file system, a missing directory, a
// directory where the file should go. Each must say "保存图片失败!", leave
// whatever was there exactly as it was and leave no temporary file behind;
// the next save to a good place must work.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "tests/reliability/merge_support.h"
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

}  // namespace
