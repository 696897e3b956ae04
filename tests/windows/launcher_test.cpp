// The launcher's routes to the runtime host under Wine: the host beside the
// executable, no host at all (the error box and status 255), and the
// installed program, which finds its host only through the registry value the
// installer writes; then the uninstaller takes everything away again.
//
// The tests share the Windows build's prefix and leave its registry as they
// found it: no Install key, nothing of Mosalin's.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/windows/wine_support.h"

// Xlib's types only (its functions are looked up at run time), last: its
// macros would clash with names in the headers above.
#include <X11/Xlib.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr char kInstallKey[] = "HKCU\\Software\\Varnel\\Q\\Install";
constexpr char kUninstallKey[] = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mosalin";

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

fs::path Prefix() {
  const char* p = std::getenv("WINEPREFIX");
  return p && *p ? fs::path(p) : wintest::WindowsBuild() / "wineprefix";
}

// The POSIX path of a drive-letter path of the prefix (C:\users\...), through
// the prefix's drive links.
fs::path PosixPath(const std::string& windows) {
  if (windows.size() < 3 || windows[1] != ':' || windows[2] != '\\') return {};
  std::string drive = windows.substr(0, 2);
  drive[0] = char(std::tolower(static_cast<unsigned char>(drive[0])));
  std::error_code ec;
  fs::path p = fs::canonical(Prefix() / "dosdevices" / drive, ec);
  if (ec) return {};
  std::string part;
  for (std::size_t i = 3; i <= windows.size(); ++i) {
    if (i == windows.size() || windows[i] == '\\') {
      if (!part.empty()) p /= part;
      part.clear();
    } else {
      part += windows[i];
    }
  }
  return p;
}

// Runs batch lines through the prefix's cmd (one Wine start for many reg
// commands); lines it echoes come back in the transcript.
e2e::Run Batch(const fs::path& dir, const std::string& name, const std::vector<std::string>& lines) {
  fs::create_directories(dir);
  const fs::path file = dir / (name + ".bat");
  {
    std::ofstream out(file, std::ios::binary);
    out << "@echo off\r\n";
    for (const auto& l : lines) out << l << "\r\n";
  }
  return wintest::RunWine("cmd", {"/c", e2e::WindowsPath(file)}, {}, dir / name, 60);
}

// The value of `name` in `reg query` output ("    Path    REG_SZ    C:\..."),
// with its type.
std::optional<std::pair<std::string, std::string>> RegValue(const e2e::Run& r, const std::string& name) {
  const std::string lead = "    " + name + "    ";
  for (const auto& l : r.transcript) {
    if (l.rfind(lead, 0) != 0) continue;
    const std::string rest = l.substr(lead.size());
    const auto gap = rest.find("    ");
    if (gap == std::string::npos) return std::make_pair(rest, std::string());
    return std::make_pair(rest.substr(0, gap), rest.substr(gap + 4));
  }
  return std::nullopt;
}

// Whether `reg query` output lists the key `key` (its heading line).
bool ListsKey(const e2e::Run& r, const std::string& key) {
  std::string full = key;
  if (full.rfind("HKCU\\", 0) == 0) full = "HKEY_CURRENT_USER\\" + full.substr(5);
  return r.Has(full);
}

void SetEnv(const char* name, const std::optional<std::string>& value) {
  if (value)
    setenv(name, value->c_str(), 1);
  else
    unsetenv(name);
}

// A private X server for a run whose windows the test handles itself; its
// display number comes from the server (-displayfd), so parallel servers
// never collide. DISPLAY names it while the object lives, so scripts/wine
// runs on it instead of a screen of its own.
class Xvfb {
 public:
  Xvfb() {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    std::vector<std::string> args = {"Xvfb", "-displayfd", fd, "-screen", "0", "1024x768x24", "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, "Xvfb", &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      pollfd p = {fds[0], POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (!number.empty()) {
      display_ = ":" + number;
      saved_ = std::getenv("DISPLAY") ? std::optional<std::string>(std::getenv("DISPLAY")) : std::nullopt;
      SetEnv("DISPLAY", display_);
    }
  }
  ~Xvfb() {
    if (!display_.empty()) SetEnv("DISPLAY", saved_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
  std::optional<std::string> saved_;
};

// Xlib, loaded when needed: the test programs link no X library.
struct Xlib {
  void* lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
#define MOSALIN_X(f) decltype(&::f) f = lib ? reinterpret_cast<decltype(&::f)>(dlsym(lib, #f)) : nullptr
  MOSALIN_X(XOpenDisplay);
  MOSALIN_X(XCloseDisplay);
  MOSALIN_X(XDefaultRootWindow);
  MOSALIN_X(XQueryTree);
  MOSALIN_X(XGetWindowAttributes);
  MOSALIN_X(XFetchName);
  MOSALIN_X(XGetWindowProperty);
  MOSALIN_X(XInternAtom);
  MOSALIN_X(XSendEvent);
  MOSALIN_X(XFlush);
  MOSALIN_X(XSync);
  MOSALIN_X(XFree);
  MOSALIN_X(XSetErrorHandler);
#undef MOSALIN_X
  bool ok() const {
    return XOpenDisplay && XCloseDisplay && XDefaultRootWindow && XQueryTree && XGetWindowAttributes && XFetchName &&
           XGetWindowProperty && XInternAtom && XSendEvent && XFlush && XSync && XFree && XSetErrorHandler;
  }
  ~Xlib() {
    if (lib) dlclose(lib);
  }
};

// Windows vanish while they are looked at; that is no error here.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// The title of an X window: _NET_WM_NAME (UTF-8), else WM_NAME.
std::string Title(Xlib& x, Display* d, Window w) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string title;
  if (x.XGetWindowProperty(d, w, x.XInternAtom(d, "_NET_WM_NAME", False), 0, 256, False,
                           x.XInternAtom(d, "UTF8_STRING", False), &type, &format, &count, &after,
                           &data) == Success &&
      data) {
    if (format == 8) title.assign(reinterpret_cast<char*>(data), count);
    x.XFree(data);
  }
  if (title.empty()) {
    char* name = nullptr;
    if (x.XFetchName(d, w, &name) && name) {
      title = name;
      x.XFree(name);
    }
  }
  return title;
}

// Viewable windows titled `title` among the root's children and theirs (a
// window manager, if any, puts frames in between).
void FindWindows(Xlib& x, Display* d, Window w, int depth, const std::string& title, std::vector<Window>* out) {
  Window root, parent, *children = nullptr;
  unsigned n = 0;
  if (!x.XQueryTree(d, w, &root, &parent, &children, &n)) return;
  for (unsigned i = 0; i < n; ++i) {
    XWindowAttributes a;
    if (!x.XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable) continue;
    if (Title(x, d, children[i]) == title) out->push_back(children[i]);
    if (depth < 2) FindWindows(x, d, children[i], depth + 1, title, out);
  }
  if (children) x.XFree(children);
}

// Watches `display` until `stop` for a window titled `title` and closes it as
// a window manager's close button does (WM_DELETE_WINDOW), again every half
// second while it stays. Returns whether such a window appeared.
bool CloseWindowsTitled(const std::string& display, const std::string& title, const std::atomic<bool>& stop) {
  Xlib x;
  if (!x.ok()) return false;
  x.XSetErrorHandler(IgnoreXError);
  Display* d = nullptr;
  while (!stop && !(d = x.XOpenDisplay(display.c_str()))) std::this_thread::sleep_for(50ms);
  if (!d) return false;
  const Atom protocols = x.XInternAtom(d, "WM_PROTOCOLS", False);
  const Atom deleteWindow = x.XInternAtom(d, "WM_DELETE_WINDOW", False);
  bool seen = false;
  auto lastSent = std::chrono::steady_clock::now() - 1s;
  while (!stop) {
    std::vector<Window> found;
    FindWindows(x, d, x.XDefaultRootWindow(d), 0, title, &found);
    if (!found.empty()) seen = true;
    if (!found.empty() && std::chrono::steady_clock::now() - lastSent >= 500ms) {
      for (Window w : found) {
        XEvent e = {};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = protocols;
        e.xclient.format = 32;
        e.xclient.data.l[0] = long(deleteWindow);
        e.xclient.data.l[1] = CurrentTime;
        x.XSendEvent(d, w, False, NoEventMask, &e);
      }
      x.XFlush(d);
      lastSent = std::chrono::steady_clock::now();
    }
    x.XSync(d, False);
    std::this_thread::sleep_for(100ms);
  }
  x.XCloseDisplay(d);
  return seen;
}

struct LauncherRun {
  e2e::Run run;
  bool errorBoxShown = false;
};

// Plays `scenario` against `exe` on a display of its own, where a message box
// captioned "Error" (the launcher's, when it finds no host) is closed as soon
// as it shows, so that a run without a host ends instead of waiting for a user.
LauncherRun PlayClosingErrorBox(const fs::path& workdir, const fs::path& exe, const std::vector<std::string>& scenario) {
  LauncherRun out;
  Xvfb x;
  if (x.display().empty()) {
    out.run.err = "cannot start Xvfb";
    return out;
  }
  std::atomic<bool> stop{false};
  std::thread closer([&] { out.errorBoxShown = CloseWindowsTitled(x.display(), "Error", stop); });
  out.run = wintest::PlayWine(workdir, scenario, exe);
  stop = true;
  closer.join();
  return out;
}

// The launcher tries the registry when nothing is beside the executable; the
// route tests need the value absent, as the prefix should have it anyway.
void RemoveInstallKey(const fs::path& dir) {
  wintest::RunWine("reg", {"delete", kInstallKey, "/f"}, {}, dir / "reg-delete", 60);
}

void CopyInto(const fs::path& dir, const std::vector<std::string>& names) {
  fs::create_directories(dir);
  for (const auto& n : names)
    fs::copy_file(wintest::WindowsBin() / n, dir / n, fs::copy_options::overwrite_existing);
}

TEST(WindowsLauncher, FindsTheHostBesideTheExecutable) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  e2e::Sandbox s("win-launch-beside");
  RemoveInstallKey(s.root());
  const fs::path dir = s.root() / "app";
  CopyInto(dir, {"mosalin.exe", "velmo.vxr", "Nodata.dll"});

  LauncherRun r = PlayClosingErrorBox(s.root() / "run", dir / "mosalin.exe", {"close"});
  EXPECT_FALSE(r.errorBoxShown) << "the launcher did not find velmo.vxr beside it";
  EXPECT_EQ(r.run.status, 0) << r.run.Joined();
  EXPECT_TRUE(r.run.Has("window-created")) << r.run.Joined();
}

TEST(WindowsLauncher, WithoutAHostShowsTheErrorBoxAndEndsWithStatus255) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  e2e::Sandbox s("win-launch-none");
  RemoveInstallKey(s.root());
  const fs::path dir = s.root() / "app";
  CopyInto(dir, {"mosalin.exe"});

  LauncherRun r = PlayClosingErrorBox(s.root() / "run", dir / "mosalin.exe", {"close"});
  EXPECT_TRUE(r.errorBoxShown) << "no message box captioned Error appeared\n" << r.run.Joined();
  EXPECT_EQ(r.run.status, 255) << "ExitProcess(0xFFFFFFFF)\n" << r.run.Joined();
  EXPECT_FALSE(r.run.Has("window-created")) << r.run.Joined();
}

// The prefix around an installation: the user's folders, where the copy
// goes, and everything the installer and the test change undone at the end,
// whatever the test found on the way: the files, the shortcut, Mosalin's
// keys, a value of the test's own beside the Install key (one the uninstaller
// must leave alone), and Wine's menu integration, switched off meanwhile so
// that the shortcut makes no desktop entries, in the prefix or on the host.
class Installation {
 public:
  explicit Installation(const fs::path& dir) : dir_(dir) {
    e2e::Run r = Batch(dir_, "prepare",
                       {"reg query HKCU\\Software\\Wine\\DllOverrides /v winemenubuilder.exe >nul 2>&1",
                        "if errorlevel 1 goto no_override",
                        "echo had-menubuilder-override",
                        "goto override_done",
                        ":no_override",
                        "reg add HKCU\\Software\\Wine\\DllOverrides /v winemenubuilder.exe /t REG_SZ /d \"\" /f >nul",
                        ":override_done",
                        "reg query HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall >nul 2>&1",
                        "if not errorlevel 1 echo had-uninstall-list",
                        "reg query HKCU\\Software\\Varnel >nul 2>&1",
                        "if not errorlevel 1 echo had-varnel",
                        std::string("reg delete ") + kInstallKey + " /f >nul 2>&1",
                        std::string("reg delete ") + kUninstallKey + " /f >nul 2>&1",
                        "reg add HKCU\\Software\\Varnel\\Q /v MosalinTestKeep /t REG_SZ /d kept /f >nul",
                        "echo local=%LOCALAPPDATA%", "echo roaming=%APPDATA%"});
    hadOverride_ = r.Has("had-menubuilder-override");
    hadUninstallList_ = r.Has("had-uninstall-list");
    hadVarnel_ = r.Has("had-varnel");
    for (const auto& l : r.transcript) {
      if (l.rfind("local=", 0) == 0) localAppData = l.substr(6);
      if (l.rfind("roaming=", 0) == 0) appData = l.substr(8);
    }
    prepared = r.status == 0 && !localAppData.empty() && !appData.empty() && localAppData[0] != '%';
    if (!prepared) prepareOutput = r.Joined();
    installWindows = localAppData + "\\Programs\\Mosalin";
    install = PosixPath(installWindows);
    shortcut = PosixPath(appData + "\\Microsoft\\Windows\\Start Menu\\Programs\\Mosalin.lnk");
    // What a killed run may have left.
    std::error_code ec;
    if (prepared && !install.empty()) fs::remove_all(install, ec);
    if (prepared && !shortcut.empty()) fs::remove(shortcut, ec);
  }
  ~Installation() {
    if (!restored_) Restore({});
  }

  // Runs `queries` (reg commands whose output the caller reads), then puts
  // the prefix back as it was before the installer.
  e2e::Run Restore(const std::vector<std::string>& queries) {
    std::vector<std::string> lines = queries;
    for (const std::string key : {kInstallKey, kUninstallKey})
      lines.push_back("reg delete " + key + " /f >nul 2>&1");
    lines.push_back("reg delete HKCU\\Software\\Varnel\\Q /v MosalinTestKeep /f >nul 2>&1");
    if (!hadVarnel_) lines.push_back("reg delete HKCU\\Software\\Varnel /f >nul 2>&1");
    if (!hadOverride_) lines.push_back("reg delete HKCU\\Software\\Wine\\DllOverrides /v winemenubuilder.exe /f >nul 2>&1");
    if (!hadUninstallList_)
      lines.push_back("reg delete HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall /f >nul 2>&1");
    std::error_code ec;
    if (!install.empty()) fs::remove_all(install, ec);
    if (!shortcut.empty()) fs::remove(shortcut, ec);
    restored_ = true;
    return Batch(dir_, "restore", lines);
  }

  // For the installer's and uninstaller's runs: menus that Wine would make
  // for the shortcut land under the run's directory even if the integration
  // were on.
  std::vector<std::string> Env() const {
    return {"XDG_DATA_HOME=" + (dir_ / "xdg-data").string(), "XDG_CONFIG_HOME=" + (dir_ / "xdg-config").string()};
  }

  bool prepared = false;
  std::string prepareOutput, localAppData, appData, installWindows;
  fs::path install, shortcut;

 private:
  fs::path dir_;
  bool hadOverride_ = false, hadUninstallList_ = false, hadVarnel_ = false, restored_ = false;
};

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.insert(e.path().filename().string());
  return names;
}

TEST(WindowsInstaller, InstalledProgramStartsThroughTheRegistryAndUninstallsCleanly) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  e2e::Sandbox s("win-installer");
  const fs::path setup = wintest::WindowsBuild() / "Mosalin-setup.exe";
  ASSERT_TRUE(fs::exists(setup)) << setup << " (the Windows build makes it)";
  Installation inst(s.root() / "registry");
  ASSERT_TRUE(inst.prepared) << inst.prepareOutput;
  ASSERT_FALSE(inst.install.empty()) << inst.installWindows;

  // Silent installation.
  e2e::Run installer = wintest::RunWine(setup, {"/S"}, inst.Env(), s.root() / "install", 120);
  ASSERT_EQ(installer.status, 0) << installer.Joined();
  EXPECT_EQ(Listing(inst.install),
            (std::set<std::string>{"mosalin.exe", "Nodata.dll", "velmo.vxl", "Uninstall.exe"}))
      << inst.install;
  EXPECT_TRUE(Bytes(inst.install / "velmo.vxl") == Bytes(wintest::WindowsBin() / "velmo.vxr"))
      << "velmo.vxl is not the runtime host";
  EXPECT_TRUE(Bytes(inst.install / "mosalin.exe") == Bytes(wintest::WindowsBin() / "mosalin.exe"));
  EXPECT_TRUE(Bytes(inst.install / "Nodata.dll") == Bytes(wintest::WindowsBin() / "Nodata.dll"));
  EXPECT_TRUE(fs::exists(inst.shortcut)) << "no Start-menu shortcut " << inst.shortcut;
  EXPECT_NE(Bytes(inst.shortcut).find("mosalin.exe"), std::string::npos) << "the shortcut does not name mosalin.exe";

  e2e::Run keys = Batch(s.root() / "registry", "query-installed",
                        {std::string("reg query ") + kInstallKey + " /v Path", std::string("reg query ") + kUninstallKey});
  const auto path = RegValue(keys, "Path");
  ASSERT_TRUE(path) << keys.Joined();
  EXPECT_EQ(path->first, "REG_SZ");
  EXPECT_EQ(path->second, inst.installWindows + "\\") << "the runtime host's folder, with its backslash";
  const auto uninstall = RegValue(keys, "UninstallString");
  ASSERT_TRUE(uninstall) << keys.Joined();
  EXPECT_EQ(uninstall->second, "\"" + inst.installWindows + "\\Uninstall.exe\"");
  const auto name = RegValue(keys, "DisplayName");
  EXPECT_TRUE(name && name->second == "Mosalin") << keys.Joined();
  EXPECT_TRUE(RegValue(keys, "DisplayIcon")) << keys.Joined();

  // The installed copy has no velmo.vxr beside it: it merges only if the
  // registry route finds velmo.vxl.
  const fs::path samples = e2e::BinDir().parent_path() / "samples" / "2x";
  LauncherRun merge = PlayClosingErrorBox(
      s.root() / "merge", inst.install / "mosalin.exe",
      {"folder " + e2e::WindowsPath(samples), "click 按钮_指定目录", "save " + e2e::WindowsPath(s.root() / "out"),
       "click 按钮_保存路径", "click 按钮_开始拼合"});
  EXPECT_FALSE(merge.errorBoxShown) << "the installed program found no runtime host";
  EXPECT_EQ(merge.run.status, 0) << merge.run.Joined();
  EXPECT_TRUE(merge.run.Has("message 64 图片拼合并保存完成!!")) << merge.run.Joined();
  std::error_code noFile;
  EXPECT_EQ(fs::file_size(s.root() / "out.bmp", noFile), 4194358u) << noFile.message();

  // Silent removal. The uninstaller runs from a copy of itself and returns at
  // once; scripts/wine waits for the prefix's processes, and the files are
  // awaited all the same.
  e2e::Run uninstaller = wintest::RunWine(inst.install / "Uninstall.exe", {"/S"}, inst.Env(), s.root() / "uninstall", 120);
  EXPECT_EQ(uninstaller.status, 0) << uninstaller.Joined();
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (fs::exists(inst.install) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(fs::exists(inst.install)) << "left behind: " << testing::PrintToString(Listing(inst.install));
  EXPECT_FALSE(fs::exists(inst.shortcut)) << inst.shortcut;

  e2e::Run after = inst.Restore({"reg query HKCU\\Software\\Varnel /s", std::string("reg query ") + kUninstallKey});
  EXPECT_FALSE(ListsKey(after, kInstallKey)) << "the Install key is left\n" << after.Joined();
  EXPECT_FALSE(ListsKey(after, kUninstallKey)) << "the Uninstall entry is left\n" << after.Joined();
  EXPECT_TRUE(RegValue(after, "MosalinTestKeep")) << "the uninstaller took a value that is not its own\n"
                                                  << after.Joined();
}

}  // namespace
