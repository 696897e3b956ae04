#include "runtime/window_builder.h"

#include <map>

#include "host/ui.h"
#include "image/format/byte_io.h"

namespace velmo {
namespace {

ControlLayout FromRecord(const image::FormRecord& r) {
  ControlLayout c;
  c.id = r.id;
  c.kind = r.kind;
  c.name = r.name;
  c.parent = r.parent;
  c.left = r.left;
  c.top = r.top;
  c.width = r.width;
  c.height = r.height;
  c.flags = r.flags;
  c.children = r.children;
  for (const auto& e : r.events) c.events.push_back({e.event, e.handler});
  const auto& p = r.properties;
  c.hasCaption = p.shape == image::PropertyShape::kWindow || p.shape == image::PropertyShape::kLabel ||
                 p.shape == image::PropertyShape::kButton;
  c.caption = p.caption;
  c.values = p.values;
  return c;
}

}  // namespace

std::optional<WindowLayout> BuildWindowLayout(const image::Form& form, std::uint32_t windowId,
                                          std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<WindowLayout> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (form.windowId != windowId)
    return fail("the form describes window " + image::Hex(form.windowId) + ", not " + image::Hex(windowId));
  if (form.records.empty() || form.records[0].kind != host::kKindWindow)
    return fail("the form's first record is not the window's own");

  WindowLayout spec;
  spec.window = FromRecord(form.records[0]);
  spec.window.id = windowId;  // the record's own entry id stands for the window
  spec.window.absLeft = spec.window.left;
  spec.window.absTop = spec.window.top;

  std::map<std::uint32_t, std::size_t> index;
  for (std::size_t i = 1; i < form.records.size(); ++i) {
    spec.controls.push_back(FromRecord(form.records[i]));
    if (!index.emplace(form.records[i].id, spec.controls.size() - 1).second)
      return fail("control " + image::Hex(form.records[i].id) + " appears twice in the form");
  }

  // Resolve positions over the whole table: a group box's children stand
  // before the group box itself, so a single pass in stored order would not do.
  for (auto& c : spec.controls) {
    int x = c.left, y = c.top;
    std::uint32_t parent = c.parent;
    std::size_t steps = 0;
    while (parent != 0) {
      auto it = index.find(parent);
      if (it == index.end())
        return fail("control " + image::Hex(c.id) + " names parent " + image::Hex(parent) +
                    ", which is not a control of the form");
      if (++steps > spec.controls.size())
        return fail("the parents of control " + image::Hex(c.id) + " form a cycle");
      const ControlLayout& p = spec.controls[it->second];
      x += p.left;
      y += p.top;
      parent = p.parent;
    }
    c.absLeft = x;
    c.absTop = y;
  }
  return spec;
}

}  // namespace velmo
