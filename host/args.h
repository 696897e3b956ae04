// Builders for support-command argument records, so that a call site reads
// like what it passes: Arg::Text(tileDir), Arg::Integer(16), Arg::Omitted().
#pragma once

#include <cstdint>
#include <cstring>

#include "host/abi.h"

namespace host {

namespace detail {
inline ArgRecord Split(std::uint64_t v, TypeTag tag) {
  return {static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(v >> 32),
          static_cast<std::uint32_t>(tag)};
}
}  // namespace detail

// The empty text, for support-command callers: they never pass null.
inline constexpr char kEmptyText[] = "";

struct Arg {
  static ArgRecord Text(ConstText t) {
    return detail::Split(reinterpret_cast<std::uintptr_t>(t ? t : kEmptyText), TypeTag::kText);
  }
  static ArgRecord Integer(std::int32_t v) {
    return {static_cast<std::uint32_t>(v), 0, static_cast<std::uint32_t>(TypeTag::kInteger)};
  }
  static ArgRecord Double(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return detail::Split(bits, TypeTag::kDouble);
  }
  static ArgRecord Logical(bool b) {
    return {b ? kTrue : kFalse, 0, static_cast<std::uint32_t>(TypeTag::kLogical)};
  }
  static ArgRecord Bytes(const BufferHeader* b) {
    return detail::Split(reinterpret_cast<std::uintptr_t>(b), TypeTag::kBuffer);
  }
  static ArgRecord ControlRef(std::uint32_t window, std::uint32_t control, std::uint32_t tag) {
    return {window, control, tag};
  }
  static ArgRecord Omitted() { return {0, 0, 0}; }
};

// Reading an argument record back (the host's side).
inline std::uint64_t Value64(const ArgRecord& a) {
  return static_cast<std::uint64_t>(a.low) | static_cast<std::uint64_t>(a.high) << 32;
}
inline const char* AsText(const ArgRecord& a) {
  return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(Value64(a)));
}
inline const BufferHeader* AsBuffer(const ArgRecord& a) {
  return reinterpret_cast<const BufferHeader*>(static_cast<std::uintptr_t>(Value64(a)));
}
inline double AsDouble(const ArgRecord& a) {
  std::uint64_t bits = Value64(a);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline bool IsOmitted(const ArgRecord& a) { return a.tag == 0; }

// Texts and buffers: null counts as empty.
inline std::uint32_t TextLen(ConstText t) { return t ? static_cast<std::uint32_t>(std::strlen(t)) : 0; }
inline bool TextEmpty(ConstText t) { return !t || !*t; }
inline bool TextEqual(ConstText a, ConstText b) {
  return std::strcmp(a ? a : kEmptyText, b ? b : kEmptyText) == 0;
}
inline std::uint32_t BufferLength(const BufferHeader* b) { return b ? b->length : 0; }
inline std::uint8_t* BufferData(BufferHeader* b) {
  return b && b->length ? reinterpret_cast<std::uint8_t*>(b) + sizeof(BufferHeader) : nullptr;
}
inline const std::uint8_t* BufferData(const BufferHeader* b) {
  return b && b->length ? reinterpret_cast<const std::uint8_t*>(b) + sizeof(BufferHeader) : nullptr;
}

}  // namespace host
