// The BMP file made from a bitmap: the platform reports the bitmap's format and
// hands over its rows; the file is the 14-byte file header, the information
// block and the rows, joined in one byte buffer.
#include <cstring>

#include "image/link.h"
#include "mosaic/mosaic.h"

namespace mosaic {
namespace {

using host::Word;
using image::native;
using image::pool;

// The platform records, as the platform lays them out.
struct BitmapRecord {  // BITMAP, 24 bytes
  std::int32_t type, width, height, widthBytes;
  std::uint16_t planes, bitsPerPixel;
  std::uint32_t bits;
};
static_assert(sizeof(BitmapRecord) == 24);

struct InfoHeader {  // BITMAPINFOHEADER, 40 bytes
  std::uint32_t size;
  std::int32_t width, height;
  std::uint16_t planes, bitCount;
  std::uint32_t compression, sizeImage;
  std::int32_t xPelsPerMeter, yPelsPerMeter;
  std::uint32_t clrUsed, clrImportant;
};
static_assert(sizeof(InfoHeader) == 40);

#pragma pack(push, 2)
struct FileHeader {  // BITMAPFILEHEADER, 14 bytes, packed
  std::uint16_t type;
  std::uint32_t size;
  std::uint16_t reserved1, reserved2;
  std::uint32_t offBits;
};
#pragma pack(pop)
static_assert(sizeof(FileHeader) == 14);

// The information record holds the header and room for the largest colour
// table a bitmap can need (256 entries), so that fetching the rows of a
// bitmap with a colour table overwrites nothing.
constexpr std::uint32_t kMaxColourEntries = 256;
constexpr std::uint32_t kInfoRecordSize = sizeof(InfoHeader) + 4 * kMaxColourEntries;

// Bytes of the colour table that follows the information header in the file:
// none for 16 bits per pixel and more.
std::uint32_t ColourTableBytes(const InfoHeader& h) {
  if (h.bitCount == 0 || h.bitCount > 8) return 0;
  std::uint32_t entries = h.clrUsed ? h.clrUsed : 1u << h.bitCount;
  if (entries > kMaxColourEntries) entries = kMaxColourEntries;
  return 4 * entries;
}

}  // namespace

host::Buffer ConcatByteBuffers(std::initializer_list<const host::BufferHeader*> parts) {
  std::uint64_t total = 0;
  for (const host::BufferHeader* p : parts) total += host::BufferLength(p);
  if (total == 0 || total > 0xFFFFFFFFull - sizeof(host::BufferHeader)) return nullptr;
  auto* joined = static_cast<host::BufferHeader*>(
      image::Svc().Allocate(static_cast<std::uint32_t>(total + sizeof(host::BufferHeader))));
  joined->one = 1;
  joined->length = static_cast<std::uint32_t>(total);
  std::uint8_t* out = host::BufferData(joined);
  for (const host::BufferHeader* p : parts) {
    std::uint32_t n = host::BufferLength(p);
    if (n == 0) continue;
    std::memcpy(out, host::BufferData(p), n);
    out += n;
  }
  return joined;
}

host::Buffer BitmapToBmpBytes(Word bitmap) {
  const host::Services svc = image::Svc();

  // The working records, all fields zero.
  auto* bm = static_cast<BitmapRecord*>(svc.Allocate(sizeof(BitmapRecord)));
  auto* info = static_cast<std::uint8_t*>(svc.Allocate(kInfoRecordSize));
  auto* file = static_cast<FileHeader*>(svc.Allocate(sizeof(FileHeader)));
  std::memset(bm, 0, sizeof *bm);
  std::memset(info, 0, kInfoRecordSize);
  std::memset(file, 0, sizeof *file);
  auto* header = reinterpret_cast<InfoHeader*>(info);

  // The bitmap's height.
  native.GetObjectA(bitmap, sizeof(BitmapRecord), bm);
  // A context for the two row queries; the bitmap is never selected into it.
  Word dc = native.CreateCompatibleDC(0);
  // Format query: a depth of 0 makes the platform fill the header.
  header->size = sizeof(InfoHeader);
  native.GetDIBitsQuery(dc, bitmap, 0, 0, 0, info, 0);
  // The pixel buffer, as large as the query says.
  host::Buffer pixels = svc.ZeroBytes(static_cast<std::int32_t>(header->sizeImage));
  // Uncompressed, whatever the query reported.
  header->compression = 0;
  // All rows, bottom-up.
  native.GetDIBitsFetch(dc, bitmap, 0, static_cast<std::uint32_t>(bm->height), host::BufferData(pixels), info, 0);
  // The information block: the header and the colour table the rows need.
  std::uint32_t blockSize = header->size + ColourTableBytes(*header);
  host::Buffer infoBlock = svc.ZeroBytes(static_cast<std::int32_t>(blockSize));
  native.RtlMoveMemoryInfoHeader(host::BufferData(infoBlock), info, blockSize);
  // The file header; the sums in double precision, truncated.
  file->type = 0x4D42;  // "BM"
  double offBits = static_cast<double>(blockSize) + pool.fileHeaderBytes;
  file->offBits = static_cast<std::uint32_t>(static_cast<std::int64_t>(offBits));
  double size = offBits + static_cast<double>(header->sizeImage);
  file->size = static_cast<std::uint32_t>(static_cast<std::int64_t>(size));
  // The header buffer.
  host::Buffer fileBlock = svc.ZeroBytes(sizeof(FileHeader));
  native.RtlMoveMemoryFileHeader(host::BufferData(fileBlock), file, sizeof(FileHeader));
  // The context is no longer needed.
  native.DeleteDC(dc);
  // The file, in one buffer.
  host::Buffer result = ConcatByteBuffers({fileBlock, infoBlock, pixels});
  // Release the records and the parts.
  svc.Free(bm);
  svc.Free(info);
  svc.Free(file);
  svc.Free(fileBlock);
  svc.Free(infoBlock);
  svc.Free(pixels);
  return result;
}

}  // namespace mosaic
