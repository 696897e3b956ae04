#include "platform/graphics/big_block.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "runtime/write_file.h"
#include "tests/platform/graphics/pictures.h"

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

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(SpilledBlock, ABlockBeyondTheMemoryLimitLivesInAFileWithoutAName) {
  graphics_test::TempDir dir;
  const std::string spill = dir.path + "/spill";
  graphics_test::BlockEnvironment env("4M", spill);
  EXPECT_LE(graphics::MemoryHeadroom(), std::uint64_t(4) << 20);

  const std::size_t bytes = (std::size_t(16) << 20) + 3;
  auto* p = static_cast<std::uint8_t*>(graphics::MapBigBlock(bytes, 8));
  ASSERT_NE(p, nullptr);
  const std::optional<graphics::SpilledRange> range = graphics::FindSpilled(p + 100, 1000);
  ASSERT_TRUE(range);
  EXPECT_EQ((range->offset - 100 + 8) % 4096, 0u) << "the payload, 8 bytes in, starts a page of the file";
  EXPECT_FALSE(graphics::FindSpilled(p + bytes - 10, 11)) << "a range past the block's end";
  EXPECT_EQ(graphics::Spilled().now, bytes);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[bytes - 1], 0);
  for (std::size_t i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
  // The spill directory holds no name, though the file holds the block.
  ASSERT_TRUE(std::filesystem::is_directory(spill));
  EXPECT_TRUE(std::filesystem::is_empty(spill));

  // Written out from its file inside the kernel: the same bytes.
  const std::string target = dir.path + "/out.bmp";
  ASSERT_TRUE(velmo::WriteFileAtomically(target, p, bytes));
  const std::vector<std::uint8_t> got = ReadAll(target);
  ASSERT_EQ(got.size(), bytes);
  EXPECT_EQ(std::memcmp(got.data(), p, bytes), 0);

  graphics::UnmapBigBlock(p, bytes);
  EXPECT_EQ(graphics::Spilled().now, 0u);
  EXPECT_GE(graphics::Spilled().peak, bytes);
}

TEST(SpilledBlock, BlocksThatFitStayInMemoryAndNoRoomAnywhereGivesNone) {
  graphics_test::TempDir dir;
  {
    graphics_test::BlockEnvironment env("1G", dir.path + "/spill");
    const std::size_t bytes = std::size_t(32) << 20;
    auto* p = graphics::MapBigBlock(bytes, 8);
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(graphics::FindSpilled(p, bytes)) << "a block that fits is not spilled";
    EXPECT_EQ((reinterpret_cast<std::uintptr_t>(p) + 8) % k2MiB, 0u);
    graphics::UnmapBigBlock(p, bytes);
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/spill")) << "no spill directory is made for it";
  }
  {
    // Too large for the limit and no directory to spill to.
    std::ofstream(dir.path + "/file") << "x";
    graphics_test::BlockEnvironment env("8M", dir.path + "/file/spill");
    EXPECT_EQ(graphics::MapBigBlock(std::size_t(16) << 20), nullptr);
  }
}

}  // namespace
