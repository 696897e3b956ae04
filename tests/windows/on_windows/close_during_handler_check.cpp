// A close request reaching the Win32 window while a click handler runs, as it
// runs a merge: progress writes, then the message box that ends it. Prints
// whether the window was still there when the message box returned and
// whether the message loop ended afterwards; the Linux side runs it under
// Wine and reads the lines.
#include <windows.h>

#include <cstdio>

#include "runtime/ui/backend.h"
#include "host/ui.h"

namespace {

constexpr std::uint32_t kWindow = 1, kStart = 2, kProgress = 3;
constexpr char kTitle[] = "Mosalin V1.0";
HWND window = nullptr;

velmo::ControlLayout Control(std::uint32_t id, std::uint32_t kind, int left, int top, int w, int h) {
  velmo::ControlLayout c;
  c.id = id;
  c.kind = kind;
  c.left = c.absLeft = left;
  c.top = c.absTop = top;
  c.width = w;
  c.height = h;
  c.flags = 5;
  return c;
}

// The user's OK in the message box, and a last resort that closes a window
// nobody closed.
void CALLBACK ConfirmMessage(HWND, UINT, UINT_PTR timer, DWORD) {
  if (HWND box = FindWindowA("#32770", kTitle)) {
    KillTimer(nullptr, timer);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
}

void CALLBACK GiveUp(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  std::printf("still open\n");
  DestroyWindow(window);
}

}  // namespace

int main() {
  std::string error;
  std::unique_ptr<velmo::UiBackend> ui = velmo::MakeWin32Backend(&error);
  if (!ui) {
    std::printf("no backend: %s\n", error.c_str());
    return 1;
  }
  velmo::WindowLayout spec;
  spec.window = Control(kWindow, host::kKindWindow, 50, 50, 455, 288);
  spec.window.caption = kTitle;
  spec.controls = {Control(kStart, host::kKindButton, 343, 10, 95, 165),
                   Control(kProgress, host::kKindProgressBar, 9, 184, 429, 24)};
  spec.controls[0].caption = "start";
  ui->CreateMainWindow(spec, [&](std::uint32_t id, std::int32_t, const std::int32_t*, int) {
    if (id != kStart) return;
    // The close request, queued while the merge runs.
    PostMessageA(window, WM_CLOSE, 0, 0);
    for (int p = 0; p <= host::kProgressMaximum; p += 30)
      ui->PropertyWritten(spec.controls[1], host::kPropProgress, velmo::PropertyValue{false, p, {}});
    SetTimer(nullptr, 0, 200, ConfirmMessage);
    ui->ShowMessage("done", MB_ICONINFORMATION);
    std::printf("after the message box: %s\n", IsWindow(window) ? "open" : "destroyed");
  });
  window = FindWindowA(nullptr, kTitle);
  HWND start = FindWindowExA(window, nullptr, "BUTTON", "start");
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(start), BN_CLICKED),
               reinterpret_cast<LPARAM>(start));
  SetTimer(nullptr, 0, 5000, GiveUp);
  ui->RunMessageLoop();
  std::printf("loop ended: %s\n", IsWindow(window) ? "open" : "destroyed");
  std::fflush(stdout);
  return 0;
}
