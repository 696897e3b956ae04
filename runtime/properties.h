// The state of the main window's controls as the program sees it through
// property reads and writes. The host keeps it (the backends only show it), so
// both backends behave the same to the program.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "runtime/ui/backend.h"
#include "runtime/ui/window_layout.h"

namespace velmo {

struct ControlState {
  bool disabled = false;
  std::string text;            // caption or content (ANSI)
  std::int32_t progress = 0;
  std::uint32_t dialogType = 0;
  std::string dialogTitle, dialogFileName, dialogFilter;  // ANSI
  std::map<std::uint32_t, std::int32_t> otherNumbers;     // properties without meaning here
};

class PropertyStore {
 public:
  void Reset(const WindowLayout& spec);
  bool Has(std::uint32_t control) const { return state_.count(control) != 0; }

  // Whether `property` of a control of this kind holds a text.
  static bool IsTextProperty(std::uint32_t kind, std::uint32_t property);

  // Stores a write; returns the value as the backend should see it, or
  // nullopt when the control is unknown.
  std::optional<PropertyValue> Write(std::uint32_t control, std::uint32_t property,
                                     std::int32_t number, const char* text);
  // Reads a property: a text property gives its text, any other a number.
  // nullopt when the control is unknown.
  std::optional<PropertyValue> Read(std::uint32_t control, std::uint32_t property) const;

  ControlState* State(std::uint32_t control);
  const ControlLayout* Spec(std::uint32_t control) const { return spec_ ? spec_->Find(control) : nullptr; }

 private:
  const WindowLayout* spec_ = nullptr;
  std::map<std::uint32_t, ControlState> state_;
};

}  // namespace velmo
