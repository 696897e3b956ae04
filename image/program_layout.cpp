#include "image/program_layout.h"

#include <cstdio>
#include <cstdlib>

#include "image/const_pool.h"
#include "image/form_table.h"
#include "image/format/program_image.h"
#include "image/globals.h"
#include "image/link_area.h"

namespace image {
namespace {

// The values this program's header carries in the words whose use is the
// host's business.
inline constexpr std::uint32_t kHeaderWord28 = 1;
inline constexpr std::uint32_t kHeaderWord2C = 3;
inline constexpr std::uint32_t kHeaderWord30 = 0;
inline constexpr std::uint32_t kHeaderWord34 = 0x102EC;

// The support libraries, by index.
struct LibraryDecl {
  std::string_view name, id, major, minor, description;
};
constexpr LibraryDecl kLibraries[] = {
    // 系统核心支持库
    {"velmo", "5e0a6c1d9b3f4e2a8c7d1b6f0e9a3c45", "4", "5",
     "\xcf\xb5\xcd\xb3\xba\xcb\xd0\xc4\xd6\xa7\xb3\xd6\xbf\xe2"},
    // 操作系统界面功能支持库
    {"panea", "A3D2C1F06B8E4D5A9C7B2E1F0D4A6B83", "1", "0",
     "\xb2\xd9\xd7\xf7\xcf\xb5\xcd\xb3\xbd\xe7\xc3\xe6\xb9\xa6\xc4\xdc\xd6\xa7\xb3\xd6\xbf\xe2"},
};

constexpr std::uint32_t kHelpSize = 52;

constexpr std::uint32_t kConstFlags = kFlagPresent;
constexpr std::uint32_t kFormFlags = kFlagPresent;
constexpr std::uint32_t kHelpFlags = kFlagPresent;
constexpr std::uint32_t kCodeFlags = kFlagPresent | kFlagExecutable;
constexpr std::uint32_t kVarFlags = kFlagPresent | kFlagWritable | kFlagNoBytes;
constexpr std::uint32_t kIdFixupFlags = kFlagPresent;

Segment MakeSegment(std::string_view name, std::uint32_t flags, std::vector<std::uint8_t> bytes) {
  Segment s;
  s.name = name;
  s.flags = flags;
  s.memorySize = static_cast<std::uint32_t>(bytes.size());
  s.hasBytes = true;
  s.bytes = std::move(bytes);
  return s;
}

ProgramImage ProgramFromTables() {
  ProgramImage img;
  img.header.word28 = kHeaderWord28;
  img.header.word2C = kHeaderWord2C;
  img.header.word30 = kHeaderWord30;
  img.header.word34 = kHeaderWord34;
  img.startRoutine = Offset(Routine::StartProgram);
  for (const auto& ref : NativeCallTable()) img.nativeCalls.push_back({ref.library, ref.entry, {}, {}});
  for (const auto& lib : kLibraries)
    img.libraries.push_back({std::string(lib.name), std::string(lib.id), std::string(lib.major),
                             std::string(lib.minor), std::string(lib.description)});

  CodeSegment code = BuildCodeSegment();
  img.segments.push_back(MakeSegment(kConstName, kConstFlags, BuildConstPool()));
  img.segments.push_back(MakeSegment(kFormName, kFormFlags, EncodeForm(MainForm())));
  img.segments.push_back(MakeSegment(kHelpName, kHelpFlags, std::vector<std::uint8_t>(kHelpSize, 0)));
  Segment codeSeg = MakeSegment(kCodeName, kCodeFlags, std::move(code.bytes));
  codeSeg.fixups = std::move(code.fixups);
  img.segments.push_back(std::move(codeSeg));
  Segment var;
  var.name = kVarName;
  var.flags = kVarFlags;
  var.memorySize = kVarSegmentSize;
  img.segments.push_back(std::move(var));
  Segment ids = MakeSegment(kIdFixupName, kIdFixupFlags, EncodeIdGroups(code.ids));
  ids.undeclaredTail = kIdFixupShortfall;
  ids.memorySize = ids.DeclaredByteCount();
  img.segments.push_back(std::move(ids));
  return img;
}

}  // namespace

std::vector<std::uint8_t> BuildProgramImage() {
  std::string error;
  auto bytes = WriteProgramImage(ProgramFromTables(), &error);
  if (!bytes || bytes->size() > kDataSectionSize) {
    // The tables are this program's own: failing here is a build defect.
    std::fprintf(stderr, "program image: %s\n", bytes ? "larger than its data section" : error.c_str());
    std::abort();
  }
  return std::move(*bytes);
}

std::vector<std::uint8_t> BuildDataSection() {
  auto section = BuildProgramImage();
  section.resize(kDataSectionSize, 0);
  return section;
}

}  // namespace image
