#include "runtime/text_commands.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace velmo {

namespace {

bool InRange(unsigned char b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; }

// Length of the character that starts at s[i] (1, 2 or 4 bytes).
std::size_t CharLength(std::string_view s, std::size_t i) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  if (!InRange(at(i), 0x81, 0xFE)) return 1;
  if (i + 1 < s.size() && (InRange(at(i + 1), 0x40, 0x7E) || InRange(at(i + 1), 0x80, 0xFE))) {
    return 2;
  }
  if (i + 3 < s.size() && InRange(at(i + 1), 0x30, 0x39) && InRange(at(i + 2), 0x81, 0xFE) &&
      InRange(at(i + 3), 0x30, 0x39)) {
    return 4;
  }
  return 1;
}

// For every byte: 0 inside a multi-byte character, 1 starting a single-byte
// character, 2 starting a multi-byte character; and 1 for the end.
std::vector<std::uint8_t> Structure(std::string_view s) {
  std::vector<std::uint8_t> kind(s.size() + 1, 0);
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t len = CharLength(s, i);
    kind[i] = len == 1 ? 1 : 2;
    i += len;
  }
  kind[s.size()] = 1;
  return kind;
}

unsigned char Fold(unsigned char b) { return (b >= 'a' && b <= 'z') ? b - 0x20 : b; }

class Searcher {
 public:
  Searcher(std::string_view text, std::string_view sought, bool caseFold)
      : text_(text), sought_(sought), fold_(caseFold), textKind_(Structure(text)) {
    if (fold_) soughtKind_ = Structure(sought);
  }

  // Whether `sought` occurs at byte offset i (a character start) and ends on
  // a character boundary.
  bool MatchesAt(std::size_t i) const {
    const std::size_t m = sought_.size();
    if (i + m > text_.size() || textKind_[i + m] == 0) return false;
    for (std::size_t k = 0; k < m; ++k) {
      auto t = static_cast<unsigned char>(text_[i + k]);
      auto s = static_cast<unsigned char>(sought_[k]);
      if (fold_) {
        // Only single-byte characters fold; a trail byte in 0x41-0x7A is
        // part of a Chinese character, not a letter.
        if (textKind_[i + k] == 1) t = Fold(t);
        if (soughtKind_[k] == 1) s = Fold(s);
      }
      if (t != s) return false;
    }
    return true;
  }

  bool IsStart(std::size_t i) const { return textKind_[i] != 0; }

 private:
  std::string_view text_;
  std::string_view sought_;
  bool fold_;
  std::vector<std::uint8_t> textKind_;
  std::vector<std::uint8_t> soughtKind_;
};

// Plain decimal notation of `value` rounded to 15 significant digits.
std::string SignificantDigits(double value) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  // sci is "[-]d.dddddddddddddde[+-]x"
  const bool negative = sci.front() == '-';
  const std::size_t ePos = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, ePos)) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  int exponent = 0;
  std::string_view expText = sci.substr(ePos + 1);
  if (!expText.empty() && expText.front() == '+') expText.remove_prefix(1);
  std::from_chars(expText.data(), expText.data() + expText.size(), exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
  } else {
    const auto intDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
      out += digits;
      out.append(intDigits - digits.size(), '0');
    } else {
      out += digits.substr(0, intDigits);
      out += '.';
      out += digits.substr(intDigits);
    }
  }
  return out;
}

}  // namespace

std::int64_t TextLength(std::string_view text) { return static_cast<std::int64_t>(text.size()); }

std::string RightText(std::string_view text, std::int64_t n) {
  if (n <= 0) return {};
  const auto keep = static_cast<std::size_t>(n) < text.size() ? static_cast<std::size_t>(n)
                                                               : text.size();
  return std::string(text.substr(text.size() - keep));
}

std::int64_t FindText(std::string_view text, std::string_view sought,
                      std::optional<std::int64_t> start, bool caseFold) {
  if (sought.empty()) return -1;
  std::int64_t first = start.value_or(1);
  if (first < 1) first = 1;
  if (first > TextLength(text)) return -1;
  const Searcher searcher(text, sought, caseFold);
  for (auto i = static_cast<std::size_t>(first - 1); i + sought.size() <= text.size(); ++i) {
    if (searcher.IsStart(i) && searcher.MatchesAt(i)) return static_cast<std::int64_t>(i) + 1;
  }
  return -1;
}

std::int64_t FindTextBack(std::string_view text, std::string_view sought,
                          std::optional<std::int64_t> start, bool caseFold) {
  if (sought.empty() || sought.size() > text.size()) return -1;
  std::int64_t last = start.value_or(TextLength(text));
  if (last < 1) return -1;
  if (last > TextLength(text)) last = TextLength(text);
  const Searcher searcher(text, sought, caseFold);
  auto i = std::min(static_cast<std::size_t>(last - 1), text.size() - sought.size());
  for (;; --i) {
    if (searcher.IsStart(i) && searcher.MatchesAt(i)) return static_cast<std::int64_t>(i) + 1;
    if (i == 0) break;
  }
  return -1;
}

std::string ToText(std::int64_t value) { return std::to_string(value); }

std::string ToText(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  if (value == std::trunc(value) && std::fabs(value) < 9223372036854775808.0) {
    return std::to_string(static_cast<std::int64_t>(value));
  }
  return SignificantDigits(value);
}

std::vector<bool> CharacterStarts(std::string_view text) {
  const std::vector<std::uint8_t> kind = Structure(text);
  std::vector<bool> starts(kind.size());
  for (std::size_t i = 0; i < kind.size(); ++i) starts[i] = kind[i] != 0;
  return starts;
}

}  // namespace velmo
