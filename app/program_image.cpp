#include "app/program_image.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/routine_table.h"
#include "image/format/program_image.h"
#include "image/link.h"

// The executable's data area (image_data.S): the image as laid out at build
// time, zero after it.
extern std::uint8_t gProgramData[image::kDataSectionSize] __asm__("mosalin_program_data");

namespace app {

std::uint8_t* ProgramImage() {
  static bool prepared = false;
  if (!prepared) {
    std::string error;
    auto parsed = image::ReadProgramImage({gProgramData, sizeof gProgramData}, &error);
    if (!parsed) {
      // The image is laid out from the program's own tables at build time;
      // failing here is a defect of the build, not of the user's input.
      std::fprintf(stderr, "mosalin: the program image is inconsistent: %s\n", error.c_str());
      std::abort();
    }
    std::uint8_t* code = gProgramData + parsed->Code().dataOffset;
    FillEntryCells(code);
    image::Link::Attach(code);
    prepared = true;
  }
  return gProgramData;
}

}  // namespace app
