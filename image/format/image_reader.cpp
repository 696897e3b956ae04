#include <algorithm>
#include <cctype>

#include "host/abi.h"
#include "image/format/byte_io.h"
#include "image/format/program_image.h"

namespace image {
namespace {

// A chain longer than this is damaged, not large.
constexpr std::size_t kMaxSegments = 64;

bool IsHexDigits(std::string_view s, std::size_t n) {
  return s.size() == n && std::all_of(s.begin(), s.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) != 0;
         });
}

bool IsDecimal(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Quoted(const Segment& s) { return "segment '" + s.name + "'"; }

class Reader {
 public:
  Reader(std::span<const std::uint8_t> bytes, std::string* error) : b_(bytes), error_(error) {}

  std::optional<ProgramImage> Read() {
    if (!ReadHeader() || !ReadLibraries() || !ReadChain() || !CheckNamedSegments() ||
        !ReadNativeCalls() || !CheckFixups() || !ReadIdGroups() || !CheckStartRoutine() ||
        !ReadForm())
      return std::nullopt;
    return std::move(img_);
  }

 private:
  bool Fail(std::string what) {
    if (error_) *error_ = std::move(what);
    return false;
  }
  // True when [at, at + n) lies inside the bytes.
  bool Inside(std::uint64_t at, std::uint64_t n) const { return at <= b_.size() && n <= b_.size() - at; }

  bool ReadHeader() {
    if (b_.size() < hdr::kNativeCalls)
      return Fail("image is " + std::to_string(b_.size()) + " bytes, shorter than its " +
                  std::to_string(hdr::kNativeCalls) + "-byte header");
    if (b_[0] != kMagic0 || b_[1] != kMagic1)
      return Fail("bad magic: the image starts with " + Hex(b_[0]) + " " + Hex(b_[1]) + ", not \"WJ\"");
    Header& h = img_.header;
    std::copy(b_.begin() + hdr::kReserved, b_.begin() + hdr::kReserved + hdr::kReservedSize, h.reserved.begin());
    h.firstSegment = Get32(b_, hdr::kFirstSegment);
    h.word28 = Get32(b_, hdr::kWord28);
    h.word2C = Get32(b_, hdr::kWord2C);
    h.word30 = Get32(b_, hdr::kWord30);
    h.word34 = Get32(b_, hdr::kWord34);
    h.startRoutine = Get32(b_, hdr::kStartRoutine);
    h.constHeader = Get32(b_, hdr::kConstHeader);
    h.formHeader = Get32(b_, hdr::kFormHeader);
    h.helpHeader = Get32(b_, hdr::kHelpHeader);
    h.codeHeader = Get32(b_, hdr::kCodeHeader);
    h.varHeader = Get32(b_, hdr::kVarHeader);
    h.word54 = Get32(b_, hdr::kWord54);
    nativeCount_ = Get32(b_, hdr::kNativeCallCount);
    if (!Inside(hdr::kNativeCalls, 8ull * nativeCount_))
      return Fail("native-call count " + std::to_string(nativeCount_) + " does not fit in the image");
    tablesEnd_ = hdr::kNativeCalls + 8ull * nativeCount_;
    if (h.firstSegment <= tablesEnd_)
      return Fail("first segment header " + Hex(h.firstSegment) +
                  " leaves no room for the support-library list after the native-call table");
    if (h.firstSegment > b_.size())
      return Fail("first segment header " + Hex(h.firstSegment) + " lies past the end of the image");
    return true;
  }

  bool ReadLibraries() {
    const std::uint32_t end = img_.header.firstSegment;
    Cursor c(b_, tablesEnd_, end);
    for (std::size_t index = 0;; ++index) {
      std::string record;
      if (!c.Text(record))
        return Fail("support-library list is not ended by an empty record before the first segment header at " +
                    Hex(end));
      if (record.empty()) break;
      std::vector<std::string> fields;
      std::size_t from = 0;
      for (;;) {
        auto cr = record.find(kFieldSeparator, from);
        fields.push_back(record.substr(from, cr == std::string::npos ? std::string::npos : cr - from));
        if (cr == std::string::npos) break;
        from = cr + 1;
      }
      const std::string which = "support library " + std::to_string(index);
      if (fields.size() != kLibraryFields)
        return Fail(which + " has " + std::to_string(fields.size()) + " fields, not " +
                    std::to_string(kLibraryFields));
      if (!IsHexDigits(fields[1], 32)) return Fail(which + ": identifier is not 32 hexadecimal digits");
      if (!IsDecimal(fields[2]) || !IsDecimal(fields[3])) return Fail(which + ": version is not a number");
      img_.libraries.push_back({fields[0], fields[1], fields[2], fields[3], fields[4]});
    }
    if (c.pos() != end)
      return Fail("support-library list ends at " + Hex(c.pos()) +
                  ", not directly before the first segment header at " + Hex(end));
    return true;
  }

  bool ReadChain() {
    std::uint32_t at = img_.header.firstSegment;
    std::vector<std::uint32_t> seen;
    while (at != kNone) {
      const std::string from = img_.segments.empty() ? std::string("the header")
                                                     : Quoted(img_.segments.back());
      if (img_.segments.size() == kMaxSegments)
        return Fail("segment chain is longer than " + std::to_string(kMaxSegments) + " segments");
      if (std::find(seen.begin(), seen.end(), at) != seen.end())
        return Fail("segment chain loops: " + from + " leads back to the header at " + Hex(at));
      seen.push_back(at);
      if (!Inside(at, seg::kFixedSize))
        return Fail(from + " leads to a segment header at " + Hex(at) + " past the end of the image");
      Segment s;
      s.headerOffset = at;
      const char* name = reinterpret_cast<const char*>(b_.data() + at + seg::kName);
      s.name.assign(name, std::find(name, name + seg::kNameSize, '\0'));
      const std::uint32_t headerSize = Get32(b_, at + seg::kHeaderSize);
      const std::uint32_t next = Get32(b_, at + seg::kNext);
      s.flags = Get32(b_, at + seg::kFlags);
      s.memorySize = Get32(b_, at + seg::kMemorySize);
      const std::uint32_t count = Get32(b_, at + seg::kByteCount);
      s.dataOffset = Get32(b_, at + seg::kDataOffset);
      const std::uint32_t fixups = Get32(b_, at + seg::kFixupCount);
      s.reserved = Get32(b_, at + seg::kReserved);
      const std::string me = Quoted(s);
      if (headerSize != seg::kFixedSize + 4ull * fixups)
        return Fail(me + ": header size " + std::to_string(headerSize) + " does not match its " +
                    std::to_string(fixups) + " fixups");
      if (!Inside(at, headerSize)) return Fail(me + ": its fixups run past the end of the image");
      if (s.dataOffset == kNone) {
        if (count != 0) return Fail(me + ": " + std::to_string(count) + " bytes but no data offset");
      } else {
        if (!Inside(s.dataOffset, count))
          return Fail(me + ": its " + std::to_string(count) + " bytes at " + Hex(s.dataOffset) +
                      " run past the end of the image");
        s.hasBytes = true;
        s.bytes.assign(b_.begin() + s.dataOffset, b_.begin() + s.dataOffset + count);
      }
      if (s.memorySize < count)
        return Fail(me + ": " + std::to_string(count) + " bytes in the image but only " +
                    std::to_string(s.memorySize) + " in memory");
      s.fixups.resize(fixups);
      for (std::uint32_t i = 0; i < fixups; ++i) {
        const std::uint32_t f = s.fixups[i] = Get32(b_, at + seg::kFixups + 4ull * i);
        const std::string which = me + ": fixup " + std::to_string(i);
        if (FixupTypeOf(f) > static_cast<std::uint32_t>(FixupType::kCode))
          return Fail(which + " has unknown type " + std::to_string(FixupTypeOf(f)));
        if (std::uint64_t(FixupOffset(f)) + 4 > count) return Fail(which + " points past the segment's bytes");
        if (i > 0 && FixupOffset(f) <= FixupOffset(s.fixups[i - 1]))
          return Fail(which + " is out of order (offsets must rise)");
      }
      img_.segments.push_back(std::move(s));
      at = next;
    }
    return true;
  }

  bool CheckNamedSegments() {
    for (std::size_t i = 0; i < img_.segments.size(); ++i)
      for (std::size_t j = 0; j < i; ++j)
        if (img_.segments[i].name == img_.segments[j].name)
          return Fail("segment name '" + img_.segments[i].name + "' appears twice in the chain");
    const Header& h = img_.header;
    const struct {
      std::uint32_t word, value;
      std::string_view name;
    } named[] = {{hdr::kConstHeader, h.constHeader, kConstName}, {hdr::kFormHeader, h.formHeader, kFormName},
                 {hdr::kHelpHeader, h.helpHeader, kHelpName},    {hdr::kCodeHeader, h.codeHeader, kCodeName},
                 {hdr::kVarHeader, h.varHeader, kVarName}};
    for (const auto& n : named) {
      const std::string which = "header word " + Hex(n.word) + " (" + std::string(n.name) + " segment header)";
      auto it = std::find_if(img_.segments.begin(), img_.segments.end(),
                             [&](const Segment& s) { return s.headerOffset == n.value; });
      if (it == img_.segments.end()) return Fail(which + " is " + Hex(n.value) + ", no segment header of the chain");
      if (it->name != n.name) return Fail(which + " names segment '" + it->name + "'");
    }
    if (!img_.Find(kIdFixupName)) return Fail("no '" + std::string(kIdFixupName) + "' segment");
    return true;
  }

  bool TextInConst(std::uint32_t offset, std::string& out, const std::string& which) {
    const Segment& k = img_.Const();
    Cursor c(k.bytes, offset, k.bytes.size());
    if (offset >= k.bytes.size())
      return Fail(which + " at " + Hex(offset) + " lies past the const segment's " +
                  std::to_string(k.bytes.size()) + " bytes");
    if (!c.Text(out)) return Fail(which + " at " + Hex(offset) + " is not terminated inside the const segment");
    return true;
  }

  bool ReadNativeCalls() {
    for (std::uint32_t i = 0; i < nativeCount_; ++i) {
      NativeCall nc;
      nc.libraryOffset = Get32(b_, hdr::kNativeCalls + 4ull * i);
      nc.entryOffset = Get32(b_, hdr::kNativeCalls + 4ull * (nativeCount_ + i));
      const std::string which = "native call " + std::to_string(i);
      if (!TextInConst(nc.libraryOffset, nc.library, which + ": library name") ||
          !TextInConst(nc.entryOffset, nc.entry, which + ": entry name"))
        return false;
      if (nc.entry.empty()) return Fail(which + ": empty entry name");
      img_.nativeCalls.push_back(std::move(nc));
    }
    return true;
  }

  // What a fixup's stored value refers to must exist.
  bool CheckFixups() {
    const std::uint64_t constSize = img_.Const().bytes.size();
    const std::uint64_t varSize = img_.Var().memorySize;
    const std::uint64_t codeSize = img_.Code().bytes.size();
    for (const Segment& s : img_.segments) {
      for (std::size_t i = 0; i < s.fixups.size(); ++i) {
        const std::uint32_t f = s.fixups[i];
        const std::uint32_t v = Get32(s.bytes, FixupOffset(f));
        const std::string which = Quoted(s) + ": fixup " + std::to_string(i) + " (type " +
                                  std::to_string(FixupTypeOf(f)) + " at " + Hex(FixupOffset(f)) + ") holds " + Hex(v);
        switch (static_cast<FixupType>(FixupTypeOf(f))) {
          case FixupType::kService:
            if (v % host::kStoredUnit || v / host::kStoredUnit >= host::kSlotCount)
              return Fail(which + ", which is no service-table slot");
            break;
          case FixupType::kConst:
            if (v >= constSize) return Fail(which + ", past the const segment's " + std::to_string(constSize) + " bytes");
            break;
          case FixupType::kGlobal:
            if (v + 4ull > varSize) return Fail(which + ", past the var segment's " + std::to_string(varSize) + " bytes");
            break;
          case FixupType::kCode:
            if (v >= codeSize) return Fail(which + ", past the code segment's " + std::to_string(codeSize) + " bytes");
            break;
        }
      }
    }
    return true;
  }

  bool ReadIdGroups() {
    Segment& s = *std::find_if(img_.segments.begin(), img_.segments.end(),
                               [](const Segment& x) { return x.name == kIdFixupName; });
    const std::string me = Quoted(s);
    if (!s.hasBytes) return Fail(me + ": has no bytes");
    const Segment& code = img_.Code();
    // The size fields may stop short of the last group: take the groups by
    // their counts, bounded by the image.
    Cursor c(b_, s.dataOffset, b_.size());
    for (std::uint32_t g = 0; g < kIdGroupCount; ++g) {
      std::uint32_t count = 0;
      if (!c.U32(count)) return Fail(me + ": group " + std::to_string(g) + " is cut short by the end of the image");
      if (count > c.remaining() / 4)
        return Fail(me + ": group " + std::to_string(g) + " count " + std::to_string(count) +
                    " runs past the end of the image");
      auto& group = img_.idGroups[g];
      group.resize(count);
      for (std::uint32_t k = 0; k < count; ++k) {
        c.U32(group[k]);
        const std::string which = me + ": group " + std::to_string(g) + " entry " + std::to_string(k);
        if (group[k] + 4ull > code.bytes.size()) return Fail(which + " points past the code segment's bytes");
        const std::uint32_t id = Get32(code.bytes, group[k]);
        if (g == static_cast<std::uint32_t>(IdGroup::kNativeIndex) && id >= img_.nativeCalls.size())
          return Fail(which + " holds native-call index " + std::to_string(id) + " of " +
                      std::to_string(img_.nativeCalls.size()));
        if (g == static_cast<std::uint32_t>(IdGroup::kLibraryIndex) && id >= img_.libraries.size())
          return Fail(which + " holds library index " + std::to_string(id) + " of " +
                      std::to_string(img_.libraries.size()));
      }
    }
    const std::uint64_t declaredEnd = std::uint64_t(s.dataOffset) + s.bytes.size();
    if (c.pos() > declaredEnd) {
      for (const Segment& other : img_.segments)
        if (other.headerOffset >= declaredEnd && other.headerOffset < c.pos())
          return Fail(me + ": its groups run into " + Quoted(other) + "'s header");
      s.undeclaredTail = static_cast<std::uint32_t>(c.pos() - declaredEnd);
      s.bytes.assign(b_.begin() + s.dataOffset, b_.begin() + static_cast<std::ptrdiff_t>(c.pos()));
    }
    return true;
  }

  bool CheckStartRoutine() {
    const Segment& code = img_.Code();
    const std::uint32_t at = img_.header.startRoutine;
    if (!code.hasBytes || at < code.dataOffset || at - code.dataOffset >= code.bytes.size())
      return Fail("header word " + Hex(hdr::kStartRoutine) + " (start routine) is " + Hex(at) +
                  ", outside the code segment's bytes");
    img_.startRoutine = at - code.dataOffset;
    return true;
  }

  bool ReadForm() {
    const Segment* form = img_.Find(kFormName);
    auto decoded = DecodeForm(form->bytes, error_);
    if (!decoded) return false;
    img_.form = std::move(*decoded);
    const std::size_t codeSize = img_.Code().bytes.size();
    for (std::size_t i = 0; i < img_.form.records.size(); ++i) {
      const FormRecord& r = img_.form.records[i];
      for (const EventBinding& e : r.events)
        if (e.handler >= codeSize)
          return Fail("form: entry " + std::to_string(i) + " (id " + Hex(r.id) + "): handler " + Hex(e.handler) +
                      " of event " + std::to_string(e.event) + " lies past the code segment's " +
                      std::to_string(codeSize) + " bytes");
    }
    return true;
  }

  std::span<const std::uint8_t> b_;
  std::string* error_;
  ProgramImage img_;
  std::uint32_t nativeCount_ = 0;
  std::uint64_t tablesEnd_ = 0;
};

const Segment kNoSegment{};

}  // namespace

const Segment* ProgramImage::Find(std::string_view name) const {
  for (const Segment& s : segments)
    if (s.name == name) return &s;
  return nullptr;
}

const Segment& ProgramImage::Const() const {
  const Segment* s = Find(kConstName);
  return s ? *s : kNoSegment;
}
const Segment& ProgramImage::Code() const {
  const Segment* s = Find(kCodeName);
  return s ? *s : kNoSegment;
}
const Segment& ProgramImage::Var() const {
  const Segment* s = Find(kVarName);
  return s ? *s : kNoSegment;
}

std::optional<ProgramImage> ReadProgramImage(std::span<const std::uint8_t> bytes, std::string* error) {
  try {
    return Reader(bytes, error).Read();
  } catch (...) {
    if (error) *error = "out of memory while reading the image";
    return std::nullopt;
  }
}

}  // namespace image
