// The Windows build's own window under Wine, on an X server of the test's
// own: where the frame lies, what the controls look like, where the keyboard
// focus goes, what a press on the about label and closing the window do, also
// while a click handler runs.
//
// The X library is loaded at run time (this test program links none); so is
// XTest, for real key and button input (scripts/install-deps installs it).
#include <gtest/gtest.h>
// After the test framework: the X headers define None and friends as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <thread>

#include "tests/support/tiles.h"
#include "tests/windows/wine_support.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct Rect {
  int x, y, w, h;
  bool Contains(int px, int py, int slack) const {
    return px >= x - slack && px < x + w + slack && py >= y - slack && py < y + h + slack;
  }
};
// Client-area rectangles of the form's controls (a group box's children at
// the group box's position plus their own).
constexpr Rect kAbout{341, 218, 96, 40}, kProgress{9, 184, 429, 24}, kStart{343, 10, 95, 165},
    kSavePath{16, 130, 80, 32}, kSizeEdit{239, 50, 64, 20}, kPrefixEdit{239, 20, 64, 20},
    kPickDir{19, 20, 113, 46}, kPrefixCaption{167, 18, 75, 24}, kSizeCaption{178, 46, 58, 24};

// The X functions the test calls, from libX11.so.6 and libXtst.so.6.
struct X {
  void* lib = dlopen("libX11.so.6", RTLD_NOW);
  void* tst = dlopen("libXtst.so.6", RTLD_NOW);
  template <class F> F Get(void* from, const char* name) { return from ? reinterpret_cast<F>(dlsym(from, name)) : nullptr; }
#define X_FN(name) decltype(&::name) name = Get<decltype(&::name)>(lib, #name)
  X_FN(XOpenDisplay); X_FN(XCloseDisplay); X_FN(XInternAtom); X_FN(XFetchName); X_FN(XFree);
  X_FN(XQueryTree); X_FN(XGetWindowAttributes); X_FN(XTranslateCoordinates); X_FN(XGetImage);
  X_FN(XSendEvent); X_FN(XSync); X_FN(XKeysymToKeycode); X_FN(XSetInputFocus);
#undef X_FN
  using Fake = int (*)(Display*, unsigned, Bool, unsigned long);
  Fake key = Get<Fake>(tst, "XTestFakeKeyEvent"), button = Get<Fake>(tst, "XTestFakeButtonEvent");
  int (*motion)(Display*, int, int, int, unsigned long) = Get<decltype(motion)>(tst, "XTestFakeMotionEvent");
} x;

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A process in a group of its own, stdout and stderr to `out`.out and
// `out`.err. One still running when the test ends is ended with `stop` (the
// whole group), and then `cleanup` runs.
struct Process {
  pid_t pid = -1;
  int stop = SIGTERM;
  std::string cleanup;
  Process(std::vector<std::string> args, std::vector<std::string> env, const fs::path& out) {
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, (out.string() + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, (out.string() + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    if (posix_spawnp(&pid, argv[0], &fa, &attr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
  }
  // The exit status once it has ended within `seconds`, else -1.
  int Wait(int seconds) {
    for (int i = 0;; ++i, Pause(50)) {
      int st = 0;
      if (pid > 0 && waitpid(pid, &st, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
      }
      if (i >= seconds * 20) return -1;
    }
  }
  ~Process() {
    if (pid <= 0) return;
    kill(-pid, stop);
    waitpid(pid, nullptr, 0);
    if (!cleanup.empty()) (void)!std::system(cleanup.c_str());
  }
};

Window FindByName(Display* d, Window parent, const char* want) {
  Window root, up, *kids = nullptr, found = 0;
  unsigned n = 0;
  if (!x.XQueryTree(d, parent, &root, &up, &kids, &n)) return 0;
  for (unsigned i = 0; i < n && !found; ++i) {
    char* name = nullptr;
    if (x.XFetchName(d, kids[i], &name) && name) found = std::string(name) == want ? kids[i] : 0;
    if (name) x.XFree(name);
    if (!found) found = FindByName(d, kids[i], want);
  }
  if (kids) x.XFree(kids);
  return found;
}

e2e::Picture Capture(Display* d, Window w, int width, int height) {
  e2e::Picture p(width, height);
  XImage* img = x.XGetImage(d, w, 0, 0, width, height, AllPlanes, ZPixmap);
  if (!img) return p;
  for (int py = 0; py < height; ++py)
    for (int px = 0; px < width; ++px) {
      const unsigned long v = XGetPixel(img, px, py);
      p.at(px, py) = {std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v), 255};
    }
  XDestroyImage(img);
  return p;
}

bool Ink(const e2e::Rgba& c) { return c.r + c.g + c.b < 3 * 110; }  // text, not a face or frame

// How many pixels of `r` (its outline only, when `outline`) satisfy `f`.
template <class F> int Count(Rect r, bool outline, F f) {
  int n = 0;
  for (int py = r.y; py < r.y + r.h; ++py)
    for (int px = r.x; px < r.x + r.w; ++px)
      if (!outline || py == r.y || py == r.y + r.h - 1 || px == r.x || px == r.x + r.w - 1) n += f(px, py);
  return n;
}

TEST(WindowsWindow, RealControlsFocusOrderLabelPressAndClose) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  ASSERT_TRUE(x.lib && x.XOpenDisplay) << "libX11.so.6 cannot be loaded";
  const fs::path scratch = fs::current_path() / "windows-window";
  fs::remove_all(scratch);
  fs::create_directories(scratch / "bin");
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) environment.push_back(*e);

  // An X server of its own: Xvfb writes the display number it took to the pipe.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Process xvfb({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
               environment, scratch / "xvfb");
  close(fds[1]);
  std::string display = ":";
  pollfd pfd{fds[0], POLLIN, 0};
  for (char c; poll(&pfd, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n';) display += c;
  close(fds[0]);
  Display* d = display.size() > 1 ? x.XOpenDisplay(display.c_str()) : nullptr;
  ASSERT_NE(d, nullptr) << "no X server of its own (Xvfb)";

  // The browser the about label opens: a stand-in that notes its arguments.
  const fs::path opened = scratch / "opened.txt";
  std::ofstream(scratch / "bin" / "xdg-open") << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << opened.string() << "'\n";
  fs::permissions(scratch / "bin" / "xdg-open", fs::perms::owner_all);

  std::vector<std::string> env;
  for (const std::string& v : environment)
    if (v.rfind("VELMO_", 0) && v.rfind("DISPLAY=", 0) && v.rfind("PATH=", 0) && v.rfind("WINEPREFIX=", 0))
      env.push_back(v);
  const char* path = getenv("PATH");
  const std::string prefix = getenv("WINEPREFIX") ? getenv("WINEPREFIX") : (wintest::WindowsBuild() / "wineprefix").string();
  env.insert(env.end(), {"PATH=" + (scratch / "bin").string() + ":" + (path ? path : "/usr/bin:/bin"),
                         "DISPLAY=" + display, "WINEPREFIX=" + prefix});
  Process wine({(wintest::SourceDir() / "scripts" / "wine").string(), (wintest::WindowsBin() / "mosalin.exe").string()},
               env, scratch / "mosalin");
  wine.stop = SIGKILL;  // and whatever of the prefix still runs
  wine.cleanup = "WINEPREFIX='" + prefix + "' wineserver -k >/dev/null 2>&1";
  ASSERT_GT(wine.pid, 0);

  Window w = 0;
  XWindowAttributes a{};
  for (int i = 0; i < 1200 && a.map_state != IsViewable; ++i, Pause(50))
    if ((w = w ? w : FindByName(d, DefaultRootWindow(d), "Mosalin V1.0"))) x.XGetWindowAttributes(d, w, &a);
  ASSERT_EQ(a.map_state, IsViewable) << "no window titled Mosalin V1.0";

  // Wine's X window is the client area; the frame it leaves to a window
  // manager is the stored outer rectangle (50, 50, 455 x 288): equal borders
  // left, right and bottom, the title bar above.
  int rootX = 0, rootY = 0;
  Window child;
  x.XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &rootX, &rootY, &child);
  const int border = (455 - a.width) / 2, caption = rootY - 50 - border;
  std::cout << "client area " << a.width << "x" << a.height << "+" << rootX << "+" << rootY << "\n";
  EXPECT_TRUE(border >= 1 && border <= 5 && a.width == 455 - 2 * border) << a.width;
  EXPECT_EQ(rootX, 50 + border);
  EXPECT_EQ(rootY + a.height, 50 + 288 - border);
  EXPECT_TRUE(caption >= 15 && caption <= 35) << caption;
  ASSERT_TRUE(a.width >= 440 && a.height >= 259);

  Pause(500);
  const e2e::Picture shot = Capture(d, w, a.width, a.height);
  e2e::WritePng(scratch / "window.png", shot);
  fs::copy_file(scratch / "window.png", "/tmp/mosalin-win32-window.png", fs::copy_options::overwrite_existing);
  std::cout << "screenshot: " << (scratch / "window.png").string() << "\n";

  // Controls where the form puts them: frames that stand out from the
  // background, and text in the captions.
  const e2e::Rgba bg = shot.at(200, 235);
  auto framed = [&](Rect r) { return Count(r, true, [&](int px, int py) { return !(shot.at(px, py) == bg); }); };
  auto inkIn = [&](Rect r) { return Count(r, false, [&](int px, int py) { return Ink(shot.at(px, py)); }); };
  for (Rect r : {kProgress, kStart, kSizeEdit}) EXPECT_GT(framed(r), 0.9 * 2 * (r.w + r.h - 2)) << r.x << "," << r.y;
  EXPECT_GT(inkIn({kStart.x + 10, kStart.y + 60, kStart.w - 20, 45}), 40) << "no caption on the start button";
  // Real Chinese glyphs: the first four characters of 文件名前缀 and 大图尺寸
  // look different (missing glyphs would be four equal boxes each).
  EXPECT_GT(inkIn(kPrefixCaption), 30);
  EXPECT_GT(Count({0, 0, 48, 24}, false, [&](int px, int py) {
              return Ink(shot.at(kPrefixCaption.x + px, kPrefixCaption.y + py)) !=
                     Ink(shot.at(kSizeCaption.x + px, kSizeCaption.y + py));
            }), 30);
  // The about label's three lines all show: three bands of ink, the last one
  // clear of the label's bottom edge.
  std::vector<std::pair<int, int>> bands;
  for (int py = kAbout.y; py < kAbout.y + kAbout.h; ++py) {
    if (inkIn({kAbout.x, py, kAbout.w, 1}) == 0) continue;
    if (bands.empty() || bands.back().second != py - 1) bands.push_back({py, py});
    bands.back().second = py;
  }
  ASSERT_EQ(bands.size(), 3u) << "the about label does not show three lines";
  EXPECT_GE(bands[2].second - bands[2].first, 4);
  EXPECT_LT(bands[2].second, kAbout.y + kAbout.h - 1);

  if (!x.key || !x.button || !x.motion) {
    ADD_FAILURE() << "libXtst.so.6 is missing: no key or button input can be made";
  } else {
    auto clickAt = [&](Rect r) {
      x.motion(d, -1, rootX + r.x + r.w / 2, rootY + r.y + r.h / 2, 0);
      for (Bool down : {True, False}) x.button(d, 1, down, 0);
      x.XSync(d, False);
      Pause(500);
    };
    auto press = [&](KeySym k) {
      for (Bool down : {True, False}) x.key(d, x.XKeysymToKeycode(d, k), down, 0);
      x.XSync(d, False);
      Pause(300);
    };
    // The keyboard goes to the window, as a window manager would direct it.
    x.XSetInputFocus(d, w, RevertToPointerRoot, CurrentTime);
    // A click on the start button (nothing to merge yet: the inputs are
    // disabled and enabled again) leaves the focus on it.
    clickAt(kStart);
    // Tab walks the visible tab stops in stored order, never reaching the
    // hidden test buttons: each step changes only the control left and the
    // one reached, and five steps come back to the start button. (A first
    // round turns on the focus marks, which a mouse click hides.)
    const Rect order[] = {kStart, kSavePath, kSizeEdit, kPrefixEdit, kPickDir, kStart};
    for (int k = 0; k < 5; ++k) press(XK_Tab);
    const e2e::Picture first = Capture(d, w, a.width, a.height);
    e2e::Picture before = first;
    for (int k = 1; k <= 5; ++k) {
      press(XK_Tab);
      const e2e::Picture now = Capture(d, w, a.width, a.height);
      auto changed = [&](int px, int py) { return !(before.at(px, py) == now.at(px, py)); };
      EXPECT_EQ(Count({0, 0, a.width, a.height}, false, [&](int px, int py) {
                  return changed(px, py) && !order[k - 1].Contains(px, py, 2) && !order[k].Contains(px, py, 2);
                }), 0) << "Tab " << k << " changed the window elsewhere";
      if (k != 2 && k != 3) {  // an edit box shows only a blinking caret
        EXPECT_GT(Count(order[k], false, changed), 0) << "Tab " << k << " did not reach the next button";
      }
      before = now;
    }
    EXPECT_TRUE(before.px == first.px) << "five Tabs did not come back to the start button";
    press(XK_Escape);
    EXPECT_EQ(wine.Wait(1), -1) << "Escape ended the program";

    // A press on the about label opens the author's page.
    clickAt(kAbout);
    std::string url;
    for (int i = 0; i < 300 && url.empty(); ++i, Pause(50)) std::getline(std::ifstream(opened), url);
    EXPECT_EQ(url.rfind("http://mosalin.cn", 0), 0u) << url;
  }

  // Closing it as a window manager does ends the program normally.
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = x.XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = long(x.XInternAtom(d, "WM_DELETE_WINDOW", False));
  x.XSendEvent(d, w, False, NoEventMask, &e);
  x.XSync(d, False);
  EXPECT_EQ(wine.Wait(30), 0);
  std::ifstream errFile(scratch / "mosalin.err");
  const std::string err((std::istreambuf_iterator<char>(errFile)), {});
  for (const char* crash : {"Unhandled", "page fault", "Backtrace", "velmo:"})
    EXPECT_EQ(err.find(crash), std::string::npos) << err;
  x.XCloseDisplay(d);
}

TEST(WindowsWindow, ACloseDuringAHandlerClosesTheWindowWhenTheHandlerReturns) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  e2e::Sandbox s("win-close-in-handler");
  e2e::Run r = wintest::RunWine(wintest::WindowsBin() / "close-during-handler-check.exe", {}, {}, s.root());
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_EQ(r.transcript, (std::vector<std::string>{"after the message box: open", "loop ended: destroyed"}))
      << r.Joined();
}

}  // namespace
