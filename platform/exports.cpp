#include "platform/exports.h"

#include <mutex>
#include <string>
#include <vector>

namespace platform {
namespace {

// Every built-in table, in search order. A new platform library adds its line here.
const Library* const kBuiltinLibraries[] = {
    &kKernel32Library,
    &kUser32Library,
};

// The system libraries, in the order an empty library name searches them;
// other tables marked as system come after these.
constexpr std::string_view kSystemOrder[] = {"kernel32.dll", "user32.dll", "gdi32.dll"};

std::mutex gRegisteredMutex;
std::vector<const Library*> gRegistered;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// "C:\Windows\System32\GdiPlus.DLL" -> "gdiplus.dll"; "KERNEL32" -> "kernel32.dll".
std::string CanonicalName(std::string_view name) {
  std::size_t sep = name.find_last_of("\\/");
  if (sep != std::string_view::npos) name.remove_prefix(sep + 1);
  std::string out;
  for (char c : name) out += Lower(c);
  if (out.find('.') == std::string::npos) out += ".dll";
  return out;
}

// Position in kSystemOrder; other system libraries come after those.
std::size_t SystemRank(std::string_view fileName) {
  const std::string name = CanonicalName(fileName);
  std::size_t rank = 0;
  while (rank < std::size(kSystemOrder) && kSystemOrder[rank] != name) ++rank;
  return rank;
}

std::vector<const Library*> AllLibraries() {
  std::vector<const Library*> all(std::begin(kBuiltinLibraries), std::end(kBuiltinLibraries));
  std::lock_guard lock(gRegisteredMutex);
  all.insert(all.end(), gRegistered.begin(), gRegistered.end());
  return all;
}

const Export* FindIn(const Library& lib, std::string_view entry) {
  for (const Export& e : lib.exports)
    if (entry == e.name) return &e;
  return nullptr;
}

}  // namespace

const Export* FindExport(std::string_view libraryName, std::string_view entryName) {
  const std::vector<const Library*> all = AllLibraries();
  if (libraryName.empty()) {
    for (std::size_t rank = 0; rank <= std::size(kSystemOrder); ++rank)
      for (const Library* lib : all)
        if (lib->system && SystemRank(lib->fileName) == rank)
          if (const Export* e = FindIn(*lib, entryName)) return e;
    return nullptr;
  }
  const std::string wanted = CanonicalName(libraryName);
  for (const Library* lib : all)
    if (CanonicalName(lib->fileName) == wanted)
      if (const Export* e = FindIn(*lib, entryName)) return e;
  return nullptr;
}

void RegisterLibrary(const Library& library) {
  std::lock_guard lock(gRegisteredMutex);
  gRegistered.push_back(&library);
}

}  // namespace platform
