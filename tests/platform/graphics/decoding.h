// Decoding test pictures as the platform decodes a tile's file, for the
// decoder tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/graphics/picture.h"
#include "tests/platform/graphics/pictures.h"

namespace graphics_test {

// Decodes `file` from a heap block of exactly its size, so that the sanitizers
// report a read even one byte past its end.
inline GpStatus Decode(const Bytes& file, graphics::Picture& p) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[file.size()]);
  if (!file.empty()) std::memcpy(copy.get(), file.data(), file.size());
  return graphics::DecodePicture({copy.get(), file.size()}, p);
}

// The decoded picture of a file that must decode. A refusal is a failure of
// the test (with the scoped traces of the caller) and ends it.
inline graphics::Picture MustDecode(const Bytes& file) {
  graphics::Picture p;
  if (GpStatus s = Decode(file, p); s != Gdiplus::Ok) {
    ADD_FAILURE() << "decoding failed with status " << s;
    throw std::runtime_error("status " + std::to_string(s));
  }
  return p;
}

// The process's largest resident size so far, in KiB: what a decode
// allocated shows in its growth.
inline long PeakRssKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace graphics_test
