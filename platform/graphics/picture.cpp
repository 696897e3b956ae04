#include "platform/graphics/picture.h"

#include <cstring>

#include "platform/graphics/metafile.h"
#include <new>
#include <utility>

namespace graphics {

GpStatus AllocatePicture(Picture& p, std::int64_t width, std::int64_t height, bool withAlpha) {
  if (width < 1 || height < 1)
    return Failed(Gdiplus::InvalidParameter, "no pixels (width or height below 1)");
  if (std::uint64_t(width) * std::uint64_t(height) > kMaxPixels)
    return Failed(Gdiplus::OutOfMemory, "more pixels than a picture may have");
  const std::size_t pixels = std::size_t(width) * std::size_t(height);
  p.width = static_cast<std::int32_t>(width);
  p.height = static_cast<std::int32_t>(height);
  p.bgrx.reset(new (std::nothrow) std::uint8_t[pixels * 4]);
  p.alpha.reset(withAlpha ? new (std::nothrow) std::uint8_t[pixels] : nullptr);
  p.rows.clear();
  if (!p.bgrx || (withAlpha && !p.alpha)) return Failed(Gdiplus::OutOfMemory, "no memory for the pixels");
  return Gdiplus::Ok;
}

void FinishAlpha(Picture& p) {
  if (!p.alpha) return;
  p.rows.assign(std::size_t(p.height), RowCover::kMixed);
  bool allOpaque = true;
  for (std::int32_t y = 0; y < p.height; ++y) {
    const std::uint8_t* a = p.AlphaRow(y);
    std::uint8_t all = 0xFF, any = 0;
    for (std::int32_t x = 0; x < p.width; ++x) {
      all &= a[x];
      any |= a[x];
    }
    if (all == 0xFF) p.rows[y] = RowCover::kOpaque;
    else if (any == 0) p.rows[y] = RowCover::kClear;
    allOpaque = allOpaque && all == 0xFF;
  }
  if (allOpaque) {
    p.alpha.reset();
    p.rows.clear();
  }
}

namespace {
thread_local LoadFailure lastFailure = LoadFailure::kNone;
thread_local bool truncated = false;
thread_local std::string failureReason;
}  // namespace

GpStatus Failed(GpStatus status, std::string_view reason) {
  failureReason.assign(reason);
  return status;
}
const std::string& FailureReason() { return failureReason; }
void ClearFailureReason() { failureReason.clear(); }

LoadFailure LastLoadFailure() { return lastFailure; }
void SetLoadFailure(LoadFailure failure) { lastFailure = failure; }
void NoteTruncated() { truncated = true; }
bool TakeTruncated() { return std::exchange(truncated, false); }

const char* LoadFailureWord(LoadFailure failure) {
  switch (failure) {
    case LoadFailure::kNone: return "";
    case LoadFailure::kMissing: return "missing";
    case LoadFailure::kUnreadable: return "unreadable";
    case LoadFailure::kNotAPicture: return "not-a-picture";
    case LoadFailure::kTruncated: return "truncated";
    case LoadFailure::kTooLarge: return "too-large";
    case LoadFailure::kDamaged: return "damaged";
  }
  return "";
}

GpStatus DecodePicture(std::span<const std::uint8_t> file, Picture& out) {
  auto startsWith = [&](const char* magic, std::size_t n) {
    return file.size() >= n && std::memcmp(file.data(), magic, n) == 0;
  };
  if (startsWith("\x89PNG\r\n\x1a\n", 8)) return DecodePng(file, out);
  if (startsWith("\xFF\xD8\xFF", 3)) return DecodeJpeg(file, out);
  if (startsWith("GIF87a", 6) || startsWith("GIF89a", 6)) return DecodeGif(file, out);
  if (startsWith("BM", 2)) return DecodeBmp(file, out);
  // Classic TIFF in either byte order (BigTIFF is not part of TIFF 6.0).
  if (startsWith("II*\0", 4) || startsWith("MM\0*", 4)) return DecodeTiff(file, out);
  // An icon (type 1) or cursor (type 2) directory with at least one entry.
  if (file.size() >= 6 && file[0] == 0 && file[1] == 0 && (file[2] == 1 || file[2] == 2) &&
      file[3] == 0 && (file[4] | file[5]) != 0)
    return DecodeIco(file, out);
  // Metafiles are no raster picture: GdipLoadImageFromFile parses them itself
  // (metafile.h) and plays their records when they are drawn.
  if (metafile::IsMetafile(file))
    return Failed(Gdiplus::UnknownImageFormat, "a metafile, which is played, not decoded into pixels");
  return Failed(Gdiplus::UnknownImageFormat, "the first bytes are those of no picture format decoded here");
}

}  // namespace graphics
