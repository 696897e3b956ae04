// The text commands of the runtime host, as pure functions on byte strings.
//
// Texts are code page 936 bytes; lengths and positions count bytes and
// positions start at 1. Searches respect the double-byte structure of the code
// page: a match always starts and ends on a character boundary, so a single-
// byte text such as "x" or "\" is never found inside the trail byte of a
// Chinese character. A character is one of
//   - a lead byte 0x81-0xFE followed by a trail byte 0x40-0x7E or 0x80-0xFE,
//   - a four-byte sequence 0x81-0xFE, 0x30-0x39, 0x81-0xFE, 0x30-0x39 (the
//     extension used for file names outside the double-byte set),
//   - any other single byte (also a lead byte that starts no valid sequence).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo {

// Length in bytes.
std::int64_t TextLength(std::string_view text);

// The last n bytes: empty for n <= 0, the whole text for n >= its length.
// Counts bytes as the command does; it does not move n to a character
// boundary.
std::string RightText(std::string_view text, std::int64_t n);

// 1-based position of the first occurrence of `sought` that begins at or after
// `start`, or -1.
//  - start omitted: 1; start < 1 counts as 1; start past the end gives -1; a
//    start inside a character moves on to the next character.
//  - An empty `sought` is never found (-1): no position would be a useful
//    answer, and -1 is the one every caller handles.
//  - caseFold: ASCII letters match either case; trail bytes of double-byte
//    characters are never folded.
std::int64_t FindText(std::string_view text, std::string_view sought,
                      std::optional<std::int64_t> start = std::nullopt, bool caseFold = false);

// 1-based position of the last occurrence of `sought` that begins at or before
// `start`, or -1. The mirror image of FindText: start omitted or past the end
// means the whole text; start < 1 gives -1. Empty `sought` and case folding as
// for FindText.
std::int64_t FindTextBack(std::string_view text, std::string_view sought,
                          std::optional<std::int64_t> start = std::nullopt,
                          bool caseFold = false);

// Decimal text of a number, never with an exponent:
//  - integers and integral doubles below 2^63 in magnitude: their exact digits
//    (5.0 -> "5", -512 -> "-512", 1e15 -> "1000000000000000"; -0.0 -> "0");
//  - other values: rounded to 15 significant digits, trailing zeros and a
//    bare decimal point dropped (1.5 -> "1.5", 0.1 -> "0.1", 1e-5 ->
//    "0.00001", 1e20 -> "100000000000000000000");
//  - NaN -> "nan", infinities -> "inf" and "-inf".
std::string ToText(double value);
std::string ToText(std::int64_t value);
inline std::string ToText(std::int32_t value) { return ToText(static_cast<std::int64_t>(value)); }

// For every byte of `text`, whether a character starts there; one more entry,
// true, for the end of the text.
std::vector<bool> CharacterStarts(std::string_view text);

}  // namespace velmo
