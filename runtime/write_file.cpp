#include "runtime/write_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/graphics/big_block.h"

namespace velmo {

namespace {

// Symbolic links followed at most, as the kernel does for path lookup.
constexpr int kMaxLinks = 40;
// Largest single write request; Linux caps one write near 2 GiB anyway.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
// Direct I/O: buffers from this size on, aligned to this many bytes (a page,
// a multiple of every usual logical block size).
constexpr std::size_t kDirectMinimum = std::size_t{8} << 20;
constexpr std::size_t kDirectAlign = 4096;
// The temporary file's name keeps at most this much of the target's name, so
// that it stays within NAME_MAX whatever the target is called.
constexpr std::size_t kMaxKeptName = 120;

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path that a write to `path` really replaces: symbolic links resolved
// hop by hop (a dangling link names the file to create). Empty on a loop.
std::string ResolveTarget(std::string path) {
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
    const ssize_t n = readlink(path.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<std::size_t>(n) >= link.size()) return {};
    link.resize(static_cast<std::size_t>(n));
    if (link.empty()) return {};
    path = link.front() == '/' ? link : DirectoryOf(path) + "/" + link;
  }
  return {};
}

bool WriteAll(int fd, const unsigned char* p, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, p, std::min(size, kMaxChunk));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;  // no progress: treat as a full device
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes as much of the block-aligned head of `p` as direct I/O takes, from
// the caller's memory straight to the device: no copy through the page cache,
// which for a picture of hundreds of MiB costs more than the disk itself.
// Sets `done` to the bytes written; false only on a real write error. Where
// direct I/O does not apply (a file system without it, an unaligned buffer)
// nothing is written and the caller writes it all the ordinary way.
bool WriteDirect(int fd, const unsigned char* p, std::size_t size, std::size_t& done) {
  done = 0;
  if (size < kDirectMinimum || reinterpret_cast<std::uintptr_t>(p) % kDirectAlign != 0) return true;
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_DIRECT) != 0) return true;
  const std::size_t bulk = size / kDirectAlign * kDirectAlign;
  bool ok = true;
  while (done < bulk) {
    const ssize_t n = write(fd, p + done, std::min(bulk - done, kMaxChunk));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EINVAL) break;  // alignment the device refuses: write the rest buffered
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
    if (static_cast<std::size_t>(n) % kDirectAlign != 0) break;  // short write: off the alignment
  }
  if (fcntl(fd, F_SETFL, flags) != 0) ok = false;
  return ok;
}

// Copies `size` bytes from `from` to the end of `fd` inside the kernel. Sets
// `done` to the bytes copied; false only on a real error. A kernel or a pair
// of file systems that cannot copy this way copies nothing, and the caller
// writes the rest the ordinary way.
bool CopyInKernel(int fd, const graphics::SpilledRange& from, std::size_t size, std::size_t& done) {
  done = 0;
  loff_t in = static_cast<loff_t>(from.offset);
  while (done < size) {
    const ssize_t n = copy_file_range(from.fd, &in, fd, nullptr, std::min(size - done, kMaxChunk), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                  errno == EBADF))
      return true;  // not this way: the rest goes by write
    if (n < 0) return false;
    if (n == 0) return true;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int FsyncRetrying(int fd) {
  int rc;
  do {
    rc = fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// Whether an existing file counts as read-only: one that no one may write
// (no write bit at all, which is what Windows' read-only attribute is, and
// what it refuses to replace even for an administrator), or one this process
// may not write. Such a file is never replaced.
bool IsReadOnly(const std::string& path, const struct stat& st) {
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM);
}

// ---------------------------------------------------------------------------
// Named temporary files that must not outlive the process.
//
// Where the file system has no O_TMPFILE, the new content goes to a named
// temporary file; and even an unnamed one gets a name for the moment between
// linking it in and renaming it over the target. While such a name exists it
// sits in one of these slots, and the slots' names are removed when the
// process ends by SIGINT, SIGTERM, SIGHUP or exit(). Only a SIGKILL (or a
// crash of the machine) in that moment leaves the file.

struct PendingName {
  std::atomic<int> state{0};  // 0 free, 1 being filled, 2 holds a name
  pid_t owner = 0;            // a forked child does not remove its parent's files
  int dirFd = -1;
  char name[NAME_MAX + 1] = {};
};
PendingName gPending[8];
constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction gPrevious[std::size(kCleanedSignals)];

// Async-signal-safe: unlinkat and getpid only.
void RemovePendingNames() {
  const pid_t self = getpid();
  for (PendingName& p : gPending)
    if (p.state.load() == 2 && p.owner == self) unlinkat(p.dirFd, p.name, 0);
}

void OnEndingSignal(int sig, siginfo_t* info, void* context) {
  const int saved = errno;
  RemovePendingNames();
  for (std::size_t i = 0; i < std::size(kCleanedSignals); ++i) {
    if (kCleanedSignals[i] != sig) continue;
    const struct sigaction& prev = gPrevious[i];
    if (prev.sa_flags & SA_SIGINFO) {
      prev.sa_sigaction(sig, info, context);
    } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
      prev.sa_handler(sig);
    } else {
      // The default action: end the process as the signal would have. The
      // signal is blocked inside this handler and arrives on return.
      sigaction(sig, &prev, nullptr);
      raise(sig);
    }
  }
  errno = saved;
}

void InstallCleanup() {
  static std::once_flag once;
  std::call_once(once, [] {
    atexit(RemovePendingNames);
    for (std::size_t i = 0; i < std::size(kCleanedSignals); ++i) {
      struct sigaction now{};
      sigaction(kCleanedSignals[i], nullptr, &gPrevious[i]);
      if (!(gPrevious[i].sa_flags & SA_SIGINFO) && gPrevious[i].sa_handler == SIG_IGN)
        continue;  // an ignored signal ends nothing
      now.sa_sigaction = OnEndingSignal;
      now.sa_flags = SA_SIGINFO | SA_RESTART;
      sigemptyset(&now.sa_mask);
      sigaction(kCleanedSignals[i], &now, nullptr);
    }
  });
}

// Holds `name` in `dirFd` in a slot until Release; removes it on a failure.
class PendingGuard {
 public:
  PendingGuard(int dirFd, const std::string& name) {
    InstallCleanup();
    if (name.size() > NAME_MAX) return;
    for (PendingName& p : gPending) {
      int expected = 0;
      if (!p.state.compare_exchange_strong(expected, 1)) continue;
      p.owner = getpid();
      p.dirFd = dirFd;
      std::memcpy(p.name, name.c_str(), name.size() + 1);
      p.state.store(2);
      slot_ = &p;
      return;
    }
  }
  PendingGuard(const PendingGuard&) = delete;
  PendingGuard& operator=(const PendingGuard&) = delete;
  // Whether a slot holds the name (all slots busy: the caller must not make it).
  bool held() const { return slot_ != nullptr; }
  // The name is gone (renamed or removed): forget it.
  void Release() {
    if (slot_) slot_->state.store(0);
    slot_ = nullptr;
  }
  // Still held: the name is removed.
  ~PendingGuard() {
    if (!slot_) return;
    unlinkat(slot_->dirFd, slot_->name, 0);
    Release();
  }

 private:
  PendingName* slot_ = nullptr;
};

std::string TemporaryName(const std::string& target) {
  static std::atomic<std::uint64_t> counter{0};
  const auto tick =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%ld.%llx.tmp", static_cast<long>(getpid()),
                static_cast<unsigned long long>(tick ^ (counter.fetch_add(1) << 40)));
  return "." + BaseNameOf(target).substr(0, kMaxKeptName) + suffix;
}

// The new file's descriptor, and its name while it has one.
struct Temporary {
  int fd = -1;
  std::unique_ptr<PendingGuard> named;  // null: the file has no name yet
  std::string name;
};

// Links the O_TMPFILE file `fd` in as `name`: through /proc/self/fd, or with
// AT_EMPTY_PATH where the process has the privilege. 0, or -1 and errno.
int LinkUnnamed(int fd, int dirFd, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno == EEXIST) return -1;
  return linkat(fd, "", dirFd, name.c_str(), AT_EMPTY_PATH);
}

// A new, empty file in `dirFd` for the content of `target`: without a name
// where the file system allows it, else under a unique hidden name that is
// removed however the process ends short of SIGKILL. errno tells a failure.
Temporary CreateTemporary(int dirFd, const std::string& target, mode_t mode) {
  Temporary t;
  // Without /proc and without the privilege of AT_EMPTY_PATH an unnamed file
  // could be written but never linked in.
  static const bool canLink = access("/proc/self/fd", X_OK) == 0 || geteuid() == 0;
  if (canLink) {
    t.fd = openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (t.fd >= 0) return t;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) return t;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    t.name = TemporaryName(target);
    t.named = std::make_unique<PendingGuard>(dirFd, t.name);
    if (!t.named->held()) {
      t.named.reset();
      errno = EBUSY;
      return t;
    }
    t.fd = openat(dirFd, t.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (t.fd >= 0) return t;
    const int err = errno;
    t.named->Release();  // not made: nothing to remove
    t.named.reset();
    errno = err;
    if (errno != EEXIST && errno != EINTR) return t;
  }
  return t;
}

// Gives the complete file in `t` the name `target` (base name `base` in
// `dirFd`). An unnamed file that has no rival is linked in under that name
// at once; otherwise it gets a temporary name first and is renamed over
// the target, as a named temporary file is.
bool Publish(Temporary& t, int dirFd, const std::string& base) {
  if (!t.named) {
    if (LinkUnnamed(t.fd, dirFd, base) == 0) return true;
    if (errno != EEXIST) return false;
    for (int attempt = 0; attempt < 100 && !t.named; ++attempt) {
      t.name = TemporaryName(base);
      t.named = std::make_unique<PendingGuard>(dirFd, t.name);
      if (!t.named->held()) return false;
      if (LinkUnnamed(t.fd, dirFd, t.name) == 0) break;
      const int err = errno;
      t.named->Release();
      t.named.reset();
      if (err != EEXIST) return false;
    }
    if (!t.named) return false;
  }
  if (renameat(dirFd, t.name.c_str(), dirFd, base.c_str()) != 0) return false;
  t.named->Release();
  return true;
}

// Reserves the disk space for `size` bytes of the open file without changing
// its size or content; where the file system cannot reserve, at least checks
// that the free space suffices.
bool Reserve(int fd, std::size_t size) {
  if (size == 0) return true;
  int rc;
  do {
    rc = fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return true;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return false;
  struct stat st{};
  struct statvfs vfs{};
  if (fstat(fd, &st) != 0 || fstatvfs(fd, &vfs) != 0) return false;
  const std::uint64_t have = static_cast<std::uint64_t>(st.st_blocks) * 512;
  const std::uint64_t free = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return size <= have || size - have <= free;
}

// The bytes to the open, empty or to-be-overwritten file `fd` from its start.
bool WriteContent(int fd, const void* data, std::size_t size, const graphics::SpilledRange* from) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  bool ok = from ? CopyInKernel(fd, *from, size, done) : WriteDirect(fd, bytes, size, done);
  return ok && WriteAll(fd, bytes + done, size - done);
}

// Overwrites the existing regular file `target` (identified by `old`) in
// place, for a file the process may write in a directory where it may not
// make a new file. Not atomic: an interrupted or failing write leaves a mix
// of old and new bytes. The space is reserved first, so a full disk fails
// before any byte changes.
bool WriteInPlace(const std::string& target, const struct stat& old, const void* data, std::size_t size,
                  const graphics::SpilledRange* from) {
  const int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat now{};
  bool ok = fstat(fd, &now) == 0 && now.st_dev == old.st_dev && now.st_ino == old.st_ino && Reserve(fd, size);
  ok = ok && WriteContent(fd, data, size, from);
  ok = ok && ftruncate(fd, static_cast<off_t>(size)) == 0;
  ok = ok && FsyncRetrying(fd) == 0;
  return (close(fd) == 0) && ok;
}

void SyncDirectory(int dirFd) {
  const int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  FsyncRetrying(fd);  // durability only; the new content is already in place
  close(fd);
}

}  // namespace

bool WriteFileAtomically(const std::string& posixPath, const void* data, std::size_t size) {
  if (posixPath.empty() || posixPath.back() == '/') return false;
  if (data == nullptr && size != 0) return false;
  // Bytes of a spilled block go from its spill file straight to the new one.
  const std::optional<graphics::SpilledRange> spilled = graphics::FindSpilled(data, size);
  const graphics::SpilledRange* from = spilled ? &*spilled : nullptr;

  const std::string target = ResolveTarget(posixPath);
  if (target.empty()) return false;

  struct stat old{};
  const bool exists = stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && !S_ISREG(old.st_mode)) return false;  // a directory, device, pipe, ...
  if (exists && IsReadOnly(target, old)) return false;

  const int dirFd = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return false;
  // A new file is created 0666 and the kernel applies the umask (and any
  // default ACL); a replacement starts private and gets the old bits below.
  Temporary t = CreateTemporary(dirFd, target, exists ? 0600 : 0666);
  if (t.fd < 0) {
    // A directory the process may not write: a file it may write there is
    // overwritten in place, the one case that is not atomic.
    const bool inPlace = exists && (errno == EACCES || errno == EPERM) &&
                         WriteInPlace(target, old, data, size, from);
    close(dirFd);
    return inPlace;
  }

  bool ok = WriteContent(t.fd, data, size, from);
  if (ok && exists) {
    if (old.st_uid != geteuid() || old.st_gid != getegid()) {
      // Only a privileged process may give the file away; otherwise the new
      // file belongs to the writer, as any rewritten file would.
      if (fchown(t.fd, old.st_uid, old.st_gid) != 0) {
        // keep the writer as owner
      }
    }
    ok = fchmod(t.fd, old.st_mode & 07777) == 0;
  }
  ok = ok && FsyncRetrying(t.fd) == 0;
  ok = ok && Publish(t, dirFd, BaseNameOf(target));
  ok = (close(t.fd) == 0) && ok;
  t.named.reset();  // a name still held (a failure) is removed
  if (ok) SyncDirectory(dirFd);
  close(dirFd);
  return ok;
}

}  // namespace velmo
