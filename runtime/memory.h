// The blocks the host hands to the program through Allocate, and what Free
// accepts: a block it handed out, null, or the address of one of the image's
// own constants (which it leaves alone). Anything else is reported and left
// alone rather than passed to the C library, so a confused routine cannot
// corrupt the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace velmo {

class BlockHeap {
 public:
  // Called when memory cannot be had; must not return (it ends the process).
  using ExhaustedHandler = std::function<void(std::uint32_t bytes)>;

  void SetExhaustedHandler(ExhaustedHandler h) { exhausted_ = std::move(h); }
  // The range of the image whose addresses Free ignores.
  void SetConstantRange(const void* begin, std::size_t size);

  // Never returns null: on exhaustion the handler ends the process.
  void* Allocate(std::uint32_t bytes);
  // Like Allocate, but memory is zeroed (cheaply, by the kernel for large blocks).
  void* AllocateZeroed(std::uint32_t bytes);

  // Blocks of a MiB or more get a mapping of their own (zeroed by the
  // kernel) placed so that the byte `kPayloadOffset` into the block (where a
  // byte buffer's data starts) is aligned to 2 MiB: the data can then go to a
  // file by direct I/O, without a copy through the page cache.
  static constexpr std::size_t kPayloadOffset = 8;

  enum class FreeResult { kFreed, kNull, kConstant, kUnknown };
  FreeResult Free(void* block);

  std::size_t LiveBlocks() const;
  // Whether `block` is a live block with a mapping of its own (a MiB or more).
  bool IsMapped(const void* block) const;
  // Releases every block still live (at the end of the program).
  void ReleaseAll();

  // A copy of a zero-terminated text in a fresh block (null counts as empty).
  char* CopyText(const char* text);
  char* CopyText(const std::string& text);

 private:
  void* Track(void* p, std::uint32_t bytes, bool mapped);
  static void Release(void* block, std::size_t mappedBytes);

  mutable std::mutex mutex_;
  // Live blocks and, for mapped ones, their size (0: from malloc).
  std::unordered_map<void*, std::size_t> live_;
  const std::uint8_t* constBegin_ = nullptr;
  std::size_t constSize_ = 0;
  ExhaustedHandler exhausted_;
};

}  // namespace velmo
