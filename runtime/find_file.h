// Directory search as the program's FindFile/EndFind services expect it: the
// entries of one directory whose names match a wildcard pattern, "." and ".."
// first, then every other entry in the order an NTFS directory index returns
// them (names compared upper-cased, by UTF-16 code units), never in the file
// system's own listing order.
//
// Everything here works on POSIX paths and UTF-8 names; turning the program's
// Windows pattern into (directory, last component) and converting code pages
// is the host glue's job.
//
// Pattern rules (those of the Windows search):
//  - '*' matches any run of characters, dots included; "*.*" matches every
//    name, also names without a dot ("*" followed by "." may not swallow the
//    name's last dot, and a "." that is followed by a wildcard or ends the
//    pattern also matches the end of the name).
//  - '?' matches one character other than '.'; at a '.' or at the end of the
//    name it matches nothing, so "a??" matches "a", "ab" and "abc".
//  - Letters match without regard to case, as platform/name_case.h compares
//    names.
//  - Comparison and matching work on UTF-16 code units, so a character outside
//    the Basic Multilingual Plane counts as two characters for '?'.
//  - Not reproduced: matches through 8.3 short names (on Windows "*.htm" also
//    finds "page.html"), and the DOS wildcards '<', '>' and '"', which are
//    ordinary characters here.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo {

// Attribute bit of a directory in the program's attribute filter.
inline constexpr std::uint32_t kAttributeDirectory = 0x10;

// Which kinds of entries a search returns.
//  - no filter given (the caller omitted the attribute): files and directories;
//  - a filter with bit 0x10: directories only ("." and ".." included, a
//    symbolic link counts as what it points to);
//  - a filter without bit 0x10 (0 included): everything that is not a
//    directory. POSIX has no hidden, system or archive attributes, so the other
//    bits select nothing more.
struct FindFilter {
  bool given = false;
  std::uint32_t attributes = 0;

  static FindFilter None() { return {}; }
  static FindFilter DirectoriesOnly() { return {true, kAttributeDirectory}; }
  static FindFilter Attributes(std::uint32_t bits) { return {true, bits}; }
};

// Extra knobs of a search.
struct FindOptions {
  // A Windows drive root has no "." and ".." entries; the glue sets this when
  // the directory stands for one.
  bool driveRoot = false;
};

// True when `name` matches the wildcard `pattern` (both UTF-8), by the rules
// above.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

// Three-way comparison of two UTF-8 names in NTFS index order: upper-cased
// UTF-16 code units compared as unsigned numbers; names that are equal that
// way are ordered by their bytes so the order is total. Bytes that are not
// valid UTF-8 sort as lone surrogates (0xDC80 + byte).
int CompareNames(std::string_view a, std::string_view b);

// Whether an entry passes the filter.
bool FilterAccepts(FindFilter filter, bool isDirectory);

// A name a search found, and its UTF-8 form, by which it is ordered.
struct FoundName {
  std::string utf8, name;
};

// The found names in the order a search returns them: "." and ".." first (in
// that order), then the others by CompareNames of their UTF-8 forms.
std::vector<std::string> InSearchOrder(std::vector<FoundName> found);

#ifndef _WIN32
// The names a search of `posixDir` returns, in order: the matching "." and
// "..", then the matching entries sorted by CompareNames. A directory that
// does not exist or cannot be read gives an empty list.
std::vector<std::string> ListMatches(const std::string& posixDir, std::string_view pattern,
                                     FindFilter filter, FindOptions options = {});
#endif

// One search: a snapshot of the matching names taken when it is opened.
class DirectorySearch {
 public:
  explicit DirectorySearch(std::vector<std::string> names) : names_(std::move(names)) {}

  // The next name, or nothing when the search is finished.
  std::optional<std::string> Next();
  bool Finished() const { return next_ >= names_.size(); }

 private:
  std::vector<std::string> names_;
  std::size_t next_ = 0;
};

// The open searches of a program, keyed by the word that the program keeps in
// its search-handle variable. Handles are never 0 and are not reused, so a
// stale or made-up handle finds nothing and does no harm.
//
// FindFile(pattern, attribute, no-filter flag, &handle) maps to:
//   pattern given:  name = table.Start(handle, ListMatches(dir, lastComponent, filter))
//   pattern null:   name = table.Next(handle)
// and EndFind(handle) to table.End(handle). An empty result means no entry is
// left. A continuing call's attribute arguments are not consulted: a search
// keeps the filter it was started with.
class SearchTable {
 public:
  using Handle = std::uintptr_t;

  // Ends the search that `handle` holds (finished or not), opens a new one
  // over `names` (in the order a search returns them) and returns the first. When nothing matches (also when the directory does
  // not exist) no search is kept, `handle` becomes 0 and the result is empty.
  std::string Start(Handle& handle, std::vector<std::string> names);

  // The next name of the search `handle` holds; empty at the end, and for 0 or
  // an unknown handle.
  std::string Next(Handle handle);

  // Ends the search; 0 and unknown handles are accepted and ignored.
  void End(Handle handle);

 private:
  Handle NewHandleLocked();

  std::mutex mutex_;
  std::map<Handle, DirectorySearch> searches_;
  Handle lastHandle_ = 0;
};

}  // namespace velmo
