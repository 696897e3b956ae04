#include "runtime/find_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/runtime/scratch_dir.h"

namespace velmo {
namespace {

using testing::ScratchDir;
using testing::WriteText;
using Names = std::vector<std::string>;

TEST(FindFileOrder, NamesComeUpperCasedByUtf16UnitsAfterTheDotEntries) {
  ScratchDir d;
  // Byte order would give "A Z _x a1 b ...", lower-casing would put "_x"
  // first; upper-cased, "_" (0x5F) follows "Z" (0x5A). U+1F600 is a surrogate
  // pair (0xD83D ...) and sorts before U+FF21, although its UTF-8 bytes do not.
  for (const char* n : {"b", "A", "_x", "a1", "Z", "B.txt", "\xC3\xA9", "\xEF\xBC\xA1",
                        "\xF0\x9F\x98\x80"}) {
    WriteText(d / n, "");
  }
  mkdir((d / "m").c_str(), 0755);
  EXPECT_EQ(ListMatches(d.path(), "*", FindFilter::None()),
            (Names{".", "..", "A", "a1", "b", "B.txt", "m", "Z", "_x", "\xC3\xA9",
                   "\xF0\x9F\x98\x80", "\xEF\xBC\xA1"}));
  EXPECT_LT(CompareNames("Ab", "ab"), 0);              // total on a case-sensitive disk
}

TEST(FindFileWildcards, FollowTheWindowsRules) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"*.*", "noext", true},         {"*.*", ".", true},
      {"*.png", "TILE.PNG", true},    {"*.png", "a.png.bak", false},
      {"*.png", ".", false},          {"2x00?001.png", "2X002001.png", true},
      {"2x00?001.png", "2x00001.png", false},
      {"a?b", "a.b", false},          {"a??", "a", true},
      {"a*.*", "abc", true},          {"*.*", "..", true},
      {"*.", "noext", true},          {"*.", "a.b", false},
      {"\xC3\x89*", "\xC3\xA9t\xC3\xA9", true},  // É* finds été
      {"\xCE\xA9", "\xCF\x89", true},            // Greek omega
      {"I", "\xC4\xB1", false},                  // dotless i stays apart
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
  }
}

TEST(FindFileFilters, SelectDirectoriesFilesOrBoth) {
  ScratchDir d;
  mkdir((d / "001").c_str(), 0755);
  mkdir((d / "000").c_str(), 0755);
  WriteText(d / "2x000000.png", "");
  ASSERT_EQ(symlink("000", (d / "link-dir").c_str()), 0);
  ASSERT_EQ(symlink("2x000000.png", (d / "link-file").c_str()), 0);
  ASSERT_EQ(symlink("missing", (d / "link-dangling").c_str()), 0);

  EXPECT_EQ(ListMatches(d.path(), "*.*", FindFilter::DirectoriesOnly()),
            (Names{".", "..", "000", "001", "link-dir"}));
  EXPECT_EQ(ListMatches(d.path(), "*.*", FindFilter::Attributes(0)),
            (Names{"2x000000.png", "link-dangling", "link-file"}));
  EXPECT_EQ(ListMatches(d.path(), "*.*", FindFilter::None()).size(), 8u);
  FindOptions root;
  root.driveRoot = true;
  EXPECT_EQ(ListMatches(d.path(), "*", FindFilter::DirectoriesOnly(), root),
            (Names{"000", "001", "link-dir"}));

  SearchTable table;
  SearchTable::Handle handle = 0;
  EXPECT_EQ(table.Start(handle, ListMatches(d / "missing", "*.*", FindFilter::DirectoriesOnly())), "");
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(table.Start(handle, ListMatches(d / "2x000000.png", "*.*", FindFilter::None())), "");
  EXPECT_EQ(table.Next(handle), "");
}

TEST(FindFileHandles, NewPatternEndsThePreviousSearchAndStaleHandlesAreHarmless) {
  ScratchDir d;
  for (const char* n : {"000", "001", "002"}) mkdir((d / n).c_str(), 0755);
  WriteText(d / "000/x.png", "");

  SearchTable table;
  SearchTable::Handle handle = 0;
  // The tile-directory count: names returned minus the two dot entries.
  int count = -2;
  for (auto n = table.Start(handle, ListMatches(d.path(), "*.*", FindFilter::DirectoriesOnly())); !n.empty();
       n = table.Next(handle)) {
    ++count;
  }
  EXPECT_EQ(count, 3);
  EXPECT_EQ(table.Next(handle), "");  // finished stays finished

  // A new pattern through the same variable ends the old search, finished or
  // not; the old handles then find nothing and ending them touches nothing.
  const SearchTable::Handle finished = handle;
  EXPECT_EQ(table.Start(handle, ListMatches(d.path(), "*.*", FindFilter::DirectoriesOnly())), ".");
  const SearchTable::Handle unfinished = handle;
  EXPECT_EQ(table.Start(handle, ListMatches(d / "000", "*.png", FindFilter::None())), "x.png");
  EXPECT_EQ(table.Next(unfinished), "");
  SearchTable::Handle other = 0;
  EXPECT_EQ(table.Start(other, ListMatches(d.path(), "0*", FindFilter::None())), "000");
  for (SearchTable::Handle h : {SearchTable::Handle{0}, finished, unfinished}) table.End(h);
  EXPECT_EQ(table.Next(other), "001");
  table.End(handle);
  table.End(other);
  EXPECT_EQ(table.Next(other), "");
}

}  // namespace
}  // namespace velmo
