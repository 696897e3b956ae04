// Whole-file writes on Windows: a temporary file beside the target, written,
// flushed to the disk, and moved over the target only when all of it is
// there.
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

}  // namespace

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size, const CopySource*) {
  if (path.empty() || path.back() == '\\' || path.back() == '/') return false;
  if (data == nullptr && size != 0) return false;
  const DWORD old = GetFileAttributesA(path.c_str());
  if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_DIRECTORY)) return false;

  const std::size_t cut = path.find_last_of("\\/");
  const std::string dir = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  const std::string base = (cut == std::string::npos ? path : path.substr(cut + 1)).substr(0, kMaxKeptName);
  static std::atomic<unsigned> counter{0};
  std::string temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temp = dir + "." + base + "." + std::to_string(GetCurrentProcessId()) + "." +
           std::to_string(counter.fetch_add(1)) + ".tmp";
    file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (file == INVALID_HANDLE_VALUE) return false;

  bool ok = WriteAll(file, static_cast<const unsigned char*>(data), size);
  ok = ok && FlushFileBuffers(file);
  ok = CloseHandle(file) && ok;
  ok = ok && MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileA(temp.c_str());
  return ok;
}

}  // namespace velmo
