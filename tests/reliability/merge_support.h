// Shared pieces of the reliability tests that run whole merges: the scripted
// user's steps, the two outcome messages, and checks of single squares of the
// merged picture.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/tiles.h"

namespace reliability {

inline const std::string kDone = "message 64 图片拼合并保存完成!!";
inline const std::string kSaveFailed = "message 16 保存图片失败!";

// Choose `dir`, choose `out` (saved as out.bmp), press start.
std::vector<std::string> Merge(const std::filesystem::path& dir, const std::filesystem::path& out);

// The placeholder picture beside the executable, decoded.
const e2e::Picture& Placeholder();

// What square (row, col) of a merged picture shows.
enum class Square { Black, Placeholder, Tile, Other };
// `tile` is the picture expected there when Square::Tile is asked for.
Square Classify(const e2e::Bmp& bmp, int row, int col, const e2e::Picture* tile = nullptr);

// The directory's entries, names only, sorted.
std::vector<std::string> Listing(const std::filesystem::path& dir);

}  // namespace reliability
