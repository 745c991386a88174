#include "zrX/IDMaps.hpp"

#include <ostream>

#include "zrX/Value.hpp"

namespace zrX {

IDCountMap::IDCountMap(std::initializer_list<std::pair<std::string_view, int32_t>> entries) {
  for (const auto& [id, count] : entries) (*this)[id] = count;
}

std::vector<IDCountMap::Entry> IDCountMap::entries() const {
  std::vector<Entry> out;
  out.reserve(size());
  for (uint32_t number = 0; number < size(); ++number) out.push_back(entry(number));
  return out;
}

bool IDCountMap::operator==(const IDCountMap& other) const {
  if (size() != other.size()) return false;
  for (uint32_t number = 0; number < size(); ++number) {
    const int32_t* theirs = other.find(mIndex.text(number));
    if (!theirs || *theirs != mCounts[number]) return false;
  }
  return true;
}

std::ostream& operator<<(std::ostream& out, const IDCountMap& map) {
  out << '{';
  for (uint32_t number = 0; number < map.size(); ++number) {
    const IDCountMap::Entry entry = map.entry(number);
    out << (number ? ", " : "") << entry.id << ": " << entry.count;
  }
  return out << '}';
}

ZRXStructure* LinkMap::insert(std::string_view id, ZRXStructure* structure) {
  bool fresh = false;
  const uint32_t number = mIndex.insert(id, &fresh);
  if (fresh) mStructures.emplace_back(structure);
  return mStructures[number].get();
}

}  // namespace zrX
