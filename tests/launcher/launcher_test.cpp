// The launcher's routes to the runtime host, run on copies of the real
// executable in directories laid out by each test.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
extern char** environ;

namespace {

const std::string kErrorLine =
    "Error: Not found the kernel library or the kernel library is invalid!";

struct Result {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("mosalin-launcher-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "config" / "mosalin");
  }
  void TearDown() override { fs::remove_all(root_); }

  // Copies the executable to `dir` under `name`.
  fs::path Install(const fs::path& dir, const std::string& name = "mosalin") {
    fs::create_directories(dir);
    fs::copy_file(fs::path(MOSALIN_BIN_DIR) / "mosalin", dir / name, fs::copy_options::overwrite_existing);
    return dir / name;
  }
  void Library(const std::string& kind, const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::path from = kind == "real" ? fs::path(MOSALIN_BIN_DIR) / "velmo.vxr"
                                   : fs::path(FAKE_HOST_DIR) / ("launcher_host_" + kind + ".so");
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  }
  void RegistryPath(const std::string& windowsPath) {
    std::ofstream(root_ / "config" / "mosalin" / "registry")
        << "[Software\\Varnel\\Q\\Install]\nPath=\"" << windowsPath << "\"\n";
  }
  static std::string Windows(const fs::path& p) {
    std::string s = "Z:" + p.string();
    for (char& c : s)
      if (c == '/') c = '\\';
    return s;
  }

  Result Run(const fs::path& exe) {
    fs::path out = root_ / "out.txt", err = root_ / "err.txt", script = root_ / "scenario.txt";
    std::ofstream(script) << "close\n";
    std::string cfg = "XDG_CONFIG_HOME=" + (root_ / "config").string();
    std::string scen = "VELMO_SCRIPT=" + script.string();
    std::vector<std::string> env = {cfg, scen, "MOSALIN_NO_DIALOGS=1", "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string path = exe.string();
    char* argv[] = {path.data(), nullptr};
    pid_t pid;
    Result r;
    if (posix_spawn(&pid, path.c_str(), &fa, nullptr, argv, envp.data()) != 0) return r;
    posix_spawn_file_actions_destroy(&fa);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
  }

  fs::path root_;
};

TEST_F(LauncherTest, TheRealHostBesideTheExecutableRunsTheProgramToItsEnd) {
  fs::path exe = Install(root_ / "app");
  Library("real", root_ / "app" / "velmo.vxr");
  Result r = Run(exe);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("window-created"), std::string::npos) << r.out;
}

TEST_F(LauncherTest, ALibraryBesideTheExecutableWinsAndTheRegistryIsNotRead) {
  fs::path exe = Install(root_ / "app");
  Library("marker", root_ / "app" / "velmo.vxr");
  // A registry naming another library, and one that would fail to read.
  Library("refuses", root_ / "installed" / "velmo.vxl");
  RegistryPath(Windows(root_ / "installed"));
  Result r = Run(exe);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ran " + (root_ / "app" / "velmo.vxr").string() + " magic WJ\n");
}

TEST_F(LauncherTest, TheRegistryRouteWorksWithAndWithoutATrailingBackslash) {
  fs::path exe = Install(root_ / "app");
  Library("marker", root_ / "installed" / "velmo.vxl");
  for (std::string suffix : {"", "\\"}) {
    RegistryPath(Windows(root_ / "installed") + suffix);
    Result r = Run(exe);
    EXPECT_EQ(r.status, 0) << "suffix '" << suffix << "': " << r.err;
    EXPECT_EQ(r.out, "ran " + (root_ / "installed" / "velmo.vxl").string() + " magic WJ\n");
  }
}

TEST_F(LauncherTest, EveryFailureShowsTheOneMessageAndEndsWith255) {
  fs::path exe = Install(root_ / "app");
  // Nothing beside, no registry.
  Result r = Run(exe);
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find(kErrorLine), std::string::npos) << r.err;
  // Registry names a directory without the library.
  RegistryPath(Windows(root_ / "nowhere"));
  r = Run(exe);
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find(kErrorLine), std::string::npos);
  // The entry is missing.
  Library("noentry", root_ / "app" / "velmo.vxr");
  r = Run(exe);
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find(kErrorLine), std::string::npos);
  // The entry answers 0.
  Library("refuses", root_ / "app" / "velmo.vxr");
  r = Run(exe);
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find(kErrorLine), std::string::npos);
  EXPECT_EQ(r.out, "");
}

TEST_F(LauncherTest, AShortFileNameStillSearchesTheExecutablesOwnDirectory) {
  // The library lies in the parent directory only: it must not be found
  // there, and the one beside the executable must be.
  Library("marker", root_ / "velmo.vxr");
  fs::path exe = Install(root_ / "app", "ab");
  Result r = Run(exe);
  EXPECT_EQ(r.status, 255) << r.out;
  Library("marker", root_ / "app" / "velmo.vxr");
  r = Run(exe);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ran " + (root_ / "app" / "velmo.vxr").string() + " magic WJ\n");
}

TEST_F(LauncherTest, APathLongerThan128CharactersFindsTheLibraryBesideIt) {
  fs::path dir = root_;
  while (dir.string().size() < 170) dir /= "a-rather-long-directory-name";
  fs::path exe = Install(dir);
  Library("marker", dir / "velmo.vxr");
  // A library where a truncated path would point must not be the one used.
  Result r = Run(exe);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ran " + (dir / "velmo.vxr").string() + " magic WJ\n");
}

}  // namespace
