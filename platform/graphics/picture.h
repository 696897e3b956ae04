// A decoded picture, in the form the drawing code wants it, and the decoders
// that make one from a file's bytes.
//
// Limits: a picture has at least 1 x 1 and at most kMaxPixels pixels
// (64 Mi pixels: 256 MiB of colour, e.g. 8192 x 8192). The check comes from
// the header, before any large allocation; a picture beyond it gives
// OutOfMemory, as an allocation that fails does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/graphics/gdiplus.h"

namespace graphics {

inline constexpr std::uint64_t kMaxPixels = std::uint64_t(1) << 26;

// How a row of the picture covers what lies below it.
enum class RowCover : std::uint8_t { kOpaque, kClear, kMixed };

struct Picture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  // Rows top-down, blue, green, red, 0 per pixel: the destination's own
  // format, so that opaque spans are copied as they are.
  std::unique_ptr<std::uint8_t[]> bgrx;
  // One alpha byte per pixel (255 opaque), or null when every pixel is opaque.
  std::unique_ptr<std::uint8_t[]> alpha;
  // Per row, with `alpha` only.
  std::vector<RowCover> rows;

  bool Opaque() const { return !alpha; }
  const std::uint8_t* Row(std::int32_t y) const { return bgrx.get() + std::size_t(y) * width * 4; }
  const std::uint8_t* AlphaRow(std::int32_t y) const {
    return alpha.get() + std::size_t(y) * width;
  }
};

// Prepares `p` for a width x height picture: checks the limits and allocates
// the colour rows (uninitialised) and, when `withAlpha`, the alpha plane.
// Ok, InvalidParameter (a side below 1) or OutOfMemory.
GpStatus AllocatePicture(Picture& p, std::int64_t width, std::int64_t height, bool withAlpha);

// After a decoder has filled `alpha`: classifies the rows, and drops the
// plane when every pixel is opaque.
void FinishAlpha(Picture& p);

// Decoders. Each takes the whole file and returns Ok with a complete picture,
// or a failure status: OutOfMemory beyond the limits, GenericError for
// corrupt or truncated data, UnknownImageFormat for variants not decoded.
GpStatus DecodePng(std::span<const std::uint8_t> file, Picture& out);
GpStatus DecodeJpeg(std::span<const std::uint8_t> file, Picture& out);
GpStatus DecodeGif(std::span<const std::uint8_t> file, Picture& out);
GpStatus DecodeBmp(std::span<const std::uint8_t> file, Picture& out);
// TIFF (libtiff): the first image of the file.
GpStatus DecodeTiff(std::span<const std::uint8_t> file, Picture& out);
// Icons and cursors: the entry that GDI+ draws of the file's directory.
GpStatus DecodeIco(std::span<const std::uint8_t> file, Picture& out);

// Chooses the decoder by the first bytes; UnknownImageFormat when none fits.
GpStatus DecodePicture(std::span<const std::uint8_t> file, Picture& out);

// Why a load failed, beyond its status: GDI+ gives the same status to a file
// that is no picture and one that is too large, and to corrupt and truncated
// data. Kept per thread for the last load made on it.
enum class LoadFailure { kNone, kMissing, kUnreadable, kNotAPicture, kTruncated, kTooLarge, kDamaged };
LoadFailure LastLoadFailure();
void SetLoadFailure(LoadFailure failure);
// "missing", "unreadable", "not-a-picture", "truncated", "too-large",
// "damaged"; "" for kNone.
const char* LoadFailureWord(LoadFailure failure);
// A decoder found that the data ends before the picture does; a GenericError
// from DecodePicture is then a truncated file rather than a damaged one.
void NoteTruncated();
bool TakeTruncated();

// A decoder's failure in its own words ("BMP: the colour table ends before
// its last entry"): kept per thread with the status it returns, so that the
// load that failed can say why on the trace channel (platform/trace.h).
GpStatus Failed(GpStatus status, std::string_view reason);
// The reason of the last failure on this thread; "" when none was given.
const std::string& FailureReason();
void ClearFailureReason();

}  // namespace graphics
