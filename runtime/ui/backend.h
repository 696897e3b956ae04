// What the runtime host needs from a user interface: a window built from the
// form, the message loop, the property side effects, and the modal dialogs.
// Three implementations: the FLTK backend (a real window on Linux), the
// Win32 backend (a window of real Windows controls) and the scripted backend
// (no display; answers dialogs from a scenario file and records what the
// program shows).
//
// All texts crossing this interface are in the ANSI code page (the program's
// own encoding, 936); a backend that needs UTF-8 converts them itself
// (runtime/system.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "runtime/ui/window_layout.h"

namespace velmo {

// Called by a backend when an event of a control occurs. `args` are the
// handler's arguments (three words for a mouse press, none otherwise).
using EventSink = std::function<void(std::uint32_t controlId, std::int32_t event,
                                     const std::int32_t* args, int argc)>;

struct PropertyValue {
  bool isText = false;
  std::int32_t number = 0;
  std::string text;  // ANSI, when isText
};

struct SaveDialogRequest {
  std::string title;     // ANSI; empty = the toolkit's default
  std::string filter;    // ANSI: "desc|pattern|desc|pattern"
  std::string fileName;  // ANSI Windows path: the dialog's current file name
  std::uint32_t type = 0;  // 1 = save-file dialog
};

class UiBackend {
 public:
  virtual ~UiBackend() = default;

  // Creates the window and its controls from `spec` and shows it. Fires the
  // window's created event (through `sink`) once, before any input.
  virtual void CreateMainWindow(const WindowLayout& spec, EventSink sink) = 0;
  // Runs until the main window is closed.
  virtual void RunMessageLoop() = 0;
  // `end` ends the program as a normal close does, and does not return. A
  // backend calls it when it can no longer show anything nor return to the
  // message loop (the X server cut this client off); one whose window cannot
  // be lost that way ignores it.
  virtual void OnDisplayLost(std::function<void()> end) { (void)end; }

  // The program wrote a property; the backend shows what it means for the
  // control's kind: 6 disabled (1) / enabled (0); 8 caption of a label or
  // content of an edit box (text); 13 position of the progress bar, repainted
  // at once without handling input. Writes that change nothing on screen
  // (the dialog's type, title, filter, file name) are passed on as well, so
  // that the scripted backend can record every write.
  virtual void PropertyWritten(const ControlLayout& control, std::uint32_t property,
                               const PropertyValue& value) = 0;

  // Modal dialogs. Paths are Windows paths in ANSI.
  virtual void ShowMessage(const std::string& ansiText, std::uint32_t style) = 0;
  // The chosen folder, or nullopt when cancelled.
  virtual std::optional<std::string> BrowseFolder(const std::string& ansiPrompt) = 0;
  // The chosen file, or nullopt when cancelled.
  virtual std::optional<std::string> SaveDialog(const SaveDialogRequest& request) = 0;
  virtual void OpenTarget(const std::string& ansiTarget) = 0;
  // A runtime error the program caused (shown or recorded; the program goes on).
  virtual void RuntimeError(std::uint32_t code, const std::string& detail) = 0;

  // What the host saw of the files the program uses (UTF-8 Windows paths): a
  // file it looked for and found missing, and what became of a picture it
  // loaded: `status` 0 when drawn, else the GDI+ status of the call that
  // failed, with the platform's reason word when it gives one. The scripted
  // transcript records them; a window shows nothing.
  virtual void FileMissing(const std::string&) {}
  virtual void PictureOutcome(const std::string&, std::uint32_t, const std::string&) {}
};

// The scripted backend when VELMO_SCRIPT names a scenario file, else the
// window: FLTK on Linux when a display is available, real Windows controls on
// Windows; null when there is none (the caller reports that no display is
// available).
std::unique_ptr<UiBackend> MakeBackendFromEnvironment(std::string* error);
std::unique_ptr<UiBackend> MakeScriptedBackend(const std::string& scenarioPath, std::string* error);
#ifdef _WIN32
std::unique_ptr<UiBackend> MakeWin32Backend(std::string* error);
#else
std::unique_ptr<UiBackend> MakeFltkBackend(std::string* error);
#endif

}  // namespace velmo
