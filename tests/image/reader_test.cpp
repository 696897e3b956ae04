// Reading images: the built image reads back into what the host needs and
// writes back byte for byte; damaged images are rejected with a message that
// names the damage, never with a crash or a read outside the span.
#include <gtest/gtest.h>

#include <random>

#include "image/format/image_format.h"
#include "image/format/program_image.h"
#include "image/link_area.h"
#include "image/program_layout.h"
#include "test_support.h"

namespace {

using image_test::SetU32;
using image_test::U32;

const std::vector<std::uint8_t>& Built() {
  static const auto b = image::BuildProgramImage();
  return b;
}

std::string ErrorOf(const std::vector<std::uint8_t>& bytes) {
  std::string error;
  auto img = image::ReadProgramImage(bytes, &error);
  return img ? std::string() : error;
}

std::vector<std::uint8_t> Patched(std::size_t at, std::uint32_t v) {
  auto b = Built();
  SetU32(b, at, v);
  return b;
}

constexpr std::uint32_t kCodeHeader = 0x1314;
constexpr std::uint32_t kCodeBytes = kCodeHeader + 56 + 4 * 67;
constexpr std::uint32_t kIdHeader = kCodeBytes + 10004 + 56;

TEST(ReadImage, GivesTheHostWhatItNeeds) {
  std::string error;
  auto img = image::ReadProgramImage(Built(), &error);
  ASSERT_TRUE(img) << error;
  const image::Segment& code = img->Code();
  EXPECT_EQ(code.dataOffset, kCodeBytes);
  EXPECT_EQ(code.bytes.size(), 10004u);
  EXPECT_EQ(code.fixups, image::BuildCodeSegment().fixups);
  EXPECT_EQ(img->Var().memorySize, 68u);
  EXPECT_FALSE(img->Var().hasBytes);
  EXPECT_EQ(img->Var().dataOffset, 0xFFFFFFFFu);
  EXPECT_EQ(img->Const().dataOffset, 0x1ADu);
  EXPECT_EQ(img->startRoutine, image::Offset(image::Routine::StartProgram));
  EXPECT_EQ(img->idGroups[0].size(), 10u);
  EXPECT_EQ(img->idGroups[1].size(), 20u);
  EXPECT_EQ(img->idGroups[2].size(), 1u);
  EXPECT_EQ(img->idGroups[3].size(), 1u);
  ASSERT_EQ(img->nativeCalls.size(), 20u);
  EXPECT_EQ(img->nativeCalls[10].library, "GdiPlus.dll");
  EXPECT_EQ(img->nativeCalls[10].entry, "GdipDrawImageRect");
  EXPECT_EQ(img->nativeCalls[19].library, "");
  ASSERT_EQ(img->libraries.size(), 2u);
  EXPECT_EQ(img->libraries[1].name, "panea");
  EXPECT_EQ(img->form.records.size(), 19u);
  // The @reloc1 groups run 4 bytes past its declared size.
  const image::Segment* ids = img->Find("@reloc1");
  ASSERT_TRUE(ids);
  EXPECT_EQ(ids->DeclaredByteCount(), 140u);
  EXPECT_EQ(ids->undeclaredTail, 4u);
}

TEST(ReadImage, WriteAfterReadIsByteIdentical) {
  std::string error;
  auto img = image::ReadProgramImage(Built(), &error);
  ASSERT_TRUE(img) << error;
  auto again = image::WriteProgramImage(*img, &error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(*again, Built());
  EXPECT_EQ(image::EncodeIdGroups(img->idGroups), img->Find("@reloc1")->bytes);
}

TEST(ReadImage, AcceptsTheWholeDataSection) {
  // The host knows only the image's address; the rest of the buffer is zero.
  std::string error;
  auto img = image::ReadProgramImage(image::BuildDataSection(), &error);
  ASSERT_TRUE(img) << error;
  EXPECT_EQ(image::WriteProgramImage(*img, &error), Built());
}

TEST(ReadImage, ReadsAnImageWithOtherSizes) {
  // Not only this program's image: more native calls, another start routine,
  // a form with a renamed control and a segment of another name.
  std::string error;
  auto img = image::ReadProgramImage(Built(), &error);
  ASSERT_TRUE(img) << error;
  img->nativeCalls.push_back(img->nativeCalls[3]);
  img->startRoutine = image::Offset(image::Routine::MergeTiles);
  img->form.records[3].name = "start";
  img->segments[1].bytes = image::EncodeForm(img->form);
  img->segments[1].memorySize = static_cast<std::uint32_t>(img->segments[1].bytes.size());
  image::Segment extra;
  extra.name = "extra";
  extra.flags = 1;
  extra.hasBytes = true;
  extra.bytes = {1, 2, 3};
  extra.memorySize = 3;
  img->segments.insert(img->segments.begin() + 2, extra);
  auto bytes = image::WriteProgramImage(*img, &error);
  ASSERT_TRUE(bytes) << error;
  auto back = image::ReadProgramImage(*bytes, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->nativeCalls.size(), 21u);
  EXPECT_EQ(back->nativeCalls[20].entry, "CreateCompatibleBitmap");
  EXPECT_EQ(back->startRoutine, image::Offset(image::Routine::MergeTiles));
  EXPECT_EQ(back->form.records[3].name, "start");
  EXPECT_EQ(back->segments[2].bytes, extra.bytes);
  EXPECT_EQ(back->Code().fixups, img->Code().fixups);
}

TEST(ReadImage, WriterRefusesIncompleteImages) {
  std::string error;
  auto img = image::ReadProgramImage(Built(), &error);
  ASSERT_TRUE(img) << error;
  auto noHelp = *img;
  noHelp.segments.erase(noHelp.segments.begin() + 2);
  EXPECT_FALSE(image::WriteProgramImage(noHelp, &error));
  EXPECT_NE(error.find("help"), std::string::npos) << error;
  auto farStart = *img;
  farStart.startRoutine = 10004;
  EXPECT_FALSE(image::WriteProgramImage(farStart, &error));
  EXPECT_NE(error.find("start routine"), std::string::npos) << error;
}

TEST(RejectDamage, NamesWhatIsWrong) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    const char* fragment;
  };
  auto badMagic = Built();
  badMagic[1] = 'K';
  std::vector<Case> cases = {
      {{}, "shorter than its 88-byte header"},
      {badMagic, "bad magic"},
      {Patched(0x38, 0x7FFFFFFF), "native-call count"},
      {Patched(0x24, 0x100), "support-library list"},
      {Patched(0x24, 0x50000), "first segment header"},
      {Patched(0x58 + 4 * 2, 905), "native call 2: library name at 0x389 lies past"},
      {Patched(0xA8 + 4 * 7, 0x25), "native call 7: empty entry name"},
      // The form's next pointer leads back to the const header.
      {Patched(0x536 + 4, 0x175), "loops"},
      {Patched(0x536 + 4, 0x3FFFFFF0), "past the end of the image"},
      {Patched(kCodeHeader + 0x30, 0x10000000), "header size"},
      {Patched(kCodeHeader + 0x28, 0x100000), "run past the end"},
      {Patched(0x175 + 0x2C, 0xFFFFFFFF), "bytes but no data offset"},
      {Patched(kCodeHeader + 0x38 + 4 * 12, (10004u << 3) | 1), "segment 'code': fixup 12 points past the segment's bytes"},
      {Patched(kCodeHeader + 0x38 + 4 * 5, (0x30u << 3) | 6), "unknown type 6"},
      {Patched(kCodeHeader + 0x38 + 4 * 5, 0), "out of order"},
      {Patched(kCodeBytes + 0x10, 905), "past the const segment"},
      {Patched(kCodeBytes + 0x1B8, 0x44), "past the var segment"},
      {Patched(kCodeBytes + 0x1C0, 10004), "past the code segment"},
      {Patched(0x4C, 0x536), "names segment 'form'"},
      {Patched(0x50, 0x1234), "no segment header of the chain"},
      {Patched(0x3C, 0x100), "start routine"},
      {Patched(kIdHeader + 56, 0x7FFFFFFF), "group 0 count"},
      {Patched(kIdHeader + 56 + 4, 10004), "group 0 entry 0 points past the code segment"},
      {Patched(kCodeBytes + 0x218 + 8 * 3, 20), "native-call index 20"},
      {Patched(kCodeBytes + 0x2B8, 2), "library index 2"},
      {Patched(0x56E + 0x20, 7), "form: stated length"},
  };
  // The end of the image cuts the last identifier group, which lies past the
  // segment's declared size.
  cases.push_back({std::vector<std::uint8_t>(Built().begin(), Built().end() - 2), "group 3 count 1 runs past"});
  // A chain that names @reloc1 twice.
  auto renamed = Built();
  std::copy_n("@reloc1", 7, renamed.begin() + 0x12A8 + 0x0C);
  cases.push_back({renamed, "appears twice"});
  for (const Case& c : cases) {
    const std::string error = ErrorOf(c.bytes);
    EXPECT_NE(error.find(c.fragment), std::string::npos) << "expected \"" << c.fragment << "\", got \"" << error << "\"";
  }
}

TEST(RejectDamage, AbsurdlyLongChain) {
  // 80 empty segments chained one after the other, after the real ones.
  std::string error;
  auto img = image::ReadProgramImage(Built(), &error);
  ASSERT_TRUE(img) << error;
  for (int i = 0; i < 80; ++i) {
    image::Segment s;
    s.name = "pad" + std::to_string(i);
    img->segments.push_back(s);
  }
  auto bytes = image::WriteProgramImage(*img, &error);
  ASSERT_TRUE(bytes) << error;
  EXPECT_NE(ErrorOf(*bytes).find("longer than 64"), std::string::npos) << ErrorOf(*bytes);
}

TEST(RejectDamage, EveryTruncationFails) {
  // Every cut of the image short of its end loses part of the @reloc1
  // groups at least, so every one must be rejected.
  const auto& full = Built();
  for (std::size_t n = 0; n < full.size(); n += (n < 0x200 ? 1 : 7)) {
    std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    ASSERT_FALSE(ErrorOf(cut).empty()) << "cut at " << n;
  }
}

TEST(RejectDamage, RandomCorruptionNeverCrashes) {
  // Corrupt bytes in the parts the reader interprets; the reader must either
  // reject the image or return a structure whose offsets lie inside it.
  std::mt19937 rng(20240611);
  const auto& full = Built();
  std::vector<std::pair<std::size_t, std::size_t>> parts = {
      {0, 0x1AD}, {0x536, 0x536 + 56}, {0x56E, 0x56E + 3386}, {kCodeHeader, kCodeBytes}, {kCodeBytes, kCodeBytes + 0x2C8},
      {kIdHeader - 56 - 56, full.size()}};
  int rejected = 0;
  for (int round = 0; round < 4000; ++round) {
    auto b = full;
    const auto& [lo, hi] = parts[round % parts.size()];
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < flips; ++k) {
      const std::size_t at = lo + rng() % (hi - lo);
      b[at] = (round & 1) ? static_cast<std::uint8_t>(rng()) : static_cast<std::uint8_t>(b[at] ^ (1u << (rng() % 8)));
    }
    if (round % 5 == 0) b.resize(rng() % b.size());
    std::string error;
    auto img = image::ReadProgramImage(b, &error);
    if (!img) {
      EXPECT_FALSE(error.empty());
      ++rejected;
      continue;
    }
    for (const auto& s : img->segments) {
      if (s.hasBytes) {
        ASSERT_LE(std::size_t(s.dataOffset) + s.bytes.size(), b.size());
      }
    }
    ASSERT_LT(img->startRoutine, img->Code().bytes.size());
  }
  EXPECT_GT(rejected, 0);
}

}  // namespace
