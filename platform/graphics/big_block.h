// Large blocks straight from the kernel: fresh zero pages (nothing to clear
// by hand), placed so that a payload at a given offset is aligned for direct
// I/O and for huge pages.
//
// The pages are faulted in when the block is mapped (MAP_POPULATE): one pass
// in the kernel costs about half of faulting them in one by one on first use.
// No huge-page advice is given: measured on a virtual machine, faulting in
// fresh 2 MiB pages cost more (the host backs each one anew) than the 4 KiB
// faults it saves.
#pragma once

#include <cstddef>

namespace graphics {

// Blocks from this size on are worth a mapping of their own.
inline constexpr std::size_t kBigBlockBytes = std::size_t(1) << 20;

// A zeroed block of `bytes` (at least 1) whose address plus `lead` is a
// multiple of 2 MiB (`lead` below 4096): a caller whose payload starts `lead`
// bytes in gets its payload aligned for direct I/O. Null when the
// memory cannot be had.
void* MapBigBlock(std::size_t bytes, std::size_t lead = 0);

// Releases a block from MapBigBlock; `bytes` as it was asked for.
void UnmapBigBlock(void* block, std::size_t bytes);

}  // namespace graphics
