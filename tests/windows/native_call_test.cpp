// The runtime host's native calls on Windows, made on the system's own
// functions under Wine: the stack-depth check compares the stack pointer, so
// a call with more or fewer argument words than the function takes is caught,
// and its result is still the function's.
#include <gtest/gtest.h>

#include "tests/windows/wine_support.h"

namespace {

TEST(WindowsNativeCall, StackDepthIsComparedAndTheResultKept) {
  SKIP_WHERE_WINE_CANNOT_RUN();
  e2e::Sandbox s("win-native");
  e2e::Run r = wintest::RunWine(wintest::WindowsBin() / "native-call-check.exe", {}, {}, s.root());
  ASSERT_EQ(r.status, 0) << r.Joined();
  const std::vector<std::string> expected = {
      // Entries of the system libraries and of GDI+ bind; a missing one does not.
      "bound lstrlenA=1 MultiByteToWideChar=1 GetDC=1 GdiplusStartup=1 missing=0",
      "lstrlenA(text) result=7 changed=0",
      // One word too many: the function removes one word, the depth changed.
      "lstrlenA(text, extra) result=7 changed=1",
      // None passed: it reads a zero (a null text has length 0) and removes
      // a word that was never pushed.
      "lstrlenA() result=0 changed=1",
      "MultiByteToWideChar(query) result=8 changed=0",
      // The missing capacity reads as 0, so this is still the size query.
      "MultiByteToWideChar(five words) result=8 changed=1",
  };
  EXPECT_EQ(r.transcript, expected) << r.Joined();
}

}  // namespace
