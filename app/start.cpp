#include "app/start.h"

#include <cfenv>
#include <cstring>

#include "image/link.h"

namespace app {

using image::g;

void InitGlobals() {
  // The GDI+ start-up input: version, debug-event callback, suppress-background-
  // thread flag, suppress-external-codecs flag; each user sets the version.
  void* record = image::Svc().Allocate(16);
  std::memset(record, 0, 16);
  g.gdipStartupInput = static_cast<std::uint32_t*>(record);
}

void FreeGlobals() {
  const host::Services svc = image::Svc();
  auto freeIfSet = [&](host::Word& slot) {
    if (slot) svc.Free(reinterpret_cast<void*>(slot));
    slot = 0;
  };
  freeIfSet(g.tileDir.Raw());
  freeIfSet(g.tilePrefix.Raw());
  freeIfSet(g.entryName.Raw());
  // The start-up record is always there once the program has started.
  svc.Free(g.gdipStartupInput);
  g.gdipStartupInput = nullptr;
  freeIfSet(g.bmpFileBytes.Raw());
  freeIfSet(g.outputPath.Raw());
}

void StartProgram() {
  // Nearest rounding, every floating-point exception masked: a division by
  // zero gives an infinity or NaN and never traps.
  std::fesetenv(FE_DFL_ENV);
  InitGlobals();
  const host::Services svc = image::Svc();
  svc.SetEndRoutine(image::RoutineCell<image::Routine::FreeGlobals>());
  svc.LoadStartWindow(image::Id<image::kMainWindow>());
  svc.RunMessageLoop();
  svc.EndProgram();
}

}  // namespace app
