// Fuzz target: the program image reader on arbitrary bytes.
//
// The reader must reject anything malformed with a message and never read
// outside the span. An image it accepts must survive a round trip: the
// writer lays it out again and the reader accepts that layout too, with the
// same segments.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "image/format/program_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const auto image = image::ReadProgramImage(std::span<const std::uint8_t>(data, size), &error);
  if (!image) {
    if (error.empty()) std::abort();  // a rejection always says why
    return 0;
  }
  const auto laidOut = image::WriteProgramImage(*image, &error);
  if (!laidOut) return 0;
  const auto again = image::ReadProgramImage(*laidOut, &error);
  if (!again || again->segments.size() != image->segments.size()) std::abort();
  for (std::size_t i = 0; i < image->segments.size(); ++i) {
    if (again->segments[i].name != image->segments[i].name ||
        again->segments[i].bytes != image->segments[i].bytes)
      std::abort();
  }
  return 0;
}
