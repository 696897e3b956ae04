// Small text helpers the platform's plain-text files share.
#pragma once

#include <string_view>

namespace platform {

inline constexpr std::string_view kBlanks = " \t";

// `s` without leading and trailing blanks and tabs.
inline std::string_view Trim(std::string_view s) {
  std::size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string_view::npos) return {};
  std::size_t e = s.find_last_not_of(kBlanks);
  return s.substr(b, e - b + 1);
}

}  // namespace platform
