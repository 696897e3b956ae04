// The export tables of "gdi32.dll" (a system library: the image names it with
// an empty library name) and "gdiplus.dll", for binding native calls by name.
#include "platform/exports.h"
#include "platform/graphics/exports_graphics.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/gdiplus.h"

namespace platform {
namespace {

constexpr Export kGdi32Exports[] = {
    PLATFORM_EXPORT(GetDC),
    PLATFORM_EXPORT(ReleaseDC),
    PLATFORM_EXPORT(CreateCompatibleDC),
    PLATFORM_EXPORT(DeleteDC),
    PLATFORM_EXPORT(CreateCompatibleBitmap),
    PLATFORM_EXPORT(SelectObject),
    PLATFORM_EXPORT(DeleteObject),
    PLATFORM_EXPORT(GetObjectA),
    PLATFORM_EXPORT(GetDIBits),
};

constexpr Export kGdiplusExports[] = {
    PLATFORM_EXPORT(GdiplusStartup),
    PLATFORM_EXPORT(GdiplusShutdown),
    PLATFORM_EXPORT(GdipCreateFromHDC),
    PLATFORM_EXPORT(GdipDeleteGraphics),
    PLATFORM_EXPORT(GdipLoadImageFromFile),
    PLATFORM_EXPORT(GdipGetImageDimension),
    PLATFORM_EXPORT(GdipDrawImageRect),
    PLATFORM_EXPORT(GdipDisposeImage),
};

}  // namespace

const Library kGdi32Library{"gdi32.dll", true, kGdi32Exports};
const Library kGdiplusLibrary{"gdiplus.dll", false, kGdiplusExports};

void RegisterGraphicsExports() {
  static const bool once = [] {
    RegisterLibrary(kGdi32Library);
    RegisterLibrary(kGdiplusLibrary);
    return true;
  }();
  (void)once;
}

}  // namespace platform
