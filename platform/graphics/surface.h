// What the GDI substitute shares with the GDI+ substitute and with tests: the
// pixel memory of a bitmap, reached through a device context or a bitmap
// handle while the GDI lock is held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/graphics/gdi.h"

namespace graphics {

// Rows top-down. 32 bits per pixel: blue, green, red, 0; stride width x 4.
// 1 bit per pixel: most significant bit first, 1 = white, 0 = black; stride
// rounded up to 4 bytes.
struct Surface {
  std::uint8_t* bits = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  int bitsPerPixel = 0;
  std::size_t stride = 0;
};

// The lock that every GDI function takes. Hold it while using a Surface.
std::mutex& GdiLock();

// The surface of the bitmap currently selected into memory context `dc`.
// False for anything else (a screen context has no pixels). Lock held.
bool SurfaceOfDc(HDC dc, Surface* out);

// The surface of a bitmap. False for a bad handle. Lock held.
bool SurfaceOfBitmap(HBITMAP bitmap, Surface* out);

// Whether `dc` is a live device context. Lock held.
bool IsLiveDc(HDC dc);

// A white/black decision for one colour: the nearer of the two in RGB space,
// that is white when red + green + blue >= 383. Used wherever colour turns
// into a 1-bit pixel.
inline bool IsNearerWhite(unsigned blue, unsigned green, unsigned red) {
  return blue + green + red >= 383;
}

}  // namespace graphics
