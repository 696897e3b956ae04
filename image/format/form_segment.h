// The form segment: the description of the main window and its controls.
//
// Layout (offsets from the segment's first byte, one window):
//   u32 window-table length (8 per window), window ids, one word per window,
//   u32 window-block start, u32 reserved id word, u32 0, u32 0,
//   u32 entry count, u32 length of everything after this word,
//   entry ids, record offsets (from the first record), the records.
// A record: u32 size of the rest, u32 kind, 20 reserved bytes, name, remark,
// u32, left, top, width, height, u32, parent, child count, children,
// byte-block length and bytes, tag, u32, state flags, u32, event count,
// (event, handler offset) pairs, 20 reserved bytes, property data.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace image {

struct EventBinding {
  std::int32_t event;
  std::uint32_t handler;  // offset from the start of the code segment's bytes
  bool operator==(const EventBinding&) const = default;
};

// The property data of the kinds with a decoded shape: this many values
// before the caption and zero words after it.
inline constexpr std::uint32_t kWindowValueCount = 22;
inline constexpr std::uint32_t kLabelValueCount = 19;
inline constexpr std::uint32_t kButtonValueCount = 6;
inline constexpr std::uint32_t kWindowTrailerWords = 1;
inline constexpr std::uint32_t kLabelTrailerWords = 2;
inline constexpr std::uint32_t kButtonTrailerWords = 0;

// How a record's property data is decoded.
enum class PropertyShape : std::uint8_t {
  kNone,    // no property data: the kind's defaults
  kWindow,  // 22 values, caption, 1 zero word
  kLabel,   // 19 values, caption, 2 zero words
  kButton,  // 6 values, caption
  kRaw,     // a kind this program has no decoding for: kept as bytes
};

struct PropertyData {
  PropertyShape shape = PropertyShape::kNone;
  std::vector<std::uint32_t> values;
  std::string caption;                 // code page 936, stored with a u32 length
  std::vector<std::uint32_t> trailer;  // the words after the caption
  std::vector<std::uint8_t> raw;       // Raw only
  bool operator==(const PropertyData&) const = default;
};

struct FormRecord {
  std::uint32_t id = 0;  // from the entry-id array
  std::uint32_t kind = 0;
  std::array<std::uint8_t, 20> reserved3{};
  std::string name;    // code page 936
  std::string remark;
  std::uint32_t reserved6 = 0;
  std::int32_t left = 0, top = 0, width = 0, height = 0;
  std::uint32_t reserved11 = 0;
  std::uint32_t parent = 0;  // group box id, 0 = the window
  std::vector<std::uint32_t> children;
  std::vector<std::uint8_t> byteBlock;
  std::string tag;
  std::uint32_t reserved18 = 0;
  std::uint32_t flags = 0;
  std::uint32_t reserved20 = 0;
  std::vector<EventBinding> events;
  std::array<std::uint8_t, 20> reserved23{};
  PropertyData properties;
  bool operator==(const FormRecord&) const = default;
};

struct Form {
  std::uint32_t windowId = 0;
  std::uint32_t windowWord = 0;
  std::uint32_t blockStart = 0;
  std::uint32_t reservedId = 0;
  std::uint32_t reserved14 = 0;
  std::uint32_t reserved18 = 0;
  std::vector<FormRecord> records;  // entry order; records[0] is the window's own
  bool operator==(const Form&) const = default;

  const FormRecord* Find(std::uint32_t id) const;
};

// Byte offset of the first record from the start of the segment, for `n`
// entries.
constexpr std::uint32_t FirstRecordOffset(std::uint32_t n) { return 0x24 + 8 * n; }

// Encodes a form; records are written back to back in entry order.
std::vector<std::uint8_t> EncodeForm(const Form& form);

// Decodes a form segment's bytes. Checks every length, count and offset
// against the bytes and that parents and children name entries of the form.
// On failure returns nullopt and sets *error.
std::optional<Form> DecodeForm(std::span<const std::uint8_t> bytes, std::string* error);

}  // namespace image
