// Merges larger than the memory they may use: inside a memory cgroup that
// holds a quarter of the merge's large blocks the merge still completes, its
// blocks living in spill files on disk; a spill directory that cannot take
// them gives the program's own bitmap failure, or the host's clear end for a
// later block; and merges that fit memory spill nothing.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "tests/reliability/merge_support.h"
#include "tests/support/run_program.h"
#include "tests/support/tiles.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMiB = std::uint64_t(1) << 20;
// A 16 x 16 set: a side of 4096 pixels, so the bitmap, the pixel copy and the
// joined file are 64 MiB each.
constexpr int kBands = 16;
constexpr std::uint64_t kBlocks = 3 * 64 * kMiB;
// Room for the program itself beside a quarter of those blocks. Under
// AddressSanitizer the program needs much more of its own (shadow memory,
// allocator caches), so the limit grows by that and the sanitizer holds no
// freed blocks back (up to 256 MiB of them by default); the blocks still do
// not fit beside the program.
#ifdef __SANITIZE_ADDRESS__
constexpr std::uint64_t kProgram = 64 * kMiB;
#else
constexpr std::uint64_t kProgram = 0;
#endif

const std::string kBitmapFailed =
    "message 64 创建位图失败!可能是图片尺寸过大,正在想办法解决这个问题.";

// The whole file in one read: the merged files are 64 MiB each.
std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary | std::ios::ate);
  std::string bytes(in ? static_cast<std::size_t>(in.tellg()) : 0, '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return in ? bytes : std::string();
}

std::string FirstLine(const fs::path& p) {
  std::ifstream in(p);
  std::string line;
  std::getline(in, line);
  return line;
}

// A memory cgroup of its own, with a limit, for the runs of one test: under
// cgroup v1's memory controller, or cgroup v2 where this process may make one.
class MemoryCgroup {
 public:
  MemoryCgroup(const std::string& name, std::uint64_t limit) {
    const std::string id = name + "-" + std::to_string(getpid());
    if (fs::exists("/sys/fs/cgroup/memory/memory.limit_in_bytes")) {
      dir_ = fs::path("/sys/fs/cgroup/memory") / id;
      if (mkdir(dir_.c_str(), 0755) != 0) { Fail("cannot make " + dir_.string()); return; }
      if (!Write(dir_ / "memory.limit_in_bytes", limit)) { Fail("cannot set its limit"); return; }
      procs_ = dir_ / "cgroup.procs";
      peakFile_ = dir_ / "memory.max_usage_in_bytes";
    } else if (fs::exists("/sys/fs/cgroup/cgroup.controllers")) {
      dir_ = fs::path("/sys/fs/cgroup") / id;
      std::ofstream("/sys/fs/cgroup/cgroup.subtree_control") << "+memory";
      if (mkdir(dir_.c_str(), 0755) != 0) { Fail("cannot make " + dir_.string()); return; }
      if (!Write(dir_ / "memory.max", limit)) { Fail("cannot set memory.max"); return; }
      std::ofstream(dir_ / "memory.swap.max") << 0;
      procs_ = dir_ / "cgroup.procs";
      peakFile_ = dir_ / "memory.peak";
    } else {
      { Fail("no memory cgroup controller"); return; }
    }
    ok_ = true;
  }
  ~MemoryCgroup() {
    if (!dir_.empty()) rmdir(dir_.c_str());
  }

  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }
  // A script that moves itself into the cgroup and becomes `program`.
  fs::path Wrapper(const fs::path& dir, const fs::path& program) const {
    const fs::path script = dir / "in-cgroup.sh";
    std::ofstream(script) << "#!/bin/sh\necho $$ > '" << procs_.string() << "' || exit 97\nexec '"
                          << program.string() << "' \"$@\"\n";
    fs::permissions(script, fs::perms::owner_all);
    return script;
  }
  std::uint64_t Peak() const { return std::stoull("0" + FirstLine(peakFile_)); }

 private:
  void Fail(const std::string& why) { why_ = why; }
  static bool Write(const fs::path& file, std::uint64_t value) {
    std::ofstream out(file);
    out << value;
    out.close();
    return static_cast<bool>(out);
  }

  fs::path dir_, procs_, peakFile_;
  bool ok_ = false;
  std::string why_;
};

// A figure in MiB of the host's profile line ("spilled", "memory").
std::optional<double> ProfileMiB(const std::string& err, const std::string& name) {
  const std::size_t at = err.find(", " + name + " ");
  if (at == std::string::npos) return std::nullopt;
  return std::stod(err.substr(at + name.size() + 3));
}
std::optional<double> SpilledMiB(const std::string& err) { return ProfileMiB(err, "spilled"); }

TEST(MemoryLimit, AMergeInACgroupOfAQuarterOfItsBlocksCompletesAndIsTheSameFile) {
  e2e::Sandbox s("cgroup-merge");
  e2e::MakeTileSet(s.root() / "2x", kBands, kBands, {{3, 5}});
  s.AddEnv("VELMO_PROFILE=1");
#ifdef __SANITIZE_ADDRESS__
  const char* asan = getenv("ASAN_OPTIONS");
  s.AddEnv(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") + "quarantine_size_mb=0");
#endif
  const e2e::Run free = s.Play(reliability::Merge(s.root() / "2x", s.root() / "free"));
  ASSERT_TRUE(free.Has(reliability::kDone)) << free.Joined();
  EXPECT_EQ(SpilledMiB(free.err), 0.0) << "a merge that fits memory spills nothing\n" << free.err;
  // The bitmap and the joined file, each 64 MiB; the fetched rows share the
  // bitmap's pages.
  EXPECT_LE(ProfileMiB(free.err, "memory").value_or(1e9), 2 * 64 + 16 + double(kProgram / kMiB)) << free.err;

  MemoryCgroup cgroup("mosalin-merge-test", kBlocks / 4 + kProgram);
  if (!cgroup.ok()) {
    if (geteuid() != 0) GTEST_SKIP() << "memory cgroups need root here: " << cgroup.why();
    FAIL() << "no memory cgroup: " << cgroup.why();
  }
  const e2e::Run limited = s.Play(reliability::Merge(s.root() / "2x", s.root() / "limited"),
                                  cgroup.Wrapper(s.root(), e2e::BinDir() / "mosalin"));
  ASSERT_EQ(limited.status, 0) << limited.Joined();
  ASSERT_TRUE(limited.Has(reliability::kDone)) << limited.Joined();
  EXPECT_LE(cgroup.Peak(), kBlocks / 4 + kProgram) << "the cgroup's limit held";
  const std::optional<double> spilled = SpilledMiB(limited.err);
  ASSERT_TRUE(spilled) << limited.err;
  EXPECT_GE(*spilled, 128.0) << "the large blocks went to disk";
  EXPECT_TRUE(Slurp(s.root() / "free.bmp") == Slurp(s.root() / "limited.bmp"))
      << "the merge in the cgroup wrote a different file";
  // The spill files had no names: the spill directory holds nothing.
  const fs::path spill = s.root() / ".cache" / "mosalin";
  ASSERT_TRUE(fs::is_directory(spill));
  EXPECT_TRUE(fs::is_empty(spill));
}

// The bitmap fits neither in the memory the program may use nor in the spill
// directory: the program's own bitmap failure, the inputs enabled again, no
// file and nothing left behind.
TEST(MemoryLimit, ASpillDirectoryThatCannotTakeTheBitmapGivesTheBitmapFailure) {
  e2e::Sandbox s("spill-refused");
  std::ofstream(s.root() / "a-file") << "x";

  struct Case {
    const char* what;
    fs::path spill;
    const char* wrapper;  // shell lines before the program starts
  };
  std::vector<Case> cases = {
      {"not writable (below a file)", s.root() / "a-file" / "spill", ""},
      // A file-size limit makes the reservation of the file's space fail as
      // a full disk would.
      {"full", s.root() / "spill-full", "trap '' XFSZ\nulimit -f 1024\n"},
  };
  struct statfs shm {};
  if (statfs("/dev/shm", &shm) == 0 && shm.f_type == 0x01021994)  // tmpfs
    cases.push_back({"in memory (tmpfs)", fs::path("/dev/shm") / ("mosalin-spill-" + std::to_string(getpid())), ""});

  for (const Case& c : cases) {
    e2e::Sandbox run(std::string("spill-refused-") + std::to_string(&c - cases.data()));
    e2e::MakeTileSet(run.root() / "2x", kBands, kBands);
    run.AddEnv("MOSALIN_MEMORY_LIMIT=40M");
    run.AddEnv("MOSALIN_SPILL_DIR=" + c.spill.string());
    const fs::path wrapper = run.root() / "limits.sh";
    std::ofstream(wrapper) << "#!/bin/sh\n" << c.wrapper << "exec '" << (e2e::BinDir() / "mosalin").string()
                           << "' \"$@\"\n";
    fs::permissions(wrapper, fs::perms::owner_all);
    const e2e::Run r = run.Play(reliability::Merge(run.root() / "2x", run.root() / "out"), wrapper);
    EXPECT_EQ(r.status, 0) << c.what << "\n" << r.Joined();
    EXPECT_TRUE(r.Has(kBitmapFailed)) << c.what << "\n" << r.Joined();
    EXPECT_TRUE(r.Has("set 按钮_开始拼合 6 0")) << c.what;
    EXPECT_FALSE(fs::exists(run.root() / "out.bmp")) << c.what;
    for (const std::string& name : reliability::Listing(run.root()))
      EXPECT_TRUE(name != "out.bmp" && name[0] != '.') << c.what << ": " << name << " was left";
    if (fs::is_directory(c.spill)) {
      EXPECT_TRUE(fs::is_empty(c.spill)) << c.what;
    }
    if (std::string(c.what).find("tmpfs") != std::string::npos) {
      EXPECT_NE(r.err.find("is in memory"), std::string::npos) << r.err;
      fs::remove_all(c.spill);
    }
  }
}

// The bitmap fits in memory, the next large block fits neither there nor in
// the spill directory: the host says so in the window and on stderr and ends
// with its own status; no file and no temporary file is left.
TEST(MemoryLimit, ALaterBlockWithoutRoomEndsTheProgramClearly) {
  e2e::Sandbox s("later-block");
  e2e::MakeTileSet(s.root() / "2x", kBands, kBands);
  s.AddEnv("MOSALIN_MEMORY_LIMIT=180M");
  s.AddEnv("MOSALIN_SPILL_DIR=" + (s.root() / "scenario.txt" / "spill").string());
  const e2e::Run r = s.Play(reliability::Merge(s.root() / "2x", s.root() / "out"));
  EXPECT_EQ(r.status, 7) << r.Joined();
  bool told = false;
  for (const std::string& line : r.Lines("message 16 "))
    told = told || line.find("内存不足") != std::string::npos;
  EXPECT_TRUE(told) << r.Joined();
  EXPECT_NE(r.err.find("velmo: out of memory: a block of 64.0 MiB fits neither in memory nor in the spill directory"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(r.Has(reliability::kDone));
  EXPECT_EQ(reliability::Listing(s.root()),
            (std::vector<std::string>{"2x", "config", "scenario.txt", "stderr.txt", "stdout.txt"}));
}

}  // namespace
