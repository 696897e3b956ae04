// GIF through giflib: the first frame only, on a canvas of the logical screen's
// size. Canvas pixels outside the frame are transparent, as are pixels of the
// frame's transparent colour (from a graphic control extension before it);
// an index beyond the colour map is opaque black. Interlaced frames are
// de-interlaced. A file without a colour map, with an empty logical screen,
// or whose data ends before the frame's last line fails the decode.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/graphics/picture.h"

namespace graphics {
namespace {

struct Reader {
  std::span<const std::uint8_t> data;
  std::size_t pos = 0;
};

int ReadBytes(GifFileType* gif, GifByteType* out, int n) {
  auto* r = static_cast<Reader*>(gif->UserData);
  const std::size_t take = std::min<std::size_t>(std::size_t(std::max(n, 0)), r->data.size() - r->pos);
  std::memcpy(out, r->data.data() + r->pos, take);
  r->pos += take;
  return static_cast<int>(take);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

// Skips an extension's data blocks; records a graphic control block's
// transparent colour.
bool ReadExtension(GifFileType* gif, int* transparent) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
  if (code == GRAPHICS_EXT_FUNC_CODE && block) {
    GraphicsControlBlock gcb{};
    if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) *transparent = gcb.TransparentColor;
  }
  while (block) {
    if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
  }
  return true;
}

const char* GifText(int error) {
  const char* text = GifErrorString(error);
  return text ? text : "an unknown error";
}

// A failure that giflib reports while reading `what`.
GpStatus LibraryFailure(const GifFileType* gif, const char* what) {
  return Failed(Gdiplus::GenericError, std::string("GIF: ") + what + ": " + GifText(gif->Error));
}

GpStatus ReadFrame(GifFileType* gif, int transparent, Picture& p) {
  if (DGifGetImageDesc(gif) != GIF_OK) return LibraryFailure(gif, "the frame's descriptor");
  const GifImageDesc& d = gif->Image;
  const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
  if (!map || !map->Colors || d.Width < 0 || d.Height < 0)
    return Failed(Gdiplus::GenericError, "GIF: a frame without colours or with a negative size");
  if (std::uint64_t(d.Width) * std::uint64_t(d.Height) > kMaxPixels)
    return Failed(Gdiplus::OutOfMemory, "GIF: a frame of more pixels than a picture may have");

  // Palette as blue, green, red, 0 plus alpha, 256 entries so that no index
  // reads past it.
  std::uint8_t colours[256][4] = {};
  std::uint8_t alphas[256];
  std::fill(std::begin(alphas), std::end(alphas), 255);
  for (int i = 0; i < std::min(map->ColorCount, 256); ++i) {
    colours[i][0] = map->Colors[i].Blue;
    colours[i][1] = map->Colors[i].Green;
    colours[i][2] = map->Colors[i].Red;
  }
  if (transparent >= 0 && transparent < 256) alphas[transparent] = 0;

  std::vector<GifPixelType> line(std::size_t(std::max(d.Width, 1)));
  static constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  const int passes = d.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int first = d.Interlace ? kStart[pass] : 0, step = d.Interlace ? kStep[pass] : 1;
    for (int fy = first; fy < d.Height; fy += step) {
      if (DGifGetLine(gif, line.data(), d.Width) != GIF_OK) return LibraryFailure(gif, "a line of the frame");
      const std::int64_t y = std::int64_t(d.Top) + fy;
      if (y >= p.height) continue;
      const std::int64_t x0 = d.Left, x1 = std::min<std::int64_t>(p.width, x0 + d.Width);
      std::uint8_t* row = p.bgrx.get() + std::size_t(y) * p.width * 4;
      std::uint8_t* alpha = p.alpha.get() + std::size_t(y) * p.width;
      for (std::int64_t x = x0; x < x1; ++x) {
        const GifPixelType index = line[std::size_t(x - x0)];
        std::memcpy(row + x * 4, colours[index], 4);
        alpha[x] = alphas[index];
      }
    }
  }
  return Gdiplus::Ok;
}

}  // namespace

GpStatus DecodeGif(std::span<const std::uint8_t> file, Picture& out) {
  Reader reader{file};
  int error = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&reader, ReadBytes, &error));
  if (!gif)
    return Failed(error == D_GIF_ERR_NOT_ENOUGH_MEM ? Gdiplus::OutOfMemory : Gdiplus::GenericError,
                  std::string("GIF: the header: ") + GifText(error));
  if (gif->SWidth <= 0 || gif->SHeight <= 0)
    return Failed(Gdiplus::GenericError, "GIF: a screen without pixels");
  if (GpStatus s = AllocatePicture(out, gif->SWidth, gif->SHeight, true); s != Gdiplus::Ok) return s;
  std::memset(out.bgrx.get(), 0, std::size_t(out.width) * out.height * 4);
  std::memset(out.alpha.get(), 0, std::size_t(out.width) * out.height);

  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &type) != GIF_OK) return LibraryFailure(gif.get(), "a record's type");
    if (type == EXTENSION_RECORD_TYPE) {
      if (!ReadExtension(gif.get(), &transparent)) return LibraryFailure(gif.get(), "an extension");
    } else if (type == IMAGE_DESC_RECORD_TYPE) {
      if (GpStatus s = ReadFrame(gif.get(), transparent, out); s != Gdiplus::Ok) return s;
      FinishAlpha(out);
      return Gdiplus::Ok;
    } else {
      return Failed(Gdiplus::GenericError, "GIF: the trailer before any frame");
    }
  }
}

}  // namespace graphics
