// Large blocks of memory (bitmaps, and the runtime host's large allocations)
// that a merge larger than memory can still have.
//
// A block that fits comfortably in what the process may still use (half of
// the headroom: see MemoryHeadroom) is fresh anonymous memory in huge pages
// where the system allows them on request, its pages faulted in when it is
// mapped (one pass in the kernel costs about half of
// faulting them in one by one on first use), the two halves of a large one
// by two threads at once. A block that does not is an
// unlinked file in the spill directory, mapped shared: the kernel writes its
// pages to disk and drops them when memory runs short, so the merge slows
// down instead of being killed. The file has no name from the moment it is
// made (O_TMPFILE), so nothing is left behind however the process ends, and
// its disk space is reserved in full when it is made (fallocate), so a full
// disk is found then and not later as a fault. When the spill directory
// cannot take the block, it is anonymous memory after all if it fits in the
// headroom at all, and otherwise there is no block.
//
// A shareable block (a bitmap's pixels) is the same, except that its memory
// is a memfd rather than anonymous: both it and the spill file can be mapped
// a second time, so a copy of the whole block can share its pages (MapCopy)
// until either side writes them. Its pages are faulted in and then touched
// once from the process by two threads, since where memory is virtualised a
// small page's first touch can still trap to the hypervisor.
//
// The spill directory is $MOSALIN_SPILL_DIR, or
// ${XDG_CACHE_HOME:-$HOME/.cache}/mosalin (made when first needed). A
// directory on a file system that lives in memory (tmpfs, ramfs) is never
// used: its pages would take the same memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/graphics/big_block_size.h"

namespace graphics {

// A zeroed block of `bytes` (at least 1), or null when neither memory nor the
// spill directory can hold it. An anonymous block's address plus `lead`
// (below 4096) is a multiple of 2 MiB, so a payload that starts `lead` bytes
// in can go to a file by direct I/O; a spilled block's data goes to a file
// from its spill file (FindSpilled). Either way the payload starts a page (of
// memory, and of the spill file), where MapCopy can map pages.
// `faultIn` false leaves an anonymous block's pages to be given (zeroed) as
// they are first touched: for a block that may never be written.
void* MapBigBlock(std::size_t bytes, std::size_t lead = 0, bool faultIn = true);

// A zeroed block of `bytes` whose pages a file holds, so that MapCopy can
// map them a second time: a memfd when it fits in memory as MapBigBlock's
// anonymous blocks do, else a spill file, as MapBigBlock decides. Its address
// is at a page boundary. Null as for MapBigBlock.
void* MapShareableBlock(std::size_t bytes);

// Makes the `bytes` at `target` a copy of the block `source` from
// MapShareableBlock (its first `bytes`) by mapping the source's pages there
// copy-on-write instead of copying them. Both then are private mappings of
// what the source held: a later write to either is never seen in the other,
// and the source's file no longer follows the source, so a second MapCopy
// of it is refused. False, with nothing changed, when `target` is not at a
// page boundary or the pages it would take are not all a MapBigBlock
// block's own, or `source` cannot be shared (any more): the caller copies.
bool MapCopy(const void* source, void* target, std::size_t bytes);

// Releases a block from MapBigBlock or MapShareableBlock; `bytes` as it was
// asked for.
void UnmapBigBlock(void* block, std::size_t bytes);

// When [data, data + size) lies within one spilled block: its file and the
// offset of `data` in it.
struct SpilledRange {
  int fd;
  std::uint64_t offset;
};
std::optional<SpilledRange> FindSpilled(const void* data, std::size_t size);

// Bytes of spilled blocks now and at most so far in this process.
struct SpillFigures {
  std::uint64_t now = 0, peak = 0;
};
SpillFigures Spilled();

// The bytes of anonymous memory the process may still take, the tightest of:
//  - $MOSALIN_MEMORY_LIMIT (bytes, or a number with K, M or G), less the
//    process's own anonymous resident memory and its memfd blocks;
//  - the limit of the memory cgroup the process is in (cgroup v2
//    memory.max, or v1 hierarchical_memory_limit), less what the cgroup uses
//    that the kernel cannot simply drop (its usage less its file cache,
//    shared memory not counted as cache);
//  - the system's MemAvailable.
std::uint64_t MemoryHeadroom();

// The spill directory as configured (it may not exist yet).
std::string SpillDirectory();

}  // namespace graphics
