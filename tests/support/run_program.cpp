#include "tests/support/run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace e2e {

fs::path BinDir() { return fs::path(MOSALIN_BIN_DIR); }

std::string WindowsPath(const fs::path& p) {
  std::string s = "Z:" + fs::absolute(p).string();
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

std::vector<std::string> Run::Lines(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& l : transcript)
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

bool Run::Has(const std::string& line) const {
  for (const auto& l : transcript)
    if (l == line) return true;
  return false;
}

std::string Run::Joined() const {
  std::string s;
  for (const auto& l : transcript) s += l + "\n";
  return s + "--- stderr:\n" + err;
}

Sandbox::Sandbox(const std::string& name) {
  root_ = fs::temp_directory_path() / ("mosalin-e2e-" + std::to_string(getpid()) + "-" + name);
  fs::remove_all(root_);
  fs::create_directories(config());
}

Sandbox::~Sandbox() {
  std::error_code ec;
  fs::remove_all(root_, ec);
}

fs::path Sandbox::MapDrive(char letter) {
  fs::path dir = root_ / (std::string("drive-") + letter);
  fs::create_directories(dir);
  drives_ += std::string(1, letter) + ": " + dir.string() + "\n";
  std::ofstream(config() / "drives") << drives_;
  return dir;
}

static std::string Slurp(const fs::path& p) {
  std::ifstream in(p);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

Run Sandbox::Play(const std::vector<std::string>& scenario, const fs::path& exe) const {
  Sandbox& self = const_cast<Sandbox&>(*this);
  self.Start(scenario, exe);
  return self.Finish();
}

void Sandbox::Start(const std::vector<std::string>& scenario, const fs::path& exeArg) {
  fs::path exe = exeArg.empty() ? BinDir() / "mosalin" : exeArg;
  fs::path script = root_ / "scenario.txt", out = root_ / "stdout.txt", err = root_ / "stderr.txt";
  {
    std::ofstream s(script);
    for (const auto& l : scenario) s << l << "\n";
  }
  std::vector<std::string> env = {"XDG_CONFIG_HOME=" + (root_ / "config").string(),
                                  "VELMO_SCRIPT=" + script.string(), "MOSALIN_NO_DIALOGS=1",
                                  "HOME=" + root_.string(), "PATH=/usr/bin:/bin"};
  for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "VELMO_TRACE"})
    if (const char* v = getenv(keep)) env.push_back(std::string(keep) + "=" + v);
  // An added entry takes the place of one of the same name from above.
  for (const std::string& extra : extraEnv_) {
    const std::string name = extra.substr(0, extra.find('=') + 1);
    std::erase_if(env, [&](const std::string& e) { return e.compare(0, name.size(), name) == 0; });
    env.push_back(extra);
  }
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::string path = exe.string();
  char* argv[] = {path.data(), nullptr};
  pid_t pid;
  pid_ = posix_spawn(&pid, path.c_str(), &fa, nullptr, argv, envp.data()) == 0 ? pid : -1;
  posix_spawn_file_actions_destroy(&fa);
}

std::vector<std::string> Sandbox::TranscriptSoFar() const {
  std::vector<std::string> lines;
  std::istringstream in(Slurp(root_ / "stdout.txt"));
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

Run Sandbox::Finish() {
  Run r;
  if (pid_ > 0) {
    int st = 0;
    waitpid(pid_, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
  }
  pid_ = -1;
  r.transcript = TranscriptSoFar();
  r.err = Slurp(root_ / "stderr.txt");
  return r;
}

}  // namespace e2e
