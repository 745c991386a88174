// TextIndex: numbers distinct texts 0, 1, 2, ... in the order they are first inserted; the text
// counterpart of PointerIndex. It is the index behind the ID maps (IDMaps.hpp): structure IDs
// counted while saving and mapped while linking, hundreds of thousands of them per document.
//
// Open addressing over plain arrays: the index keeps a copy of every text in one byte buffer (no
// allocation per entry) and its hash beside it, so a lookup costs about one probe and one
// comparison. The hash is seeded once per process, so a document cannot be built to make every
// lookup collide. Not thread-safe; a value type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "zrX/Export.hpp"

namespace zrX {

class ZRX_API TextIndex {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // The number of `text`, inserted now if it is new; `inserted` says which.
  uint32_t insert(std::string_view text, bool* inserted);
  // The number of `text`, or kNone.
  uint32_t find(std::string_view text) const;

  size_t size() const { return mKeys.size(); }
  bool empty() const { return mKeys.empty(); }
  std::string_view text(uint32_t index) const {
    const Key& key = mKeys[index];
    return std::string_view(mBytes.data() + key.offset, key.length);
  }
  void clear();
  void reserve(size_t count);

  // The seeded hash of the index; stable for the life of the process.
  static uint64_t hash(std::string_view text);

 private:
  // A text of up to kInline bytes (IDs, tags, keys) is compared in its key record, without a
  // look at the byte buffer.
  static constexpr size_t kInline = 16;
  struct Key {
    uint64_t hash;
    size_t offset;
    size_t length;
    char head[kInline];
  };
  bool matches(uint32_t index, uint64_t hash, std::string_view text) const {
    const Key& key = mKeys[index];
    if (key.hash != hash || key.length != text.size()) return false;
    if (text.size() <= kInline) return sameShort(key.head, text.data(), text.size());
    return std::string_view(mBytes.data() + key.offset, key.length) == text;
  }

 public:
  // Whether the first `length` bytes of a and b are equal, for short texts: a loop the compiler
  // keeps inline, cheaper than a call to memcmp for a handful of bytes.
  static bool sameShort(const char* a, const char* b, size_t length) {
    unsigned char differ = 0;
    for (size_t i = 0; i < length; ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
  }

 private:
  void grow(size_t capacity);

  // A slot holds the number of a text and the low bits of its hash, so probing and growing touch
  // the texts only to confirm a match.
  struct Slot {
    uint32_t index;  // kNone for an empty slot
    uint32_t hash;
  };

  std::string mBytes;
  std::vector<Key> mKeys;
  std::vector<Slot> mSlots;
  size_t mMask = 0;
};

}  // namespace zrX
