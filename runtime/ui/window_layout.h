// The main window as the runtime host builds it: one entry per record of the
// form segment, with parents resolved over the whole table and positions made
// absolute (relative to the window's client area) before any control is made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmo {

struct EventBinding {
  std::int32_t event;        // 0 = created/clicked, -1 = left button pressed
  std::uint32_t codeOffset;  // the handler's entry cell in the code segment
};

struct ControlLayout {
  std::uint32_t id = 0;
  std::uint32_t kind = 0;       // kind code (0x00010001 window, 0x0001000B button, ...)
  std::string name;             // code page 936 bytes, as stored
  std::uint32_t parent = 0;     // group box id, 0 = the window
  int left = 0, top = 0, width = 0, height = 0;  // as stored (relative to the parent)
  int absLeft = 0, absTop = 0;  // relative to the window's client area
  std::uint32_t flags = 0;      // bit 0 visible, bit 2 tab stop
  std::vector<std::uint32_t> children;
  std::vector<EventBinding> events;
  bool hasCaption = false;
  std::string caption;          // code page 936 bytes; CR LF separates lines
  std::vector<std::uint32_t> values;  // the kind's stored property values, unchanged
  bool visible() const { return flags & 1; }
  bool tabStop() const { return flags & 4; }
};

struct WindowLayout {
  ControlLayout window;                 // the window's own record (left/top = screen position)
  std::vector<ControlLayout> controls;  // in stored order
  const ControlLayout* Find(std::uint32_t id) const;
};

}  // namespace velmo
