#include "zrX/TextIndex.hpp"

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
  size_t slot = static_cast<size_t>(h) & mMask;
  while (mSlots[slot] != kNone) {
    if (matches(mSlots[slot], h, text)) {
      *inserted = false;
      return mSlots[slot];
    }
    slot = (slot + 1) & mMask;
  }
  const auto index = static_cast<uint32_t>(mKeys.size());
  mSlots[slot] = index;
  mKeys.push_back(Key{h, mBytes.size(), text.size()});
  mBytes.append(text.data(), text.size());
  *inserted = true;
  return index;
}

uint32_t TextIndex::find(std::string_view text) const {
  if (mSlots.empty()) return kNone;
  const uint64_t h = hash(text);
  for (size_t slot = static_cast<size_t>(h) & mMask;; slot = (slot + 1) & mMask) {
    const uint32_t index = mSlots[slot];
    if (index == kNone || matches(index, h, text)) return index;
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
  mSlots.assign(capacity, kNone);
  mMask = capacity - 1;
  for (uint32_t index = 0; index < mKeys.size(); ++index) {
    size_t slot = static_cast<size_t>(mKeys[index].hash) & mMask;
    while (mSlots[slot] != kNone) slot = (slot + 1) & mMask;
    mSlots[slot] = index;
  }
}

}  // namespace zrX
