#include "runtime/write_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>

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
bool CopyInKernel(int fd, const CopySource& from, std::size_t size, std::size_t& done) {
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

// Creates a new, empty temporary file beside `target`. Returns its descriptor
// and sets `tempPath`, or -1.
int CreateTemporary(const std::string& target, mode_t mode, std::string& tempPath) {
  static std::atomic<std::uint64_t> counter{0};
  const std::string dir = DirectoryOf(target);
  const std::string base = BaseNameOf(target).substr(0, kMaxKeptName);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto tick = static_cast<std::uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld.%llx.tmp", static_cast<long>(getpid()),
                  static_cast<unsigned long long>(tick ^ (counter.fetch_add(1) << 40)));
    tempPath = dir + "/." + base + suffix;
    const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    if (errno != EEXIST && errno != EINTR) return -1;
  }
  return -1;
}

void SyncDirectory(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  FsyncRetrying(fd);  // durability only; the new content is already in place
  close(fd);
}

}  // namespace

bool WriteFileAtomically(const std::string& posixPath, const void* data, std::size_t size,
                         const CopySource* from) {
  if (posixPath.empty() || posixPath.back() == '/') return false;
  if (data == nullptr && size != 0) return false;

  const std::string target = ResolveTarget(posixPath);
  if (target.empty()) return false;

  struct stat old{};
  const bool exists = stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists && !S_ISREG(old.st_mode)) return false;  // a directory, device, pipe, ...

  // A new file is created 0666 and the kernel applies the umask (and any
  // default ACL); a replacement starts private and gets the old bits below.
  std::string temp;
  const int fd = CreateTemporary(target, exists ? 0600 : 0666, temp);
  if (fd < 0) return false;

  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  bool ok = from ? CopyInKernel(fd, *from, size, done) : WriteDirect(fd, bytes, size, done);
  ok = ok && WriteAll(fd, bytes + done, size - done);
  if (ok && exists) {
    if (old.st_uid != geteuid() || old.st_gid != getegid()) {
      // Only a privileged process may give the file away; otherwise the new
      // file belongs to the writer, as any rewritten file would.
      if (fchown(fd, old.st_uid, old.st_gid) != 0) {
        // keep the writer as owner
      }
    }
    ok = fchmod(fd, old.st_mode & 07777) == 0;
  }
  ok = ok && FsyncRetrying(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  SyncDirectory(DirectoryOf(target));
  return true;
}

}  // namespace velmo
