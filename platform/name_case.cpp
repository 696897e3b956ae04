#include "platform/name_case.h"

#include <cstddef>

namespace platform {

std::u16string NameUnits(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    char32_t cp = 0;
    std::size_t len = 0;
    if (b0 < 0x80) {
      cp = b0;
      len = 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      cp = b0 & 0x1F;
      len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      cp = b0 & 0x0F;
      len = 3;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      cp = b0 & 0x07;
      len = 4;
    }
    bool ok = len > 0 && i + len <= s.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms, encoded surrogates and values past U+10FFFF.
    if (ok && ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
               (cp >= 0xD800 && cp <= 0xDFFF))) {
      ok = false;
    }
    if (!ok) {
      out.push_back(static_cast<char16_t>(0xDC00 + b0));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

char16_t UpcaseUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c < 0x100) {
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    return c;
  }
  if (c < 0x180) {
    // Latin Extended-A: pairs of upper (first) and lower (second) letters.
    const bool evenUpper = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c == 0x131 || c == 0x17F) return c;
    if (evenUpper && (c & 1)) return static_cast<char16_t>(c - 1);
    if (oddUpper && !(c & 1)) return static_cast<char16_t>(c - 1);
    return c;
  }
  // Pinyin vowels with caron (upper odd, lower even), n with grave, m with acute.
  if (c >= 0x1CE && c <= 0x1DC) return (c & 1) ? c : static_cast<char16_t>(c - 1);
  if (c == 0x1F9 || c == 0x1E3F) return static_cast<char16_t>(c - 1);
  if (c >= 0x3AC && c <= 0x3CE) {  // Greek
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 0x25);
    if (c == 0x3C2) return 0x3A3;
    if (c >= 0x3B1 && c <= 0x3CB) return static_cast<char16_t>(c - 0x20);
    if (c == 0x3CC) return 0x38C;
    if (c >= 0x3CD) return static_cast<char16_t>(c - 0x3F);
    return c;
  }
  if (c >= 0x430 && c <= 0x481) {  // Cyrillic
    if (c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return (c & 1) ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x2170 && c <= 0x217F) return static_cast<char16_t>(c - 0x10);   // small Roman numerals
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);  // full-width a-z
  return c;
}

std::u16string UpcaseName(std::string_view utf8) {
  std::u16string u = NameUnits(utf8);
  for (auto& c : u) c = UpcaseUnit(c);
  return u;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return a == b || UpcaseName(a) == UpcaseName(b);
}

}  // namespace platform
