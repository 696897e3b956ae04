// The GDI+ substitute: the part of the flat interface that the program uses,
// with Windows names, signatures and status numbers.
//
// Pictures are decoded by content (PNG, JPEG, BMP, GIF first frame, TIFF,
// icons), whatever the file's extension, and drawn source-over onto the bitmap
// selected into a memory device context; metafiles (placeable WMF, EMF) are
// recognised by content too and their records played when drawn. Graphics and image pointers are checked handle
// values, never real addresses: a null, stale or foreign one gives
// InvalidParameter, never a crash. The decisions about statuses, limits and
// pixel arithmetic are listed in gdiplus.cpp and draw.h.
#pragma once

#include <cstdint>

#include "platform/graphics/gdi.h"

using REAL = float;

namespace Gdiplus {
enum Status : std::int32_t {
  Ok = 0,
  GenericError = 1,
  InvalidParameter = 2,
  OutOfMemory = 3,
  Win32Error = 7,
  FileNotFound = 10,
  UnknownImageFormat = 13,
  UnsupportedGdiplusVersion = 17,
  GdiplusNotInitialized = 18,
};
}  // namespace Gdiplus
using GpStatus = Gdiplus::Status;

struct GpGraphics;
struct GpImage;

// The start-up input record in the program's layout, 16 bytes on every target:
// version, debug-event callback (a 32-bit field, never called: the substitute
// raises no debug events), suppress-background-thread flag,
// suppress-external-codecs flag (ignored: there are no external codecs).
struct GdiplusStartupInput {
  std::uint32_t GdiplusVersion;
  std::uint32_t DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};
static_assert(sizeof(GdiplusStartupInput) == 16);

extern "C" {
using NotificationHookProc = GpStatus (*)(ULONG_PTR* token);
using NotificationUnhookProc = void (*)(ULONG_PTR token);
}

// Filled only when the background thread is suppressed.
struct GdiplusStartupOutput {
  NotificationHookProc NotificationHook;
  NotificationUnhookProc NotificationUnhook;
};

extern "C" {

// Starts the library and writes a nonzero token. Version 1 only
// (UnsupportedGdiplusVersion otherwise); a suppressed background thread needs
// an output record (InvalidParameter otherwise). Start-ups nest: the library
// runs while any token is live.
GpStatus GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                        GdiplusStartupOutput* output);
// Ends the start-up of `token`. After the last one every graphics and image
// object is released and their handles turn stale. Unknown tokens are ignored.
void GdiplusShutdown(ULONG_PTR token);

GpStatus GdipCreateFromHDC(HDC dc, GpGraphics** graphics);
GpStatus GdipDeleteGraphics(GpGraphics* graphics);

// `path`: a zero-terminated UTF-16LE Windows path.
GpStatus GdipLoadImageFromFile(const WCHAR* path, GpImage** image);
GpStatus GdipGetImageDimension(GpImage* image, REAL* width, REAL* height);
GpStatus GdipDrawImageRect(GpGraphics* graphics, GpImage* image, REAL x, REAL y, REAL width,
                           REAL height);
GpStatus GdipDisposeImage(GpImage* image);

}  // extern "C"
