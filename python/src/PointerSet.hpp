// PointerSet: a set of node addresses for the module's walks over trees (open addressing, linear
// probing, grown at half load). Faster than std::unordered_set for the hundreds of thousands of
// nodes a walk can meet, and it allocates in proportion to what it holds. One walk, one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zrxpy {

class PointerSet {
 public:
  // True when `p` (not null) was not in the set yet.
  bool insert(const void* p) {
    if (2 * (mCount + 1) > mSlots.size()) grow();
    if (place(mSlots, p)) {
      ++mCount;
      return true;
    }
    return false;
  }
  size_t size() const { return mCount; }

 private:
  static bool place(std::vector<const void*>& slots, const void* p) {
    const size_t mask = slots.size() - 1;
    auto h = static_cast<size_t>(reinterpret_cast<uintptr_t>(p) >> 4);
    h *= static_cast<size_t>(0x9E3779B97F4A7C15ull);
    for (size_t i = (h ^ (h >> 29)) & mask;; i = (i + 1) & mask) {
      if (slots[i] == p) return false;
      if (!slots[i]) {
        slots[i] = p;
        return true;
      }
    }
  }
  void grow() {
    std::vector<const void*> bigger(mSlots.empty() ? 64 : 2 * mSlots.size(), nullptr);
    for (const void* p : mSlots)
      if (p) place(bigger, p);
    mSlots.swap(bigger);
  }

  std::vector<const void*> mSlots;
  size_t mCount = 0;
};

}  // namespace zrxpy
