#include "runtime/write_file.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>

#include "runtime/memory.h"
#include "tests/runtime/scratch_dir.h"
#include "tests/support/file_states.h"

namespace velmo {
namespace {

using testing::NamesIn;
using testing::ReadText;
using testing::ScratchDir;
using testing::WriteText;
using testfiles::HoldsFileIn;
using testfiles::LockDirectory;
using Names = std::vector<std::string>;

constexpr int kSkip = 77;

// Runs `body` in a child process, for privilege, mount and limit changes that
// must not touch the test process; returns its exit code.
int InChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Content, mode and inode: what a failed write must leave as it was.
std::string StateOf(const std::string& path) {
  struct stat st{};
  stat(path.c_str(), &st);
  return ReadText(path) + "|" + std::to_string(st.st_mode) + "|" + std::to_string(st.st_ino);
}

TEST(WriteFileAtomically, CreatesAndReplacesFilesCompletely) {
  ScratchDir d;
  const std::string big(3 * 1024 * 1024 + 17, 'q');
  ASSERT_TRUE(WriteFileAtomically(d / "new.bmp", big.data(), big.size()));
  EXPECT_EQ(ReadText(d / "new.bmp"), big);
  const mode_t mask = umask(022);
  umask(mask);
  struct stat st{};
  stat((d / "new.bmp").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);

  // Replacing keeps the mode; a reader of the old file keeps the old bytes.
  WriteText(d / "old.bmp", "old content");
  chmod((d / "old.bmp").c_str(), 0604);
  FILE* reader = fopen((d / "old.bmp").c_str(), "rb");
  ASSERT_TRUE(WriteFileAtomically(d / "old.bmp", "new", 3));
  EXPECT_EQ(ReadText(d / "old.bmp"), "new");
  stat((d / "old.bmp").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  char buf[32] = {};
  EXPECT_EQ(fread(buf, 1, sizeof buf, reader), 11u);
  fclose(reader);

  // Through a symbolic link: the file it names is replaced, the link stays.
  mkdir((d / "real").c_str(), 0755);
  ASSERT_EQ(symlink("real/out.bmp", (d / "link.bmp").c_str()), 0);
  ASSERT_TRUE(WriteFileAtomically(d / "link.bmp", nullptr, 0));
  EXPECT_EQ(ReadText(d / "real/out.bmp"), "");
  EXPECT_EQ(NamesIn(d.path()), (Names{"link.bmp", "new.bmp", "old.bmp", "real"}));
}

TEST(WriteFileAtomicallyFailures, BadTargetsAreRefusedAndLeaveNothing) {
  ScratchDir d;
  mkdir((d / "sub").c_str(), 0755);
  WriteText(d / "sub/inside", "x");
  ASSERT_EQ(symlink("loop", (d / "loop").c_str()), 0);
  EXPECT_FALSE(WriteFileAtomically(d / "missing/out.bmp", "abc", 3));
  EXPECT_FALSE(WriteFileAtomically(d / "sub", "abc", 3));
  EXPECT_FALSE(WriteFileAtomically(d / "loop", "abc", 3));
  EXPECT_FALSE(WriteFileAtomically("", "abc", 3));
  EXPECT_FALSE(WriteFileAtomically(d / "out.bmp", nullptr, 3));
  EXPECT_EQ(NamesIn(d.path()), (Names{"loop", "sub"}));
  EXPECT_EQ(NamesIn(d / "sub"), Names{"inside"});
}

// In a child: tries to replace `target` (alone in its directory) with 1 MiB.
// 0 when that fails cleanly; 1 success reported, 2 old file changed, 3 debris.
int TryToReplace(const std::string& target) {
  const std::string before = StateOf(target);
  const std::string big(1024 * 1024, 'n');
  if (WriteFileAtomically(target, big.data(), big.size())) return 1;
  if (StateOf(target) != before) return 2;
  return NamesIn(target.substr(0, target.rfind('/'))) == Names{"out.bmp"} ? 0 : 3;
}

TEST(WriteFileAtomicallyFailures, AReadOnlyFileIsNeverReplaced) {
  // No write bit at all is the read-only attribute; it holds for root too.
  ScratchDir d;
  WriteText(d / "out.bmp", "old content");
  chmod((d / "out.bmp").c_str(), 0444);
  EXPECT_EQ(InChild([&] { return TryToReplace(d / "out.bmp"); }), 0);
}

TEST(WriteFileAtomically, AWritableFileInALockedDirectoryIsWrittenInPlace) {
  ScratchDir d;
  const std::string dir = d / "locked", target = dir + "/out.bmp";
  mkdir(dir.c_str(), 0755);
  WriteText(target, "a longer, older content");
  struct stat before{}, after{};
  stat(target.c_str(), &before);
  if (!LockDirectory(dir, true)) GTEST_SKIP() << "cannot lock a directory here";
  const bool written = WriteFileAtomically(target, "new", 3);
  LockDirectory(dir, false);
  EXPECT_TRUE(written);
  EXPECT_EQ(ReadText(target), "new");
  stat(target.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(NamesIn(dir), Names{"out.bmp"});
}

TEST(WriteFileAtomicallyFailures, FullFileSystemKeepsTheOldFile) {
  ScratchDir d;
  const std::string dir = d / "small";
  mkdir(dir.c_str(), 0755);
  // A 64 KiB file system in a private mount namespace that vanishes with the
  // child; where mounting is not permitted, a file-size limit stands in.
  const int rc = InChild([&] {
    const bool mounted = unshare(CLONE_NEWNS) == 0 &&
                         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                         mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") == 0;
    WriteText(dir + "/out.bmp", "old content");
    if (!mounted) {
      signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG
      const rlimit limit{4096, 4096};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return kSkip;
    }
    const int replaced = TryToReplace(dir + "/out.bmp");
    // Written in place, the space is reserved before a byte changes.
    return replaced != 0 || !mounted || !LockDirectory(dir, true) ? replaced
                                                                   : 10 * TryToReplace(dir + "/out.bmp");
  });
  if (rc == kSkip) GTEST_SKIP() << "neither a small file system nor a size limit available";
  EXPECT_EQ(rc, 0);
}

// Makes open(O_TMPFILE) fail as on a file system without it, for this
// process and its children.
bool RefuseUnnamedFiles() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// A child replacing out.bmp with 256 MiB ends while it writes: by SIGKILL or
// SIGTERM with a file that has no name; by SIGINT, SIGTERM, SIGHUP or exit()
// (from a SIGUSR1 handler) where the file system makes a named one.
TEST(WriteFileAtomically, AnInterruptedWriteLeavesOnlyTheOldFile) {
  static const std::string big(std::size_t{256} << 20, 'n');
  struct Case {
    bool unnamed;
    int sig;
  };
  for (const Case c : {Case{true, SIGKILL}, Case{true, SIGTERM}, Case{false, SIGINT}, Case{false, SIGTERM},
                       Case{false, SIGHUP}, Case{false, SIGUSR1}}) {
    SCOPED_TRACE((c.unnamed ? "unnamed, " : "named, ") + std::string(strsignal(c.sig)));
    ScratchDir d;
    WriteText(d / "out.bmp", "old content");
    const std::string before = StateOf(d / "out.bmp");
    const pid_t pid = fork();
    if (pid == 0) {
      if (!c.unnamed && !RefuseUnnamedFiles()) _exit(kSkip);
      signal(SIGUSR1, [](int) { exit(0); });
      WriteFileAtomically(d / "out.bmp", big.data(), big.size());
      _exit(1);
    }
    int status = 0;
    bool ended = false;
    while (!(ended = waitpid(pid, &status, WNOHANG) == pid) && !HoldsFileIn(pid, d.path())) usleep(200);
    if (!ended) {
      kill(pid, c.sig);
      waitpid(pid, &status, 0);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kSkip) GTEST_SKIP() << "no seccomp filter here";
    EXPECT_TRUE(c.sig == SIGUSR1 ? WIFEXITED(status) && WEXITSTATUS(status) == 0
                                 : WIFSIGNALED(status) && WTERMSIG(status) == c.sig)
        << "status " << status;
    EXPECT_EQ(NamesIn(d.path()), Names{"out.bmp"});
    EXPECT_EQ(StateOf(d / "out.bmp"), before);
  }
}

TEST(WriteFileAtomically, LargeAlignedAndUnalignedBuffersArriveByteForByte) {
  ScratchDir d;
  BlockHeap heap;
  // A byte buffer's data as the host hands it over: aligned, with an odd tail.
  const std::uint32_t size = (9u << 20) + 54;
  auto* block = static_cast<std::uint8_t*>(heap.Allocate(size + 8));
  std::uint8_t* data = block + BlockHeap::kPayloadOffset;
  for (std::uint32_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
  const std::string target = d / "out.bmp";
  ASSERT_TRUE(WriteFileAtomically(target, data, size));
  std::string got = ReadText(target);
  ASSERT_EQ(got.size(), size);
  EXPECT_EQ(std::memcmp(got.data(), data, size), 0);
  // The same bytes from an unaligned start replace the file just as well.
  ASSERT_TRUE(WriteFileAtomically(target, data + 1, size - 1));
  got = ReadText(target);
  ASSERT_EQ(got.size(), size - 1);
  EXPECT_EQ(std::memcmp(got.data(), data + 1, size - 1), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.path()), {}), 1);
  heap.ReleaseAll();
}

}  // namespace
}  // namespace velmo
