// The image's table of native calls, one row per call in table order: the name
// the routines call it by, the entry it binds to, the constant that names its
// library, and its signature as the routines pass it (result, then argument
// types). Everything else follows from this one list: the row's index
// (NativeId), the table the image stores (const_pool.cpp) and the typed
// function the routines call (image/link.h).
//
// Argument types say how a value becomes an argument word: a handle or a word
// as it is, a pointer by its address, std::uint32_t zero-extended,
// std::int32_t sign-extended, float by its 32 bits.
#pragma once

#include <cstdint>

#include "host/abi.h"

// X(Name, Entry, Library, Signature)
#define MOSALIN_NATIVE_CALLS(X)                                                                          \
  X(GdiplusStartup, GdiplusStartup, kGdiplusLower,                                                       \
    std::uint32_t(host::Word * token, const std::uint32_t* input, void* output))                          \
  X(GetDC, GetDC, kEmpty, host::Word(host::Word window))                                                 \
  X(CreateCompatibleDC, CreateCompatibleDC, kEmpty, host::Word(host::Word dc))                           \
  X(CreateCompatibleBitmap, CreateCompatibleBitmap, kEmpty,                                              \
    host::Word(host::Word dc, std::uint32_t width, std::uint32_t height))                                 \
  X(ReleaseDC, ReleaseDC, kEmpty, std::int32_t(host::Word window, host::Word dc))                        \
  X(SelectObject, SelectObject, kEmpty, host::Word(host::Word dc, host::Word object))                    \
  X(GdiplusShutdown, GdiplusShutdown, kGdiplusLower, void(host::Word token))                             \
  X(GdipCreateFromHDC, GdipCreateFromHDC, kGdiplusMixed, std::uint32_t(host::Word dc, host::Word * graphics)) \
  X(GdipLoadImageFromFile, GdipLoadImageFromFile, kGdiplusMixed,                                         \
    std::uint32_t(const void* wideFileName, host::Word* image))                                          \
  X(GdipGetImageDimension, GdipGetImageDimension, kGdiplusMixed,                                         \
    std::uint32_t(host::Word image, float* width, float* height))                                        \
  X(GdipDrawImageRect, GdipDrawImageRect, kGdiplusMixed,                                                 \
    std::uint32_t(host::Word graphics, host::Word image, float x, float y, float width, float height))   \
  X(GdipDisposeImage, GdipDisposeImage, kGdiplusLower, std::uint32_t(host::Word image))                  \
  X(GdipDeleteGraphics, GdipDeleteGraphics, kGdiplusMixed, std::uint32_t(host::Word graphics))           \
  X(MultiByteToWideChar, MultiByteToWideChar, kEmpty,                                                    \
    std::int32_t(std::uint32_t codePage, std::uint32_t flags, const char* text, std::int32_t length,     \
                 void* wide, std::uint32_t wideLength))                                                  \
  X(GetObjectA, GetObjectA, kEmpty, std::int32_t(host::Word object, std::int32_t size, void* record))    \
  /* GetDIBits twice: the format query passes no bits (a plain integer), */                              \
  /* the row fetch a byte buffer. */                                                                     \
  X(GetDIBitsQuery, GetDIBits, kEmpty,                                                                   \
    std::int32_t(host::Word dc, host::Word bitmap, std::uint32_t start, std::uint32_t lines,             \
                 host::Word noBits, void* info, std::uint32_t usage))                                    \
  X(GetDIBitsFetch, GetDIBits, kEmpty,                                                                   \
    std::int32_t(host::Word dc, host::Word bitmap, std::uint32_t start, std::uint32_t lines, void* bits, \
                 void* info, std::uint32_t usage))                                                       \
  /* RtlMoveMemory twice, once per source record. */                                                     \
  X(RtlMoveMemoryInfoHeader, RtlMoveMemory, kEmpty, void(void* to, const void* from, std::uint32_t size)) \
  X(RtlMoveMemoryFileHeader, RtlMoveMemory, kEmpty, void(void* to, const void* from, std::uint32_t size)) \
  X(DeleteDC, DeleteDC, kEmpty, std::int32_t(host::Word dc))

namespace image {

// The rows by name: each enumerator is its row's index.
enum class NativeId : std::uint32_t {
#define MOSALIN_NATIVE_ID(name, entry, library, signature) k##name,
  MOSALIN_NATIVE_CALLS(MOSALIN_NATIVE_ID)
#undef MOSALIN_NATIVE_ID
};

constexpr std::uint32_t Index(NativeId c) { return static_cast<std::uint32_t>(c); }

// The number of rows.
#define MOSALIN_NATIVE_ONE(name, entry, library, signature) +1
inline constexpr std::uint32_t kNativeCallCount = 0 MOSALIN_NATIVE_CALLS(MOSALIN_NATIVE_ONE);
#undef MOSALIN_NATIVE_ONE

}  // namespace image
