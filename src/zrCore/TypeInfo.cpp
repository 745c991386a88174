#include "zrCore/TypeInfo.hpp"

#include <cstring>

namespace zr {

namespace {

inline uint32_t rotl32(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline uint32_t fmix32(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85ebca6bu;
  h ^= h >> 13;
  h *= 0xc2b2ae35u;
  h ^= h >> 16;
  return h;
}

}  // namespace

void MurmurHash3_x86_32(const void* key, int len, uint32_t seed, void* out) {
  const auto* data = static_cast<const uint8_t*>(key);
  const int nblocks = len / 4;
  uint32_t h1 = seed;
  const uint32_t c1 = 0xcc9e2d51u;
  const uint32_t c2 = 0x1b873593u;

  for (int i = 0; i < nblocks; ++i) {
    uint32_t k1;
    std::memcpy(&k1, data + 4 * i, 4);  // the reference reads blocks in host (little-endian) order
    k1 *= c1;
    k1 = rotl32(k1, 15);
    k1 *= c2;
    h1 ^= k1;
    h1 = rotl32(h1, 13);
    h1 = h1 * 5 + 0xe6546b64u;
  }

  const uint8_t* tail = data + nblocks * 4;
  uint32_t k1 = 0;
  switch (len & 3) {
    case 3:
      k1 ^= uint32_t(tail[2]) << 16;
      [[fallthrough]];
    case 2:
      k1 ^= uint32_t(tail[1]) << 8;
      [[fallthrough]];
    case 1:
      k1 ^= tail[0];
      k1 *= c1;
      k1 = rotl32(k1, 15);
      k1 *= c2;
      h1 ^= k1;
  }

  h1 ^= uint32_t(len);
  h1 = fmix32(h1);
  std::memcpy(out, &h1, 4);
}

TypeInfo::TypeInfo(const char* name) : mHash(0), mName(name) {
  MurmurHash3_x86_32(name, static_cast<int>(std::strlen(name)), 0, &mHash);
}

}  // namespace zr
