// Runs a fuzz target's entry point once over every file named on the command
// line (directories are walked), so that the committed corpus and every
// reproducer of a fixed bug are checked by the ordinary build without a
// fuzzing engine. Exits 1 when a path cannot be read or nothing was run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  // A copy of exactly the file's size, so that reading past the end is seen.
  auto exact = std::make_unique<std::uint8_t[]>(bytes.size() ? bytes.size() : 1);
  std::copy(bytes.begin(), bytes.end(), exact.get());
  LLVMFuzzerTestOneInput(exact.get(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  int runs = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const fs::path root = argv[i];
    std::error_code ec;
    if (fs::is_directory(root, ec)) {
      for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
        ok = RunFile(entry.path()) && ok;
        ++runs;
      }
    } else {
      ok = RunFile(root) && ok;
      ++runs;
    }
  }
  std::printf("%d inputs run\n", runs);
  return ok && runs > 0 ? 0 : 1;
}
