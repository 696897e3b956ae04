// PNG through libspng: every colour type and bit depth, palettes, tRNS
// transparency and interlacing, decoded to 8 bits per channel (16-bit samples
// keep their high byte). Gamma and colour-profile chunks are not applied: the
// samples are used as stored.
//
// Safety: the header's size is checked against the picture limits before the
// pixel buffer is allocated, and the decoder writes into that buffer only, so
// image data that inflates beyond the header's size cannot grow it. Ancillary
// chunks are bounded (4 MiB each, 16 MiB together); corrupt critical chunks
// (bad CRC included) fail the decode.
#include <spng.h>

#include <cstring>
#include <memory>

#include "platform/graphics/picture.h"

namespace graphics {
namespace {

constexpr std::size_t kChunkLimit = std::size_t(4) << 20;
constexpr std::size_t kChunkCacheLimit = std::size_t(16) << 20;

struct CtxFree {
  void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};

}  // namespace

GpStatus DecodePng(std::span<const std::uint8_t> file, Picture& out) {
  std::unique_ptr<spng_ctx, CtxFree> ctx(spng_ctx_new(0));
  if (!ctx) return Gdiplus::OutOfMemory;
  spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkCacheLimit);
  spng_set_image_limits(ctx.get(), std::uint32_t(kMaxPixels), std::uint32_t(kMaxPixels));
  if (spng_set_png_buffer(ctx.get(), file.data(), file.size()) != 0) return Gdiplus::GenericError;

  spng_ihdr ihdr{};
  if (int rc = spng_get_ihdr(ctx.get(), &ihdr); rc != 0)
    return rc == SPNG_EUSER_WIDTH || rc == SPNG_EUSER_HEIGHT ? Gdiplus::OutOfMemory
                                                             : Gdiplus::GenericError;
  spng_trns trns{};
  const bool withAlpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                         ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
                         spng_get_trns(ctx.get(), &trns) == 0;
  if (GpStatus s = AllocatePicture(out, ihdr.width, ihdr.height, withAlpha); s != Gdiplus::Ok)
    return s;

  std::size_t size = 0;
  if (spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size) != 0 ||
      size != std::size_t(out.width) * out.height * 4)
    return Gdiplus::GenericError;
  std::uint8_t* px = out.bgrx.get();
  if (spng_decode_image(ctx.get(), px, size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0)
    return Gdiplus::GenericError;

  // RGBA -> blue, green, red, 0 in place; alpha to its own plane.
  const std::size_t pixels = size / 4;
  if (std::uint8_t* a = out.alpha.get()) {
    for (std::size_t i = 0; i < pixels; ++i, px += 4) {
      const std::uint8_t r = px[0];
      px[0] = px[2];
      px[2] = r;
      a[i] = px[3];
      px[3] = 0;
    }
  } else {
    // Opaque: one branch-free pass over whole pixels, which the compiler
    // vectorises.
    for (std::size_t i = 0; i < pixels; ++i, px += 4) {
      std::uint32_t v;
      std::memcpy(&v, px, 4);
      v = (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF);
      std::memcpy(px, &v, 4);
    }
  }
  FinishAlpha(out);
  return Gdiplus::Ok;
}

}  // namespace graphics
