#include "tests/windows/wine_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace wintest {
namespace {

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

}  // namespace

std::string WhyWineCannotRun() {
  static const std::string why = [] {
    // Wine's 32-bit loader: the first 32-bit program every Wine run starts.
    const char* loader = "/usr/lib/wine/wine";
    char arg0[] = "wine", arg1[] = "--version";
    char* argv[] = {arg0, arg1, nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, loader, &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    if (error == 0) {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
    return error == ENOEXEC ? std::string("this machine's kernel does not execute 32-bit programs (") + loader +
                                  ": " + std::strerror(error) + "), so no Windows program runs under Wine here"
                            : std::string();
  }();
  return why;
}

fs::path WindowsBuild() { return fs::path(MOSALIN_WINDOWS_BUILD); }
fs::path WindowsBin() { return WindowsBuild() / "bin"; }
fs::path SourceDir() { return fs::path(MOSALIN_SOURCE_DIR); }

e2e::Run RunWine(const fs::path& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env, const fs::path& workdir, int timeoutSeconds) {
  fs::create_directories(workdir);
  const fs::path out = workdir / "stdout.txt", err = workdir / "stderr.txt";
  std::vector<std::string> argvStrings = {(SourceDir() / "scripts" / "wine").string(), program.string()};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    if (v.rfind("VELMO_", 0) == 0) continue;  // only what the test gives
    envStrings.push_back(v);
  }
  // The prefix lives with the Windows build under test unless the caller names one.
  if (!std::getenv("WINEPREFIX")) envStrings.push_back("WINEPREFIX=" + (WindowsBuild() / "wineprefix").string());
  envStrings.insert(envStrings.end(), env.begin(), env.end());

  std::vector<char*> argv, envp;
  for (auto& a : argvStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);  // its own group, to kill it whole
  posix_spawnattr_setpgroup(&attr, 0);
  const std::string cwd = fs::current_path().string();
  fs::current_path(workdir);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &fa, &attr, argv.data(), envp.data());
  fs::current_path(cwd);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);

  e2e::Run r;
  if (spawned != 0) {
    r.err = "cannot start scripts/wine";
    return r;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int st = 0;
  while (true) {
    const pid_t done = waitpid(pid, &st, WNOHANG);
    if (done == pid) {
      r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &st, 0);
      const char* prefix = std::getenv("WINEPREFIX");
      const std::string kill = "WINEPREFIX='" +
                               (prefix ? std::string(prefix) : (WindowsBuild() / "wineprefix").string()) +
                               "' wineserver -k >/dev/null 2>&1";
      if (std::system(kill.c_str()) != 0) {
        // no server left to end
      }
      r.status = 2000;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::istringstream in(Slurp(out));
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    r.transcript.push_back(l);
  }
  r.err = Slurp(err);
  return r;
}

e2e::Run PlayWine(const fs::path& workdir, const std::vector<std::string>& scenario, const fs::path& exe) {
  fs::create_directories(workdir);
  const fs::path script = workdir / "scenario.txt";
  {
    std::ofstream s(script, std::ios::binary);
    for (const auto& l : scenario) s << l << "\n";
  }
  return RunWine(exe.empty() ? WindowsBin() / "mosalin.exe" : exe, {},
                 {"VELMO_SCRIPT=" + e2e::WindowsPath(script)}, workdir);
}

}  // namespace wintest
