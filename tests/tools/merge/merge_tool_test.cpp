// Whole runs of mosalin-merge (and through it, the program) on small tile sets.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <signal.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/support/run_program.h"
#include "tests/support/tiles.h"

namespace fs = std::filesystem;
using e2e::Sandbox;
using namespace std::string_literals;

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
                const std::function<void(pid_t)>& whileRunning = {}, const fs::path& binDir = e2e::BinDir()) {
  std::string exe = (binDir / "mosalin-merge").string();
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
  // The tool starts with the ending signals at their defaults, whatever the
  // test runner ignores.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  Result r;
  pid_t pid;
  if (posix_spawn(&pid, exe.c_str(), &fa, &attr, argv.data(), envp.data()) == 0) {
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
  posix_spawnattr_destroy(&attr);
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
  EXPECT_EQ(r.err, "mosalin-merge: tiles: 3 drawn, 1 missing (the placeholder drawn instead), 0 could not be "
                   "drawn (left black)\nmosalin-merge: missing: 001/2x001001.png\n");
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
  // The pick's message, then the start's: the rejected directory was never
  // taken, so there is nothing to merge.
  const std::string wrongDir = "目录不正确,请指定类似\"2x\"或者\"1x\"的目录,并确定小图片的前缀和目录名相同!\n";
  EXPECT_EQ(named.err, wrongDir + wrongDir);

  Result empty = RunMerge(s, {"3x", "keep.bmp"});
  EXPECT_EQ(empty.status, 1) << Show(empty);
  EXPECT_EQ(empty.err, "此路径下没有可用的图片数据!\n" + wrongDir);

  EXPECT_EQ(Slurp(s.root() / "keep.bmp"), "keep");
}

TEST(MergeTool, AFailedSaveFails) {
  Sandbox s("tool-save");
  e2e::MakeTileSet(s.root() / "2x", 1, 1);
  Result r = RunMerge(s, {"2x", "no/such/out.bmp"});
  EXPECT_EQ(r.status, 1) << Show(r);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "保存图片失败!\nmosalin-merge: tiles: 1 drawn, 0 missing (the placeholder drawn instead), 0 "
                   "could not be drawn (left black)\n");
  EXPECT_FALSE(fs::exists(s.root() / "no"));
}

// The files the process `pid` has open.
std::vector<std::string> OpenFiles(pid_t pid) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code linkEc;
    fs::path target = fs::read_symlink(fd.path(), linkEc);
    if (!linkEc) files.push_back(target.string());
  }
  return files;
}

// Whether `pid` is gone (or a zombie nobody has reaped yet).
bool Gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string id, comm, state;
  return !(stat >> id >> comm >> state) || state == "Z";
}

// The first `mosalin` run by `parent` that has a file open for which `at`
// holds (any file when `at` is empty): 0 when `parent` ends first.
pid_t ChildMosalin(pid_t parent, const std::function<bool(const std::string&)>& at = {}) {
  for (int tries = 0; tries < 200000; ++tries) {
    if (kill(parent, 0) != 0 || Gone(parent)) return 0;
    if (DIR* proc = opendir("/proc")) {
      for (dirent* e; (e = readdir(proc));) {
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string pid, comm, state;
        long ppid = 0;
        if (!(stat >> pid >> comm >> state >> ppid) || ppid != parent || comm != "(mosalin)") continue;
        bool now = !at;
        for (const std::string& f : at ? OpenFiles(std::stoi(pid)) : std::vector<std::string>{})
          now = now || at(f);
        if (!now) continue;
        closedir(proc);
        return std::stoi(pid);
      }
      closedir(proc);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return 0;
}

// Kills the first `mosalin` that `parent` starts (as the kernel ends a process
// when memory runs out).
void KillChildMosalin(pid_t parent) {
  if (pid_t child = ChildMosalin(parent)) kill(child, SIGKILL);
}

// SIGINT, SIGTERM, SIGHUP or SIGKILL to mosalin-merge alone, while tiles are
// drawn and while the file is written: the program ends with the tool, and
// the old output is all there is, byte for byte, then and later.
TEST(MergeTool, AnInterruptedMergeEndsTheProgramAndLeavesTheOldOutput) {
  Sandbox s("tool-interrupt");
  e2e::MakeTileSet(s.root() / "2x", 24, 24);
  const fs::path outDir = s.root() / "out";
  const std::string old = "the old picture";
  auto drawing = [&](const std::string& f) { return f.find("/2x/001/") != std::string::npos; };
  auto writing = [&](const std::string& f) { return f.rfind(outDir.string() + "/", 0) == 0; };
  struct Case {
    int signal;
    std::function<bool(const std::string&)> at;
    const char* moment;
  };
  const Case cases[] = {{SIGTERM, drawing, "drawing"}, {SIGINT, drawing, "drawing"}, {SIGHUP, writing, "writing"},
                        {SIGTERM, writing, "writing"}, {SIGKILL, drawing, "drawing"}, {SIGKILL, writing, "writing"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.signal)) + " while " + c.moment);
    fs::remove_all(outDir);
    fs::create_directories(outDir);
    std::ofstream(outDir / "map.bmp") << old;
    pid_t child = 0;
    Result r = RunMerge(s, {"2x", "out/map.bmp"}, false, {}, [&](pid_t tool) {
      child = ChildMosalin(tool, c.at);
      kill(tool, c.signal);
    });
    ASSERT_NE(child, 0) << "the moment never came\n" << Show(r);
    EXPECT_EQ(r.status, 1000 + c.signal) << Show(r);
    if (c.signal == SIGKILL) {
      for (int i = 0; i < 1000 && !Gone(child); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else {
      EXPECT_EQ(r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1),
                std::string("mosalin-merge: interrupted (") + strsignal(c.signal) +
                    "): the merge was stopped and out/map.bmp is untouched\n")
          << Show(r);
    }
    EXPECT_TRUE(Gone(child)) << "the program outlived the tool";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(outDir)) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"map.bmp"});
    EXPECT_TRUE(Slurp(outDir / "map.bmp") == old) << "the old output changed";
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

  // The bitmap itself fits neither in the capped memory nor in a spill
  // directory in memory (tmpfs), which is never used: the program's own
  // bitmap failure, the same status.
  const fs::path shm = fs::path("/dev/shm") / ("mosalin-merge-test-" + std::to_string(getpid()));
  fs::create_directories(shm);
  Result bitmap = RunMerge(s, {"2x", "out.bmp"}, false, {"MOSALIN_MEMORY_LIMIT=40M", "MOSALIN_SPILL_DIR=" + shm.string()});
  fs::remove_all(shm);
  EXPECT_EQ(bitmap.status, 3) << Show(bitmap);
  EXPECT_NE(bitmap.err.find("mosalin-merge: the picture's bitmap fits neither in the memory"), std::string::npos)
      << Show(bitmap);
  EXPECT_FALSE(fs::exists(s.root() / "out.bmp"));

  // 128 bands make a picture more than a BMP file can hold: the same bitmap
  // failure, but no memory would help.
  for (int band = 0; band < 128; ++band) {
    char name[4];
    std::snprintf(name, sizeof name, "%03d", band);
    fs::create_directories(s.root() / "8x" / name);
  }
  Result huge = RunMerge(s, {"8x", "out.bmp"});
  EXPECT_EQ(huge.status, 1) << Show(huge);
  EXPECT_NE(huge.err.find("mosalin-merge: a picture of 32768*32768 pixels is more than a BMP file can hold (4 GiB)\n"),
            std::string::npos)
      << Show(huge);

  // A limit that is no size is said and ignored, once.
  for (const char* limit : {"garbage", "-5G"}) {
    Result ignored = RunMerge(s, {"2x", "out.bmp"}, false, {std::string("MOSALIN_MEMORY_LIMIT=") + limit});
    EXPECT_EQ(ignored.status, 0) << Show(ignored);
    const std::string said = std::string("mosalin: MOSALIN_MEMORY_LIMIT=") + limit +
                             " is not a size (bytes, or a number with K, M or G); it is ignored\n";
    EXPECT_NE(ignored.err.find(said), std::string::npos) << Show(ignored);
    EXPECT_EQ(ignored.err.find(said), ignored.err.rfind(said)) << Show(ignored);
    fs::remove(s.root() / "out.bmp");
  }

  // A SIGKILL that the kernel's out-of-memory killer did not send (its
  // count in the cgroup or the system stays) is not taken for one.
  Result killed = RunMerge(s, {"2x", "out.bmp"}, false, {}, KillChildMosalin);
  EXPECT_EQ(killed.status, 1) << Show(killed);
  EXPECT_NE(killed.err.find("mosalin-merge: mosalin was ended by signal 9 (Killed): not by the kernel's "
                            "out-of-memory killer"),
            std::string::npos)
      << Show(killed);
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
    EXPECT_NE(r.err.find("usage: mosalin-merge [--strict] TILE_DIR OUTPUT"), std::string::npos) << shown;
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
  EXPECT_EQ(r.out.rfind("usage: mosalin-merge [--strict] TILE_DIR OUTPUT\n", 0), 0u) << r.out;
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

  // Output that cannot be written is a failure, even after a merge that saved.
  e2e::MakeTileSet(s.root() / "2x", 1, 1);
  const std::string exe = (e2e::BinDir() / "mosalin-merge").string();
  for (const std::string args : {"--version", "--help", "2x full.bmp"}) {
    const std::string cmd = "cd '" + s.root().string() + "' && '" + exe + "' " + args + " >/dev/full 2>err.txt";
    const int st = std::system(cmd.c_str());
    EXPECT_EQ(WIFEXITED(st) ? WEXITSTATUS(st) : -1, 1) << args;
    EXPECT_NE(Slurp(s.root() / "err.txt").find("mosalin-merge: cannot write to standard output: No space left on device"),
              std::string::npos)
        << args;
  }
}

// The headers of a BMP file of side x side pixels with `bits` per pixel (8:
// run-length encoded, with one palette entry); the data is the caller's.
std::string BmpHeaders(int side, int bits) {
  std::string bmp = "BM" + std::string(bits == 8 ? 56 : 52, '\0');
  auto put = [&](int at, int value) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = char(value >> (8 * i) & 0xFF);
  };
  put(10, int(bmp.size()));
  put(14, 40);
  put(18, side);
  put(22, side);
  put(26, 1 | bits << 16);
  if (bits == 8) put(30, 1), put(46, 1);
  return bmp;
}

// A valid PNG tile's bytes, for tiles spoilt in a known way.
std::string TileBytes(const fs::path& dir) {
  e2e::WritePng(dir / "good.png", e2e::Pattern(256, 256, 7));
  std::string bytes = Slurp(dir / "good.png");
  fs::remove(dir / "good.png");
  return bytes;
}

// The report on stderr: counts, the first ten names of each kind with the
// reason, and with --strict a status of its own.
TEST(MergeTool, ReportsMissingAndUndrawableTiles) {
  Sandbox s("tool-report");
  const fs::path dir = s.root() / "2x";
  e2e::MakeTileSet(dir, 3, 3, {{0, 1}, {2, 2}});
  const std::string png = TileBytes(s.root());
  std::ofstream(dir / "001" / "2x001000.png", std::ios::binary) << png.substr(0, png.size() / 2);
  std::ofstream(dir / "001" / "2x001001.png") << "<html>not found</html>";
  // 9000 x 9000 pixels: more than a picture may have.
  std::ofstream(dir / "001" / "2x001002.png", std::ios::binary) << BmpHeaders(9000, 24);
  std::string damaged = png;
  damaged[29] = char(damaged[29] ^ 0xFF);  // the header's checksum
  std::ofstream(dir / "002" / "2x002000.png", std::ios::binary) << damaged;

  const std::string report =
      "mosalin-merge: tiles: 3 drawn, 2 missing (the placeholder drawn instead), 4 could not be drawn (left "
      "black)\n"
      "mosalin-merge: missing: 000/2x000001.png\n"
      "mosalin-merge: missing: 002/2x002002.png\n"
      "mosalin-merge: could not be drawn: 001/2x001000.png (truncated)\n"
      "mosalin-merge: could not be drawn: 001/2x001001.png (not a picture)\n"
      "mosalin-merge: could not be drawn: 001/2x001002.png (too large)\n"
      "mosalin-merge: could not be drawn: 002/2x002000.png (damaged)\n";
  Result r = RunMerge(s, {"2x", "out.bmp"});
  EXPECT_EQ(r.status, 0) << Show(r);
  EXPECT_EQ(r.out, kDone);
  EXPECT_EQ(r.err, report);
  Result strict = RunMerge(s, {"--strict", "2x", "strict.bmp"});
  EXPECT_EQ(strict.status, 4) << Show(strict);
  EXPECT_EQ(strict.err, report);
  EXPECT_EQ(Slurp(s.root() / "strict.bmp"), Slurp(s.root() / "out.bmp")) << "saved all the same";

  // Ten names of a kind at most.
  e2e::MakeTileSet(s.root() / "4x", 4, 4, {{0, 1}, {0, 2}, {0, 3}, {1, 0}, {1, 1}, {1, 2}, {1, 3}, {2, 0}, {2, 1}, {2, 2}, {2, 3}, {3, 0}});
  Result many = RunMerge(s, {"4x", "many.bmp"});
  EXPECT_NE(many.err.find("\nmosalin-merge: missing: 002/4x002002.png\nmosalin-merge: missing: and 2 more\n"),
            std::string::npos)
      << Show(many);
  // A clean merge passes --strict.
  e2e::MakeTileSet(s.root() / "1x", 1, 1);
  EXPECT_EQ(RunMerge(s, {"--strict", "1x", "one.bmp"}).status, 0);
}

// The kernel's out-of-memory killer ending the program is told from any other
// SIGKILL by its own count: mosalin-merge runs in a memory cgroup of its own,
// where a tile of 8192 x 8192 pixels cannot be decoded.
TEST(MergeTool, AnOutOfMemoryKillIsToldByTheKernelsCount) {
  Sandbox s("tool-oom");
  const std::string id = "mosalin-merge-oom-" + std::to_string(getpid());
  fs::path cgroup = fs::path("/sys/fs/cgroup/memory") / id, limit = "memory.limit_in_bytes";
  if (!fs::exists(cgroup.parent_path() / limit)) {
    std::ofstream("/sys/fs/cgroup/cgroup.subtree_control") << "+memory";
    cgroup = fs::path("/sys/fs/cgroup") / id, limit = "memory.max";
  }
  if (mkdir(cgroup.c_str(), 0755) != 0) GTEST_SKIP() << "cannot make a memory cgroup " << cgroup;
  std::ofstream(cgroup / limit) << (96 << 20);
  std::ofstream(cgroup / "memory.swap.max") << 0;
  const fs::path bin = s.root() / "bin";
  fs::create_directories(bin);
  std::ofstream(bin / "mosalin-merge") << "#!/bin/sh\necho $$ > '" << (cgroup / "cgroup.procs").string()
                                       << "' || exit 97\nexec '" << (e2e::BinDir() / "mosalin-merge").string()
                                       << "' \"$@\"\n";
  fs::permissions(bin / "mosalin-merge", fs::perms::owner_all);
  fs::create_directories(s.root() / "1x" / "000");
  std::ofstream(s.root() / "1x" / "000" / "1x000000.png", std::ios::binary) << BmpHeaders(8192, 8) + "\0\1"s;

  Result r = RunMerge(s, {"1x", "out.bmp"}, false, {}, {}, bin);
  rmdir(cgroup.c_str());
  EXPECT_EQ(r.status, 3) << Show(r);
  EXPECT_NE(r.err.find("mosalin-merge: mosalin was ended by signal 9 (Killed): the kernel's out-of-memory killer "
                       "ended 1 process(es) of the merge's memory cgroup meanwhile"),
            std::string::npos)
      << Show(r);
  EXPECT_FALSE(fs::exists(s.root() / "out.bmp"));
}

// The placeholder missing or no picture: said, missing tiles stay black.
TEST(MergeTool, ReportsAPlaceholderThatCannotBeDrawn) {
  Sandbox s("tool-placeholder");
  const fs::path bin = s.root() / "bin";
  fs::create_directories(bin);
  for (const char* file : {"mosalin", "velmo.vxr", "mosalin-merge"})
    fs::copy_file(e2e::BinDir() / file, bin / file);
  e2e::MakeTileSet(s.root() / "2x", 2, 2, {{1, 1}});
  const std::string counts =
      "mosalin-merge: tiles: 3 drawn, 1 missing (the placeholder drawn instead), 0 could not be drawn (left "
      "black)\nmosalin-merge: missing: 001/2x001001.png\n";
  Result missing = RunMerge(s, {"--strict", "2x", "out.bmp"}, false, {}, {}, bin);
  EXPECT_EQ(missing.status, 4) << Show(missing);
  EXPECT_EQ(missing.err, counts + "mosalin-merge: the placeholder " + (bin / "Nodata.dll").string() +
                             " is missing: the missing tiles are left black\n");
  std::ofstream(bin / "Nodata.dll") << "MZ";
  Result broken = RunMerge(s, {"2x", "out.bmp"}, false, {}, {}, bin);
  EXPECT_EQ(broken.status, 0) << Show(broken);
  EXPECT_EQ(broken.err, counts + "mosalin-merge: the placeholder " + (bin / "Nodata.dll").string() +
                            " could not be drawn (not a picture): the missing tiles are left black\n");
}

}  // namespace
