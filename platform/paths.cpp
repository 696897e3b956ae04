#include "platform/paths.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/codepage.h"
#include "platform/name_case.h"
#include "platform/text.h"

namespace platform {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

int DriveIndex(char letter) {
  if (letter >= 'a' && letter <= 'z') return letter - 'a';
  if (letter >= 'A' && letter <= 'Z') return letter - 'A';
  return -1;
}

using DriveTable = std::array<std::string, 26>;

DriveTable ReadDriveTable() {
  DriveTable table;
  std::ifstream in(DrivesFilePath());
  std::string raw;
  while (std::getline(in, raw)) {
    std::string_view line = Trim(raw);
    if (!line.empty() && line.back() == '\r') line = Trim(line.substr(0, line.size() - 1));
    if (line.size() < 3 || line[0] == '#' || line[1] != ':' || kBlanks.find(line[2]) == std::string_view::npos)
      continue;
    int drive = DriveIndex(line[0]);
    std::string_view dir = Trim(line.substr(2));
    if (drive < 0 || drive == 'z' - 'a' || dir.empty() || dir[0] != '/' || !table[drive].empty())
      continue;
    while (dir.size() > 1 && dir.back() == '/') dir.remove_suffix(1);
    table[drive] = std::string(dir);
  }
  return table;
}

std::string CurrentDir() {
  std::vector<char> buf(4096);
  while (!getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE) return {};
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

// Appends the components of `rest` (separated by either separator) to
// `parts`, resolving "." and ".." by the text alone; ".." stops at the root.
void AppendComponents(std::vector<std::string_view>& parts, std::string_view rest) {
  std::size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && IsSeparator(rest[i])) ++i;
    std::size_t j = i;
    while (j < rest.size() && !IsSeparator(rest[j])) ++j;
    std::string_view part = rest.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j;
  }
}

std::string Join(std::string root, const std::vector<std::string_view>& parts, char separator) {
  for (std::string_view part : parts) {
    if (root.back() != separator) root += separator;
    root += part;
  }
  return root;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The entry of the directory `dir` that is `name` on Windows: the first in
// byte order of those equal to it without regard to case; empty when there is
// none (or `dir` cannot be listed). The caller has found no entry spelled
// exactly so. Upper-casing never changes a name's length in UTF-8, so only
// entries of the same length are compared.
std::string FindIgnoringCase(const std::string& dir, std::string_view name) {
  DIR* listing = ::opendir(dir.c_str());
  if (!listing) return {};
  const std::u16string wanted = UpcaseName(name);
  std::string found;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view candidate = entry->d_name;
    if (candidate.size() != name.size() || (!found.empty() && candidate >= found)) continue;
    if (candidate == name || UpcaseName(candidate) == wanted) found = candidate;
  }
  ::closedir(listing);
  return found;
}

// `root` joined with `parts`, each part spelled as the file system spells it.
// Windows ignores case in names, a POSIX file system does not: a part that
// does not exist as given becomes the entry that equals it without regard to
// case (the first in byte order when several do). A part that exists in no
// case stays as given, and so do the parts after it: a file about to be
// created keeps its name, in the directory found for it. The whole path is
// tried first, so a path that exists as given costs one lstat and no listing.
std::string ResolveCase(const std::string& root, const std::vector<std::string_view>& parts) {
  std::string path = Join(root, parts, '/');
  if (parts.empty() || Exists(path)) return path;
  // The longest leading part of the path that exists as given.
  std::size_t known = parts.size() - 1;
  std::vector<std::string_view> head(parts.begin(), parts.end() - 1);
  while (known > 0 && !Exists(Join(root, head, '/'))) {
    --known;
    head.pop_back();
  }
  path = Join(root, head, '/');
  for (std::size_t i = known; i < parts.size(); ++i) {
    const std::string sep = path.back() == '/' ? "" : "/";
    const std::string given = path + sep + std::string(parts[i]);
    if (i > known && Exists(given)) {
      path = given;
      continue;
    }
    const std::string found = FindIgnoringCase(path, parts[i]);
    if (found.empty()) {
      head.assign(parts.begin() + std::ptrdiff_t(i), parts.end());
      return Join(path, head, '/');
    }
    path += sep + found;
  }
  return path;
}

}  // namespace

std::string ConfigDir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/mosalin";
  const char* home = std::getenv("HOME");
  std::string base;
  if (home && home[0]) {
    base = home;
  } else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
    base = pw->pw_dir;
  } else {
    return {};
  }
  return base + "/.config/mosalin";
}

std::string DrivesFilePath() {
  std::string dir = ConfigDir();
  return dir.empty() ? std::string() : dir + "/drives";
}

std::string ExecutablePath() {
  std::vector<char> buf(1024);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

std::string ExecutableDir() {
  std::string path = ExecutablePath();
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::optional<std::string> DriveDirectory(char letter) {
  int drive = DriveIndex(letter);
  if (drive < 0) return std::nullopt;
  if (drive == 'z' - 'a') return std::string("/");
  DriveTable table = ReadDriveTable();
  if (table[drive].empty()) return std::nullopt;
  return table[drive];
}

std::optional<std::string> Utf8WindowsToPosix(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == '?' &&
      IsSeparator(path[3])) {
    path.remove_prefix(4);
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    return std::nullopt;
  }

  std::string root;
  std::vector<std::string_view> parts;
  std::string cwd;
  if (path.size() >= 2 && path[1] == ':' && DriveIndex(path[0]) >= 0) {
    std::optional<std::string> dir = DriveDirectory(path[0]);
    if (!dir) return std::nullopt;
    root = *dir;
    path.remove_prefix(2);
  } else {
    root = "/";
    if (!IsSeparator(path[0])) {
      cwd = CurrentDir();
      if (cwd.empty()) return std::nullopt;
      AppendComponents(parts, cwd);
    }
  }
  AppendComponents(parts, path);
  return ResolveCase(root, parts);
}

std::optional<std::string> WindowsToPosix(std::string_view ansiPath) {
  bool exact = false;
  std::string utf8 = AnsiToUtf8(ansiPath, &exact);
  if (!exact) return std::nullopt;
  return Utf8WindowsToPosix(utf8);
}

std::optional<std::string> WideWindowsToPosix(std::u16string_view widePath) {
  bool exact = false;
  std::string utf8 = Utf16ToUtf8(widePath, &exact);
  if (!exact) return std::nullopt;
  return Utf8WindowsToPosix(utf8);
}

std::optional<std::string> PosixToWindows(std::string_view posixPath) {
  if (posixPath.empty() || posixPath.find('\0') != std::string_view::npos) return std::nullopt;
  std::string absolute;
  if (posixPath[0] != '/') {
    absolute = CurrentDir();
    if (absolute.empty()) return std::nullopt;
    absolute += '/';
  }
  absolute += posixPath;

  std::vector<std::string_view> parts;
  std::string_view rest = absolute;
  while (!rest.empty()) {
    std::size_t slash = rest.find('/');
    std::string_view part = rest.substr(0, slash);
    if (part.find('\\') != std::string_view::npos) return std::nullopt;
    if (!part.empty() && part != ".") parts.push_back(part);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  }
  bool exact = false;
  std::string ansi = Utf8ToAnsi(Join("Z:\\", parts, '\\'), &exact);
  if (!exact) return std::nullopt;
  return ansi;
}

}  // namespace platform
