// The built image, checked byte by byte against the layout the host relies
// on: header words, native-call table, library list, segment chain, fixups,
// identifier groups and the constant pool. Reads go straight to the bytes,
// not through the image reader.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <map>

#include "image/const_pool.h"
#include "image/format/image_format.h"
#include "image/format/program_image.h"
#include "image/globals.h"
#include "image/link_area.h"
#include "image/program_layout.h"
#include "test_support.h"

namespace {

using image_test::CString;
using image_test::Gbk;
using image_test::U32;

const std::vector<std::uint8_t>& Bytes() {
  static const auto b = image::BuildProgramImage();
  return b;
}

struct SegmentAt {
  std::uint32_t header, next, flags, memory, count, data, fixups, headerSize;
  std::string name;
};

SegmentAt SegmentHeader(std::uint32_t at) {
  const auto& b = Bytes();
  return {at,
          U32(b, at + 4),
          U32(b, at + 8),
          U32(b, at + 0x24),
          U32(b, at + 0x28),
          U32(b, at + 0x2C),
          U32(b, at + 0x30),
          U32(b, at),
          CString(b, at + 0x0C)};
}

std::vector<SegmentAt> Chain() {
  std::vector<SegmentAt> chain;
  for (std::uint32_t at = U32(Bytes(), 0x24); at != 0xFFFFFFFF && chain.size() < 16; at = chain.back().next)
    chain.push_back(SegmentHeader(at));
  return chain;
}

// Offsets that follow from the link area's fixup count.
constexpr std::uint32_t kCodeHeader = 0x1314;
const std::uint32_t kCodeBytes = kCodeHeader + 56 + 4 * 67;
const std::uint32_t kVarHeader = kCodeBytes + 10004;
const std::uint32_t kIdHeader = kVarHeader + 56;

TEST(ImageHeader, TabledWordsHold) {
  const auto& b = Bytes();
  EXPECT_EQ(b[0], 'W');
  EXPECT_EQ(b[1], 'J');
  for (std::size_t i = 2; i < 0x24; ++i) {
    EXPECT_EQ(b[i], 0) << i;
  }
  const std::map<std::uint32_t, std::uint32_t> words = {
      {0x24, 0x175},  {0x28, 1},         {0x2C, 3},      {0x30, 0},      {0x34, 0x102EC},
      {0x38, 20},     {0x3C, kCodeBytes + 0x2696},     {0x40, 0x175},  {0x44, 0x536},
      {0x48, 0x12A8}, {0x4C, kCodeHeader}, {0x50, kVarHeader}, {0x54, 0x175}};
  for (const auto& [at, v] : words) EXPECT_EQ(U32(b, at), v) << "header word 0x" << std::hex << at;
  EXPECT_EQ(b.size(), kIdHeader + 56 + 4 * (4 + 10 + 20 + 1 + 1));
  EXPECT_LE(b.size(), image::kDataSectionSize);
}

TEST(ImageHeader, NativeCallsNameTheirLibraryAndEntry) {
  const auto& b = Bytes();
  const std::uint32_t pool = 0x1AD;
  const char* const kTable[20][2] = {
      {"gdiplus.dll", "GdiplusStartup"}, {"", "GetDC"}, {"", "CreateCompatibleDC"}, {"", "CreateCompatibleBitmap"},
      {"", "ReleaseDC"}, {"", "SelectObject"}, {"gdiplus.dll", "GdiplusShutdown"},
      {"GdiPlus.dll", "GdipCreateFromHDC"}, {"GdiPlus.dll", "GdipLoadImageFromFile"},
      {"GdiPlus.dll", "GdipGetImageDimension"}, {"GdiPlus.dll", "GdipDrawImageRect"},
      {"gdiplus.dll", "GdipDisposeImage"}, {"GdiPlus.dll", "GdipDeleteGraphics"}, {"", "MultiByteToWideChar"},
      {"", "GetObjectA"}, {"", "GetDIBits"}, {"", "GetDIBits"}, {"", "RtlMoveMemory"}, {"", "RtlMoveMemory"},
      {"", "DeleteDC"}};
  for (std::uint32_t i = 0; i < 20; ++i) {
    EXPECT_EQ(CString(b, pool + U32(b, 0x58 + 4 * i)), kTable[i][0]) << i;
    EXPECT_EQ(CString(b, pool + U32(b, 0xA8 + 4 * i)), kTable[i][1]) << i;
  }
  // Repeated declarations share one name in the pool.
  EXPECT_EQ(U32(b, 0xA8 + 4 * 15), U32(b, 0xA8 + 4 * 16));
  EXPECT_EQ(U32(b, 0xA8 + 4 * 17), U32(b, 0xA8 + 4 * 18));
}

TEST(ImageHeader, LibraryListEndsWithEmptyRecordBeforeFirstSegment) {
  const auto& b = Bytes();
  EXPECT_EQ(b[0x174], 0);
  EXPECT_EQ(b[0x173], 0);  // the last record's terminator
  const std::string first = CString(b, 0xF8);
  const std::string second = CString(b, 0xF8 + first.size() + 1);
  EXPECT_EQ(0xF8 + first.size() + 1 + second.size() + 1, 0x174u);
  auto fields = [](const std::string& r) {
    std::vector<std::string> f(1);
    for (char c : r) {
      if (c == '\r') {
        f.emplace_back();
      } else {
        f.back().push_back(c);
      }
    }
    return f;
  };
  auto a = fields(first), c = fields(second);
  ASSERT_EQ(a.size(), 5u);
  ASSERT_EQ(c.size(), 5u);
  EXPECT_EQ(a[0], "velmo");
  EXPECT_EQ(a[2] + "." + a[3], "4.5");
  EXPECT_EQ(a[4], Gbk("系统核心支持库"));
  EXPECT_EQ(c[0], "panea");
  EXPECT_EQ(c[2] + "." + c[3], "1.0");
  EXPECT_EQ(c[4], Gbk("操作系统界面功能支持库"));
  // Identifiers: 32 hex digits, lower-case in the first, upper-case in the second.
  EXPECT_EQ(a[1].find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(c[1].find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(a[1].size(), 32u);
  EXPECT_EQ(c[1].size(), 32u);
}

TEST(SegmentChain, VisitsSixSegmentsBackToBack) {
  const auto chain = Chain();
  ASSERT_EQ(chain.size(), 6u);
  const char* const kNames[] = {"const", "form", "help", "code", "var", "@reloc1"};
  const std::uint32_t kHeaders[] = {0x175, 0x536, 0x12A8, kCodeHeader, kVarHeader, kIdHeader};
  const std::uint32_t kFlags[] = {1, 1, 1, 5, 0x13, 1};
  const std::uint32_t kCounts[] = {905, 3386, 52, 10004, 0, 140};
  for (std::size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(kNames[i]);
    const SegmentAt& s = chain[i];
    EXPECT_EQ(s.name, kNames[i]);
    EXPECT_EQ(s.header, kHeaders[i]);
    EXPECT_EQ(s.flags, kFlags[i]);
    EXPECT_EQ(s.count, kCounts[i]);
    EXPECT_EQ(s.headerSize, 56 + 4 * s.fixups);
    EXPECT_EQ(U32(Bytes(), s.header + 0x34), 0u);
    const std::uint32_t afterHeader = s.header + s.headerSize;
    if (s.name == "var") {
      EXPECT_EQ(s.data, 0xFFFFFFFFu);
      EXPECT_EQ(s.memory, 68u);
      EXPECT_EQ(s.next, afterHeader);
    } else {
      EXPECT_EQ(s.data, afterHeader);
      EXPECT_EQ(s.memory, s.count);
      // The @reloc1 size fields stop 4 bytes before the end of its groups.
      const std::uint32_t end = s.data + s.count + (s.name == "@reloc1" ? 4 : 0);
      EXPECT_EQ(i + 1 < 6 ? s.next : static_cast<std::uint32_t>(Bytes().size()), end);
    }
  }
  EXPECT_EQ(chain[5].next, 0xFFFFFFFFu);
  EXPECT_EQ(chain[0].data, 0x1ADu);
  EXPECT_EQ(chain[1].data, 0x56Eu);
  EXPECT_EQ(chain[2].data, 0x12E0u);
  EXPECT_EQ(chain[3].fixups, 67u);
  for (std::uint32_t i = 0; i < 52; ++i) {
    EXPECT_EQ(Bytes()[0x12E0 + i], 0);
  }
}

TEST(CodeFixups, SortedTypedAndPointingAtTheirTargets) {
  const auto& b = Bytes();
  std::map<std::uint32_t, int> perType;
  std::uint32_t last = 0;
  for (std::uint32_t i = 0; i < 67; ++i) {
    const std::uint32_t f = U32(b, kCodeHeader + 0x38 + 4 * i);
    const std::uint32_t at = f >> 3, type = f & 7, v = U32(b, kCodeBytes + at);
    if (i) {
      EXPECT_GT(at, last);
    }
    last = at;
    ++perType[type];
    // Each cell is 8 bytes: the value in the low half, zero above it.
    EXPECT_EQ(U32(b, kCodeBytes + at + 4), 0u);
    switch (type) {
      case 0: EXPECT_TRUE(v % 4 == 0 && v <= 0x30 && v != 0x1C) << v; break;
      case 1: EXPECT_LT(v, 905u); break;
      case 2: EXPECT_TRUE(v % 4 == 0 && v < 68) << v; break;
      case 3: EXPECT_EQ(v, 0x2627u) << "the type-3 fixup is FreeGlobals"; break;
      default: ADD_FAILURE() << "type " << type;
    }
  }
  EXPECT_EQ(perType, (std::map<std::uint32_t, int>{{0, 12}, {1, 37}, {2, 17}, {3, 1}}));
  // The start routine's and end routine's entry cells hold 0 until the
  // executable fills them.
  EXPECT_EQ(U32(b, kCodeBytes + 0x2696), 0u);
  EXPECT_EQ(U32(b, kCodeBytes + 0x2627), 0u);
}

TEST(IdentifierGroups, CountsAndIdentifiers) {
  const auto& b = Bytes();
  std::uint32_t at = kIdHeader + 56;
  std::vector<std::vector<std::uint32_t>> values;
  for (int g = 0; g < 4; ++g) {
    values.emplace_back();
    const std::uint32_t n = U32(b, at);
    at += 4;
    for (std::uint32_t k = 0; k < n; ++k, at += 4) values.back().push_back(U32(b, kCodeBytes + U32(b, at)));
  }
  EXPECT_EQ(at, b.size());
  EXPECT_EQ(values[0].size(), 10u);
  EXPECT_EQ(values[0][0], 0x52010001u);
  for (std::size_t k = 1; k < values[0].size(); ++k) {
    EXPECT_EQ(values[0][k] & 0xFFFFFF00, 0x16010200u);
  }
  std::vector<std::uint32_t> indices(20);
  for (std::uint32_t i = 0; i < 20; ++i) indices[i] = i;
  EXPECT_EQ(values[1], indices);
  EXPECT_EQ(values[2], std::vector<std::uint32_t>{1});
  EXPECT_EQ(values[3], std::vector<std::uint32_t>{0x0001001F});
}

// Walks the pool item by item from its first byte, so each text's length is
// checked against the offset of the item after it.
TEST(ConstPool, EveryTabledOffsetHolds) {
  const auto& b = Bytes();
  const std::uint32_t base = 0x1AD;
  struct Item {
    std::int32_t at;  // -1: not tabled
    char kind;        // 't' text, 'd' double, 'b' buffer, 'g' one zero byte
    std::string text;
    double d = 0;
  };
  auto T = [](std::int32_t at, std::string s) { return Item{at, 't', Gbk(s)}; };
  auto D = [](std::int32_t at, double d) { return Item{at, 'd', "", d}; };
  const std::string folder = "extracted_tiles";
  std::vector<Item> items = {
      T(0x000, "c:\\MapTemp\\不规则\\" + folder + "\\2x"), T(0x025, ""), T(0x026, "\\"), T(0x028, "\\*.*"),
      D(0x02D, 256.0), T(0x035, "创建位图失败!"), T(0x043, ".."), T(0x046, "."), Item{0x048, 'b', ""},
      T(0x050, "f:\\tilbern.bmp"), Item{0x05F, 'g', ""}, D(0x060, 1.0), T(0x068, "00"), T(0x06B, "0"),
      T(0x06D, ".png"), T(0x072, "\\Nodata.dll"), D(0x07E, 120.0), D(0x086, 1e-7), D(0x08E, 2.0), D(0x096, 14.0),
      T(0x09E, "c:\\tttaaa\\4x002002.png"), T(0x0B5, "c:\\tilbern.bmp"), Item{0x0C4, 'g', ""},
      T(0x0C5, "c:\\testmap\\" + folder + "\\1x\\000\\*.png"),
      T(0x0ED, "创建位图失败!可能是图片尺寸过大,正在想办法解决这个问题."), T(-1, "图片拼合并保存完成!!"),
      T(-1, "保存图片失败!"), T(-1, "选择你要拼合的图片目录:"), T(-1, "x"),
      T(-1, "目录不正确,请指定类似\"2x\"或者\"1x\"的目录,并确定小图片的前缀和目录名相同!"),
      T(-1, "此路径下没有可用的图片数据!"), T(-1, "*"), T(-1, "小图路径:"), T(-1, "请选择拼合后的图片保存地址:"),
      T(-1, "(位图文件)*.bmp|*.bmp|(所有文件)*.*|*.*"), T(-1, ".bmp"), T(0x21B, "保存在:"),
      T(0x223, "http://mosalin.cn"), T(0x235, "c:\\testmap\\" + folder + "\\4x\\*.*"), T(0x257, "gdiplus.dll"),
      T(0x263, "GdiPlus.dll"), T(0x26F, "GdiplusStartup")};
  for (const char* name : {"GetDC", "CreateCompatibleDC", "CreateCompatibleBitmap", "ReleaseDC", "SelectObject",
                           "GdiplusShutdown", "GdipCreateFromHDC", "GdipLoadImageFromFile", "GdipGetImageDimension",
                           "GdipDrawImageRect", "GdipDisposeImage", "GdipDeleteGraphics", "MultiByteToWideChar",
                           "GetObjectA", "GetDIBits", "RtlMoveMemory", "DeleteDC"})
    items.push_back(T(-1, name));
  std::uint32_t at = 0;
  for (const Item& it : items) {
    SCOPED_TRACE("pool offset " + std::to_string(at));
    if (it.at >= 0) {
      EXPECT_EQ(at, static_cast<std::uint32_t>(it.at));
    }
    switch (it.kind) {
      case 't':
        EXPECT_EQ(CString(b, base + at), it.text);
        at += static_cast<std::uint32_t>(it.text.size()) + 1;
        break;
      case 'd': {
        const std::uint64_t bits = U32(b, base + at) | std::uint64_t(U32(b, base + at + 4)) << 32;
        EXPECT_EQ(std::bit_cast<double>(bits), it.d);
        at += 8;
        break;
      }
      case 'b':
        EXPECT_EQ(U32(b, base + at), 1u);
        EXPECT_EQ(U32(b, base + at + 4), 0u);
        at += 8;
        break;
      case 'g':
        EXPECT_EQ(b[base + at], 0);
        at += 1;
        break;
    }
  }
  EXPECT_EQ(at, 905u);
  EXPECT_EQ(at, 0x388u + 1);
}

TEST(DataSection, ImageThenZeros) {
  const auto section = image::BuildDataSection();
  ASSERT_EQ(section.size(), 0x4200u);
  EXPECT_TRUE(std::equal(Bytes().begin(), Bytes().end(), section.begin()));
  for (std::size_t i = Bytes().size(); i < section.size(); ++i) ASSERT_EQ(section[i], 0) << i;
}

}  // namespace
