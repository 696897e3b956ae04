#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

// Code page 936 bytes of a few known characters.
constexpr char kGbkZhongWen[] = "\xD6\xD0\xCE\xC4";  // 中文
constexpr char kGb18030Grin[] = "\x94\x39\xFC\x36";  // U+1F600, outside GBK
constexpr char kUtf8ZhongWen[] = "\xE4\xB8\xAD\xE6\x96\x87";
constexpr char kUtf8Grin[] = "\xF0\x9F\x98\x80";

TEST(CodePage, AnsiAndUnicodeAgreeOnKnownCharacters) {
  bool exact = false;
  EXPECT_EQ(AnsiToUtf8(std::string("tile ") + kGbkZhongWen, &exact), std::string("tile ") + kUtf8ZhongWen);
  EXPECT_TRUE(exact);
  EXPECT_EQ(Utf8ToAnsi(kUtf8ZhongWen, &exact), kGbkZhongWen);
  EXPECT_TRUE(exact);
  EXPECT_EQ(AnsiToUtf16(kGbkZhongWen), u"\u4E2D\u6587");
  EXPECT_EQ(Utf16ToAnsi(u"\u4E2D\u6587"), kGbkZhongWen);
}

TEST(CodePage, CharactersOutsideGbkRoundTripAsFourByteSequences) {
  bool exact = false;
  const std::string ansi = Utf8ToAnsi(std::string("a") + kUtf8Grin, &exact);
  EXPECT_TRUE(exact);
  EXPECT_EQ(ansi, std::string("a") + kGb18030Grin);
  EXPECT_EQ(AnsiToUtf8(ansi), std::string("a") + kUtf8Grin);
  EXPECT_EQ(AnsiToUtf16(kGb18030Grin), u"\U0001F600");  // a surrogate pair
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), kUtf8Grin);
}

TEST(CodePage, InvalidInputIsReplacedAndReported) {
  bool exact = true;
  // A byte that starts no sequence, and a lead byte cut off at the end.
  EXPECT_EQ(AnsiToUtf8("a\xFF" "b\x81", &exact), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  EXPECT_FALSE(exact);
  EXPECT_EQ(AnsiToUtf16("\xFFx", &exact), u"\uFFFDx");
  EXPECT_FALSE(exact);
  EXPECT_EQ(Utf8ToAnsi("a\xC3z\xED\xA0\x80", &exact), "a?z???");  // truncated, then an encoded surrogate
  EXPECT_FALSE(exact);
  const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00};
  EXPECT_EQ(Utf16ToUtf8(std::u16string_view(lone, 4), &exact), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  EXPECT_FALSE(exact);
}

TEST(CodePage, LongTextsAndEmbeddedZerosSurvive) {
  std::string ansi;
  for (int i = 0; i < 50000; ++i) ansi += kGbkZhongWen;
  ansi += std::string("\0end", 4);
  bool exact = false;
  const std::string utf8 = AnsiToUtf8(ansi, &exact);
  EXPECT_TRUE(exact);
  EXPECT_EQ(utf8.size(), 50000u * 6 + 4);
  EXPECT_EQ(Utf8ToAnsi(utf8), ansi);
  EXPECT_EQ(AnsiToUtf16(ansi).size(), 50000u * 2 + 4);
}

}  // namespace
