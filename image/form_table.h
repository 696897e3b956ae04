// The main window and its controls as data: what the form segment of the
// program image stores, entry by entry, in stored order. The host builds the
// window from the encoded form; nothing here is code that builds controls.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "host/ui.h"
#include "image/controls.h"
#include "image/format/form_segment.h"
#include "image/link_area.h"

namespace image {

// Words of the form segment's window table.
inline constexpr std::uint32_t kWindowWord = 0x00B807F0;      // parallel to the window id
inline constexpr std::uint32_t kReservedIdWord = 0x190100BC;  // nothing refers to it
inline constexpr std::uint32_t kWindowRecordId = 0x06010000;  // entry 0: the window's own record

// State flags.
inline constexpr std::uint32_t kFlagVisible = 0x1;
inline constexpr std::uint32_t kFlagTabStop = 0x4;

// The property values each kind stores before its caption, passed on to the
// host unchanged. A label's 17th value is 1 for a multi-line label.
inline constexpr std::uint32_t kDefaultColour = 0xFF000000;
inline constexpr std::uint32_t kWindowValues[kWindowValueCount] = {
    5, 2, 1, kDefaultColour, 0, 0, 1, 1, 1, 0, 0,
    1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
inline constexpr std::uint32_t kLabelValues[kLabelValueCount] = {
    2, 0, 8, 0, 0x808080, 0xFFFFFF, 0x808080, 0x000000, kDefaultColour, 1,
    0, 0x808080, 0xFFFFFF, 0x808080, 0, 1, 0 /* multi-line */, 0, 0};
inline constexpr std::uint32_t kLabelMultiLineValue = 16;
inline constexpr std::uint32_t kButtonValues[kButtonValueCount] = {1, 0, 1, 1, 0, 0};

struct EventSpec {
  std::int32_t event;
  Routine handler;
};

struct FormEntry {
  std::uint32_t id;       // entry identifier as stored
  host::Kind kind;
  std::string_view name;  // code page 936; empty for the window's own record
  std::uint32_t parent;   // group box id, or 0 for the window
  std::int32_t left, top, width, height;
  std::uint32_t flags;
  // Property data: none (the kind's defaults), or the kind's values and this
  // caption (code page 936).
  bool hasProperties;
  std::string_view caption;
  bool multiLine;         // labels: the caption has several lines
  bool hasEvent;
  EventSpec event;
};

// The window's own record and its 18 controls, in stored order.
std::span<const FormEntry> FormTable();

// The about label's caption: author line, CR LF, the author's web address,
// CR LF, the release date.
extern const std::string_view kAboutText;

// The main window's form, from the table above.
Form MainForm();

}  // namespace image
