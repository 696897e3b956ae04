// mosalin-icon FILE [SIZE]: writes the window's icon (32 px unless SIZE is
// given) as a PNG file, for desktop entries and installers.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/ui/icon.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: mosalin-icon FILE [SIZE]\n");
    return 2;
  }
  int size = 32;
  if (argc == 3) {
    char* end = nullptr;
    long v = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || v < 8 || v > 1024) {
      std::fprintf(stderr, "mosalin-icon: SIZE must be a number from 8 to 1024\n");
      return 2;
    }
    size = static_cast<int>(v);
  }
  std::string error;
  if (!velmo::ui::WritePng(argv[1], size, size, 4, velmo::ui::DrawIcon(size).data(), &error)) {
    std::fprintf(stderr, "mosalin-icon: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
