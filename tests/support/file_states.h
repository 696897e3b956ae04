// What tests of file writes look at from outside: which files a process holds
// open, and directories where no new file can be made.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace testfiles {

// Whether process `pid` has a file in `dir` open (one it is writing there,
// named or not).
inline bool HoldsFileIn(int pid, const std::string& dir) {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
    if (std::filesystem::read_symlink(e.path(), ec).string().rfind(dir + "/", 0) == 0) return true;
  return false;
}

// Locks `dir` so that no file can be made in it, for root as well (root
// passes every permission check, so it is made immutable then), or unlocks
// it again. False when that is not possible here.
inline bool LockDirectory(const std::string& dir, bool lock) {
  if (geteuid() != 0) return chmod(dir.c_str(), lock ? 0555 : 0755) == 0;
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int flags = 0;
  bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = lock ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

}  // namespace testfiles
