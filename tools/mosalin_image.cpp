// mosalin-image: prints the program image's structure and writes its bytes.
//
//   mosalin-image show [FILE]   the structure of the built image, or of FILE
//   mosalin-image dump FILE     writes the built image's bytes to FILE
//
// Texts of the image are code page 936; they are shown as UTF-8.
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "host/abi.h"
#include "host/ui.h"
#include "image/const_pool.h"
#include "image/form_table.h"
#include "image/format/byte_io.h"
#include "image/format/program_image.h"
#include "image/link_area.h"
#include "image/program_layout.h"

namespace {

using image::Hex;

// Code page 936 to UTF-8. Bytes that do not convert are shown as \xNN.
std::string Utf8(std::string_view gbk) {
  std::string out;
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) cd = nullptr;
  std::size_t i = 0;
  while (i < gbk.size()) {
    unsigned char c = static_cast<unsigned char>(gbk[i]);
    if (c < 0x80) {
      if (c == '\r') out += "\\r";
      else if (c == '\n') out += "\\n";
      else if (c < 0x20 || c == 0x7F) out += "\\x" + Hex(c).substr(2);
      else out += static_cast<char>(c);
      ++i;
      continue;
    }
    bool done = false;
    if (cd && i + 1 < gbk.size()) {
      char in[2] = {gbk[i], gbk[i + 1]};
      char buf[8];
      char* inp = in;
      char* outp = buf;
      std::size_t inLeft = 2, outLeft = sizeof buf;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0) {
        out.append(buf, outp);
        i += 2;
        done = true;
      }
    }
    if (!done) {
      out += "\\x" + Hex(c).substr(2);
      ++i;
    }
  }
  if (cd) iconv_close(cd);
  return out;
}

std::string Quote(std::string_view gbk) { return "\"" + Utf8(gbk) + "\""; }

std::string RoutineName(std::uint32_t codeOffset) {
  for (const auto& r : image::kRoutines)
    if (image::Offset(r.routine) == codeOffset) return std::string(r.name);
  return {};
}

const char* GlobalName(std::uint32_t offset) {
  static const char* const kNames[] = {
      "tileDir",    "tilePrefix",   "entryName",   "gridSize", "tileEdge",     "mosaicEdge",
      "gdipStartupInput", "gdipToken", "screenDc", "mosaicDc", "mosaicBitmap", "savedBitmap",
      "rowIndex",   "bmpFileBytes", "colIndex",    "tilesDrawn", "outputPath"};
  if (offset % 4 || offset / 4 >= std::size(kNames)) return "?";
  return kNames[offset / 4];
}

const char* SlotName(std::uint32_t offset) {
  static const char* const kNames[] = {
      "ReportRuntimeError", "CallNative", "CallLibraryCommand", "CallCoreCommand", "ReadProperty",
      "WriteProperty",      "Allocate",   "(unused)",           "Free",            "EndProgram",
      "RunMessageLoop",     "LoadStartWindow", "AuxService"};
  if (offset % 4 || offset / 4 >= std::size(kNames)) return "?";
  return kNames[offset / 4];
}

const char* KindName(std::uint32_t kind) {
  switch (kind) {
    case host::kKindWindow: return "window";
    case host::kKindEdit: return "edit box";
    case host::kKindGroupBox: return "group box";
    case host::kKindLabel: return "label";
    case host::kKindButton: return "button";
    case host::kKindProgressBar: return "progress bar";
    case host::kKindCommonDialog: return "common dialog";
    default: return "unknown kind";
  }
}

std::string FlagNames(std::uint32_t f) {
  std::string s;
  auto add = [&](std::uint32_t bit, const char* name) {
    if (f & bit) s += (s.empty() ? "" : "|") + std::string(name);
  };
  add(image::kFlagPresent, "present");
  add(image::kFlagWritable, "writable");
  add(image::kFlagExecutable, "executable");
  add(image::kFlagNoBytes, "no-bytes");
  return s;
}

// What a constant-pool offset holds, for fixup and constant listings.
std::string ConstAt(const image::ProgramImage& img, std::uint32_t offset) {
  const auto& bytes = img.Const().bytes;
  if (bytes.size() == image::kConstSize) {
    for (const auto& it : image::ConstItems()) {
      if (it.offset != offset) continue;
      switch (it.kind) {
        case image::ConstKind::kDouble: {
          auto bits = std::uint64_t(image::Get32(bytes, offset)) |
                      std::uint64_t(image::Get32(bytes, offset + 4)) << 32;
          // The shortest form that reads back as the same double.
          const double d = std::bit_cast<double>(bits);
          char buf[64];
          for (int precision = 6; precision <= 17; ++precision) {
            std::snprintf(buf, sizeof buf, "%.*g", precision, d);
            if (std::strtod(buf, nullptr) == d) break;
          }
          return std::string("double ") + buf;
        }
        case image::ConstKind::kEmptyBuffer:
          return "byte buffer {" + std::to_string(image::Get32(bytes, offset)) + ", " +
                 std::to_string(image::Get32(bytes, offset + 4)) + "} (the empty buffer)";
        case image::ConstKind::kGap: return "gap of " + std::to_string(it.size) + " zero bytes";
        case image::ConstKind::kText: break;
      }
    }
  }
  image::Cursor c(bytes, offset, bytes.size());
  std::string text;
  if (offset < bytes.size() && c.Text(text)) return "text " + Quote(text);
  return "(unterminated)";
}

std::string ControlName(const image::ProgramImage& img, std::uint32_t id) {
  if (id == img.form.windowId) return "the window";
  if (const auto* r = img.form.Find(id)) return Utf8(r->name);
  return "?";
}

void ShowHeader(const image::ProgramImage& img) {
  const auto& h = img.header;
  std::printf("Header\n");
  std::printf("  first segment header  %s\n", Hex(h.firstSegment).c_str());
  std::printf("  words 0x28..0x34      %s %s %s %s\n", Hex(h.word28).c_str(), Hex(h.word2C).c_str(),
              Hex(h.word30).c_str(), Hex(h.word34).c_str());
  std::printf("  native calls          %zu\n", img.nativeCalls.size());
  std::printf("  start routine         %s (code offset %s%s%s)\n", Hex(h.startRoutine).c_str(),
              Hex(img.startRoutine).c_str(), RoutineName(img.startRoutine).empty() ? "" : ", ",
              RoutineName(img.startRoutine).c_str());
  std::printf("  segment headers       const %s, form %s, help %s, code %s, var %s\n", Hex(h.constHeader).c_str(),
              Hex(h.formHeader).c_str(), Hex(h.helpHeader).c_str(), Hex(h.codeHeader).c_str(),
              Hex(h.varHeader).c_str());
  std::printf("  word 0x54             %s\n", Hex(h.word54).c_str());
}

void ShowNativeCalls(const image::ProgramImage& img) {
  std::printf("\nNative calls\n");
  for (std::size_t i = 0; i < img.nativeCalls.size(); ++i) {
    const auto& n = img.nativeCalls[i];
    std::printf("  %2zu  %-14s %-24s (const %s, %s)\n", i,
                n.library.empty() ? "(system)" : Quote(n.library).c_str(), n.entry.c_str(),
                Hex(n.libraryOffset).c_str(), Hex(n.entryOffset).c_str());
  }
}

void ShowLibraries(const image::ProgramImage& img) {
  std::printf("\nSupport libraries\n");
  for (std::size_t i = 0; i < img.libraries.size(); ++i) {
    const auto& l = img.libraries[i];
    std::printf("  %zu  %s  id %s  version %s.%s  %s\n", i, Utf8(l.name).c_str(), l.id.c_str(),
                l.major.c_str(), l.minor.c_str(), Quote(l.description).c_str());
  }
}

void ShowSegments(const image::ProgramImage& img) {
  std::printf("\nSegments (chain order)\n");
  for (const auto& s : img.segments) {
    std::printf("  %-8s header %s  flags %s (%s)  memory %u  bytes %u at %s  fixups %zu",
                s.name.c_str(), Hex(s.headerOffset).c_str(), Hex(s.flags).c_str(), FlagNames(s.flags).c_str(),
                s.memorySize, s.DeclaredByteCount(), s.hasBytes ? Hex(s.dataOffset).c_str() : "none",
                s.fixups.size());
    if (s.undeclaredTail) std::printf("  (+%u bytes past the declared size)", s.undeclaredTail);
    std::printf("\n");
  }
}

void ShowFixups(const image::ProgramImage& img) {
  static const char* const kTypes[] = {"service-table slots", "constants", "globals", "routine addresses"};
  for (const auto& s : img.segments) {
    if (s.fixups.empty()) continue;
    for (std::uint32_t type = 0; type < 4; ++type) {
      std::vector<std::uint32_t> of;
      for (auto f : s.fixups)
        if (image::FixupTypeOf(f) == type) of.push_back(image::FixupOffset(f));
      std::printf("\nFixups of '%s', type %u (%s): %zu\n", s.name.c_str(), type, kTypes[type], of.size());
      for (auto at : of) {
        std::uint32_t v = image::Get32(s.bytes, at);
        std::string what;
        switch (type) {
          case 0: what = SlotName(v); break;
          case 1: what = ConstAt(img, v); break;
          case 2: what = GlobalName(v); break;
          case 3: what = RoutineName(v); break;
        }
        std::printf("  at %s  %s  %s\n", Hex(at).c_str(), Hex(v).c_str(), what.c_str());
      }
    }
  }
}

void ShowIdGroups(const image::ProgramImage& img) {
  static const char* const kGroups[] = {"window and control ids", "native-call indices", "library indices",
                                        "type tags"};
  const auto& code = img.Code().bytes;
  for (std::uint32_t g = 0; g < image::kIdGroupCount; ++g) {
    std::printf("\nIdentifier group %u (%s): %zu\n", g, kGroups[g], img.idGroups[g].size());
    for (auto at : img.idGroups[g]) {
      std::uint32_t v = image::Get32(code, at);
      std::string what;
      if (g == 0) what = ControlName(img, v);
      if (g == 1 && v < img.nativeCalls.size()) what = img.nativeCalls[v].entry;
      if (g == 2 && v < img.libraries.size()) what = Utf8(img.libraries[v].name);
      if (g == 3) what = std::string("reference to a ") + KindName(v);
      std::printf("  at %s  %s  %s\n", Hex(at).c_str(), Hex(v).c_str(), what.c_str());
    }
  }
}

void ShowConstants(const image::ProgramImage& img) {
  const auto& bytes = img.Const().bytes;
  std::printf("\nConstants (%zu bytes)\n", bytes.size());
  if (bytes.size() == image::kConstSize) {
    for (const auto& it : image::ConstItems())
      std::printf("  %s  %s\n", Hex(it.offset).c_str(), ConstAt(img, it.offset).c_str());
    return;
  }
  // An image with another pool: list its zero-terminated runs.
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = at;
    while (end < bytes.size() && bytes[end]) ++end;
    if (end > at)
      std::printf("  %s  %s\n", Hex(at).c_str(),
                  Quote(std::string_view(reinterpret_cast<const char*>(bytes.data()) + at, end - at)).c_str());
    at = end + 1;
  }
}

void ShowForm(const image::ProgramImage& img) {
  const auto& f = img.form;
  std::printf("\nForm: window %s (word %s, block %s, reserved id %s), %zu entries\n", Hex(f.windowId).c_str(),
              Hex(f.windowWord).c_str(), Hex(f.blockStart).c_str(), Hex(f.reservedId).c_str(), f.records.size());
  for (std::size_t i = 0; i < f.records.size(); ++i) {
    const auto& r = f.records[i];
    std::printf("  %2zu  %s  %s %s\n", i, Hex(r.id).c_str(), KindName(r.kind),
                r.name.empty() ? "(no name)" : Utf8(r.name).c_str());
    const std::string parent = i == 0 ? "-" : r.parent ? Hex(r.parent) + " " + ControlName(img, r.parent) : "the window";
    std::printf("      at (%d, %d) size %d x %d  flags %s%s%s  parent %s\n", r.left, r.top, r.width, r.height,
                Hex(r.flags).c_str(), r.flags & image::kFlagVisible ? " visible" : "",
                r.flags & image::kFlagTabStop ? " tab-stop" : "", parent.c_str());
    if (!r.children.empty()) {
      std::printf("      children:");
      for (auto c : r.children) std::printf(" %s", ControlName(img, c).c_str());
      std::printf("\n");
    }
    for (const auto& e : r.events) {
      std::string name = RoutineName(e.handler);
      std::printf("      event %d -> %s%s%s\n", e.event, Hex(e.handler).c_str(), name.empty() ? "" : " ",
                  name.c_str());
    }
    const auto& p = r.properties;
    if (p.shape == image::PropertyShape::kNone) {
      std::printf("      properties: none (the kind's defaults)\n");
    } else if (p.shape == image::PropertyShape::kRaw) {
      std::printf("      properties: %zu bytes undecoded\n", p.raw.size());
    } else {
      std::printf("      properties:");
      for (auto v : p.values) std::printf(" %s", Hex(v).c_str());
      std::printf("\n      caption %s", Quote(p.caption).c_str());
      if (!p.trailer.empty()) {
        std::printf("  then");
        for (auto v : p.trailer) std::printf(" %s", Hex(v).c_str());
      }
      std::printf("\n");
    }
  }
}

bool ReadFile(const char* path, std::vector<std::uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Writes through a temporary file in the same directory, then renames it,
// so that FILE is either the old file or the whole new one.
bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::string tmp = path + ".tmpXXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  bool ok = done == bytes.size() && fchmod(fd, 0644) == 0 && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok && std::rename(tmp.c_str(), path.c_str()) == 0) return true;
  std::remove(tmp.c_str());
  return false;
}

int Usage() {
  std::fprintf(stderr,
               "usage: mosalin-image show [FILE]   print the structure of the program image (or of FILE)\n"
               "       mosalin-image dump FILE     write the program image's bytes to FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "dump") {
    if (argc != 3) return Usage();
    if (!WriteFileAtomically(argv[2], image::BuildProgramImage())) {
      std::fprintf(stderr, "mosalin-image: cannot write %s: %s\n", argv[2], std::strerror(errno));
      return 1;
    }
    return 0;
  }
  if (command != "show" || argc > 3) return Usage();
  std::vector<std::uint8_t> bytes;
  if (argc == 3) {
    if (!ReadFile(argv[2], bytes)) {
      std::fprintf(stderr, "mosalin-image: cannot read %s: %s\n", argv[2], std::strerror(errno));
      return 1;
    }
  } else {
    bytes = image::BuildProgramImage();
  }
  std::string error;
  auto img = image::ReadProgramImage(bytes, &error);
  if (!img) {
    std::fprintf(stderr, "mosalin-image: not a valid program image: %s\n", error.c_str());
    return 1;
  }
  std::printf("Program image, %zu bytes\n\n", bytes.size());
  ShowHeader(*img);
  ShowNativeCalls(*img);
  ShowLibraries(*img);
  ShowSegments(*img);
  ShowFixups(*img);
  ShowIdGroups(*img);
  ShowConstants(*img);
  ShowForm(*img);
  return 0;
}
