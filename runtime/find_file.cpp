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

#include "platform/name_case.h"

namespace velmo {

namespace {

using Units = std::u16string;

using platform::NameUnits;
using platform::UpcaseName;
using platform::UpcaseUnit;

// A pattern element after the Windows translation of wildcards.
enum class Op : std::uint8_t { kLiteral, kStar, kDosStar, kAnyChar, kDosDot };
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
        out.push_back({next == u'.' ? Op::kDosStar : Op::kStar, 0});
        break;
      case u'?':
        out.push_back({Op::kAnyChar, 0});
        break;
      case u'.':
        if (next == u'*' || next == u'?' || i + 1 == p.size()) {
          out.push_back({Op::kDosDot, 0});
        } else {
          out.push_back({Op::kLiteral, u'.'});
        }
        break;
      default:
        out.push_back({Op::kLiteral, UpcaseUnit(p[i])});
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
  const Units n = UpcaseName(name);
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
        case Op::kLiteral:
          m = more && n[i] == el.unit && match[p + 1][i + 1];
          break;
        case Op::kStar:
          m = match[p + 1][i] || (more && match[p][i + 1]);
          break;
        case Op::kDosStar:  // any run that leaves the name's last dot alone
          m = match[p + 1][i] || (more && i != lastDot && match[p][i + 1]);
          break;
        case Op::kAnyChar:  // one character, or nothing at a dot or at the end
          m = (more && n[i] != u'.') ? match[p + 1][i + 1] : match[p + 1][i];
          break;
        case Op::kDosDot:  // a dot, or nothing at the end
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
  return MatchTranslated(Translate(NameUnits(pattern)), name);
}

int CompareNames(std::string_view a, std::string_view b) {
  const Units ua = UpcaseName(a);
  const Units ub = UpcaseName(b);
  if (const int c = ua.compare(ub); c != 0) return c < 0 ? -1 : 1;
  if (const int c = a.compare(b); c != 0) return c < 0 ? -1 : 1;
  return 0;
}

std::vector<std::string> InSearchOrder(std::vector<FoundName> found) {
  std::vector<std::string> result;
  for (const char* dot : {".", ".."}) {
    for (const FoundName& f : found)
      if (f.name == dot) {
        result.push_back(f.name);
        break;
      }
  }
  // The others, their upper-cased forms computed once.
  std::vector<std::pair<Units, FoundName*>> others;
  others.reserve(found.size());
  for (FoundName& f : found)
    if (f.name != "." && f.name != "..") others.emplace_back(UpcaseName(f.utf8), &f);
  std::sort(others.begin(), others.end(), [](const auto& x, const auto& y) {
    if (const int c = x.first.compare(y.first); c != 0) return c < 0;
    return x.second->utf8 < y.second->utf8;
  });
  result.reserve(result.size() + others.size());
  for (auto& [key, f] : others) result.push_back(std::move(f->name));
  return result;
}

#ifndef _WIN32
std::vector<std::string> ListMatches(const std::string& posixDir, std::string_view pattern,
                                     FindFilter filter, FindOptions options) {
  if (posixDir.empty() || pattern.empty()) return {};
  const int fd = open(posixDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return {};
  }

  const std::vector<Element> pat = Translate(NameUnits(pattern));
  std::vector<FoundName> found;
  if (!options.driveRoot && FilterAccepts(filter, true)) {
    for (const char* dot : {".", ".."}) {
      if (MatchTranslated(pat, dot)) found.push_back({dot, dot});
    }
  }
  while (true) {
    errno = 0;
    const struct dirent* e = readdir(dir);
    if (e == nullptr) break;  // the end, or a read error: keep what was read
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!MatchTranslated(pat, name)) continue;
    if (filter.given && !FilterAccepts(filter, IsDirectoryEntry(dirfd(dir), e))) continue;
    found.push_back({std::string(name), std::string(name)});
  }
  closedir(dir);
  return InSearchOrder(std::move(found));
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

SearchTable::Handle SearchTable::NewHandleLocked() {
  do {
    ++lastHandle_;
  } while (lastHandle_ == 0 || searches_.count(lastHandle_) != 0);
  return lastHandle_;
}

}  // namespace velmo
