// PNG through libspng: every colour type and bit depth, palettes, tRNS
// transparency and interlacing, decoded to 8 bits per channel (16-bit samples
// keep their high byte). Gamma and colour-profile chunks are not applied: the
// samples are used as stored.
//
// Safety: the header's size is checked against the picture limits before the
// pixel buffer is allocated, and the decoder writes into that buffer only, so
// image data that inflates beyond the header's size cannot grow it. The
// decoder stops at the last row and never inflates what follows; the stream is
// then inflated once more, only up to one byte past what the header needs,
// and refused when it goes on (a decompression bomb, or data that is not the
// picture the header describes) or when its Adler-32 is wrong. Ancillary
// chunks are bounded (4 MiB each, 16 MiB together); corrupt critical chunks
// (bad CRC included) fail the decode.
#include <libdeflate.h>
#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/graphics/picture.h"

namespace graphics {
namespace {

constexpr std::size_t kChunkLimit = std::size_t(4) << 20;
constexpr std::size_t kChunkCacheLimit = std::size_t(16) << 20;

struct CtxFree {
  void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};

// Bytes of filtered rows the header's picture needs (all seven passes when
// interlaced).
std::uint64_t RowBytes(const spng_ihdr& h) {
  static constexpr int kChannels[] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
  const std::uint64_t bitsPerPixel =
      std::uint64_t(h.color_type < 7 ? kChannels[h.color_type] : 4) * h.bit_depth;
  auto pass = [&](std::uint64_t w, std::uint64_t rows) {
    return w && rows ? rows * (1 + (w * bitsPerPixel + 7) / 8) : 0;
  };
  if (!h.interlace_method) return pass(h.width, h.height);
  static constexpr int kPass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  std::uint64_t total = 0;
  for (const auto& p : kPass) {
    std::uint64_t w = h.width > std::uint32_t(p[0]) ? (h.width - p[0] + p[2] - 1) / p[2] : 0;
    std::uint64_t rows = h.height > std::uint32_t(p[1]) ? (h.height - p[1] + p[3] - 1) / p[3] : 0;
    total += pass(w, rows);
  }
  return total;
}

// Pictures whose filtered rows take at most this are checked with
// libdeflate, inflated whole into a buffer of their size (tiles: a few
// hundred KiB, and two to three times as fast as zlib); larger ones are
// streamed through zlib into a small scratch buffer.
constexpr std::uint64_t kWholeCheckLimit = std::uint64_t(4) << 20;

std::uint32_t Be32(const std::uint8_t* p) { return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// The zlib stream of the image data: every IDAT chunk's data, in order.
std::vector<std::uint8_t> ImageDataStream(std::span<const std::uint8_t> file) {
  std::vector<std::uint8_t> stream;
  for (std::size_t at = 8; at + 12 <= file.size();) {
    const std::uint64_t len = Be32(&file[at]);
    if (at + 12 + len > file.size()) break;
    if (std::memcmp(&file[at + 4], "IDAT", 4) == 0) stream.insert(stream.end(), &file[at + 8], &file[at + 8 + len]);
    at += 12 + len;
  }
  return stream;
}

struct DecompressorFree {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// See ImageDataIsSound; the whole stream at once.
bool WholeStreamIsSound(const std::vector<std::uint8_t>& stream, std::uint64_t needed) {
  thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> d(libdeflate_alloc_decompressor());
  thread_local std::vector<std::uint8_t> out;
  if (!d || stream.size() < 2) return false;
  out.resize(std::size_t(needed));
  std::size_t in = 0, produced = 0;
  const libdeflate_result rc = libdeflate_deflate_decompress_ex(d.get(), stream.data() + 2, stream.size() - 2,
                                                                out.data(), out.size(), &in, &produced);
  if (rc == LIBDEFLATE_INSUFFICIENT_SPACE) return false;
  // A stream that ends with its Adler-32 must carry the right one.
  const std::size_t trailer = 2 + in;
  if (rc == LIBDEFLATE_SUCCESS && trailer + 4 <= stream.size())
    return Be32(&stream[trailer]) == libdeflate_adler32(1, out.data(), produced);
  return true;
}

// See ImageDataIsSound; streamed through zlib, which checks the Adler-32
// where the stream reaches it.
bool StreamIsSound(const std::vector<std::uint8_t>& stream, std::uint64_t needed) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  std::uint8_t scratch[16384];
  std::uint64_t produced = 0;
  bool sound = true;
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  while (z.avail_in) {
    z.next_out = scratch;
    z.avail_out = sizeof scratch;
    const int rc = inflate(&z, Z_NO_FLUSH);
    produced += sizeof scratch - z.avail_out;
    if (produced > needed) sound = false;
    // A wrong Adler-32 once all the data is there; other damage past the
    // picture's rows is not looked at.
    if (rc == Z_DATA_ERROR && z.msg && std::strcmp(z.msg, "incorrect data check") == 0) sound = false;
    if (rc != Z_OK || !sound) break;
  }
  inflateEnd(&z);
  return sound;
}

// Whether the image data is the picture the header describes: the stream
// inflates to no more than the `needed` bytes of filtered rows (more is a
// decompression bomb, or not this picture), and where it ends with its
// Adler-32, that checksum is right. The decode itself stops at the last row
// and never inflates what follows, and checks no checksum: this inflates the
// stream once more, up to one byte past what is needed.
bool ImageDataIsSound(std::span<const std::uint8_t> file, std::uint64_t needed) {
  const std::vector<std::uint8_t> stream = ImageDataStream(file);
  return needed <= kWholeCheckLimit ? WholeStreamIsSound(stream, needed) : StreamIsSound(stream, needed);
}

}  // namespace

GpStatus DecodePng(std::span<const std::uint8_t> file, Picture& out) {
  // The stream's checksum is checked once, by ImageDataIsSound.
  std::unique_ptr<spng_ctx, CtxFree> ctx(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
  if (!ctx) return Failed(Gdiplus::OutOfMemory, "PNG: no memory for the decoder");
  spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkCacheLimit);
  spng_set_image_limits(ctx.get(), std::uint32_t(kMaxPixels), std::uint32_t(kMaxPixels));
  if (int rc = spng_set_png_buffer(ctx.get(), file.data(), file.size()); rc != 0)
    return Failed(Gdiplus::GenericError, std::string("PNG: ") + spng_strerror(rc));

  spng_ihdr ihdr{};
  if (int rc = spng_get_ihdr(ctx.get(), &ihdr); rc != 0) {
    if (rc == SPNG_IO_EOF) NoteTruncated();
    const bool tooLarge = rc == SPNG_EUSER_WIDTH || rc == SPNG_EUSER_HEIGHT;
    return Failed(tooLarge ? Gdiplus::OutOfMemory : Gdiplus::GenericError,
                  std::string("PNG: the header: ") + spng_strerror(rc));
  }
  spng_trns trns{};
  const bool withAlpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                         ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
                         spng_get_trns(ctx.get(), &trns) == 0;
  if (GpStatus s = AllocatePicture(out, ihdr.width, ihdr.height, withAlpha); s != Gdiplus::Ok)
    return s;

  std::size_t size = 0;
  if (spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size) != 0 ||
      size != std::size_t(out.width) * out.height * 4)
    return Failed(Gdiplus::GenericError, "PNG: the decoded size differs from the header's");
  std::uint8_t* px = out.bgrx.get();
  if (int rc = spng_decode_image(ctx.get(), px, size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS); rc != 0) {
    if (rc == SPNG_IO_EOF) NoteTruncated();
    return Failed(Gdiplus::GenericError, std::string("PNG: the image data: ") + spng_strerror(rc));
  }
  if (!ImageDataIsSound(file, RowBytes(ihdr)))
    return Failed(Gdiplus::GenericError, "PNG: image data beyond the rows, or a wrong checksum");

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
