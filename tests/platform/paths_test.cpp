#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/codepage.h"
#include "platform/name_case.h"
#include "tests/platform/test_env.h"

namespace {

using namespace platform;
using PathMap = ConfigDirTest;

TEST_F(PathMap, DriveZIsThePosixRootWhateverTheSeparators) {
  EXPECT_EQ(WindowsToPosix("Z:\\home\\me\\tiles\\2x"), "/home/me/tiles/2x");
  EXPECT_EQ(WindowsToPosix("z:/home\\me//tiles\\\\2x\\"), "/home/me/tiles/2x");
  EXPECT_EQ(WindowsToPosix("Z:\\"), "/");
  EXPECT_EQ(WindowsToPosix("Z:"), "/");
  EXPECT_EQ(WindowsToPosix("\\\\?\\Z:\\tmp"), "/tmp");
  EXPECT_EQ(WindowsToPosix("Z:\\a\\.\\b\\..\\c"), "/a/c");
  EXPECT_EQ(PosixToWindows("/home/me/tiles/2x/"), "Z:\\home\\me\\tiles\\2x");
  EXPECT_EQ(PosixToWindows("/"), "Z:\\");
}

TEST_F(PathMap, OtherDrivesComeFromTheDriveTable) {
  EXPECT_EQ(WindowsToPosix("C:\\maps"), std::nullopt);  // no table yet
  WriteConfig("drives",
              "# drive table\n"
              "\n"
              "c: /srv/c-drive/\r\n"
              "  D:   /data/with space  \n"
              "c: /ignored/second\n"
              "z: /not/root\n"
              "e: relative/dir\n");
  EXPECT_EQ(WindowsToPosix("C:\\maps\\1x"), "/srv/c-drive/maps/1x");
  EXPECT_EQ(WindowsToPosix("c:\\"), "/srv/c-drive");
  EXPECT_EQ(WindowsToPosix("c:maps"), "/srv/c-drive/maps");
  EXPECT_EQ(WindowsToPosix("d:/x"), "/data/with space/x");
  EXPECT_EQ(WindowsToPosix("Z:\\srv"), "/srv");
  EXPECT_EQ(WindowsToPosix("E:\\x"), std::nullopt);
  EXPECT_EQ(WindowsToPosix("F:\\x"), std::nullopt);
  // ".." stops at the drive's root instead of leaving its directory.
  EXPECT_EQ(WindowsToPosix("C:\\..\\..\\etc\\passwd"), "/srv/c-drive/etc/passwd");
  // The reverse always names drive Z:.
  EXPECT_EQ(PosixToWindows("/srv/c-drive/maps"), "Z:\\srv\\c-drive\\maps");

  WriteConfig("drives", "C: /elsewhere\n");  // a changed table counts at once
  EXPECT_EQ(WindowsToPosix("C:\\maps"), "/elsewhere/maps");
  EXPECT_EQ(WindowsToPosix("D:\\x"), std::nullopt);
}

TEST_F(PathMap, RootedAndRelativePaths) {
  const std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(WindowsToPosix("\\tmp\\x"), "/tmp/x");
  EXPECT_EQ(WindowsToPosix("sub\\file.png"), cwd + "/sub/file.png");
  EXPECT_EQ(WindowsToPosix(".\\sub\\..\\b"), cwd + "/b");
  EXPECT_EQ(PosixToWindows("sub/file"), PosixToWindows(cwd + "/sub/file"));
}

TEST_F(PathMap, PathsThatNameNoFileDoNotMap) {
  EXPECT_EQ(WindowsToPosix(""), std::nullopt);
  EXPECT_EQ(WindowsToPosix("\\\\server\\share\\x"), std::nullopt);
  EXPECT_EQ(WindowsToPosix("Z:\\tmp\\\xFF"), std::nullopt);  // undecodable byte
  EXPECT_EQ(WindowsToPosix(std::string("Z:\\a\0b", 6)), std::nullopt);
  EXPECT_EQ(PosixToWindows("/tmp/a\\b"), std::nullopt);  // "\" is a separator there
  EXPECT_EQ(PosixToWindows("/tmp/\xC3"), std::nullopt);  // not UTF-8
}

TEST_F(PathMap, DoubleByteCharactersWhoseSecondByteIsABackslash) {
  // 0x81 0x5C is one character (U+4E57); its second byte is not a separator.
  EXPECT_EQ(WindowsToPosix("Z:\\tmp\\\x81\x5C.png"), "/tmp/\xE4\xB9\x97.png");
  EXPECT_EQ(PosixToWindows("/tmp/\xE4\xB9\x97.png"), "Z:\\tmp\\\x81\x5C.png");
}

TEST_F(PathMap, FileNamesOutsideGbkAreFoundThroughTheirWindowsPath) {
  // U+1F600 and U+20000 have no GBK code; GB18030 gives them four bytes each.
  const std::filesystem::path file = Root() / "tile-\xF0\x9F\x98\x80-\xF0\xA0\x80\x80.png";
  std::ofstream(file) << "x";
  const std::optional<std::string> windows = PosixToWindows(file.string());
  ASSERT_TRUE(windows);
  EXPECT_NE(windows->find("\x94\x39\xFC\x36-\x95\x32\x82\x36.png"), std::string::npos);
  const std::optional<std::string> back = WindowsToPosix(*windows);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, file.string());
  EXPECT_TRUE(std::filesystem::exists(*back));
  EXPECT_EQ(WideWindowsToPosix(AnsiToUtf16(*windows)), file.string());
}

// Creates `file` and the directories above it.
void Touch(const std::filesystem::path& file) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file) << "x";
}

TEST_F(PathMap, ComponentsThatDifferOnlyInCaseResolveToTheNamesOnDisk) {
  const std::filesystem::path row = Root() / "Tiles" / "2x" / "000";
  Touch(row / "2x000001.PNG");
  Touch(row / "2X000002.png");
  // U+2170, U+03B1 and U+01CE on disk, asked for as U+2160, U+0391 and U+01CD.
  Touch(row / "\xE2\x85\xB0-\xCE\xB1-\xC7\x8E.png");
  const std::string z = "Z:" + Root().string();
  EXPECT_EQ(WindowsToPosix(z + "\\tiles\\2X\\000\\2x000001.png"), (row / "2x000001.PNG").string());
  EXPECT_EQ(WindowsToPosix(z + "\\TILES\\2x\\000\\2x000002.png"), (row / "2X000002.png").string());
  EXPECT_EQ(WindowsToPosix(z + "\\tiles\\2x\\000\\\xA2\xF1-\xA6\xA1-\x81\x30\x9F\x35.PNG"),
            (row / "\xE2\x85\xB0-\xCE\xB1-\xC7\x8E.png").string());
  EXPECT_EQ(WideWindowsToPosix(AnsiToUtf16(z + "\\tiles\\2X")), (Root() / "Tiles" / "2x").string());
  // A name found in no case stays as given, and so does everything after it:
  // a new file is created with its own name in the directory that exists.
  EXPECT_EQ(WindowsToPosix(z + "\\tiles\\2X\\000\\Out.bmp"), (row / "Out.bmp").string());
  EXPECT_EQ(WindowsToPosix(z + "\\tiles\\New\\000\\x.png"), (Root() / "Tiles" / "New" / "000" / "x.png").string());
}

TEST_F(PathMap, AnExactNameWinsOverOthersInCaseAndTheFirstInByteOrderOverTheRest) {
  for (const char* name : {"row/a.png", "row/A.PNG", "row/A.png", "ROW/x", "Row/x"}) Touch(Root() / name);
  const std::string z = "Z:" + Root().string() + "\\";
  EXPECT_EQ(WindowsToPosix(z + "row\\A.png"), (Root() / "row" / "A.png").string());
  EXPECT_EQ(WindowsToPosix(z + "row\\a.png"), (Root() / "row" / "a.png").string());
  EXPECT_EQ(WindowsToPosix(z + "row\\a.PNG"), (Root() / "row" / "A.PNG").string());  // "A.PNG" < "A.png" < "a.png"
  EXPECT_EQ(WindowsToPosix(z + "rOW\\x"), (Root() / "ROW" / "x").string());            // "ROW" < "Row" < "row"
}

TEST(NameCase, UpperCaseKeepsTheUtf8LengthOfEveryUnit) {
  auto utf8Length = [](char16_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : 3; };
  for (char32_t c = 0; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    ASSERT_EQ(utf8Length(UpcaseUnit(char16_t(c))), utf8Length(char16_t(c))) << std::hex << unsigned(c);
  }
}

TEST_F(PathMap, ConfigDirFollowsXdgRules) {
  EXPECT_EQ(DrivesFilePath(), (Root() / "mosalin" / "drives").string());
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // not absolute: ignored
  setenv("HOME", Root().c_str(), 1);
  EXPECT_EQ(ConfigDir(), (Root() / ".config" / "mosalin").string());
  setenv("HOME", home.c_str(), 1);
}

}  // namespace
