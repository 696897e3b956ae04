#include "tests/support/fake_host.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "app/routine_table.h"
#include "image/constants.h"
#include "image/link.h"

namespace testing_host {

FakeHost* FakeHost::current = nullptr;

namespace {

FakeHost& H() { return *FakeHost::current; }

std::string Hex(std::uint64_t v) {
  std::ostringstream s;
  s << "0x" << std::hex << v;
  return s.str();
}

extern "C" void SvcReportRuntimeError(std::uint32_t code) {
  H().calls.push_back("ReportRuntimeError " + std::to_string(code));
}
extern "C" host::Word SvcCallNative(std::uint32_t index, std::uint32_t argc, const host::Word*) {
  H().calls.push_back("CallNative " + std::to_string(index) + " argc=" + std::to_string(argc));
  return 0;
}
extern "C" host::Word SvcCallLibraryCommand(std::uint32_t lib, std::uint32_t cmd, std::uint32_t argc,
                                            const host::ArgRecord* args) {
  H().calls.push_back("CallLibraryCommand " + std::to_string(lib) + " " + Hex(cmd) + " argc=" +
                      std::to_string(argc));
  H().lastArgs.assign(args, args + argc);
  return H().commandResult;
}
extern "C" host::Word SvcCallCoreCommand(std::uint32_t cmd, std::uint32_t argc,
                                         const host::ArgRecord* args) {
  H().calls.push_back("CallCoreCommand " + Hex(cmd) + " argc=" + std::to_string(argc));
  H().lastArgs.assign(args, args + argc);
  return H().commandResult;
}
extern "C" host::Word SvcReadProperty(std::uint32_t w, std::uint32_t c, std::uint32_t p, std::int32_t i) {
  H().calls.push_back("ReadProperty " + Hex(w) + " " + Hex(c) + " " + std::to_string(p) + " " +
                      std::to_string(i));
  return 0;
}
extern "C" void SvcWriteProperty(std::uint32_t w, std::uint32_t c, std::uint32_t p, std::int32_t i,
                                 std::uint32_t lo, std::uint32_t hi) {
  H().calls.push_back("WriteProperty " + Hex(w) + " " + Hex(c) + " " + std::to_string(p) + " " +
                      std::to_string(i) + " " + Hex(lo) + " " + Hex(hi));
}
extern "C" void* SvcAllocate(std::uint32_t bytes) {
  H().calls.push_back("Allocate " + std::to_string(bytes));
  void* p = std::malloc(bytes ? bytes : 1);
  std::memset(p, 0xA5, bytes);  // not zero: routines must initialise what they use
  H().live.insert(p);
  return p;
}
extern "C" void SvcFree(void* block) {
  H().calls.push_back("Free");
  auto it = H().live.find(block);
  if (it == H().live.end()) {
    ++H().badFrees;
    return;
  }
  H().live.erase(it);
  std::free(block);
}
extern "C" void SvcEndProgram(host::Word code) {
  H().calls.push_back("EndProgram " + std::to_string(code));
  if (H().endRoutine) {
    host::Word fn;
    std::memcpy(&fn, reinterpret_cast<void*>(H().endRoutine), sizeof fn);
    reinterpret_cast<void (*)()>(fn)();
  }
  throw ProgramEnded{code};
}
extern "C" void SvcRunMessageLoop(host::Word v) {
  H().calls.push_back("RunMessageLoop " + std::to_string(v));
  if (H().onMessageLoop) H().onMessageLoop();
}
extern "C" void SvcLoadStartWindow(std::uint32_t id) { H().calls.push_back("LoadStartWindow " + Hex(id)); }
extern "C" host::Word SvcAuxService(std::uint32_t fn, host::Word a, host::Word, host::Word, host::Word) {
  H().calls.push_back("AuxService " + std::to_string(fn));
  if (fn == static_cast<std::uint32_t>(host::Aux::SetEndRoutine)) H().endRoutine = a;
  return 0;
}

template <typename F>
host::Word W(F f) {
  return reinterpret_cast<host::Word>(f);
}

void Put(std::uint8_t* at, host::Word v) { std::memcpy(at, &v, sizeof v); }
host::Word Get(const std::uint8_t* at) {
  host::Word v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

}  // namespace

FakeHost::FakeHost() {
  current = this;
  auto cs = image::BuildCodeSegment();
  code_ = cs.bytes;
  const_.assign(image::kConstSize, 0);
  vars_.assign(17, 0);
  using host::Slot;
  table_.slot[host::SlotIndex(Slot::ReportRuntimeError)] = W(&SvcReportRuntimeError);
  table_.slot[host::SlotIndex(Slot::CallNative)] = W(&SvcCallNative);
  table_.slot[host::SlotIndex(Slot::CallLibraryCommand)] = W(&SvcCallLibraryCommand);
  table_.slot[host::SlotIndex(Slot::CallCoreCommand)] = W(&SvcCallCoreCommand);
  table_.slot[host::SlotIndex(Slot::ReadProperty)] = W(&SvcReadProperty);
  table_.slot[host::SlotIndex(Slot::WriteProperty)] = W(&SvcWriteProperty);
  table_.slot[host::SlotIndex(Slot::Allocate)] = W(&SvcAllocate);
  table_.slot[host::SlotIndex(Slot::Free)] = W(&SvcFree);
  table_.slot[host::SlotIndex(Slot::EndProgram)] = W(&SvcEndProgram);
  table_.slot[host::SlotIndex(Slot::RunMessageLoop)] = W(&SvcRunMessageLoop);
  table_.slot[host::SlotIndex(Slot::LoadStartWindow)] = W(&SvcLoadStartWindow);
  table_.slot[host::SlotIndex(Slot::AuxService)] = W(&SvcAuxService);
}

FakeHost::~FakeHost() {
  for (void* p : live) std::free(p);
  if (current == this) current = nullptr;
}

void FakeHost::Renumber(image::CellKind kind, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t i = 0; i < image::kPoolCells; ++i) {
    if (image::kPool[i].kind == kind && image::kPool[i].value == from)
      Put(code_.data() + image::kPoolOffset + i * image::kCellSize, to);
  }
}

void FakeHost::Bind() {
  auto cs = image::BuildCodeSegment();
  for (std::uint32_t f : cs.fixups) {
    std::uint32_t at = f >> 3;
    host::Word stored = Get(code_.data() + at);
    host::Word v = 0;
    switch (f & 7) {
      case 0: v = reinterpret_cast<host::Word>(&table_.slot[stored / 4]); break;
      case 1: v = reinterpret_cast<host::Word>(const_.data() + stored); break;
      case 2: v = reinterpret_cast<host::Word>(&vars_[stored / 4]); break;
      case 3: v = reinterpret_cast<host::Word>(code_.data() + stored); break;
    }
    Put(code_.data() + at, v);
  }
  app::FillEntryCells(code_.data());
  image::Link::Attach(code_.data());
}

}  // namespace testing_host
