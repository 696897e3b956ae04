// Drawing one picture file through GDI+.
#include <cstring>

#include "image/link.h"
#include "mosaic/mosaic.h"

namespace mosaic {

using host::Word;
using image::native;
using image::pool;

host::Buffer AnsiToWide(const char* text) {
  const host::Services svc = image::Svc();
  // Code page 0 is the system ANSI code page; -1: the text is zero-terminated.
  const std::int32_t n = native.MultiByteToWideChar(0, 0, text, -1, nullptr, 0);
  auto size = static_cast<std::int32_t>(n * pool.wideCharBytes);
  host::Buffer buffer = svc.ZeroBytes(size);
  native.MultiByteToWideChar(0, 0, text, -1, host::BufferData(buffer), static_cast<std::uint32_t>(n));
  return buffer;
}

std::uint32_t DrawTile(Word dc, const char* fileName, std::int32_t x, std::int32_t y, float width,
                       float height) {
  const host::Services svc = image::Svc();
  Word graphics = 0;
  Word picture = 0;
  float w = 0, h = 0;

  if (native.GdipCreateFromHDC(dc, &graphics) != 0) return 0;

  host::Buffer name = AnsiToWide(fileName);
  const std::uint32_t status = native.GdipLoadImageFromFile(host::BufferData(name), &picture);
  svc.Free(name);
  if (status != 0) {
    native.GdipDeleteGraphics(graphics);
    return 0;
  }

  if (native.GdipGetImageDimension(picture, &w, &h) != 0) {
    native.GdipDisposeImage(picture);
    native.GdipDeleteGraphics(graphics);
    return 0;
  }

  const double epsilon = pool.sizeEpsilon;
  if (static_cast<double>(width) > epsilon) w = width;
  if (static_cast<double>(height) > epsilon) h = height;

  if (native.GdipDrawImageRect(graphics, picture, static_cast<float>(x), static_cast<float>(y), w, h) != 0) {
    native.GdipDisposeImage(picture);
    native.GdipDeleteGraphics(graphics);
    return 0;
  }

  native.GdipDisposeImage(picture);
  native.GdipDeleteGraphics(graphics);
  return 1;
}

}  // namespace mosaic
