#include "runtime/ui/window_spec.h"

namespace velmo {

const ControlSpec* WindowSpec::Find(std::uint32_t id) const {
  if (window.id == id) return &window;
  for (const ControlSpec& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

// Names are compared byte for byte, as stored; the window's own record has no
// name and is never found this way.
const ControlSpec* WindowSpec::FindByName(const std::string& ansiName) const {
  if (ansiName.empty()) return nullptr;
  for (const ControlSpec& c : controls)
    if (c.name == ansiName) return &c;
  return nullptr;
}

}  // namespace velmo
