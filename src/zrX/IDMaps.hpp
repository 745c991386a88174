// The two maps keyed by structure ID texts: IDCountMap, filled by VisitorIDCounter and read by the
// writers to decide which IDs are written, and LinkMap, filled by VisitorLinkMapper and read by
// VisitorLinker to turn ID values into the structures they name.
//
// Both are hash maps over a TextIndex: a lookup costs one hash of the ID and about one probe,
// whatever the number of IDs (documents hold hundreds of thousands). Entries keep the order in
// which their IDs were first entered. Each map copies the ID texts it holds. A map belongs to one
// save or one link, on one thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <string_view>
#include <utility>
#include <vector>

#include "zrCore/Object.hpp"
#include "zrX/Export.hpp"
#include "zrX/TextIndex.hpp"
#include "zrX/Value.hpp"

namespace zrX {

// ID text -> count.
class ZRX_API IDCountMap {
 public:
  struct Entry {
    std::string_view id;
    int32_t count;
  };

  IDCountMap() = default;
  IDCountMap(std::initializer_list<std::pair<std::string_view, int32_t>> entries);

  // The count of `id`, entered with 0 first when absent.
  int32_t& operator[](std::string_view id) { return mCounts[numberOf(id)]; }
  // The count of `id`, or null when absent.
  const int32_t* find(std::string_view id) const {
    const uint32_t number = mIndex.find(id);
    return number == TextIndex::kNone ? nullptr : &mCounts[number];
  }
  // The number of `id`, or TextIndex::kNone when absent.
  uint32_t numberIfPresent(std::string_view id) const { return mIndex.find(id); }
  // 1 when `id` is present, 0 otherwise (as std::map::count).
  size_t count(std::string_view id) const { return mIndex.find(id) == TextIndex::kNone ? 0 : 1; }
  // The number of `id` (0, 1, 2, ... in order of first entry), entered with count 0 when absent.
  uint32_t numberOf(std::string_view id, bool* inserted = nullptr) {
    bool fresh = false;
    const uint32_t number = mIndex.insert(id, &fresh);
    if (fresh) mCounts.push_back(0);
    if (inserted) *inserted = fresh;
    return number;
  }
  int32_t& countAt(uint32_t number) { return mCounts[number]; }
  int32_t countOf(uint32_t number) const { return mCounts[number]; }

  size_t size() const { return mCounts.size(); }
  bool empty() const { return mCounts.empty(); }
  void clear() {
    mIndex.clear();
    mCounts.clear();
  }
  Entry entry(uint32_t number) const { return Entry{mIndex.text(number), mCounts[number]}; }
  // The entries in order of first entry.
  std::vector<Entry> entries() const;

  // Equal when both hold the same IDs with the same counts, whatever the order.
  bool operator==(const IDCountMap& other) const;
  bool operator!=(const IDCountMap& other) const { return !(*this == other); }

 private:
  TextIndex mIndex;
  std::vector<int32_t> mCounts;
};

// "{#a: 2, #b: 1}", in order of first entry (for test failures and diagnostics).
ZRX_API std::ostream& operator<<(std::ostream& out, const IDCountMap& map);

// ID text -> the structure carrying that ID. The map holds a reference on each mapped structure.
class ZRX_API LinkMap {
 public:
  LinkMap() = default;

  // The structure mapped under `id`, or null.
  ZRXStructure* find(std::string_view id) const {
    const uint32_t number = mIndex.find(id);
    return number == TextIndex::kNone ? nullptr : mStructures[number].get();
  }
  // Maps `structure` under `id` unless `id` is mapped already; returns the structure mapped
  // under `id` afterwards (`structure`, or the one mapped before). REQUIRES: `structure` is not
  // null.
  ZRXStructure* insert(std::string_view id, ZRXStructure* structure);

  size_t size() const { return mStructures.size(); }
  bool empty() const { return mStructures.empty(); }
  void reserve(size_t count) {
    mIndex.reserve(count);
    mStructures.reserve(count);
  }

 private:
  TextIndex mIndex;
  std::vector<zr::ref<ZRXStructure>> mStructures;
};

}  // namespace zrX
