#include "runtime/properties.h"

#include "host/ui.h"

namespace velmo {

void PropertyStore::Reset(const WindowLayout& spec) {
  spec_ = &spec;
  state_.clear();
  state_[spec.window.id].text = spec.window.caption;
  for (const auto& c : spec.controls) state_[c.id].text = c.caption;
}

bool PropertyStore::IsTextProperty(std::uint32_t kind, std::uint32_t property) {
  switch (kind) {
    case host::kKindLabel:
    case host::kKindEdit:
    case host::kKindButton:
    case host::kKindWindow:
    case host::kKindGroupBox:
      return property == host::kPropText;
    case host::kKindCommonDialog:
      return property == host::kPropDialogTitle || property == host::kPropDialogFileName ||
             property == host::kPropDialogFilter;
    default:
      return false;
  }
}

ControlState* PropertyStore::State(std::uint32_t control) {
  auto it = state_.find(control);
  return it == state_.end() ? nullptr : &it->second;
}

std::optional<PropertyValue> PropertyStore::Write(std::uint32_t control, std::uint32_t property,
                                                  std::int32_t number, const char* text) {
  const ControlLayout* spec = Spec(control);
  ControlState* st = State(control);
  if (!spec || !st) return std::nullopt;
  PropertyValue v;
  if (IsTextProperty(spec->kind, property)) {
    v.isText = true;
    v.text = text ? text : "";
    if (spec->kind == host::kKindCommonDialog) {
      if (property == host::kPropDialogTitle) st->dialogTitle = v.text;
      else if (property == host::kPropDialogFileName) st->dialogFileName = v.text;
      else st->dialogFilter = v.text;
    } else {
      st->text = v.text;
    }
    return v;
  }
  v.number = number;
  if (property == host::kPropDisabled) st->disabled = number != 0;
  else if (spec->kind == host::kKindProgressBar && property == host::kPropProgress)
    st->progress = number;
  else if (spec->kind == host::kKindCommonDialog && property == host::kPropDialogType)
    st->dialogType = static_cast<std::uint32_t>(number);
  else
    st->otherNumbers[property] = number;
  return v;
}

std::optional<PropertyValue> PropertyStore::Read(std::uint32_t control, std::uint32_t property) const {
  const ControlLayout* spec = Spec(control);
  auto it = state_.find(control);
  if (!spec || it == state_.end()) return std::nullopt;
  const ControlState& st = it->second;
  PropertyValue v;
  if (IsTextProperty(spec->kind, property)) {
    v.isText = true;
    if (spec->kind == host::kKindCommonDialog)
      v.text = property == host::kPropDialogTitle      ? st.dialogTitle
               : property == host::kPropDialogFileName ? st.dialogFileName
                                                     : st.dialogFilter;
    else
      v.text = st.text;
    return v;
  }
  if (property == host::kPropDisabled) v.number = st.disabled ? 1 : 0;
  else if (spec->kind == host::kKindProgressBar && property == host::kPropProgress)
    v.number = st.progress;
  else if (spec->kind == host::kKindCommonDialog && property == host::kPropDialogType)
    v.number = static_cast<std::int32_t>(st.dialogType);
  else {
    auto o = st.otherNumbers.find(property);
    v.number = o == st.otherNumbers.end() ? 0 : o->second;
  }
  return v;
}

}  // namespace velmo
