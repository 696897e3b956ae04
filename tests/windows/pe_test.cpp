// The built mosalin.exe read as a file, with a PE reader of its own: the
// headers that fix where and how it loads, the data section that carries the
// program image, what it imports, and its icons and manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/windows/wine_support.h"

namespace fs = std::filesystem;

namespace {

// Numbers of the PE format (Microsoft's "PE Format" reference).
constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMagicPe32 = 0x010B;
constexpr std::uint16_t kSubsystemWindowsGui = 2;
constexpr std::uint16_t kFileRelocsStripped = 0x0001;
constexpr std::uint16_t kFileExecutableImage = 0x0002;
constexpr std::uint16_t kFileLargeAddressAware = 0x0020;
constexpr std::uint16_t kFileDll = 0x2000;
constexpr std::uint16_t kDllDynamicBase = 0x0040;
constexpr std::uint32_t kScnCode = 0x00000020;
constexpr std::uint32_t kScnInitializedData = 0x00000040;
constexpr std::uint32_t kScnUninitializedData = 0x00000080;
constexpr std::uint32_t kScnExecute = 0x20000000;
constexpr std::uint32_t kScnRead = 0x40000000;
constexpr std::uint32_t kScnWrite = 0x80000000;
constexpr int kDirImport = 1, kDirResource = 2, kDirBaseReloc = 5;
constexpr std::uint32_t kRtIcon = 3, kRtGroupIcon = 14, kRtManifest = 24;
constexpr std::uint32_t kLangChinesePrc = 0x804;

// The executable keeps the program image at the start of a data area of this
// size, zero after the image.
constexpr std::uint32_t kDataArea = 0x4200;

struct Malformed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Section {
  std::string name;
  std::uint32_t virtualAddress = 0, virtualSize = 0, rawSize = 0, rawOffset = 0, characteristics = 0;
};

struct DataDirectory {
  std::uint32_t rva = 0, size = 0;
};

// A resource by type, id and language; entries named by a string are only
// counted (this executable has none).
using ResourceTable = std::map<std::uint32_t, std::map<std::uint32_t, std::map<std::uint32_t, std::vector<std::uint8_t>>>>;

class PeFile {
 public:
  explicit PeFile(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) { Parse(); }

  std::uint16_t machine = 0, fileCharacteristics = 0, magic = 0, subsystem = 0, dllCharacteristics = 0;
  std::uint32_t imageBase = 0;
  std::vector<DataDirectory> directories;
  std::vector<Section> sections;
  std::map<std::string, std::set<std::string>> imports;  // DLL name in lower case -> functions
  ResourceTable resources;
  int namedResourceEntries = 0;

  const Section* Find(const std::string& name) const {
    for (const auto& s : sections)
      if (s.name == name) return &s;
    return nullptr;
  }

  // `size` bytes at `rva` as the loader maps them: the section's file bytes,
  // then zeros up to its virtual size.
  std::vector<std::uint8_t> Read(std::uint32_t rva, std::uint32_t size) const {
    for (const auto& s : sections) {
      const std::uint32_t extent = s.virtualSize ? s.virtualSize : s.rawSize;
      if (rva < s.virtualAddress || rva - s.virtualAddress >= extent) continue;
      const std::uint32_t at = rva - s.virtualAddress;
      if (std::uint64_t(at) + size > extent) throw Malformed("a read runs past its section " + s.name);
      std::vector<std::uint8_t> out(size, 0);
      for (std::uint32_t i = 0; i < size; ++i) {
        if (at + i < s.rawSize) out[i] = FileByte(std::uint64_t(s.rawOffset) + at + i);
      }
      return out;
    }
    throw Malformed("an address outside every section: " + Hex(rva));
  }

  static std::string Hex(std::uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%X", v);
    return b;
  }

 private:
  std::vector<std::uint8_t> bytes_;

  std::uint8_t FileByte(std::uint64_t off) const {
    if (off >= bytes_.size()) throw Malformed("a file offset past the end: " + Hex(std::uint32_t(off)));
    return bytes_[off];
  }
  std::uint16_t F16(std::uint64_t off) const { return FileByte(off) | FileByte(off + 1) << 8; }
  std::uint32_t F32(std::uint64_t off) const { return F16(off) | std::uint32_t(F16(off + 2)) << 16; }
  std::uint32_t R32(std::uint32_t rva) const {
    auto b = Read(rva, 4);
    return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24;
  }
  std::uint16_t R16(std::uint32_t rva) const {
    auto b = Read(rva, 2);
    return std::uint16_t(b[0] | b[1] << 8);
  }
  std::string RString(std::uint32_t rva) const {
    std::string s;
    for (std::uint32_t i = 0; i < 512; ++i) {
      const char c = char(Read(rva + i, 1)[0]);
      if (c == 0) return s;
      s += c;
    }
    throw Malformed("an unterminated name at " + Hex(rva));
  }

  void Parse() {
    if (F16(0) != 0x5A4D) throw Malformed("no MZ signature");
    const std::uint32_t pe = F32(0x3C);
    if (F32(pe) != 0x00004550) throw Malformed("no PE signature");
    const std::uint32_t coff = pe + 4;
    machine = F16(coff);
    const std::uint16_t sectionCount = F16(coff + 2);
    const std::uint16_t optionalSize = F16(coff + 16);
    fileCharacteristics = F16(coff + 18);
    const std::uint32_t opt = coff + 20;
    magic = F16(opt);
    if (magic != kMagicPe32) return;  // PE32+ lays the rest out otherwise; the headers test reports it
    imageBase = F32(opt + 28);
    subsystem = F16(opt + 68);
    dllCharacteristics = F16(opt + 70);
    const std::uint32_t dirCount = F32(opt + 92);
    if (96 + std::uint64_t(dirCount) * 8 > optionalSize) throw Malformed("data directories past the optional header");
    for (std::uint32_t i = 0; i < dirCount; ++i)
      directories.push_back({F32(opt + 96 + i * 8), F32(opt + 100 + i * 8)});
    directories.resize(std::max<std::size_t>(directories.size(), 16));

    const std::uint32_t table = opt + optionalSize;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
      const std::uint32_t h = table + i * 40;
      Section s;
      for (int k = 0; k < 8 && FileByte(h + k); ++k) s.name += char(FileByte(h + k));
      s.virtualSize = F32(h + 8);
      s.virtualAddress = F32(h + 12);
      s.rawSize = F32(h + 16);
      s.rawOffset = F32(h + 20);
      s.characteristics = F32(h + 36);
      sections.push_back(s);
    }
    ParseImports();
    if (directories[kDirResource].size) ParseResourceDirectory(0, 0, {});
  }

  void ParseImports() {
    const DataDirectory dir = directories[kDirImport];
    if (!dir.size) return;
    for (std::uint32_t d = dir.rva;; d += 20) {
      const std::uint32_t lookup = R32(d), nameRva = R32(d + 12), thunks = R32(d + 16);
      if (!lookup && !nameRva && !thunks) break;
      std::string dll = RString(nameRva);
      for (char& c : dll) c = char(std::tolower(static_cast<unsigned char>(c)));
      auto& functions = imports[dll];
      for (std::uint32_t t = lookup ? lookup : thunks;; t += 4) {
        const std::uint32_t entry = R32(t);
        if (!entry) break;
        if (entry & 0x80000000u)
          functions.insert("#" + std::to_string(entry & 0xFFFF));
        else
          functions.insert(RString(entry + 2));  // past the hint
      }
    }
  }

  // Type, name and language levels; offsets count from the resource
  // directory's start, a data entry's address is an RVA.
  void ParseResourceDirectory(std::uint32_t offset, int level, std::vector<std::uint32_t> path) {
    const std::uint32_t base = directories[kDirResource].rva;
    if (level > 2) throw Malformed("a resource tree deeper than three levels");
    const std::uint16_t named = R16(base + offset + 12), ids = R16(base + offset + 14);
    for (std::uint32_t i = 0; i < std::uint32_t(named) + ids; ++i) {
      const std::uint32_t e = base + offset + 16 + i * 8;
      const std::uint32_t name = R32(e), target = R32(e + 4);
      if (name & 0x80000000u) {
        ++namedResourceEntries;
        continue;
      }
      auto next = path;
      next.push_back(name);
      if (target & 0x80000000u) {
        ParseResourceDirectory(target & 0x7FFFFFFF, level + 1, next);
      } else {
        if (next.size() != 3) throw Malformed("a resource leaf above the language level");
        const std::uint32_t dataRva = R32(base + target), size = R32(base + target + 4);
        resources[next[0]][next[1]][next[2]] = Read(dataRva, size);
      }
    }
  }
};

std::vector<std::uint8_t> FileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

std::string Flags(std::uint32_t c) {
  std::string f;
  f += c & kScnRead ? 'R' : '-';
  f += c & kScnWrite ? 'W' : '-';
  f += c & kScnExecute ? 'X' : '-';
  if (c & kScnCode) f += " code";
  if (c & kScnInitializedData) f += " data";
  if (c & kScnUninitializedData) f += " bss";
  return f;
}

class WindowsPe : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const fs::path exe = wintest::WindowsBin() / "mosalin.exe";
    auto bytes = FileBytes(exe);
    if (bytes.empty()) {
      error_ = new std::string("cannot read " + exe.string());
      return;
    }
    try {
      pe_ = new PeFile(std::move(bytes));
    } catch (const Malformed& m) {
      error_ = new std::string(exe.string() + ": " + m.what());
    }
  }
  static void TearDownTestSuite() {
    delete pe_;
    delete error_;
    pe_ = nullptr;
    error_ = nullptr;
  }
  void SetUp() override {
    ASSERT_EQ(error_, nullptr) << *error_;
    ASSERT_NE(pe_, nullptr);
  }
  const PeFile& pe() const { return *pe_; }

  static PeFile* pe_;
  static std::string* error_;
};
PeFile* WindowsPe::pe_ = nullptr;
std::string* WindowsPe::error_ = nullptr;

TEST_F(WindowsPe, LoadsAt0x400000AsALargeAddressAware32BitGuiProgramWithoutRelocations) {
  // The section table, for comparison with other layouts.
  std::cout << "mosalin.exe sections (address, virtual size, raw size, characteristics):\n";
  for (const auto& s : pe().sections) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-8s 0x%08X  0x%06X  0x%06X  0x%08X %s\n", s.name.c_str(),
                  pe().imageBase + s.virtualAddress, s.virtualSize, s.rawSize, s.characteristics,
                  Flags(s.characteristics).c_str());
    std::cout << line;
  }

  EXPECT_EQ(pe().machine, kMachineI386);
  ASSERT_EQ(pe().magic, kMagicPe32);
  EXPECT_EQ(pe().subsystem, kSubsystemWindowsGui);
  EXPECT_EQ(pe().imageBase, 0x400000u);
  EXPECT_TRUE(pe().fileCharacteristics & kFileExecutableImage);
  EXPECT_FALSE(pe().fileCharacteristics & kFileDll);
  // Large-address-aware: 4 GiB of address space on 64-bit Windows, not 2 GiB.
  EXPECT_TRUE(pe().fileCharacteristics & kFileLargeAddressAware)
      << "characteristics " << PeFile::Hex(pe().fileCharacteristics);

  // Nothing to relocate: the header says so, the directory is empty and no
  // section holds relocations, and the loader is not asked to move the image.
  EXPECT_TRUE(pe().fileCharacteristics & kFileRelocsStripped)
      << "characteristics " << PeFile::Hex(pe().fileCharacteristics);
  EXPECT_EQ(pe().directories[kDirBaseReloc].rva, 0u);
  EXPECT_EQ(pe().directories[kDirBaseReloc].size, 0u);
  EXPECT_EQ(pe().Find(".reloc"), nullptr);
  EXPECT_FALSE(pe().dllCharacteristics & kDllDynamicBase)
      << "DllCharacteristics " << PeFile::Hex(pe().dllCharacteristics);
}

TEST_F(WindowsPe, DataSectionOpensWithTheProgramImageAndZerosUpToItsAreaEnd) {
  const Section* data = pe().Find(".data");
  ASSERT_NE(data, nullptr) << "no .data section";
  EXPECT_EQ(data->characteristics & (kScnRead | kScnWrite | kScnExecute), kScnRead | kScnWrite | kScnExecute)
      << ".data is " << Flags(data->characteristics) << ": the host writes the fixups into the image and "
      << "runs through its cells";
  ASSERT_GE(data->virtualSize, kDataArea);

  const fs::path imageFile = wintest::WindowsBuild() / "generated" / "program_image.bin";
  const auto image = FileBytes(imageFile);
  ASSERT_GE(image.size(), 2u) << "cannot read " << imageFile;
  ASSERT_LE(image.size(), kDataArea);
  EXPECT_EQ(image[0], 'W');
  EXPECT_EQ(image[1], 'J');
  // In the file, not only in memory: the raw bytes must hold the image.
  EXPECT_GE(data->rawSize, image.size());

  const auto area = pe().Read(data->virtualAddress, kDataArea);
  std::size_t firstDifference = area.size();
  for (std::size_t i = 0; i < area.size(); ++i) {
    const std::uint8_t want = i < image.size() ? image[i] : 0;
    if (area[i] != want) {
      firstDifference = i;
      break;
    }
  }
  EXPECT_EQ(firstDifference, area.size())
      << "the data area differs from the image (" << image.size() << " bytes, zeros after) at offset "
      << PeFile::Hex(std::uint32_t(firstDifference));
}

TEST_F(WindowsPe, LauncherFunctionsComeFromTheSystemAndNoMingwDllIsImported) {
  const std::map<std::string, std::vector<std::string>> launcher = {
      {"kernel32.dll",
       {"GetModuleFileNameA", "lstrcatA", "lstrlenA", "LoadLibraryA", "GetProcAddress", "FreeLibrary", "ExitProcess"}},
      {"advapi32.dll", {"RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey"}},
      {"user32.dll", {"MessageBoxA"}},
  };
  for (const auto& [dll, functions] : launcher) {
    auto it = pe().imports.find(dll);
    ASSERT_NE(it, pe().imports.end()) << "nothing imported from " << dll;
    for (const auto& f : functions) EXPECT_TRUE(it->second.count(f)) << f << " is not imported from " << dll;
  }
  for (const auto& [dll, functions] : pe().imports) {
    for (const char* mingw : {"libgcc_s", "libstdc++", "libwinpthread"})
      EXPECT_NE(dll.rfind(mingw, 0), 0u) << "imports from " << dll << ": the build must link it statically";
  }
}

TEST_F(WindowsPe, IconGroup129ListsFourImagesPresentInChinesePrc) {
  const auto& res = pe().resources;
  ASSERT_TRUE(res.count(kRtGroupIcon) && res.at(kRtGroupIcon).count(129) &&
              res.at(kRtGroupIcon).at(129).count(kLangChinesePrc))
      << "no RT_GROUP_ICON 129 in language 0x804";
  const auto& group = res.at(kRtGroupIcon).at(129).at(kLangChinesePrc);
  ASSERT_GE(group.size(), 6u);
  auto u16 = [](const std::vector<std::uint8_t>& b, std::size_t at) { return std::uint16_t(b.at(at) | b.at(at + 1) << 8); };
  auto u32 = [&](const std::vector<std::uint8_t>& b, std::size_t at) { return u16(b, at) | std::uint32_t(u16(b, at + 2)) << 16; };
  EXPECT_EQ(u16(group, 0), 0);  // reserved
  EXPECT_EQ(u16(group, 2), 1);  // icons, not cursors
  ASSERT_EQ(u16(group, 4), 4) << "images in the group";
  ASSERT_EQ(group.size(), 6u + 4 * 14);

  struct Image {
    int size, bits, id;
  };
  const Image want[] = {{16, 8, 1}, {16, 24, 2}, {32, 8, 3}, {32, 24, 4}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE("group entry " + std::to_string(i));
    const std::size_t e = 6 + std::size_t(i) * 14;
    EXPECT_EQ(group[e], want[i].size);      // width
    EXPECT_EQ(group[e + 1], want[i].size);  // height
    EXPECT_EQ(u16(group, e + 6), want[i].bits);
    const std::uint16_t id = u16(group, e + 12);
    EXPECT_EQ(id, want[i].id);
    const std::uint32_t bytesInRes = u32(group, e + 8);

    ASSERT_TRUE(res.count(kRtIcon) && res.at(kRtIcon).count(id) && res.at(kRtIcon).at(id).count(kLangChinesePrc))
        << "no RT_ICON " << id << " in language 0x804";
    const auto& icon = res.at(kRtIcon).at(id).at(kLangChinesePrc);
    EXPECT_EQ(icon.size(), bytesInRes) << "the group's size of image " << id;
    ASSERT_GE(icon.size(), 40u);
    EXPECT_EQ(u32(icon, 0), 40u) << "not a BITMAPINFOHEADER";
    EXPECT_EQ(std::int32_t(u32(icon, 4)), want[i].size);
    EXPECT_EQ(std::int32_t(u32(icon, 8)), 2 * want[i].size) << "colour and mask rows";
    EXPECT_EQ(u16(icon, 12), 1);  // planes
    EXPECT_EQ(u16(icon, 14), want[i].bits);
  }
}

// The attributes of the first element named `element` in `xml`.
std::map<std::string, std::string> Attributes(const std::string& xml, const std::string& element) {
  std::map<std::string, std::string> out;
  std::smatch m;
  if (!std::regex_search(xml, m, std::regex("<" + element + "\\b([^>]*)>"))) return out;
  const std::string attrs = m[1];
  const std::regex attr(R"re(([A-Za-z_:][\w:.-]*)\s*=\s*("([^"]*)"|'([^']*)'))re");
  for (auto it = std::sregex_iterator(attrs.begin(), attrs.end(), attr); it != std::sregex_iterator(); ++it)
    out[(*it)[1]] = (*it)[3].matched ? (*it)[3].str() : (*it)[4].str();
  return out;
}

TEST_F(WindowsPe, ManifestNamesTheProgramAndAsksForCommonControls6) {
  const auto& res = pe().resources;
  ASSERT_TRUE(res.count(kRtManifest) && res.at(kRtManifest).count(1) && !res.at(kRtManifest).at(1).empty())
      << "no RT_MANIFEST 1";
  ASSERT_EQ(res.at(kRtManifest).size(), 1u) << "one manifest";
  const auto& bytes = res.at(kRtManifest).at(1).begin()->second;
  const std::string xml(bytes.begin(), bytes.end());

  const auto dependency = xml.find("<dependency");
  ASSERT_NE(dependency, std::string::npos) << xml;
  const auto own = Attributes(xml.substr(0, dependency), "assemblyIdentity");
  EXPECT_EQ(own, (std::map<std::string, std::string>{
                     {"name", "Q.App"}, {"version", "5.1.0.0"}, {"processorArchitecture", "x86"}, {"type", "win32"}}))
      << xml;

  const std::string depends = xml.substr(dependency);
  ASSERT_NE(depends.find("<dependentAssembly"), std::string::npos) << xml;
  const auto controls = Attributes(depends.substr(depends.find("<dependentAssembly")), "assemblyIdentity");
  EXPECT_EQ(controls, (std::map<std::string, std::string>{{"type", "win32"},
                                                          {"name", "Microsoft.Windows.Common-Controls"},
                                                          {"version", "6.0.0.0"},
                                                          {"processorArchitecture", "x86"},
                                                          {"publicKeyToken", "6595b64144ccf1df"},
                                                          {"language", "*"}}))
      << xml;
}

}  // namespace
