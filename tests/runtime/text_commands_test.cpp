#include "runtime/text_commands.h"

#include <gtest/gtest.h>

#include <limits>

namespace velmo {
namespace {

// Code page 936 bytes. 0x81 0x78 and 0x81 0x5C are double-byte characters
// whose trail bytes are the ASCII codes of "x" and "\".
const std::string kZhong = "\xD6\xD0";         // 中
const std::string kTuDi = "\xB5\xD8\xCD\xBC";  // 地图
const std::string kTrailX = "\x81\x78";
const std::string kTrailUpperX = "\x81\x58";
const std::string kTrailBackslash = "\x81\x5C";
constexpr auto kOmitted = std::nullopt;

TEST(TextCommands, PrefixOfTheTileDirectory) {
  // How the tile-directory handler derives the prefix from the chosen path.
  const std::string dir = "Z:\\" + kTuDi + "\\" + kTrailBackslash + "\\2x";
  const auto len = TextLength(dir);
  EXPECT_EQ(len, 13);
  const auto pos = FindTextBack(dir, "\\");
  EXPECT_EQ(RightText(dir, len - pos), "2x");
  EXPECT_EQ(RightText("abc", 0), "");
  EXPECT_EQ(RightText("abc", 99), "abc");
}

TEST(TextCommands, SearchesNeverStartOrEndInsideACharacter) {
  EXPECT_EQ(FindText(kTrailX, "x"), -1);
  EXPECT_EQ(FindText(kTrailX + "x", "x"), 3);
  EXPECT_EQ(FindTextBack("a\\" + kTrailBackslash, "\\"), 2);
  EXPECT_EQ(FindText(kZhong + kZhong, "\xD0\xD6"), -1);
  EXPECT_EQ(FindTextBack(kZhong + kZhong, kZhong), 3);
  EXPECT_EQ(FindText(kZhong, "\xD6"), -1);  // would end inside the character
  EXPECT_EQ(FindText("a\x81", "\x81"), 2);  // a lead byte with no trail stands alone
  // Four-byte sequences are one character: "0" is found after, not inside.
  const std::string four = "\x81\x30\x81\x30";
  EXPECT_EQ(FindText(four + "0", "0"), 5);
  EXPECT_EQ(CharacterStarts("a" + kZhong), (std::vector<bool>{true, true, false, true}));
}

TEST(TextCommands, CaseFoldingTouchesOnlyAsciiCharacters) {
  EXPECT_EQ(FindText("2X", "x"), -1);
  EXPECT_EQ(FindText("2X", "x", kOmitted, true), 2);
  EXPECT_EQ(FindText(kTrailX + "X", "x", kOmitted, true), 3);
  // Trail bytes fold neither in the text nor in the sought text.
  EXPECT_EQ(FindText(kTrailUpperX, kTrailX, kOmitted, true), -1);
  EXPECT_EQ(FindText("[@]", "`", kOmitted, true), -1);  // not letters
}

TEST(TextCommands, StartPositionsAndEmptyTexts) {
  EXPECT_EQ(FindText("abcabc", "b", 3), 5);
  EXPECT_EQ(FindText("abcabc", "b", -7), 2);
  EXPECT_EQ(FindText("abcabc", "c", 7), -1);
  EXPECT_EQ(FindText(kTrailX + "x", "x", 2), 3);  // start inside a character
  EXPECT_EQ(FindTextBack("abcabc", "b", 4), 2);
  EXPECT_EQ(FindTextBack("abcabc", "bc", 100), 5);
  EXPECT_EQ(FindTextBack("abcabc", "a", 0), -1);
  EXPECT_EQ(FindText("abc", ""), -1);
  EXPECT_EQ(FindTextBack("abc", ""), -1);
  EXPECT_EQ(FindTextBack("ab", "abc"), -1);
}

TEST(TextCommands, NumbersAsPlainDecimalText) {
  const std::pair<double, const char*> cases[] = {
      {5.0, "5"},
      {-512.0, "-512"},
      {1e15, "1000000000000000"},
      {1e20, "100000000000000000000"},
      {-0.0, "0"},
      {1.5, "1.5"},
      {0.1 + 0.2, "0.3"},
      {2.0 / 3.0, "0.666666666666667"},
      {-1e-5, "-0.00001"},
      {999999999999999.9, "1000000000000000"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(ToText(value), text) << text;
  EXPECT_EQ(ToText(std::int32_t{-2147483647 - 1}), "-2147483648");
}

}  // namespace
}  // namespace velmo
