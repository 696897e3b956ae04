#include "app/start.h"

#include <cfenv>
#include <cstring>

#include "app/link.h"

namespace app {

void InitGlobals() {
  // The GDI+ start-up input: version, debug-event callback, suppress-background-
  // thread flag, suppress-external-codecs flag; each user sets the version.
  void* record = Svc().Allocate(16);
  std::memset(record, 0, 16);
  Var<G::gdipStartupInput>() = reinterpret_cast<host::Word>(record);
}

void FreeGlobals() {
  const host::Services svc = Svc();
  auto freeIfSet = [&](host::Word& slot) {
    if (slot) svc.Free(reinterpret_cast<void*>(slot));
    slot = 0;
  };
  freeIfSet(Var<G::tileDir>());
  freeIfSet(Var<G::tilePrefix>());
  freeIfSet(Var<G::entryName>());
  // The start-up record is always there once the program has started.
  svc.Free(reinterpret_cast<void*>(Var<G::gdipStartupInput>()));
  Var<G::gdipStartupInput>() = 0;
  freeIfSet(Var<G::bmpFileBytes>());
  freeIfSet(Var<G::outputPath>());
}

void StartProgram() {
  // Nearest rounding, every floating-point exception masked: a division by
  // zero gives an infinity or NaN and never traps.
  std::fesetenv(FE_DFL_ENV);
  InitGlobals();
  const host::Services svc = Svc();
  svc.SetEndRoutine(RoutineCell<image::Routine::FreeGlobals>());
  svc.LoadStartWindow(Id<window::kMainWindow>());
  svc.RunMessageLoop();
  svc.EndProgram();
}

}  // namespace app
