#include "platform/graphics/big_block.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

namespace graphics {
namespace {

constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();
// Left free when a block that does not fit comfortably is taken from memory
// after all (the spill directory could not hold it).
constexpr std::uint64_t kReserve = std::uint64_t(64) << 20;
// A cgroup limit at or above this is no limit (cgroup v1 reports its
// "unlimited" as a page-rounded 2^63).
constexpr std::uint64_t kNoLimit = std::uint64_t(1) << 60;

std::uintptr_t PageSize() {
  static const std::uintptr_t size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  return size;
}

// Where a block's pages live.
enum class Backing {
  kAnonymous,  // fresh anonymous memory
  kMemory,     // a memfd, mapped shared: memory that can be mapped again
  kSpilled,    // an unnamed spill file, mapped shared
};

struct Block {
  std::size_t bytes;
  Backing backing;
  int fd = -1;  // kMemory and kSpilled
  // Where the block starts in its file (kSpilled): the file's first page
  // holds this much before it, so that a payload `lead` bytes in starts a
  // page of the file and of memory.
  std::size_t fileOffset = 0;
  // Pages of it have been mapped from elsewhere (MapCopy's target), so a
  // spilled block's file no longer holds all of its bytes.
  bool remapped = false;
  // Mapped privately since MapCopy shared it: its file no longer follows it.
  bool frozen = false;
};

struct SpillState {
  std::mutex mutex;
  std::map<std::uintptr_t, Block> blocks;  // every live block, by address
  SpillFigures figures;
  std::uint64_t memoryBytes = 0;  // live kMemory blocks
  bool warnedInMemory = false;
};

SpillState& S() {
  static SpillState* state = new SpillState();  // lives until the process ends
  return *state;
}

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::optional<std::uint64_t> ParseNumber(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (errno) return std::nullopt;
  return v;
}

// A size: a number of bytes, or a number followed by K, M or G (binary).
std::optional<std::uint64_t> ParseSize(std::string text) {
  std::uint64_t unit = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'k': case 'K': unit = std::uint64_t(1) << 10; break;
      case 'm': case 'M': unit = std::uint64_t(1) << 20; break;
      case 'g': case 'G': unit = std::uint64_t(1) << 30; break;
      default: break;
    }
    if (unit != 1) text.pop_back();
  }
  const std::optional<std::uint64_t> n = ParseNumber(text);
  if (!n || *n > kUnlimited / unit) return std::nullopt;
  return *n * unit;
}

// A value from a "key value" file such as memory.stat.
std::optional<std::uint64_t> StatValue(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  std::string k, v;
  while (in >> k >> v)
    if (k == key) return ParseNumber(v);
  return std::nullopt;
}

std::uint64_t Less(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }

// The memory the process holds that only swap could take from it: its
// anonymous resident pages (resident less shared, file-backed pages) and its
// memfd blocks, whose pages the kernel counts as shared though they are
// memory like any other.
std::uint64_t AnonymousResident() {
  std::ifstream in("/proc/self/statm");
  std::uint64_t size = 0, resident = 0, shared = 0;
  in >> size >> resident >> shared;
  std::lock_guard lock(S().mutex);
  return Less(resident, shared) * PageSize() + S().memoryBytes;
}

// cgroup v2: the tightest memory.max of the process's cgroup and its
// ancestors, less what each uses beyond its file cache.
std::uint64_t CgroupV2Headroom(const std::string& path) {
  std::uint64_t headroom = kUnlimited;
  std::string dir = "/sys/fs/cgroup" + (path == "/" ? std::string() : path);
  while (dir.size() > std::strlen("/sys/fs/cgroup")) {
    const std::optional<std::uint64_t> max = ParseNumber(ReadFirstLine(dir + "/memory.max"));
    const std::optional<std::uint64_t> current = ParseNumber(ReadFirstLine(dir + "/memory.current"));
    if (max && current) {
      // Shared memory (memfd, tmpfs) is counted as file cache, but the
      // kernel cannot drop it.
      const std::uint64_t file = Less(StatValue(dir + "/memory.stat", "file").value_or(0),
                                      StatValue(dir + "/memory.stat", "shmem").value_or(0));
      headroom = std::min(headroom, Less(*max, Less(*current, file)));
    }
    dir.erase(dir.rfind('/'));
  }
  return headroom;
}

// cgroup v1: the hierarchical limit of the memory controller, less the
// usage beyond the file cache (its file lists hold no shared memory: that
// is on the anonymous lists).
std::uint64_t CgroupV1Headroom(const std::string& path) {
  const std::string dir = "/sys/fs/cgroup/memory" + (path == "/" ? std::string() : path);
  const std::string stat = dir + "/memory.stat";
  const std::optional<std::uint64_t> limit = StatValue(stat, "hierarchical_memory_limit");
  const std::optional<std::uint64_t> usage = ParseNumber(ReadFirstLine(dir + "/memory.usage_in_bytes"));
  if (!limit || *limit >= kNoLimit || !usage) return kUnlimited;
  const std::uint64_t file =
      StatValue(stat, "total_active_file").value_or(0) + StatValue(stat, "total_inactive_file").value_or(0);
  return Less(*limit, Less(*usage, file));
}

std::uint64_t CgroupHeadroom() {
  std::ifstream in("/proc/self/cgroup");
  std::uint64_t headroom = kUnlimited;
  for (std::string line; std::getline(in, line);) {
    const std::size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    const std::string id = line.substr(0, a), controllers = line.substr(a + 1, b - a - 1);
    const std::string path = line.substr(b + 1);
    if (id == "0" && controllers.empty()) {
      headroom = std::min(headroom, CgroupV2Headroom(path));
    } else {
      std::stringstream list(controllers);
      for (std::string c; std::getline(list, c, ',');)
        if (c == "memory") headroom = std::min(headroom, CgroupV1Headroom(path));
    }
  }
  return headroom;
}

std::uint64_t MemAvailable() {
  std::ifstream in("/proc/meminfo");
  std::string key, unit;
  std::uint64_t value = 0;
  while (in >> key >> value >> unit)
    if (key == "MemAvailable:") return value * 1024;
  return kUnlimited;
}

// Whether a file system keeps its files in memory.
bool InMemory(int fd) {
  struct statfs fs {};
  if (fstatfs(fd, &fs) != 0) return false;
  return fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC;
}

void MakeDirectories(const std::string& dir) {
  for (std::size_t at = 1; at != std::string::npos; at = dir.find('/', at + 1))
    mkdir(dir.substr(0, at).c_str(), 0700);
  mkdir(dir.c_str(), 0700);
}

// A new file of `bytes` in the spill directory with its space reserved, no
// name, and not in memory; -1 when the directory cannot take it.
int OpenSpillFile(std::size_t bytes) {
  const std::string dir = SpillDirectory();
  if (dir.empty()) return -1;
  MakeDirectories(dir);
  int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = dir + "/.mosalin-spill-XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) unlink(name.c_str());
  }
  if (fd < 0) return -1;
  if (InMemory(fd)) {
    std::lock_guard lock(S().mutex);
    if (!S().warnedInMemory)
      std::fprintf(stderr, "mosalin: the spill directory %s is in memory (tmpfs); large pictures "
                   "cannot be moved to disk (set MOSALIN_SPILL_DIR to a directory on a disk)\n",
                   dir.c_str());
    S().warnedInMemory = true;
    close(fd);
    return -1;
  }
  int rc;
  do {
    rc = posix_fallocate(fd, 0, static_cast<off_t>(bytes));
  } while (rc == EINTR);
  if (rc != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14
#endif

// Blocks from this size on are faulted in by two threads.
constexpr std::size_t kTwoThreadFault = std::size_t(32) << 20;

// Runs `work(from, to)` on the two halves of a large range at once, the
// upper one on a second thread, or on all of a small one; true when every
// call was.
template <class Work>
bool InHalves(std::uintptr_t first, std::uintptr_t end, Work work) {
  if (end - first < kTwoThreadFault) return work(first, end);
  const std::uintptr_t middle = first + (end - first) / 2 / PageSize() * PageSize();
  bool upper = false;
  std::thread helper;
  try {
    helper = std::thread([&] { upper = work(middle, end); });
  } catch (const std::system_error&) {
    return work(first, end);  // no thread to be had: one pass alone
  }
  const bool lower = work(first, middle);
  helper.join();
  return lower && upper;
}

// Faults in the pages of [first, end) without changing them, both halves at
// once for a large range: most of a fresh block's cost is the kernel's
// work per page, and the second core is otherwise idle while it is done.
// False when the kernel cannot fault pages in this way.
bool FaultIn(std::uintptr_t first, std::uintptr_t end) {
  return InHalves(first, end, [](std::uintptr_t from, std::uintptr_t to) {
    return madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE) == 0;
  });
}

// Writes one byte of each page of [first, end) as it is (both halves at
// once): where memory is virtualised, the first touch of a small page from
// the process can cost a trap to the hypervisor even after the kernel has
// faulted it in (about 4.5 us each on the machine this was measured on, 0.3 s
// for a 256 MiB bitmap), which would otherwise be taken one by one on the
// thread that draws the tiles.
// `write` false only reads the byte, for a private mapping whose pages a
// write would copy.
void Touch(std::uintptr_t first, std::uintptr_t end, bool write) {
  InHalves(first, end, [write](std::uintptr_t from, std::uintptr_t to) {
    for (std::uintptr_t p = from; p < to; p += PageSize()) {
      auto* byte = reinterpret_cast<volatile std::uint8_t*>(p);
      if (write) *byte = *byte;
      else (void)*byte;
    }
    return true;
  });
}

std::uintptr_t PageEnd(std::uintptr_t at) { return (at + PageSize() - 1) / PageSize() * PageSize(); }

void* Register(void* p, Block block) {
  SpillState& s = S();
  std::lock_guard lock(s.mutex);
  if (block.backing == Backing::kSpilled) {
    s.figures.now += block.bytes;
    s.figures.peak = std::max(s.figures.peak, s.figures.now);
  } else if (block.backing == Backing::kMemory) {
    s.memoryBytes += block.bytes;
  }
  s.blocks[reinterpret_cast<std::uintptr_t>(p)] = block;
  return p;
}

// A fresh anonymous mapping with protection `prot` for a block of `bytes`
// whose address plus `lead` is a multiple of 2 MiB: returns the block's
// address and sets [*first, *end) to its pages (the slack mapped for the
// alignment is unmapped again); 0 when there is no room.
std::uintptr_t MapAligned(std::size_t bytes, std::size_t lead, int prot, std::uintptr_t* first, std::uintptr_t* end) {
  const std::size_t length = bytes + kHuge;
  void* raw = mmap(nullptr, length, prot, MAP_PRIVATE | MAP_ANONYMOUS | (prot == PROT_NONE ? MAP_NORESERVE : 0), -1, 0);
  if (raw == MAP_FAILED) return 0;
  const auto base = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t block = (base + lead + kHuge - 1) / kHuge * kHuge - lead;
  *first = block / PageSize() * PageSize();
  *end = PageEnd(block + bytes);
  if (*first > base) munmap(raw, *first - base);
  if (base + length > *end) munmap(reinterpret_cast<void*>(*end), base + length - *end);
  // Huge pages where the system gives them on request: a fault, and a TLB
  // entry, for 2 MiB at once (the block is aligned to 2 MiB for this too).
  madvise(reinterpret_cast<void*>(*first), *end - *first, MADV_HUGEPAGE);
  return block;
}

void* MapAnonymous(std::size_t bytes, std::size_t lead, bool faultIn) {
  std::uintptr_t first = 0, end = 0;
  const std::uintptr_t block = MapAligned(bytes, lead, PROT_READ | PROT_WRITE, &first, &end);
  if (!block) return nullptr;
  if (faultIn && !FaultIn(first, end)) {
    // An older kernel: the pages fault in as they are first touched.
    for (std::uintptr_t p = first; p < end; p += PageSize()) *reinterpret_cast<volatile char*>(p) = 0;
  }
  return Register(reinterpret_cast<void*>(block), {bytes, Backing::kAnonymous});
}

// Memory held by a memfd, faulted in as anonymous blocks are, at a 2 MiB
// boundary and asking for huge pages, which a system whose shared memory has
// them on request (shmem_enabled "advise") then gives.
void* MapMemory(std::size_t bytes) {
  const int fd = memfd_create("mosalin-bitmap", MFD_CLOEXEC);
  if (fd < 0) return nullptr;
  std::uintptr_t at = 0, first = 0, end = 0;  // with no lead, the block starts its first page
  if (ftruncate(fd, static_cast<off_t>(PageEnd(bytes))) == 0) at = MapAligned(bytes, 0, PROT_NONE, &first, &end);
  if (!at || mmap(reinterpret_cast<void*>(at), end - at, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) ==
                 MAP_FAILED) {
    if (at) munmap(reinterpret_cast<void*>(at), end - at);
    close(fd);
    return nullptr;
  }
  madvise(reinterpret_cast<void*>(at), end - at, MADV_HUGEPAGE);  // the file's mapping asks anew
  FaultIn(at, end);
  Touch(at, end, true);  // faults in what FaultIn could not
  return Register(reinterpret_cast<void*>(at), {bytes, Backing::kMemory, fd});
}

// A spilled block whose payload, `lead` bytes in, starts a page as an
// anonymous block's does (so that a fetch can map pages there).
void* MapSpilled(std::size_t bytes, std::size_t lead) {
  const std::size_t fileOffset = (PageSize() - lead) % PageSize();
  const int fd = OpenSpillFile(fileOffset + bytes);
  if (fd < 0) return nullptr;
  void* p = mmap(nullptr, fileOffset + bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    close(fd);
    return nullptr;
  }
  return Register(static_cast<std::uint8_t*>(p) + fileOffset, {bytes, Backing::kSpilled, fd, fileOffset});
}

// Where a block of `bytes` goes: memory (`inMemory`) when it fits in half the
// headroom, else a spill file, else memory after all if it fits at all.
template <class InMemory>
void* Place(std::size_t bytes, std::size_t lead, InMemory inMemory) {
  const std::uint64_t headroom = MemoryHeadroom();
  if (bytes <= headroom / 2) return inMemory();
  if (void* spilled = MapSpilled(bytes, lead)) return spilled;
  if (bytes <= Less(headroom, kReserve)) return inMemory();
  return nullptr;
}

// The block that holds [at, at + size), lock held.
Block* Holding(std::uintptr_t at, std::size_t size, std::uintptr_t* start) {
  auto& blocks = S().blocks;
  auto it = blocks.upper_bound(at);
  if (it == blocks.begin()) return nullptr;
  --it;
  if (at - it->first > it->second.bytes || size > it->second.bytes - (at - it->first)) return nullptr;
  *start = it->first;
  return &it->second;
}

}  // namespace

std::string SpillDirectory() {
  if (const char* dir = std::getenv("MOSALIN_SPILL_DIR"); dir && *dir) return dir;
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/')
    return std::string(cache) + "/mosalin";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.cache/mosalin";
  return {};
}

std::uint64_t MemoryHeadroom() {
  std::uint64_t headroom = std::min(MemAvailable(), CgroupHeadroom());
  if (const char* limit = std::getenv("MOSALIN_MEMORY_LIMIT"); limit && *limit) {
    if (const std::optional<std::uint64_t> bytes = ParseSize(limit)) {
      headroom = std::min(headroom, Less(*bytes, AnonymousResident()));
    } else {
      // Said once per process; the merge goes on without the cap.
      static std::once_flag said;
      std::call_once(said, [limit] {
        std::fprintf(stderr, "mosalin: MOSALIN_MEMORY_LIMIT=%s is not a size (bytes, or a number with K, M or G); "
                     "it is ignored\n", limit);
      });
    }
  }
  return headroom;
}

void* MapBigBlock(std::size_t bytes, std::size_t lead, bool faultIn) {
  if (bytes == 0 || lead >= PageSize() || bytes > SIZE_MAX - 2 * kHuge) return nullptr;
  return Place(bytes, lead, [&] { return MapAnonymous(bytes, lead, faultIn); });
}

void* MapShareableBlock(std::size_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX - 2 * kHuge) return nullptr;
  return Place(bytes, 0, [&] {
    void* p = MapMemory(bytes);
    return p ? p : MapAnonymous(bytes, 0, true);  // no memfd to be had: a block that is only copied
  });
}

bool MapCopy(const void* source, void* target, std::size_t bytes) {
  const auto from = reinterpret_cast<std::uintptr_t>(source), to = reinterpret_cast<std::uintptr_t>(target);
  if (bytes == 0 || to % PageSize() != 0) return false;
  const std::size_t length = PageEnd(bytes);
  {
    std::lock_guard lock(S().mutex);
    std::uintptr_t sourceStart = 0, targetStart = 0;
    Block* src = Holding(from, bytes, &sourceStart);
    if (!src || sourceStart != from || src->frozen || src->fd < 0 || src->fileOffset != 0) return false;
    // Every page the copy maps must be the target block's own: its last page
    // may hold nothing of anyone else.
    Block* dst = Holding(to, bytes, &targetStart);
    if (!dst || dst->backing == Backing::kMemory || dst->fd == src->fd ||
        to + length > PageEnd(targetStart + dst->bytes))
      return false;
    // What the target block holds after the copy in its last page is its own
    // and is put back once the page is mapped.
    const std::size_t tail = std::min<std::uintptr_t>(to + length, targetStart + dst->bytes) - (to + bytes);
    std::uint8_t kept[4096];
    if (tail > sizeof kept) return false;
    std::memcpy(kept, static_cast<std::uint8_t*>(target) + bytes, tail);
    // Both sides become private mappings of the file, which from now on holds
    // what the block held at this moment: a write to either goes to that
    // side's own copy of the page and is never seen by the other.
    if (mmap(target, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED, src->fd, 0) == MAP_FAILED)
      return false;  // the target's old mapping is left as it was
    std::memcpy(static_cast<std::uint8_t*>(target) + bytes, kept, tail);
    dst->remapped = true;
    if (mmap(const_cast<void*>(source), PageEnd(src->bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED,
             src->fd, 0) == MAP_FAILED) {
      // The source stays shared, so the copy would see its later writes. The
      // target's old mapping is gone; writing every page of the new one gives
      // it pages of its own.
      std::memcpy(target, source, bytes);
      return true;
    }
    src->frozen = true;
    if (src->backing != Backing::kMemory) return true;  // pages on disk are read when needed
  }
  // The copy is there to be read: its pages' first touch, as for a new
  // bitmap, taken now by two threads (reads, which copy nothing).
  Touch(to, to + length, false);
  return true;
}

void UnmapBigBlock(void* block, std::size_t bytes) {
  if (!block) return;
  SpillState& s = S();
  const auto at = reinterpret_cast<std::uintptr_t>(block);
  Block b{bytes, Backing::kAnonymous};
  {
    std::lock_guard lock(s.mutex);
    auto it = s.blocks.find(at);
    if (it != s.blocks.end()) {
      b = it->second;
      if (b.backing == Backing::kSpilled) s.figures.now -= b.bytes;
      if (b.backing == Backing::kMemory) s.memoryBytes -= b.bytes;
      s.blocks.erase(it);
    }
  }
  const std::uintptr_t first = at / PageSize() * PageSize();
  munmap(reinterpret_cast<void*>(first), PageEnd(at + b.bytes) - first);
  if (b.fd >= 0) close(b.fd);  // the file goes with its last mapping
}

std::optional<SpilledRange> FindSpilled(const void* data, std::size_t size) {
  std::lock_guard lock(S().mutex);
  const auto at = reinterpret_cast<std::uintptr_t>(data);
  std::uintptr_t start = 0;
  const Block* b = Holding(at, size, &start);
  if (!b || b->backing != Backing::kSpilled || b->remapped || b->frozen) return std::nullopt;
  return SpilledRange{b->fd, b->fileOffset + (at - start)};
}

SpillFigures Spilled() {
  SpillState& s = S();
  std::lock_guard lock(s.mutex);
  return s.figures;
}

}  // namespace graphics
