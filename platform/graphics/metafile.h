// Metafiles (WMF and EMF): recognised by content, their headers read with
// every size bounded by the file, their records walked with defences, and
// their GDI records played onto a bitmap (metafile_play.cpp).
//
// Kinds, by the first bytes ([MS-WMF] 2.3.2, [MS-EMF] 2.3.4.2):
//  - placeable WMF: the key 0x9AC6CDD7, a 22-byte header whose checksum
//    (the XOR of its first ten 16-bit words) is right, then a plain WMF;
//  - plain WMF: type 1 (memory) or 2 (disk), header size 9 words, version
//    0x0100 or 0x0300;
//  - EMF: a first record of type EMR_HEADER (1), at least 88 bytes long and
//    inside the file, with the signature " EMF" (0x464D4520) at offset 40.
//    EMF+ records travel inside EMR_COMMENT records: an EMF+ header comment
//    right after EMR_HEADER makes the file EMF+ dual (its flag D set: GDI
//    records follow, and those are drawn) or EMF+ only (refused: no GDI
//    records to draw).
//
// Defences (the same walk for loading and playing):
//  - every record lies inside the file: a WMF record of at least 3 words, an
//    EMF record of at least 8 bytes and a multiple of 4; one that runs past
//    the end, or a file with no end record, is truncated (GenericError);
//  - at most kMaxRecords records: a file with more is refused (OutOfMemory,
//    as a picture beyond the limits is), so that millions of tiny records
//    cost one bounded walk at load time and never a drawing;
//  - counts inside a record (points, polygons, rectangles, characters) are
//    checked against the record's own length before they are read;
//  - object tables have the size the header gives (a 16-bit count in both
//    formats); SaveDC nests at most kMaxSavedStates deep (deeper ones are
//    ignored); a clip region holds at most kMaxClipRects rectangles;
//  - drawing costs at most kMaxWork units (a pixel written, an edge visited
//    on a scan line, a point flattened): past it the remaining records are
//    not drawn. Everything is drawn only where it meets the target
//    rectangle and the bitmap, so a huge frame costs no more than a small one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/graphics/gdiplus.h"
#include "platform/graphics/surface.h"

namespace graphics::metafile {

inline constexpr std::uint32_t kMaxRecords = 1u << 20;
inline constexpr int kMaxSavedStates = 1024;
inline constexpr std::size_t kMaxClipRects = 4096;
inline constexpr std::uint64_t kMaxWork = std::uint64_t(1) << 28;

enum class Kind : std::uint8_t { kPlaceableWmf, kWmf, kEmf };

struct Header {
  Kind kind = Kind::kEmf;
  // Where the first record starts (an EMF's is EMR_HEADER itself).
  std::size_t recordsAt = 0;
  // Placeable WMF: the bounding box in logical units and the units per inch.
  std::int32_t boxLeft = 0, boxTop = 0, boxRight = 0, boxBottom = 0;
  std::uint32_t inch = 0;
  // WMF: the size of the object table.
  std::uint32_t wmfObjects = 0;
  // EMF: rclBounds (reference device pixels, inclusive), rclFrame (0.01 mm,
  // inclusive), nHandles, and the reference device (szlDevice in pixels,
  // szlMillimeters; 96 dpi when either is not positive).
  std::int32_t bounds[4] = {}, frame[4] = {};
  std::uint32_t emfHandles = 0;
  double pixelsPerMmX = 96 / 25.4, pixelsPerMmY = 96 / 25.4;
  bool emfPlusDual = false;
  std::uint32_t records = 0;  // counted by the walk
};

// A file recognised and walked once: its bytes, its header, and the size
// that GdipGetImageDimension reports (0.01 mm, see metafile.cpp).
struct Metafile {
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t size = 0;
  Header header;
  double width = 0, height = 0;

  std::span<const std::uint8_t> Bytes() const { return {data.get(), size}; }
};

// Whether the first bytes are those of one of the three kinds (the placeable
// header's checksum included).
bool IsMetafile(std::span<const std::uint8_t> file);

// Reads the header and walks every record of `file` (whose buffer `out`
// takes): Ok; UnknownImageFormat for no metafile, a plain WMF (see
// metafile.cpp) or an EMF+-only file; GenericError for a damaged or truncated
// one; OutOfMemory beyond kMaxRecords. A reason goes with every failure
// (Failed() of picture.h).
GpStatus Parse(std::unique_ptr<std::uint8_t[]> data, std::size_t size, Metafile& out);

// Plays the records onto `target` (1 or 32 bits per pixel) with the
// metafile's frame mapped onto the rectangle x, y, w, h (pixels), clipped to
// it and to the bitmap; pixels that no record draws keep what they hold.
// Drawing stops once `budget` units of work are spent. Ok, or
// InvalidParameter for a non-finite coordinate or another depth.
GpStatus Play(const Metafile& m, const Surface& target, double x, double y, double w, double h,
              std::uint64_t budget = kMaxWork);

// One record of the walk: its type (the WMF function number or the EMF
// type), its parameters after the record's size and type, and the whole
// record.
struct Record {
  std::uint32_t type = 0;
  std::span<const std::uint8_t> params;
  std::span<const std::uint8_t> whole;
};

// Walks the records of a parsed metafile; Next is false after the end record.
class Records {
 public:
  explicit Records(const Metafile& m) : m_(m), at_(m.header.recordsAt) {}
  bool Next(Record& r);

 private:
  const Metafile& m_;
  std::size_t at_;
  bool done_ = false;
};

}  // namespace graphics::metafile
