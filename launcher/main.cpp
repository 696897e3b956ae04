// The process entry: runs the launcher and ends the process with its result.
#include "app/program_image.h"
#include "launcher/launcher.h"
#include "platform/win32.h"

int main() {
  ExitProcess(static_cast<UINT>(launcher::Run(app::ProgramImage())));
}
