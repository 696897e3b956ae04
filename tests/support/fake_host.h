// A small stand-in for the runtime host, for tests of the program's routines:
// it lays the code segment out in memory, applies the fixups the way the host
// does, provides a zeroed var segment and a service table whose slots record
// what the routines ask for.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/abi.h"
#include "image/link_area.h"

namespace testing_host {

// Thrown by the fake EndProgram so that a test regains control after
// StartProgram, which never returns.
struct ProgramEnded {
  host::Word code;
};

class FakeHost {
 public:
  FakeHost();
  ~FakeHost();

  // Renumbers an identifier in its cell before fixups are applied, the way a
  // host may when it binds the program.
  void Renumber(image::CellKind kind, std::uint32_t from, std::uint32_t to);
  // Applies fixups, fills the entry cells and attaches the program to this
  // code segment. Call once, after any Renumber.
  void Bind();

  std::uint8_t* code() { return code_.data(); }
  host::Word* vars() { return vars_.data(); }
  host::Word var(std::uint32_t storedOffset) const { return vars_[storedOffset / 4]; }
  const std::uint8_t* constBase() const { return const_.data(); }

  // Everything the routines asked for, one line each, in order.
  std::vector<std::string> calls;
  // Blocks handed out by Allocate and not yet freed.
  std::set<void*> live;
  // Free calls on blocks that were not live (double or foreign frees).
  int badFrees = 0;
  host::Word endRoutine = 0;
  // Argument records of the last support command, and the result to give.
  std::vector<host::ArgRecord> lastArgs;
  host::Word commandResult = 0;
  std::function<void()> onMessageLoop;

  static FakeHost* current;

 private:
  std::vector<std::uint8_t> code_;
  std::vector<std::uint8_t> const_;
  std::vector<host::Word> vars_;
  host::ServiceTable table_{};
};

}  // namespace testing_host
