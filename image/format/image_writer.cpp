#include "image/format/byte_io.h"
#include "image/format/program_image.h"

namespace image {
namespace {

std::nullopt_t Error(std::string* error, std::string what) {
  if (error) *error = std::move(what);
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> Write(const ProgramImage& img, std::string* error) {
  const auto n = static_cast<std::uint32_t>(img.nativeCalls.size());
  std::vector<std::uint8_t> out(hdr::kNativeCalls + 8 * std::size_t(n), 0);
  out[0] = kMagic0;
  out[1] = kMagic1;
  std::copy(img.header.reserved.begin(), img.header.reserved.end(), out.begin() + hdr::kReserved);
  Put32At(out, hdr::kWord28, img.header.word28);
  Put32At(out, hdr::kWord2C, img.header.word2C);
  Put32At(out, hdr::kWord30, img.header.word30);
  Put32At(out, hdr::kWord34, img.header.word34);
  Put32At(out, hdr::kNativeCallCount, n);
  for (std::uint32_t i = 0; i < n; ++i) {
    Put32At(out, hdr::kNativeCalls + 4 * i, img.nativeCalls[i].libraryOffset);
    Put32At(out, hdr::kNativeCalls + 4 * (n + i), img.nativeCalls[i].entryOffset);
  }
  for (const Library& lib : img.libraries) {
    for (std::string_view field : {lib.name, lib.id, lib.major, lib.minor}) {
      PutBytes(out, field);
      out.push_back(kFieldSeparator);
    }
    PutText(out, lib.description);
  }
  out.push_back(0);  // the empty record ends the list
  Put32At(out, hdr::kFirstSegment, static_cast<std::uint32_t>(out.size()));

  std::vector<std::uint32_t> headers, data;
  for (const Segment& s : img.segments) {
    if (!s.hasBytes && !s.bytes.empty())
      return Error(error, "segment '" + s.name + "' has bytes but is marked as having none");
    if (s.undeclaredTail > s.bytes.size())
      return Error(error, "segment '" + s.name + "' leaves more bytes undeclared than it has");
    if (s.name.size() >= seg::kNameSize)
      return Error(error, "segment name '" + s.name + "' is too long");
    const auto at = static_cast<std::uint32_t>(out.size());
    headers.push_back(at);
    out.resize(out.size() + seg::kFixedSize + 4 * s.fixups.size(), 0);
    Put32At(out, at + seg::kHeaderSize, static_cast<std::uint32_t>(seg::kFixedSize + 4 * s.fixups.size()));
    Put32At(out, at + seg::kFlags, s.flags);
    std::copy(s.name.begin(), s.name.end(), out.begin() + at + seg::kName);
    Put32At(out, at + seg::kMemorySize, s.memorySize);
    Put32At(out, at + seg::kByteCount, s.DeclaredByteCount());
    Put32At(out, at + seg::kDataOffset, s.hasBytes ? at + seg::kFixedSize + 4 * s.fixups.size() : kNone);
    Put32At(out, at + seg::kFixupCount, static_cast<std::uint32_t>(s.fixups.size()));
    Put32At(out, at + seg::kReserved, s.reserved);
    for (std::size_t i = 0; i < s.fixups.size(); ++i) Put32At(out, at + seg::kFixups + 4 * i, s.fixups[i]);
    data.push_back(s.hasBytes ? static_cast<std::uint32_t>(out.size()) : kNone);
    out.insert(out.end(), s.bytes.begin(), s.bytes.end());
  }
  for (std::size_t i = 0; i < headers.size(); ++i)
    Put32At(out, headers[i] + seg::kNext, i + 1 < headers.size() ? headers[i + 1] : kNone);

  auto headerOf = [&](std::string_view name) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < img.segments.size(); ++i)
      if (img.segments[i].name == name) return i;
    return std::nullopt;
  };
  const std::pair<std::uint32_t, std::string_view> named[] = {
      {hdr::kConstHeader, kConstName}, {hdr::kFormHeader, kFormName}, {hdr::kHelpHeader, kHelpName},
      {hdr::kCodeHeader, kCodeName},   {hdr::kVarHeader, kVarName}};
  for (const auto& [word, name] : named) {
    auto i = headerOf(name);
    if (!i) return Error(error, "no segment named '" + std::string(name) + "'");
    Put32At(out, word, headers[*i]);
  }
  Put32At(out, hdr::kWord54, headers[*headerOf(kConstName)]);
  const std::size_t code = *headerOf(kCodeName);
  if (!img.segments[code].hasBytes || img.startRoutine >= img.segments[code].DeclaredByteCount())
    return Error(error, "the start routine " + Hex(img.startRoutine) + " lies outside the code bytes");
  Put32At(out, hdr::kStartRoutine, data[code] + img.startRoutine);
  return out;
}

}  // namespace

std::vector<std::uint8_t> EncodeIdGroups(const IdGroups& groups) {
  std::vector<std::uint8_t> out;
  for (const auto& g : groups) {
    Put32(out, static_cast<std::uint32_t>(g.size()));
    for (auto offset : g) Put32(out, offset);
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> WriteProgramImage(const ProgramImage& image, std::string* error) {
  try {
    return Write(image, error);
  } catch (...) {
    return Error(error, "out of memory while writing the image");
  }
}

}  // namespace image
