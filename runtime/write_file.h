// Whole-file writes that never leave a half-written file behind: the program's
// WriteBytes command reports 1 only when the complete buffer is on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmo {

// Writes `size` bytes at `data` as the complete content of the file at
// `posixPath`, replacing it atomically.
//
// The bytes go to a new temporary file in the same directory (created with
// O_EXCL under a unique name; a large page-aligned buffer by direct I/O where
// the file system takes it), are flushed with fsync, and only then is the
// temporary file renamed over the target, so a reader sees either the old file
// or the complete new one. The directory is synced afterwards so that the
// rename survives a crash.
//
// A symbolic link as the target is followed: the file it points to is
// replaced and the link stays. An existing target keeps its permission bits
// (and, where the process may set them, its owner and group); a new file gets
// 0666 less the umask. A file with several hard links is replaced by a new
// file under this name only.
//
// Returns false, with the target untouched (content, permissions, inode) and no
// temporary file left over, when the path is empty, its directory is missing
// or not writable, the target is a directory or anything else that is not a
// regular file, `data` is null while `size` is not 0, or any write, flush or
// rename fails (a full file system, a file-size limit, an I/O error).
//
// The Windows build (write_file_windows.cpp) takes the program's Windows path
// as it stands and does the same with the system's calls: a new temporary
// file beside the target (CREATE_NEW), WriteFile, FlushFileBuffers, and
// MoveFileEx with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH; on any
// failure the temporary file is deleted and the target left as it was.
//
// `from`, when given, is a file that holds the same `size` bytes at
// `from->offset` (the spill file of a large block that `data` lies in): the
// bytes are then copied from it to the new file inside the kernel
// (copy_file_range), without passing through this process's memory; where
// the kernel cannot copy between the two files they are written from `data`.
struct CopySource {
  int fd;
  std::uint64_t offset;
};
bool WriteFileAtomically(const std::string& posixPath, const void* data, std::size_t size,
                         const CopySource* from = nullptr);

}  // namespace velmo
