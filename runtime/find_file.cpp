#include "runtime/find_file.h"

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace velmo {

namespace {

using Units = std::u16string;

// UTF-8 to UTF-16 code units. A byte that does not start a well-formed
// sequence becomes the lone surrogate 0xDC00 + byte, so every byte string has
// a unique, deterministic image.
Units ToUnits(std::string_view s) {
  Units out;
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

// Upper case of one UTF-16 code unit, by the simple one-to-one Unicode mapping
// for the scripts a file name is most likely to use. Dotless i and long s keep
// their own form so that they never collide with ASCII letters, and the micro
// sign stays apart from Greek mu.
char16_t Upcase(char16_t c) {
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
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);  // full-width a-z
  return c;
}

Units UpcaseUnits(std::string_view s) {
  Units u = ToUnits(s);
  for (auto& c : u) c = Upcase(c);
  return u;
}

// A pattern element after the Windows translation of wildcards.
enum class Op : std::uint8_t { Literal, Star, DosStar, AnyChar, DosDot };
struct Element {
  Op op;
  char16_t unit;  // upper-cased, for Literal
};

std::vector<Element> Translate(const Units& p) {
  std::vector<Element> out;
  out.reserve(p.size());
  for (std::size_t i = 0; i < p.size(); ++i) {
    const char16_t next = i + 1 < p.size() ? p[i + 1] : 0;
    switch (p[i]) {
      case u'*':
        out.push_back({next == u'.' ? Op::DosStar : Op::Star, 0});
        break;
      case u'?':
        out.push_back({Op::AnyChar, 0});
        break;
      case u'.':
        if (next == u'*' || next == u'?' || i + 1 == p.size()) {
          out.push_back({Op::DosDot, 0});
        } else {
          out.push_back({Op::Literal, u'.'});
        }
        break;
      default:
        out.push_back({Op::Literal, Upcase(p[i])});
    }
  }
  return out;
}

#ifndef _WIN32
// Whether the directory entry is a directory, following symbolic links.
bool IsDirectoryEntry(int dirFd, const struct dirent* e) {
  if (e->d_type == DT_DIR) return true;
  if (e->d_type != DT_LNK && e->d_type != DT_UNKNOWN) return false;
  struct stat st{};
  if (fstatat(dirFd, e->d_name, &st, 0) != 0) return false;  // dangling link: not a directory
  return S_ISDIR(st.st_mode);
}
#endif

bool MatchTranslated(const std::vector<Element>& pat, std::string_view name) {
  const Units n = UpcaseUnits(name);
  const std::size_t P = pat.size();
  const std::size_t N = n.size();
  std::size_t lastDot = N;  // N: the name has no dot
  for (std::size_t i = 0; i < N; ++i) {
    if (n[i] == u'.') lastDot = i;
  }
  // match[p][i]: pattern elements p.. match name units i..
  std::vector<std::vector<char>> match(P + 1, std::vector<char>(N + 1, 0));
  match[P][N] = 1;
  for (std::size_t p = P; p-- > 0;) {
    const Element& el = pat[p];
    for (std::size_t i = N + 1; i-- > 0;) {
      const bool more = i < N;
      bool m = false;
      switch (el.op) {
        case Op::Literal:
          m = more && n[i] == el.unit && match[p + 1][i + 1];
          break;
        case Op::Star:
          m = match[p + 1][i] || (more && match[p][i + 1]);
          break;
        case Op::DosStar:  // any run that leaves the name's last dot alone
          m = match[p + 1][i] || (more && i != lastDot && match[p][i + 1]);
          break;
        case Op::AnyChar:  // one character, or nothing at a dot or at the end
          m = (more && n[i] != u'.') ? match[p + 1][i + 1] : match[p + 1][i];
          break;
        case Op::DosDot:  // a dot, or nothing at the end
          m = more ? (n[i] == u'.' && match[p + 1][i + 1]) : match[p + 1][i];
          break;
      }
      match[p][i] = m;
    }
  }
  return match[0][0] != 0;
}

}  // namespace

bool FilterAccepts(FindFilter filter, bool isDirectory) {
  if (!filter.given) return true;
  const bool wantDirectories = (filter.attributes & kAttributeDirectory) != 0;
  return wantDirectories == isDirectory;
}

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  return MatchTranslated(Translate(ToUnits(pattern)), name);
}

int CompareNames(std::string_view a, std::string_view b) {
  const Units ua = UpcaseUnits(a);
  const Units ub = UpcaseUnits(b);
  if (const int c = ua.compare(ub); c != 0) return c < 0 ? -1 : 1;
  if (const int c = a.compare(b); c != 0) return c < 0 ? -1 : 1;
  return 0;
}

#ifndef _WIN32
std::vector<std::string> ListMatches(const std::string& posixDir, std::string_view pattern,
                                     FindFilter filter, FindOptions options) {
  std::vector<std::string> result;
  if (posixDir.empty() || pattern.empty()) return result;
  const int fd = open(posixDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return result;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return result;
  }

  const std::vector<Element> pat = Translate(ToUnits(pattern));
  std::vector<std::pair<Units, std::string>> entries;
  while (true) {
    errno = 0;
    const struct dirent* e = readdir(dir);
    if (e == nullptr) break;  // the end, or a read error: keep what was read
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!MatchTranslated(pat, name)) continue;
    if (filter.given && !FilterAccepts(filter, IsDirectoryEntry(dirfd(dir), e))) continue;
    entries.emplace_back(UpcaseUnits(name), std::string(name));
  }
  closedir(dir);

  std::sort(entries.begin(), entries.end(), [](const auto& x, const auto& y) {
    if (const int c = x.first.compare(y.first); c != 0) return c < 0;
    return x.second < y.second;
  });

  if (!options.driveRoot && FilterAccepts(filter, true)) {
    for (const char* dot : {".", ".."}) {
      if (MatchTranslated(pat, dot)) result.emplace_back(dot);
    }
  }
  result.reserve(result.size() + entries.size());
  for (auto& e : entries) result.push_back(std::move(e.second));
  return result;
}

DirectorySearch::DirectorySearch(const std::string& posixDir, std::string_view pattern,
                                 FindFilter filter, FindOptions options)
    : names_(ListMatches(posixDir, pattern, filter, options)) {}

std::string SearchTable::Start(Handle& handle, const std::string& posixDir,
                               std::string_view pattern, FindFilter filter, FindOptions options) {
  return Start(handle, ListMatches(posixDir, pattern, filter, options));
}
#endif

std::optional<std::string> DirectorySearch::Next() {
  if (next_ >= names_.size()) return std::nullopt;
  std::string name = std::move(names_[next_++]);
  if (next_ >= names_.size()) {
    // Finished: a search that stays open until EndFind holds no names.
    names_.clear();
    names_.shrink_to_fit();
    next_ = 0;
  }
  return name;
}

std::string SearchTable::Start(Handle& handle, std::vector<std::string> names) {
  DirectorySearch search(std::move(names));
  std::lock_guard lock(mutex_);
  searches_.erase(handle);
  if (search.Finished()) {
    handle = 0;
    return {};
  }
  const Handle id = NewHandleLocked();
  std::string first = *search.Next();
  searches_.emplace(id, std::move(search));
  handle = id;
  return first;
}

std::string SearchTable::Next(Handle handle) {
  std::lock_guard lock(mutex_);
  const auto it = searches_.find(handle);
  if (it == searches_.end()) return {};
  return it->second.Next().value_or(std::string());
}

void SearchTable::End(Handle handle) {
  std::lock_guard lock(mutex_);
  searches_.erase(handle);
}

std::size_t SearchTable::OpenCount() const {
  std::lock_guard lock(mutex_);
  return searches_.size();
}

SearchTable::Handle SearchTable::NewHandleLocked() {
  do {
    ++lastHandle_;
  } while (lastHandle_ == 0 || searches_.count(lastHandle_) != 0);
  return lastHandle_;
}

}  // namespace velmo
