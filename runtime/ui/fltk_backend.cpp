// The FLTK backend: the main window on the X display, built from the form.
//
// Layout: the client area is the stored outer size less a 3 px frame and a
// 26 px title bar (see FltkBackend::kBorder). Every control is placed at its
// absolute position in the client area with its stored size; in FLTK the
// children of a group use window coordinates too, so a control inside a group
// box is made at ControlLayout::absLeft/absTop and added to the group's widget.
//
// Kinds: group box -> Fl_Group drawn as an engraved frame without a caption;
// label -> a flat box with the caption at its top left (lines split at CR LF;
// a caption with more lines than fit at the normal size is drawn smaller so
// that every line shows within the label); button -> Fl_Button; edit box ->
// Fl_Input; progress bar -> Fl_Progress over 0..120; the common dialog has no
// widget. Hidden controls (state flag bit 0 clear) are made and hidden, so the
// tab order never reaches them; visible controls take the keyboard focus only
// with the tab-stop flag. Controls are added to their parents in stored
// order, which is also the tab order.
//
// Events: a button's click fires its event 0; a left mouse press over a label
// fires event -1 with the position in the control and the modifier keys
// (1 shift, 2 control, 4 alt). Closing the window (its close button or the
// window manager) ends RunMessageLoop; Escape does not close it. A close
// requested while a handler runs (a merge, and the message box it ends with)
// is kept and carried out when the handler returns, as a Windows window's
// close waits in its queue until the thread takes messages again; the
// toolkit itself would drop it while a modal box is up.
#include "runtime/ui/fltk_backend.h"

#include <FL/Enumerations.H>
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
#include <FL/fl_utf8.h>
#include <FL/x.H>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "runtime/ui/dialog_filter.h"
#include "runtime/ui/icon.h"
#include "host/ui.h"

namespace velmo {
namespace {

// A caption from the form: ANSI -> UTF-8, CR LF (or a lone CR) -> LF.
std::string DisplayText(const std::string& ansi) {
  std::string utf8 = platform::AnsiToUtf8(ansi);
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] == '\r') {
      out += '\n';
      if (i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
    } else {
      out += utf8[i];
    }
  }
  return out;
}

int ModifierState() {
  int state = 0;
  if (Fl::event_state(FL_SHIFT)) state |= 1;
  if (Fl::event_state(FL_CTRL)) state |= 2;
  if (Fl::event_state(FL_ALT)) state |= 4;
  return state;
}

class LabelBox : public Fl_Box {
 public:
  LabelBox(int x, int y, int w, int h, std::uint32_t id, FltkBackend* owner)
      : Fl_Box(x, y, w, h), id_(id), owner_(owner) {
    box(FL_FLAT_BOX);
    align(FL_ALIGN_INSIDE | FL_ALIGN_TOP_LEFT | FL_ALIGN_CLIP);
  }

  // Sets the caption; a size that lets every line fit in the label's height.
  void SetCaption(const std::string& utf8) {
    copy_label(utf8.c_str());
    int lines = 1 + static_cast<int>(std::count(utf8.begin(), utf8.end(), '\n'));
    int size = FltkBackend::kFontSize;
    while (size > 8 && lines * fl_height(FL_HELVETICA, size) > h()) --size;
    labelsize(size);
    redraw();
  }

  int handle(int event) override {
    if (event == FL_PUSH && Fl::event_button() == FL_LEFT_MOUSE) {
      const std::int32_t args[3] = {Fl::event_x() - x(), Fl::event_y() - y(), ModifierState()};
      owner_->Deliver(id_, host::kEventLeftButtonDown, args, 3);
      return 1;
    }
    return Fl_Box::handle(event);
  }

 private:
  std::uint32_t id_;
  FltkBackend* owner_;
};

class ControlButton : public Fl_Button {
 public:
  ControlButton(int x, int y, int w, int h, std::uint32_t id, FltkBackend* owner)
      : Fl_Button(x, y, w, h), id_(id), owner_(owner) {
    callback(Clicked);
  }

 private:
  static void Clicked(Fl_Widget* w, void*) {
    auto* self = static_cast<ControlButton*>(w);
    self->owner_->Deliver(self->id_, host::kEventClicked, nullptr, 0);
  }
  std::uint32_t id_;
  FltkBackend* owner_;
};

// The main window's close request: the close button hides the window, which
// ends the message loop; Escape (a shortcut event) is ignored.
void MainWindowCallback(Fl_Widget* w, void*) {
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  w->hide();
}

// The icon of a message box, by the style's icon bits.
class MessageIcon : public Fl_Widget {
 public:
  MessageIcon(int x, int y, int size, std::uint32_t iconBits)
      : Fl_Widget(x, y, size, size), bits_(iconBits) {}

  void draw() override {
    const int cx = x() + w() / 2, cy = y() + h() / 2, r = w() / 2;
    switch (bits_) {
      case 0x10:  // error: a red disc with a white cross
        fl_color(fl_rgb_color(205, 38, 38));
        fl_pie(x(), y(), w(), h(), 0, 360);
        fl_color(FL_WHITE);
        fl_line_style(FL_SOLID | FL_CAP_ROUND, 3);
        fl_line(cx - r / 2, cy - r / 2, cx + r / 2, cy + r / 2);
        fl_line(cx + r / 2, cy - r / 2, cx - r / 2, cy + r / 2);
        fl_line_style(0);
        break;
      case 0x30:  // warning: a yellow triangle with a black exclamation mark
        fl_color(fl_rgb_color(240, 190, 20));
        fl_polygon(cx, y(), x() + w() - 1, y() + h() - 1, x(), y() + h() - 1);
        fl_color(FL_BLACK);
        fl_rectf(cx - 2, y() + h() / 3, 4, h() / 3);
        fl_rectf(cx - 2, y() + h() - 8, 4, 4);
        break;
      case 0x20:  // question: a blue disc with a white question mark
      case 0x40:  // information: a blue disc with a white "i"
        fl_color(fl_rgb_color(35, 105, 200));
        fl_pie(x(), y(), w(), h(), 0, 360);
        fl_color(FL_WHITE);
        if (bits_ == 0x40) {
          fl_pie(cx - 3, y() + h() / 5, 6, 6, 0, 360);
          fl_rectf(cx - 2, y() + h() * 2 / 5, 5, h() * 2 / 5);
        } else {
          fl_font(FL_HELVETICA_BOLD, h() * 2 / 3);
          fl_draw("?", x(), y(), w(), h(), FL_ALIGN_CENTER);
        }
        break;
      default: break;
    }
  }

 private:
  std::uint32_t bits_;
};

// Breaks a UTF-8 text into lines no wider than maxWidth in the current font:
// between any two characters for Chinese, at the last blank for Latin words.
std::string WrapText(const std::string& text, int maxWidth) {
  std::string out, line;
  std::size_t lastBlank = std::string::npos;  // in `line`
  const char* p = text.c_str();
  const char* end = p + text.size();
  while (p < end) {
    int len = 0;
    unsigned cp = fl_utf8decode(p, end, &len);
    if (len < 1) len = 1;
    std::string ch(p, static_cast<std::size_t>(len));
    p += len;
    if (ch == "\n") {
      out += line + "\n";
      line.clear();
      lastBlank = std::string::npos;
      continue;
    }
    if (!line.empty() && fl_width((line + ch).c_str()) > maxWidth) {
      bool word = cp < 0x80 && cp != ' ';
      if (word && lastBlank != std::string::npos) {
        out += line.substr(0, lastBlank) + "\n";
        line = line.substr(lastBlank + 1);
      } else {
        out += line + "\n";
        line.clear();
      }
      lastBlank = std::string::npos;
      if (ch == " ") continue;
    }
    if (ch == " ") lastBlank = line.size();
    line += ch;
  }
  return out + line;
}

void SpawnDetached(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& s : command) argv.push_back(const_cast<char*>(s.c_str()));
  argv.push_back(nullptr);
  // Fork twice so that the opener is not our child: nothing has to wait for
  // it and it leaves no zombie behind.
  pid_t child = fork();
  if (child == 0) {
    if (fork() == 0) {
      setsid();
      int devnull = open("/dev/null", O_RDWR);
      if (devnull >= 0) {
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
      }
      for (int fd = 3; fd < 1024; ++fd) close(fd);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    _exit(0);
  }
  if (child > 0) waitpid(child, nullptr, 0);
}

std::optional<std::string> ToWindowsPath(const char* posix) {
  if (!posix || !*posix) return std::nullopt;
  std::optional<std::string> windows = platform::PosixToWindows(posix);
  if (!windows) std::fprintf(stderr, "the path %s has no Windows form\n", posix);
  return windows;
}

}  // namespace

// A lost connection to the X server (it killed this client, or ended) ends
// the program through the host's end, as a close does: nothing can be shown
// any more. Xlib ends the process when this handler returns, so it does not
// return. A window another client destroys needs nothing of this (the
// toolkit takes its destruction for a close), but the drawing requests
// already on their way for it, its back buffer and its pictures then fail
// with BadWindow, BadDrawable or the RENDER extension's BadPicture: those
// errors are expected and said nowhere; any other goes to the toolkit's own
// handler.
struct XHandlers {
  static inline XErrorHandler toolkit = nullptr;
  static inline int renderErrors = -1;  // the RENDER extension's first error code

  static int Error(Display* display, XErrorEvent* error) {
    const bool vanished = error->error_code == BadWindow || error->error_code == BadDrawable ||
                          (renderErrors >= 0 && error->error_code == renderErrors + 1);  // BadPicture
    if (vanished) return 0;
    return toolkit ? toolkit(display, error) : 0;
  }

  static int DisplayLost(Display*) {
    static bool ending = false;
    FltkBackend* self = FltkBackend::current_;
    if (!ending && self && self->displayLost_) {
      ending = true;
      self->displayLost_();
    }
    std::fflush(nullptr);
    std::_Exit(0);
  }
};

FltkBackend::FltkBackend() {
  fl_open_display();
  XSetIOErrorHandler(XHandlers::DisplayLost);
  int opcode = 0, firstEvent = 0, firstError = 0;
  if (XQueryExtension(fl_display, "RENDER", &opcode, &firstEvent, &firstError)) XHandlers::renderErrors = firstError;
  XHandlers::toolkit = XSetErrorHandler(XHandlers::Error);
  Fl::scheme("gtk+");
  // The leading blank is the toolkit's mark for the regular weight, 'B' for bold.
  static const std::string regular = std::string(" ") + kFontFace;
  static const std::string bold = std::string("B") + kFontFace;
  Fl::set_font(FL_HELVETICA, regular.c_str());
  Fl::set_font(FL_HELVETICA_BOLD, bold.c_str());
  FL_NORMAL_SIZE = kFontSize;
}

FltkBackend::~FltkBackend() {
  if (current_ == this) {
    current_ = nullptr;
    Fl::event_dispatch(nullptr);
  }
}

FltkBackend* FltkBackend::current_ = nullptr;

int FltkBackend::Dispatch(int event, Fl_Window* window) {
  FltkBackend* self = current_;
  if (event == FL_CLOSE && self && window == self->window_.get() && self->handlerDepth_ > 0) {
    self->closePending_ = true;
    return 1;
  }
  return Fl::handle_(event, window);
}

Fl_Widget* FltkBackend::WidgetFor(std::uint32_t id) const {
  auto it = widgets_.find(id);
  return it == widgets_.end() ? nullptr : it->second;
}

void FltkBackend::Deliver(std::uint32_t id, std::int32_t event, const std::int32_t* args,
                          int argc) {
  if (!sink_) return;
  ++handlerDepth_;
  sink_(id, event, args, argc);
  if (--handlerDepth_ == 0 && closePending_) {
    closePending_ = false;
    if (window_) window_->hide();
  }
}

void FltkBackend::CreateMainWindow(const WindowLayout& spec, EventSink sink) {
  sink_ = std::move(sink);
  widgets_.clear();
  kinds_.clear();
  title_ = DisplayText(spec.window.caption);

  const int clientW = std::max(1, spec.window.width - 2 * kBorder);
  const int clientH = std::max(1, spec.window.height - kTitleBar - kBorder);
  Fl_Group::current(nullptr);
  window_ = std::make_unique<Fl_Double_Window>(spec.window.left + kBorder,
                                               spec.window.top + kTitleBar, clientW, clientH);
  window_->end();
  window_->copy_label(title_.c_str());
  window_->size_range(clientW, clientH, clientW, clientH);
  window_->callback(MainWindowCallback);
  current_ = this;
  Fl::event_dispatch(Dispatch);

  std::vector<std::uint8_t> small = ui::DrawIcon(16), large = ui::DrawIcon(32);
  Fl_RGB_Image smallIcon(small.data(), 16, 16, 4), largeIcon(large.data(), 32, 32, 4);
  const Fl_RGB_Image* icons[] = {&smallIcon, &largeIcon};
  window_->icons(icons, 2);  // the window keeps copies

  // Make every widget first, then add each to its parent in stored order: a
  // group box's children stand before the group box in the table.
  for (const ControlLayout& c : spec.controls) {
    Fl_Group::current(nullptr);
    Fl_Widget* w = nullptr;
    const int x = c.absLeft, y = c.absTop, cw = c.width, ch = c.height;
    switch (c.kind) {
      case host::kKindGroupBox: {
        auto* g = new Fl_Group(x, y, cw, ch);
        g->end();
        g->box(FL_ENGRAVED_FRAME);
        w = g;
        break;
      }
      case host::kKindLabel: {
        auto* label = new LabelBox(x, y, cw, ch, c.id, this);
        label->SetCaption(DisplayText(c.caption));
        w = label;
        break;
      }
      case host::kKindButton: {
        auto* button = new ControlButton(x, y, cw, ch, c.id, this);
        button->copy_label(DisplayText(c.caption).c_str());
        w = button;
        break;
      }
      case host::kKindEdit: {
        auto* input = new Fl_Input(x, y, cw, ch);
        input->when(FL_WHEN_NEVER);
        input->textfont(FL_HELVETICA);
        input->textsize(kFontSize);
        w = input;
        break;
      }
      case host::kKindProgressBar: {
        auto* bar = new Fl_Progress(x, y, cw, ch);
        bar->minimum(0);
        bar->maximum(host::kProgressMaximum);
        bar->value(0);
        bar->selection_color(fl_rgb_color(6, 176, 37));
        w = bar;
        break;
      }
      default:  // the common dialog, and kinds this window does not use
        continue;
    }
    w->labelfont(FL_HELVETICA);
    if (c.kind != host::kKindLabel) w->labelsize(kFontSize);
    // A group box only passes the focus on to its children.
    if (!c.tabStop() && c.kind != host::kKindGroupBox) w->clear_visible_focus();
    if (!c.visible()) w->hide();
    widgets_[c.id] = w;
    kinds_[c.id] = c.kind;
  }
  for (const ControlLayout& c : spec.controls) {
    Fl_Widget* w = WidgetFor(c.id);
    if (!w) continue;
    Fl_Group* parent = window_.get();
    if (c.parent != 0 && kinds_.count(c.parent) && kinds_[c.parent] == host::kKindGroupBox)
      parent = static_cast<Fl_Group*>(WidgetFor(c.parent));
    parent->add(w);
  }
  Fl_Group::current(nullptr);

  window_->show();
  Fl::flush();
  Deliver(spec.window.id, host::kEventCreated, nullptr, 0);
}

void FltkBackend::RunMessageLoop() {
  while (window_ && window_->shown()) Fl::wait();
}

void FltkBackend::Repaint() {
  // Draws what changed now, without handling any input: a merge writes the
  // progress position from inside a click, and the bar must move meanwhile.
  if (window_ && window_->shown()) Fl::flush();
}

void FltkBackend::PropertyWritten(const ControlLayout& control, std::uint32_t property,
                                  const PropertyValue& value) {
  Fl_Widget* w = WidgetFor(control.id);
  if (!w) return;
  const std::uint32_t kind = kinds_[control.id];
  switch (property) {
    case host::kPropDisabled:
      if (value.isText) return;
      if (value.number != 0)
        w->deactivate();
      else
        w->activate();
      break;
    case host::kPropText:
      if (!value.isText) return;
      if (kind == host::kKindLabel)
        static_cast<LabelBox*>(w)->SetCaption(DisplayText(value.text));
      else if (kind == host::kKindEdit) {
        auto* input = static_cast<Fl_Input*>(w);
        input->value(platform::AnsiToUtf8(value.text).c_str());
        // An edit box scrolls to show its cursor, which value() puts at the
        // end; with the cursor at the start it shows the text's start, as a
        // Windows edit control does after its text is set.
        input->position(0);
      } else
        return;
      break;
    case host::kPropProgress:
      if (kind != host::kKindProgressBar || value.isText) return;
      static_cast<Fl_Progress*>(w)->value(
          static_cast<float>(std::clamp(value.number, 0, host::kProgressMaximum)));
      break;
    default: return;
  }
  w->redraw();
  Repaint();
}

void FltkBackend::ShowMessage(const std::string& ansiText, std::uint32_t style) {
  const int kMargin = 14, kIcon = 32, kButtonW = 84, kButtonH = 26, kMaxText = 400;
  const std::uint32_t iconBits = style & 0x70;
  const bool hasIcon = iconBits == 0x10 || iconBits == 0x20 || iconBits == 0x30 || iconBits == 0x40;

  fl_font(FL_HELVETICA, kFontSize);
  std::string text = WrapText(DisplayText(ansiText), kMaxText);
  int textW = 0, textH = 0;
  fl_measure(text.c_str(), textW, textH, 0);
  textW = std::max(textW, 1);
  textH = std::max(textH, fl_height());

  const int textX = kMargin + (hasIcon ? kIcon + kMargin : 0);
  const int bodyH = std::max(textH, hasIcon ? kIcon : 0);
  const int width = std::max(textX + textW + kMargin, kButtonW + 2 * kMargin);
  const int height = kMargin + bodyH + kMargin + kButtonH + kMargin;

  Fl_Group::current(nullptr);
  Fl_Double_Window dialog(width, height);
  dialog.copy_label(title_.c_str());
  if (hasIcon) new MessageIcon(kMargin, kMargin, kIcon, iconBits);
  auto* body = new Fl_Box(textX, kMargin + (bodyH - textH) / 2, textW, textH);
  body->copy_label(text.c_str());
  body->labelfont(FL_HELVETICA);
  body->labelsize(kFontSize);
  body->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP_LEFT);
  auto* ok = new Fl_Return_Button((width - kButtonW) / 2, height - kMargin - kButtonH, kButtonW,
                                  kButtonH, "OK");
  ok->callback([](Fl_Widget* w, void*) { w->window()->hide(); });
  dialog.end();
  dialog.set_modal();
  if (window_ && window_->shown())
    dialog.position(window_->x() + (window_->w() - width) / 2,
                    window_->y() + (window_->h() - height) / 2);
  else
    dialog.hotspot(ok);
  dialog.show();
  while (dialog.shown()) Fl::wait();
}

std::optional<std::string> FltkBackend::BrowseFolder(const std::string& ansiPrompt) {
  Fl_Native_File_Chooser chooser(Fl_Native_File_Chooser::BROWSE_DIRECTORY);
  std::string prompt = DisplayText(ansiPrompt);
  chooser.title(prompt.c_str());
  if (chooser.show() != 0) return std::nullopt;
  return ToWindowsPath(chooser.filename());
}

std::optional<std::string> FltkBackend::SaveDialog(const SaveDialogRequest& request) {
  Fl_Native_File_Chooser chooser(Fl_Native_File_Chooser::BROWSE_SAVE_FILE);
  std::string title = DisplayText(request.title);
  if (!title.empty()) chooser.title(title.c_str());
  std::string filter = ui::ToolkitFilter(platform::AnsiToUtf8(request.filter));
  if (!filter.empty()) chooser.filter(filter.c_str());

  std::string directory, file;
  if (!request.fileName.empty()) {
    if (std::optional<std::string> posix = platform::WindowsToPosix(request.fileName)) {
      std::size_t slash = posix->rfind('/');
      directory = slash == 0 ? "/" : posix->substr(0, slash);
      file = posix->substr(slash + 1);
    }
  }
  if (!directory.empty()) chooser.directory(directory.c_str());
  if (!file.empty()) chooser.preset_file(file.c_str());
  if (chooser.show() != 0) return std::nullopt;
  return ToWindowsPath(chooser.filename());
}

void FltkBackend::OpenTarget(const std::string& ansiTarget) {
  std::string target = platform::AnsiToUtf8(ansiTarget);
  if (target.empty()) return;
  SpawnDetached({"xdg-open", target});
}

void FltkBackend::RuntimeError(std::uint32_t, const std::string&) {
  // The host has already reported it on stderr; the program goes on and the
  // window shows nothing of it.
}

std::unique_ptr<UiBackend> MakeFltkBackend(std::string* error) {
  // Opening the display through the toolkit ends the process when it fails,
  // so try it with Xlib first.
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    if (error) *error = "no display available (set DISPLAY, or VELMO_SCRIPT for a scripted run)";
    return nullptr;
  }
  XCloseDisplay(display);
  return std::make_unique<FltkBackend>();
}

}  // namespace velmo
