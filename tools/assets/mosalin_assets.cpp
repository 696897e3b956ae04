// mosalin-assets: draws the pictures that go with Mosalin, at build time.
//
//   mosalin-assets nodata FILE
//       the placeholder for a missing tile (256 x 256, opaque RGB PNG)
//   mosalin-assets samples DIR [N] [SEED] [--alpha] [--full FILE] [--jobs J]
//       a sample tile set: a made-up town map of N x N tiles (default 4) drawn
//       from SEED (default 1) and cut into the zoom directory DIR, whose last
//       path component P names the tiles: band r is the directory DIR/rrr and
//       its tile j the file DIR/rrr/Prrrjjj.png (three-digit numbers).
//       --alpha  makes water half transparent (RGBA tiles)
//       --full   also writes the whole map as one PNG to FILE (not inside DIR)
//       --jobs   draws J tiles at a time (default: one per processor)
//
// DIR is created when missing. An existing DIR is emptied first, but only when
// it holds nothing but an earlier tile set (numbered directories of PNG
// files); anything else is left alone and the tool stops with an error, since
// every sub-directory of a zoom directory counts as a band.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "assets/map_scene.h"
#include "assets/nodata.h"
#include "assets/png_writer.h"

namespace fs = std::filesystem;
using namespace mosalin_assets;

namespace {

constexpr const char* kUsage =
    "usage: mosalin-assets nodata FILE\n"
    "       mosalin-assets samples DIR [N] [SEED] [--alpha] [--full FILE] [--jobs J]\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::uint64_t ParseNumber(const std::string& s, const char* what, std::uint64_t lo,
                          std::uint64_t hi) {
  std::uint64_t v = 0;
  bool ok = !s.empty() && s.size() <= 20;
  for (char c : s) {
    if (c < '0' || c > '9') {
      ok = false;
      break;
    }
    std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (v > (UINT64_MAX - digit) / 10) {
      ok = false;
      break;
    }
    v = v * 10 + digit;
  }
  if (!ok || v < lo || v > hi)
    throw UsageError(std::string(what) + " must be a whole number from " + std::to_string(lo) +
                     " to " + std::to_string(hi) + ", not \"" + s + "\"");
  return v;
}

// Band and tile numbers: three digits with leading zeros.
std::string Number3(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%03d", v);
  return buf;
}

// A directory that an earlier run of this tool wrote: a numbered band that
// holds nothing but PNG files.
bool IsEarlierBand(const fs::directory_entry& entry) {
  std::string name = entry.path().filename().string();
  if (entry.is_symlink() || !entry.is_directory() || name.size() < 3 ||
      !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  for (const auto& file : fs::directory_iterator(entry.path()))
    if (file.is_symlink() || !file.is_regular_file() || file.path().extension() != ".png")
      return false;
  return true;
}

// Makes `dir` an empty directory, refusing to delete anything that is not an
// earlier tile set.
void PrepareZoomDir(const fs::path& dir) {
  if (!fs::exists(dir)) {
    fs::create_directories(dir);
    return;
  }
  if (!fs::is_directory(dir))
    throw std::runtime_error(dir.string() + " exists and is not a directory");
  std::vector<fs::path> bands;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (!IsEarlierBand(entry))
      throw std::runtime_error("will not write into " + dir.string() + ": " +
                               entry.path().filename().string() +
                               " there is not part of a tile set");
    bands.push_back(entry.path());
  }
  for (const fs::path& b : bands) fs::remove_all(b);
}

bool Inside(const fs::path& file, const fs::path& dir) {
  fs::path f = fs::weakly_canonical(file), d = fs::weakly_canonical(dir);
  auto [dEnd, fIt] = std::mismatch(d.begin(), d.end(), f.begin(), f.end());
  return dEnd == d.end() && fIt != f.end();
}

void WriteRaster(const std::string& path, const Raster& r, bool withAlpha) {
  if (withAlpha)
    WritePng(path, r.width(), r.height(), 4, r.data());
  else
    WritePng(path, r.width(), r.height(), 3, r.Rgb8().data());
}

void WriteWholeMap(const MapScene& scene, const std::string& path, bool withAlpha) {
  int channels = withAlpha ? 4 : 3;
  PngRowWriter out(path, scene.edge(), scene.edge(), channels);
  Raster strip(scene.edge(), kTileEdge);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(scene.edge()) * channels);
  for (int top = 0; top < scene.edge(); top += kTileEdge) {
    scene.Render(strip, 0, top);
    for (int y = 0; y < kTileEdge; ++y) {
      const std::uint8_t* src = strip.data() + static_cast<std::size_t>(y) * scene.edge() * 4;
      for (int x = 0; x < scene.edge(); ++x)
        for (int c = 0; c < channels; ++c) row[x * channels + c] = src[x * 4 + c];
      out.WriteRow(row.data());
    }
  }
  out.Finish();
}

int Samples(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  std::optional<std::string> fullPath;
  bool alpha = false;
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--alpha") {
      alpha = true;
    } else if (args[i] == "--full" || args[i] == "--jobs") {
      if (i + 1 == args.size()) throw UsageError(args[i] + " needs a value");
      if (args[i] == "--full")
        fullPath = args[++i];
      else
        jobs = static_cast<unsigned>(ParseNumber(args[++i], "--jobs", 1, 64));
    } else if (args[i].starts_with("--")) {
      throw UsageError("unknown option " + args[i]);
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.empty() || positional.size() > 3) throw UsageError("samples takes DIR [N] [SEED]");

  std::string dirText = positional[0];
  while (dirText.size() > 1 && dirText.back() == '/') dirText.pop_back();
  fs::path dir(dirText);
  std::string prefix = dir.filename().string();
  if (prefix.empty() || prefix == "." || prefix == ".." || prefix == "/")
    throw UsageError("the zoom directory needs a name of its own (such as 2x): " + positional[0]);

  SceneOptions options;
  if (positional.size() > 1)
    options.tiles = static_cast<int>(ParseNumber(positional[1], "N", 1, kMaxTiles));
  if (positional.size() > 2) options.seed = ParseNumber(positional[2], "SEED", 0, UINT64_MAX);
  options.translucent = alpha;
  if (fullPath && Inside(*fullPath, dir))
    throw UsageError("--full must name a file outside the zoom directory");

  MapScene scene(options);
  PrepareZoomDir(dir);
  const int n = options.tiles;
  for (int r = 0; r < n; ++r) fs::create_directory(dir / Number3(r));

  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::mutex errorLock;
  std::string error;
  auto worker = [&] {
    Raster tile(kTileEdge, kTileEdge);
    for (int i = next++; i < n * n && !failed; i = next++) {
      int r = i / n, j = i % n;
      std::string band = Number3(r);
      try {
        scene.Render(tile, j * kTileEdge, r * kTileEdge);
        WriteRaster((dir / band / (prefix + band + Number3(j) + ".png")).string(), tile, alpha);
      } catch (const std::exception& e) {
        std::lock_guard<std::mutex> lock(errorLock);
        if (!failed.exchange(true)) error = e.what();
      }
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < std::min<unsigned>(jobs, static_cast<unsigned>(n * n)); ++t)
    threads.emplace_back(worker);
  worker();
  for (std::thread& t : threads) t.join();
  if (failed) throw std::runtime_error(error);

  if (fullPath) WriteWholeMap(scene, *fullPath, alpha);
  return 0;
}

int NoData(const std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("nodata takes FILE");
  WriteRaster(args[0], DrawNoData(), false);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
  std::string command = argc > 1 ? argv[1] : "";
  try {
    if (command == "nodata") return NoData(args);
    if (command == "samples") return Samples(args);
    if (command == "--help" || command == "-h") {
      std::cout << kUsage;
      return 0;
    }
    throw UsageError(command.empty() ? "no command given" : "unknown command " + command);
  } catch (const UsageError& e) {
    std::cerr << "mosalin-assets: " << e.what() << "\n" << kUsage;
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "mosalin-assets: " << e.what() << "\n";
    return 1;
  }
}
