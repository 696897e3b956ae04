// What the GDI substitute shares with the GDI+ substitute and with tests: the
// pixel memory of a bitmap, reached through a device context or a bitmap
// handle while the GDI lock is held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/graphics/gdi.h"

namespace graphics {

// The pixels of a bitmap. `bits` is the top row; `stride` goes from a row to
// the one below it, and is negative for a bitmap kept bottom-up in memory,
// as the GDI substitute keeps its own (the row order of a bottom-up DIB, so
// a fetch of all rows can share the bitmap's pages). 32 bits per pixel:
// blue, green, red, 0; rows of width x 4 bytes. 1 bit per pixel: most
// significant bit first, 1 = white, 0 = black; rows rounded up to 4 bytes.
struct Surface {
  std::uint8_t* bits = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  int bitsPerPixel = 0;
  std::ptrdiff_t stride = 0;

  std::uint8_t* Row(std::int64_t y) const { return bits + y * stride; }
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
