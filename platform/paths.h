// The path map: Windows paths (what the program sees) <-> POSIX paths (what
// the file system takes). Every platform function that touches a file goes
// through here.
//
// Windows -> POSIX:
//  - "\" and "/" are both separators; repeated separators count as one.
//  - Drive Z: is the POSIX root: "Z:\home\me\tiles\2x" is "/home/me/tiles/2x".
//  - Drives A: to Y: exist only when the drive table names a directory for
//    them; "C:\" is that directory, "C:\maps\1x" a path below it.
//    "C:maps" (no separator after the colon) counts from the drive's root too:
//    there is no current directory per drive.
//  - A path that starts with a separator ("\tmp\x") is rooted on drive Z:.
//  - A relative path ("tiles\2x") counts from the process's current directory.
//  - "." components are dropped and ".." removes the previous component, as
//    Windows does, by the text alone; ".." never climbs above the drive's root,
//    so a mapped drive cannot reach outside its directory.
//  - A leading "\\?\" is ignored; other paths that start with two separators
//    (network shares, devices) do not map.
//  - The result is an absolute POSIX path without a trailing "/" (except "/"
//    itself).
//  - Names ignore case, as on Windows (platform/name_case.h): a component
//    below the drive's directory that does not exist as written is the entry
//    of its directory that equals it without regard to case. A name that
//    exists as written always wins; of several that differ only in case, none
//    of them as written, the first in byte order (UTF-8 bytes compared as
//    unsigned numbers: "A.PNG" before "A.png" before "a.png") is taken. A
//    component that exists in no case is kept as written, and so is the rest
//    of the path: a new file gets the name it was given, in the directory
//    found for it. A path that exists as written costs one lstat, no listing.
//  - The ANSI text is converted as GB18030; a path with bytes that do not
//    decode does not map (it would name a different file).
//
// POSIX -> Windows: always drive Z: ("/home/me/x" is "Z:\home\me\x"), never a
// mapped drive, so a path has exactly one Windows form. A relative path counts
// from the current directory. A name that contains "\" or is not valid UTF-8
// has no Windows form.
//
// The drive table is the file ${XDG_CONFIG_HOME:-$HOME/.config}/mosalin/drives,
// read afresh on every mapping. One drive per line:
//     c: /home/me/windows-c
//     # comments and blank lines are ignored
// The letter is case-insensitive and followed by a colon, blanks, and the
// absolute POSIX directory (the rest of the line; it may contain blanks).
// Lines that do not have this form are ignored; the first line for a letter
// wins; a line for Z: is ignored, since Z: is always the root.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// ${XDG_CONFIG_HOME:-$HOME/.config}/mosalin (XDG_CONFIG_HOME counts only when
// it is an absolute path). Empty when neither can be determined.
std::string ConfigDir();
std::string DrivesFilePath();

// The running executable's POSIX path; empty if it cannot be read.
std::string ExecutablePath();
// The directory part of ExecutablePath(), without trailing "/".
std::string ExecutableDir();

// The POSIX directory of a drive letter ("/" for Z:), if the drive exists.
std::optional<std::string> DriveDirectory(char letter);

// A Windows path in the ANSI code page, in UTF-16, or already in UTF-8.
std::optional<std::string> WindowsToPosix(std::string_view ansiPath);
std::optional<std::string> WideWindowsToPosix(std::u16string_view widePath);
std::optional<std::string> Utf8WindowsToPosix(std::string_view utf8Path);

// The Windows form (ANSI code page) of a POSIX path.
std::optional<std::string> PosixToWindows(std::string_view posixPath);

}  // namespace platform
