// The BMP export and tile drawing routines, run in one process with the real
// runtime host and the GDI and GDI+ substitutes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/program_image.h"
#include "image/link.h"
#include "mosaic/mosaic.h"
#include "platform/graphics/gdi.h"
#include "runtime/host.h"

namespace fs = std::filesystem;

namespace {

void EnsureLoaded() {
  static bool loaded = [] {
    std::string error;
    bool ok = velmo::Host::Get().Load(app::ProgramImage(), &error);
    EXPECT_TRUE(ok) << error;
    return ok;
  }();
  ASSERT_TRUE(loaded);
}

std::uint32_t U32(const std::uint8_t* p) { std::uint32_t v; std::memcpy(&v, p, 4); return v; }
std::uint16_t U16(const std::uint8_t* p) { std::uint16_t v; std::memcpy(&v, p, 2); return v; }

struct File {
  std::vector<std::uint8_t> bytes;
  explicit File(host::Buffer b) {
    if (b) bytes.assign(host::BufferData(b), host::BufferData(b) + b->length);
    image::Svc().Free(b);
  }
  std::uint32_t u32(std::size_t o) const { return U32(bytes.data() + o); }
  std::uint16_t u16(std::size_t o) const { return U16(bytes.data() + o); }
};

// A new w x h bitmap compatible with the screen.
HBITMAP ScreenBitmap(int w, int h) {
  HDC screen = GetDC(nullptr);
  HBITMAP bm = CreateCompatibleBitmap(screen, w, h);
  ReleaseDC(nullptr, screen);
  return bm;
}

TEST(Export, A256SquareGivesTheFileItsHeadersDescribe) {
  EnsureLoaded();
  HBITMAP bm = ScreenBitmap(256, 256);
  File f(mosaic::BitmapToBmpBytes(static_cast<host::Word>(bm)));
  ASSERT_EQ(f.bytes.size(), 262198u);
  EXPECT_EQ(f.bytes[0], 'B');
  EXPECT_EQ(f.bytes[1], 'M');
  EXPECT_EQ(f.u32(2), 262198u);
  EXPECT_EQ(f.u32(6), 0u);
  EXPECT_EQ(f.u32(10), 54u);
  EXPECT_EQ(f.u32(14), 40u);
  EXPECT_EQ(f.u32(18), 256u);
  EXPECT_EQ(f.u32(22), 256u);
  EXPECT_EQ(f.u16(26), 1);
  EXPECT_EQ(f.u16(28), 32);
  EXPECT_EQ(f.u32(30), 0u);  // the query reports bit fields; the file says uncompressed
  EXPECT_EQ(f.u32(34), 262144u);
  DeleteObject(bm);
}

TEST(Export, ANullHandleGivesTheBare54ByteFile) {
  EnsureLoaded();
  File f(mosaic::BitmapToBmpBytes(0));
  ASSERT_EQ(f.bytes.size(), 54u);
  EXPECT_EQ(f.u32(2), 54u);
  EXPECT_EQ(f.u32(10), 54u);
  EXPECT_EQ(f.u32(14), 40u);
  for (std::size_t o = 18; o < 54; o += 2) EXPECT_EQ(f.u16(o), 0) << o;
}

TEST(Export, TheMonochromeBitmapOfAnEmptyMergeCarriesItsColourTable) {
  EnsureLoaded();
  HDC screen = GetDC(nullptr);
  HBITMAP mono = CreateCompatibleBitmap(screen, 0, 0);
  ReleaseDC(nullptr, screen);
  File f(mosaic::BitmapToBmpBytes(static_cast<host::Word>(mono)));
  // 14 + 40 + two colour entries + one row of 4 bytes.
  ASSERT_EQ(f.bytes.size(), 66u);
  EXPECT_EQ(f.u32(2), 66u);
  EXPECT_EQ(f.u32(10), 62u);
  EXPECT_EQ(f.u32(14), 40u);
  EXPECT_EQ(f.u16(28), 1);
  EXPECT_EQ(f.u32(54), 0x000000u);    // black
  EXPECT_EQ(f.u32(58), 0xFFFFFFu);    // white
}

TEST(Export, RowsAreStoredBottomRowFirst) {
  EnsureLoaded();
  // A 2 x 1 picture drawn into a 4 x 4 bitmap at (0, 0): its row must be the
  // file's fourth stored row.
  fs::path dir = fs::temp_directory_path() / ("mosalin-export-" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::path bmpFile = dir / "top.bmp";
  {
    // A 2 x 1 BMP: one red pixel, one green pixel.
    const std::uint8_t file[] = {'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 1, 0,
                                 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0};
    std::ofstream(bmpFile, std::ios::binary).write(reinterpret_cast<const char*>(file), sizeof file);
  }
  std::uint32_t input[4] = {1, 0, 0, 0};
  host::Word tokenWord = 0;
  image::native.GdiplusStartup(&tokenWord, input, nullptr);
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bm = CreateCompatibleBitmap(screen, 4, 4);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(mem, bm);
  std::string windows = "Z:" + bmpFile.string();
  for (char& c : windows) c = c == '/' ? '\\' : c;
  EXPECT_EQ(mosaic::DrawTile(static_cast<host::Word>(mem), windows.c_str(), 0, 0, 0.0f, 0.0f), 1u);
  // A file that does not exist draws nothing and says so.
  EXPECT_EQ(mosaic::DrawTile(static_cast<host::Word>(mem), "Z:\\no\\such.png", 1, 1, 0.0f, 0.0f), 0u);
  SelectObject(mem, old);
  File f(mosaic::BitmapToBmpBytes(static_cast<host::Word>(bm)));
  image::native.GdiplusShutdown(tokenWord);
  DeleteDC(mem);
  DeleteObject(bm);
  fs::remove_all(dir);
  ASSERT_EQ(f.bytes.size(), 54u + 64);
  const std::uint8_t* top = f.bytes.data() + 54 + 3 * 16;  // fourth stored row = top row
  EXPECT_EQ(top[0], 0);
  EXPECT_EQ(top[1], 0);
  EXPECT_EQ(top[2], 255);  // red, stored B G R
  EXPECT_EQ(top[3], 0);
  EXPECT_EQ(top[4], 0);
  EXPECT_EQ(top[5], 255);  // green
  const std::uint8_t* bottom = f.bytes.data() + 54;
  for (int i = 0; i < 16; ++i) EXPECT_EQ(bottom[i], 0) << i;
}

TEST(Concat, JoinsInOrderAndGivesTheEmptyBufferForNothing) {
  EnsureLoaded();
  host::Services svc = image::Svc();
  host::Buffer a = svc.ZeroBytes(3), b = svc.ZeroBytes(2), none = svc.ZeroBytes(0);
  std::memcpy(host::BufferData(a), "abc", 3);
  std::memcpy(host::BufferData(b), "de", 2);
  host::Buffer joined = mosaic::ConcatByteBuffers({none, a, nullptr, b});
  ASSERT_NE(joined, nullptr);
  EXPECT_EQ(joined->one, 1u);
  ASSERT_EQ(joined->length, 5u);
  EXPECT_EQ(std::memcmp(host::BufferData(joined), "abcde", 5), 0);
  EXPECT_EQ(mosaic::ConcatByteBuffers({none, nullptr}), nullptr);
  for (host::Buffer p : {a, b, none, joined}) svc.Free(p);
}

TEST(AnsiToWide, TenBytesGiveTwentyTwoAndChineseNamesConvert) {
  EnsureLoaded();
  host::Buffer w = mosaic::AnsiToWide("abcdefghij");
  ASSERT_EQ(host::BufferLength(w), 22u);
  EXPECT_EQ(host::BufferData(w)[0], 'a');
  EXPECT_EQ(host::BufferData(w)[20], 0);
  EXPECT_EQ(host::BufferData(w)[21], 0);
  image::Svc().Free(w);
  // "不规则" in code page 936 is three UTF-16 units: U+4E0D U+89C4 U+5219.
  w = mosaic::AnsiToWide("\xB2\xBB\xB9\xE6\xD4\xF2");
  ASSERT_EQ(host::BufferLength(w), 8u);
  const std::uint8_t* d = host::BufferData(w);
  EXPECT_EQ(d[0] | d[1] << 8, 0x4E0D);
  EXPECT_EQ(d[2] | d[3] << 8, 0x89C4);
  EXPECT_EQ(d[4] | d[5] << 8, 0x5219);
  image::Svc().Free(w);
}

}  // namespace

#include "tests/support/tiles.h"

namespace {

// Draws `file` into a fresh 400 x 300 bitmap with the given size arguments and
// returns the bitmap's rows (top first) as exported.
std::vector<std::uint8_t> DrawInto(const std::string& windowsPath, float w, float h, std::uint32_t* result) {
  std::uint32_t input[4] = {1, 0, 0, 0};
  host::Word token = 0;
  image::native.GdiplusStartup(&token, input, nullptr);
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bm = CreateCompatibleBitmap(screen, 400, 300);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(mem, bm);
  *result = mosaic::DrawTile(static_cast<host::Word>(mem), windowsPath.c_str(), 0, 0, w, h);
  SelectObject(mem, old);
  File f(mosaic::BitmapToBmpBytes(static_cast<host::Word>(bm)));
  image::native.GdiplusShutdown(token);
  DeleteDC(mem);
  DeleteObject(bm);
  return f.bytes;
}

bool Drawn(const std::vector<std::uint8_t>& file, int x, int y) {
  const std::uint8_t* p = file.data() + 54 + std::size_t(299 - y) * 1600 + std::size_t(x) * 4;
  return p[0] || p[1] || p[2];
}

TEST(DrawTile, OwnSizeGivenWidthAndNegativeWidth) {
  EnsureLoaded();
  fs::path dir = fs::temp_directory_path() / ("mosalin-draw-" + std::to_string(getpid()));
  fs::create_directories(dir);
  e2e::Picture pic(300, 200, {200, 100, 50, 255});
  // A picture under a foreign extension and a Chinese name ("不规则.dll").
  fs::path file = dir / "不规则.dll";
  e2e::WritePng(file, pic);
  std::string windows = "Z:" + dir.string() + "\\\xB2\xBB\xB9\xE6\xD4\xF2.dll";
  for (char& c : windows) c = c == '/' ? '\\' : c;
  std::uint32_t ok = 0;
  auto own = DrawInto(windows, 0.0f, 0.0f, &ok);
  EXPECT_EQ(ok, 1u);
  EXPECT_TRUE(Drawn(own, 299, 199));
  EXPECT_FALSE(Drawn(own, 300, 199));
  EXPECT_FALSE(Drawn(own, 299, 200));
  auto narrow = DrawInto(windows, 128.0f, 0.0f, &ok);
  EXPECT_EQ(ok, 1u);
  EXPECT_TRUE(Drawn(narrow, 127, 199));
  EXPECT_FALSE(Drawn(narrow, 128, 0));
  auto negative = DrawInto(windows, -5.0f, 0.0f, &ok);
  EXPECT_TRUE(negative == own);
  auto missing = DrawInto("Z:" + dir.string() + "\\none.png", 0.0f, 0.0f, &ok);
  EXPECT_EQ(ok, 0u);
  EXPECT_FALSE(Drawn(missing, 0, 0));
  fs::remove_all(dir);
}

}  // namespace
