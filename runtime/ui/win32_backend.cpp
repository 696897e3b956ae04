// The Win32 backend: the main window of real Windows controls, built from the
// form.
//
// Window: the stored left/top/width/height are the frame's screen position
// and outer size; a fixed frame with a title bar, the system menu and the
// minimize box; the executable's icon group 129 as the big and small icon.
//
// Controls are children of the main window at their absolute positions in
// its client area (ControlLayout::absLeft/absTop; a group box is a sibling of
// the controls it frames, not their parent) with their stored sizes. They are
// made in stored order, which is the z-order and so the tab order; a group
// box comes after its inner controls in the table, so it lies below them, and
// WS_CLIPSIBLINGS keeps it from painting over them. Kinds: group box ->
// BUTTON/BS_GROUPBOX without a caption; label -> STATIC with its caption at the
// top left (CR LF separates lines; no word wrap, clipped at the right; a
// caption with more lines than fit at the normal size gets a smaller font so
// that every line shows, as in the FLTK window); button -> BUTTON/
// BS_PUSHBUTTON; edit box -> EDIT with a sunken border; progress bar ->
// msctls_progress32 over 0..120; the common dialog has no window. Hidden
// controls are made hidden; the tab-stop flag is WS_TABSTOP. Every control
// uses one font that shows Chinese (the first installed of kFontFaces).
//
// Texts are ANSI bytes as the program holds them and go to the "A" functions
// unchanged.
//
// Events: BN_CLICKED of a button fires its event 0; a left button press over
// a label (SS_NOTIFY makes the STATIC take the mouse; a subclass catches
// WM_LBUTTONDOWN) fires event -1 with x and y in the label and the modifier
// keys (1 shift, 2 control, 4 alt). The message loop passes every message
// through IsDialogMessage, so Tab and Shift+Tab move the focus; Escape turns
// into WM_COMMAND IDCANCEL there, which no control carries, so it does
// nothing. Closing the window (close button, system menu, Alt+F4) destroys
// it and ends the message loop. A close that reaches the window while a
// handler runs (the message box a merge ends with dispatches what queued up
// during the merge) destroys it when the handler returns, not under the
// running handler's feet.
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

#include "runtime/ui/backend.h"
#include "host/ui.h"

// This module's own base address: velmo.vxr, which holds the window procedure.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace velmo {
namespace {

constexpr char kWindowClass[] = "VelmoMainWindow";
constexpr WORD kIconResource = 129;  // the executable's icon group
// Control identifiers start here, clear of IDOK and IDCANCEL, which the
// dialog keyboard interface sends for Enter and Escape.
constexpr int kFirstControlId = 100;
constexpr int kFontPoints = 9;
constexpr int kSmallestLabelFont = 8;  // pixels

// Faces that cover Chinese, by preference. The localized names are there
// because a system may enumerate a face under either name.
const char* const kFontFaces[] = {
    "Microsoft YaHei UI",
    "Microsoft YaHei",
    "\xce\xa2\xc8\xed\xd1\xc5\xba\xda",  // 微软雅黑
    "SimSun",
    "\xcb\xce\xcc\xe5",  // 宋体
    "NSimSun",
    "\xd0\xc2\xcb\xce\xcc\xe5",  // 新宋体
    "WenQuanYi Micro Hei",
    "WenQuanYi Zen Hei",
};

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

// The program's texts are in the ANSI code page, where a trail byte may equal
// an ASCII separator ('|' and '\\' both occur as trail bytes in code page 936),
// so splitting walks characters, not bytes.
std::size_t CharLength(const std::string& s, std::size_t i) {
  return IsDBCSLeadByte(static_cast<BYTE>(s[i])) && i + 1 < s.size() ? 2 : 1;
}

std::vector<std::string> SplitAnsi(const std::string& s, char separator) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = CharLength(s, i);
    if (n == 1 && s[i] == separator)
      parts.emplace_back();
    else
      parts.back().append(s, i, n);
    i += n;
  }
  return parts;
}

std::size_t LastBackslash(const std::string& s) {
  std::size_t found = std::string::npos;
  for (std::size_t i = 0; i < s.size(); i += CharLength(s, i))
    if (s[i] == '\\') found = i;
  return found;
}

// "desc|pattern|desc|pattern" -> "desc\0pattern\0desc\0pattern\0\0", as the
// file dialog takes it; an entry without a pattern is dropped. Empty when no
// entry is left (the dialog then shows no filter).
std::string DialogFilter(const std::string& ansi) {
  const std::vector<std::string> parts = SplitAnsi(ansi, '|');
  std::string out;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i + 1].empty()) continue;
    out += parts[i];
    out += '\0';
    out += parts[i + 1];
    out += '\0';
  }
  if (!out.empty()) out += '\0';
  return out;
}

// Lines of a caption: CR LF, a lone CR and a lone LF each end one.
int LineCount(const std::string& text) {
  int lines = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      ++lines;
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      ++lines;
    }
  }
  return lines;
}

int FontLineHeight(HFONT font) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return tm.tmHeight;
}

int CALLBACK FaceFound(const LOGFONTA* font, const TEXTMETRICA*, DWORD, LPARAM found) {
  // The name as the system spells it, for CreateFont.
  *reinterpret_cast<std::string*>(found) = font->lfFaceName;
  return 0;  // one match is enough
}

// The first face of kFontFaces installed with the GB2312 character set, or
// empty when there is none.
std::string ChineseFace() {
  HDC dc = GetDC(nullptr);
  std::string found;
  for (const char* face : kFontFaces) {
    LOGFONTA query{};
    query.lfCharSet = GB2312_CHARSET;
    lstrcpynA(query.lfFaceName, face, LF_FACESIZE);
    EnumFontFamiliesExA(dc, &query, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
    if (!found.empty()) break;
  }
  ReleaseDC(nullptr, dc);
  return found;
}

int ModifierState(WPARAM keys) {
  int state = 0;
  if (keys & MK_SHIFT) state |= 1;
  if (keys & MK_CONTROL) state |= 2;
  // Mouse messages carry no Alt flag; the key state at the time of the
  // message has it.
  if (GetKeyState(VK_MENU) < 0) state |= 4;
  return state;
}

class Win32Backend : public UiBackend {
 public:
  Win32Backend() {
    // The folder browser's new style and ShellExecute's shell extensions
    // need a single-threaded apartment on this thread.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    comInitialized_ = SUCCEEDED(hr);  // S_FALSE too: it must be balanced
    apartment_ = hr != RPC_E_CHANGED_MODE;

    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);

    face_ = ChineseFace();
    HDC dc = GetDC(nullptr);
    basePixels_ = MulDiv(kFontPoints, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(nullptr, dc);
    font_ = face_.empty() ? nullptr : MakeFont(basePixels_);
    if (!font_) font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  }

  ~Win32Backend() override {
    if (window_) DestroyWindow(window_);
    for (auto& [pixels, font] : smallFonts_) DeleteObject(font.handle);
    if (!face_.empty() && font_) DeleteObject(font_);
    UnregisterClassA(kWindowClass, ThisModule());
    if (comInitialized_) CoUninitialize();
  }

  void CreateMainWindow(const WindowLayout& spec, EventSink sink) override;
  void RunMessageLoop() override;
  void PropertyWritten(const ControlLayout& control, std::uint32_t property,
                       const PropertyValue& value) override;
  void ShowMessage(const std::string& ansiText, std::uint32_t style) override;
  std::optional<std::string> BrowseFolder(const std::string& ansiPrompt) override;
  std::optional<std::string> SaveDialog(const SaveDialogRequest& request) override;
  void OpenTarget(const std::string& ansiTarget) override;
  void RuntimeError(std::uint32_t, const std::string&) override {
    // The host has already reported it on stderr; the program goes on and
    // the window shows nothing of it.
  }

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK LabelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR id, DWORD_PTR self);

 private:
  struct Control {
    HWND hwnd;
    std::uint32_t kind;
    int height;
  };
  struct SizedFont {
    HFONT handle;
    int lineHeight;
  };

  LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Deliver(std::uint32_t id, std::int32_t event, const std::int32_t* args, int argc) {
    if (!sink_) return;
    ++handlerDepth_;
    sink_(id, event, args, argc);
    if (--handlerDepth_ == 0 && closePending_) {
      closePending_ = false;
      if (window_) DestroyWindow(window_);
    }
  }
  HFONT MakeFont(int pixels) const;
  HFONT LabelFont(const std::string& caption, int height);
  void FocusFirstControl();
  static void SetProgressAtOnce(HWND bar, int position);

  EventSink sink_;
  int handlerDepth_ = 0;       // handlers running (a dialog's loop may nest them)
  bool closePending_ = false;  // the window was asked to close meanwhile
  HWND window_ = nullptr;
  std::string title_;  // ANSI
  std::map<std::uint32_t, Control> controls_;
  std::map<HWND, std::uint32_t> ids_;
  HWND savedFocus_ = nullptr;  // the focused control while the window is inactive
  HWND lostFocus_ = nullptr;   // the focused control, disabled

  std::string face_;
  int basePixels_ = 12;
  HFONT font_ = nullptr;
  int fontLineHeight_ = 0;
  std::map<int, SizedFont> smallFonts_;  // labels whose lines do not fit, by pixel size

  bool comInitialized_ = false;
  bool apartment_ = false;
};

HFONT Win32Backend::MakeFont(int pixels) const {
  LOGFONTA lf{};
  lf.lfHeight = -pixels;  // character height, without the internal leading
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = GB2312_CHARSET;
  lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  lstrcpynA(lf.lfFaceName, face_.c_str(), LF_FACESIZE);
  return CreateFontIndirectA(&lf);
}

HFONT Win32Backend::LabelFont(const std::string& caption, int height) {
  const int lines = LineCount(caption);
  if (!fontLineHeight_) fontLineHeight_ = FontLineHeight(font_);
  if (lines * fontLineHeight_ <= height || face_.empty()) return font_;
  HFONT best = font_;
  for (int pixels = basePixels_ - 1; pixels >= kSmallestLabelFont; --pixels) {
    auto it = smallFonts_.find(pixels);
    if (it == smallFonts_.end()) {
      HFONT f = MakeFont(pixels);
      if (!f) break;
      it = smallFonts_.emplace(pixels, SizedFont{f, FontLineHeight(f)}).first;
    }
    best = it->second.handle;
    if (lines * it->second.lineHeight <= height) break;
  }
  return best;
}

void Win32Backend::CreateMainWindow(const WindowLayout& spec, EventSink sink) {
  sink_ = std::move(sink);
  title_ = spec.window.caption;
  if (window_) return;  // one main window per run

  const DWORD frame = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  window_ = CreateWindowExA(0, kWindowClass, title_.c_str(), frame, spec.window.left,
                            spec.window.top, spec.window.width, spec.window.height, nullptr,
                            nullptr, ThisModule(), this);
  if (!window_) {
    std::fprintf(stderr, "velmo: cannot create the main window (error %lu)\n", GetLastError());
    return;
  }

  int index = 0;
  for (const ControlLayout& c : spec.controls) {
    const int id = kFirstControlId + index++;
    const char* windowClass = nullptr;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    DWORD extended = 0;
    std::string text;
    switch (c.kind) {
      case host::kKindGroupBox:
        windowClass = "BUTTON";
        style |= BS_GROUPBOX;
        break;
      case host::kKindLabel:
        windowClass = "STATIC";
        // Paths may contain '&': no mnemonic prefix.
        style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY;
        text = c.caption;
        break;
      case host::kKindButton:
        windowClass = "BUTTON";
        style |= BS_PUSHBUTTON;
        text = c.caption;
        break;
      case host::kKindEdit:
        windowClass = "EDIT";
        style |= ES_LEFT | ES_AUTOHSCROLL;
        extended |= WS_EX_CLIENTEDGE;
        text = c.caption;
        break;
      case host::kKindProgressBar:
        windowClass = PROGRESS_CLASSA;
        break;
      default:  // the common dialog, and kinds this window does not use
        continue;
    }
    if (c.visible()) style |= WS_VISIBLE;
    if (c.tabStop()) style |= WS_TABSTOP;
    HWND h = CreateWindowExA(extended, windowClass, text.c_str(), style, c.absLeft, c.absTop,
                             c.width, c.height, window_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ThisModule(), nullptr);
    if (!h) {
      std::fprintf(stderr, "velmo: cannot create control %08X (error %lu)\n", c.id, GetLastError());
      continue;
    }
    HFONT font = font_;
    if (c.kind == host::kKindLabel) {
      font = LabelFont(text, c.height);
      SetWindowSubclass(h, LabelProc, c.id, reinterpret_cast<DWORD_PTR>(this));
    } else if (c.kind == host::kKindProgressBar) {
      SendMessageA(h, PBM_SETRANGE32, 0, host::kProgressMaximum);
      SendMessageA(h, PBM_SETPOS, 0, 0);
    }
    SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    controls_[c.id] = Control{h, c.kind, c.height};
    ids_[h] = c.id;
  }

  // The initial show state from the starter (a shortcut's "minimized"),
  // painted before the program hears of the window.
  ShowWindow(window_, SW_SHOWDEFAULT);
  UpdateWindow(window_);
  if (GetActiveWindow() == window_ && !IsChild(window_, GetFocus())) FocusFirstControl();
  Deliver(spec.window.id, host::kEventCreated, nullptr, 0);
}

void Win32Backend::FocusFirstControl() {
  // As a dialog does: the first control in stored order that is visible,
  // enabled and a tab stop.
  HWND first = GetNextDlgTabItem(window_, nullptr, FALSE);
  if (first && IsChild(window_, first)) SetFocus(first);
}

void Win32Backend::RunMessageLoop() {
  if (!window_) return;
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) break;  // WM_QUIT: the window was destroyed
    if (got == -1) {
      std::fprintf(stderr, "velmo: GetMessage failed (error %lu)\n", GetLastError());
      break;
    }
    if (window_ && IsDialogMessageA(window_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

LRESULT CALLBACK Win32Backend::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Backend*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
  return self->HandleMessage(hwnd, message, wParam, lParam);
}

LRESULT Win32Backend::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      // Only a button's own click counts: Escape and Enter arrive here as
      // IDCANCEL and IDOK without a control window, and are ignored.
      if (HIWORD(wParam) != BN_CLICKED || !lParam) break;
      auto it = ids_.find(reinterpret_cast<HWND>(lParam));
      if (it == ids_.end() || controls_[it->second].kind != host::kKindButton) break;
      Deliver(it->second, host::kEventClicked, nullptr, 0);
      return 0;
    }
    case WM_ACTIVATE:
      // A window that is not a dialog loses its focused control when it is
      // deactivated; keep it and give it back, as a dialog does.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd, focus)) savedFocus_ = focus;
        return 0;
      }
      if (HIWORD(wParam)) break;  // minimized: the default sets no focus
      if (savedFocus_ && IsWindow(savedFocus_) && IsWindowVisible(savedFocus_) &&
          IsWindowEnabled(savedFocus_))
        SetFocus(savedFocus_);
      else
        FocusFirstControl();
      return 0;
    case WM_CLOSE:
      if (handlerDepth_ > 0)
        closePending_ = true;
      else
        DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      // The controls are gone with it; later writes find nothing to show.
      window_ = nullptr;
      controls_.clear();
      ids_.clear();
      savedFocus_ = lostFocus_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK Win32Backend::LabelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self) {
  // A quick second press arrives as a double click (the class has
  // CS_DBLCLKS); it is a press all the same.
  if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK) {
    const std::int32_t args[3] = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), ModifierState(wParam)};
    reinterpret_cast<Win32Backend*>(self)->Deliver(static_cast<std::uint32_t>(id),
                                                   host::kEventLeftButtonDown, args, 3);
  } else if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, LabelProc, id);
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

void Win32Backend::SetProgressAtOnce(HWND bar, int position) {
  // The themed bar animates towards a higher position on timer messages,
  // which do not come while a merge runs inside a click; a move down is
  // drawn at once (PBS_SMOOTHREVERSE is not set). So every position is
  // reached from one step above; the full bar from a range stretched by one.
  if (position < host::kProgressMaximum) {
    SendMessageA(bar, PBM_SETPOS, position + 1, 0);
    SendMessageA(bar, PBM_SETPOS, position, 0);
  } else {
    SendMessageA(bar, PBM_SETRANGE32, 0, host::kProgressMaximum + 1);
    SendMessageA(bar, PBM_SETPOS, host::kProgressMaximum + 1, 0);
    SendMessageA(bar, PBM_SETPOS, host::kProgressMaximum, 0);
    SendMessageA(bar, PBM_SETRANGE32, 0, host::kProgressMaximum);
  }
}

void Win32Backend::PropertyWritten(const ControlLayout& control, std::uint32_t property,
                                   const PropertyValue& value) {
  auto it = controls_.find(control.id);
  if (it == controls_.end()) return;
  Control& c = it->second;
  switch (property) {
    case host::kPropDisabled: {
      if (value.isText) return;
      // Disabling the control with the keyboard focus leaves the focus
      // nowhere, and the keys then reach no control. A merge disables the
      // clicked start button and enables it again at the end: the focus goes
      // back to it then, unless the user has put it elsewhere meanwhile.
      const bool enable = value.number == 0;
      if (!enable && GetFocus() == c.hwnd) lostFocus_ = c.hwnd;
      EnableWindow(c.hwnd, enable);
      if (enable && c.hwnd == lostFocus_) {
        lostFocus_ = nullptr;
        HWND focus = GetFocus();
        if (GetActiveWindow() == window_ && (!focus || focus == window_)) SetFocus(c.hwnd);
      }
      break;
    }
    case host::kPropText:
      if (!value.isText || (c.kind != host::kKindLabel && c.kind != host::kKindEdit)) return;
      if (c.kind == host::kKindLabel) {
        HFONT font = LabelFont(value.text, c.height);
        if (reinterpret_cast<HFONT>(SendMessageA(c.hwnd, WM_GETFONT, 0, 0)) != font)
          SendMessageA(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      }
      SetWindowTextA(c.hwnd, value.text.c_str());
      break;
    case host::kPropProgress: {
      if (c.kind != host::kKindProgressBar || value.isText) return;
      SetProgressAtOnce(c.hwnd, std::clamp(value.number, 0, host::kProgressMaximum));
      // A long merge calls no GetMessage; peeking (without removing
      // anything) keeps the system from taking the window for hung and
      // replacing it with a ghost, which would hide the bar.
      MSG msg;
      PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
      break;
    }
    default:
      return;
  }
  // Drawn now: a merge writes from inside a click, without returning to the
  // message loop.
  RedrawWindow(c.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void Win32Backend::ShowMessage(const std::string& ansiText, std::uint32_t style) {
  MessageBoxA(window_, ansiText.c_str(), title_.c_str(), MB_OK | (style & MB_ICONMASK));
}

std::optional<std::string> Win32Backend::BrowseFolder(const std::string& ansiPrompt) {
  char displayName[MAX_PATH] = {};
  BROWSEINFOA info{};
  info.hwndOwner = window_;
  info.pszDisplayName = displayName;
  info.lpszTitle = ansiPrompt.c_str();
  // The new style needs a single-threaded apartment; without one (a thread
  // already multithreaded) the old style still works.
  info.ulFlags = BIF_RETURNONLYFSDIRS | (apartment_ ? BIF_NEWDIALOGSTYLE : 0);
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&info);
  if (!chosen) return std::nullopt;
  char path[MAX_PATH] = {};
  const BOOL isPath = SHGetPathFromIDListA(chosen, path);
  CoTaskMemFree(chosen);
  if (!isPath || !path[0]) return std::nullopt;
  return std::string(path);
}

std::optional<std::string> Win32Backend::SaveDialog(const SaveDialogRequest& request) {
  const std::string filter = DialogFilter(request.filter);
  std::string directory, file = request.fileName;
  const std::size_t slash = LastBackslash(request.fileName);
  if (slash != std::string::npos) {
    directory = request.fileName.substr(0, slash == 2 ? 3 : slash);  // "C:\" keeps its backslash
    file = request.fileName.substr(slash + 1);
  }

  for (int attempt = 0; attempt < 2; ++attempt) {
    char buffer[MAX_PATH] = {};
    lstrcpynA(buffer, file.c_str(), MAX_PATH);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window_;
    ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = directory.empty() ? nullptr : directory.c_str();
    ofn.lpstrTitle = request.title.empty() ? nullptr : request.title.c_str();
    // No default extension: the program appends ".bmp" itself. The process's
    // current directory stays where it was, so no chosen folder is held open.
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_EXPLORER | OFN_HIDEREADONLY |
                OFN_NOCHANGEDIR;
    if (GetSaveFileNameA(&ofn)) return std::string(buffer);
    // A file name the dialog refuses to start with (invalid characters, too
    // long) keeps it from opening at all: open it once more without one.
    const DWORD error = CommDlgExtendedError();
    if (error != FNERR_INVALIDFILENAME || (file.empty() && directory.empty())) {
      if (error) std::fprintf(stderr, "velmo: the save dialog failed (error %lu)\n", error);
      return std::nullopt;
    }
    file.clear();
    directory.clear();
  }
  return std::nullopt;
}

void Win32Backend::OpenTarget(const std::string& ansiTarget) {
  if (ansiTarget.empty()) return;
  // Failures (no browser, no association) are ignored: nothing to show.
  ShellExecuteA(nullptr, "open", ansiTarget.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

std::unique_ptr<UiBackend> MakeWin32Backend(std::string* error) {
  HINSTANCE exe = GetModuleHandleA(nullptr);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Win32Backend::WindowProc;
  wc.hInstance = ThisModule();
  wc.hIcon = static_cast<HICON>(LoadImageA(exe, MAKEINTRESOURCEA(kIconResource), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                           LR_SHARED));
  wc.hIconSm = static_cast<HICON>(LoadImageA(exe, MAKEINTRESOURCEA(kIconResource), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExA(&wc)) {
    const DWORD code = GetLastError();
    if (code != ERROR_CLASS_ALREADY_EXISTS) {
      if (error) *error = "cannot register the main window's class (error " + std::to_string(code) + ")";
      return nullptr;
    }
  }
  return std::make_unique<Win32Backend>();
}

}  // namespace velmo
