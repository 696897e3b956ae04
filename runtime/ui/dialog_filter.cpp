#include "runtime/ui/dialog_filter.h"

#include <vector>

namespace velmo::ui {
namespace {

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  while (true) {
    std::size_t at = s.find(sep);
    parts.push_back(s.substr(0, at));
    if (at == std::string_view::npos) return parts;
    s.remove_prefix(at + 1);
  }
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string Pattern(std::string_view windowsPatterns) {
  std::vector<std::string> patterns;
  for (std::string_view p : Split(windowsPatterns, ';')) {
    p = Trim(p);
    if (p.empty()) continue;
    if (p == "*.*" || p == "*") return "*";  // one match-all pattern covers the entry
    patterns.emplace_back(p);
  }
  if (patterns.size() <= 1) return patterns.empty() ? std::string() : patterns[0];

  bool allExtensions = true;
  for (const std::string& p : patterns)
    if (p.size() < 3 || p.compare(0, 2, "*.") != 0 || p.find_first_of("*?[{,", 2) != std::string::npos)
      allExtensions = false;
  std::string out = allExtensions ? "*.{" : "{";
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    if (i) out += ',';
    out += allExtensions ? patterns[i].substr(2) : patterns[i];
  }
  return out + "}";
}

}  // namespace

std::string ToolkitFilter(std::string_view windowsFilter) {
  if (windowsFilter.empty()) return {};
  std::vector<std::string_view> parts = Split(windowsFilter, '|');
  std::string out;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string pattern = Pattern(parts[i + 1]);
    if (pattern.empty()) continue;
    std::string description(parts[i]);
    for (char& c : description)
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    if (!out.empty()) out += '\n';
    out += description + '\t' + pattern;
  }
  return out;
}

}  // namespace velmo::ui
