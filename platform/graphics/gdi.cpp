// The GDI substitute: one table of device contexts and bitmaps under one lock.
//
// Pixel fetch (GetDIBits) rules:
//  - Query, bits null and biBitCount 0 on entry: the header gets the bitmap's
//    width, height (positive: bottom-up), 1 plane, its depth, its compression
//    (BI_BITFIELDS for a 32-bit bitmap, as Windows reports a 32-bit
//    device-dependent bitmap; BI_RGB otherwise), the image size (rows padded to
//    4 bytes, times height), resolution 0 and colour counts 0. No colour table
//    is written, also for a 1-bit bitmap: as on Windows, the table comes only
//    when biBitCount is nonzero on entry.
//  - Query with a nonzero depth: the colour table (or bit-field masks) of that
//    format is written after the header and biSizeImage is set for the
//    header's width and height.
//  - Fetch: the header names the format: biWidth > 0, biHeight != 0 (negative
//    asks for top-down rows), 1, 16, 24 or 32 bits per pixel; BI_RGB (16 bits
//    = 5-5-5) or BI_BITFIELDS for 16 bits (5-6-5) and 32 bits (8-8-8). Lines
//    [start, start + lines) of that picture are written to `bits`, line
//    `start` first; for a bottom-up header line 0 is the picture's bottom row.
//    The picture's top row is the bitmap's top row; pixels outside the bitmap
//    are written as 0. A 1-bit format gets the colour table {black, white}
//    after the header (biSize bytes from its start), bit fields their three
//    masks there; the caller gives room for them. biSizeImage is set. Colour
//    turns into a 1-bit pixel by IsNearerWhite. Result: lines written.
//  - Only DIB_RGB_COLORS is supported; 4 and 8 bits per pixel (which would
//    need a palette) and header sizes below 40 are refused with 0.
#include "platform/graphics/gdi.h"

#include "platform/graphics/big_block.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/graphics/handles.h"
#include "platform/graphics/surface.h"

namespace graphics {
namespace {

enum class Kind { kScreenDc, kMemoryDc, kBitmap };

struct GdiObject {
  Kind kind;
  // Device contexts: the selected bitmap (memory contexts only).
  HBITMAP selected = 0;
  // Bitmaps: pixels (owned unless stock) and the context holding it, if any.
  // The rows lie bottom-up in `block` (its `bytes` all rows), as a bottom-up
  // DIB holds them.
  Surface surface;
  std::uint8_t* block = nullptr;
  std::size_t bytes = 0;
  HDC selectedInto = 0;
  bool stock = false;

  explicit GdiObject(Kind k) : kind(k) {}
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  ~GdiObject() {
    if (kind != Kind::kBitmap) return;
    if (bytes >= graphics::kBigBlockBytes)
      graphics::UnmapBigBlock(block, bytes);
    else
      std::free(block);
  }
  bool IsDc() const { return kind != Kind::kBitmap; }
  // Takes `pixels`, `rowBytes` x `height` bytes, as its rows, bottom-up.
  void HoldRows(std::uint8_t* pixels, std::int32_t width, std::int32_t height, int depth, std::size_t rowBytes) {
    block = pixels;
    bytes = rowBytes * std::size_t(height);
    const auto stride = static_cast<std::ptrdiff_t>(rowBytes);
    surface = {pixels + (height - 1) * stride, width, height, depth, -stride};
  }
};

constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFu;
// The 54 bytes of the file's headers, and the 8-byte header of the one byte
// buffer that holds the whole file before it is written: a bitmap whose file
// would not fit a 32-bit size with these is refused.
constexpr std::uint64_t kFileHeaders = 54 + 8;

std::uint64_t DibStride(std::uint64_t width, unsigned bitsPerPixel) {
  return (width * bitsPerPixel + 31) / 32 * 4;
}

struct State {
  HandleTable<GdiObject> table{1};
  HBITMAP stockBitmap = 0;

  State() {
    auto stock = std::make_unique<GdiObject>(Kind::kBitmap);
    stock->stock = true;
    stock->HoldRows(static_cast<std::uint8_t*>(std::calloc(1, 4)), 1, 1, 1, 4);
    stockBitmap = table.Add(std::move(stock));
  }
};

State& S() {
  static State state;
  return state;
}

GdiObject* Get(HGDIOBJ h) { return S().table.Get(h); }

GdiObject* GetBitmap(HGDIOBJ h) {
  GdiObject* o = Get(h);
  return o && o->kind == Kind::kBitmap ? o : nullptr;
}

GdiObject* GetDc(HDC h) {
  GdiObject* o = Get(h);
  return o && o->IsDc() ? o : nullptr;
}

// --- Pixel format conversion for GetDIBits --------------------------------

enum class DibFormat { kMono, kRgb555, kRgb565, kBgr24, kBgrx32, kInvalid };

DibFormat FormatOf(const BITMAPINFOHEADER& h) {
  switch (h.biBitCount) {
    case 1:
      return h.biCompression == BI_RGB ? DibFormat::kMono : DibFormat::kInvalid;
    case 16:
      if (h.biCompression == BI_RGB) return DibFormat::kRgb555;
      return h.biCompression == BI_BITFIELDS ? DibFormat::kRgb565 : DibFormat::kInvalid;
    case 24:
      return h.biCompression == BI_RGB ? DibFormat::kBgr24 : DibFormat::kInvalid;
    case 32:
      return h.biCompression == BI_RGB || h.biCompression == BI_BITFIELDS ? DibFormat::kBgrx32
                                                                         : DibFormat::kInvalid;
    default:
      return DibFormat::kInvalid;
  }
}

// The colour table or masks a format carries after the header.
void WriteColourTable(BITMAPINFO* info, DibFormat format) {
  std::uint8_t* at = reinterpret_cast<std::uint8_t*>(info) + info->bmiHeader.biSize;
  if (format == DibFormat::kMono) {
    const std::uint8_t table[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    std::memcpy(at, table, sizeof table);
  } else if (info->bmiHeader.biCompression == BI_BITFIELDS) {
    const DWORD masks565[3] = {0xF800, 0x07E0, 0x001F};
    const DWORD masks888[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    std::memcpy(at, format == DibFormat::kRgb565 ? masks565 : masks888, 12);
  }
}

// Expands `n` pixels of a 1-bit row to blue, green, red, 0.
void ExpandMono(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n) {
  for (std::int32_t x = 0; x < n; ++x) {
    const std::uint8_t v = (src[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
    dst[4 * x] = dst[4 * x + 1] = dst[4 * x + 2] = v;
    dst[4 * x + 3] = 0;
  }
}

// Writes `n` pixels (blue, green, red, x) in `format`, and zeroes the row
// from there to `rowBytes`.
void ConvertRow(const std::uint8_t* bgrx, std::int32_t n, DibFormat format, std::uint8_t* out,
                std::size_t rowBytes) {
  std::size_t used = 0;
  switch (format) {
    case DibFormat::kBgrx32:
      std::memcpy(out, bgrx, std::size_t(n) * 4);
      used = std::size_t(n) * 4;
      break;
    case DibFormat::kBgr24:
      for (std::int32_t x = 0; x < n; ++x) {
        out[3 * x] = bgrx[4 * x];
        out[3 * x + 1] = bgrx[4 * x + 1];
        out[3 * x + 2] = bgrx[4 * x + 2];
      }
      used = std::size_t(n) * 3;
      break;
    case DibFormat::kRgb555:
    case DibFormat::kRgb565:
      for (std::int32_t x = 0; x < n; ++x) {
        const unsigned b = bgrx[4 * x], g = bgrx[4 * x + 1], r = bgrx[4 * x + 2];
        const unsigned v = format == DibFormat::kRgb555 ? (r >> 3) << 10 | (g >> 3) << 5 | b >> 3
                                                       : (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
        out[2 * x] = static_cast<std::uint8_t>(v);
        out[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
      }
      used = std::size_t(n) * 2;
      break;
    case DibFormat::kMono: {
      used = (std::size_t(n) + 7) / 8;
      std::memset(out, 0, used);
      for (std::int32_t x = 0; x < n; ++x)
        if (IsNearerWhite(bgrx[4 * x], bgrx[4 * x + 1], bgrx[4 * x + 2]))
          out[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
      break;
    }
    case DibFormat::kInvalid:
      break;
  }
  if (used < rowBytes) std::memset(out + used, 0, rowBytes - used);
}

int QueryFormat(const GdiObject& bm, BITMAPINFOHEADER& h) {
  const Surface& s = bm.surface;
  h.biWidth = s.width;
  h.biHeight = s.height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(s.bitsPerPixel);
  h.biCompression = s.bitsPerPixel == 32 ? BI_BITFIELDS : BI_RGB;
  h.biSizeImage = static_cast<DWORD>(DibStride(std::uint64_t(s.width), s.bitsPerPixel) *
                                     std::uint64_t(s.height));
  h.biXPelsPerMeter = h.biYPelsPerMeter = 0;
  h.biClrUsed = h.biClrImportant = 0;
  return s.height;
}

int FetchLines(const GdiObject& bm, UINT start, UINT lines, std::uint8_t* bits,
               BITMAPINFO* info) {
  BITMAPINFOHEADER& h = info->bmiHeader;
  const DibFormat format = FormatOf(h);
  if (format == DibFormat::kInvalid || h.biWidth <= 0 || h.biHeight == 0) return 0;
  const std::int64_t dibWidth = h.biWidth;
  const std::int64_t dibHeight = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
  const bool topDown = h.biHeight < 0;
  const std::uint64_t stride = DibStride(std::uint64_t(dibWidth), h.biBitCount);
  if (stride * std::uint64_t(dibHeight) > kMaxFileSize) return 0;

  WriteColourTable(info, format);
  h.biSizeImage = static_cast<DWORD>(stride * std::uint64_t(dibHeight));
  if (!bits) return static_cast<int>(dibHeight);

  const Surface& s = bm.surface;
  // All rows of a 32-bit bitmap, bottom-up as it keeps them: the same bytes
  // as the bitmap's block, which MapCopy maps copy-on-write where it can (a
  // large bitmap into a large block).
  const bool allRows = !topDown && start == 0 && std::int64_t(lines) >= dibHeight;
  if (format == DibFormat::kBgrx32 && s.bitsPerPixel == 32 && allRows && dibWidth == s.width &&
      dibHeight == s.height && graphics::MapCopy(bm.block, bits, bm.bytes))
    return static_cast<int>(dibHeight);
  const std::int64_t first = start;
  const std::int64_t count = std::min<std::int64_t>(lines, std::max<std::int64_t>(0, dibHeight - first));
  const std::int32_t n = static_cast<std::int32_t>(std::min<std::int64_t>(dibWidth, s.width));
  std::vector<std::uint8_t> expanded;
  if (s.bitsPerPixel == 1) expanded.resize(std::size_t(n) * 4);
  for (std::int64_t k = first; k < first + count; ++k) {
    std::uint8_t* out = bits + std::uint64_t(k - first) * stride;
    const std::int64_t row = topDown ? k : dibHeight - 1 - k;
    if (row >= s.height) {
      std::memset(out, 0, stride);
      continue;
    }
    const std::uint8_t* src = s.Row(row);
    if (s.bitsPerPixel == 1) {
      ExpandMono(src, expanded.data(), n);
      src = expanded.data();
    }
    ConvertRow(src, n, format, out, stride);
  }
  return static_cast<int>(count);
}

}  // namespace

std::mutex& GdiLock() {
  static std::mutex lock;
  return lock;
}

bool SurfaceOfBitmap(HBITMAP bitmap, Surface* out) {
  const GdiObject* bm = GetBitmap(bitmap);
  if (!bm) return false;
  *out = bm->surface;
  return true;
}

bool SurfaceOfDc(HDC dc, Surface* out) {
  const GdiObject* d = GetDc(dc);
  return d && d->kind == Kind::kMemoryDc && SurfaceOfBitmap(d->selected, out);
}

bool IsLiveDc(HDC dc) { return GetDc(dc) != nullptr; }

}  // namespace graphics

using namespace graphics;

extern "C" {

HDC GetDC(HWND window) {
  std::lock_guard lock(GdiLock());
  if (window) return 0;
  return S().table.Add(std::make_unique<GdiObject>(Kind::kScreenDc));
}

int ReleaseDC(HWND window, HDC dc) {
  std::lock_guard lock(GdiLock());
  const GdiObject* d = GetDc(dc);
  if (window || !d || d->kind != Kind::kScreenDc) return 0;
  S().table.Remove(dc);
  return 1;
}

HDC CreateCompatibleDC(HDC dc) {
  std::lock_guard lock(GdiLock());
  if (dc != 0 && !GetDc(dc)) return 0;
  auto memory = std::make_unique<GdiObject>(Kind::kMemoryDc);
  memory->selected = S().stockBitmap;
  return S().table.Add(std::move(memory));
}

BOOL DeleteDC(HDC dc) {
  std::lock_guard lock(GdiLock());
  const GdiObject* d = GetDc(dc);
  if (!d || d->kind != Kind::kMemoryDc) return FALSE;
  if (GdiObject* bm = GetBitmap(d->selected); bm && !bm->stock) bm->selectedInto = 0;
  S().table.Remove(dc);
  return TRUE;
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  std::lock_guard lock(GdiLock());
  const GdiObject* d = GetDc(dc);
  if (!d || width < 0 || height < 0) return 0;
  if (width == 0 || height == 0) return S().stockBitmap;
  int depth = 32;
  if (d->kind == Kind::kMemoryDc) {
    const GdiObject* current = GetBitmap(d->selected);
    depth = current ? current->surface.bitsPerPixel : 1;
  }
  const std::uint64_t stride = DibStride(std::uint64_t(width), depth);
  const std::uint64_t bytes = stride * std::uint64_t(height);
  if (bytes + kFileHeaders > kMaxFileSize) return 0;
  // Fresh zero pages from the kernel; a large bitmap gets a mapping of its
  // own, faulted in at once rather than page by page while tiles are drawn,
  // in memory that a fetch of all its rows can map a second time.
  auto* pixels = static_cast<std::uint8_t*>(bytes >= graphics::kBigBlockBytes ? graphics::MapShareableBlock(bytes)
                                                                             : std::calloc(bytes, 1));
  if (!pixels) return 0;
  auto bm = std::make_unique<GdiObject>(Kind::kBitmap);
  bm->HoldRows(pixels, width, height, depth, std::size_t(stride));
  return S().table.Add(std::move(bm));
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  std::lock_guard lock(GdiLock());
  GdiObject* d = GetDc(dc);
  GdiObject* bm = GetBitmap(object);
  if (!d || d->kind != Kind::kMemoryDc || !bm) return 0;
  if (d->selected == object) return object;
  if (!bm->stock && bm->selectedInto != 0) return 0;
  const HBITMAP previous = d->selected;
  if (GdiObject* old = GetBitmap(previous); old && !old->stock) old->selectedInto = 0;
  d->selected = object;
  if (!bm->stock) bm->selectedInto = dc;
  return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
  std::lock_guard lock(GdiLock());
  const GdiObject* bm = GetBitmap(object);
  if (!bm) return FALSE;
  if (bm->stock) return TRUE;
  if (bm->selectedInto != 0) return FALSE;
  S().table.Remove(object);
  return TRUE;
}

int GetObjectA(HGDIOBJ object, int size, LPVOID buffer) {
  std::lock_guard lock(GdiLock());
  const GdiObject* bm = GetBitmap(object);
  if (!bm) return 0;
  if (!buffer) return sizeof(BITMAP);
  if (size < static_cast<int>(sizeof(BITMAP))) return 0;
  const Surface& s = bm->surface;
  BITMAP record{};
  record.bmWidth = s.width;
  record.bmHeight = s.height;
  record.bmWidthBytes = static_cast<LONG>((std::int64_t(s.width) * s.bitsPerPixel + 15) / 16 * 2);
  record.bmPlanes = 1;
  record.bmBitsPixel = static_cast<WORD>(s.bitsPerPixel);
  std::memcpy(buffer, &record, sizeof record);
  return sizeof(BITMAP);
}

int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info,
              UINT usage) {
  std::lock_guard lock(GdiLock());
  const GdiObject* bm = GetBitmap(bitmap);
  if (!GetDc(dc) || !bm || !info || usage != DIB_RGB_COLORS) return 0;
  if (info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  if (!bits && info->bmiHeader.biBitCount == 0) return QueryFormat(*bm, info->bmiHeader);
  return FetchLines(*bm, start, lines, static_cast<std::uint8_t*>(bits), info);
}

}  // extern "C"
