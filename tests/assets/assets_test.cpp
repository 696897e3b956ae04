// The asset tool as the build and the benchmarks use it: run the built
// executable, decode the PNG files it wrote and check layout and pixels.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/assets/decoded_png.h"

namespace fs = std::filesystem;
using assets_test::Decode;
using assets_test::Picture;
using assets_test::ReadBytes;

namespace {

// Runs the tool with `args`; its exit status, or -1 when it did not exit.
int RunTool(const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(ASSETS_TOOL)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The tool's complaints are not the test's output.
    if (int null = open("/dev/null", O_WRONLY); null >= 0) dup2(null, STDERR_FILENO);
    execv(ASSETS_TOOL, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class AssetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "assets_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The N x N tiles of a zoom directory, put back together as one picture.
  static Picture Assemble(const fs::path& zoom, int n) {
    std::string prefix = zoom.filename().string();
    Picture whole{n * 256, n * 256, -1,
                  std::vector<std::uint8_t>(static_cast<std::size_t>(n) * n * 256 * 256 * 4)};
    for (int r = 0; r < n; ++r) {
      for (int j = 0; j < n; ++j) {
        char band[12], tile[12];  // room for any int
        std::snprintf(band, sizeof band, "%03d", r);
        std::snprintf(tile, sizeof tile, "%03d", j);
        Picture t = Decode(zoom / band / (prefix + band + tile + ".png"));
        EXPECT_EQ(t.width, 256);
        EXPECT_EQ(t.height, 256);
        if (t.width != 256 || t.height != 256) return whole;
        whole.colourType = t.colourType;
        for (int y = 0; y < 256; ++y)
          std::copy_n(&t.rgba[y * 256 * 4], 256 * 4,
                      &whole.rgba[((r * 256 + y) * whole.width + j * 256) * 4]);
      }
    }
    return whole;
  }

  fs::path dir_;
};

TEST_F(AssetsTest, PlaceholderIsAnOpaqueTileWithVisibleContent) {
  fs::path file = dir_ / "Nodata.dll";
  ASSERT_EQ(RunTool({"nodata", file.string()}), 0);
  Picture p = Decode(file);
  EXPECT_EQ(p.width, 256);
  EXPECT_EQ(p.height, 256);
  EXPECT_EQ(p.colourType, SPNG_COLOR_TYPE_TRUECOLOR);
  std::map<std::uint32_t, int> colours;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) ++colours[p.At(x, y)];
  EXPECT_GE(colours.size(), 3u) << "ground, hatch and lettering at least";
  // The lettering sits in the middle: the centre row is not a single colour.
  std::set<std::uint32_t> middle;
  for (int x = 0; x < p.width; ++x) middle.insert(p.At(x, 128));
  EXPECT_GE(middle.size(), 2u);

  // The build put the same picture beside the executables.
  EXPECT_EQ(ReadBytes(BUILT_NODATA), ReadBytes(file));
}

TEST_F(AssetsTest, SampleSetHasTheZoomDirectoryLayout) {
  fs::path zoom = dir_ / "2x";
  ASSERT_EQ(RunTool({"samples", zoom.string()}), 0);
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"2x"}) << "nothing written beside the set";
  ASSERT_EQ(Names(zoom), (std::vector<std::string>{"000", "001", "002", "003"}));
  int tiles = 0;
  for (const std::string band : {"000", "001", "002", "003"}) {
    std::vector<std::string> expected;
    for (const std::string j : {"000", "001", "002", "003"})
      expected.push_back("2x" + band + j + ".png");
    EXPECT_EQ(Names(zoom / band), expected);
    for (const std::string& name : Names(zoom / band)) {
      Picture t = Decode(zoom / band / name);
      EXPECT_EQ(t.width, 256) << name;
      EXPECT_EQ(t.height, 256) << name;
      EXPECT_EQ(t.colourType, SPNG_COLOR_TYPE_TRUECOLOR) << name;
      ++tiles;
    }
  }
  EXPECT_EQ(tiles, 16);

  // The build's own sample set is laid out the same way.
  EXPECT_EQ(Names(BUILT_SAMPLES), (std::vector<std::string>{"000", "001", "002", "003"}));
  EXPECT_EQ(Names(fs::path(BUILT_SAMPLES) / "003").back(), "2x003003.png");
}

TEST_F(AssetsTest, PrefixComesFromTheLastPathComponent) {
  fs::path zoom = dir_ / "zoom7";
  ASSERT_EQ(RunTool({"samples", zoom.string() + "/", "2", "5"}), 0);
  ASSERT_EQ(Names(zoom), (std::vector<std::string>{"000", "001"}));
  EXPECT_EQ(Names(zoom / "001"), (std::vector<std::string>{"zoom7001000.png", "zoom7001001.png"}));
}

TEST_F(AssetsTest, TilesReassembleToTheWholeMap) {
  for (bool alpha : {false, true}) {
    SCOPED_TRACE(alpha ? "translucent water" : "opaque");
    fs::path zoom = dir_ / (alpha ? "a" : "o") / "3x";
    fs::path full = dir_ / (alpha ? "a-full.png" : "o-full.png");
    std::vector<std::string> args{"samples", zoom.string(), "3", "11", "--full", full.string()};
    if (alpha) args.push_back("--alpha");
    ASSERT_EQ(RunTool(args), 0);
    Picture whole = Decode(full);
    Picture tiles = Assemble(zoom, 3);
    ASSERT_EQ(whole.width, 768);
    ASSERT_EQ(whole.height, 768);
    EXPECT_EQ(whole.colourType,
              alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR);
    EXPECT_EQ(tiles.colourType, whole.colourType);
    EXPECT_TRUE(tiles.rgba == whole.rgba) << "the tiles differ from the whole map";

    // A map, not a blank: many colours, none covering most of it; in the
    // translucent variant some water is half transparent and the rest opaque.
    std::map<std::uint32_t, int> colours;
    std::map<int, int> alphas;
    for (int y = 0; y < whole.height; ++y)
      for (int x = 0; x < whole.width; ++x) {
        ++colours[whole.At(x, y) | 0xFF];
        ++alphas[whole.At(x, y) & 0xFF];
      }
    EXPECT_GE(colours.size(), 20u);
    int most = 0;
    for (const auto& [c, count] : colours) most = std::max(most, count);
    EXPECT_LT(most, whole.width * whole.height / 2);
    if (alpha) {
      EXPECT_EQ(alphas.size(), 2u);
      EXPECT_GT(alphas[128], 1000);
      EXPECT_GT(alphas[255], whole.width * whole.height / 2);
    } else {
      EXPECT_EQ(alphas.size(), 1u);
    }
  }
}

TEST_F(AssetsTest, SameSeedSameTilesOtherSeedOtherMap) {
  auto tileBytes = [this](const std::string& where, const std::string& seed) {
    fs::path zoom = dir_ / where / "2x";
    EXPECT_EQ(RunTool({"samples", zoom.string(), "2", seed}), 0);
    std::vector<std::vector<std::uint8_t>> files;
    for (const std::string band : {"000", "001"})
      for (const std::string& name : Names(zoom / band))
        files.push_back(ReadBytes(zoom / band / name));
    return files;
  };
  auto first = tileBytes("a", "42");
  EXPECT_EQ(first.size(), 4u);
  EXPECT_EQ(tileBytes("b", "42"), first);
  EXPECT_NE(tileBytes("c", "43"), first);
}

TEST_F(AssetsTest, RewritesAnEarlierSetButNothingElse) {
  fs::path zoom = dir_ / "2x";
  ASSERT_EQ(RunTool({"samples", zoom.string(), "3"}), 0);
  ASSERT_EQ(RunTool({"samples", zoom.string(), "2"}), 0);
  EXPECT_EQ(Names(zoom), (std::vector<std::string>{"000", "001"}))
      << "bands of the larger set removed";

  std::ofstream(zoom / "001" / "notes.txt") << "keep me";
  EXPECT_NE(RunTool({"samples", zoom.string(), "2"}), 0);
  EXPECT_TRUE(fs::exists(zoom / "001" / "notes.txt"));
  EXPECT_TRUE(fs::exists(zoom / "000" / "2x000000.png"));
}

TEST_F(AssetsTest, RejectsBadArguments) {
  fs::path zoom = dir_ / "2x";
  EXPECT_EQ(RunTool({}), 2);
  EXPECT_EQ(RunTool({"draw"}), 2);
  EXPECT_EQ(RunTool({"nodata"}), 2);
  EXPECT_EQ(RunTool({"samples", zoom.string(), "0"}), 2);
  EXPECT_EQ(RunTool({"samples", zoom.string(), "1000"}), 2);
  EXPECT_EQ(RunTool({"samples", zoom.string(), "4x"}), 2);
  EXPECT_EQ(RunTool({"samples", zoom.string(), "2", "1", "--sizes"}), 2);
  EXPECT_EQ(RunTool({"samples", zoom.string(), "2", "--full"}), 2);
  EXPECT_EQ(RunTool({"samples", zoom.string(), "2", "--full", (zoom / "full.png").string()}), 2);
  EXPECT_EQ(RunTool({"samples", "/"}), 2);
  EXPECT_FALSE(fs::exists(zoom)) << "nothing written after a usage error";
  EXPECT_EQ(RunTool({"nodata", (dir_ / "missing" / "Nodata.dll").string()}), 1);
}

}  // namespace
