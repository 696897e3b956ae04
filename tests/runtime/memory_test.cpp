#include "runtime/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace velmo {
namespace {

constexpr std::uintptr_t k2MiB = std::uintptr_t(2) << 20;

TEST(BlockHeap, LargeBlocksAreTrackedFreedAndZeroedLikeSmallOnes) {
  BlockHeap heap;
  const std::uint32_t big = 5u << 20;
  auto* zeroed = static_cast<std::uint8_t*>(heap.AllocateZeroed(big));
  auto* plain = static_cast<std::uint8_t*>(heap.Allocate(big));
  auto* small = heap.Allocate(10);
  EXPECT_EQ((reinterpret_cast<std::uintptr_t>(zeroed) + BlockHeap::kPayloadOffset) % k2MiB, 0u);
  EXPECT_EQ(zeroed[big - 1], 0);
  std::memset(plain, 1, big);
  EXPECT_EQ(heap.LiveBlocks(), 3u);
  EXPECT_EQ(heap.Free(plain), BlockHeap::FreeResult::kFreed);
  EXPECT_EQ(heap.Free(plain), BlockHeap::FreeResult::kUnknown);
  EXPECT_EQ(heap.Free(zeroed + 8), BlockHeap::FreeResult::kUnknown);
  heap.ReleaseAll();  // the mapped block and the small one
  EXPECT_EQ(heap.LiveBlocks(), 0u);
  (void)small;
}

}  // namespace
}  // namespace velmo
