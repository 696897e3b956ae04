// A table of objects addressed by checked 32-bit handles.
//
// A handle packs a table tag (bits 28-31, never 0), a generation (bits 16-27)
// and a slot number plus one (bits 0-15), so it is never 0. Removing an object
// bumps its slot's generation, and freed slots are reused oldest first, so a
// stale handle keeps failing until its slot has been reused 4096 times; a
// handle of another table never matches. At most 65535 objects live at once.
// Not thread-safe: callers hold their own lock.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace graphics {

template <class T>
class HandleTable {
 public:
  explicit HandleTable(std::uint32_t tag) : tag_((tag & 0xFu) << 28) {}

  // The new object's handle, or 0 when the table is full.
  std::uint32_t Add(std::unique_ptr<T> object) {
    std::uint32_t index;
    if (!free_.empty()) {
      index = free_.front();
      free_.pop_front();
    } else {
      if (slots_.size() >= kMaxSlots) return 0;
      index = static_cast<std::uint32_t>(slots_.size());
      slots_.emplace_back();
    }
    slots_[index].object = std::move(object);
    return Compose(index, slots_[index].generation);
  }

  // The live object of `handle`, or null.
  T* Get(std::uint32_t handle) const {
    const Slot* s = Find(handle);
    return s ? s->object.get() : nullptr;
  }

  // Takes the object out; its handle becomes stale. Null when not live.
  std::unique_ptr<T> Remove(std::uint32_t handle) {
    Slot* s = const_cast<Slot*>(Find(handle));
    if (!s) return nullptr;
    std::unique_ptr<T> out = std::move(s->object);
    s->generation = (s->generation + 1) & kGenerationMask;
    free_.push_back(static_cast<std::uint32_t>(s - slots_.data()));
    return out;
  }

  // Calls f(handle, object&) for every live object.
  template <class F>
  void ForEach(F&& f) {
    for (std::uint32_t i = 0; i < slots_.size(); ++i)
      if (slots_[i].object) f(Compose(i, slots_[i].generation), *slots_[i].object);
  }

 private:
  static constexpr std::uint32_t kMaxSlots = 0xFFFF;
  static constexpr std::uint32_t kGenerationMask = 0xFFF;

  struct Slot {
    std::unique_ptr<T> object;
    std::uint32_t generation = 0;
  };

  std::uint32_t Compose(std::uint32_t index, std::uint32_t generation) const {
    return tag_ | generation << 16 | (index + 1);
  }

  const Slot* Find(std::uint32_t handle) const {
    if ((handle & 0xF0000000u) != tag_) return nullptr;
    const std::uint32_t index = (handle & 0xFFFF) - 1;
    if (index >= slots_.size()) return nullptr;
    const Slot& s = slots_[index];
    if (!s.object || s.generation != ((handle >> 16) & kGenerationMask)) return nullptr;
    return &s;
  }

  std::uint32_t tag_;
  std::vector<Slot> slots_;
  std::deque<std::uint32_t> free_;
};

}  // namespace graphics
