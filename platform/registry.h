// The registry: the current user's values (HKEY_CURRENT_USER) kept in a
// plain-text file, ${XDG_CONFIG_HOME:-$HOME/.config}/mosalin/registry, read
// afresh on every open and query. RegOpenKeyExA, RegQueryValueExA and
// RegCloseKey (win32.h) read it; SetRegistryValue and the mosalin-reg tool
// write it.
//
// File format (UTF-8):
//     # Lines starting with '#' or ';' and blank lines are ignored.
//     [Software\Varnel\Q\Install]
//     Path="Z:\opt\mosalin"
//     @=the key's default (unnamed) value
// - "[key]" starts a key, named by its path below HKEY_CURRENT_USER with "\"
//   between the parts. Value lines before the first key belong to
//   HKEY_CURRENT_USER itself.
// - "name=value" is a text value (REG_SZ) of the current key. The name ends at
//   the first '='; blanks around name and value are dropped; one pair of
//   double quotes around the value is removed, and everything between them is
//   taken as is (no escapes), so quotes keep leading or trailing blanks. The
//   name "@" is the key's default value.
// - Key paths and value names compare without regard to ASCII case. A key
//   exists when a "[...]" line names it or a key below it. When a name occurs
//   twice, the first occurrence counts.
// - Values are handed to the program in the ANSI code page (936).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

std::string RegistryFilePath();

// Sets value `name` ("" or "@" for the default value) of `key` (a path below
// HKEY_CURRENT_USER) to `value`, all UTF-8, creating the key, the file and its
// directory as needed and keeping every other line. Returns false when the
// file cannot be written, or when the key, name or value cannot be stored:
// line breaks or NUL anywhere, or a name with an '=', with blanks at either
// end, or starting with '#', ';' or '['.
bool SetRegistryValue(std::string_view key, std::string_view name, std::string_view value);

// Reads a value from the file, in UTF-8, as it is stored.
std::optional<std::string> GetRegistryValue(std::string_view key, std::string_view name);

}  // namespace platform
