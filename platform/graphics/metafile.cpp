// Recognising, sizing and walking metafiles (metafile.h).
//
// The size GdipGetImageDimension reports. GdipGetImageDimension is the flat
// function behind GDI+'s Image::GetPhysicalDimension and behind
// System.Drawing's Image.PhysicalDimension, whose documentation (Microsoft
// Learn, Image.PhysicalDimension, Remarks) says: "If the image is a bitmap,
// the width and height are returned in pixels. If the image is a metafile,
// the width and height are returned in 0.01 millimeter units".
// So a metafile's dimension is its frame in 0.01 mm:
//  - placeable WMF: the bounding box is in logical units of which `Inch` make
//    one inch ([MS-WMF] 2.3.2.3 META_PLACEABLE: "Inch: the number of logical
//    units per inch"), so width = |Right - Left| * 2540 / Inch and height =
//    |Bottom - Top| * 2540 / Inch. An Inch of 0 or an empty box is damaged.
//  - EMF: rclFrame is "the rectangular inclusive-inclusive dimensions, in
//    .01 millimeter units, of a drawing surface" ([MS-EMF] 2.2.9 Header), so
//    width = right - left and height = bottom - top (GDI+'s MetafileHeader
//    gives Width and Height as the frame's differences converted to the
//    reference device, Metafile::GetMetafileHeader). A frame with no area
//    falls back to rclBounds (reference pixels, inclusive) converted through
//    the reference device's szlDevice / szlMillimeters.
//  - plain WMF (no placeable header): GDI+ opens a WMF from a file only with
//    the placeable header (its WMF decoder's signature is the placeable key;
//    without it there is no size: a plain WMF's extents are whatever its
//    records set). It is recognised here, so the trace can say what it is,
//    and refused as a format not decoded (UnknownImageFormat, which
//    GdipLoadImageFromFile reports as OutOfMemory).
#include "platform/graphics/metafile.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <string>

#include "host/little_endian.h"
#include "platform/graphics/picture.h"

namespace graphics::metafile {
namespace {

using host::Le16;
using host::Le32;
// Signed fields, as both formats store most coordinates.
constexpr auto S16 = host::LeSigned16;
constexpr auto S32 = host::LeSigned32;

constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr std::uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr std::uint32_t kEmfPlusIdentifier = 0x2B464D45;  // "EMF+"
constexpr std::uint32_t kEmrHeader = 1, kEmrEof = 14, kEmrComment = 70;
constexpr std::uint16_t kEmfPlusHeader = 0x4001;
constexpr std::size_t kPlaceableBytes = 22, kWmfHeaderBytes = 18, kEmfHeaderMin = 88;

bool PlainWmfAt(std::span<const std::uint8_t> f, std::size_t at) {
  if (f.size() < at + kWmfHeaderBytes) return false;
  const std::uint16_t type = Le16(&f[at]), words = Le16(&f[at + 2]), version = Le16(&f[at + 4]);
  return (type == 1 || type == 2) && words == 9 && (version == 0x0100 || version == 0x0300);
}

bool PlaceableChecksumRight(std::span<const std::uint8_t> f) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < 20; i += 2) sum ^= Le16(&f[i]);
  return sum == Le16(&f[20]);
}

std::optional<Kind> KindOf(std::span<const std::uint8_t> f) {
  if (f.size() >= kPlaceableBytes && Le32(f.data()) == kPlaceableKey)
    return PlaceableChecksumRight(f) && PlainWmfAt(f, kPlaceableBytes) ? std::optional(Kind::kPlaceableWmf)
                                                                       : std::nullopt;
  if (PlainWmfAt(f, 0)) return Kind::kWmf;
  if (f.size() >= kEmfHeaderMin && Le32(f.data()) == kEmrHeader && Le32(&f[4]) >= kEmfHeaderMin &&
      Le32(&f[4]) <= f.size() && Le32(&f[40]) == kEmfSignature)
    return Kind::kEmf;
  return std::nullopt;
}


}  // namespace

bool IsMetafile(std::span<const std::uint8_t> file) { return KindOf(file).has_value(); }

bool Records::Next(Record& r) {
  if (done_) return false;
  const std::span<const std::uint8_t> f = m_.Bytes();
  const bool wmf = m_.header.kind != Kind::kEmf;
  const std::size_t headBytes = wmf ? 6 : 8;
  if (f.size() < at_ || f.size() - at_ < headBytes) return done_ = true, false;
  const std::uint8_t* p = &f[at_];
  const std::uint64_t bytes = wmf ? std::uint64_t(Le32(p)) * 2 : Le32(p + 4);
  if (bytes < headBytes || bytes > f.size() - at_ || (!wmf && bytes % 4 != 0)) return done_ = true, false;
  r.type = wmf ? Le16(p + 4) : Le32(p);
  r.whole = f.subspan(at_, std::size_t(bytes));
  r.params = r.whole.subspan(headBytes);
  at_ += std::size_t(bytes);
  if (r.type == (wmf ? 0u : kEmrEof)) done_ = true;
  return true;
}

GpStatus Parse(std::unique_ptr<std::uint8_t[]> data, std::size_t size, Metafile& out) {
  out.data = std::move(data);
  out.size = size;
  const std::span<const std::uint8_t> f = out.Bytes();
  const std::optional<Kind> kind = KindOf(f);
  if (!kind) return Failed(Gdiplus::UnknownImageFormat, "not a metafile");
  Header& h = out.header;
  h = Header{};
  h.kind = *kind;
  if (h.kind == Kind::kWmf)
    return Failed(Gdiplus::UnknownImageFormat,
                  "a WMF without the placeable header, which GDI+ does not open from a file (it has no size)");

  if (h.kind == Kind::kPlaceableWmf) {
    h.boxLeft = S16(&f[6]), h.boxTop = S16(&f[8]), h.boxRight = S16(&f[10]), h.boxBottom = S16(&f[12]);
    h.inch = Le16(&f[14]);
    h.wmfObjects = Le16(&f[kPlaceableBytes + 10]);
    h.recordsAt = kPlaceableBytes + kWmfHeaderBytes;
    if (h.inch == 0) return Failed(Gdiplus::GenericError, "WMF: a placeable header of 0 units per inch");
    out.width = std::abs(double(h.boxRight) - h.boxLeft) * 2540 / h.inch;
    out.height = std::abs(double(h.boxBottom) - h.boxTop) * 2540 / h.inch;
    if (out.width == 0 || out.height == 0) return Failed(Gdiplus::GenericError, "WMF: an empty bounding box");
  } else {
    for (int i = 0; i < 4; ++i) h.bounds[i] = S32(&f[8 + 4 * i]), h.frame[i] = S32(&f[24 + 4 * i]);
    h.emfHandles = Le16(&f[56]);
    const std::int32_t devX = S32(&f[72]), devY = S32(&f[76]), mmX = S32(&f[80]), mmY = S32(&f[84]);
    if (devX > 0 && mmX > 0) h.pixelsPerMmX = double(devX) / mmX;
    if (devY > 0 && mmY > 0) h.pixelsPerMmY = double(devY) / mmY;
    h.recordsAt = 0;
    out.width = double(h.frame[2]) - h.frame[0];
    out.height = double(h.frame[3]) - h.frame[1];
    if (out.width <= 0 || out.height <= 0) {
      out.width = (double(h.bounds[2]) - h.bounds[0] + 1) / h.pixelsPerMmX * 100;
      out.height = (double(h.bounds[3]) - h.bounds[1] + 1) / h.pixelsPerMmY * 100;
    }
    if (!(out.width > 0 && out.height > 0)) return Failed(Gdiplus::GenericError, "EMF: neither frame nor bounds has an area");
  }

  // The walk: every record inside the file, an end record, a bounded count.
  Records walk(out);
  Record r;
  std::uint32_t count = 0;
  bool ended = false;
  while (walk.Next(r)) {
    if (++count > kMaxRecords) return Failed(Gdiplus::OutOfMemory, "more records than a metafile may have here");
    if (h.kind == Kind::kEmf) {
      if (count == 1 && r.type != kEmrHeader) return Failed(Gdiplus::GenericError, "EMF: no header record");
      if (count == 2 && r.type == kEmrComment && r.params.size() >= 8 + 16 && Le32(&r.params[4]) == kEmfPlusIdentifier &&
          Le16(&r.params[8]) == kEmfPlusHeader) {
        // EmfPlusHeader ([MS-EMFPLUS] 2.3.3.3): flag D (bit 0) marks an EMF+ dual file.
        h.emfPlusDual = (Le16(&r.params[10]) & 1) != 0;
        if (!h.emfPlusDual)
          return Failed(Gdiplus::UnknownImageFormat, "EMF+ only: no GDI records to draw (EMF+ is not played here)");
      }
      if (r.type == kEmrEof) ended = true;
    } else if (r.type == 0) {
      ended = true;
    }
  }
  h.records = count;
  if (!ended) {
    NoteTruncated();
    return Failed(Gdiplus::GenericError, "metafile: a record runs past the end of the file, or no end record");
  }
  return Gdiplus::Ok;
}

}  // namespace graphics::metafile
