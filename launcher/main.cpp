// The process entry: runs the launcher and ends the process with its result.
#include "app/program_image.h"
#include "launcher/launcher.h"
#ifdef _WIN32
#include <windows.h>
#else
#include "platform/win32.h"
#endif

int main() {
  ExitProcess(static_cast<UINT>(launcher::Run(app::ProgramImage())));
}
