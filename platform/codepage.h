// Conversions between the platform's ANSI code page and Unicode.
//
// The ANSI code page is 936. It is read and written as GB18030, a superset of
// code page 936 that encodes every Unicode character (characters outside GBK
// take a four-byte sequence), so that every valid UTF-8 file name has an ANSI
// form and comes back unchanged.
//
// Invalid input never fails a conversion; it is replaced:
//  - towards Unicode (UTF-8 or UTF-16), each byte that does not start a valid
//    sequence, and each unpaired surrogate, becomes U+FFFD;
//  - towards ANSI, each such byte or unit becomes '?'.
// Callers that must not work with a replaced text (file names) pass `exact` and
// treat false as a failure.
#pragma once

#include <string>
#include <string_view>

namespace platform {

inline constexpr unsigned kAnsiCodePage = 936;

// `exact`, when given, is set to false if anything was replaced, else true.
std::string AnsiToUtf8(std::string_view ansi, bool* exact = nullptr);
std::string Utf8ToAnsi(std::string_view utf8, bool* exact = nullptr);
std::u16string AnsiToUtf16(std::string_view ansi, bool* exact = nullptr);
std::u16string Utf8ToUtf16(std::string_view utf8, bool* exact = nullptr);
std::string Utf16ToUtf8(std::u16string_view utf16, bool* exact = nullptr);
std::string Utf16ToAnsi(std::u16string_view utf16, bool* exact = nullptr);

}  // namespace platform
