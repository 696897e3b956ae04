// mosalin-merge: merges a tile directory into a BMP file from the command
// line by running Mosalin itself with a scripted user. It has no merge logic
// of its own: the program beside this executable picks the directory, checks
// it, composes the picture and writes the file, and this tool only answers its
// dialogs, presses its buttons and reports what it shows.
//
// One run of the program: the folder browser is answered with TILE_DIR, the
// save dialog with OUTPUT, the start button is pressed and the window closed.
// A directory the program rejects stays unpicked, so the start that follows
// shows why it cannot merge and writes nothing.
// The scenario reaches the program through a pipe (VELMO_SCRIPT=/dev/fd/3),
// its transcript comes back through another one and is read as it comes, so
// the progress bar moves while the program works.
//
// The program ends with the tool: SIGINT, SIGTERM and SIGHUP are passed on to
// it and its end is awaited before the tool ends by the same signal, and the
// program is started with a parent-death signal, so that it is killed too
// when the tool is killed outright.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/graphics/big_block.h"
#include "tools/merge/transcript.h"

extern char** environ;

namespace fs = std::filesystem;
using merge_tool::Event;

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitMemory = 3;
constexpr int kExitStrict = 4;
// The program's exit status when a block fits neither in memory nor in the
// spill directory.
constexpr int kProgramOutOfMemory = 7;
constexpr int kBarWidth = 40;

constexpr const char* kUsage =
    "usage: mosalin-merge [--strict] TILE_DIR OUTPUT\n"
    "       mosalin-merge --help\n"
    "       mosalin-merge --version\n";

constexpr const char* kHelp =
    "\n"
    "Merges the tile directory TILE_DIR (a zoom directory such as 2x, one\n"
    "sub-directory per band of tiles) into the BMP file OUTPUT, by running the\n"
    "mosalin program beside this executable with a scripted user: it picks\n"
    "TILE_DIR in the folder browser, OUTPUT in the save dialog and presses the\n"
    "start button. Everything it does comes from the program.\n"
    "\n"
    "OUTPUT must end in .bmp (any case); the file is written exactly there.\n"
    "Relative paths count from the current directory.\n"
    "\n"
    "Output: the program's success message goes to stdout; every other message\n"
    "it shows reports a failure and goes to stderr. When stdout is a terminal, a\n"
    "progress bar follows the merge.\n"
    "\n"
    "The tiles: the program draws a missing tile with the placeholder picture\n"
    "and leaves a tile it cannot draw black, without a word. At the end of a\n"
    "merge, stderr tells how many tiles were drawn, how many were missing and\n"
    "how many could not be drawn, names the first ten of each kind with the\n"
    "reason where it is known (missing, unreadable, not a picture, truncated,\n"
    "too large, damaged), and says when the placeholder itself is missing or\n"
    "could not be drawn.\n"
    "  --strict  any missing or undrawn tile, or a placeholder problem, ends\n"
    "            with exit status 4 (the picture is saved all the same)\n"
    "\n"
    "Interrupted by SIGINT, SIGTERM or SIGHUP, it stops the program, waits for\n"
    "its end, says in one line whether OUTPUT is untouched and ends by the same\n"
    "signal (a shell shows 130, 143 or 129). Killed outright, it takes the\n"
    "program with it. Either way the program changes no file afterwards.\n"
    "\n"
    "Exit status:\n"
    "  0  the program reported that the picture was merged and saved\n"
    "  1  the program rejected the directory, reported a failure, reported a\n"
    "     runtime error or ended abnormally (its own error output is passed on),\n"
    "     the picture is more than a BMP file can hold (4 GiB), or the tool\n"
    "     could not write to stdout\n"
    "  2  usage error: wrong arguments, OUTPUT not ending in .bmp, TILE_DIR not a\n"
    "     directory, or a path that cannot be handed to the program\n"
    "  3  the merge ran out of memory: the program found no room for the picture\n"
    "     in memory nor in its spill directory (MOSALIN_SPILL_DIR, by default\n"
    "     ~/.cache/mosalin), or the kernel's out-of-memory killer ended it (also\n"
    "     when it was killed and the kernel keeps no record that tells why)\n"
    "  4  with --strict: the picture was saved, but tiles were missing or could\n"
    "     not be drawn, or the placeholder was missing or could not be drawn\n";

// The signals that end the tool. The first one received is remembered and
// passed on to the program while it runs; one that arrives before it starts
// keeps it from starting.
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t gSignal = 0;
volatile sig_atomic_t gChild = 0;  // the running program's process id, or 0

extern "C" void OnEndSignal(int signal) {
  if (gSignal == 0) gSignal = signal;
  if (gChild > 0) kill(static_cast<pid_t>(gChild), signal);
}

// Catches the ending signals, except one the tool was started to ignore
// (nohup, a background job): the program inherits that as it is.
void CatchEndSignals() {
  for (int sig : kEndSignals) {
    struct sigaction old {};
    sigaction(sig, nullptr, &old);
    if (old.sa_handler == SIG_IGN) continue;
    struct sigaction act {};
    act.sa_handler = OnEndSignal;
    act.sa_flags = SA_RESTART;  // the transcript is read on until the program ends
    sigemptyset(&act.sa_mask);
    sigaction(sig, &act, nullptr);
  }
}

int UsageError(const std::string& message) {
  if (!message.empty()) std::fprintf(stderr, "mosalin-merge: %s\n", message.c_str());
  std::fputs(kUsage, stderr);
  std::fputs("Try 'mosalin-merge --help' for more.\n", stderr);
  return kExitUsage;
}

int Failure(const std::string& message) {
  std::fprintf(stderr, "mosalin-merge: %s\n", message.c_str());
  return kExitFailure;
}

// Absolute and without "." / ".." components or a trailing "/", the way the
// program's path map will read it. ".." is resolved by the text, as the
// program does, so the directory tested here is the one it will search.
fs::path Normalise(const std::string& arg) {
  fs::path p = fs::absolute(fs::path(arg)).lexically_normal();
  std::string s = p.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return fs::path(s);
}

bool EndsWithBmp(const std::string& s) {
  if (s.size() < 4) return false;
  std::string tail = s.substr(s.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return tail == ".bmp";
}

// Whether the path can travel in a scenario line and has a Windows form for
// the program (no line feed, no backslash in a name, valid UTF-8).
bool CanHandOver(const fs::path& p) {
  return p.string().find('\n') == std::string::npos && platform::PosixToWindows(p.string()).has_value();
}

// Moves a descriptor above the standard ones, close-on-exec, so that the
// child's descriptors 1 and 3 can be set from it without clashes.
int HighFd(int fd) {
  int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return high;
}

struct ChildEnd {
  bool started = false;
  bool normal = false;  // exited rather than killed by a signal
  int status = 0;       // exit status, or the signal number
  int error = 0;        // why it did not start
};

// Runs `program` with `scenario` and hands each transcript line to `onLine`
// as soon as it arrives. The child's stderr is ours.
ChildEnd RunScripted(const std::string& program, const std::string& scenario,
                     const std::function<void(std::string_view)>& onLine) {
  ChildEnd end;
  // The scenario, the transcript, and the error of an exec that failed.
  int script[2] = {-1, -1}, transcript[2] = {-1, -1}, failed[2] = {-1, -1};
  if (pipe(script) != 0 || pipe(transcript) != 0 || pipe2(failed, O_CLOEXEC) != 0) {
    end.error = errno;
    for (int fd : {script[0], script[1], transcript[0], transcript[1]})
      if (fd >= 0) close(fd);
    return end;
  }
  for (int* fd : {&script[0], &script[1], &transcript[0], &transcript[1]}) *fd = HighFd(*fd);

  // The scenario is a few lines: it fits the pipe's buffer, so it is written
  // whole before the program starts.
  bool written = write(script[1], scenario.data(), scenario.size()) == static_cast<ssize_t>(scenario.size());
  close(script[1]);

  // Everything the child needs is made before the fork: between fork and
  // exec it makes only system calls.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "VELMO_SCRIPT=", 13) != 0 && std::strncmp(*e, "MOSALIN_NO_DIALOGS=", 19) != 0)
      env.emplace_back(*e);
  env.emplace_back("VELMO_SCRIPT=/dev/fd/3");
  env.emplace_back("MOSALIN_NO_DIALOGS=1");  // no message box pops up on a display
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string path = program;
  char* argv[] = {path.data(), nullptr};
  const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);

  // The ending signals wait until the child's id is known to the handler.
  sigset_t ending, previous;
  sigemptyset(&ending);
  for (int sig : kEndSignals) sigaddset(&ending, sig);
  sigprocmask(SIG_BLOCK, &ending, &previous);
  const pid_t parent = getpid();
  pid_t pid = written && devNull >= 0 && gSignal == 0 ? fork() : -1;
  if (pid == 0) {
    // The child: killed when the tool ends, even by SIGKILL. A tool that
    // died before this took effect has a new parent here: then stop.
    for (int sig : kEndSignals) {
      struct sigaction act {};
      sigaction(sig, nullptr, &act);
      if (act.sa_handler != SIG_IGN) signal(sig, SIG_DFL);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
    if (dup2(devNull, 0) < 0 || dup2(transcript[1], 1) < 0 || dup2(script[0], 3) < 0) _exit(127);
    execve(path.c_str(), argv, envp.data());
    const int error = errno;
    (void)!write(failed[1], &error, sizeof error);
    _exit(127);
  }
  const int forkError = pid < 0 ? (written ? errno : EPIPE) : 0;
  if (pid > 0) gChild = pid;
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (devNull >= 0) close(devNull);
  close(script[0]);
  close(transcript[1]);
  close(failed[1]);
  if (pid < 0) {
    end.error = gSignal != 0 ? EINTR : forkError;
    close(transcript[0]);
    close(failed[0]);
    return end;
  }
  int execError = 0;
  const bool execFailed = read(failed[0], &execError, sizeof execError) == sizeof execError;
  close(failed[0]);
  end.started = !execFailed;
  end.error = execError;

  if (FILE* in = fdopen(transcript[0], "r")) {
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t n;
    while ((n = getline(&line, &capacity, in)) > 0) {
      std::string_view l(line, static_cast<std::size_t>(n));
      if (l.back() == '\n') l.remove_suffix(1);
      onLine(l);
    }
    std::free(line);
    std::fclose(in);
  } else {
    close(transcript[0]);
  }

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  gChild = 0;
  end.normal = WIFEXITED(status);
  end.status = end.normal ? WEXITSTATUS(status) : WTERMSIG(status);
  return end;
}

// Prints the messages of a run and, on a terminal, the progress bar.
class Reporter {
 public:
  explicit Reporter(bool showProgress) : showProgress_(showProgress) {}

  void operator()(std::string_view line) {
    Event event = merge_tool::ParseTranscriptLine(line);
    outcome_.Add(event);
    tiles_.Add(event);
    switch (event.kind) {
      case Event::Kind::kProgress:
        if (showProgress_) DrawBar(event.position);
        break;
      case Event::Kind::kMessage:
        EndBar();
        if (merge_tool::IsSuccessMessage(event)) {
          std::printf("%s\n", event.text.c_str());
          std::fflush(stdout);
        } else {
          std::fprintf(stderr, "%s\n", event.text.c_str());
        }
        break;
      case Event::Kind::kRuntimeError:
        EndBar();
        std::fprintf(stderr, "mosalin-merge: the program reported runtime error %s\n", event.text.c_str());
        break;
      default:  // what the tile report and the outcome take
        break;
    }
  }

  // Ends the bar's line, so that whatever follows starts on a line of its own.
  void EndBar() {
    if (!barOpen_) return;
    std::fputc('\n', stdout);
    std::fflush(stdout);
    barOpen_ = false;
    drawn_.clear();
  }

  merge_tool::Outcome& outcome() { return outcome_; }
  const merge_tool::TileReport& tiles() const { return tiles_; }

 private:
  void DrawBar(int position) {
    std::string bar = merge_tool::ProgressBar(position, kBarWidth);
    if (bar == drawn_) return;
    std::printf("\r%s", bar.c_str());
    std::fflush(stdout);
    drawn_ = bar;
    barOpen_ = true;
  }

  bool showProgress_;
  bool barOpen_ = false;
  std::string drawn_;
  merge_tool::Outcome outcome_;
  merge_tool::TileReport tiles_;
};

// The kernel's own count of processes that its out-of-memory killer ended,
// where this process can read one: its memory cgroup's (cgroup v2
// memory.events, v1 memory.oom_control; both count kills by any OOM killer,
// the system's own included), else the whole system's (/proc/vmstat).
struct OomCount {
  std::string where;
  std::uint64_t kills = 0;
};

std::optional<std::uint64_t> KeyedValue(const std::string& file, const std::string& key) {
  std::ifstream in(file);
  std::string k;
  std::uint64_t v = 0;
  while (in >> k >> v)
    if (k == key) return v;
  return std::nullopt;
}

std::optional<OomCount> ReadOomCount() {
  std::ifstream groups("/proc/self/cgroup");
  for (std::string line; std::getline(groups, line);) {
    const std::size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    std::string path = line.substr(b + 1);
    if (path == "/") path.clear();
    const std::string controllers = "," + line.substr(a + 1, b - a - 1) + ",";
    std::optional<std::uint64_t> kills;
    if (line.compare(0, a, "0") == 0 && b == a + 1)
      kills = KeyedValue("/sys/fs/cgroup" + path + "/memory.events", "oom_kill");
    else if (controllers.find(",memory,") != std::string::npos)
      kills = KeyedValue("/sys/fs/cgroup/memory" + path + "/memory.oom_control", "oom_kill");
    if (kills) return OomCount{"the merge's memory cgroup", *kills};
  }
  if (std::optional<std::uint64_t> kills = KeyedValue("/proc/vmstat", "oom_kill"))
    return OomCount{"the system", *kills};
  return std::nullopt;
}

// Runs one scenario and returns what it showed; reports a program that did
// not start or ended abnormally on stderr. `outOfMemory` tells whether it ran
// out of memory: it said so itself, or the kernel's out-of-memory killer
// ended it (or it was killed and the kernel keeps no record that tells).
struct Played {
  merge_tool::Outcome outcome;
  merge_tool::TileReport tiles;
};

Played Play(const std::string& program, const std::string& scenario, bool showProgress, bool* outOfMemory) {
  Reporter reporter(showProgress);
  const std::optional<OomCount> oomBefore = ReadOomCount();
  ChildEnd end = RunScripted(program, scenario, std::ref(reporter));
  reporter.EndBar();
  *outOfMemory = end.started && end.normal && end.status == kProgramOutOfMemory;
  if (gSignal != 0) {
    // Interrupted: the caller says so.
  } else if (!end.started) {
    std::fprintf(stderr, "mosalin-merge: cannot run %s: %s\n", program.c_str(), std::strerror(end.error));
  } else if (!end.normal && end.status == SIGKILL) {
    const std::optional<OomCount> oomAfter = ReadOomCount();
    std::string cause;
    if (oomBefore && oomAfter && oomBefore->where == oomAfter->where) {
      const std::uint64_t kills = oomAfter->kills - oomBefore->kills;
      *outOfMemory = oomAfter->kills > oomBefore->kills;
      cause = *outOfMemory ? "the kernel's out-of-memory killer ended " + std::to_string(kills) +
                                 " process(es) of " + oomAfter->where +
                                 " meanwhile: the system ran out of memory and ended the merge"
                           : "not by the kernel's out-of-memory killer, which ended no process of " +
                                 oomAfter->where + " meanwhile: someone or something else killed it";
    } else {
      *outOfMemory = true;
      cause = "either the system ran out of memory and ended the merge, or someone killed it (the kernel "
              "keeps no record here that tells which)";
    }
    std::fprintf(stderr, "mosalin-merge: mosalin was ended by signal %d (%s): %s; no file was written\n",
                 end.status, strsignal(end.status), cause.c_str());
  } else if (!end.normal) {
    std::fprintf(stderr, "mosalin-merge: mosalin was ended by signal %d (%s)\n", end.status,
                 strsignal(end.status));
  } else if (end.status == kProgramOutOfMemory) {
    const std::string spill = graphics::SpillDirectory();
    std::fprintf(stderr,
                 "mosalin-merge: the picture needs more memory than this system gives the program, and "
                 "the spill directory %s cannot hold the rest either (full, not writable, or in memory); "
                 "free memory or disk space, or set MOSALIN_SPILL_DIR to a directory on a disk with room; "
                 "no file was written\n",
                 spill.empty() ? "(none)" : spill.c_str());
  } else if (end.status != 0) {
    std::fprintf(stderr, "mosalin-merge: mosalin ended with exit status %d\n", end.status);
  }
  reporter.outcome().SetExit(end.started && end.normal, end.status);
  return {reporter.outcome(), reporter.tiles()};
}

// What identifies the output file, to tell whether a run replaced it.
struct Stamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtimeNs = 0, ctimeNs = 0;
  bool operator==(const Stamp&) const = default;
};

Stamp StampOf(const fs::path& file) {
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) return {};
  auto ns = [](const timespec& t) { return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; };
  return {true, st.st_dev, st.st_ino, st.st_size, ns(st.st_mtim), ns(st.st_ctim)};
}

// Ends the tool after an ending signal, once the program has ended: one line
// on what became of OUTPUT, then the same signal, so that the caller sees the
// tool ended by it.
[[noreturn]] void EndInterrupted(const std::string& shown, const fs::path& output, const Stamp& before) {
  const int sig = gSignal;
  const Stamp after = StampOf(output);
  std::string what = after != before   ? shown + " was already replaced by the merged picture"
                     : before.exists   ? shown + " is untouched"
                                       : "no file was written";
  std::fprintf(stderr, "mosalin-merge: interrupted (%s): the merge was stopped and %s\n", strsignal(sig),
               what.c_str());
  std::fflush(stdout);
  std::fflush(stderr);
  signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

// The status to end with, once everything written to stdout has gone out: a
// tool whose output was lost did not do its job.
int Done(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "mosalin-merge: cannot write to standard output: %s\n", std::strerror(errno));
    return status == kExitSuccess ? kExitFailure : status;
  }
  return status;
}

// A tile's name in the report: its path below TILE_DIR, or the whole POSIX
// path of any other file.
std::string ShownName(const fs::path& tileDir, const std::string& windowsPath) {
  const std::optional<std::string> posix = platform::Utf8WindowsToPosix(windowsPath);
  if (!posix) return windowsPath;
  const std::string dir = tileDir.string() + "/";
  return posix->rfind(dir, 0) == 0 ? posix->substr(dir.size()) : *posix;
}

// The status of a merge run that did not succeed.
int FailureStatus(const merge_tool::Outcome& merged, bool outOfMemory) {
  if (outOfMemory) return kExitMemory;
  if (!merged.BitmapFailed()) return kExitFailure;
  // The bitmap: no room for it, unless the picture is more than a BMP file
  // can hold (4 GiB less the headers), which no memory changes.
  const long long side = merged.side();
  if (side > 0 && static_cast<double>(side) * side * 4 + 62 > 4294967295.0) {
    std::fprintf(stderr, "mosalin-merge: a picture of %lld*%lld pixels is more than a BMP file can hold (4 GiB)\n",
                 side, side);
    return kExitFailure;
  }
  const std::string spill = graphics::SpillDirectory();
  std::fprintf(stderr,
               "mosalin-merge: the picture's bitmap fits neither in the memory this system gives the program "
               "nor in the spill directory %s (full, not writable, or in memory); no file was written\n",
               spill.empty() ? "(none)" : spill.c_str());
  return kExitMemory;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  bool options = true, strict = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (options && (a == "--help" || a == "-h")) {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return Done(kExitSuccess);
    }
    if (options && a == "--version") {
      std::fputs("mosalin-merge " MOSALIN_VERSION "\n", stdout);
      return Done(kExitSuccess);
    }
    if (options && a == "--strict") {
      strict = true;
    } else if (options && a == "--") {
      options = false;
    } else if (options && a.size() > 1 && a[0] == '-') {
      return UsageError("unknown option " + a);
    } else {
      args.push_back(a);
    }
  }
  if (args.size() != 2) return UsageError(args.empty() ? "" : "expected TILE_DIR and OUTPUT");
  if (args[0].empty() || args[1].empty()) return UsageError("empty path");

  fs::path tileDir = Normalise(args[0]);
  fs::path output = Normalise(args[1]);
  if (!EndsWithBmp(args[1]) || !EndsWithBmp(output.string()))
    return UsageError("OUTPUT must end in .bmp: " + args[1]);
  std::error_code ec;
  if (!fs::is_directory(tileDir, ec)) return UsageError("TILE_DIR is not a directory: " + args[0]);
  for (const fs::path& p : {tileDir, output})
    if (!CanHandOver(p))
      return UsageError("the program cannot be given this path (line break, backslash in a name, or not "
                        "UTF-8): " + p.string());

  std::string program = platform::ExecutableDir() + "/mosalin";
  if (access(program.c_str(), X_OK) != 0) return Failure("cannot find the program " + program);

  // A trailing "/" keeps blanks at the end of the directory's name from
  // being taken for the blanks that end a scenario line; the program's path
  // map drops it.
  std::string folder = "folder " + tileDir.string() + "/\nclick 按钮_指定目录\n";

  signal(SIGPIPE, SIG_IGN);
  CatchEndSignals();
  const Stamp before = StampOf(output);
  bool outOfMemory = false;
  std::string merge = folder + "save " + output.string() + "\nclick 按钮_保存路径\nclick 按钮_开始拼合\nclose\n";
  Played merged = Play(program, merge, isatty(STDOUT_FILENO) == 1, &outOfMemory);
  if (gSignal != 0) EndInterrupted(args[1], output, before);
  if (!merged.tiles.Empty())
    std::fputs(merged.tiles.Text([&](const std::string& p) { return ShownName(tileDir, p); }).c_str(), stderr);
  if (!merged.outcome.Succeeded()) return Done(FailureStatus(merged.outcome, outOfMemory));
  return Done(strict && !merged.tiles.Clean() ? kExitStrict : kExitSuccess);
}
