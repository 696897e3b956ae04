// The constant pool (the const segment's bytes) and the native-call table
// whose names live in it.
//
// The pool is laid out from a declarative list of its items; every offset
// named in image/constants.h is checked against that layout when this
// library compiles.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "image/constants.h"
#include "image/native_calls.h"

namespace image {

// The author's web page, opened from the about label.
inline constexpr std::string_view kAuthorUrl = "http://mosalin.cn";

enum class ConstKind : std::uint8_t {
  kText,         // zero-terminated, code page 936
  kDouble,       // 8-byte IEEE 754
  kEmptyBuffer,  // the byte buffer {1, 0}
  kGap,          // zero bytes that no one addresses
};

struct ConstItem {
  std::uint32_t offset;
  ConstKind kind;
  std::string_view text;  // Text only
  double number;          // Double only
  std::uint32_t size;     // bytes taken in the pool (a text's terminator included)
};

// The pool's items in pool order, with their offsets.
std::span<const ConstItem> ConstItems();

// The pool's kConstSize bytes.
std::vector<std::uint8_t> BuildConstPool();

// One native call: library file name and entry name, as offsets into the
// pool. An empty library name means the system libraries every GUI process
// has loaded.
struct NativeCallRef {
  std::uint32_t library;
  std::uint32_t entry;
};

// The native-call table by index.
std::span<const NativeCallRef> NativeCallTable();

}  // namespace image
