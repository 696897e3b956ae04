#include "runtime/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/system.h"

namespace velmo {

void BlockHeap::SetConstantRange(const void* begin, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  constBegin_ = static_cast<const std::uint8_t*>(begin);
  constSize_ = size;
}

void BlockHeap::Release(void* block, std::size_t mappedBytes) {
  if (mappedBytes) sys::UnmapBigBlock(block, mappedBytes);
  else std::free(block);
}

void* BlockHeap::Track(void* p, std::uint32_t bytes, bool mapped) {
  if (!p) {
    if (exhausted_) exhausted_(bytes);
    std::fprintf(stderr, "velmo: out of memory (%u bytes)\n", bytes);
    std::_Exit(1);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  live_.emplace(p, mapped ? bytes : 0);
  return p;
}

void* BlockHeap::Allocate(std::uint32_t bytes) {
  if (bytes >= graphics::kBigBlockBytes)
    return Track(sys::MapBigBlock(bytes, kPayloadOffset, true), bytes, true);
  // A zero-byte request still gets a distinct block the program can free.
  return Track(std::malloc(bytes ? bytes : 1), bytes, false);
}

void* BlockHeap::AllocateZeroed(std::uint32_t bytes) {
  // Not faulted in: a zeroed buffer is where a fetch of a bitmap's rows
  // lands, which may map the bitmap's pages over it without touching it.
  if (bytes >= graphics::kBigBlockBytes)
    return Track(sys::MapBigBlock(bytes, kPayloadOffset, false), bytes, true);
  return Track(std::calloc(bytes ? bytes : 1, 1), bytes, false);
}

BlockHeap::FreeResult BlockHeap::Free(void* block) {
  if (!block) return FreeResult::kNull;
  auto* p = static_cast<const std::uint8_t*>(block);
  std::size_t mappedBytes = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (constBegin_ && p >= constBegin_ && p < constBegin_ + constSize_) return FreeResult::kConstant;
    auto it = live_.find(block);
    if (it == live_.end()) return FreeResult::kUnknown;
    mappedBytes = it->second;
    live_.erase(it);
  }
  Release(block, mappedBytes);
  return FreeResult::kFreed;
}

bool BlockHeap::IsMapped(const void* block) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = live_.find(const_cast<void*>(block));
  return it != live_.end() && it->second != 0;
}

std::size_t BlockHeap::LiveBlocks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_.size();
}

void BlockHeap::ReleaseAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [p, mappedBytes] : live_) Release(p, mappedBytes);
  live_.clear();
}

char* BlockHeap::CopyText(const char* text) {
  if (!text) text = "";
  std::size_t n = std::strlen(text);
  auto* p = static_cast<char*>(Allocate(static_cast<std::uint32_t>(n + 1)));
  std::memcpy(p, text, n + 1);
  return p;
}

char* BlockHeap::CopyText(const std::string& text) {
  auto* p = static_cast<char*>(Allocate(static_cast<std::uint32_t>(text.size() + 1)));
  std::memcpy(p, text.data(), text.size());
  p[text.size()] = 0;
  return p;
}

}  // namespace velmo
