#include "runtime/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velmo {

void BlockHeap::SetConstantRange(const void* begin, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  constBegin_ = static_cast<const std::uint8_t*>(begin);
  constSize_ = size;
}

void* BlockHeap::Track(void* p, std::uint32_t bytes) {
  if (!p) {
    if (exhausted_) exhausted_(bytes);
    std::fprintf(stderr, "velmo: out of memory (%u bytes)\n", bytes);
    std::_Exit(1);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  live_.insert(p);
  return p;
}

void* BlockHeap::Allocate(std::uint32_t bytes) {
  // A zero-byte request still gets a distinct block the program can free.
  return Track(std::malloc(bytes ? bytes : 1), bytes);
}

void* BlockHeap::AllocateZeroed(std::uint32_t bytes) {
  return Track(std::calloc(bytes ? bytes : 1, 1), bytes);
}

BlockHeap::FreeResult BlockHeap::Free(void* block) {
  if (!block) return FreeResult::Null;
  auto* p = static_cast<const std::uint8_t*>(block);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (constBegin_ && p >= constBegin_ && p < constBegin_ + constSize_) return FreeResult::Constant;
    auto it = live_.find(block);
    if (it == live_.end()) return FreeResult::Unknown;
    live_.erase(it);
  }
  std::free(block);
  return FreeResult::Freed;
}

std::size_t BlockHeap::LiveBlocks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_.size();
}

void BlockHeap::ReleaseAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (void* p : live_) std::free(p);
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
