// The save dialog's filter, from the program's form to the toolkit's.
#pragma once

#include <string>
#include <string_view>

namespace velmo::ui {

// "desc|pattern|desc|pattern" (UTF-8; several patterns of one entry separated
// by ";") -> the file chooser's "desc\tpattern\ndesc\tpattern".
//  - "*.*" and "*" match every file, as on Windows, so both become "*" (the
//    toolkit's "*.*" would miss names without a dot).
//  - Several patterns become one alternation: "*.bmp;*.dib" -> "*.{bmp,dib}"
//    when all are "*.ext", else "{p1,p2}".
//  - Tabs and line breaks in a description become blanks; an entry without a
//    pattern (an odd last element, or an empty pattern) is dropped.
std::string ToolkitFilter(std::string_view windowsFilter);

}  // namespace velmo::ui
