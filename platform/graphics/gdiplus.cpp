// The GDI+ substitute's flat functions.
//
// Statuses:
//  - Any function called while the library is not started: GdiplusNotInitialized.
//  - Null out-pointers or arguments, and graphics or image values that are not
//    live objects (never made, disposed, or released by the last shut-down):
//    InvalidParameter.
//  - GdipCreateFromHDC needs a live memory device context (it draws into the
//    bitmap selected there): anything else, the screen's context included
//    (the virtual screen has no pixels), is InvalidParameter.
//  - GdipDrawImageRect whose context has been deleted since: Win32Error; a
//    non-finite coordinate: InvalidParameter (see draw.h for the pixels).
//  - GdipLoadImageFromFile: a path that does not map to a POSIX path, or no
//    such file: FileNotFound; a file that cannot be opened or read otherwise
//    (no permission, a directory): Win32Error; a file above 1 GiB, a picture
//    beyond the limits of picture.h or a metafile of more records than
//    metafile.h allows: OutOfMemory; content that no decoder takes (not a
//    picture, a variant the decoders refuse, a WMF without the placeable
//    header, an EMF+-only metafile): OutOfMemory too, which is what GDI+
//    reports for a file that does not have a valid image format
//    (System.Drawing's Image.FromFile turns that status into its
//    OutOfMemoryException); corrupt or truncated data, metafiles' included:
//    GenericError (see each decoder and metafile.h). The format comes from
//    the content, never the name. Why a load failed (missing, unreadable, not
//    a picture, truncated, too large, damaged) is kept per thread
//    (picture.h), for the runtime host to report.
//  - A placeable WMF or an EMF loads as a metafile: GdipGetImageDimension
//    gives its frame in 0.01 mm, GdipDrawImageRect plays its records
//    (metafile.h; a non-finite coordinate: InvalidParameter).
#include "platform/graphics/gdiplus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/graphics/decode_ahead.h"
#include "platform/graphics/draw.h"
#include "platform/graphics/handles.h"
#include "platform/graphics/picture.h"
#include "platform/graphics/surface.h"
#include "platform/paths.h"
#include "platform/trace.h"

namespace graphics {
namespace {

// A raster picture, or a metafile (when `metafile` is set) played at each draw.
struct ImageObject {
  Picture picture;
  std::unique_ptr<metafile::Metafile> metafile;
};

struct GraphicsObject {
  HDC dc = 0;
};

struct GdipState {
  std::mutex lock;
  std::set<ULONG_PTR> tokens;
  ULONG_PTR lastToken = 0;
  HandleTable<ImageObject> images{2};
  HandleTable<GraphicsObject> graphics{3};
  // Tiles decoded ahead of their load, while the library runs.
  DecodeAhead ahead;

  bool Started() const { return !tokens.empty(); }
};

GdipState& G() {
  static GdipState state;
  return state;
}

std::uint32_t HandleOf(const void* p) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}
bool IsHandleValue(const void* p) {
  return reinterpret_cast<std::uintptr_t>(p) <= 0xFFFFFFFFu;
}
ImageObject* LiveImage(GpImage* image) {
  return IsHandleValue(image) ? G().images.Get(HandleOf(image)) : nullptr;
}
GraphicsObject* LiveGraphics(GpGraphics* graphics) {
  return IsHandleValue(graphics) ? G().graphics.Get(HandleOf(graphics)) : nullptr;
}

GpStatus HookNotification(ULONG_PTR* token) {
  if (!token) return Gdiplus::InvalidParameter;
  *token = 1;
  return Gdiplus::Ok;
}
void UnhookNotification(ULONG_PTR) {}

}  // namespace
}  // namespace graphics

using namespace graphics;

extern "C" {

GpStatus GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                        GdiplusStartupOutput* output) {
  if (!token || !input) return Gdiplus::InvalidParameter;
  if (input->GdiplusVersion != 1) return Gdiplus::UnsupportedGdiplusVersion;
  if (input->SuppressBackgroundThread && !output) return Gdiplus::InvalidParameter;
  GdipState& g = G();
  std::lock_guard lock(g.lock);
  do ++g.lastToken;
  while (g.lastToken == 0 || g.tokens.count(g.lastToken));
  g.tokens.insert(g.lastToken);
  *token = g.lastToken;
  if (input->SuppressBackgroundThread) {
    output->NotificationHook = HookNotification;
    output->NotificationUnhook = UnhookNotification;
  }
  return Gdiplus::Ok;
}

void GdiplusShutdown(ULONG_PTR token) {
  GdipState& g = G();
  std::lock_guard lock(g.lock);
  if (!g.tokens.erase(token) || g.Started()) return;
  std::vector<std::uint32_t> handles;
  g.images.ForEach([&](std::uint32_t h, ImageObject&) { handles.push_back(h); });
  for (std::uint32_t h : handles) g.images.Remove(h);
  handles.clear();
  g.graphics.ForEach([&](std::uint32_t h, GraphicsObject&) { handles.push_back(h); });
  for (std::uint32_t h : handles) g.graphics.Remove(h);
  g.ahead.Stop();
}

GpStatus GdipCreateFromHDC(HDC dc, GpGraphics** graphics) {
  GdipState& g = G();
  std::lock_guard lock(g.lock);
  if (!g.Started()) return Gdiplus::GdiplusNotInitialized;
  if (!graphics) return Gdiplus::InvalidParameter;
  {
    std::lock_guard gdi(GdiLock());
    Surface surface;
    if (!SurfaceOfDc(dc, &surface)) return Gdiplus::InvalidParameter;
  }
  auto object = std::make_unique<GraphicsObject>();
  object->dc = dc;
  const std::uint32_t h = g.graphics.Add(std::move(object));
  if (!h) return Gdiplus::OutOfMemory;
  *graphics = reinterpret_cast<GpGraphics*>(std::uintptr_t(h));
  return Gdiplus::Ok;
}

GpStatus GdipDeleteGraphics(GpGraphics* graphics) {
  GdipState& g = G();
  std::lock_guard lock(g.lock);
  if (!g.Started()) return Gdiplus::GdiplusNotInitialized;
  if (!LiveGraphics(graphics)) return Gdiplus::InvalidParameter;
  g.graphics.Remove(HandleOf(graphics));
  return Gdiplus::Ok;
}

GpStatus GdipLoadImageFromFile(const WCHAR* path, GpImage** image) {
  SetLoadFailure(LoadFailure::kNone);
  GdipState& g = G();
  {
    std::lock_guard lock(g.lock);
    if (!g.Started()) return Gdiplus::GdiplusNotInitialized;
  }
  if (!path || !image) return Gdiplus::InvalidParameter;
  const std::optional<std::string> posix = platform::WideWindowsToPosix(path);
  if (!posix) {
    SetLoadFailure(LoadFailure::kMissing);
    platform::Trace("GdipLoadImageFromFile: a path with no POSIX form");
    return Gdiplus::FileNotFound;
  }

  // Reading and decoding need no lock.
  auto object = std::make_unique<ImageObject>();
  if (GpStatus s = g.ahead.Load(*posix, object->picture, &object->metafile); s != Gdiplus::Ok) {
    platform::Trace("GdipLoadImageFromFile %s: %s: %s", posix->c_str(), LoadFailureWord(LastLoadFailure()),
                    FailureReason().c_str());
    return s == Gdiplus::UnknownImageFormat ? Gdiplus::OutOfMemory : s;
  }

  std::lock_guard lock(g.lock);
  if (!g.Started()) return Gdiplus::GdiplusNotInitialized;
  const std::uint32_t h = g.images.Add(std::move(object));
  if (!h) {
    SetLoadFailure(LoadFailure::kNone);
    return Gdiplus::OutOfMemory;
  }
  *image = reinterpret_cast<GpImage*>(std::uintptr_t(h));
  return Gdiplus::Ok;
}

GpStatus GdipGetImageDimension(GpImage* image, REAL* width, REAL* height) {
  GdipState& g = G();
  std::lock_guard lock(g.lock);
  if (!g.Started()) return Gdiplus::GdiplusNotInitialized;
  const ImageObject* object = LiveImage(image);
  if (!object || !width || !height) return Gdiplus::InvalidParameter;
  // A metafile's frame in 0.01 mm, a picture's pixels (metafile.cpp).
  *width = static_cast<REAL>(object->metafile ? object->metafile->width : object->picture.width);
  *height = static_cast<REAL>(object->metafile ? object->metafile->height : object->picture.height);
  return Gdiplus::Ok;
}

GpStatus GdipDrawImageRect(GpGraphics* graphics, GpImage* image, REAL x, REAL y, REAL width,
                           REAL height) {
  GdipState& g = G();
  std::lock_guard lock(g.lock);
  if (!g.Started()) return Gdiplus::GdiplusNotInitialized;
  const GraphicsObject* target = LiveGraphics(graphics);
  const ImageObject* object = LiveImage(image);
  if (!target || !object) return Gdiplus::InvalidParameter;
  std::lock_guard gdi(GdiLock());
  Surface surface;
  if (!SurfaceOfDc(target->dc, &surface)) return Gdiplus::Win32Error;
  if (object->metafile) return metafile::Play(*object->metafile, surface, x, y, width, height);
  return DrawPicture(object->picture, surface, x, y, width, height);
}

GpStatus GdipDisposeImage(GpImage* image) {
  GdipState& g = G();
  std::lock_guard lock(g.lock);
  if (!g.Started()) return Gdiplus::GdiplusNotInitialized;
  if (!LiveImage(image)) return Gdiplus::InvalidParameter;
  g.images.Remove(HandleOf(image));
  return Gdiplus::Ok;
}

}  // extern "C"
