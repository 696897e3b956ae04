// The GDI substitute: device contexts and device-dependent bitmaps over a
// virtual true-colour screen, with the Windows names and signatures that the
// program's native calls use.
//
// The screen has no pixels of its own and is 32 bits per pixel whatever the
// display. A bitmap compatible with the screen is 32 bits per pixel (blue,
// green, red and a fourth byte that stays 0); a memory device context starts
// with the stock 1 x 1 monochrome bitmap selected, so a bitmap compatible with
// a memory context that still holds it is monochrome, as on Windows.
//
// Handles are 32-bit values from one checked table of GDI objects (device
// contexts and bitmaps): a null, stale or foreign handle makes a function fail
// as Windows reports failure (0), never crash. Every function may be called
// from any thread; calls are serialised.
#pragma once

#include <cstdint>

#include "platform/win32.h"

using HGDIOBJ = std::uint32_t;
using HDC = std::uint32_t;
using HBITMAP = std::uint32_t;

// The BITMAP record as the program's 32-bit layout has it: 24 bytes, the
// pixel pointer a 32-bit field (always 0: a device-dependent bitmap does not
// expose its pixels).
struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;  // bytes of one row, rounded up to a multiple of 2
  WORD bmPlanes;
  WORD bmBitsPixel;
  DWORD bmBits;
};
static_assert(sizeof(BITMAP) == 24);

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

// A header and room for one colour entry. A call that writes a colour table
// (a 1-bit format: 2 entries; bit fields: 3 masks) writes it right after the
// header's biSize bytes, so the caller must give room for it.
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
static_assert(sizeof(BITMAPINFO) == 44);

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
  WORD bfType;
  DWORD bfSize;
  WORD bfReserved1;
  WORD bfReserved2;
  DWORD bfOffBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14);

inline constexpr DWORD BI_RGB = 0;
inline constexpr DWORD BI_RLE8 = 1;
inline constexpr DWORD BI_RLE4 = 2;
inline constexpr DWORD BI_BITFIELDS = 3;
inline constexpr UINT DIB_RGB_COLORS = 0;
inline constexpr UINT DIB_PAL_COLORS = 1;

extern "C" {

// A device context for a window. The null window gives a context for the
// whole virtual screen; there are no other window surfaces, so any other
// window gives 0. Release it with ReleaseDC.
HDC GetDC(HWND window);
// 1 when `dc` was obtained from GetDC and is now released, else 0.
int ReleaseDC(HWND window, HDC dc);

// A memory device context compatible with `dc` (0: the screen), holding the
// stock 1 x 1 monochrome bitmap. 0 when `dc` is neither 0 nor a live context.
HDC CreateCompatibleDC(HDC dc);
// Releases a memory device context; its bitmap is deselected, not deleted.
// 0 for anything that is not a live memory context.
BOOL DeleteDC(HDC dc);

// A width x height bitmap in the format of `dc`: 32 bits per pixel for the
// screen, else the depth of the bitmap selected into the memory context. All
// pixels are 0. A side of 0 gives the stock 1 x 1 monochrome bitmap. 0 for a
// bad context, a negative side, a size whose BMP file (54 bytes plus rows
// padded to 4 bytes) would not fit a 32-bit size field, or memory that cannot
// be had.
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);

// Selects a bitmap into a memory device context and returns the bitmap it
// held before. A bitmap is in at most one context at a time (the stock bitmap
// excepted): selecting it into a second one fails. 0 on failure.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);

// Deletes a bitmap. The stock bitmap is never deleted (reported as success);
// a bitmap selected into a context is not deleted (0).
BOOL DeleteObject(HGDIOBJ object);

// Fills `buffer` with the bitmap's BITMAP record when `size` is at least 24
// and returns 24; with a null buffer returns 24; else 0. Device contexts and
// bad handles give 0. Never writes more than `size` bytes.
int GetObjectA(HGDIOBJ object, int size, LPVOID buffer);

// Query (bits null) and fetch of a bitmap's pixels as a device-independent
// bitmap; see gdi.cpp for the formats and rules.
int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info,
              UINT usage);

}  // extern "C"
