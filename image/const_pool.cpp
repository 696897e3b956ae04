#include "image/const_pool.h"

#include <array>
#include <bit>

#include "image/format/byte_io.h"
#include "image/native_calls.h"

namespace image {
namespace {

constexpr std::uint32_t kUntabled = 0xFFFFFFFF;

struct Decl {
  std::uint32_t tabled;  // the offset the code relies on, or kUntabled
  ConstKind kind;
  std::string_view text;
  double number;
  std::uint32_t gap;
};

constexpr Decl Text(K k, std::string_view s) { return {std::uint32_t(k), ConstKind::kText, s, 0, 0}; }
constexpr Decl Name(std::string_view s) { return {kUntabled, ConstKind::kText, s, 0, 0}; }
constexpr Decl Number(K k, double d) { return {std::uint32_t(k), ConstKind::kDouble, {}, d, 0}; }
constexpr Decl Gap(std::uint32_t n) { return {kUntabled, ConstKind::kGap, {}, 0, n}; }

// The pool in order. Nothing separates the items; where a text is shorter
// than the room before the next addressed item, a gap of zero bytes fills it.
constexpr Decl kDecls[] = {
    // c:\MapTemp\不规则\extracted_tiles\2x
    Text(K::kFixedMergeDir, "c:\\MapTemp\\\xb2\xbb\xb9\xe6\xd4\xf2\\extracted_tiles\\2x"),
    Text(K::kEmpty, ""),
    Text(K::kBackslash, "\\"),
    Text(K::kAllPattern, "\\*.*"),
    Number(K::kTileSide, 256.0),
    // 创建位图失败!
    Text(K::kBitmapFailShort, "\xb4\xb4\xbd\xa8\xce\xbb\xcd\xbc\xca\xa7\xb0\xdc!"),
    Text(K::kDotDot, ".."),
    Text(K::kDot, "."),
    {std::uint32_t(K::kEmptyBuffer), ConstKind::kEmptyBuffer, {}, 0, 0},
    Text(K::kFixedMergeOut, "f:\\tilbern.bmp"),
    Gap(1),
    Number(K::kOne, 1.0),
    Text(K::kZeroZero, "00"),
    Text(K::kZero, "0"),
    Text(K::kPngSuffix, ".png"),
    Text(K::kNodataName, "\\Nodata.dll"),
    Number(K::kProgressSteps, 120.0),
    Number(K::kSizeEpsilon, 1e-7),
    Number(K::kWideCharBytes, 2.0),
    Number(K::kFileHeaderBytes, 14.0),
    Text(K::kFixedTile, "c:\\tttaaa\\4x002002.png"),
    Text(K::kFixedTileOut, "c:\\tilbern.bmp"),
    Gap(1),
    Text(K::kFixedPngPattern, "c:\\testmap\\extracted_tiles\\1x\\000\\*.png"),
    // 创建位图失败!可能是图片尺寸过大,正在想办法解决这个问题.
    Text(K::kBitmapFailLong,
         "\xb4\xb4\xbd\xa8\xce\xbb\xcd\xbc\xca\xa7\xb0\xdc!\xbf\xc9\xc4\xdc\xca\xc7\xcd\xbc\xc6\xac"
         "\xb3\xdf\xb4\xe7\xb9\xfd\xb4\xf3,\xd5\xfd\xd4\xda\xcf\xeb\xb0\xec\xb7\xa8\xbd\xe2\xbe\xf6"
         "\xd5\xe2\xb8\xf6\xce\xca\xcc\xe2."),
    // 图片拼合并保存完成!!
    Text(K::kMergeDone, "\xcd\xbc\xc6\xac\xc6\xb4\xba\xcf\xb2\xa2\xb1\xa3\xb4\xe6\xcd\xea\xb3\xc9!!"),
    // 保存图片失败!
    Text(K::kSaveFailed, "\xb1\xa3\xb4\xe6\xcd\xbc\xc6\xac\xca\xa7\xb0\xdc!"),
    // 选择你要拼合的图片目录:
    Text(K::kFolderPrompt,
         "\xd1\xa1\xd4\xf1\xc4\xe3\xd2\xaa\xc6\xb4\xba\xcf\xb5\xc4\xcd\xbc\xc6\xac\xc4\xbf\xc2\xbc:"),
    Text(K::kLetterX, "x"),
    // 目录不正确,请指定类似"2x"或者"1x"的目录,并确定小图片的前缀和目录名相同!
    Text(K::kWrongDir,
         "\xc4\xbf\xc2\xbc\xb2\xbb\xd5\xfd\xc8\xb7,\xc7\xeb\xd6\xb8\xb6\xa8\xc0\xe0\xcb\xc6\"2x\""
         "\xbb\xf2\xd5\xdf\"1x\"\xb5\xc4\xc4\xbf\xc2\xbc,\xb2\xa2\xc8\xb7\xb6\xa8\xd0\xa1\xcd\xbc"
         "\xc6\xac\xb5\xc4\xc7\xb0\xd7\xba\xba\xcd\xc4\xbf\xc2\xbc\xc3\xfb\xcf\xe0\xcd\xac!"),
    // 此路径下没有可用的图片数据!
    Text(K::kNoTiles,
         "\xb4\xcb\xc2\xb7\xbe\xb6\xcf\xc2\xc3\xbb\xd3\xd0\xbf\xc9\xd3\xc3\xb5\xc4\xcd\xbc\xc6\xac"
         "\xca\xfd\xbe\xdd!"),
    Text(K::kStar, "*"),
    // 小图路径:
    Text(K::kTilePathLabel, "\xd0\xa1\xcd\xbc\xc2\xb7\xbe\xb6:"),
    // 请选择拼合后的图片保存地址:
    Text(K::kSavePrompt,
         "\xc7\xeb\xd1\xa1\xd4\xf1\xc6\xb4\xba\xcf\xba\xf3\xb5\xc4\xcd\xbc\xc6\xac\xb1\xa3\xb4\xe6"
         "\xb5\xd8\xd6\xb7:"),
    // (位图文件)*.bmp|*.bmp|(所有文件)*.*|*.*
    Text(K::kSaveFilter,
         "(\xce\xbb\xcd\xbc\xce\xc4\xbc\xfe)*.bmp|*.bmp|(\xcb\xf9\xd3\xd0\xce\xc4\xbc\xfe)*.*|*.*"),
    Text(K::kBmpSuffix, ".bmp"),
    // 保存在:
    Text(K::kSavePathLabel, "\xb1\xa3\xb4\xe6\xd4\xda:"),
    Text(K::kAuthorUrl, kAuthorUrl),
    Text(K::kFixedDirPattern, "c:\\testmap\\extracted_tiles\\4x\\*.*"),
    Text(K::kGdiplusLower, "gdiplus.dll"),
    Text(K::kGdiplusMixed, "GdiPlus.dll"),
    // The distinct entry names of the native-call table, in table order.
    Text(K::kEntryNames, "GdiplusStartup"),
    Name("GetDC"),
    Name("CreateCompatibleDC"),
    Name("CreateCompatibleBitmap"),
    Name("ReleaseDC"),
    Name("SelectObject"),
    Name("GdiplusShutdown"),
    Name("GdipCreateFromHDC"),
    Name("GdipLoadImageFromFile"),
    Name("GdipGetImageDimension"),
    Name("GdipDrawImageRect"),
    Name("GdipDisposeImage"),
    Name("GdipDeleteGraphics"),
    Name("MultiByteToWideChar"),
    Name("GetObjectA"),
    Name("GetDIBits"),
    Name("RtlMoveMemory"),
    Name("DeleteDC"),
};

constexpr std::size_t kItemCount = std::size(kDecls);

constexpr std::uint32_t SizeOf(const Decl& d) {
  switch (d.kind) {
    case ConstKind::kText: return static_cast<std::uint32_t>(d.text.size()) + 1;
    case ConstKind::kDouble: return 8;
    case ConstKind::kEmptyBuffer: return 8;
    case ConstKind::kGap: return d.gap;
  }
  return 0;
}

constexpr std::array<ConstItem, kItemCount> Place() {
  std::array<ConstItem, kItemCount> items{};
  std::uint32_t at = 0;
  for (std::size_t i = 0; i < kItemCount; ++i) {
    const Decl& d = kDecls[i];
    items[i] = {at, d.kind, d.text, d.number, SizeOf(d)};
    at += SizeOf(d);
  }
  return items;
}

constexpr auto kItems = Place();

constexpr bool TabledOffsetsHold() {
  for (std::size_t i = 0; i < kItemCount; ++i)
    if (kDecls[i].tabled != kUntabled && kDecls[i].tabled != kItems[i].offset) return false;
  return true;
}
static_assert(TabledOffsetsHold(), "a constant is not at the offset the code relies on");
static_assert(kItems[kItemCount - 1].offset + kItems[kItemCount - 1].size == kConstSize,
              "the constant pool does not fill the const segment exactly");

constexpr std::uint32_t TextOffset(std::string_view s) {
  for (const auto& it : kItems)
    if (it.kind == ConstKind::kText && it.text == s) return it.offset;
  throw "no such text in the constant pool";
}

struct NativeCallDecl {
  K library;
  std::string_view entry;
};

// The native-call table, from its one list (image/native_calls.h). Rows
// that declare one entry twice, for different argument types, each keep
// their own index.
constexpr NativeCallDecl kNativeDecls[] = {
#define MOSALIN_NATIVE_DECL(name, entry, library, signature) {K::library, #entry},
    MOSALIN_NATIVE_CALLS(MOSALIN_NATIVE_DECL)
#undef MOSALIN_NATIVE_DECL
};
static_assert(std::size(kNativeDecls) == kNativeCallCount, "the native-call table has kNativeCallCount rows");

constexpr std::array<NativeCallRef, kNativeCallCount> ResolveNativeCalls() {
  std::array<NativeCallRef, kNativeCallCount> refs{};
  for (std::size_t i = 0; i < kNativeCallCount; ++i)
    refs[i] = {std::uint32_t(kNativeDecls[i].library), TextOffset(kNativeDecls[i].entry)};
  return refs;
}

constexpr auto kNativeRefs = ResolveNativeCalls();

// The entry names from K::kEntryNames on are exactly the table's distinct
// entries, in table order.
constexpr bool EntryNamesInTableOrder() {
  std::size_t item = 0;
  while (item < kItemCount && kItems[item].offset != std::uint32_t(K::kEntryNames)) ++item;
  for (std::size_t i = 0; i < kNativeCallCount; ++i) {
    bool seen = false;
    for (std::size_t j = 0; j < i; ++j) seen = seen || kNativeDecls[j].entry == kNativeDecls[i].entry;
    if (seen) continue;
    if (item >= kItemCount || kItems[item].text != kNativeDecls[i].entry) return false;
    ++item;
  }
  return item == kItemCount;
}
static_assert(EntryNamesInTableOrder(), "entry names are not the native-call table's, in order");

}  // namespace

std::span<const ConstItem> ConstItems() { return kItems; }

std::span<const NativeCallRef> NativeCallTable() { return kNativeRefs; }

std::vector<std::uint8_t> BuildConstPool() {
  std::vector<std::uint8_t> pool;
  pool.reserve(kConstSize);
  for (const ConstItem& it : kItems) {
    switch (it.kind) {
      case ConstKind::kText: PutText(pool, it.text); break;
      case ConstKind::kDouble: {
        auto bits = std::bit_cast<std::uint64_t>(it.number);
        Put32(pool, static_cast<std::uint32_t>(bits));
        Put32(pool, static_cast<std::uint32_t>(bits >> 32));
        break;
      }
      case ConstKind::kEmptyBuffer:
        Put32(pool, 1);
        Put32(pool, 0);
        break;
      case ConstKind::kGap: pool.insert(pool.end(), it.size, 0); break;
    }
  }
  return pool;
}

}  // namespace image
