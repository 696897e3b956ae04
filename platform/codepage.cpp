#include "platform/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

static_assert(std::endian::native == std::endian::little,
              "UTF-16 texts are handed over as little-endian units");

enum Encoding { kAnsi, kUtf8, kUtf16, kEncodingCount };

const char* const kIconvName[kEncodingCount] = {"GB18030", "UTF-8", "UTF-16LE"};
// What stands for an undecodable unit, in the target encoding.
const std::string_view kReplacement[kEncodingCount] = {"?", "\xEF\xBF\xBD", {"\xFD\xFF", 2}};
// Bytes skipped for an undecodable unit, by source encoding.
const std::size_t kUnitBytes[kEncodingCount] = {1, 1, 2};

// iconv descriptors are not shareable between threads; each thread opens the
// ones it uses once and keeps them.
class Converters {
 public:
  ~Converters() {
    for (auto& row : cd_)
      for (iconv_t cd : row)
        if (cd != kNone) iconv_close(cd);
  }
  iconv_t Get(Encoding from, Encoding to) {
    iconv_t& cd = cd_[from][to];
    if (cd == kNone) cd = iconv_open(kIconvName[to], kIconvName[from]);
    return cd;
  }

 private:
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
  iconv_t cd_[kEncodingCount][kEncodingCount] = {
      {kNone, kNone, kNone}, {kNone, kNone, kNone}, {kNone, kNone, kNone}};
};

std::string Convert(Encoding from, Encoding to, const char* data, std::size_t size, bool* exact) {
  thread_local Converters converters;
  bool ok = true;
  std::string out;
  iconv_t cd = converters.Get(from, to);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // The C library lacks the converter: nothing converts, and the caller is told.
    if (exact) *exact = size == 0;
    return out;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);

  out.resize(size * 2 + 16);
  std::size_t used = 0;
  auto room = [&](std::size_t need) {
    if (out.size() - used < need) out.resize(out.size() * 2 + need);
  };
  char* in = const_cast<char*>(data);
  std::size_t inLeft = size;
  while (inLeft > 0) {
    char* o = out.data() + used;
    std::size_t outLeft = out.size() - used;
    std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    used = static_cast<std::size_t>(o - out.data());
    if (r != static_cast<std::size_t>(-1)) {
      if (r > 0) ok = false;  // irreversible substitutions made by the converter
      break;
    }
    if (errno == E2BIG) {
      room(out.size());
      continue;
    }
    // EILSEQ (invalid sequence) or EINVAL (sequence cut off at the end):
    // replace one unit and go on after it.
    ok = false;
    std::size_t skip = std::min(kUnitBytes[from], inLeft);
    in += skip;
    inLeft -= skip;
    room(kReplacement[to].size());
    std::memcpy(out.data() + used, kReplacement[to].data(), kReplacement[to].size());
    used += kReplacement[to].size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(used);
  if (exact) *exact = ok;
  return out;
}

std::u16string ToUnits(const std::string& bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  std::memcpy(units.data(), bytes.data(), units.size() * 2);
  return units;
}

const char* Bytes(std::u16string_view units) { return reinterpret_cast<const char*>(units.data()); }

}  // namespace

std::string AnsiToUtf8(std::string_view ansi, bool* exact) {
  return Convert(kAnsi, kUtf8, ansi.data(), ansi.size(), exact);
}

std::string Utf8ToAnsi(std::string_view utf8, bool* exact) {
  return Convert(kUtf8, kAnsi, utf8.data(), utf8.size(), exact);
}

std::u16string AnsiToUtf16(std::string_view ansi, bool* exact) {
  return ToUnits(Convert(kAnsi, kUtf16, ansi.data(), ansi.size(), exact));
}

std::u16string Utf8ToUtf16(std::string_view utf8, bool* exact) {
  return ToUnits(Convert(kUtf8, kUtf16, utf8.data(), utf8.size(), exact));
}

std::string Utf16ToUtf8(std::u16string_view utf16, bool* exact) {
  return Convert(kUtf16, kUtf8, Bytes(utf16), utf16.size() * 2, exact);
}

std::string Utf16ToAnsi(std::u16string_view utf16, bool* exact) {
  return Convert(kUtf16, kAnsi, Bytes(utf16), utf16.size() * 2, exact);
}

}  // namespace platform
