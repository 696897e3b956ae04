// The program image as a structure: what the writer lays out and what the
// reader finds in any image of this layout.
//
// The writer lays the image out from a ProgramImage: header, native-call
// offsets, support-library list, then the segments in chain order, each
// header followed directly by its bytes. Everything that is an offset or a
// count (the header's segment offsets, the start routine's image offset, the
// segment chain, header sizes, data offsets) is computed; the rest comes from
// the structure. The form and identifier groups are decoded views of their
// segments' bytes: the writer writes the bytes.
//
// The reader parses an image in a span of bytes and never reads outside it.
// It checks every offset, size and count, and returns nullopt with a message
// that names what is wrong. No exception leaves either function.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/format/form_segment.h"
#include "image/format/image_format.h"

namespace image {

struct Header {
  std::array<std::uint8_t, hdr::kReservedSize> reserved{};
  std::uint32_t firstSegment = 0;  // image offset of the first segment header
  std::uint32_t word28 = 0, word2C = 0, word30 = 0, word34 = 0;
  std::uint32_t startRoutine = 0;  // image offset of the start routine
  std::uint32_t constHeader = 0, formHeader = 0, helpHeader = 0, codeHeader = 0, varHeader = 0;
  std::uint32_t word54 = 0;
};

struct NativeCall {
  std::uint32_t libraryOffset = 0;  // into the const segment's bytes
  std::uint32_t entryOffset = 0;
  std::string library;  // empty: the system libraries every GUI process has
  std::string entry;
};

struct Library {
  std::string name, id, major, minor, description;  // as stored (description in code page 936)
};

struct Segment {
  std::string name;
  std::uint32_t flags = 0;
  std::uint32_t memorySize = 0;
  bool hasBytes = false;  // false: data offset kNone
  // The bytes the segment's content takes. For the identifier fixups these
  // may run past what the size fields declare: see undeclaredTail.
  std::vector<std::uint8_t> bytes;
  std::uint32_t undeclaredTail = 0;  // trailing bytes of `bytes` the size fields leave out
  std::vector<std::uint32_t> fixups;  // (offset << 3) | type, sorted by offset
  std::uint32_t reserved = 0;
  // Where the reader found it; ignored by the writer.
  std::uint32_t headerOffset = 0;
  std::uint32_t dataOffset = kNone;

  std::uint32_t DeclaredByteCount() const {
    return static_cast<std::uint32_t>(bytes.size()) - undeclaredTail;
  }
};

using IdGroups = std::array<std::vector<std::uint32_t>, kIdGroupCount>;

struct ProgramImage {
  Header header;                        // as read; the writer recomputes offsets
  std::uint32_t startRoutine = 0;       // offset from the start of the code bytes
  std::vector<NativeCall> nativeCalls;  // by index
  std::vector<Library> libraries;       // by index
  std::vector<Segment> segments;        // chain order
  IdGroups idGroups;                    // code offsets, decoded from the @reloc1 segment
  Form form;                            // decoded from the form segment

  const Segment* Find(std::string_view name) const;
  // The segments every image of this layout has (present after a successful
  // read; an empty segment otherwise).
  const Segment& Const() const;
  const Segment& Code() const;
  const Segment& Var() const;
};

// Parses an image. The bytes past the image's end (the rest of the buffer it
// lies in) are allowed and ignored.
std::optional<ProgramImage> ReadProgramImage(std::span<const std::uint8_t> bytes, std::string* error);

// Lays an image out. Fails when a segment the header names is missing or the
// start routine lies outside the code bytes.
std::optional<std::vector<std::uint8_t>> WriteProgramImage(const ProgramImage& image, std::string* error);

// The identifier groups as stored: per group a count and that many offsets.
std::vector<std::uint8_t> EncodeIdGroups(const IdGroups& groups);

}  // namespace image
