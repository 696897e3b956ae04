// mosalin-merge: merges a tile directory into a BMP file from the command
// line by running Mosalin itself with a scripted user. It has no merge logic
// of its own: the program beside this executable picks the directory, checks
// it, composes the picture and writes the file, and this tool only answers its
// dialogs, presses its buttons and reports what it shows.
//
// Two runs of the program:
//  1. The directory check: the folder browser is answered with TILE_DIR and
//     the window closed. The program accepts the directory silently or shows
//     why it rejects it. A rejected directory ends here, because a merge
//     started after a rejection would still run (with no tiles) and overwrite
//     OUTPUT with an empty picture.
//  2. The merge: the folder browser is answered with TILE_DIR, the save dialog
//     with OUTPUT, the start button is pressed and the window closed.
// The scenario reaches the program through a pipe (VELMO_SCRIPT=/dev/fd/3),
// its transcript comes back through another one and is read as it comes, so
// the progress bar moves while the program works.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
// The program's exit status when a block fits neither in memory nor in the
// spill directory.
constexpr int kProgramOutOfMemory = 7;
constexpr int kBarWidth = 40;

constexpr const char* kUsage =
    "usage: mosalin-merge TILE_DIR OUTPUT\n"
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
    "Exit status:\n"
    "  0  the program reported that the picture was merged and saved\n"
    "  1  the program rejected the directory, reported a failure, reported a\n"
    "     runtime error or ended abnormally (its own error output is passed on)\n"
    "  2  usage error: wrong arguments, OUTPUT not ending in .bmp, TILE_DIR not a\n"
    "     directory, or a path that cannot be handed to the program\n"
    "  3  the merge ran out of memory: the program found no room for the picture\n"
    "     in memory nor in its spill directory (MOSALIN_SPILL_DIR, by default\n"
    "     ~/.cache/mosalin), or the system ended it, as it ends the largest\n"
    "     process when memory runs out\n";

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
// program does, so the directory checked here is the one it will search.
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
  int script[2], transcript[2];
  if (pipe(script) != 0) {
    end.error = errno;
    return end;
  }
  if (pipe(transcript) != 0) {
    end.error = errno;
    close(script[0]);
    close(script[1]);
    return end;
  }
  for (int* fd : {&script[0], &script[1], &transcript[0], &transcript[1]}) *fd = HighFd(*fd);

  // The scenario is a few lines: it fits the pipe's buffer, so it is written
  // whole before the program starts.
  bool written = write(script[1], scenario.data(), scenario.size()) == static_cast<ssize_t>(scenario.size());
  close(script[1]);

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "VELMO_SCRIPT=", 13) != 0 && std::strncmp(*e, "MOSALIN_NO_DIALOGS=", 19) != 0)
      env.emplace_back(*e);
  env.emplace_back("VELMO_SCRIPT=/dev/fd/3");
  env.emplace_back("MOSALIN_NO_DIALOGS=1");  // no message box pops up on a display
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, transcript[1], 1);
  posix_spawn_file_actions_adddup2(&actions, script[0], 3);
  std::string path = program;
  char* argv[] = {path.data(), nullptr};
  pid_t pid = 0;
  int spawned = written ? posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp.data()) : errno;
  posix_spawn_file_actions_destroy(&actions);
  close(script[0]);
  close(transcript[1]);
  if (spawned != 0) {
    end.error = spawned;
    close(transcript[0]);
    return end;
  }
  end.started = true;

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
      case Event::Kind::kOther:
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
};

// Whether the program ran out of memory: it said so itself, or the kernel
// ended it the way it ends a process when memory runs out.
bool OutOfMemory(const ChildEnd& end) {
  return end.started && (end.normal ? end.status == kProgramOutOfMemory : end.status == SIGKILL);
}

// Runs one scenario and returns what it showed; reports a program that did
// not start or ended abnormally on stderr.
merge_tool::Outcome Play(const std::string& program, const std::string& scenario, bool showProgress,
                         bool* outOfMemory) {
  Reporter reporter(showProgress);
  ChildEnd end = RunScripted(program, scenario, std::ref(reporter));
  reporter.EndBar();
  *outOfMemory = OutOfMemory(end);
  if (!end.started) {
    std::fprintf(stderr, "mosalin-merge: cannot run %s: %s\n", program.c_str(), std::strerror(end.error));
  } else if (!end.normal && end.status == SIGKILL) {
    std::fprintf(stderr,
                 "mosalin-merge: mosalin was ended by signal %d (%s): most likely the system ran out of "
                 "memory and ended the merge; no file was written\n",
                 end.status, strsignal(end.status));
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
  return reporter.outcome();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (options && (a == "--help" || a == "-h")) {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return kExitSuccess;
    }
    if (options && a == "--version") {
      std::fputs("mosalin-merge " MOSALIN_VERSION "\n", stdout);
      return kExitSuccess;
    }
    if (options && a == "--") {
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
  bool outOfMemory = false;
  merge_tool::Outcome check = Play(program, folder + "close\n", false, &outOfMemory);
  if (!check.Quiet()) return outOfMemory ? kExitMemory : kExitFailure;

  std::string merge = folder + "save " + output.string() + "\nclick 按钮_保存路径\nclick 按钮_开始拼合\nclose\n";
  merge_tool::Outcome merged = Play(program, merge, isatty(STDOUT_FILENO) == 1, &outOfMemory);
  if (merged.Succeeded()) return kExitSuccess;
  return outOfMemory ? kExitMemory : kExitFailure;
}
