#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <cstring>

#include "platform/exports.h"
#include "platform/win32.h"

namespace {

using platform::ArgKind;
using platform::Export;
using platform::FindExport;

TEST(Exports, LibraryNamesIgnoreCaseAndEmptyNamesSearchTheSystemLibraries) {
  const Export* e = FindExport("", "MultiByteToWideChar");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(FindExport("KERNEL32.DLL", "MultiByteToWideChar"), e);
  EXPECT_EQ(FindExport("Kernel32", "MultiByteToWideChar"), e);
  EXPECT_EQ(FindExport("C:\\Windows\\System32\\kernel32.dll", "MultiByteToWideChar"), e);
  EXPECT_EQ(FindExport("kernel32.dll", "multibytetowidechar"), nullptr);  // entry names are exact
  EXPECT_EQ(FindExport("user32.dll", "MultiByteToWideChar"), nullptr);
  EXPECT_EQ(FindExport("", "NoSuchEntry"), nullptr);
  EXPECT_NE(FindExport("", "MessageBoxA"), nullptr);
  EXPECT_EQ(FindExport("USER32.dll", "MessageBoxA"), FindExport("", "MessageBoxA"));
}

TEST(Exports, DeclaredArgumentListsFollowTheSignatures) {
  const Export* convert = FindExport("", "MultiByteToWideChar");
  ASSERT_NE(convert, nullptr);
  ASSERT_EQ(convert->args.count, 6);
  const ArgKind expected[] = {ArgKind::kWord, ArgKind::kWord,    ArgKind::kPointer,
                              ArgKind::kInt,  ArgKind::kPointer, ArgKind::kInt};
  EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), convert->args.kinds.begin()));
  const Export* move = FindExport("", "RtlMoveMemory");
  ASSERT_NE(move, nullptr);
  EXPECT_EQ(move->args.count, 3);
  EXPECT_EQ(FindExport("", "MessageBoxA")->args.count, 4);
}

// A stand-in library with REAL arguments and narrow results, registered at run time.
float gSeenWidth = 0;
extern "C" std::int32_t FakeDraw(void*, float width, std::int32_t x) {
  gSeenWidth = width;
  return x;
}
extern "C" float FakeHalf(float v) { return v / 2; }
constexpr Export kFakeExports[] = {
    platform::MakeExport<&FakeDraw>("GdipFakeDraw"),
    platform::MakeExport<&FakeHalf>("GdipFakeHalf"),
};
const platform::Library kFakeGdiplus{"gdiplus.dll", false, kFakeExports};

TEST(Exports, RegisteredTablesAndWordConversions) {
  platform::RegisterLibrary(kFakeGdiplus);
  const Export* draw = FindExport("GdiPlus.dll", "GdipFakeDraw");
  ASSERT_NE(draw, nullptr);
  EXPECT_EQ(FindExport("", "GdipFakeDraw"), nullptr);  // not a system library
  EXPECT_EQ(draw->args.kinds[1], ArgKind::kReal);

  const host::Word args[] = {0, std::bit_cast<std::uint32_t>(128.5f), 0xFFFFFFFF};
  EXPECT_EQ(draw->thunk(args), 0xFFFFFFFFu);  // -1 zero-extended, as in a 32-bit register
  EXPECT_EQ(gSeenWidth, 128.5f);
  const host::Word half[] = {std::bit_cast<std::uint32_t>(5.0f)};
  EXPECT_EQ(FindExport("gdiplus", "GdipFakeHalf")->thunk(half), std::bit_cast<std::uint32_t>(2.5f));
}

TEST(User, MessageBoxWritesOneLineAndReturnsOk) {
  setenv("MOSALIN_NO_DIALOGS", "1", 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "Not found the kernel library or the kernel library is invalid!", "Error",
                        MB_ICONERROR),
            IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "first\r\nsecond\nthird", nullptr, MB_OK), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "\xC6\xB4\xBA\xCF\xCD\xEA\xB3\xC9", "", MB_ICONINFORMATION), IDOK);
  const host::Word args[] = {0, reinterpret_cast<host::Word>("via table"), reinterpret_cast<host::Word>("T"), 0x30};
  EXPECT_EQ(FindExport("", "MessageBoxA")->thunk(args), static_cast<host::Word>(IDOK));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Error: Not found the kernel library or the kernel library is invalid!\n"
            "Error: first second third\n"
            "\xE6\x8B\xBC\xE5\x90\x88\xE5\xAE\x8C\xE6\x88\x90\n"  // 拼合完成 in UTF-8
            "T: via table\n");
}

}  // namespace
