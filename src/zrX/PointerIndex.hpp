// PointerIndex: numbers distinct addresses 0, 1, 2, ... in the order they are first inserted. It
// is the visited set of every tree walk and the node table of breakCycles, so it is built for
// that load: an open-addressing table of plain arrays, no allocation per entry, about one probe
// per lookup. Not thread-safe; a value type.
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
    while (mSlots[slot] != kNone) {
      if (mKeys[mSlots[slot]] == address) {
        *inserted = false;
        return mSlots[slot];
      }
      slot = (slot + 1) & (mSlots.size() - 1);
    }
    const auto index = static_cast<uint32_t>(mKeys.size());
    mSlots[slot] = index;
    mKeys.push_back(address);
    *inserted = true;
    return index;
  }

  // The number of `address`, or kNone.
  uint32_t find(const void* address) const {
    if (mSlots.empty()) return kNone;
    for (size_t slot = slotOf(address);; slot = (slot + 1) & (mSlots.size() - 1)) {
      const uint32_t index = mSlots[slot];
      if (index == kNone || mKeys[index] == address) return index;
    }
  }

  size_t size() const { return mKeys.size(); }
  const void* key(uint32_t index) const { return mKeys[index]; }
  void clear() {
    mKeys.clear();
    mSlots.clear();
    mShift = 64;
  }
  // Room for `count` addresses without growing.
  void reserve(size_t count) {
    mKeys.reserve(count);
    while (mSlots.size() < count * 2) grow();
  }

 private:
  size_t slotOf(const void* address) const {
    const auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address));
    return static_cast<size_t>((bits * 0x9E3779B97F4A7C15ull) >> mShift);
  }

  void grow() {
    const size_t capacity = mSlots.empty() ? 64 : mSlots.size() * 2;
    mShift = 64;
    for (size_t c = capacity; c > 1; c >>= 1) --mShift;
    mSlots.assign(capacity, kNone);
    for (uint32_t index = 0; index < mKeys.size(); ++index) {
      size_t slot = slotOf(mKeys[index]);
      while (mSlots[slot] != kNone) slot = (slot + 1) & (capacity - 1);
      mSlots[slot] = index;
    }
  }

  std::vector<const void*> mKeys;
  std::vector<uint32_t> mSlots;  // kNone or a number
  int mShift = 64;
};

}  // namespace zrX
