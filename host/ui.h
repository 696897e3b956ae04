// The window's vocabulary, shared by the program and the runtime host: the
// kinds of the form's records, the numbers of the properties the program reads
// and writes, and the numbers of the events it handles.
#pragma once

#include <cstdint>

namespace host {

// Kinds of the form's records (the window's own record and its controls).
enum Kind : std::uint32_t {
  kKindWindow = 0x00010001,
  kKindEdit = 0x00010005,
  kKindGroupBox = 0x00010009,
  kKindLabel = 0x0001000A,
  kKindButton = 0x0001000B,
  kKindProgressBar = 0x00010013,
  kKindCommonDialog = 0x0001001F,
};

// Property numbers. Their meaning depends on the control's kind.
enum Property : std::uint32_t {
  kPropDisabled = 6,
  kPropText = 8,         // label caption, edit-box content
  kPropDialogType = 8,   // common dialog: 1 = save-file dialog
  kPropDialogTitle = 9,
  kPropDialogFileName = 10,
  kPropDialogFilter = 11,
  kPropProgress = 13,
};

// Event numbers.
inline constexpr std::int32_t kEventCreated = 0;          // window
inline constexpr std::int32_t kEventClicked = 0;          // button
inline constexpr std::int32_t kEventLeftButtonDown = -1;  // every visible kind

// The progress bar has no stored range. A complete merge writes positions up
// to exactly 120, so the bar spans 0..120 and ends exactly full.
inline constexpr int kProgressMaximum = 120;

}  // namespace host
