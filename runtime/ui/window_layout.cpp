#include "runtime/ui/window_layout.h"

namespace velmo {

const ControlLayout* WindowLayout::Find(std::uint32_t id) const {
  if (window.id == id) return &window;
  for (const ControlLayout& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

// Names are compared byte for byte, as stored; the window's own record has no
// name and is never found this way.
const ControlLayout* WindowLayout::FindByName(const std::string& ansiName) const {
  if (ansiName.empty()) return nullptr;
  for (const ControlLayout& c : controls)
    if (c.name == ansiName) return &c;
  return nullptr;
}

}  // namespace velmo
