// Kind codes, event numbers and property numbers as the UI backends see them
// in the window description and in property writes.
#pragma once

#include <cstdint>

namespace velmo::ui {

inline constexpr std::uint32_t kKindWindow = 0x00010001;
inline constexpr std::uint32_t kKindEdit = 0x00010005;
inline constexpr std::uint32_t kKindGroupBox = 0x00010009;
inline constexpr std::uint32_t kKindLabel = 0x0001000A;
inline constexpr std::uint32_t kKindButton = 0x0001000B;
inline constexpr std::uint32_t kKindProgressBar = 0x00010013;
inline constexpr std::uint32_t kKindCommonDialog = 0x0001001F;

inline constexpr std::int32_t kEventCreated = 0;      // window
inline constexpr std::int32_t kEventClicked = 0;      // button
inline constexpr std::int32_t kEventLeftButtonDown = -1;  // every visible kind

inline constexpr std::uint32_t kPropDisabled = 6;
inline constexpr std::uint32_t kPropText = 8;  // label caption, edit-box content
inline constexpr std::uint32_t kPropProgress = 13;

// The progress bar has no stored range. A complete merge writes positions up
// to exactly 120, so the bar spans 0..120 and ends exactly full.
inline constexpr int kProgressMaximum = 120;

}  // namespace velmo::ui
