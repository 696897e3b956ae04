// Drawing one picture file through GDI+.
#include <bit>
#include <cstring>

#include "app/link.h"
#include "mosaic/mosaic.h"

namespace mosaic {

using enum image::NativeId;
namespace {

using host::Word;

Word Real(float f) { return std::bit_cast<std::uint32_t>(f); }

}  // namespace

host::Buffer AnsiToWide(const char* text) {
  const host::Services svc = app::Svc();
  // Code page 0 is the system ANSI code page; -1: the text is zero-terminated.
  auto n = static_cast<std::int32_t>(app::Native<kMultiByteToWideChar>({0, 0, app::Addr(text), Word(-1), 0, 0}));
  auto size = static_cast<std::int32_t>(n * app::ConstDouble<image::K::D2>());
  host::Buffer buffer = svc.ZeroBytes(size);
  app::Native<kMultiByteToWideChar>({0, 0, app::Addr(text), Word(-1), app::Addr(host::BufferData(buffer)),
                   static_cast<std::uint32_t>(n)});
  return buffer;
}

std::uint32_t DrawTile(Word dc, const char* fileName, std::int32_t x, std::int32_t y, float width,
                       float height) {
  const host::Services svc = app::Svc();
  Word graphics = 0;
  Word image = 0;
  float w = 0, h = 0;

  if (app::Native<kGdipCreateFromHDC>({dc, app::Addr(&graphics)}) != 0) return 0;

  host::Buffer name = AnsiToWide(fileName);
  Word status = app::Native<kGdipLoadImageFromFile>({app::Addr(host::BufferData(name)), app::Addr(&image)});
  svc.Free(name);
  if (static_cast<std::uint32_t>(status) != 0) {
    app::Native<kGdipDeleteGraphics>({graphics});
    return 0;
  }

  if (static_cast<std::uint32_t>(app::Native<kGdipGetImageDimension>({image, app::Addr(&w), app::Addr(&h)})) != 0) {
    app::Native<kGdipDisposeImage>({image});
    app::Native<kGdipDeleteGraphics>({graphics});
    return 0;
  }

  const double epsilon = app::ConstDouble<image::K::DEpsilon>();
  if (static_cast<double>(width) > epsilon) w = width;
  if (static_cast<double>(height) > epsilon) h = height;

  if (static_cast<std::uint32_t>(app::Native<kGdipDrawImageRect>({graphics, image, Real(static_cast<float>(x)),
                                                  Real(static_cast<float>(y)), Real(w), Real(h)})) != 0) {
    app::Native<kGdipDisposeImage>({image});
    app::Native<kGdipDeleteGraphics>({graphics});
    return 0;
  }

  app::Native<kGdipDisposeImage>({image});
  app::Native<kGdipDeleteGraphics>({graphics});
  return 1;
}

}  // namespace mosaic
