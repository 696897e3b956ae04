// mosalin-icon FILE [SIZE]: writes the window's icon (32 px unless SIZE is
// given) as a PNG file, for desktop entries and installers.
// mosalin-icon --ico FILE: writes it as a Windows icon file with the four
// images of the Windows executable's icon group.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>

#include "assets/png_writer.h"
#include "runtime/ui/icon.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--ico") == 0) {
    const std::vector<std::uint8_t> ico = velmo::ui::IconFile();
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(ico.data()), static_cast<std::streamsize>(ico.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "mosalin-icon: cannot write %s\n", argv[2]);
      return 1;
    }
    return 0;
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: mosalin-icon FILE [SIZE]\n       mosalin-icon --ico FILE\n");
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
  try {
    mosalin_assets::WritePng(argv[1], size, size, 4, velmo::ui::DrawIcon(size).data());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mosalin-icon: %s\n", e.what());
    return 1;
  }
  return 0;
}
