// user32: the message box.
//
// MessageBoxA always writes one line to standard error, in UTF-8:
// "<caption>: <text>" (a null caption reads "Error", as on Windows; an empty
// caption leaves only the text; line breaks in the text become blanks). Then,
// unless dialogs are switched off, it shows a modal box with the style's icon
// (0x10 error, 0x20 question, 0x30 warning, 0x40 information, none otherwise)
// and one OK button, and waits until it is closed. Only the OK button is
// offered whatever button set the style asks for, and the result is IDOK.
//
// Dialogs are switched off when MOSALIN_NO_DIALOGS is set to anything but ""
// or "0", when DISPLAY is not set, or when the X display does not open.
#include <FL/Enumerations.H>
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/codepage.h"
#include "platform/exports.h"
#include "platform/win32.h"

namespace {

// A face with the CJK characters of the program's texts; fontconfig picks the
// nearest installed face when it is missing. The leading blank marks the
// regular style for the toolkit.
constexpr const char* kDialogFontName = " WenQuanYi Micro Hei";
constexpr Fl_Font kDialogFont = static_cast<Fl_Font>(FL_FREE_FONT + 7);
constexpr Fl_Fontsize kTextSize = 14;
constexpr int kMaxTextWidth = 420;

bool DialogsSwitchedOff() {
  const char* off = std::getenv("MOSALIN_NO_DIALOGS");
  return off && *off && std::strcmp(off, "0") != 0;
}

bool DisplayAvailable() {
  if (fl_display) return true;
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return false;
  // Opened here rather than by the toolkit, which ends the process when the
  // display cannot be opened.
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  fl_open_display(display);
  return true;
}

// One line: line breaks become blanks.
std::string OneLine(std::string s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    out += (s[i] == '\r' || s[i] == '\n') ? ' ' : s[i];
  }
  return out;
}

// The toolkit reads '@' in labels as a symbol name; "@@" is a plain '@'.
std::string LabelText(const std::string& s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '@') out += '@';
  }
  return out;
}

struct Icon {
  const char* glyph;
  Fl_Color color;
};

bool IconOf(UINT style, Icon& icon) {
  switch (style & MB_ICONMASK) {
    case MB_ICONERROR: icon = {"X", FL_RED}; return true;
    case MB_ICONQUESTION: icon = {"?", FL_BLUE}; return true;
    case MB_ICONWARNING: icon = {"!", fl_rgb_color(230, 170, 0)}; return true;
    case MB_ICONINFORMATION: icon = {"i", fl_rgb_color(30, 100, 210)}; return true;
    default: return false;
  }
}

void CloseDialog(Fl_Widget* w, void*) { w->window()->hide(); }

void ShowDialog(const std::string& text, const std::string& caption, UINT style) {
  static bool fontSet = false;
  if (!fontSet) {
    Fl::set_font(kDialogFont, kDialogFontName);
    fontSet = true;
  }
  const std::string label = LabelText(text);
  fl_font(kDialogFont, kTextSize);
  int textW = kMaxTextWidth, textH = 0;
  fl_measure(label.c_str(), textW, textH);
  textW = std::max(textW, 160);
  textH = std::max(textH, 40);

  Icon icon{};
  const bool hasIcon = IconOf(style, icon);
  const int margin = 16, iconSize = 40, buttonW = 88, buttonH = 28;
  const int textX = margin + (hasIcon ? iconSize + margin : 0);
  const int winW = textX + textW + margin;
  const int winH = margin + std::max(textH, hasIcon ? iconSize : 0) + margin + buttonH + margin;

  auto window = std::make_unique<Fl_Double_Window>(winW, winH);
  window->copy_label(caption.c_str());
  if (hasIcon) {
    auto* box = new Fl_Box(FL_OVAL_BOX, margin, margin, iconSize, iconSize, icon.glyph);
    box->color(icon.color);
    box->labelcolor(FL_WHITE);
    box->labelfont(FL_HELVETICA_BOLD);
    box->labelsize(24);
  }
  auto* message = new Fl_Box(textX, margin, textW, std::max(textH, hasIcon ? iconSize : 0));
  message->copy_label(label.c_str());
  message->labelfont(kDialogFont);
  message->labelsize(kTextSize);
  message->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  auto* ok = new Fl_Return_Button(winW - margin - buttonW, winH - margin - buttonH, buttonW, buttonH, "OK");
  ok->callback(CloseDialog);
  window->end();
  window->set_modal();
  window->show();
  while (window->shown()) Fl::wait();
}

}  // namespace

extern "C" int MessageBoxA(HWND /*owner*/, LPCSTR text, LPCSTR caption, UINT style) {
  const std::string body = text ? platform::AnsiToUtf8(text) : std::string();
  const std::string title = caption ? platform::AnsiToUtf8(caption) : std::string("Error");
  const std::string line = OneLine(title.empty() ? body : title + ": " + body);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  if (!DialogsSwitchedOff() && DisplayAvailable()) ShowDialog(body, title, style);
  return IDOK;
}

namespace platform {
namespace {
constexpr Export kUser32Exports[] = {
    PLATFORM_EXPORT(MessageBoxA),
};
}  // namespace

const Library kUser32Library{"user32.dll", true, kUser32Exports};

}  // namespace platform
