#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/exports.h"
#include "platform/paths.h"
#include "platform/win32.h"
#include "tests/platform/test_env.h"

namespace {

using Kernel = ConfigDirTest;

std::string OwnWindowsPath() { return *platform::PosixToWindows(std::filesystem::read_symlink("/proc/self/exe").string()); }

TEST_F(Kernel, ModuleFileNameIsTheWindowsPathTruncatedToTheCapacity) {
  const std::string path = OwnWindowsPath();
  const DWORD n = static_cast<DWORD>(path.size());
  ASSERT_EQ(path.rfind("Z:\\", 0), 0u);
  std::string buf(n + 8, '#');

  EXPECT_EQ(GetModuleFileNameA(nullptr, buf.data(), n + 1), n);
  EXPECT_EQ(std::string(buf.c_str()), path);

  SetLastError(ERROR_SUCCESS);
  buf.assign(n + 8, '#');
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf.data(), n), n);  // one short: capacity returned
  EXPECT_EQ(std::string(buf.c_str()), path.substr(0, n - 1));
  EXPECT_EQ(buf[n], '#');
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  EXPECT_EQ(GetModuleFileNameA(nullptr, buf.data(), 1), 1u);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf.data(), 0), 0u);
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(&buf), buf.data(), n + 1), 0u);
}

TEST_F(Kernel, TextHelpersTolerateNull) {
  char buf[16] = "Z:\\a\\";
  EXPECT_EQ(lstrcatA(buf, "velmo.vxr"), buf);
  EXPECT_STREQ(buf, "Z:\\a\\velmo.vxr");
  EXPECT_EQ(lstrlenA(buf), 14);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrcatA(nullptr, "x"), nullptr);
  EXPECT_EQ(lstrcatA(buf, nullptr), nullptr);
}

TEST_F(Kernel, LoadsLibrariesByWindowsPathAndBesideTheExecutable) {
  const std::string windows = *platform::PosixToWindows(PLATFORM_PROBE_PATH);
  HMODULE byPath = LoadLibraryA(windows.c_str());
  ASSERT_NE(byPath, nullptr);
  auto answer = reinterpret_cast<int (*)(int)>(GetProcAddress(byPath, "ProbeAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(1), 43);
  EXPECT_EQ(GetProcAddress(byPath, "NoSuchEntry"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);

  char name[512];
  EXPECT_EQ(GetModuleFileNameA(byPath, name, sizeof name), windows.size());
  EXPECT_EQ(name, windows);

  // A bare name without extension: ".dll" is added, the file is beside the executable.
  HMODULE byName = LoadLibraryA("platform-probe");
  EXPECT_EQ(byName, byPath);
  EXPECT_TRUE(FreeLibrary(byName));
  EXPECT_TRUE(FreeLibrary(byPath));
  EXPECT_FALSE(FreeLibrary(byPath));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetProcAddress(byPath, "ProbeAnswer"), nullptr);
}

TEST_F(Kernel, LibraryLoadFailuresAreReported) {
  const std::filesystem::path notElf = Root() / "velmo.vxr";
  std::ofstream(notElf) << "not a library";
  EXPECT_EQ(LoadLibraryA(platform::PosixToWindows(notElf.string())->c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
  EXPECT_EQ(LoadLibraryA(platform::PosixToWindows((Root() / "velmo.vxl").string())->c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryA("Q:\\velmo.vxl"), nullptr);  // unmapped drive
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryA("no-such-module.vxr"), nullptr);
  EXPECT_EQ(LoadLibraryA(platform::PosixToWindows(Root().string())->c_str()), nullptr);  // a directory
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
}

TEST_F(Kernel, MultiByteToWideCharQueriesConvertsAndRefusesSmallBuffers) {
  const char* text = "\xD6\xD0\xCE\xC4.png";  // 中文.png
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0), 7);
  char16_t out[8];
  std::fill(std::begin(out), std::end(out), u'#');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, out, 8), 7);
  EXPECT_EQ(std::u16string(out, 7), std::u16string(u"\u4E2D\u6587.png\0", 7));
  EXPECT_EQ(out[7], u'#');

  std::fill(std::begin(out), std::end(out), u'#');
  EXPECT_EQ(MultiByteToWideChar(936, 0, text, -1, out, 6), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(out[0], u'#');

  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, 4, out, 8), 2);  // explicit length: no terminator
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\xFF", -1, out, 8), 3);
  EXPECT_EQ(out[1], u'\uFFFD');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "a\xFF", -1, out, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xE4\xB8\xAD", 3, out, 8), 1);
  EXPECT_EQ(out[0], u'\u4E2D');

  EXPECT_EQ(MultiByteToWideChar(1252, 0, text, -1, out, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, nullptr, 0), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 8), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0x40, text, -1, out, 8), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
}

// The two kernel native calls as the host makes them: argument words in,
// result word out. -1 may arrive as a 32-bit or a sign-extended word.
TEST_F(Kernel, NativeCallsThroughTheExportTable) {
  const platform::Export* convert = platform::FindExport("", "MultiByteToWideChar");
  ASSERT_NE(convert, nullptr);
  const char* tenChars = "0123456789";
  const auto text = reinterpret_cast<host::Word>(tenChars);
  for (host::Word minusOne : {host::Word{0xFFFFFFFF}, ~host::Word{0}}) {
    const host::Word query[] = {0, 0, text, minusOne, 0, 0};
    const host::Word n = convert->thunk(query);
    ASSERT_EQ(n, 11u);
    std::string buffer(n * 2, '\x55');  // 22 bytes, as the program allocates
    const host::Word fill[] = {0, 0, text, minusOne, reinterpret_cast<host::Word>(buffer.data()), n};
    EXPECT_EQ(convert->thunk(fill), 11u);
    EXPECT_EQ(buffer.substr(0, 4), std::string("0\0" "1\0", 4));
    EXPECT_EQ(buffer.substr(20), std::string(2, '\0'));
  }
  // A refused call returns 0 in the result word.
  const host::Word bad[] = {1252, 0, text, 0xFFFFFFFF, 0, 0};
  EXPECT_EQ(convert->thunk(bad), 0u);

  const platform::Export* move = platform::FindExport("", "RtlMoveMemory");
  ASSERT_NE(move, nullptr);
  char bytes[] = "abcdefgh";
  const host::Word overlap[] = {reinterpret_cast<host::Word>(bytes + 2), reinterpret_cast<host::Word>(bytes), 4};
  move->thunk(overlap);
  EXPECT_STREQ(bytes, "ababcdgh");
}

TEST(KernelExit, ExitProcessFlushesOutputAndKeepsTheLowByte) {
  const std::string file = (std::filesystem::temp_directory_path() / "mosalin-exit-test.txt").string();
  EXPECT_EXIT(
      {
        std::FILE* out = std::fopen(file.c_str(), "w");
        std::fputs("buffered", out);
        ExitProcess(0xFFFFFFFF);
      },
      ::testing::ExitedWithCode(255), "");
  std::ifstream in(file);
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "buffered");
  std::filesystem::remove(file);
  EXPECT_EXIT(ExitProcess(0), ::testing::ExitedWithCode(0), "");
}

}  // namespace
