// Whole-file writes that never leave a half-written file behind: the program's
// WriteBytes command reports 1 only when the complete buffer is on disk.
#pragma once

#include <cstddef>
#include <string>

namespace velmo {

// Writes `size` bytes at `data` as the complete content of the file at
// `posixPath`, replacing it atomically.
//
// The bytes go to a new file in the same directory that has no name yet
// (O_TMPFILE; a large page-aligned buffer by direct I/O where the file system
// takes it), are flushed with fsync, and only then is the file linked in:
// under the target's name when there is none yet, else under a unique hidden
// name that is at once renamed over the target. A reader sees either the old
// file or the complete new one, and an end of the process at any moment
// before leaves nothing behind. On a file system without O_TMPFILE the file
// is made under the hidden name from the start; that name is removed on
// every end the process can catch (SIGINT, SIGTERM, SIGHUP, exit). Only a
// SIGKILL while a hidden name exists leaves it. The directory is synced
// afterwards so that the new name survives a crash.
//
// A symbolic link as the target is followed: the file it points to is
// replaced and the link stays. An existing target keeps its permission bits
// (and, where the process may set them, its owner and group); a new file gets
// 0666 less the umask. A file with several hard links is replaced by a new
// file under this name only.
//
// A read-only target is never replaced: one without any write bit (what the
// Windows build sees as the read-only attribute, which holds for an
// administrator too) or one this process may not write.
//
// A target the process may write, in a directory where it may not make a
// file, is overwritten in place, after the disk space for the new size is
// reserved (fallocate; where that is not supported, the free space is
// checked), so a full disk fails before a byte changes. This is the one case
// that is not atomic: a write that fails or is cut short later leaves a mix
// of old and new bytes.
//
// Returns false, with the target untouched (content, permissions, inode) and no
// temporary file left over, when the path is empty, its directory is missing
// or not writable (unless the in-place case applies), the target is read-only,
// a directory or anything else that is not a regular file, `data` is null
// while `size` is not 0, or any write, flush or rename fails (a full file
// system, a file-size limit, an I/O error).
//
// The Windows build (write_file_windows.cpp) takes the program's Windows path
// and does the same with the system's calls, through the wide functions with
// the path in its \\?\ form (so a target as long as the save dialog allows
// has room for the temporary name): a new temporary file beside the target
// (CREATE_NEW), marked for deletion (SetFileInformationByHandle,
// FileDispositionInfo) while it is written, so the system removes it however
// the process ends; WriteFile, FlushFileBuffers, the mark taken off, and a
// rename by handle that replaces the target (FileRenameInfo; MoveFileExW where
// that is not supported). A target with the read-only attribute is refused;
// the in-place case reserves the space with FileAllocationInfo.
//
// On Linux, bytes that lie within one spilled large block (the spill file of
// platform/graphics/big_block.h) are copied from its file to the new one
// inside the kernel (copy_file_range), without passing through this process's
// memory; where the kernel cannot copy between the two files they are written
// from `data`.
bool WriteFileAtomically(const std::string& posixPath, const void* data, std::size_t size);

}  // namespace velmo
