#include "tests/reliability/merge_support.h"

#include <spng.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "tests/support/run_program.h"

namespace fs = std::filesystem;

namespace reliability {

std::vector<std::string> Merge(const fs::path& dir, const fs::path& out) {
  return {"folder " + dir.string(), "click 按钮_指定目录", "save " + out.string(), "click 按钮_保存路径",
          "click 按钮_开始拼合"};
}

const e2e::Picture& Placeholder() {
  static const e2e::Picture picture = [] {
    std::ifstream in(e2e::BinDir() / "Nodata.dll", std::ios::binary);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), {});
    e2e::Picture p;
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, data.data(), data.size());
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx, &ihdr) == 0) {
      p = e2e::Picture(int(ihdr.width), int(ihdr.height));
      if (spng_decode_image(ctx, p.px.data(), p.px.size() * 4, SPNG_FMT_RGBA8, 0) != 0) p = e2e::Picture();
    }
    spng_ctx_free(ctx);
    return p;
  }();
  return picture;
}

namespace {

// Whether the square shows `p` drawn over black at its top left corner.
bool Shows(const e2e::Bmp& bmp, int row, int col, const e2e::Picture& p) {
  if (p.width == 0) return false;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      const e2e::Rgba want = x < p.width && y < p.height ? e2e::Over({0, 0, 0, 255}, p.at(x, y))
                                                         : e2e::Rgba{0, 0, 0, 255};
      const auto got = bmp.At(col * 256 + x, row * 256 + y);
      if (got[0] != want.b || got[1] != want.g || got[2] != want.r || got[3] != 0) return false;
    }
  return true;
}

}  // namespace

Square Classify(const e2e::Bmp& bmp, int row, int col, const e2e::Picture* tile) {
  if (tile && Shows(bmp, row, col, *tile)) return Square::Tile;
  if (Shows(bmp, row, col, e2e::Picture(256, 256))) return Square::Black;
  if (Shows(bmp, row, col, Placeholder())) return Square::Placeholder;
  return Square::Other;
}

std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace reliability
