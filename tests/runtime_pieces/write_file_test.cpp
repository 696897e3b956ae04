#include "runtime/write_file.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>

#include "tests/runtime_pieces/scratch_dir.h"

namespace velmo {
namespace {

using testing::NamesIn;
using testing::ReadText;
using testing::ScratchDir;
using testing::WriteText;
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

TEST(WriteFileAtomicallyFailures, ReadOnlyDirectoryKeepsTheOldFile) {
  ScratchDir d;
  const std::string dir = d / "ro", target = dir + "/out.bmp";
  mkdir(dir.c_str(), 0755);
  WriteText(target, "old content");
  chmod(target.c_str(), 0666);  // the file itself is writable
  chmod(dir.c_str(), 0555);
  const int rc = InChild([&] {
    // Root passes every permission check, so act as an ordinary user.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return kSkip;
    return TryToReplace(target);
  });
  chmod(dir.c_str(), 0755);
  if (rc == kSkip) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(rc, 0);
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
    return TryToReplace(dir + "/out.bmp");
  });
  if (rc == kSkip) GTEST_SKIP() << "neither a small file system nor a size limit available";
  EXPECT_EQ(rc, 0);
}

}  // namespace
}  // namespace velmo
