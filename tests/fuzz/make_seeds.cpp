// Writes the seed corpora of the fuzz targets: this program's own image for
// the image reader, and small pictures of every format and colour layout the
// decoders take (metafiles with records of several kinds among them) for the
// picture target. Run once; the output is committed.
//   make_seeds <corpus dir>   (writes <dir>/fuzz_image_reader, <dir>/fuzz_picture)
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "image/format/program_image.h"
#include "image/program_layout.h"
#include "tests/platform/graphics/ico_pictures.h"
#include "tests/platform/graphics/pictures.h"
#include "tests/platform/graphics/tiff_pictures.h"

namespace {

using graphics_test::Bytes;

void Write(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

Bytes Samples(int w, int h, int channels) {
  Bytes b(std::size_t(w) * h * channels);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = std::uint8_t(i * 37 + i / 5);
  return b;
}


void Le16(Bytes& b, unsigned v) { b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); }
void Le32(Bytes& b, std::uint32_t v) { Le16(b, v & 0xFFFF), Le16(b, v >> 16); }

// A WMF ([MS-WMF]) of 64 x 64 logical units: a pen, a brush and a font
// (objects 0, 1, 2), a line, a polygon, an ellipse, a text and a 2 x 2 DIB;
// behind the placeable header when `placeable`.
Bytes WmfSeed(bool placeable) {
  Bytes records;
  std::uint32_t longest = 0;
  auto record = [&](unsigned function, std::initializer_list<unsigned> params, const Bytes& tail = {}) {
    const std::uint32_t words = 3 + std::uint32_t(params.size()) + std::uint32_t(tail.size() / 2);
    longest = std::max(longest, words);
    Le32(records, words), Le16(records, function);
    for (unsigned p : params) Le16(records, p);
    records.insert(records.end(), tail.begin(), tail.end());
  };
  Bytes font(18, 0);
  font[0] = 12;                                 // height
  const char face[] = "Arial";                  // then the face name, 32 bytes
  font.insert(font.end(), face, face + sizeof face);
  font.resize(50, 0);
  Bytes dib;
  for (std::uint32_t v : {40u, 2u, 2u, 0x180001u, 0u, 16u, 0u, 0u, 0u, 0u}) Le32(dib, v);
  for (std::uint32_t v : {0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFFFFu}) Le32(dib, v);  // two rows of 8 bytes
  record(0x0103, {8});                                     // SetMapMode: anisotropic
  record(0x020C, {64, 64});                                // SetWindowExt
  record(0x02FA, {0, 3, 0, 0x00FF, 0});                    // CreatePenIndirect: solid, 3 wide, red
  record(0x02FC, {2, 0x8000, 0, 3});                       // CreateBrushIndirect: hatched cross, green
  record(0x02FB, {}, font);                                // CreateFontIndirect
  record(0x012D, {0}), record(0x012D, {1}), record(0x012D, {2});  // SelectObject
  record(0x0214, {4, 4}), record(0x0213, {60, 60});        // MoveTo, LineTo (y, x)
  record(0x0106, {2});                                     // SetPolyFillMode: winding
  record(0x0324, {4, 10, 2, 60, 30, 2, 30, 50, 60});       // Polygon
  record(0x0418, {62, 62, 34, 34});                        // Ellipse (bottom, right, top, left)
  record(0x0521, {2, 'M' | 'x' << 8, 40, 2});              // TextOut
  record(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 16, 16, 40, 4}, dib);  // StretchDIB, SRCCOPY
  record(0x0000, {});                                      // end of the metafile
  Bytes wmf;
  if (placeable) {
    Le32(wmf, 0x9AC6CDD7);
    for (unsigned v : {0u, 0u, 0u, 64u, 64u, 96u}) Le16(wmf, v);
    Le32(wmf, 0);
    unsigned checksum = 0;
    for (std::size_t i = 0; i < 20; i += 2) checksum ^= unsigned(wmf[i]) | unsigned(wmf[i + 1]) << 8;
    Le16(wmf, checksum);
  }
  Le16(wmf, 1), Le16(wmf, 9), Le16(wmf, 0x300);
  Le32(wmf, std::uint32_t(9 + records.size() / 2));
  Le16(wmf, 3), Le32(wmf, longest), Le16(wmf, 0);
  wmf.insert(wmf.end(), records.begin(), records.end());
  return wmf;
}

// An EMF ([MS-EMF]) of 64 x 64 pixels whose first record after the header is
// an EMF+ comment (an EMF+ header marked dual, a filled rectangle, the EMF+
// end), then a pen, a brush and a font (handles 1 to 3), a line, a polyline,
// polygons, a 2 x 2 DIB and a text.
Bytes EmfSeed() {
  Bytes body;
  std::uint32_t count = 1;  // the header
  auto record = [&](std::uint32_t type, std::initializer_list<std::uint32_t> fields, const Bytes& tail = {}) {
    Le32(body, type), Le32(body, 8 + 4 * std::uint32_t(fields.size()) + std::uint32_t(tail.size()));
    for (std::uint32_t f : fields) Le32(body, f);
    body.insert(body.end(), tail.begin(), tail.end());
    ++count;
  };
  Bytes plus;
  Le32(plus, 0x2B464D45);                                    // "EMF+"
  Le16(plus, 0x4001), Le16(plus, 1), Le32(plus, 28), Le32(plus, 16);  // header, dual
  for (std::uint32_t v : {0xDBC01002u, 1u, 96u, 96u}) Le32(plus, v);
  Le16(plus, 0x400A), Le16(plus, 0xC000), Le32(plus, 28), Le32(plus, 16);  // FillRects: colour, 16-bit
  Le32(plus, 0xFF2080C0), Le32(plus, 1);
  for (unsigned v : {4u, 4u, 20u, 10u}) Le16(plus, v);
  Le16(plus, 0x4002), Le16(plus, 0), Le32(plus, 12), Le32(plus, 0);  // end of file
  Bytes comment;
  Le32(comment, std::uint32_t(plus.size()));
  comment.insert(comment.end(), plus.begin(), plus.end());
  record(70, {}, comment);                                           // EMR_COMMENT
  record(38, {1, 0, 2, 0, 0x0000FF});                                // EMR_CREATEPEN: solid, 2 wide, red
  record(39, {2, 2, 0x008000, 5});                                   // EMR_CREATEBRUSHINDIRECT: hatched
  Bytes font(92, 0);
  font[0] = 12;
  for (std::size_t i = 0; i < 5; ++i) font[28 + 2 * i] = std::uint8_t("Arial"[i]);
  Le32(body, 82), Le32(body, 104), Le32(body, 3), body.insert(body.end(), font.begin(), font.end()), ++count;
  record(37, {1}), record(37, {2}), record(37, {3});                 // EMR_SELECTOBJECT
  record(27, {2, 2}), record(54, {60, 8});                           // EMR_MOVETOEX, EMR_LINETO
  auto points16 = [](std::initializer_list<unsigned> v) {
    Bytes b;
    for (unsigned p : v) Le16(b, p);
    return b;
  };
  record(87, {2, 10, 60, 20, 3}, points16({2, 10, 30, 20, 60, 10}));  // EMR_POLYLINE16
  record(19, {2});                                                     // EMR_SETPOLYFILLMODE: winding
  record(86, {4, 24, 40, 60, 3}, points16({4, 24, 40, 40, 20, 60}));   // EMR_POLYGON16
  record(91, {30, 30, 62, 62, 2, 7, 4, 3},                             // EMR_POLYPOLYGON16
         points16({30, 30, 62, 30, 62, 62, 30, 62, 34, 34, 58, 34, 46, 58}));
  Bytes dib;
  for (std::uint32_t v : {40u, 2u, 2u, 0x180001u, 0u, 16u, 0u, 0u, 0u, 0u}) Le32(dib, v);
  for (std::uint32_t v : {0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFFFFu}) Le32(dib, v);
  record(81, {40, 40, 56, 56, 40, 40, 0, 0, 2, 2, 80, 40, 120, 16, 0, 0x00CC0020, 16, 16}, dib);  // EMR_STRETCHDIBITS
  Bytes text;
  for (unsigned c : {'M', 'x'}) Le16(text, c);
  for (std::uint32_t dx : {7u, 7u}) Le32(text, dx);
  record(84, {4, 40, 20, 54, 1, 0, 0, 4, 40, 2, 76, 0, 0, 0, 0, 0, 80}, text);  // EMR_EXTTEXTOUTW
  record(14, {0, 16, 20});                                                     // EMR_EOF
  Bytes emf;
  Le32(emf, 1), Le32(emf, 88);
  for (std::uint32_t v : {0u, 0u, 63u, 63u, 0u, 0u, 1693u, 1693u}) Le32(emf, v);  // bounds, frame (0.01 mm)
  Le32(emf, 0x464D4520), Le32(emf, 0x10000), Le32(emf, std::uint32_t(88 + body.size())), Le32(emf, count);
  Le16(emf, 4), Le16(emf, 0);
  for (std::uint32_t v : {0u, 0u, 0u, 1920u, 1080u, 508u, 285u}) Le32(emf, v);
  emf.insert(emf.end(), body.begin(), body.end());
  return emf;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <corpus dir>\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path image = fs::path(argv[1]) / "fuzz_image_reader";
  const fs::path pic = fs::path(argv[1]) / "fuzz_picture";
  fs::create_directories(image);
  fs::create_directories(pic);
  Write(image / "program.img", image::BuildProgramImage());

  using namespace graphics_test;
  auto wave = [](int depth) {
    return [depth](int x, int y, int c) { return unsigned((x * 5 + y * 3 + c * 7) % (1 << depth)); };
  };
  const Bytes plte = {255, 0, 0, 0, 255, 0, 0, 0, 255, 250, 250, 250, 10, 10, 10};
  Write(pic / "grey1.png", MakePng(9, 5, 0, 1, false, wave(1)));
  Write(pic / "grey16.png", MakePng(5, 4, 0, 16, false, wave(16)));
  Write(pic / "rgb8-interlaced.png", MakePng(9, 9, 2, 8, true, wave(8)));
  Write(pic / "palette4-trns.png", MakePng(7, 6, 3, 4, false, [](int x, int y, int) { return unsigned(x + y) % 5; },
                                   plte, Bytes{0, 128}));
  Write(pic / "grey-alpha8.png", MakePng(6, 5, 4, 8, false, wave(8)));
  Write(pic / "rgba16.png", MakePng(4, 3, 6, 16, false, wave(16)));
  Write(pic / "grey.jpg", MakeJpeg(11, 7, 1, Samples(11, 7, 1), false));
  Write(pic / "rgb.jpg", MakeJpeg(17, 9, 3, Samples(17, 9, 3), false, 80));
  Write(pic / "rgb-progressive.jpg", MakeJpeg(10, 10, 3, Samples(10, 10, 3), true));
  Write(pic / "cmyk.jpg", MakeJpeg(8, 8, 4, Samples(8, 8, 4), false));
  // giflib takes colour maps of 2^n entries; the frame uses one index past the map.
  Bytes gifPalette = plte;
  gifPalette.resize(8 * 3, 90);
  auto indices = [](int w, int h) {
    Bytes b = Samples(w, h, 1);
    for (auto& i : b) i %= 9;
    return b;
  };
  Write(pic / "frame.gif", MakeGif(12, 10, 2, 1, 7, 6, indices(7, 6), gifPalette, 3, false));
  Write(pic / "interlaced.gif", MakeGif(9, 9, 0, 0, 9, 9, indices(9, 9), gifPalette, -1, true));
  const Bytes palette16 = Samples(4, 16, 1);  // 16 BGRX entries
  Write(pic / "1bit.bmp", MakeBmp(40, 9, 4, 1, 0, Bytes{0, 0, 0, 0, 255, 255, 255, 0}, Samples(4, 4, 1)));
  Write(pic / "4bit.bmp", MakeBmp(40, 7, 3, 4, 0, palette16, Samples(4, 3, 1)));
  Write(pic / "8bit-rle.bmp", MakeBmp(40, 6, 3, 8, 1, palette16,
                                      Bytes{3, 1, 0, 2, 2, 5, 0, 0, 0, 3, 4, 5, 6, 0, 0, 1}));
  Write(pic / "4bit-rle.bmp", MakeBmp(40, 6, 2, 4, 2, palette16, Bytes{6, 0x12, 0, 0, 4, 0x34, 0, 1}));
  Write(pic / "24bit-bottom-up.bmp", MakeBmp(40, 5, 3, 24, 0, {}, Samples(16, 3, 1)));
  Write(pic / "24bit-top-down.bmp", MakeBmp(40, 3, -4, 24, 0, {}, Samples(12, 4, 1)));
  Write(pic / "16bit-masks.bmp", MakeBmp(40, 4, 2, 16, 3, Bytes{0, 0xF8, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0},
                                         Samples(8, 2, 1)));
  Write(pic / "32bit-v5.bmp", MakeBmp(124, 3, 3, 32, 0, {}, Samples(12, 3, 1)));
  Write(pic / "16bit.bmp", MakeBmp(40, 2, 2, 16, 0, {}, Samples(4, 2, 1)));
  Write(pic / "placeable.wmf", WmfSeed(true));
  Write(pic / "plain.wmf", WmfSeed(false));
  Write(pic / "dual.emf", EmfSeed());
  WriteTiffSeeds(pic.string());
  WriteIcoSeeds(pic.string());
  return 0;
}
