// Helpers for the image tests: GBK bytes from readable UTF-8 literals, and
// raw little-endian reads that do not go through the image reader.
#pragma once

#include <iconv.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace image_test {

// Converts UTF-8 to code page 936 so that expected texts can be written
// readably and still be compared byte for byte.
inline std::string Gbk(std::string_view utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv has no GBK");
  std::string in(utf8), out(utf8.size() * 2 + 4, '\0');
  char* ip = in.data();
  char* op = out.data();
  std::size_t il = in.size(), ol = out.size();
  std::size_t r = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1)) throw std::runtime_error("not convertible to GBK");
  out.resize(out.size() - ol);
  return out;
}

inline std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

inline void SetU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::string CString(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::string s;
  while (b.at(at)) s += static_cast<char>(b[at++]);
  return s;
}

}  // namespace image_test
