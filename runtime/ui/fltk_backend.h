// The FLTK UI backend: a real window on the X display, built from the form.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "runtime/ui/backend.h"

class Fl_Double_Window;
class Fl_Window;
class Fl_Widget;

namespace velmo {

class FltkBackend : public UiBackend {
 public:
  // The stored window size is the outer size, frame and title bar included.
  // The client area is that less a Windows-like frame: 3 px borders and a
  // 26 px title bar (455 x 288 outside is 449 x 259 inside). The stored
  // position is the frame's top-left corner on the screen, so the client
  // area is placed 3 px right and 26 px down from it.
  static constexpr int kBorder = 3;
  static constexpr int kTitleBar = 26;
  // Every text uses one CJK-capable face at this pixel size.
  static constexpr const char* kFontFace = "WenQuanYi Micro Hei";
  static constexpr int kFontSize = 12;

  // Opens the display (the caller has checked that it can be opened) and
  // sets up the toolkit: gtk+ scheme and the one font.
  FltkBackend();
  ~FltkBackend() override;

  void CreateMainWindow(const WindowLayout& spec, EventSink sink) override;
  void RunMessageLoop() override;
  void OnDisplayLost(std::function<void()> end) override { displayLost_ = std::move(end); }
  void PropertyWritten(const ControlLayout& control, std::uint32_t property,
                       const PropertyValue& value) override;
  void ShowMessage(const std::string& ansiText, std::uint32_t style) override;
  std::optional<std::string> BrowseFolder(const std::string& ansiPrompt) override;
  std::optional<std::string> SaveDialog(const SaveDialogRequest& request) override;
  void OpenTarget(const std::string& ansiTarget) override;
  void RuntimeError(std::uint32_t code, const std::string& detail) override;

  // The main window and the widget made for a control (null for the common
  // dialog, which has no area on the screen, and for unknown identifiers).
  Fl_Double_Window* MainWindow() const { return window_.get(); }
  Fl_Widget* WidgetFor(std::uint32_t id) const;

  // Called by the widgets when their event occurs.
  void Deliver(std::uint32_t id, std::int32_t event, const std::int32_t* args, int argc);

 private:
  void Repaint();
  // Sees every event before the toolkit does: keeps a close request of the
  // main window that arrives while a handler runs.
  static int Dispatch(int event, Fl_Window* window);
  friend struct XHandlers;  // Xlib's hook for a lost connection (fltk_backend.cpp)

  std::function<void()> displayLost_;

  static FltkBackend* current_;  // the backend whose window is shown
  int handlerDepth_ = 0;         // handlers running (a dialog's loop may nest them)
  bool closePending_ = false;    // the window was asked to close meanwhile

  EventSink sink_;
  std::unique_ptr<Fl_Double_Window> window_;
  std::map<std::uint32_t, Fl_Widget*> widgets_;  // owned by window_
  std::map<std::uint32_t, std::uint32_t> kinds_;
  std::string title_;  // UTF-8
};

}  // namespace velmo
