// Tile directories whose tiles are anything but pictures: corrupt bytes,
// empty files, truncated files, directories, sockets, dangling symbolic
// links, link loops, unreadable files, named pipes. The merge must complete
// with the success message; each such square shows the placeholder (no
// readable file there) or stays black (a file that does not load).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/reliability/merge_support.h"
#include "tests/support/run_program.h"

namespace fs = std::filesystem;
using reliability::Square;

namespace {

fs::path TilePath(const fs::path& dir, int row, int col) {
  char name[32];
  std::snprintf(name, sizeof name, "%03d/2x%03d%03d.png", row, row, col);
  return dir / name;
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// A socket file at `p` (kept until the test ends: the descriptor is leaked on purpose).
void MakeSocket(const fs::path& p) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(p.string().size(), sizeof addr.sun_path);
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", p.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << p;
}

TEST(OddTiles, AMergeOfNothingButBrokenTilesCompletes) {
  e2e::Sandbox s("odd");
  const fs::path dir = s.root() / "2x";
  const auto tiles = e2e::MakeTileSet(dir, 3, 3);
  const std::string png = ReadBytes(TilePath(dir, 0, 0));

  struct Odd {
    const char* what;
    Square shows;
  };
  const Odd odd[9] = {
      {"random bytes", Square::Black},
      {"an empty file", Square::Black},
      {"the first half of a PNG", Square::Black},
      {"a PNG signature and nothing else", Square::Black},
      {"a directory", Square::Placeholder},
      {"a dangling symbolic link", Square::Placeholder},
      {"a symbolic link loop", Square::Placeholder},
      {"a socket", Square::Black},
      {"a file without read permission", Square::Black},
  };
  std::string noise(3000, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = char(i * 131 + (i >> 3));
  for (int i = 0; i < 9; ++i) fs::remove(TilePath(dir, i / 3, i % 3));
  WriteBytes(TilePath(dir, 0, 0), noise);
  WriteBytes(TilePath(dir, 0, 1), "");
  WriteBytes(TilePath(dir, 0, 2), png.substr(0, png.size() / 2));
  WriteBytes(TilePath(dir, 1, 0), png.substr(0, 8));
  fs::create_directories(TilePath(dir, 1, 1));
  fs::create_symlink(s.root() / "nowhere.png", TilePath(dir, 1, 2));
  fs::create_symlink(TilePath(dir, 2, 0), TilePath(dir, 2, 0));
  MakeSocket(TilePath(dir, 2, 1));
  // As root the permission bits do not stop reading; the content is corrupt
  // as well, so the square stays black either way.
  WriteBytes(TilePath(dir, 2, 2), noise.substr(7));
  chmod(TilePath(dir, 2, 2).c_str(), 0);

  const e2e::Run r = s.Play(reliability::Merge(dir, s.root() / "out"));
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_TRUE(r.Has(reliability::kDone)) << r.Joined();
  e2e::Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  ASSERT_EQ(bmp.width, 768);
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(reliability::Classify(bmp, i / 3, i % 3), odd[i].shows) << odd[i].what;
}

// A named pipe named like a tile: opening it for reading waits for a writer
// that never comes. The load must refuse it instead of waiting. Should the
// program wait anyway, the test opens the pipe's other end after a while so
// that the program ends, and fails.
TEST(OddTiles, ANamedPipeNamedLikeATileDoesNotHangTheMerge) {
  e2e::Sandbox s("fifo");
  const fs::path dir = s.root() / "2x";
  const auto tiles = e2e::MakeTileSet(dir, 2, 2);
  const fs::path pipe = TilePath(dir, 0, 1);
  fs::remove(pipe);
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);

  s.Start(reliability::Merge(dir, s.root() / "out"));
  auto finished = [&] {
    for (const auto& l : s.TranscriptSoFar())
      if (l.rfind("message ", 0) == 0) return true;
    return false;
  };
  const auto start = std::chrono::steady_clock::now();
  while (!finished() && std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (!finished()) {
    ADD_FAILURE() << "the merge waits on the named pipe";
    // Give each waiting reader a writer that closes at once, so that the
    // program reads nothing and ends.
    while (!finished() && std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
      const int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  const e2e::Run r = s.Finish();
  ASSERT_EQ(r.status, 0) << r.Joined();
  EXPECT_TRUE(r.Has(reliability::kDone)) << r.Joined();
  e2e::Bmp bmp;
  ASSERT_TRUE(e2e::ReadBmp(s.root() / "out.bmp", &bmp));
  EXPECT_EQ(reliability::Classify(bmp, 0, 1), Square::Black);
  EXPECT_EQ(reliability::Classify(bmp, 1, 1, &tiles[1][1]), Square::Tile);
}

}  // namespace
