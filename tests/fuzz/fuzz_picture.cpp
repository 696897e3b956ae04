// Fuzz target: picture loading and drawing, as GdipLoadImageFromFile and
// GdipDrawImageRect do it: the decoder chosen by content (PNG, JPEG, GIF,
// BMP, TIFF, icons and cursors; a metafile is parsed and played), then drawing at the picture's own size, at a scaled and a mirrored
// size onto a small 32-bit bitmap, and onto a 1-bit bitmap.
//
// A decoder that says Ok must hand over a complete picture within the
// limits; drawing must stay inside the destination (the sanitizers watch
// the memory) and leave the fourth byte of every pixel 0.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "platform/graphics/draw.h"
#include "platform/graphics/metafile.h"
#include "platform/graphics/picture.h"
#include "platform/graphics/surface.h"

namespace {

constexpr int kSide = 48;

graphics::Surface Colour(std::vector<std::uint8_t>& bits) {
  bits.assign(std::size_t(kSide) * kSide * 4, 0);
  for (std::size_t i = 0; i < bits.size(); ++i)
    if (i % 4 != 3) bits[i] = std::uint8_t(i * 7);
  return {bits.data(), kSide, kSide, 32, std::size_t(kSide) * 4};
}

graphics::Surface Mono(std::vector<std::uint8_t>& bits) {
  const std::size_t stride = ((kSide + 31) / 32) * 4;
  bits.assign(stride * kSide, 0x5A);
  return {bits.data(), kSide, kSide, 1, static_cast<std::ptrdiff_t>(stride)};
}

}  // namespace

// A metafile: parsed, then played at its frame's place, mirrored and onto
// the 1-bit bitmap, with a smaller work budget than the player's own (the
// instrumented build is many times slower) so that every input runs quickly.
int PlayMetafile(const std::uint8_t* data, std::size_t size) {
  auto copy = std::make_unique<std::uint8_t[]>(size);
  std::memcpy(copy.get(), data, size);
  graphics::metafile::Metafile m;
  if (graphics::metafile::Parse(std::move(copy), size, m) != Gdiplus::Ok) return 0;
  constexpr std::uint64_t kBudget = std::uint64_t(1) << 22;
  std::vector<std::uint8_t> bits;
  const graphics::Surface colour = Colour(bits);
  if (graphics::metafile::Play(m, colour, 2, -3, 40, 30, kBudget) != Gdiplus::Ok) std::abort();
  if (graphics::metafile::Play(m, colour, 45, 44, -37.5, -20, kBudget) != Gdiplus::Ok) std::abort();
  for (std::size_t i = 3; i < bits.size(); i += 4)
    if (bits[i] != 0) std::abort();
  std::vector<std::uint8_t> monoBits;
  if (graphics::metafile::Play(m, Mono(monoBits), 0, 0, 48, 48, kBudget) != Gdiplus::Ok) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (graphics::metafile::IsMetafile(std::span<const std::uint8_t>(data, size))) return PlayMetafile(data, size);
  graphics::Picture picture;
  if (graphics::DecodePicture(std::span<const std::uint8_t>(data, size), picture) != Gdiplus::Ok)
    return 0;
  if (picture.width < 1 || picture.height < 1 || !picture.bgrx ||
      std::uint64_t(picture.width) * std::uint64_t(picture.height) > graphics::kMaxPixels)
    std::abort();
  if (picture.alpha && picture.rows.size() != std::size_t(picture.height)) std::abort();

  const double w = picture.width, h = picture.height;
  std::vector<std::uint8_t> bits;
  graphics::Surface colour = Colour(bits);
  const struct { double x, y, w, h; } placements[] = {
      {3, -2, w, h},                       // own size: copied pixel for pixel
      {-1.5, 2.25, 37.5, 20},              // scaled, filtered
      {40, 30, -w * 0.75 - 1, -h / 3 - 1}  // mirrored both ways
  };
  for (const auto& p : placements) {
    if (graphics::DrawPicture(picture, colour, p.x, p.y, p.w, p.h) != Gdiplus::Ok) std::abort();
  }
  for (std::size_t i = 3; i < bits.size(); i += 4)
    if (bits[i] != 0) std::abort();

  std::vector<std::uint8_t> monoBits;
  graphics::Surface mono = Mono(monoBits);
  if (graphics::DrawPicture(picture, mono, 0, 0, w, h) != Gdiplus::Ok) std::abort();
  if (graphics::DrawPicture(picture, mono, 5, 5, 20, 11) != Gdiplus::Ok) std::abort();
  return 0;
}
