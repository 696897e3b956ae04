// Whole-file writes on Windows: a temporary file beside the target, marked
// for deletion while it is written (so that however the process ends, the
// system removes it), flushed to the disk, unmarked and renamed over the
// target only when all of it is there.
//
// Paths go to the wide functions in their long form (\\?\), so a target as
// long as the save dialog allows still has room for the temporary name.
#include <windows.h>

#include <atomic>
#include <string>

#include "runtime/write_file.h"

namespace velmo {
namespace {

// Largest single WriteFile request.
constexpr std::size_t kMaxChunk = std::size_t{64} << 20;
// The temporary file's name keeps at most this much of the target's name.
constexpr std::size_t kMaxKeptName = 120;

std::wstring Widen(const std::string& ansi) {
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  return wide;
}

// The absolute path with the \\?\ prefix (\\?\UNC\ for a network path), which
// the wide functions take beyond MAX_PATH. Empty when it cannot be made.
std::wstring LongPath(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return {};
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (n == 0 || n >= full.size()) return {};
  full.resize(n);
  if (full.rfind(L"\\\\.\\", 0) == 0) return {};  // a device
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

bool WriteAll(HANDLE file, const unsigned char* p, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(size < kMaxChunk ? size : kMaxChunk);
    DWORD written = 0;
    if (!WriteFile(file, p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

bool MarkForDeletion(HANDLE file, bool deletion) {
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = deletion ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) != 0;
}

// Renames the open file over `target` (an absolute path), replacing it.
bool RenameOver(HANDLE file, const std::wstring& target) {
  const std::size_t bytes = sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t);
  std::string buffer(bytes, '\0');
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  target.copy(info->FileName, target.size());
  return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(bytes)) != 0;
}

// Overwrites the existing file in place, for a file the process may write in
// a directory where it may not make a new one. Not atomic: an interrupted or
// failing write leaves a mix of old and new bytes. The space is reserved
// first, so a full disk fails before any byte changes.
bool WriteInPlace(const std::wstring& target, const std::wstring& dir, const void* data, std::size_t size) {
  HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER now{};
  bool ok = GetFileSizeEx(file, &now) != 0;
  if (ok && static_cast<unsigned long long>(now.QuadPart) < size) {
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation)) {
      // Not reserved: at least the free space must do.
      ULARGE_INTEGER free{};
      ok = GetLastError() != ERROR_DISK_FULL && GetDiskFreeSpaceExW(dir.c_str(), &free, nullptr, nullptr) &&
           free.QuadPart >= size - static_cast<unsigned long long>(now.QuadPart);
    }
  }
  ok = ok && WriteAll(file, static_cast<const unsigned char*>(data), size);
  ok = ok && SetEndOfFile(file);
  ok = ok && FlushFileBuffers(file);
  ok = CloseHandle(file) && ok;
  return ok;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size) {
  if (path.empty() || path.back() == '\\' || path.back() == '/') return false;
  if (data == nullptr && size != 0) return false;
  const std::wstring target = LongPath(Widen(path));
  if (target.empty()) return false;
  const DWORD old = GetFileAttributesW(target.c_str());
  const bool exists = old != INVALID_FILE_ATTRIBUTES;
  if (exists && (old & FILE_ATTRIBUTE_DIRECTORY)) return false;
  // The system refuses to replace or write a read-only file.
  if (exists && (old & FILE_ATTRIBUTE_READONLY)) return false;

  const std::size_t cut = target.find_last_of(L'\\');
  const std::wstring dir = target.substr(0, cut + 1);
  const std::wstring base = target.substr(cut + 1).substr(0, kMaxKeptName);
  static std::atomic<unsigned> counter{0};
  std::wstring temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temp = dir + L"." + base + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
           std::to_wstring(counter.fetch_add(1)) + L".tmp";
    file = CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) break;
    const DWORD error = GetLastError();
    // A directory where no file can be made: a file that may be written
    // there is overwritten in place, the one case that is not atomic.
    if (error == ERROR_ACCESS_DENIED && exists) return WriteInPlace(target, dir, data, size);
    if (error != ERROR_FILE_EXISTS) return false;
  }
  if (file == INVALID_HANDLE_VALUE) return false;

  // Until it is complete the file is marked for deletion: when the process
  // ends, however, the system removes it with the last handle. (A file
  // system without that still has the file removed on every failure here.)
  const bool marked = MarkForDeletion(file, true);
  bool ok = WriteAll(file, static_cast<const unsigned char*>(data), size);
  ok = ok && FlushFileBuffers(file);
  ok = ok && (!marked || MarkForDeletion(file, false));
  if (ok && RenameOver(file, target)) return CloseHandle(file) != 0;
  if (!ok && marked && MarkForDeletion(file, true)) {
    CloseHandle(file);  // the system removes it
    return false;
  }
  CloseHandle(file);
  // Complete but not renamed by handle (a file system without that): moved
  // by name, which needs it closed.
  if (ok && MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  DeleteFileW(temp.c_str());
  return false;
}

}  // namespace velmo
