#include "platform/registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

#include "platform/codepage.h"
#include "platform/text.h"
#include "platform/paths.h"
#include "platform/win32.h"

namespace platform {
namespace {


char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// "\Software\\Varnel\" -> "Software\Varnel".
std::string NormalizeKey(std::string_view key) {
  std::string out;
  std::size_t i = 0;
  while (i < key.size()) {
    std::size_t j = key.find('\\', i);
    if (j == std::string_view::npos) j = key.size();
    std::string_view part = Trim(key.substr(i, j - i));
    if (!part.empty()) {
      if (!out.empty()) out += '\\';
      out += part;
    }
    i = j + 1;
  }
  return out;
}

std::string_view ValueName(std::string_view name) { return name == "@" ? std::string_view() : name; }

struct Line {
  enum Kind { kOther, kKey, kValue } kind = kOther;
  std::string text;   // the line as in the file
  std::string key;    // normalized key this line opens or belongs to
  std::string name;   // value lines: the name ("" for the default value)
  std::string value;  // value lines: the value
};

std::vector<Line> Parse(std::istream& in) {
  std::vector<Line> lines;
  std::string key;
  std::string raw;
  while (std::getline(in, raw)) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    Line line;
    line.text = raw;
    std::string_view t = Trim(raw);
    if (t.empty() || t[0] == '#' || t[0] == ';') {
      line.kind = Line::kOther;
    } else if (t[0] == '[' && t.back() == ']' && t.size() >= 2) {
      line.kind = Line::kKey;
      key = NormalizeKey(t.substr(1, t.size() - 2));
    } else if (std::size_t eq = t.find('='); eq != std::string_view::npos) {
      line.kind = Line::kValue;
      line.name = ValueName(Trim(t.substr(0, eq)));
      std::string_view v = Trim(t.substr(eq + 1));
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      line.value = v;
    }
    line.key = key;
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<Line> ReadStore() {
  std::ifstream in(RegistryFilePath());
  return Parse(in);
}

bool KeyExists(const std::vector<Line>& lines, const std::string& key) {
  if (key.empty()) return true;
  for (const Line& l : lines) {
    if (l.kind != Line::kKey) continue;
    if (SameText(l.key, key)) return true;
    if (l.key.size() > key.size() && l.key[key.size()] == '\\' &&
        SameText(std::string_view(l.key).substr(0, key.size()), key))
      return true;
  }
  return false;
}

const Line* FindValue(const std::vector<Line>& lines, const std::string& key, std::string_view name) {
  for (const Line& l : lines)
    if (l.kind == Line::kValue && SameText(l.key, key) && SameText(l.name, name)) return &l;
  return nullptr;
}

// Open keys: handles are addresses of these records; only handles in `live`
// are accepted, so a stale or foreign handle is refused instead of read.
struct OpenKey {
  std::string path;
};
std::mutex gKeysMutex;
std::set<const OpenKey*> gLiveKeys;

bool IsPredefinedRoot(HKEY key, std::uint32_t root) {
  auto v = reinterpret_cast<std::uintptr_t>(key);
  return v == root || v == static_cast<std::uintptr_t>(static_cast<std::intptr_t>(static_cast<std::int32_t>(root)));
}

bool IsAnyPredefinedRoot(HKEY key) {
  for (std::uint32_t root = 0x80000000; root <= 0x8000000F; ++root)
    if (IsPredefinedRoot(key, root)) return true;
  return false;
}

// The key path of a handle: HKEY_CURRENT_USER is "", an open key its path.
// Other predefined roots have no store (ERROR_FILE_NOT_FOUND).
LSTATUS ResolveKey(HKEY key, std::string& path) {
  if (IsPredefinedRoot(key, 0x80000001)) {
    path.clear();
    return ERROR_SUCCESS;
  }
  if (IsAnyPredefinedRoot(key)) return ERROR_FILE_NOT_FOUND;
  std::lock_guard lock(gKeysMutex);
  auto* open = reinterpret_cast<const OpenKey*>(key);
  if (!gLiveKeys.count(open)) return ERROR_INVALID_HANDLE;
  path = open->path;
  return ERROR_SUCCESS;
}

bool Storable(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

bool WriteFileAtomically(const std::string& path, const std::string& content) {
  std::string dir = ConfigDir();
  if (dir.empty()) return false;
  // Create the configuration directory and its parents.
  for (std::size_t i = 1; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == '/') {
      std::string part = dir.substr(0, i);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  std::string temp = path + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << content;
    out.flush();
    if (!out) {
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string RegistryFilePath() {
  std::string dir = ConfigDir();
  return dir.empty() ? std::string() : dir + "/registry";
}

std::optional<std::string> GetRegistryValue(std::string_view key, std::string_view name) {
  std::vector<Line> lines = ReadStore();
  const Line* l = FindValue(lines, NormalizeKey(key), ValueName(name));
  if (!l) return std::nullopt;
  return l->value;
}

bool SetRegistryValue(std::string_view key, std::string_view name, std::string_view value) {
  name = ValueName(name);
  if (!Storable(key) || !Storable(name) || !Storable(value) || name.find('=') != std::string_view::npos ||
      Trim(name) != name || (!name.empty() && (name[0] == '#' || name[0] == ';' || name[0] == '[')))
    return false;
  const std::string normKey = NormalizeKey(key);
  auto lineFor = [&](std::string_view n) {
    return std::string(n.empty() ? "@" : n) + "=\"" + std::string(value) + "\"";
  };

  std::vector<Line> lines = ReadStore();
  bool done = false;
  // Replace the value where it is stored ...
  for (Line& l : lines) {
    if (l.kind == Line::kValue && SameText(l.key, normKey) && SameText(l.name, name)) {
      l.text = lineFor(l.name);  // keeps the stored spelling of the name
      done = true;
      break;
    }
  }
  // ... or add it after the last line of the key's first block ...
  if (!done) {
    std::size_t insertAt = lines.size() + 1;  // none yet
    bool inBlock = normKey.empty();
    if (inBlock) insertAt = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const Line& l = lines[i];
      if (l.kind == Line::kKey) {
        if (inBlock) break;
        if (SameText(l.key, normKey)) {
          inBlock = true;
          insertAt = i + 1;
        }
      } else if (inBlock && l.kind == Line::kValue) {
        insertAt = i + 1;
      }
    }
    if (insertAt <= lines.size()) {
      Line added;
      added.text = lineFor(name);
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(added));
      done = true;
    }
  }
  // ... or start a new key at the end.
  if (!done) {
    if (!lines.empty() && !Trim(lines.back().text).empty()) lines.push_back({});
    Line header;
    header.text = "[" + normKey + "]";
    lines.push_back(std::move(header));
    Line added;
    added.text = lineFor(name);
    lines.push_back(std::move(added));
  }

  std::string content;
  for (const Line& l : lines) content += l.text + "\n";
  return WriteFileAtomically(RegistryFilePath(), content);
}

}  // namespace platform

extern "C" {

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM /*access*/, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::string path;
  if (LSTATUS status = platform::ResolveKey(key, path); status != ERROR_SUCCESS) return status;
  if (subKey && *subKey) {
    bool exact = false;
    std::string sub = platform::AnsiToUtf8(subKey, &exact);
    if (!exact) return ERROR_FILE_NOT_FOUND;
    if (!path.empty()) path += '\\';
    path = platform::NormalizeKey(path + sub);
  }
  if (!platform::KeyExists(platform::ReadStore(), path)) return ERROR_FILE_NOT_FOUND;
  auto* open = new platform::OpenKey{std::move(path)};
  {
    std::lock_guard lock(platform::gKeysMutex);
    platform::gLiveKeys.insert(open);
  }
  *result = reinterpret_cast<HKEY>(open);
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize) {
  std::string path;
  if (LSTATUS status = platform::ResolveKey(key, path); status != ERROR_SUCCESS) return status;
  if (reserved || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
  std::string name;
  if (valueName) {
    bool exact = false;
    name = platform::AnsiToUtf8(valueName, &exact);
    if (!exact) return ERROR_FILE_NOT_FOUND;
  }
  std::vector<platform::Line> lines = platform::ReadStore();
  if (!platform::KeyExists(lines, path)) return ERROR_FILE_NOT_FOUND;
  const platform::Line* line = platform::FindValue(lines, path, name);
  if (!line) return ERROR_FILE_NOT_FOUND;

  const std::string ansi = platform::Utf8ToAnsi(line->value);
  const auto needed = static_cast<DWORD>(ansi.size() + 1);  // with the terminator
  if (type) *type = REG_SZ;
  if (!data) {
    if (dataSize) *dataSize = needed;
    return ERROR_SUCCESS;
  }
  if (*dataSize < needed) {
    *dataSize = needed;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, ansi.c_str(), needed);
  *dataSize = needed;
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  if (platform::IsAnyPredefinedRoot(key)) return ERROR_SUCCESS;
  auto* open = reinterpret_cast<const platform::OpenKey*>(key);
  {
    std::lock_guard lock(platform::gKeysMutex);
    if (!platform::gLiveKeys.erase(open)) return ERROR_INVALID_HANDLE;
  }
  delete open;
  return ERROR_SUCCESS;
}

}  // extern "C"
