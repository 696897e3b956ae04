// Whole runs of mosalin-merge (and through it, the program) on small tile sets.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/support/run_program.h"
#include "tests/support/tiles.h"

namespace fs = std::filesystem;
using e2e::Sandbox;

namespace {

const std::string kDone = "图片拼合并保存完成!!\n";

struct Result {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Runs the built mosalin-merge in the sandbox's directory with its own
// configuration. With `terminal`, stdout is a pseudo-terminal and `out` is
// what appeared on it.
// `extraEnv` adds "NAME=value" entries; `whileRunning`, when given, is called
// with mosalin-merge's process id while it runs.
Result RunMerge(const Sandbox& s, std::vector<std::string> args, bool terminal = false,
                const std::vector<std::string>& extraEnv = {},
                const std::function<void(pid_t)>& whileRunning = {}) {
  std::string exe = (e2e::BinDir() / "mosalin-merge").string();
  std::vector<std::string> env = {"XDG_CONFIG_HOME=" + (s.root() / "config").string(),
                                  "HOME=" + s.root().string(), "PATH=/usr/bin:/bin"};
  for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char* v = getenv(keep)) env.push_back(std::string(keep) + "=" + v);
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp, argv{exe.data()};
  for (auto& e : env) envp.push_back(e.data());
  for (auto& a : args) argv.push_back(a.data());
  envp.push_back(nullptr);
  argv.push_back(nullptr);

  fs::path out = s.root() / "merge-out.txt", err = s.root() / "merge-err.txt";
  int master = -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addchdir_np(&fa, s.root().c_str());
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (terminal) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    posix_spawn_file_actions_addopen(&fa, 1, ptsname(master), O_WRONLY | O_NOCTTY, 0);
  } else {
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Result r;
  pid_t pid;
  if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), envp.data()) == 0) {
    if (terminal) {  // read until the child's side closes (EIO)
      char buf[4096];
      for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) r.out.append(buf, std::size_t(n));
    }
    if (whileRunning) whileRunning(pid);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
  }
  posix_spawn_file_actions_destroy(&fa);
  if (master >= 0) close(master);
  if (!terminal) r.out = Slurp(out);
  r.err = Slurp(err);
  return r;
}

std::string Show(const Result& r) { return "status " + std::to_string(r.status) + "\n" + r.out + "--- stderr:\n" + r.err; }

TEST(MergeTool, MergesIntoExactlyTheOutputAndPrintsTheMessage) {
  Sandbox s("tool-ok");
  e2e::MakeTileSet(s.root() / "2x", 2, 2, {{1, 1}});
  // An existing file is replaced; relative paths count from the current directory.
  std::ofstream(s.root() / "out.bmp") << "old";
  Result r = RunMerge(s, {"2x", "out.bmp"});
  ASSERT_EQ(r.status, 0) << Show(r);
  EXPECT_EQ(r.out, kDone) << "no progress bar when stdout is not a terminal";
  EXPECT_EQ(r.err, "");
  e2e::Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  EXPECT_EQ(bmp.width, 512);
  EXPECT_EQ(bmp.height, 512);
  EXPECT_FALSE(fs::exists(s.root() / "out.bmp.bmp"));

  // Upper-case suffix, absolute paths, a trailing "/" on the directory.
  Result upper = RunMerge(s, {(s.root() / "2x").string() + "/", (s.root() / "Copy.BMP").string()});
  ASSERT_EQ(upper.status, 0) << Show(upper);
  EXPECT_EQ(Slurp(s.root() / "Copy.BMP"), Slurp(s.root() / "out.bmp"));

  // A blank that ends the directory's name is part of it (and of the prefix).
  e2e::MakeTileSet(s.root() / "4x ", 1, 1);
  Result blank = RunMerge(s, {"4x ", "blank.bmp"});
  EXPECT_EQ(blank.status, 0) << Show(blank);
}

TEST(MergeTool, DrawsAProgressBarOnATerminal) {
  Sandbox s("tool-tty");
  e2e::MakeTileSet(s.root() / "2x", 2, 2);
  Result r = RunMerge(s, {"2x", "out.bmp"}, true);
  ASSERT_EQ(r.status, 0) << Show(r);
  // Positions 30, 60, 90, 120 of 120; the line is ended before the message
  // (the terminal turns "\n" into "\r\n").
  EXPECT_NE(r.out.find("\r[##########..............................]  25%"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\r[########################################] 100%\r\n图片拼合并保存完成!!\r\n"),
            std::string::npos)
      << r.out;
}

TEST(MergeTool, ARejectedDirectoryFailsAndLeavesTheOutputAlone) {
  Sandbox s("tool-rejected");
  e2e::MakeTileSet(s.root() / "tiles", 1, 1);  // no "x" in the name
  fs::create_directories(s.root() / "3x");     // no bands
  std::ofstream(s.root() / "keep.bmp") << "keep";

  Result named = RunMerge(s, {"tiles", "keep.bmp"});
  EXPECT_EQ(named.status, 1) << Show(named);
  EXPECT_EQ(named.out, "");
  EXPECT_EQ(named.err,
            "目录不正确,请指定类似\"2x\"或者\"1x\"的目录,并确定小图片的前缀和目录名相同!\n");

  Result empty = RunMerge(s, {"3x", "keep.bmp"});
  EXPECT_EQ(empty.status, 1) << Show(empty);
  EXPECT_EQ(empty.err, "此路径下没有可用的图片数据!\n");

  EXPECT_EQ(Slurp(s.root() / "keep.bmp"), "keep");
}

TEST(MergeTool, AFailedSaveFails) {
  Sandbox s("tool-save");
  e2e::MakeTileSet(s.root() / "2x", 1, 1);
  Result r = RunMerge(s, {"2x", "no/such/out.bmp"});
  EXPECT_EQ(r.status, 1) << Show(r);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "保存图片失败!\n");
  EXPECT_FALSE(fs::exists(s.root() / "no"));
}

// Kills the first `mosalin` that `parent` starts (as the kernel ends a process
// when memory runs out), or gives up when `parent` has ended.
void KillChildMosalin(pid_t parent) {
  for (int tries = 0; tries < 20000; ++tries) {
    if (kill(parent, 0) != 0) return;
    if (DIR* proc = opendir("/proc")) {
      for (dirent* e; (e = readdir(proc));) {
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string pid, comm, state;
        long ppid = 0;
        if (!(stat >> pid >> comm >> state >> ppid) || ppid != parent || comm != "(mosalin)") continue;
        kill(std::stoi(pid), SIGKILL);
        closedir(proc);
        return;
      }
      closedir(proc);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

TEST(MergeTool, RunningOutOfMemoryIsReportedAsSuch) {
  Sandbox s("tool-memory");
  e2e::MakeTileSet(s.root() / "2x", 16, 16);
  // The picture fits neither in the memory the program may use nor in a
  // spill directory: the program's own end, exit status 3 here.
  Result r = RunMerge(s, {"2x", "out.bmp"}, false,
                      {"MOSALIN_MEMORY_LIMIT=180M", "MOSALIN_SPILL_DIR=" + (s.root() / "2x" / "000" / "2x000000.png" / "spill").string()});
  EXPECT_EQ(r.status, 3) << Show(r);
  EXPECT_NE(r.err.find("mosalin-merge: the picture needs more memory than this system gives the program"),
            std::string::npos)
      << Show(r);
  EXPECT_FALSE(fs::exists(s.root() / "out.bmp"));

  // Ended by the kernel: said, with memory named as the likely cause.
  Result killed = RunMerge(s, {"2x", "out.bmp"}, false, {}, KillChildMosalin);
  EXPECT_EQ(killed.status, 3) << Show(killed);
  EXPECT_NE(killed.err.find("was ended by signal 9"), std::string::npos) << Show(killed);
  EXPECT_NE(killed.err.find("most likely the system ran out of memory"), std::string::npos) << Show(killed);
  EXPECT_FALSE(fs::exists(s.root() / "out.bmp"));
}

TEST(MergeTool, UsageErrorsRunNothing) {
  Sandbox s("tool-usage");
  e2e::MakeTileSet(s.root() / "2x", 1, 1);
  std::ofstream(s.root() / "file.txt") << "x";
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"2x"},
      {"2x", "out.bmp", "more"},
      {"2x", "out"},            // the program would write out.bmp, not out
      {"2x", "out.bmp.png"},
      {"missing", "out.bmp"},
      {"file.txt", "out.bmp"},
      {"--frobnicate", "2x", "out.bmp"},
      {"2x", "bad\\name.bmp"},  // no Windows form
      {"2x", "two\nlines.bmp"},
  };
  for (const auto& args : cases) {
    Result r = RunMerge(s, args);
    std::string shown = args.empty() ? "(none)" : args[0] + (args.size() > 1 ? " " + args[1] : "");
    EXPECT_EQ(r.status, 2) << shown << "\n" << Show(r);
    EXPECT_NE(r.err.find("usage: mosalin-merge TILE_DIR OUTPUT"), std::string::npos) << shown;
    EXPECT_EQ(r.out, "") << shown;
  }
  EXPECT_NE(RunMerge(s, {"2x", "out"}).err.find("OUTPUT must end in .bmp"), std::string::npos);
  for (const auto& entry : fs::directory_iterator(s.root()))
    EXPECT_NE(entry.path().extension(), ".bmp") << entry.path();

  // A "-" leading name is reachable after "--".
  e2e::MakeTileSet(s.root() / "-2x", 1, 1);
  Result dashed = RunMerge(s, {"--", "-2x", "-o.bmp"});
  EXPECT_EQ(dashed.status, 0) << Show(dashed);
  EXPECT_TRUE(fs::exists(s.root() / "-o.bmp"));
}

TEST(MergeTool, HelpExplainsAndSucceeds) {
  Sandbox s("tool-help");
  Result r = RunMerge(s, {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: mosalin-merge TILE_DIR OUTPUT\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("Exit status"), std::string::npos);
  EXPECT_EQ(r.err, "");

  // The version is the project's, alone on its line, whatever follows it.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--version"}, {"--version", "2x", "out.bmp"}}) {
    Result v = RunMerge(s, args);
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, "mosalin-merge " MOSALIN_VERSION "\n");
    EXPECT_EQ(v.err, "");
  }
  EXPECT_EQ(RunMerge(s, {"--", "--version"}).status, 2) << "after --, a name";
}

}  // namespace
