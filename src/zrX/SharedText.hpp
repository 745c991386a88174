// SharedText and TextRef: the texts of document nodes (tags, structure IDs, entry keys), shared
// between the nodes that carry the same text.
//
// A document of 300,000 structures holds 300,000 copies of "<Node>" and of each of its keys; a
// TextRef is one pointer to an immutable, reference-counted SharedText instead, so a node spends 8
// bytes on each such text and copying one costs an increment. The readers share one SharedText per
// distinct text of a document (TextCache); texts given as C string constants (new
// ZRXStructure("<Node>"), *st << "name") are shared through a small per-thread cache keyed by the
// constant's address, checked against its content.
//
// A SharedText never changes. Its count is atomic, so nodes on several threads may share one; the
// nodes themselves still belong to one thread at a time. The empty TextRef (null) stands for the
// text its owner defines as the default (the empty tag, "#NULL" for an ID).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zrX/Export.hpp"
#include "zrX/TextIndex.hpp"

namespace zrX {

class ZRX_API SharedText {
 public:
  // A new text with one reference (the caller's).
  static SharedText* make(std::string_view text);
  // The shared text for a C string constant, from this thread's cache when it holds the same
  // address with the same content; one reference for the caller. REQUIRES: `text` is not null.
  static SharedText* fromConstant(const char* text);

  const std::string& text() const { return mText; }
  void retain() const { mCount.fetch_add(1, std::memory_order_relaxed); }
  void release() const { release(1); }
  // Several references at once (a TextCache takes them in advance, to hand out one by one).
  void retain(int32_t count) const { mCount.fetch_add(count, std::memory_order_relaxed); }
  void release(int32_t count) const {
    if (mCount.fetch_sub(count, std::memory_order_acq_rel) == count) delete this;
  }

 private:
  explicit SharedText(std::string_view text) : mText(text) {}
  ~SharedText() = default;

  mutable std::atomic<int32_t> mCount{1};
  std::string mText;
};

// One reference on a SharedText, or none (the default text).
class TextRef {
 public:
  TextRef() = default;
  // Takes over the reference the caller holds on `text` (may be null).
  static TextRef adopt(SharedText* text) {
    TextRef ref;
    ref.mText = text;
    return ref;
  }
  TextRef(const TextRef& other) : mText(other.mText) {
    if (mText) mText->retain();
  }
  TextRef(TextRef&& other) noexcept : mText(other.mText) { other.mText = nullptr; }
  TextRef& operator=(const TextRef& other) {
    if (other.mText) other.mText->retain();
    reset();
    mText = other.mText;
    return *this;
  }
  TextRef& operator=(TextRef&& other) noexcept {
    if (this != &other) {
      reset();
      mText = other.mText;
      other.mText = nullptr;
    }
    return *this;
  }
  ~TextRef() { reset(); }

  bool isDefault() const { return mText == nullptr; }
  // The text, or `fallback` for the default.
  const std::string& text(const std::string& fallback) const {
    return mText ? mText->text() : fallback;
  }
  const SharedText* shared() const { return mText; }
  void reset() {
    if (mText) mText->release();
    mText = nullptr;
  }

 private:
  SharedText* mText = nullptr;
};

// The texts of one document being read: one SharedText per distinct text. Used by one reader.
// References are taken from the counts in batches and handed out one by one: a document of 10^6
// entries costs a few atomic operations for its keys, not 10^6.
class ZRX_API TextCache {
 public:
  TextCache() {
    for (uint32_t& slot : mRecent) slot = TextIndex::kNone;
  }
  TextCache(const TextCache&) = delete;
  TextCache& operator=(const TextCache&) = delete;
  ~TextCache();

  // A reference on the shared text equal to `text` (never the default, also for "").
  TextRef get(std::string_view text);

 private:
  struct Entry {
    SharedText* text;  // one reference of the cache's own
    int32_t ahead;     // references taken in advance and not handed out yet
  };
  TextRef handOut(Entry& entry);

  TextIndex mIndex;
  std::vector<Entry> mTexts;  // by number
  // Recent short texts, direct-mapped by length and first and last bytes: a document's keys and
  // tags are few, and a hit costs no hash.
  static constexpr size_t kRecentSlots = 64;
  static constexpr size_t kRecentLength = 24;
  uint32_t mRecent[kRecentSlots];
};

// The text of an empty TextRef for tags and keys, and for IDs ("#NULL").
ZRX_API extern const std::string kEmptyText;
ZRX_API extern const std::string kNullID;

}  // namespace zrX
