#include "zrX/SharedText.hpp"

#include <cstring>

namespace zrX {

const std::string kEmptyText;
const std::string kNullID("#NULL");

SharedText* SharedText::make(std::string_view text) { return new SharedText(text); }

namespace {

// This thread's shared texts of C string constants, direct-mapped by address. Each slot holds a
// reference; they are released when the thread ends.
class ConstantCache {
 public:
  ~ConstantCache() {
    for (Slot& slot : mSlots)
      if (slot.text) slot.text->release();
  }

  SharedText* get(const char* constant) {
    const auto address = reinterpret_cast<uintptr_t>(constant);
    Slot& slot = mSlots[(address * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
    // The address alone is not enough: a buffer may hold another text by now.
    if (slot.address != constant || std::strcmp(slot.text->text().c_str(), constant) != 0) {
      SharedText* fresh = SharedText::make(constant);
      if (slot.text) slot.text->release();
      slot.address = constant;
      slot.text = fresh;
    }
    slot.text->retain();
    return slot.text;
  }

 private:
  static constexpr int kBits = 7;
  struct Slot {
    const char* address = nullptr;
    SharedText* text = nullptr;
  };
  Slot mSlots[1 << kBits];
};

}  // namespace

SharedText* SharedText::fromConstant(const char* text) {
  thread_local ConstantCache cache;
  return cache.get(text);
}

TextCache::~TextCache() {
  for (SharedText* text : mTexts) text->release();
}

TextRef TextCache::get(std::string_view text) {
  if (mLast != TextIndex::kNone && mIndex.text(mLast) == text) {
    mTexts[mLast]->retain();
    return TextRef::adopt(mTexts[mLast]);
  }
  bool inserted = false;
  const uint32_t number = mIndex.insert(text, &inserted);
  if (inserted) mTexts.push_back(SharedText::make(text));
  mLast = number;
  mTexts[number]->retain();
  return TextRef::adopt(mTexts[number]);
}

}  // namespace zrX
