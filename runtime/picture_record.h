// What became of the pictures the program loads and draws, learnt from the
// native calls the host serves: GdipLoadImageFromFile (the file's path, and
// the image it made or the status it failed with), GdipGetImageDimension and
// GdipDrawImageRect (whether the image was drawn), GdipDisposeImage and
// GdiplusShutdown (the image is gone). Each picture's outcome goes to the
// user interface once it is known: at a failed load, a failed size query or
// a draw. The program is not asked for anything.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/abi.h"
#include "runtime/ui/backend.h"

namespace velmo {

class PictureRecord {
 public:
  // Notes which native call `index` is, by its entry name.
  void Bind(std::size_t index, const std::string& entry);
  // After native call `index` returned `result`.
  void Observe(std::uint32_t index, std::uint32_t argc, const host::Word* argv, host::Word result,
               UiBackend* ui);

 private:
  enum class Call : std::uint8_t { kOther, kLoad, kDimension, kDraw, kDispose, kShutdown };
  std::vector<Call> calls_;
  std::map<host::Word, std::string> images_;  // live image -> its path (UTF-8)
};

// A zero-terminated UTF-16 text as UTF-8 (an unpaired surrogate becomes
// U+FFFD).
std::string Utf16ToUtf8(const std::uint16_t* text);

}  // namespace velmo
