// The typed service calls build the argument records and words that the host
// reads: tags, omitted arguments, pointer halves, doubles.
#include <gtest/gtest.h>

#include <cstring>

#include "host/ui.h"
#include "image/link.h"
#include "tests/support/fake_host.h"

using testing_host::FakeHost;

namespace {

std::uint64_t Join(const host::ArgRecord& a) { return host::Value64(a); }

TEST(SupportCommands, TextSearchPassesTextTextOmittedFalse) {
  FakeHost h;
  h.Bind();
  const char* hay = "Z:\\maps\\2x";
  h.commandResult = static_cast<std::uint32_t>(-1);
  EXPECT_EQ(image::Svc().FindTextBack(hay, "\\"), -1);
  EXPECT_EQ(h.calls.back(), "CallCoreCommand 0x14c argc=4");
  ASSERT_EQ(h.lastArgs.size(), 4u);
  EXPECT_EQ(h.lastArgs[0].tag, 0x80000004u);
  EXPECT_EQ(Join(h.lastArgs[0]), reinterpret_cast<std::uintptr_t>(hay));
  EXPECT_EQ(h.lastArgs[1].tag, 0x80000004u);
  EXPECT_STREQ(host::AsText(h.lastArgs[1]), "\\");
  EXPECT_EQ(h.lastArgs[2].tag, 0u);
  EXPECT_EQ(Join(h.lastArgs[2]), 0u);
  EXPECT_EQ(h.lastArgs[3].tag, 0x80000002u);
  EXPECT_EQ(h.lastArgs[3].low, 0u);
}

TEST(SupportCommands, NullTextIsPassedAsTheEmptyText) {
  FakeHost h;
  h.Bind();
  image::Svc().TextLength(nullptr);
  ASSERT_EQ(h.lastArgs.size(), 1u);
  const char* t = host::AsText(h.lastArgs[0]);
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t, "");
}

TEST(SupportCommands, NumbersAndBuffersCarryTheirTags) {
  FakeHost h;
  h.Bind();
  image::Svc().ToText(2.0 - 1.0);
  ASSERT_EQ(h.lastArgs.size(), 1u);
  EXPECT_EQ(h.lastArgs[0].tag, 0x80000601u);
  EXPECT_EQ(host::AsDouble(h.lastArgs[0]), 1.0);

  image::Svc().ToText(std::int32_t{-512});
  EXPECT_EQ(h.lastArgs[0].tag, 0x80000301u);
  EXPECT_EQ(static_cast<std::int32_t>(h.lastArgs[0].low), -512);

  const host::BufferHeader* empty = image::pool.emptyBuffer;
  image::Svc().WriteBytes("out.bmp", empty);
  EXPECT_EQ(h.calls.back(), "CallCoreCommand 0x26c argc=2");
  EXPECT_EQ(h.lastArgs[1].tag, 0x80000005u);
  EXPECT_EQ(host::AsBuffer(h.lastArgs[1]), empty);

  image::Svc().ShowMessage("m", 0x40);
  ASSERT_EQ(h.lastArgs.size(), 3u);
  EXPECT_EQ(h.lastArgs[1].low, 0x40u);
  EXPECT_EQ(h.lastArgs[2].tag, 0u);
}

TEST(SupportCommands, DialogReferenceCarriesWindowControlAndTag) {
  FakeHost h;
  h.Bind();
  image::Svc().OpenDialog(image::Id<image::kMainWindow>(), image::Id<image::kSaveDialog>(),
                        image::DialogRefTag());
  ASSERT_EQ(h.lastArgs.size(), 1u);
  EXPECT_EQ(h.lastArgs[0].low, 0x52010001u);
  EXPECT_EQ(h.lastArgs[0].high, 0x1601029Eu);
  EXPECT_EQ(h.lastArgs[0].tag, 0x0001001Fu);
}

TEST(SupportCommands, PaneaCommandsGoToTheBoundLibrary) {
  FakeHost h;
  h.Bind();
  image::Svc().BrowseFolder(image::PaneaLibrary(), "prompt");
  EXPECT_EQ(h.calls.back(), "CallLibraryCommand 1 0x8 argc=2");
  EXPECT_EQ(h.lastArgs[1].tag, 0u);
  image::Svc().OpenTarget(image::PaneaLibrary(), "http://x");
  EXPECT_EQ(h.calls.back(), "CallLibraryCommand 1 0x18 argc=4");
  EXPECT_EQ(h.lastArgs[0].tag, 0u);
  EXPECT_STREQ(host::AsText(h.lastArgs[1]), "http://x");
  EXPECT_EQ(h.lastArgs[2].tag, 0u);
  EXPECT_EQ(h.lastArgs[3].tag, 0u);
}

TEST(Properties, WritesPassIndexMinusOneAndTheValueWords) {
  FakeHost h;
  h.Bind();
  image::WriteInt<image::kProgressBar>(host::kPropProgress, 120);
  EXPECT_EQ(h.calls.back(), "WriteProperty 0x52010001 0x160102ac 13 -1 0x78 0x0");
  image::WriteInt<image::kStartButton>(host::kPropDisabled, 1);
  EXPECT_EQ(h.calls.back(), "WriteProperty 0x52010001 0x160102ab 6 -1 0x1 0x0");
}

TEST(NativeCalls, PassTheBoundIndexAndTheArgumentCount) {
  FakeHost h;
  h.Renumber(image::CellKind::kNativeIndex, 3, 33);
  h.Bind();
  image::native.CreateCompatibleBitmap(1, 256, 256);
  EXPECT_EQ(h.calls.back(), "CallNative 33 argc=3");
}

}  // namespace
