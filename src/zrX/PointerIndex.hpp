// PointerIndex: numbers distinct addresses 0, 1, 2, ... in the order they are first inserted. It
// is the visited set of the tree walks and the identity maps of the serializer, so it is built for
// that load: an open-addressing table of plain arrays, no allocation per entry, and a slot holds
// the address beside its number, so a lookup costs about one cache miss. Not thread-safe; a value
// type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace zrX {

class PointerIndex {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // The number of `address`, inserted now if it is new; `inserted` says which.
  uint32_t insert(const void* address, bool* inserted) {
    if ((mKeys.size() + 1) * 2 > mSlots.size()) grow();
    size_t slot = slotOf(address);
    while (mSlots[slot].index != kNone) {
      if (mSlots[slot].key == address) {
        *inserted = false;
        return mSlots[slot].index;
      }
      slot = (slot + 1) & mMask;
    }
    const auto index = static_cast<uint32_t>(mKeys.size());
    mSlots[slot] = Slot{address, index};
    mKeys.push_back(address);
    *inserted = true;
    return index;
  }

  // The number of `address`, or kNone.
  uint32_t find(const void* address) const {
    if (mSlots.empty()) return kNone;
    for (size_t slot = slotOf(address);; slot = (slot + 1) & mMask) {
      const Slot& s = mSlots[slot];
      if (s.index == kNone || s.key == address) return s.index;
    }
  }

  size_t size() const { return mKeys.size(); }
  const void* key(uint32_t index) const { return mKeys[index]; }
  void clear() {
    mKeys.clear();
    mSlots.clear();
    mShift = 64;
    mMask = 0;
  }
  // Room for `count` addresses without growing.
  void reserve(size_t count) {
    mKeys.reserve(count);
    while (mSlots.size() < count * 2) grow();
  }

 private:
  struct Slot {
    const void* key;
    uint32_t index;  // kNone for an empty slot
  };

  size_t slotOf(const void* address) const {
    const auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address));
    return static_cast<size_t>((bits * 0x9E3779B97F4A7C15ull) >> mShift);
  }

  void grow() {
    const size_t capacity = mSlots.empty() ? 64 : mSlots.size() * 2;
    mShift = 64;
    for (size_t c = capacity; c > 1; c >>= 1) --mShift;
    mMask = capacity - 1;
    // The old slots are taken in order: an address goes to twice its old place or one further, so
    // the new table fills in ascending order with few cache misses.
    std::vector<Slot> old(capacity, Slot{nullptr, kNone});
    old.swap(mSlots);
    for (const Slot& s : old) {
      if (s.index == kNone) continue;
      size_t slot = slotOf(s.key);
      while (mSlots[slot].index != kNone) slot = (slot + 1) & mMask;
      mSlots[slot] = s;
    }
  }

  std::vector<const void*> mKeys;
  std::vector<Slot> mSlots;
  int mShift = 64;
  size_t mMask = 0;
};

}  // namespace zrX
