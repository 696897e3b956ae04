// How Windows compares file names: without regard to case. A file system
// upper-cases both names one UTF-16 code unit at a time (by its upcase table)
// and compares the results; nothing else is folded. The directory search and
// the path map compare this way, so a name the search lists is also a name
// the path map finds.
//
// Pure text, no system call: the Windows build's runtime host shares it.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-8 to UTF-16 code units. A byte that does not start a well-formed
// sequence becomes the lone surrogate 0xDC00 + byte, so every byte string has
// a unique, deterministic image.
std::u16string NameUnits(std::string_view utf8);

// The upper case of one UTF-16 code unit, by the simple one-to-one Unicode
// mapping, for the letters a file name is most likely to hold: ASCII,
// Latin-1, Latin Extended-A, Greek, Cyrillic, full-width Latin, and the other
// lower-case letters of code page 936 (the pinyin vowels with caron, U+01CE
// to U+01DC, U+01F9 and U+1E3F, and the small Roman numerals U+2170 to
// U+217F). Dotless i and long s keep their own form so that they never
// collide with ASCII letters, and the micro sign stays apart from Greek mu.
// A unit and its upper case take as many bytes in UTF-8, so names equal
// without regard to case have equal lengths (the path map relies on it).
char16_t UpcaseUnit(char16_t unit);

// NameUnits(utf8), upper-cased unit by unit.
std::u16string UpcaseName(std::string_view utf8);

// Whether two UTF-8 names are the same name on Windows.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace platform
