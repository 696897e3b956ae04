#include "tests/platform/graphics/ico_pictures.h"

#include <fstream>

namespace graphics_test {
namespace {

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

std::size_t Stride(int width, int bpp) { return (std::size_t(width) * bpp + 31) / 32 * 4; }

void Write(const std::string& file, const Bytes& data) {
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

}  // namespace

Bytes MakeIco(const std::vector<IcoEntry>& entries, int type) {
  Bytes file(6 + 16 * entries.size(), 0);
  Put16(file, 2, std::uint32_t(type));
  Put16(file, 4, std::uint32_t(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const IcoEntry& e = entries[i];
    const std::size_t at = 6 + 16 * i;
    file[at] = e.width;
    file[at + 1] = e.height;
    file[at + 2] = e.colours;
    Put16(file, at + 4, e.planes);
    Put16(file, at + 6, e.bitCount);
    Put32(file, at + 8, std::uint32_t(e.data.size()));
    Put32(file, at + 12, std::uint32_t(file.size()));
    file.insert(file.end(), e.data.begin(), e.data.end());
  }
  return file;
}

Bytes MakeIcoDib(int width, int height, int bpp, const Bytes& table,
                 const std::function<std::uint32_t(int, int)>& pixel,
                 const std::function<bool(int, int)>& masked) {
  Bytes dib(40, 0);
  Put32(dib, 0, 40);
  Put32(dib, 4, std::uint32_t(width));
  Put32(dib, 8, std::uint32_t(2 * height));
  Put16(dib, 12, 1);
  Put16(dib, 14, std::uint32_t(bpp));
  if (bpp <= 8) Put32(dib, 32, std::uint32_t(table.size() / 4));
  dib.insert(dib.end(), table.begin(), table.end());

  const std::size_t stride = Stride(width, bpp), maskStride = Stride(width, 1);
  for (int y = height - 1; y >= 0; --y) {
    Bytes row(stride, 0);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = pixel(x, y);
      if (bpp <= 8) {
        const int bit = x * bpp;
        row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - bpp - bit % 8));
      } else {
        for (int i = 0; i < bpp / 8; ++i) row[x * bpp / 8 + i] = static_cast<std::uint8_t>(v >> (8 * i));
      }
    }
    dib.insert(dib.end(), row.begin(), row.end());
  }
  for (int y = height - 1; y >= 0; --y) {
    Bytes row(maskStride, 0);
    for (int x = 0; x < width; ++x)
      if (masked(x, y)) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    dib.insert(dib.end(), row.begin(), row.end());
  }
  return dib;
}

IcoEntry EntryFor(Bytes data, int width, int height, int bpp) {
  IcoEntry e;
  e.data = std::move(data);
  e.width = static_cast<std::uint8_t>(width);  // 256 wraps to 0, as the format has it
  e.height = static_cast<std::uint8_t>(height);
  e.colours = static_cast<std::uint8_t>(bpp < 8 ? 1 << bpp : 0);
  e.bitCount = static_cast<std::uint16_t>(bpp);
  return e;
}

void WriteIcoSeeds(const std::string& dir) {
  Bytes table;
  for (int i = 0; i < 16; ++i)
    table.insert(table.end(), {std::uint8_t(i * 16), std::uint8_t(255 - i * 9), std::uint8_t(i * 5), 0});
  auto wave = [](int x, int y) { return std::uint32_t(x * 7 + y * 13) * 0x010203u; };
  auto ring = [](int x, int y) { return (x - 4) * (x - 4) + (y - 4) * (y - 4) > 12; };
  auto dib = [&](int w, int h, int bpp, const std::function<std::uint32_t(int, int)>& px) {
    const Bytes t(table.begin(), table.begin() + (bpp <= 8 ? 4 << std::min(bpp, 4) : 0));
    return EntryFor(MakeIcoDib(w, h, bpp, t, px, ring), w, h, bpp);
  };
  const auto index = [](int bits) {
    return [bits](int x, int y) { return std::uint32_t(x + y) % (1u << bits); };
  };
  Write(dir + "/1bit.ico", MakeIco({dib(9, 9, 1, index(1))}));
  Write(dir + "/4bit.ico", MakeIco({dib(10, 7, 4, index(4))}));
  Write(dir + "/8bit.ico", MakeIco({dib(8, 8, 8, index(4))}));
  Write(dir + "/16bit.ico", MakeIco({dib(5, 6, 16, wave)}));
  Write(dir + "/24bit.ico", MakeIco({dib(11, 5, 24, wave)}));
  Write(dir + "/32bit-alpha.ico",
        MakeIco({dib(9, 8, 32, [](int x, int y) { return std::uint32_t(x * 28 + y) << 24 | 0x4080C0u; })}));
  Write(dir + "/32bit-mask.ico", MakeIco({dib(8, 9, 32, wave)}));
  auto rgba = [](int x, int y, int c) { return unsigned(c == 3 ? x * 40 : x * 20 + y * 30 + c * 50) & 255; };
  const Bytes png = MakePng(7, 6, 6, 8, false, rgba);
  Write(dir + "/png-entry.ico", MakeIco({EntryFor(png, 7, 6, 32)}));
  // Several entries, the first not the smallest; a cursor with its hotspot.
  Write(dir + "/three-entries.ico",
        MakeIco({dib(12, 12, 24, wave), dib(4, 4, 8, index(2)), EntryFor(png, 7, 6, 32)}));
  IcoEntry cursor = dib(8, 8, 4, index(3));
  cursor.planes = 3, cursor.bitCount = 5;
  Write(dir + "/hotspot.cur", MakeIco({cursor, EntryFor(png, 7, 6, 32)}, 2));
}

}  // namespace graphics_test
