// The native calls of the program image by name: each enumerator is the index
// of its row in the image's table of native calls, so that a call site says
// what it calls (Native<kGdipCreateFromHDC>) and never counts rows.
#pragma once

#include <cstdint>

namespace image {

enum class NativeId : std::uint32_t {
  kGdiplusStartup = 0,
  kGetDC = 1,
  kCreateCompatibleDC = 2,
  kCreateCompatibleBitmap = 3,
  kReleaseDC = 4,
  kSelectObject = 5,
  kGdiplusShutdown = 6,
  kGdipCreateFromHDC = 7,
  kGdipLoadImageFromFile = 8,
  kGdipGetImageDimension = 9,
  kGdipDrawImageRect = 10,
  kGdipDisposeImage = 11,
  kGdipDeleteGraphics = 12,
  kMultiByteToWideChar = 13,
  kGetObjectA = 14,
  // GetDIBits is declared twice: the format query passes no bits (a plain
  // integer), the row fetch passes a byte buffer.
  kGetDIBitsQuery = 15,
  kGetDIBitsFetch = 16,
  // RtlMoveMemory is declared twice, once per source record.
  kRtlMoveMemoryInfoHeader = 17,
  kRtlMoveMemoryFileHeader = 18,
  kDeleteDC = 19,
};

constexpr std::uint32_t Index(NativeId c) { return static_cast<std::uint32_t>(c); }

}  // namespace image
