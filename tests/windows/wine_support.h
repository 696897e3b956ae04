// Running the Windows build under Wine from a test: scripts/wine with a
// scenario, the transcript and exit status collected as for the Linux build.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace wintest {

// The Windows build directory (build-win) and its bin directory.
std::filesystem::path WindowsBuild();
std::filesystem::path WindowsBin();
std::filesystem::path SourceDir();

// Runs `program` with `args` through scripts/wine, with `env` added to the
// environment ("NAME=value"), in `workdir`; stdout and stderr go to files
// there. A run that takes longer than `timeoutSeconds` is killed (and with it
// every Wine process of the prefix) and reported with status 2000. The
// transcript's lines lose a trailing CR.
e2e::Run RunWine(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env, const std::filesystem::path& workdir,
                 int timeoutSeconds = 180);

// Plays scenario lines (paths in their Windows form, e2e::WindowsPath) against
// the Windows mosalin.exe (or `exe`), with the scenario file in `workdir`.
e2e::Run PlayWine(const std::filesystem::path& workdir, const std::vector<std::string>& scenario,
                  const std::filesystem::path& exe = {});

// Why no Windows program can run under Wine on this machine, or empty. Wine
// runs 32-bit Windows programs as 32-bit Linux processes; a kernel that
// executes no 32-bit programs (IA-32 emulation left out or switched off)
// runs none of them. A Wine that is missing or fails otherwise is no reason:
// the tests then fail.
std::string WhyWineCannotRun();

}  // namespace wintest

// Skips the test, with the reason, where Wine cannot run any program here.
#define SKIP_WHERE_WINE_CANNOT_RUN()                                      \
  if (const std::string why = wintest::WhyWineCannotRun(); !why.empty()) \
  GTEST_SKIP() << why
