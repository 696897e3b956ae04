#include "runtime/ui/window_layout.h"

namespace velmo {

const ControlLayout* WindowLayout::Find(std::uint32_t id) const {
  if (window.id == id) return &window;
  for (const ControlLayout& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

}  // namespace velmo
