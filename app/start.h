// The start routine, the end routine and the initialisation of the global
// state.
#pragma once

namespace app {

// Prepares the globals, registers the end routine, opens the main window, runs
// the message loop and ends the program. Never returns.
[[noreturn]] void StartProgram();
// Allocates the GDI+ start-up input record with all four fields 0.
void InitGlobals();
// The end routine: frees what the globals own.
void FreeGlobals();

}  // namespace app
