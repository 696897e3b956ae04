// Fixed numbers of the program image's layout: where the header keeps what,
// how a segment header is laid out, and the segment flags and names.
// All integers in the image are little-endian; all offsets in the header and
// in segment headers count bytes from the image's first byte.
#pragma once

#include <cstdint>
#include <string_view>

namespace image {

// The executable keeps the image at the start of a writable buffer of this
// size, zero after the image's last byte. The host receives only the image's
// address, so this size is what bounds a reader there.
inline constexpr std::uint32_t kDataSectionSize = 0x4200;

inline constexpr std::uint8_t kMagic0 = 0x57;  // 'W'
inline constexpr std::uint8_t kMagic1 = 0x4A;  // 'J'

// Header words.
namespace hdr {
inline constexpr std::uint32_t kReserved = 0x02;          // 34 zero bytes
inline constexpr std::uint32_t kReservedSize = 34;
inline constexpr std::uint32_t kFirstSegment = 0x24;
inline constexpr std::uint32_t kWord28 = 0x28;
inline constexpr std::uint32_t kWord2C = 0x2C;
inline constexpr std::uint32_t kWord30 = 0x30;
inline constexpr std::uint32_t kWord34 = 0x34;
inline constexpr std::uint32_t kNativeCallCount = 0x38;
inline constexpr std::uint32_t kStartRoutine = 0x3C;   // image offset, inside the code bytes
inline constexpr std::uint32_t kConstHeader = 0x40;
inline constexpr std::uint32_t kFormHeader = 0x44;
inline constexpr std::uint32_t kHelpHeader = 0x48;
inline constexpr std::uint32_t kCodeHeader = 0x4C;
inline constexpr std::uint32_t kVarHeader = 0x50;
inline constexpr std::uint32_t kWord54 = 0x54;         // the const header offset again
inline constexpr std::uint32_t kNativeCalls = 0x58;    // count x library offset, then count x entry offset
}  // namespace hdr

// Segment header.
namespace seg {
inline constexpr std::uint32_t kHeaderSize = 0x00;   // 56 + 4 per fixup
inline constexpr std::uint32_t kNext = 0x04;         // kNone for the last
inline constexpr std::uint32_t kFlags = 0x08;
inline constexpr std::uint32_t kName = 0x0C;
inline constexpr std::uint32_t kNameSize = 24;
inline constexpr std::uint32_t kMemorySize = 0x24;
inline constexpr std::uint32_t kByteCount = 0x28;
inline constexpr std::uint32_t kDataOffset = 0x2C;   // kNone when there are no bytes
inline constexpr std::uint32_t kFixupCount = 0x30;
inline constexpr std::uint32_t kReserved = 0x34;
inline constexpr std::uint32_t kFixups = 0x38;
inline constexpr std::uint32_t kFixedSize = 56;
}  // namespace seg

inline constexpr std::uint32_t kNone = 0xFFFFFFFF;

// Segment flags.
inline constexpr std::uint32_t kFlagPresent = 0x01;     // every segment
inline constexpr std::uint32_t kFlagWritable = 0x02;    // written at run time
inline constexpr std::uint32_t kFlagExecutable = 0x04;  // the code
inline constexpr std::uint32_t kFlagNoBytes = 0x10;     // no bytes in the image

inline constexpr std::string_view kConstName = "const";
inline constexpr std::string_view kFormName = "form";
inline constexpr std::string_view kHelpName = "help";
inline constexpr std::string_view kCodeName = "code";
inline constexpr std::string_view kVarName = "var";
inline constexpr std::string_view kIdFixupName = "@reloc1";

// Code fixups: (offset within the segment's bytes << 3) | type.
enum class FixupType : std::uint32_t {
  kService = 0,  // a service-table slot offset
  kConst = 1,    // an offset into the const segment's bytes
  kGlobal = 2,   // an offset into the var segment
  kCode = 3,     // an offset into the code segment's bytes
};
constexpr std::uint32_t FixupOffset(std::uint32_t entry) { return entry >> 3; }
constexpr std::uint32_t FixupTypeOf(std::uint32_t entry) { return entry & 7; }
constexpr std::uint32_t MakeFixup(std::uint32_t offset, FixupType t) {
  return offset << 3 | static_cast<std::uint32_t>(t);
}

// Identifier groups of the @reloc1 segment, in stored order.
inline constexpr std::uint32_t kIdGroupCount = 4;
enum class IdGroup : std::uint32_t {
  kWindowOrControl = 0,  // window id or control id
  kNativeIndex = 1,      // native-call index
  kLibraryIndex = 2,     // support-library index
  kTypeTag = 3,          // type tag of a control reference
};

// The @reloc1 segment's size fields stop this many bytes before the end of
// its last group; a reader takes the groups by their counts.
inline constexpr std::uint32_t kIdFixupShortfall = 4;

// Support-library records: five fields separated by CR.
inline constexpr char kFieldSeparator = '\r';
inline constexpr std::uint32_t kLibraryFields = 5;

}  // namespace image
