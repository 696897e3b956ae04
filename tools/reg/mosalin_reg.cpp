// mosalin-reg: the per-user registry file from the command line.
//
//   mosalin-reg set KEY NAME VALUE   store a text value (NAME "@" or "": the default value)
//   mosalin-reg get KEY NAME         print a value as the program reads it
//   mosalin-reg path                 print the registry file's path
//
// Arguments and output are UTF-8; KEY is a path below HKEY_CURRENT_USER such
// as 'Software\Varnel\Q\Install'. Exit status: 0 done, 1 value or key not
// found (get) or not stored (set), 2 wrong usage.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/win32.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: mosalin-reg set KEY NAME VALUE\n"
               "       mosalin-reg get KEY NAME\n"
               "       mosalin-reg path\n");
  return 2;
}

// Reads through the same calls the launcher makes, so what is printed is what
// the program gets.
int Get(const char* key, const char* name) {
  HKEY handle = nullptr;
  const std::string ansiKey = platform::Utf8ToAnsi(key);
  if (RegOpenKeyExA(HKEY_CURRENT_USER, ansiKey.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
    std::fprintf(stderr, "mosalin-reg: no key %s\n", key);
    return 1;
  }
  const std::string ansiName = platform::Utf8ToAnsi(std::strcmp(name, "@") == 0 ? "" : name);
  DWORD size = 0;
  LSTATUS status = RegQueryValueExA(handle, ansiName.c_str(), nullptr, nullptr, nullptr, &size);
  std::vector<BYTE> data(size + 1);
  if (status == ERROR_SUCCESS)
    status = RegQueryValueExA(handle, ansiName.c_str(), nullptr, nullptr, data.data(), &size);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) {
    std::fprintf(stderr, "mosalin-reg: no value %s in %s\n", name, key);
    return 1;
  }
  std::printf("%s\n", platform::AnsiToUtf8(reinterpret_cast<const char*>(data.data())).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "path" && argc == 2) {
    std::printf("%s\n", platform::RegistryFilePath().c_str());
    return 0;
  }
  if (command == "get" && argc == 4) return Get(argv[2], argv[3]);
  if (command == "set" && argc == 5) {
    if (platform::SetRegistryValue(argv[2], argv[3], argv[4])) return 0;
    std::fprintf(stderr, "mosalin-reg: cannot store %s in %s (%s)\n", argv[3], argv[2],
                 platform::RegistryFilePath().c_str());
    return 1;
  }
  return Usage();
}
