#include "app/program_image.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/link.h"
#include "app/routine_table.h"
#include "image/program_image.h"

namespace app {
namespace {

// The executable's data area: the image from its first byte, zero after it.
alignas(16) std::uint8_t gData[image::kDataSectionSize];

}  // namespace

std::uint8_t* ProgramImage() {
  static bool prepared = false;
  if (!prepared) {
    std::vector<std::uint8_t> data = image::BuildDataSection();
    std::memcpy(gData, data.data(), sizeof gData);
    std::string error;
    auto parsed = image::ReadProgramImage({gData, sizeof gData}, &error);
    if (!parsed) {
      // The image is built from the program's own tables; failing here is a
      // defect of the build, not of the user's input.
      std::fprintf(stderr, "mosalin: the program image is inconsistent: %s\n", error.c_str());
      std::abort();
    }
    std::uint8_t* code = gData + parsed->Code().dataOffset;
    FillEntryCells(code);
    Link::Attach(code);
    prepared = true;
  }
  return gData;
}

}  // namespace app
