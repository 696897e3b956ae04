#include "pictures.h"

#include <gif_lib.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

// jpeglib.h needs size_t and FILE before it.
#include <jpeglib.h>

#include "platform/codepage.h"
#include "platform/paths.h"

namespace graphics_test {
namespace {

void PutBe32(Bytes& b, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
}

void Chunk(Bytes& png, const char* type, const Bytes& data) {
  PutBe32(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  PutBe32(png, static_cast<std::uint32_t>(crc32(0, &png[start], static_cast<uInt>(png.size() - start))));
}

}  // namespace

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes MakePng(std::uint32_t width, std::uint32_t height, int colourType, int depth,
              bool interlaced, const std::function<unsigned(int, int, int)>& sample,
              const Bytes& plte, const Bytes& trns) {
  const int channels[] = {1, 0, 3, 1, 2, 0, 4};
  const int ch = channels[colourType];
  // Adam7 passes, or the whole picture as one pass.
  struct Pass { int x0, y0, dx, dy; };
  const std::vector<Pass> passes =
      interlaced ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                 : std::vector<Pass>{{0, 0, 1, 1}};
  Bytes raw;
  for (const Pass& p : passes) {
    for (int y = p.y0; y < int(height); y += p.dy) {
      if (p.x0 >= int(width)) break;
      raw.push_back(0);  // filter: none
      unsigned acc = 0, bits = 0;
      for (int x = p.x0; x < int(width); x += p.dx)
        for (int c = 0; c < ch; ++c) {
          const unsigned v = sample(x, y, c);
          if (depth == 16) {
            raw.push_back(static_cast<std::uint8_t>(v >> 8));
            raw.push_back(static_cast<std::uint8_t>(v));
          } else {
            acc = acc << depth | v;
            bits += depth;
            if (bits == 8) raw.push_back(static_cast<std::uint8_t>(acc)), acc = bits = 0;
          }
        }
      if (bits) raw.push_back(static_cast<std::uint8_t>(acc << (8 - bits)));
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(packedSize);
  compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9);
  packed.resize(packedSize);

  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  PutBe32(ihdr, width);
  PutBe32(ihdr, height);
  ihdr.insert(ihdr.end(), {std::uint8_t(depth), std::uint8_t(colourType), 0, 0, std::uint8_t(interlaced)});
  Chunk(png, "IHDR", ihdr);
  if (!plte.empty()) Chunk(png, "PLTE", plte);
  if (!trns.empty()) Chunk(png, "tRNS", trns);
  Chunk(png, "IDAT", packed);
  Chunk(png, "IEND", {});
  return png;
}

Bytes MakeJpeg(int width, int height, int components, const Bytes& samples, bool progressive,
               int quality) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&c, &out, &outSize);
  c.image_width = JDIMENSION(width);
  c.image_height = JDIMENSION(height);
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&samples[std::size_t(c.next_scanline) * width * components]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes result(out, out + outSize);
  std::free(out);
  return result;
}

Bytes MakeGif(int sw, int sh, int left, int top, int w, int h, const Bytes& indices,
              const Bytes& paletteRgb, int transparent, bool interlaced) {
  Bytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, [](GifFileType* g, const GifByteType* d, int n) {
    auto* o = static_cast<Bytes*>(g->UserData);
    o->insert(o->end(), d, d + n);
    return n;
  }, &error);
  const int count = int(paletteRgb.size() / 3);
  ColorMapObject* map = GifMakeMapObject(count, reinterpret_cast<const GifColorType*>(paletteRgb.data()));
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, sw, sh, 8, 0, map);
  if (transparent >= 0) {
    GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, transparent};
    GifByteType ext[4];
    EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
  }
  EGifPutImageDesc(gif, left, top, w, h, interlaced, nullptr);
  const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
  for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass)
    for (int y = interlaced ? start[pass] : 0; y < h; y += interlaced ? step[pass] : 1)
      EGifPutLine(gif, const_cast<GifPixelType*>(&indices[std::size_t(y) * w]), w);
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

namespace {

void Le16(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Le32(Bytes& b, std::uint32_t v) {
  Le16(b, v & 0xFFFF);
  Le16(b, v >> 16);
}

}  // namespace

WmfWriter& WmfWriter::Record(unsigned function, std::initializer_list<int> words, const Bytes& tail) {
  Le32(records, std::uint32_t(3 + words.size() + (tail.size() + 1) / 2));
  Le16(records, function);
  for (int w : words) Le16(records, unsigned(w) & 0xFFFF);
  records.insert(records.end(), tail.begin(), tail.end());
  if (tail.size() % 2) records.push_back(0);
  return *this;
}

Bytes WmfWriter::Finish(unsigned objects, unsigned inch, int left, int top, int right, int bottom) const {
  Bytes wmf;
  if (inch) {
    Le32(wmf, 0x9AC6CDD7);
    for (int v : {0, left, top, right, bottom, int(inch)}) Le16(wmf, unsigned(v) & 0xFFFF);
    Le32(wmf, 0);
    unsigned checksum = 0;
    for (std::size_t i = 0; i < 20; i += 2) checksum ^= unsigned(wmf[i]) | unsigned(wmf[i + 1]) << 8;
    Le16(wmf, checksum);
  }
  Le16(wmf, 1), Le16(wmf, 9), Le16(wmf, 0x300);
  Le32(wmf, std::uint32_t(9 + records.size() / 2 + 3));
  Le16(wmf, objects), Le32(wmf, 7), Le16(wmf, 0);
  wmf.insert(wmf.end(), records.begin(), records.end());
  Le32(wmf, 3), Le16(wmf, 0);  // the end record
  return wmf;
}

EmfWriter& EmfWriter::Record(std::uint32_t type, std::initializer_list<std::int32_t> values, const Bytes& tail) {
  Le32(records, type);
  Le32(records, std::uint32_t(8 + 4 * values.size() + (tail.size() + 3) / 4 * 4));
  for (std::int32_t v : values) Le32(records, std::uint32_t(v));
  records.insert(records.end(), tail.begin(), tail.end());
  while (records.size() % 4) records.push_back(0);
  return *this;
}

Bytes EmfWriter::Finish(std::array<std::int32_t, 4> bounds, std::array<std::int32_t, 4> frame, unsigned handles,
                        std::array<std::int32_t, 4> device) const {
  std::size_t count = 2;
  for (std::size_t at = 0; at < records.size(); ++count)
    at += records[at + 4] | records[at + 5] << 8 | records[at + 6] << 16 | std::size_t(records[at + 7]) << 24;
  Bytes emf;
  Le32(emf, 1), Le32(emf, 88);
  for (std::int32_t v : bounds) Le32(emf, std::uint32_t(v));
  for (std::int32_t v : frame) Le32(emf, std::uint32_t(v));
  Le32(emf, 0x464D4520), Le32(emf, 0x10000), Le32(emf, std::uint32_t(88 + records.size() + 20));
  Le32(emf, std::uint32_t(count));
  Le16(emf, handles), Le16(emf, 0);
  for (std::uint32_t v : {0u, 0u, 0u}) Le32(emf, v);
  for (std::int32_t v : device) Le32(emf, std::uint32_t(v));
  emf.insert(emf.end(), records.begin(), records.end());
  for (std::uint32_t v : {14u, 20u, 0u, 16u, 20u}) Le32(emf, v);  // EMR_EOF
  return emf;
}

Bytes MakeWmf(bool placeable) {
  WmfWriter w;
  w.Record(0x020C, {500, 1000})        // SetWindowExt
      .Record(0x02FC, {0, 0x00FF, 0, 0})  // CreateBrushIndirect: solid red
      .Record(0x012D, {0})                // SelectObject
      .Record(0x041B, {500, 1000, 0, 0});  // Rectangle
  return placeable ? w.Finish(1, 1000, 0, 0, 1000, 500) : w.Finish(1);
}

Bytes MakeEmf() {
  // A rectangle with the default brush over 100 x 50 pixels of a 96-dpi screen.
  EmfWriter e;
  e.Record(0x2B, {0, 0, 99, 49});
  return e.Finish({0, 0, 99, 49}, {0, 0, 2645, 1322});
}

Bytes MakeBmp(std::uint32_t headerSize, std::int32_t width, std::int32_t height, int bpp,
              std::uint32_t compression, const Bytes& extra, const Bytes& pixels,
              const Bytes& headerTail) {
  Bytes b(14 + headerSize, 0);
  b[0] = 'B', b[1] = 'M';
  const std::uint32_t offset = 14 + headerSize + std::uint32_t(extra.size());
  Put32(b, 10, offset);
  Put32(b, 14, headerSize);
  Put32(b, 18, std::uint32_t(width));
  Put32(b, 22, std::uint32_t(height));
  b[26] = 1;
  b[28] = static_cast<std::uint8_t>(bpp);
  Put32(b, 30, compression);
  std::copy(headerTail.begin(), headerTail.end(), b.begin() + 54);
  b.insert(b.end(), extra.begin(), extra.end());
  b.insert(b.end(), pixels.begin(), pixels.end());
  Put32(b, 2, std::uint32_t(b.size()));
  return b;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/mosalin-graphics-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
  path = pattern;
}

TempDir::~TempDir() { std::filesystem::remove_all(path); }

std::string TempDir::Write(const std::string& name, const Bytes& data) const {
  const std::string file = path + "/" + name;
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                              std::streamsize(data.size()));
  return file;
}

std::u16string WindowsPath(const std::string& posix) {
  return platform::AnsiToUtf16(platform::PosixToWindows(posix).value());
}

}  // namespace graphics_test
