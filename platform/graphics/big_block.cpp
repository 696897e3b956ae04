#include "platform/graphics/big_block.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace graphics {
namespace {

constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;

std::uintptr_t PageSize() {
  static const std::uintptr_t size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace

void* MapBigBlock(std::size_t bytes, std::size_t lead) {
  const std::uintptr_t page = PageSize();
  if (bytes == 0 || lead >= page || bytes > SIZE_MAX - 2 * kHuge) return nullptr;
  // Room to slide the block to the wanted alignment; the slack is unmapped.
  const std::size_t length = bytes + kHuge;
  void* raw = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto base = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t block = (base + lead + kHuge - 1) / kHuge * kHuge - lead;
  const std::uintptr_t first = block / page * page;
  const std::uintptr_t end = (block + bytes + page - 1) / page * page;
  if (first > base) munmap(raw, first - base);
  if (base + length > end) munmap(reinterpret_cast<void*>(end), base + length - end);
  return reinterpret_cast<void*>(block);
}

void UnmapBigBlock(void* block, std::size_t bytes) {
  if (!block) return;
  const std::uintptr_t page = PageSize();
  const auto at = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = at / page * page;
  const std::uintptr_t end = (at + bytes + page - 1) / page * page;
  munmap(reinterpret_cast<void*>(first), end - first);
}

}  // namespace graphics
