// The export tables of "gdi32.dll" (a system library: the image names it with
// an empty library name) and "gdiplus.dll", for binding native calls by name.
#include "platform/exports.h"
#include "platform/graphics/exports_graphics.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/gdiplus.h"

namespace platform {
namespace {

constexpr Export kGdi32Exports[] = {
    MakeExport<GetDC>("GetDC"),
    MakeExport<ReleaseDC>("ReleaseDC"),
    MakeExport<CreateCompatibleDC>("CreateCompatibleDC"),
    MakeExport<DeleteDC>("DeleteDC"),
    MakeExport<CreateCompatibleBitmap>("CreateCompatibleBitmap"),
    MakeExport<SelectObject>("SelectObject"),
    MakeExport<DeleteObject>("DeleteObject"),
    MakeExport<GetObjectA>("GetObjectA"),
    MakeExport<GetDIBits>("GetDIBits"),
};

constexpr Export kGdiplusExports[] = {
    MakeExport<GdiplusStartup>("GdiplusStartup"),
    MakeExport<GdiplusShutdown>("GdiplusShutdown"),
    MakeExport<GdipCreateFromHDC>("GdipCreateFromHDC"),
    MakeExport<GdipDeleteGraphics>("GdipDeleteGraphics"),
    MakeExport<GdipLoadImageFromFile>("GdipLoadImageFromFile"),
    MakeExport<GdipGetImageDimension>("GdipGetImageDimension"),
    MakeExport<GdipDrawImageRect>("GdipDrawImageRect"),
    MakeExport<GdipDisposeImage>("GdipDisposeImage"),
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
