// Drawing one picture file through GDI+.
#include <bit>
#include <cstring>

#include "image/link.h"
#include "mosaic/mosaic.h"

namespace mosaic {

using enum image::NativeId;
namespace {

using host::Word;

Word Real(float f) { return std::bit_cast<std::uint32_t>(f); }

}  // namespace

host::Buffer AnsiToWide(const char* text) {
  const host::Services svc = image::Svc();
  // Code page 0 is the system ANSI code page; -1: the text is zero-terminated.
  auto n = static_cast<std::int32_t>(image::Native<kMultiByteToWideChar>({0, 0, image::Addr(text), Word(-1), 0, 0}));
  auto size = static_cast<std::int32_t>(n * image::ConstDouble<image::K::D2>());
  host::Buffer buffer = svc.ZeroBytes(size);
  image::Native<kMultiByteToWideChar>({0, 0, image::Addr(text), Word(-1), image::Addr(host::BufferData(buffer)),
                   static_cast<std::uint32_t>(n)});
  return buffer;
}

std::uint32_t DrawTile(Word dc, const char* fileName, std::int32_t x, std::int32_t y, float width,
                       float height) {
  const host::Services svc = image::Svc();
  Word graphics = 0;
  Word image = 0;
  float w = 0, h = 0;

  if (image::Native<kGdipCreateFromHDC>({dc, image::Addr(&graphics)}) != 0) return 0;

  host::Buffer name = AnsiToWide(fileName);
  Word status = image::Native<kGdipLoadImageFromFile>({image::Addr(host::BufferData(name)), image::Addr(&image)});
  svc.Free(name);
  if (static_cast<std::uint32_t>(status) != 0) {
    image::Native<kGdipDeleteGraphics>({graphics});
    return 0;
  }

  if (static_cast<std::uint32_t>(image::Native<kGdipGetImageDimension>({image, image::Addr(&w), image::Addr(&h)})) != 0) {
    image::Native<kGdipDisposeImage>({image});
    image::Native<kGdipDeleteGraphics>({graphics});
    return 0;
  }

  const double epsilon = image::ConstDouble<image::K::DEpsilon>();
  if (static_cast<double>(width) > epsilon) w = width;
  if (static_cast<double>(height) > epsilon) h = height;

  if (static_cast<std::uint32_t>(image::Native<kGdipDrawImageRect>({graphics, image, Real(static_cast<float>(x)),
                                                  Real(static_cast<float>(y)), Real(w), Real(h)})) != 0) {
    image::Native<kGdipDisposeImage>({image});
    image::Native<kGdipDeleteGraphics>({graphics});
    return 0;
  }

  image::Native<kGdipDisposeImage>({image});
  image::Native<kGdipDeleteGraphics>({graphics});
  return 1;
}

}  // namespace mosaic
