// Little-endian reading and writing for the program image's layout.
//
// The reader side is a bounded cursor: every read checks the bytes left
// before it touches them and fails (returns false) instead of reading past the
// end, so code that parses untrusted image bytes never leaves its span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/little_endian.h"

namespace image {

inline std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) { return host::Le32(&b[at]); }

inline void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void Put32At(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void PutBytes(std::vector<std::uint8_t>& out, std::string_view s) {
  out.insert(out.end(), s.begin(), s.end());
}

// A zero-terminated text.
inline void PutText(std::vector<std::uint8_t>& out, std::string_view s) {
  PutBytes(out, s);
  out.push_back(0);
}

// A cursor over [begin, end) of a span. Reads past `end` fail and leave the
// cursor where it was.
class Cursor {
 public:
  Cursor(std::span<const std::uint8_t> bytes, std::size_t begin, std::size_t end)
      : bytes_(bytes), pos_(begin), end_(end < bytes.size() ? end : bytes.size()) {}
  explicit Cursor(std::span<const std::uint8_t> bytes) : Cursor(bytes, 0, bytes.size()) {}

  std::size_t pos() const { return pos_; }
  std::size_t remaining() const { return pos_ < end_ ? end_ - pos_ : 0; }

  bool U32(std::uint32_t& v) {
    if (remaining() < 4) return false;
    v = Get32(bytes_, pos_);
    pos_ += 4;
    return true;
  }
  bool I32(std::int32_t& v) {
    std::uint32_t u;
    if (!U32(u)) return false;
    v = static_cast<std::int32_t>(u);
    return true;
  }
  template <std::size_t N>
  bool Fixed(std::uint8_t (&out)[N]) {
    if (remaining() < N) return false;
    for (std::size_t i = 0; i < N; ++i) out[i] = bytes_[pos_ + i];
    pos_ += N;
    return true;
  }
  bool Bytes(std::size_t n, std::vector<std::uint8_t>& out) {
    if (remaining() < n) return false;
    out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
               bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
    pos_ += n;
    return true;
  }
  bool Bytes(std::size_t n, std::string& out) {
    if (remaining() < n) return false;
    out.assign(reinterpret_cast<const char*>(bytes_.data()) + pos_, n);
    pos_ += n;
    return true;
  }
  // A zero-terminated text; the terminator must lie before the end.
  bool Text(std::string& out) {
    for (std::size_t i = pos_; i < end_; ++i) {
      if (bytes_[i] == 0) {
        out.assign(reinterpret_cast<const char*>(bytes_.data()) + pos_, i - pos_);
        pos_ = i + 1;
        return true;
      }
    }
    return false;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_;
  std::size_t end_;
};

// "0x1A2B" for error messages and listings.
inline std::string Hex(std::uint64_t v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[v & 0xF]);
    v >>= 4;
  } while (v);
  return "0x" + s;
}

}  // namespace image
