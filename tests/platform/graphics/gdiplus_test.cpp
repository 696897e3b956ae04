// The GDI+ flat functions end to end: start-up rules, loading files by
// Windows path and by content, drawing into a memory context's bitmap, stale
// objects, and the export tables that native calls bind to.
#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "pictures.h"
#include "platform/graphics/exports_graphics.h"
#include "platform/graphics/gdiplus.h"
#include "platform/graphics/surface.h"

namespace {

unsigned Sample(int x, int y, int c) { return c == 3 ? 255u : unsigned(x * 20 + y * 3 + c * 50) & 255; }

TEST(GdipStartup, VersionsTokensAndTheUnstartedLibrary) {
  GpGraphics* g = nullptr;
  GpImage* image = nullptr;
  const HDC dc = CreateCompatibleDC(0);
  EXPECT_EQ(GdipCreateFromHDC(dc, &g), Gdiplus::GdiplusNotInitialized);
  EXPECT_EQ(GdipLoadImageFromFile(u"Z:\\tmp\\x.png", &image), Gdiplus::GdiplusNotInitialized);

  ULONG_PTR a = 0, b = 0;
  GdiplusStartupInput input{2, 0, FALSE, FALSE};
  EXPECT_EQ(GdiplusStartup(&a, &input, nullptr), Gdiplus::UnsupportedGdiplusVersion);
  input.GdiplusVersion = 1;
  EXPECT_EQ(GdiplusStartup(nullptr, &input, nullptr), Gdiplus::InvalidParameter);
  input.SuppressBackgroundThread = TRUE;
  EXPECT_EQ(GdiplusStartup(&a, &input, nullptr), Gdiplus::InvalidParameter);
  GdiplusStartupOutput out{};
  ASSERT_EQ(GdiplusStartup(&a, &input, &out), Gdiplus::Ok);
  EXPECT_NE(out.NotificationHook, nullptr);
  input.SuppressBackgroundThread = FALSE;
  ASSERT_EQ(GdiplusStartup(&b, &input, nullptr), Gdiplus::Ok);
  EXPECT_NE(a, b);

  // Start-ups nest: the library runs until the last live token is shut down,
  // and that shut-down releases every object.
  GdiplusShutdown(a);
  GdiplusShutdown(a);
  EXPECT_EQ(GdipCreateFromHDC(dc, &g), Gdiplus::Ok);
  GdiplusShutdown(b);
  EXPECT_EQ(GdipDeleteGraphics(g), Gdiplus::GdiplusNotInitialized);
  ASSERT_EQ(GdiplusStartup(&a, &input, nullptr), Gdiplus::Ok);
  EXPECT_EQ(GdipDeleteGraphics(g), Gdiplus::InvalidParameter);
  GdiplusShutdown(a);
  DeleteDC(dc);
}

class Gdip : public ::testing::Test {
 protected:
  void SetUp() override {
    GdiplusStartupInput input{1, 0, FALSE, FALSE};
    ASSERT_EQ(GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    screen = GetDC(nullptr);
    dc = CreateCompatibleDC(screen);
    bm = CreateCompatibleBitmap(screen, 32, 32);
    saved = SelectObject(dc, bm);
    tile = dir.Write("tile.dll", graphics_test::MakePng(12, 10, 6, 8, false, Sample));  // a PNG by content
  }
  void TearDown() override {
    SelectObject(dc, saved);
    DeleteObject(bm);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    GdiplusShutdown(token);
  }
  GpStatus Load(const std::string& posix, GpImage** image) {
    return GdipLoadImageFromFile(graphics_test::WindowsPath(posix).c_str(), image);
  }
  const std::uint8_t* Pixel(int x, int y) {
    std::lock_guard lock(graphics::GdiLock());
    graphics::Surface s;
    EXPECT_TRUE(graphics::SurfaceOfBitmap(bm, &s));
    return s.bits + y * s.stride + x * 4;
  }
  ULONG_PTR token = 0;
  HDC screen = 0, dc = 0;
  HBITMAP bm = 0, saved = 0;
  graphics_test::TempDir dir;
  std::string tile;
};

TEST_F(Gdip, LoadsByContentAndDrawsAnExactCopy) {
  GpGraphics* g = nullptr;
  GpImage* image = nullptr;
  ASSERT_EQ(GdipCreateFromHDC(dc, &g), Gdiplus::Ok);
  ASSERT_EQ(Load(tile, &image), Gdiplus::Ok);
  REAL w = 0, h = 0;
  ASSERT_EQ(GdipGetImageDimension(image, &w, &h), Gdiplus::Ok);
  EXPECT_EQ(w * 100 + h, 1210.0f);
  ASSERT_EQ(GdipDrawImageRect(g, image, 20, -3, w, h), Gdiplus::Ok);
  for (int i = 0; i < 32 * 8; ++i) {
    const int x = i % 32, y = i / 32;
    const bool in = x >= 20 && y < 7;
    for (int c = 0; c < 3; ++c) ASSERT_EQ(Pixel(x, y)[2 - c], in ? Sample(x - 20, y + 3, c) : 0) << x << ',' << y;
    ASSERT_EQ(Pixel(x, y)[3], 0);
  }
  EXPECT_EQ(GdipDisposeImage(image), Gdiplus::Ok);
  EXPECT_EQ(GdipDisposeImage(image), Gdiplus::InvalidParameter);
  EXPECT_EQ(GdipGetImageDimension(image, &w, &h), Gdiplus::InvalidParameter);
  EXPECT_EQ(GdipDrawImageRect(g, image, 0, 0, 1, 1), Gdiplus::InvalidParameter);
  EXPECT_EQ(GdipDeleteGraphics(g), Gdiplus::Ok);
  EXPECT_EQ(GdipDeleteGraphics(g), Gdiplus::InvalidParameter);
}

TEST_F(Gdip, FileAndArgumentFailures) {
  GpImage* image = nullptr;
  setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);  // no drive table: only Z: exists
  EXPECT_EQ(GdipLoadImageFromFile(u"Q:\\unmapped\\x.png", &image), Gdiplus::FileNotFound);
  EXPECT_EQ(Load(dir.path + "/missing.png", &image), Gdiplus::FileNotFound);
  EXPECT_EQ(Load(dir.path + "/no/such/dir/x.png", &image), Gdiplus::FileNotFound);
  EXPECT_EQ(Load(dir.path, &image), Gdiplus::Win32Error);
  // Content that is no picture GDI+ decodes: the status GDI+ gives for it.
  EXPECT_EQ(Load(dir.Write("text.png", {'n', 'o', 't', ' ', 'p', 'n', 'g'}), &image), Gdiplus::OutOfMemory);
  graphics_test::Bytes cut = graphics_test::MakePng(12, 10, 6, 8, false, Sample);
  cut.resize(cut.size() - 30);
  EXPECT_EQ(Load(dir.Write("cut.png", cut), &image), Gdiplus::GenericError);
  EXPECT_EQ(GdipLoadImageFromFile(nullptr, &image), Gdiplus::InvalidParameter);
  EXPECT_EQ(GdipLoadImageFromFile(u"Z:\\tmp", nullptr), Gdiplus::InvalidParameter);
  // A Chinese file name reaches the file through the path map.
  ASSERT_EQ(Load(dir.Write("\xE7\x93\xA6\xE7\x89\x87.png", graphics_test::MakePng(2, 2, 6, 8, false, Sample)), &image),
            Gdiplus::Ok);
  EXPECT_EQ(GdipGetImageDimension(image, nullptr, nullptr), Gdiplus::InvalidParameter);

  GpGraphics* g = nullptr;
  EXPECT_EQ(GdipCreateFromHDC(screen, &g), Gdiplus::InvalidParameter);  // the screen has no pixels
  EXPECT_EQ(GdipCreateFromHDC(0, &g), Gdiplus::InvalidParameter);
  EXPECT_EQ(GdipCreateFromHDC(dc, nullptr), Gdiplus::InvalidParameter);
  EXPECT_EQ(GdipDeleteGraphics(reinterpret_cast<GpGraphics*>(0x7fff0000dead)), Gdiplus::InvalidParameter);
  EXPECT_EQ(GdipDisposeImage(nullptr), Gdiplus::InvalidParameter);
  const HDC temp = CreateCompatibleDC(0);  // deleted after the graphics was made
  ASSERT_EQ(GdipCreateFromHDC(temp, &g), Gdiplus::Ok);
  DeleteDC(temp);
  EXPECT_EQ(GdipDrawImageRect(g, image, 0, 0, 2, 2), Gdiplus::Win32Error);
  GdipDisposeImage(image);
  GdipDeleteGraphics(g);
}

// Metafiles load by content: their dimension is their frame in 0.01 mm, and
// drawing plays their records into the target rectangle over what the
// bitmap holds. A WMF without the placeable header, and formats that GDI+
// itself has no decoder for, fail the load with the status GDI+ gives for a
// file it cannot decode.
TEST_F(Gdip, MetafilesPlayAndFormatsWithoutADecoderFailTheLoad) {
  using graphics_test::Bytes;
  GpGraphics* g = nullptr;
  ASSERT_EQ(GdipCreateFromHDC(dc, &g), Gdiplus::Ok);
  const std::pair<Bytes, REAL> metafiles[] = {{graphics_test::MakeWmf(true), 2540 * 100 + 1270},
                                              {graphics_test::MakeEmf(), 2645 * 100 + 1322}};
  for (const auto& [file, size] : metafiles) {
    GpImage* image = nullptr;
    ASSERT_EQ(Load(dir.Write("picture.png", file), &image), Gdiplus::Ok);
    REAL w = 0, h = 0;
    ASSERT_EQ(GdipGetImageDimension(image, &w, &h), Gdiplus::Ok);
    EXPECT_EQ(w * 100 + h, size);
    EXPECT_EQ(GdipDisposeImage(image), Gdiplus::Ok);
  }
  // The WMF's red rectangle (black outline) onto 20 x 10 pixels at 2, 4.
  GpImage* image = nullptr;
  ASSERT_EQ(Load(dir.Write("placeable.wmf", graphics_test::MakeWmf(true)), &image), Gdiplus::Ok);
  ASSERT_EQ(GdipDrawImageRect(g, image, 2, 4, 20, 10), Gdiplus::Ok);
  EXPECT_EQ(Pixel(2, 4)[2] | Pixel(21, 13)[2], 0);
  EXPECT_EQ(Pixel(5, 6)[2], 255);
  EXPECT_EQ(Pixel(5, 6)[0], 0);
  EXPECT_EQ(Pixel(22, 6)[3] | Pixel(1, 6)[2] | Pixel(5, 14)[2], 0);  // outside: as the bitmap was
  GdipDisposeImage(image);
  GdipDeleteGraphics(g);

  // The bytes of a literal, zeros inside it included.
  auto bytes = [](const auto& literal) { return Bytes(std::begin(literal), std::end(literal) - 1); };
  Bytes webp = bytes("RIFF\x1a\0\0\0WEBPVP8 \x0e\0\0\0");
  webp.resize(34, 0);
  const Bytes avif = bytes("\0\0\0\x1c" "ftypavif\0\0\0\0avifmif1miaf");
  Bytes noise(4096);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = std::uint8_t(i * 131 + (i >> 3) * 7);

  const std::pair<const char*, Bytes> files[] = {
      {"plain.wmf", graphics_test::MakeWmf(false)},
      {"picture.webp", webp},
      {"picture.avif", avif},
      {"picture.svg", bytes("<svg xmlns='http://www.w3.org/2000/svg' width='8' height='8'/>")},
      {"noise.png", noise},
      {"empty.png", {}},
  };
  for (const auto& [name, bytes] : files) {
    GpImage* image = nullptr;
    EXPECT_EQ(Load(dir.Write(name, bytes), &image), Gdiplus::OutOfMemory) << name;
    EXPECT_EQ(image, nullptr) << name;
  }
}

TEST_F(Gdip, ExportsBindByNameAndUnpackWords) {
  platform::RegisterGraphicsExports();
  const std::pair<const char*, int> gdi[] = {{"GetDC", 1}, {"CreateCompatibleDC", 1}, {"CreateCompatibleBitmap", 3},
      {"ReleaseDC", 2}, {"SelectObject", 2}, {"GetObjectA", 3}, {"GetDIBits", 7}, {"DeleteDC", 1}};
  const std::pair<const char*, int> gdip[] = {{"GdiplusStartup", 3}, {"GdiplusShutdown", 1},
      {"GdipCreateFromHDC", 2}, {"GdipLoadImageFromFile", 2}, {"GdipGetImageDimension", 3},
      {"GdipDrawImageRect", 6}, {"GdipDisposeImage", 1}, {"GdipDeleteGraphics", 1}};
  for (auto [name, count] : gdi) EXPECT_EQ(platform::FindExport("", name)->args.count, count) << name;
  for (auto [name, count] : gdip) EXPECT_EQ(platform::FindExport("GdiPlus.DLL", name)->args.count, count) << name;
  EXPECT_EQ(platform::FindExport("", "GdipDrawImageRect"), nullptr);  // not a system library
  auto call = [](const char* name, std::initializer_list<host::Word> words) {
    return platform::FindExport(std::string(name).starts_with("Gdi") ? "gdiplus.dll" : "gdi32.dll", name)->thunk(words.begin());
  };
  GpGraphics* g = nullptr;
  GpImage* image = nullptr;
  const std::u16string path = graphics_test::WindowsPath(tile);
  ASSERT_EQ(call("GdipCreateFromHDC", {dc, reinterpret_cast<host::Word>(&g)}), 0u);
  ASSERT_EQ(call("GdipLoadImageFromFile", {reinterpret_cast<host::Word>(path.c_str()), reinterpret_cast<host::Word>(&image)}), 0u);
  auto real = [](float f) { return host::Word(std::bit_cast<std::uint32_t>(f)); };  // REAL: bits in the low half
  ASSERT_EQ(call("GdipDrawImageRect", {reinterpret_cast<host::Word>(g), reinterpret_cast<host::Word>(image),
                                       real(4), real(5), real(12), real(10)}), 0u);
  EXPECT_EQ(Pixel(7, 7)[1], Sample(3, 2, 1));
  EXPECT_EQ(call("GdipDisposeImage", {reinterpret_cast<host::Word>(image)}), 0u);
  EXPECT_EQ(call("GdipDisposeImage", {reinterpret_cast<host::Word>(image)}), 2u);
  EXPECT_EQ(call("GdipDeleteGraphics", {reinterpret_cast<host::Word>(g)}), 0u);
  EXPECT_EQ(call("CreateCompatibleBitmap", {screen, host::Word(-5), 10}), 0u);  // a negative int
}

}  // namespace
