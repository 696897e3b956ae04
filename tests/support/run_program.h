// Runs the real executable with the scripted user interface and collects what
// it shows, for end-to-end tests.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace e2e {

struct Run {
  int status = -1;                      // exit status, or 1000 + signal
  std::vector<std::string> transcript;  // stdout, one event per line
  std::string err;                      // stderr

  // Lines of the transcript that start with `prefix`.
  std::vector<std::string> Lines(const std::string& prefix) const;
  bool Has(const std::string& line) const;
  std::string Joined() const;
};

// A scratch directory per test, with its own configuration directory (drives
// file, registry) so that runs never touch the user's.
class Sandbox {
 public:
  explicit Sandbox(const std::string& name);
  ~Sandbox();
  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path config() const { return root_ / "config" / "mosalin"; }
  // Maps a drive letter to a directory under the sandbox (created).
  std::filesystem::path MapDrive(char letter);
  // Adds "NAME=value" to the environment of the runs that follow, in place
  // of any NAME the sandbox sets or passes on itself.
  void AddEnv(const std::string& entry) { extraEnv_.push_back(entry); }
  // Runs `exe` (default: the built mosalin) with the scenario lines.
  Run Play(const std::vector<std::string>& scenario,
           const std::filesystem::path& exe = {}) const;
  // The same, in two steps: Start returns at once; Transcript reads what the
  // program has shown so far; Finish waits for its end.
  void Start(const std::vector<std::string>& scenario, const std::filesystem::path& exe = {});
  std::vector<std::string> TranscriptSoFar() const;
  Run Finish();
  // The started program's process id (-1 when none runs).
  int pid() const { return pid_; }

 private:
  std::filesystem::path root_;
  std::string drives_;
  std::vector<std::string> extraEnv_;
  int pid_ = -1;
};

std::filesystem::path BinDir();
// The Windows form of a POSIX path (drive Z:), with backslashes.
std::string WindowsPath(const std::filesystem::path& p);

}  // namespace e2e
