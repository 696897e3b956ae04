// What the runtime host takes from the operating system it runs on: files,
// directory listings, the executable's directory, text conversion for what
// the user reads, large blocks of memory and the end of the process.
//
// One implementation per build: system_linux.cpp goes through the platform's
// path map and code pages (the program's Windows paths become POSIX paths),
// system_windows.cpp calls the Windows API with the program's paths and texts
// as they stand. Everything above this line is the same host on both.
//
// Paths are the program's own: Windows paths in the ANSI code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/graphics/big_block_size.h"
#include "runtime/find_file.h"

namespace velmo::sys {

// Texts between the ANSI code page and UTF-8 (transcripts, scenario files,
// the toolkit's captions). Bytes that do not convert become U+FFFD or '?'.
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);

// The directory that holds the running executable, as a Windows path without
// a trailing backslash (a drive root keeps its backslash).
std::string ProgramDir();

// Whether `ansiPath` names an existing file (a directory does not count).
bool FileExists(const char* ansiPath);

// Writes the whole file at `ansiPath` atomically: the complete new content or
// the old file, never a part (see write_file.h).
bool WriteBytes(const char* ansiPath, const void* data, std::size_t size);

// The names a directory search for `ansiPattern` ("C:\maps\2x\*.*") returns,
// in the search's order: "." and ".." first where the directory has them,
// then the other matches in NTFS index order, whatever the file system keeps.
// Empty when the directory does not exist or cannot be read.
std::vector<std::string> ListMatches(std::string_view ansiPattern, FindFilter filter);

// Blocks from graphics::kBigBlockBytes on come from the system's page
// allocator: zeroed by it and released at once when freed; on Linux a block
// too large for the memory the process may use lives in a spill file on disk
// (platform/graphics/big_block.h). Null when the memory cannot be had.
// `lead`: the offset of the payload in the block, placed for direct I/O
// where the system writes that way. `faultIn`: its pages are faulted in at
// once, for a block the program will write all of; otherwise each is given
// (zeroed) when first touched, for a block that may never be written.
void* MapBigBlock(std::size_t bytes, std::size_t lead, bool faultIn);
void UnmapBigBlock(void* block, std::size_t bytes);

// Where blocks too large for memory go (empty where none do).
std::string SpillDirectory();

// Whether the process's address space has room now for blocks of these sizes
// all at once. They are reserved (nothing committed) and given back at once;
// only addresses count, not memory or disk.
bool AddressSpaceHolds(std::initializer_list<std::uint64_t> blocks);

// What kept a large block of `bytes` from being had, as the end of a sentence
// about it: `english` after "a block of N MiB " (stderr), `chinese` (UTF-8)
// after "N MB 的数据" (the window).
struct NoRoom {
  std::string english, chinese;
};
NoRoom WhyNoRoom(std::size_t bytes);

// Ends the process with `code`, at once.
[[noreturn]] void Exit(unsigned code);

}  // namespace velmo::sys
