// The start routine, the end routine and the ownership rule, run against a
// stand-in host that applies the image's fixups.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>

#include "app/start.h"
#include "image/link.h"
#include "tests/support/fake_host.h"

using testing_host::FakeHost;
using testing_host::ProgramEnded;

namespace {

using enum image::NativeId;

host::Text Owned(FakeHost& h, const char* s) {
  auto* p = static_cast<char*>(image::Svc().Allocate(static_cast<std::uint32_t>(std::strlen(s) + 1)));
  std::strcpy(p, s);
  (void)h;
  return p;
}

TEST(StartProgram, RunsItsStepsInOrderAndEndsThroughTheHost) {
  FakeHost h;
  h.Bind();
  try {
    app::StartProgram();
    FAIL() << "StartProgram returned";
  } catch (const ProgramEnded& e) {
    EXPECT_EQ(e.code, 0u);
  }
  std::vector<std::string> want = {
      "Allocate 16",         "AuxService 3",  "LoadStartWindow 0x52010001",
      "RunMessageLoop 0",    "EndProgram 0",  "Free",
  };
  EXPECT_EQ(h.calls, want);
}

TEST(StartProgram, RegistersTheEndRoutineByItsEntryCell) {
  FakeHost h;
  h.Bind();
  EXPECT_THROW(app::StartProgram(), ProgramEnded);
  ASSERT_NE(h.endRoutine, 0u);
  EXPECT_EQ(h.endRoutine, reinterpret_cast<host::Word>(h.code() + 0x2627));
  host::Word fn;
  std::memcpy(&fn, h.code() + 0x2627, sizeof fn);
  EXPECT_EQ(fn, reinterpret_cast<host::Word>(&app::FreeGlobals));
}

TEST(StartProgram, ClosingRightAfterStartFreesOnlyTheStartupRecord) {
  FakeHost h;
  h.Bind();
  EXPECT_THROW(app::StartProgram(), ProgramEnded);
  EXPECT_TRUE(h.live.empty());
  EXPECT_EQ(h.badFrees, 0);
  EXPECT_EQ(std::count(h.calls.begin(), h.calls.end(), "Free"), 1);
}

TEST(StartProgram, UsesTheIdentifierTheHostBound) {
  FakeHost h;
  h.Renumber(image::CellKind::kWindowId, 0x52010001, 0x52019999);
  h.Bind();
  EXPECT_THROW(app::StartProgram(), ProgramEnded);
  EXPECT_NE(std::find(h.calls.begin(), h.calls.end(), "LoadStartWindow 0x52019999"), h.calls.end());
}

TEST(StartProgram, PutsTheFloatingPointUnitIntoItsDefaultState) {
  FakeHost h;
  h.Bind();
  int roundingInLoop = -1;
  double quotient = 0;
  h.onMessageLoop = [&] {
    roundingInLoop = std::fegetround();
    volatile double zero = 0.0;
    quotient = 1.0 / zero;
  };
  std::fesetround(FE_UPWARD);
  EXPECT_THROW(app::StartProgram(), ProgramEnded);
  std::fesetround(FE_TONEAREST);
  EXPECT_EQ(roundingInLoop, FE_TONEAREST);
  EXPECT_TRUE(std::isinf(quotient));
}

TEST(Globals, InitGlobalsStoresAZeroedSixteenByteRecord) {
  FakeHost h;
  h.Bind();
  app::InitGlobals();
  auto* rec = reinterpret_cast<std::uint32_t*>(h.var(0x18));
  ASSERT_NE(rec, nullptr);
  EXPECT_TRUE(h.live.count(rec));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(rec[i], 0u) << "field " << i;
  // Nothing else was touched: the other globals still read zero.
  for (std::uint32_t off = 0; off < 0x44; off += 4) {
    if (off == 0x18) continue;
    EXPECT_EQ(h.var(off), 0u) << "global at " << off;
  }
}

TEST(Globals, FreeGlobalsFreesEveryOwnedBlockOnceAndNoHandle) {
  FakeHost h;
  h.Bind();
  app::InitGlobals();
  image::g.tileDir.Replace(Owned(h, "Z:\\maps\\2x"));
  image::g.tilePrefix.Replace(Owned(h, "2x"));
  image::g.entryName.Replace(Owned(h, ""));
  image::g.bmpFileBytes.Replace(static_cast<host::Buffer>(image::Svc().Allocate(8 + 4)));
  image::g.outputPath.Replace(Owned(h, "out.bmp"));
  image::g.screenDc = 0x1234;  // handles are not owned
  h.calls.clear();
  app::FreeGlobals();
  EXPECT_TRUE(h.live.empty());
  EXPECT_EQ(h.badFrees, 0);
  EXPECT_EQ(h.calls, std::vector<std::string>(6, "Free"));
  EXPECT_EQ(h.var(0x20), 0x1234u);
}

TEST(Globals, FreeGlobalsSkipsNullOwnersButAlwaysFreesTheRecord) {
  FakeHost h;
  h.Bind();
  app::InitGlobals();
  image::g.outputPath.Replace(Owned(h, ".bmp"));
  h.calls.clear();
  app::FreeGlobals();
  EXPECT_EQ(h.calls, std::vector<std::string>(2, "Free"));
  EXPECT_TRUE(h.live.empty());
}

TEST(Globals, ReassigningATextFreesTheOldOneExactlyOnce) {
  FakeHost h;
  h.Bind();
  host::Text first = Owned(h, "Z:\\a\\2x");
  image::g.tileDir.Replace(first);
  h.calls.clear();
  host::Text second = Owned(h, "Z:\\b\\1x");
  image::g.tileDir.Replace(second);
  EXPECT_EQ(std::count(h.calls.begin(), h.calls.end(), "Free"), 1);
  EXPECT_FALSE(h.live.count(first));
  EXPECT_TRUE(h.live.count(second));
  EXPECT_EQ(static_cast<host::Text>(image::g.tileDir), second);
  // Storing null (the empty text) frees the old one and leaves nothing owned.
  image::g.tileDir.Replace(nullptr);
  EXPECT_EQ(h.live.size(), 0u);
  EXPECT_EQ(h.badFrees, 0);
}

TEST(Globals, IntegerGlobalsKeepTheirSign) {
  FakeHost h;
  h.Bind();
  image::g.rowIndex = -1;
  image::g.mosaicEdge = -512;
  EXPECT_EQ(image::g.rowIndex, -1);
  EXPECT_EQ(image::g.mosaicEdge, -512);
  image::g.rowIndex = image::g.rowIndex + 1;
  EXPECT_EQ(image::g.rowIndex, 0);
}

TEST(Link, GlobalsAndConstantsResolveThroughTheirCells) {
  FakeHost h;
  h.Bind();
  // Each global's cell points at its own word of the var segment, in order.
  EXPECT_EQ(image::g.tileDir.Address(), &h.vars()[0]);
  EXPECT_EQ(image::g.outputPath.Address(), &h.vars()[16]);
  EXPECT_EQ(image::g.gdipStartupInput.Address(), &h.vars()[6]);
  EXPECT_EQ(image::pool.authorUrl.Address(),
            reinterpret_cast<const char*>(h.constBase()) + 0x223);
  EXPECT_EQ(image::NativeIndex<kDeleteDC>(), 19u);
  EXPECT_EQ(image::PaneaLibrary(), 1u);
  EXPECT_EQ(image::DialogRefTag(), 0x0001001Fu);
}

}  // namespace
