// The real executable opens its FLTK window on the display: it appears with its
// title and size, and closing it from the window manager's side, or
// destroying it from outside, ends the process with 0.
#include <gtest/gtest.h>
// After the test framework: the X headers define None and friends as macros.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/run_program.h"
#include "tests/support/tiles.h"

extern char** environ;

namespace {

std::string WindowName(Display* d, Window w) {
  Atom netName = XInternAtom(d, "_NET_WM_NAME", False), utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  std::string name;
  if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &n, &after, &data) == Success &&
      data) {
    name.assign(reinterpret_cast<char*>(data), n);
    XFree(data);
  }
  if (name.empty()) {
    char* plain = nullptr;
    if (XFetchName(d, w, &plain) && plain) {
      name = plain;
      XFree(plain);
    }
  }
  return name;
}

Window FindByName(Display* d, Window root, const std::string& want) {
  Window r, parent, *kids = nullptr;
  unsigned n = 0;
  if (!XQueryTree(d, root, &r, &parent, &kids, &n)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < n && !found; ++i) {
    if (WindowName(d, kids[i]) == want) found = kids[i];
    else found = FindByName(d, kids[i], want);
  }
  if (kids) XFree(kids);
  return found;
}

e2e::Picture Capture(Display* d, Window w, int width, int height) {
  XImage* img = XGetImage(d, w, 0, 0, width, height, AllPlanes, ZPixmap);
  e2e::Picture p(width, height);
  if (!img) return p;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      unsigned long v = XGetPixel(img, x, y);
      p.at(x, y) = {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                    static_cast<std::uint8_t>(v), 255};
    }
  XDestroyImage(img);
  return p;
}

void Click(Display* d, Window w, int x, int y) {
  for (int type : {ButtonPress, ButtonRelease}) {
    XEvent e{};
    e.xbutton.type = type;
    e.xbutton.window = w;
    e.xbutton.root = DefaultRootWindow(d);
    e.xbutton.x = x;
    e.xbutton.y = y;
    e.xbutton.button = Button1;
    e.xbutton.same_screen = True;
    e.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
    XSendEvent(d, w, True, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &e);
    XFlush(d);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// The real executable on this display, stderr kept in a file of the sandbox.
struct Mosalin {
  e2e::Sandbox sandbox;
  pid_t pid = -1;
  Display* d = nullptr;
  Window w = 0;

  explicit Mosalin(const std::string& name) : sandbox(name) {
    std::vector<std::string> passed = {"XDG_CONFIG_HOME=" + (sandbox.root() / "config").string(),
                                       std::string("DISPLAY=") + getenv("DISPLAY"),
                                       "HOME=" + sandbox.root().string(), "VELMO_TRACE=1"};
    if (const char* auth = getenv("XAUTHORITY")) passed.push_back(std::string("XAUTHORITY=") + auth);
    for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
      if (const char* v = getenv(keep)) passed.push_back(std::string(keep) + "=" + v);
    std::vector<char*> env;
    for (auto& e : passed) env.push_back(e.data());
    env.push_back(nullptr);
    std::string exe = (e2e::BinDir() / "mosalin").string();
    char* argv[] = {exe.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, (sandbox.root() / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv, env.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    d = XOpenDisplay(nullptr);
    for (int i = 0; i < 200 && d && pid > 0 && !w; ++i) {
      w = FindByName(d, DefaultRootWindow(d), "Mosalin V1.0");
      if (!w) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~Mosalin() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (d) XCloseDisplay(d);
  }

  // The exit status once the program has ended (within ten seconds), else -1.
  int ExitStatus() {
    for (int i = 0; i < 200 && pid > 0; ++i) {
      int st = 0;
      if (waitpid(pid, &st, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

  std::string Err() const {
    std::ifstream in(sandbox.root() / "stderr");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

// What stderr holds after a normal end: the host's trace of its end routine
// (VELMO_TRACE), nothing else.
const std::regex kOnlyTheEnd("velmo: [0-9]+ blocks left after the end routine\n");

TEST(RealWindow, AppearsWithItsTitleAndClosingItEndsWithZero) {
  ASSERT_NE(getenv("DISPLAY"), nullptr) << "run under xvfb-run";
  Mosalin m("gui");
  Display* d = m.d;
  const Window w = m.w;
  ASSERT_NE(d, nullptr);
  ASSERT_NE(w, 0u) << "no window titled Mosalin V1.0";
  XWindowAttributes a{};
  for (int i = 0; i < 100; ++i) {
    XGetWindowAttributes(d, w, &a);
    if (a.map_state == IsViewable) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(a.map_state, IsViewable);
  // The client area is the stored 455 x 288 frame less a Windows-like border
  // and title bar.
  EXPECT_EQ(a.width, 449);
  EXPECT_EQ(a.height, 259);

  // What the user sees, kept beside the test for a person to look at.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  e2e::Picture before = Capture(d, w, a.width, a.height);
  e2e::WritePng("mosalin-window.png", before);
  // Some pixels differ from the background: the controls were drawn.
  int distinct = 0;
  for (const auto& p : before.px) distinct += !(p == before.px[0]);
  EXPECT_GT(distinct, 1000);

  // The start button before a save file was chosen: the window stays as it
  // was, apart from the focus, which moves from the first button (the
  // tile-directory button at 19, 20) to the start button.
  const int bx = 343, by = 10, bw = 95, bh = 165;
  Click(d, w, bx + bw / 2, by + bh / 2);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  e2e::Picture after = Capture(d, w, a.width, a.height);
  e2e::WritePng("mosalin-window-after-start.png", after);
  int changed = 0, minX = a.width, minY = a.height, maxX = -1, maxY = -1;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      bool inButton = (x >= bx - 3 && x < bx + bw + 3 && y >= by - 3 && y < by + bh + 3) ||
                      (x >= 16 && x < 19 + 113 + 3 && y >= 17 && y < 20 + 46 + 3);
      if (!inButton && !(before.at(x, y) == after.at(x, y))) {
        ++changed;
        minX = std::min(minX, x), minY = std::min(minY, y), maxX = std::max(maxX, x), maxY = std::max(maxY, y);
      }
    }
  // The click arrived: the focus left the first button.
  int focusMoved = 0;
  for (int y = 20; y < 66; ++y)
    for (int x = 19; x < 132; ++x) focusMoved += !(before.at(x, y) == after.at(x, y));
  EXPECT_GT(focusMoved, 0);
  EXPECT_EQ(changed, 0) << "changed area " << minX << "," << minY << " to " << maxX << "," << maxY;

  // Close it as a window manager does.
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, w, False, NoEventMask, &e);
  XFlush(d);

  EXPECT_EQ(m.ExitStatus(), 0);
  EXPECT_TRUE(std::regex_match(m.Err(), kOnlyTheEnd)) << m.Err();
}

TEST(RealWindow, AWindowDestroyedFromOutsideEndsTheProgramAsACloseDoes) {
  ASSERT_NE(getenv("DISPLAY"), nullptr) << "run under xvfb-run";
  for (bool killClient : {true, false}) {
    SCOPED_TRACE(killClient ? "the server drops the client (xkill)" : "another client destroys the window");
    Mosalin m("gui-destroyed");
    ASSERT_NE(m.w, 0u) << "no window titled Mosalin V1.0";
    if (killClient)
      XKillClient(m.d, m.w);
    else
      XDestroyWindow(m.d, m.w);
    XSync(m.d, False);
    EXPECT_EQ(m.ExitStatus(), 0);
    EXPECT_TRUE(std::regex_match(m.Err(), kOnlyTheEnd)) << m.Err();
  }
}

}  // namespace
