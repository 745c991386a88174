#include "zrX/SharedText.hpp"

#include <cstring>

namespace zrX {

const std::string kEmptyText;
const std::string kNullID("#NULL");

SharedText* SharedText::make(std::string_view text) { return new SharedText(text); }

namespace {

// This thread's shared texts of C string constants, direct-mapped by address. Each slot holds a
// reference of its own and a batch taken in advance, handed out one by one (no atomic operation
// for most uses); what is left is given back when the slot is reused or the thread ends.
class ConstantCache {
 public:
  ~ConstantCache() {
    for (Slot& slot : mSlots)
      if (slot.text) slot.text->release(slot.ahead + 1);
  }

  SharedText* get(const char* constant) {
    const auto address = reinterpret_cast<uintptr_t>(constant);
    Slot& slot = mSlots[(address * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
    // The address alone is not enough: a buffer may hold another text by now.
    if (slot.address != constant || std::strcmp(slot.text->text().c_str(), constant) != 0) {
      SharedText* fresh = SharedText::make(constant);
      if (slot.text) slot.text->release(slot.ahead + 1);
      slot.address = constant;
      slot.text = fresh;
      slot.ahead = 0;
    }
    if (slot.ahead == 0) {
      slot.text->retain(kBatch);
      slot.ahead = kBatch;
    }
    --slot.ahead;
    return slot.text;
  }

 private:
  static constexpr int kBits = 7;
  static constexpr int32_t kBatch = 1 << 16;
  struct Slot {
    const char* address = nullptr;
    SharedText* text = nullptr;
    int32_t ahead = 0;
  };
  Slot mSlots[1 << kBits];
};

}  // namespace

SharedText* SharedText::fromConstant(const char* text) {
  thread_local ConstantCache cache;
  return cache.get(text);
}

TextCache::~TextCache() {
  for (const Entry& entry : mTexts) entry.text->release(entry.ahead + 1);
}

TextRef TextCache::handOut(Entry& entry) {
  constexpr int32_t kBatch = 1 << 16;
  if (entry.ahead == 0) {
    entry.text->retain(kBatch);
    entry.ahead = kBatch;
  }
  --entry.ahead;
  return TextRef::adopt(entry.text);
}

TextRef TextCache::get(std::string_view text) {
  uint32_t* recent = nullptr;
  if (!text.empty() && text.size() <= kRecentLength) {
    const size_t slot = (text.size() * 31 + static_cast<unsigned char>(text.front()) * 7 +
                         static_cast<unsigned char>(text.back())) %
                        kRecentSlots;
    recent = &mRecent[slot];
    if (*recent != TextIndex::kNone) {
      const std::string& known = mTexts[*recent].text->text();
      if (known.size() == text.size() &&
          TextIndex::sameShort(known.data(), text.data(), text.size()))
        return handOut(mTexts[*recent]);
    }
  }
  bool inserted = false;
  const uint32_t number = mIndex.insert(text, &inserted);
  if (inserted) mTexts.push_back(Entry{SharedText::make(text), 0});
  if (recent) *recent = number;
  return handOut(mTexts[number]);
}

}  // namespace zrX
