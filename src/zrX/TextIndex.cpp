#include "zrX/TextIndex.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

namespace zrX {

namespace {

uint64_t mix(uint64_t x) {
  x ^= x >> 32;
  x *= 0xD6E8FEB86659FD93ull;
  x ^= x >> 32;
  x *= 0xD6E8FEB86659FD93ull;
  x ^= x >> 32;
  return x;
}

uint64_t processSeed() {
  static const uint64_t seed = [] {
    std::random_device device;
    const uint64_t bits =
        (static_cast<uint64_t>(device()) << 32) ^ device() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return mix(bits) | 1;
  }();
  return seed;
}

uint64_t load64(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

}  // namespace

uint64_t TextIndex::hash(std::string_view text) {
  static const uint64_t seed = processSeed();
  const char* p = text.data();
  size_t n = text.size();
  uint64_t h = seed ^ (n * 0x9E3779B97F4A7C15ull);
  while (n >= 8) {
    h = (h ^ load64(p)) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 29;
    p += 8;
    n -= 8;
  }
  if (n > 0) {
    uint64_t tail = 0;
    std::memcpy(&tail, p, n);
    h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
  }
  return mix(h);
}

uint32_t TextIndex::insert(std::string_view text, bool* inserted) {
  if ((mKeys.size() + 1) * 2 > mSlots.size()) grow(mSlots.empty() ? 64 : mSlots.size() * 2);
  const uint64_t h = hash(text);
  const auto low = static_cast<uint32_t>(h);
  size_t slot = static_cast<size_t>(h) & mMask;
  while (mSlots[slot].index != kNone) {
    if (mSlots[slot].hash == low && matches(mSlots[slot].index, h, text)) {
      *inserted = false;
      return mSlots[slot].index;
    }
    slot = (slot + 1) & mMask;
  }
  const auto index = static_cast<uint32_t>(mKeys.size());
  mSlots[slot] = Slot{index, low};
  Key& key = mKeys.emplace_back();
  key.hash = h;
  key.offset = mBytes.size();
  key.length = text.size();
  std::memcpy(key.head, text.data(), std::min(text.size(), kInline));
  mBytes.append(text.data(), text.size());
  *inserted = true;
  return index;
}

uint32_t TextIndex::find(std::string_view text) const {
  if (mSlots.empty()) return kNone;
  const uint64_t h = hash(text);
  const auto low = static_cast<uint32_t>(h);
  for (size_t slot = static_cast<size_t>(h) & mMask;; slot = (slot + 1) & mMask) {
    const Slot& s = mSlots[slot];
    if (s.index == kNone) return kNone;
    if (s.hash == low && matches(s.index, h, text)) return s.index;
  }
}

void TextIndex::clear() {
  mBytes.clear();
  mKeys.clear();
  mSlots.clear();
  mMask = 0;
}

void TextIndex::reserve(size_t count) {
  size_t capacity = 64;
  while (capacity < count * 2) capacity *= 2;
  if (capacity > mSlots.size()) grow(capacity);
  mKeys.reserve(count);
}

void TextIndex::grow(size_t capacity) {
  // The old slots are taken in order and carry their hash, so the new ones fill in two ascending
  // runs (a slot's texts move to the same place or one old table further) without touching the
  // texts: few cache misses. The table stays below 2^32 slots, so the low hash bits place a slot.
  std::vector<Slot> old(capacity, Slot{kNone, 0});
  old.swap(mSlots);
  mMask = capacity - 1;
  for (const Slot& s : old) {
    if (s.index == kNone) continue;
    size_t slot = s.hash & mMask;
    while (mSlots[slot].index != kNone) slot = (slot + 1) & mMask;
    mSlots[slot] = s;
  }
}

}  // namespace zrX
