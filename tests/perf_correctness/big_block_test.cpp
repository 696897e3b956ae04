#include "platform/graphics/big_block.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "runtime/memory.h"
#include "runtime/write_file.h"
#include "tests/graphics/pictures.h"

namespace {

constexpr std::uintptr_t k2MiB = std::uintptr_t(2) << 20;

TEST(BigBlock, IsZeroedWritableAndAlignedAfterItsLead) {
  for (std::size_t lead : {std::size_t(0), std::size_t(8), std::size_t(100)}) {
    const std::size_t bytes = (std::size_t(3) << 20) + 5;
    auto* p = static_cast<std::uint8_t*>(graphics::MapBigBlock(bytes, lead));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ((reinterpret_cast<std::uintptr_t>(p) + lead) % k2MiB, 0u);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[bytes - 1], 0);
    std::memset(p, 0xAB, bytes);  // every byte is ours
    graphics::UnmapBigBlock(p, bytes);
  }
  EXPECT_EQ(graphics::MapBigBlock(0), nullptr);
  EXPECT_EQ(graphics::MapBigBlock(16, 4096), nullptr);
}

TEST(BlockHeap, LargeBlocksAreTrackedFreedAndZeroedLikeSmallOnes) {
  velmo::BlockHeap heap;
  const std::uint32_t big = 5u << 20;
  auto* zeroed = static_cast<std::uint8_t*>(heap.AllocateZeroed(big));
  auto* plain = static_cast<std::uint8_t*>(heap.Allocate(big));
  auto* small = heap.Allocate(10);
  EXPECT_EQ((reinterpret_cast<std::uintptr_t>(zeroed) + velmo::BlockHeap::kPayloadOffset) % k2MiB, 0u);
  EXPECT_EQ(zeroed[big - 1], 0);
  std::memset(plain, 1, big);
  EXPECT_EQ(heap.LiveBlocks(), 3u);
  EXPECT_EQ(heap.Free(plain), velmo::BlockHeap::FreeResult::Freed);
  EXPECT_EQ(heap.Free(plain), velmo::BlockHeap::FreeResult::Unknown);
  EXPECT_EQ(heap.Free(zeroed + 8), velmo::BlockHeap::FreeResult::Unknown);
  heap.ReleaseAll();  // the mapped block and the small one
  EXPECT_EQ(heap.LiveBlocks(), 0u);
  (void)small;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(WriteFileAtomically, LargeAlignedAndUnalignedBuffersArriveByteForByte) {
  graphics_test::TempDir dir;
  velmo::BlockHeap heap;
  // A byte buffer's data as the host hands it over: aligned, with an odd tail.
  const std::uint32_t size = (9u << 20) + 54;
  auto* block = static_cast<std::uint8_t*>(heap.Allocate(size + 8));
  std::uint8_t* data = block + velmo::BlockHeap::kPayloadOffset;
  for (std::uint32_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
  const std::string target = dir.path + "/out.bmp";
  ASSERT_TRUE(velmo::WriteFileAtomically(target, data, size));
  std::vector<std::uint8_t> got = ReadAll(target);
  ASSERT_EQ(got.size(), size);
  EXPECT_EQ(std::memcmp(got.data(), data, size), 0);
  // The same bytes from an unaligned start replace the file just as well.
  ASSERT_TRUE(velmo::WriteFileAtomically(target, data + 1, size - 1));
  got = ReadAll(target);
  ASSERT_EQ(got.size(), size - 1);
  EXPECT_EQ(std::memcmp(got.data(), data + 1, size - 1), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);
  heap.ReleaseAll();
}

}  // namespace
