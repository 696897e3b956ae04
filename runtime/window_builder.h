// Builds the window the host shows from the form segment: records parsed,
// parents resolved over the whole table before any control is made, positions
// made relative to the window's client area.
#pragma once

#include <optional>
#include <string>

#include "image/format/form_segment.h"
#include "runtime/ui/window_layout.h"

namespace velmo {

// The window whose identifier is `windowId`. Fails (nullopt, *error set) when
// the form describes another window, a parent is not a control of the form,
// or parents form a cycle.
std::optional<WindowLayout> BuildWindowLayout(const image::Form& form, std::uint32_t windowId,
                                          std::string* error);

}  // namespace velmo
