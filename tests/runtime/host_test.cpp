// The runtime host with the real program image in one process: loading and
// binding, the services the routines call, and a whole run to its end.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/program_image.h"
#include "host/ui.h"
#include "image/format/image_format.h"
#include "image/format/program_image.h"
#include "image/link.h"
#include "image/program_layout.h"
#include "platform/graphics/gdi.h"
#include "runtime/host.h"
#include "runtime/ui/scripted_backend.h"
#include "tests/runtime/scratch_dir.h"

namespace fs = std::filesystem;
using host::Word;
using velmo::Host;

namespace velmo {
// The host's state, read by these tests as a friend of Host.
class HostInspector {
 public:
  explicit HostInspector(Host& h) : h_(h) {}
  BlockHeap& heap() { return h_.heap_; }
  const image::ProgramImage& image() const { return h_.parsed_; }
  std::uint8_t* codeBase() const { return h_.code_; }
  const std::vector<Word>& vars() const { return h_.vars_; }
  const std::vector<BoundNative>& natives() const { return h_.natives_; }
  const host::ServiceTable& serviceTable() const { return h_.table_; }

 private:
  Host& h_;
};
}  // namespace velmo
using velmo::BlockHeap;
using velmo::HostInspector;

namespace {

// Loads the program's image into the host once per process.
Host& LoadedHost() {
  static bool loaded = [] {
    std::string error;
    bool ok = Host::Get().Load(app::ProgramImage(), &error);
    if (!ok) ADD_FAILURE() << error;
    return ok;
  }();
  EXPECT_TRUE(loaded);
  return Host::Get();
}

std::unique_ptr<velmo::ScriptedBackend> Backend(const std::string& scenario, std::ostream& out) {
  velmo::Scenario s;
  std::string error;
  EXPECT_TRUE(velmo::ParseScenario(scenario, "test", &s, &error)) << error;
  return std::make_unique<velmo::ScriptedBackend>(std::move(s), out,
                                                  [](const std::string& m) { ADD_FAILURE() << m; });
}

Word CellAt(std::uint32_t codeOffset) {
  Word w;
  std::memcpy(&w, HostInspector(LoadedHost()).codeBase() + codeOffset, sizeof w);
  return w;
}

std::string Windows(const std::string& posix) {
  std::string w = "Z:" + posix;
  for (char& c : w)
    if (c == '/') c = '\\';
  return w;
}

std::string Take(host::Text t) {
  std::string s = t ? t : "";
  image::Svc().Free(t);
  return s;
}

TEST(Binding, FixupsGiveTheCellsTheirAddresses) {
  HostInspector h(LoadedHost());
  using image::CellKind;
  // Globals: one word each, in var-segment order.
  EXPECT_EQ(CellAt(image::CellOffset(CellKind::kGlobal, 0x00)), reinterpret_cast<Word>(&h.vars()[0]));
  EXPECT_EQ(CellAt(image::CellOffset(CellKind::kGlobal, 0x40)), reinterpret_cast<Word>(&h.vars()[16]));
  EXPECT_EQ(h.vars().size(), 17u);
  // Constants: the pool's bytes where the image holds them.
  const auto& cst = h.image().Const();
  const char* url = reinterpret_cast<const char*>(CellAt(image::CellOffset(CellKind::kConst, 0x223)));
  EXPECT_EQ(url, reinterpret_cast<const char*>(app::ProgramImage() + cst.dataOffset + 0x223));
  EXPECT_STREQ(url, "http://mosalin.cn");
  // The end routine's address is its entry cell.
  EXPECT_EQ(CellAt(image::CellOffset(CellKind::kRoutineAddr, 0x2627)),
            reinterpret_cast<Word>(h.codeBase() + 0x2627));
  // Service stubs point at the host's slots.
  for (host::Slot s : host::kCalledSlots)
    EXPECT_EQ(CellAt(image::ServiceCellOffset(s)),
              reinterpret_cast<Word>(&h.serviceTable().slot[host::SlotIndex(s)]));
}

TEST(Binding, EveryNativeCallIsBoundToAPlatformExport) {
  HostInspector h(LoadedHost());
  ASSERT_EQ(h.natives().size(), 20u);
  for (const auto& n : h.natives()) EXPECT_NE(n.target, nullptr) << n.library << "!" << n.entry;
}

TEST(Binding, ADamagedImageIsRejectedWithAReason) {
  std::vector<std::uint8_t> data = image::BuildDataSection();
  data[0] = 'X';
  std::string error;
  EXPECT_FALSE(Host::Get().Load(data.data(), &error));
  EXPECT_NE(error.find("damaged program image"), std::string::npos) << error;
  // The real image is loaded again for the other tests.
  ASSERT_TRUE(Host::Get().Load(app::ProgramImage(), &error)) << error;
}

TEST(NativeCalls, AWrongArgumentCountIsErrorSixAndTheResultStillCounts) {
  Host& h = LoadedHost();
  const char* text = "abc";
  std::ostringstream transcript;
  h.SetBackend(Backend("", transcript));
  // MultiByteToWideChar declares six arguments; a size query passed with five.
  Word r = h.CallNative(13, 5, std::array<Word, 5>{0, 0, reinterpret_cast<Word>(text), Word(-1), 0}.data());
  EXPECT_EQ(transcript.str(), "runtime-error 6\n");
  EXPECT_EQ(r, 4u);
  r = h.CallNative(13, 6, std::array<Word, 6>{0, 0, reinterpret_cast<Word>(text), Word(-1), 0, 0}.data());
  EXPECT_EQ(transcript.str(), "runtime-error 6\n");
  EXPECT_EQ(r, 4u);
  h.SetBackend(nullptr);
}

// The address space of the process in bytes (VmSize).
std::uint64_t AddressSpaceUsed() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
  return 0;
}

TEST(NativeCalls, ABitmapWhoseSaveCannotHaveItsBlocksIsRefusedAtOnce) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer's own reservations make an address-space limit meaningless";
#endif
  Host& h = LoadedHost();
  using image::NativeId;
  const auto call = [&](NativeId id, std::vector<Word> args) {
    return h.CallNative(image::Index(id), static_cast<std::uint32_t>(args.size()), args.data());
  };
  const Word dc = call(NativeId::kGetDC, {0});
  ASSERT_NE(dc, 0u);
  // A side of 8192 pixels: the bitmap, the rows' block and the file's block
  // are 256 MiB each. An address-space limit that holds the bitmap and one
  // block more, with room for the rest of the process, but not both blocks.
  constexpr std::uint64_t kMiB = 1 << 20, kBlock = 256 * kMiB;
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
  rlimit tight = old;
  tight.rlim_cur = AddressSpaceUsed() + kBlock + 64 * kMiB + kBlock;
  ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
  const Word refused = call(NativeId::kCreateCompatibleBitmap, {dc, 8192, 8192});
  ASSERT_EQ(setrlimit(RLIMIT_AS, &old), 0);
  EXPECT_EQ(refused, 0u) << "a bitmap that could be drawn but never saved";

  const Word made = call(NativeId::kCreateCompatibleBitmap, {dc, 8192, 8192});
  EXPECT_NE(made, 0u) << "without the limit both blocks fit";
  DeleteObject(static_cast<HGDIOBJ>(made));
  call(NativeId::kReleaseDC, {0, dc});
}

TEST(Memory, ABlockWithoutRoomNamesWhatLimitedIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // No memory to spare and no spill directory at all: the message says both,
  // rather than stopping after "memory".
  EXPECT_EXIT(
      {
        setenv("MOSALIN_MEMORY_LIMIT", "1M", 1);
        for (const char* name : {"MOSALIN_SPILL_DIR", "XDG_CACHE_HOME", "HOME"}) unsetenv(name);
        LoadedHost().Allocate(64 << 20);
      },
      ::testing::ExitedWithCode(velmo::kExitOutOfMemory),
      "velmo: out of memory: a block of 64.0 MiB fits neither in memory nor in a spill directory \\(none is set");
}

TEST(Memory, FreeLeavesConstantsAndForeignBlocksAlone) {
  Host& h = LoadedHost();
  BlockHeap& heap = HostInspector(h).heap();
  std::size_t live = heap.LiveBlocks();
  h.Free(const_cast<char*>(image::pool.fixedMergeDir.Address()));
  int local = 0;
  h.Free(&local);
  h.Free(nullptr);
  EXPECT_EQ(heap.LiveBlocks(), live);
  void* p = h.Allocate(0);
  ASSERT_NE(p, nullptr);
  h.Free(p);
  EXPECT_EQ(heap.LiveBlocks(), live);
}

TEST(SupportCommands, TextCommandsReturnFreshBlocks) {
  LoadedHost();
  host::Services svc = image::Svc();
  EXPECT_EQ(svc.TextLength("Z:\\maps\\2x"), 10);
  EXPECT_EQ(svc.FindTextBack("Z:\\maps\\2x", "\\"), 8);
  EXPECT_EQ(svc.FindText("tiles", "x"), -1);
  EXPECT_EQ(Take(svc.RightText("Z:\\maps\\2x", 2)), "2x");
  EXPECT_EQ(Take(svc.ToText(1280)), "1280");
  EXPECT_EQ(Take(svc.ToText(7.0)), "7");
  host::Buffer b = svc.ZeroBytes(22);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->one, 1u);
  EXPECT_EQ(b->length, 22u);
  for (int i = 0; i < 22; ++i) EXPECT_EQ(host::BufferData(b)[i], 0) << i;
  svc.Free(b);
  host::Buffer empty = svc.ZeroBytes(0);
  EXPECT_EQ(host::BufferLength(empty), 0u);
  svc.Free(empty);
  std::string dir = Take(svc.ProgramDir());
  EXPECT_EQ(dir.rfind("Z:\\", 0), 0u) << dir;
  EXPECT_NE(dir.back(), '\\');
}

TEST(SupportCommands, WriteBytesReplacesOnlyWhenComplete) {
  LoadedHost();
  host::Services svc = image::Svc();
  velmo::testing::ScratchDir scratch;
  const std::string& dir = scratch.path();
  std::string target = dir + "/out.bmp";
  { std::ofstream(target) << "old"; }
  host::Buffer b = svc.ZeroBytes(5);
  std::memcpy(host::BufferData(b), "hello", 5);
  EXPECT_EQ(svc.WriteBytes(Windows(target).c_str(), b), 1u);
  std::ifstream in(target);
  std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(content, "hello");
  // A missing directory and a target that is a directory fail with 0.
  EXPECT_EQ(svc.WriteBytes(Windows(dir + "/missing/out.bmp").c_str(), b), 0u);
  fs::create_directory(dir + "/sub.bmp");
  EXPECT_EQ(svc.WriteBytes(Windows(dir + "/sub.bmp").c_str(), b), 0u);
  // A drive the drive table does not name does not exist.
  EXPECT_EQ(svc.WriteBytes("q:\\out.bmp", b), 0u);
  svc.Free(b);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2);  // out.bmp and sub.bmp, no debris
  EXPECT_EQ(svc.FileExists(Windows(target).c_str()), 1u);
  EXPECT_EQ(svc.FileExists(Windows(dir + "/sub.bmp").c_str()), 0u);
  EXPECT_EQ(svc.FileExists(Windows(dir + "/nothing.png").c_str()), 0u);
}

TEST(DirectorySearch, WindowsPatternsOrderAndTheHandleRule) {
  LoadedHost();
  host::Services svc = image::Svc();
  velmo::testing::ScratchDir scratch;
  const std::string& dir = scratch.path();
  for (const char* d : {"b", "A", "_x", "c"}) fs::create_directory(dir + "/" + d);
  { std::ofstream(dir + "/file.png") << "x"; }
  Word handle = 0;
  std::vector<std::string> names;
  std::string pattern = Windows(dir) + "\\*.*";
  for (std::string n = Take(svc.FindFirst(pattern.c_str(), 0x10, &handle)); !n.empty();
       n = Take(svc.FindNext(0x10, 0, &handle)))
    names.push_back(n);
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "A", "b", "c", "_x"}));
  // A new pattern ends the search the handle still holds.
  Word first = handle;
  EXPECT_EQ(Take(svc.FindFirst(pattern.c_str(), 0x10, &handle)), ".");
  EXPECT_NE(handle, first);
  EXPECT_EQ(Take(svc.FindNext(0x10, 0, &first)), "");  // the old search is gone
  svc.EndFind(handle);
  svc.EndFind(0);
  // Files only when the attribute is omitted and the pattern asks for them.
  handle = 0;
  std::string png = Windows(dir) + "\\*.PNG";
  EXPECT_EQ(Take(svc.FindFirstAnyAttribute(png.c_str(), &handle)), "file.png");
  EXPECT_EQ(Take(svc.FindNext(0, 1, &handle)), "");
  svc.EndFind(handle);
}

TEST(Properties, WritesCopyTextsAndReadsHandOutNewBlocks) {
  Host& h = LoadedHost();
  std::ostringstream transcript;
  h.SetBackend(Backend("", transcript));
  h.LoadStartWindow(0x52010001);
  char text[] = "2x";
  image::WriteText<image::kPrefixEdit>(host::kPropText, text);
  text[0] = '9';
  host::Text back = image::ReadText<image::kPrefixEdit>(host::kPropText);
  EXPECT_STREQ(back, "2x");
  host::Text again = image::ReadText<image::kPrefixEdit>(host::kPropText);
  EXPECT_NE(back, again);
  image::Svc().Free(back);
  image::Svc().Free(again);
  // The dialog's file name is empty until a file was chosen.
  EXPECT_EQ(Take(image::ReadText<image::kSaveDialog>(host::kPropDialogFileName)), "");
  image::WriteInt<image::kProgressBar>(host::kPropProgress, 40);
  EXPECT_NE(transcript.str().find("set 进度条_处理进度 13 40"), std::string::npos) << transcript.str();
}

TEST(Run, ClosingRightAfterStartFreesOnlyTheStartupRecordAndExitsZero) {
  EXPECT_EXIT(
      {
        setenv("VELMO_TRACE", "1", 1);
        std::ostringstream transcript;
        Host& h = LoadedHost();
        h.SetBackend(Backend("close\n", transcript));
        std::size_t before = HostInspector(h).heap().LiveBlocks();
        h.CallRoutine(HostInspector(h).image().startRoutine, nullptr, 0);
        std::fprintf(stderr, "start routine returned (%zu)\n", before);
        std::exit(7);
      },
      ::testing::ExitedWithCode(0), "0 blocks left after the end routine");
}

}  // namespace
