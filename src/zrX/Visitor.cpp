#include "zrX/Visitor.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"
#include "zrX/VisitorExportToZRT.hpp"

// The text-rule checks stay out of the frames of the recursive walk.
#if defined(__GNUC__) || defined(__clang__)
#define ZRX_NOINLINE __attribute__((noinline))
#else
#define ZRX_NOINLINE
#endif

namespace zrX {

ZR_DEFINE_TYPE(Visitor, zr::Object, "zrX::Visitor")
ZR_DEFINE_TYPE(VisitorIDCounter, Visitor, "zrX::VisitorCountIDs")

void Visitor::visitStructure(ZRXStructure*) {}
void Visitor::visitList(ZRXList*) {}
void Visitor::visitRawtextBlock(ZRXRawtextBlock*) {}
void Visitor::visitArray(ZRXArrayReal*) {}
void Visitor::visitArray(ZRXArrayInteger*) {}

void Visitor::recordFailure(const std::string& message) {
  if (mFailure.empty()) mFailure = message;
}

bool Visitor::enterLevel(const char* who, const ZRXTaggedValue* node) {
  if (mDepth >= mMaxDepth) {
    recordFailure(std::string(who) + ": nesting deeper than " + std::to_string(mMaxDepth) +
                  " levels at " +
                  (node->tag().empty() ? std::string("an untagged node")
                                       : "'" + zr::messageText(node->tag()) + "'"));
    return false;
  }
  ++mDepth;
  mEntered.push_back(node);
  return true;
}

namespace {

// The entry or element of `node` whose value is `value` (by address), or whose value holds
// `child`, as a path segment ("/key", "/key@2", "[3]"); empty when there is none.
std::string segmentIn(const ZRXTaggedValue* node, const ZRXValue* value,
                      const ZRXTaggedValue* child) {
  const auto holds = [&](const ZRXValue& v) {
    if (value) return &v == value;
    return (v.type() == ZRXValue::Structure && v.getStructure() == child) ||
           (v.type() == ZRXValue::List && v.getList() == child);
  };
  if (node->classType() == ZRXStructure::Type()) {
    const auto& entries = static_cast<const ZRXStructure*>(node)->value();
    for (size_t i = 0; i < entries.size(); ++i) {
      if (!holds(entries[i].value())) continue;
      const std::string& key = entries[i].key();
      size_t earlier = 0;
      for (size_t j = 0; j < i; ++j) earlier += entries[j].key() == key;
      std::string segment = "/" + zr::messageText(key);
      if (earlier > 0) segment += "@" + std::to_string(earlier + 1);
      return segment;
    }
  } else if (node->classType() == ZRXList::Type()) {
    const auto& elements = static_cast<const ZRXList*>(node)->value();
    for (size_t i = 0; i < elements.size(); ++i)
      if (holds(elements[i])) return "[" + std::to_string(i) + "]";
  }
  return std::string();
}

}  // namespace

std::string Visitor::placePath(const ZRXValue* value) const {
  if (mEntered.empty()) return "the top level";
  std::vector<std::string> segments;
  const ZRXTaggedValue* top = mEntered.front();
  std::string first = "/" + zr::messageText(top->tag());
  if (mTopLevel) {
    // Numbered among the top-level structures outside the metadata, as the zrx tool does.
    size_t same = 0, position = 0, index = 0;
    for (const zr::ref<ZRXStructure>& structure : *mTopLevel) {
      if (structure->tag() == "<Metadata>") continue;
      if (structure.get() == top) position = index;
      same += structure->tag() == top->tag();
      ++index;
    }
    if (same > 1 && top->tag() != "<Metadata>") first += "[" + std::to_string(position) + "]";
  }
  segments.push_back(first);
  for (size_t i = 1; i < mEntered.size(); ++i)
    segments.push_back(segmentIn(mEntered[i - 1], nullptr, mEntered[i]));
  if (value) {
    std::string last = segmentIn(mEntered.back(), value, nullptr);
    if (!last.empty()) segments.push_back(last);
  }
  // A deep place keeps its first and last segments.
  constexpr size_t kHead = 8, kTail = 16;
  std::string path;
  for (size_t i = 0; i < segments.size(); ++i) {
    if (segments.size() > kHead + kTail && i == kHead) {
      path += "/...";
      i = segments.size() - kTail;
    }
    path += segments[i];
  }
  return path;
}

namespace {

bool hasOwnID(const ZRXStructure* structure) { return structure->hasID(); }

std::string describe(const ZRXTaggedValue* node) {
  return node->tag().empty() ? std::string("untagged") : "'" + zr::messageText(node->tag()) + "'";
}

// "structure '<T>'", or "untagged structure".
std::string describe(const char* kind, const ZRXTaggedValue* node) {
  return node->tag().empty() ? "untagged " + std::string(kind)
                             : std::string(kind) + " '" + zr::messageText(node->tag()) + "'";
}

}  // namespace

void VisitorIDCounter::visitStructure(ZRXStructure* structure) {
  ZR_CHECK(mIDSet);
  if (mDeferred) {
    visitDeferred(structure);
    return;
  }
  if (hasOwnID(structure)) {
    // The ID's entry tells whether the structure was met before: it names the structure that
    // first carried the ID.
    const uint32_t number = mIDSet->numberOf(structure->uid());
    ++mIDSet->countAt(number);
    if (mOwners.size() <= number) mOwners.resize(mIDSet->size(), nullptr);
    const ZRXStructure*& owner = mOwners[number];
    if (owner == structure) return;
    if (!owner) {
      owner = structure;
      if (isGuarded(structure) && recording()) {
        noteFirstVisit(structure);
        mRecordIDs.push_back(number);
      }
    } else {
      // A second structure with the same ID is remembered by its address.
      if (isVisited(structure)) return;
      recordFailure("VisitorIDCounter: structures " + describe(owner) + " and " +
                    describe(structure) + " carry the same ID '" +
                    zr::messageText(structure->uid()) + "'; an ID can name one structure only.");
    }
  } else if (isGuarded(structure)) {
    if (isVisitedIfShared(structure)) {
      recordFailure("VisitorIDCounter: " + describe("structure", structure) +
                    " without an ID is reached a second time at " + placePath(mPlaceValue) +
                    "; only a structure with an ID can be shared.");
      return;
    }
    if (recording()) mRecordIDs.push_back(TextIndex::kNone);
  }
  if (!enterLevel("VisitorIDCounter", structure)) return;
  for (const ZRXStructure::KeyValue& entry : structure->value()) walkValue(entry.value());
  leaveLevel();
}

void VisitorIDCounter::noteWalkFailure() {
  if (mDeferred && mFailureAt == SIZE_MAX && failed()) mFailureAt = mCarriers.size();
}

void VisitorIDCounter::recordWalkFailure(const std::string& message) {
  recordFailure(message);
  noteWalkFailure();
}

void VisitorIDCounter::visitDeferred(ZRXStructure* structure) {
  const bool ownID = hasOwnID(structure);
  size_t record = SIZE_MAX;
  if (isGuarded(structure)) {
    bool inserted = false;
    const uint32_t number = mVisitedObjects.insert(structure, &inserted);
    if (!inserted) {
      ++mReach[number];
      if (!ownID) {
        recordWalkFailure("VisitorIDCounter: " + describe("structure", structure) +
                          " without an ID is reached a second time at " + placePath(mPlaceValue) +
                          "; only a structure with an ID can be shared.");
      }
      return;
    }
    record = number;
    noteFirstVisit(structure);
    mReach.push_back(1);
  }
  if (ownID) {
    const std::string& id = structure->uid();
    mCarriers.push_back(
        Carrier{structure, record, TextIndex::hash(id), !mTextRules || zrt::isValidID(id)});
  }
  if (mTextRules) {
    checkTextNode(structure, mDepth == 0);
    checkTextKeys(structure);
  }
  if (!enterLevel("VisitorIDCounter", structure)) {
    noteWalkFailure();
    return;
  }
  for (const ZRXStructure::KeyValue& entry : structure->value()) walkValue(entry.value());
  leaveLevel();
}

bool VisitorIDCounter::passes(const TextRef& text, bool (*rule)(std::string_view)) {
  const SharedText* shared = text.shared();
  if (!shared) return rule(std::string_view());
  Passed& slot =
      mPassed[(reinterpret_cast<uintptr_t>(shared) >> 4) % (sizeof mPassed / sizeof mPassed[0])];
  if (slot.text != shared || slot.rule != rule) {
    slot.text = shared;
    slot.rule = rule;
    slot.passes = rule(shared->text());
  }
  return slot.passes;
}

ZRX_NOINLINE void VisitorIDCounter::checkTextNode(const ZRXTaggedValue* node, bool topLevel) {
  if (node->tag().empty()) {
    // Only a top-level structure needs a tag: the reader takes one before '{'.
    if (topLevel) mTextRefused = true;
    return;
  }
  if (!passes(node->tagText(), zrt::isValidTag)) mTextRefused = true;
}

ZRX_NOINLINE void VisitorIDCounter::checkTextKeys(const ZRXStructure* structure) {
  for (const ZRXStructure::KeyValue& entry : structure->value())
    if (!passes(entry.keyText(), zrt::isValidKey)) mTextRefused = true;
}

ZRX_NOINLINE void VisitorIDCounter::checkTextLeaf(const ZRXValue& value) {
  switch (value.type()) {
    case ZRXValue::Real:
      if (!textHoldsReal(value.getReal())) mTextRefused = true;
      break;
    case ZRXValue::String:
      if (!textHoldsString(value.getString())) mTextRefused = true;
      break;
    case ZRXValue::Identifier:
      if (!zrt::isValidIdentifier(value.getIdentifier())) mTextRefused = true;
      break;
    case ZRXValue::ID: {
      // Whether a structure carries it is known once the counts are complete.
      const std::string& id = value.getID();
      if (!zrt::isValidID(id)) {
        mTextRefused = true;
      } else if (id != kNullID) {
        mIDValueNumbers.push_back(mIDSet->numberIfPresent(id));
      }
      break;
    }
    case ZRXValue::RawtextBlock: {
      const ZRXRawtextBlock* block = value.getRawtextBlock();
      checkTextNode(block, false);
      if (!textHoldsRawtext(block->value())) mTextRefused = true;
      break;
    }
    case ZRXValue::ArrayInteger:
      checkTextNode(value.getArrayInteger(), false);
      break;
    case ZRXValue::ArrayReal: {
      const ZRXArrayReal* array = value.getArrayReal();
      checkTextNode(array, false);
      for (const double element : array->value()) {
        if (!textHoldsReal(element)) {
          mTextRefused = true;
          break;
        }
      }
      break;
    }
    default:
      break;
  }
}

void VisitorIDCounter::checkTextIDs() {
  // The IDs the writer writes: of a recorded structure counted twice, or of one reached once
  // that ID values name.
  for (const Carrier& carrier : mCarriers) {
    if (carrier.validID) continue;
    const bool written = carrier.record != SIZE_MAX
                             ? mReferenced[carrier.record]
                             : mIDValues > 0 && *mIDSet->find(carrier.structure->uid()) > 1;
    if (written) mTextRefused = true;
  }
  // An ID value whose count holds only itself names no structure.
  for (const uint32_t number : mIDValueNumbers)
    if (mIDSet->countOf(number) < 2) mTextRefused = true;
}

namespace {

// The carriers as keys ordered by the upper half of their ID's hash, each the hash's upper half
// above the carrier's place; equal halves keep the order of the walk. A radix sort in three
// passes of 11 bits: hundreds of thousands of IDs are ordered in a few milliseconds (a comparison
// sort took several times longer, a large part of writing a document of small structures).
template <class Carrier>
std::vector<uint64_t> carriersByHash(const std::vector<Carrier>& carriers) {
  const size_t count = carriers.size();
  ZR_CHECK(count <= UINT32_MAX);  // each carrier is a structure in memory
  std::vector<uint64_t> keys(count);
  for (size_t i = 0; i < count; ++i)
    keys[i] = (carriers[i].hash & ~uint64_t{UINT32_MAX}) | static_cast<uint64_t>(i);
  if (count < 256) {
    std::sort(keys.begin(), keys.end());
    return keys;
  }
  constexpr int kBits = 11;
  constexpr size_t kBuckets = size_t{1} << kBits;
  std::vector<uint32_t> starts(3 * kBuckets, 0);
  for (const uint64_t key : keys)
    for (int pass = 0; pass < 3; ++pass)
      ++starts[pass * kBuckets + ((key >> (32 + pass * kBits)) & (kBuckets - 1))];
  std::vector<uint64_t> sorted(count);
  for (int pass = 0; pass < 3; ++pass) {
    uint32_t* start = &starts[pass * kBuckets];
    uint32_t sum = 0;
    for (size_t b = 0; b < kBuckets; ++b) {
      const uint32_t n = start[b];
      start[b] = sum;
      sum += n;
    }
    for (const uint64_t key : keys)
      sorted[start[(key >> (32 + pass * kBits)) & (kBuckets - 1)]++] = key;
    keys.swap(sorted);
  }
  return keys;
}

}  // namespace

void VisitorIDCounter::finish() {
  if (!mDeferred) return;
  // Duplicate IDs: ordered by hash, equal IDs stand together, each run in the order of the walk.
  // The walk would have reported the second carrier of an ID that it met first, naming the first
  // carrier.
  const std::vector<uint64_t> keys = carriersByHash(mCarriers);
  size_t duplicate = SIZE_MAX, owner = SIZE_MAX;
  for (size_t run = 0; run < keys.size();) {
    size_t end = run + 1;
    while (end < keys.size() && (keys[end] >> 32) == (keys[run] >> 32)) ++end;
    // Within a run of equal hashes (almost always one ID), each carrier against the first one
    // before it with the same text.
    for (size_t i = run + 1; i < end; ++i) {
      const size_t carrier = keys[i] & UINT32_MAX;
      if (carrier >= duplicate) continue;
      for (size_t j = run; j < i; ++j) {
        const size_t earlier = keys[j] & UINT32_MAX;
        if (mCarriers[earlier].structure->uid() == mCarriers[carrier].structure->uid()) {
          duplicate = carrier;
          owner = earlier;  // the smallest place: runs keep the order of the walk
          break;
        }
      }
    }
    run = end;
  }
  if (duplicate != SIZE_MAX && duplicate < mFailureAt) {
    const ZRXStructure* first = mCarriers[owner].structure;
    const ZRXStructure* second = mCarriers[duplicate].structure;
    replaceFailure("VisitorIDCounter: structures " + describe(first) + " and " + describe(second) +
                   " carry the same ID '" + zr::messageText(second->uid()) +
                   "'; an ID can name one structure only.");
  }

  // Which records need their ID written: reached twice, or named by an ID value.
  mReferenced.assign(mReach.size(), false);
  for (const Carrier& carrier : mCarriers) {
    const uint32_t reach = carrier.record == SIZE_MAX ? 1 : mReach[carrier.record];
    if (mIDValues > 0) {
      (*mIDSet)[carrier.structure->uid()] += static_cast<int32_t>(reach);
    } else if (carrier.record != SIZE_MAX) {
      mReferenced[carrier.record] = reach > 1;
    }
  }
  if (mIDValues > 0) {
    for (const Carrier& carrier : mCarriers) {
      if (carrier.record != SIZE_MAX)
        mReferenced[carrier.record] = *mIDSet->find(carrier.structure->uid()) > 1;
    }
  }
  if (mTextRules) checkTextIDs();
}

bool VisitorIDCounter::wasReached(const ZRXStructure* structure) const {
  if (mDeferred || !hasOwnID(structure)) return wasVisited(structure);
  const uint32_t number = mIDSet ? mIDSet->numberIfPresent(structure->uid()) : TextIndex::kNone;
  if (number == TextIndex::kNone) return false;
  return (number < mOwners.size() && mOwners[number] == structure) || wasVisited(structure);
}

void VisitorIDCounter::visitList(ZRXList* list) {
  ZR_CHECK(mIDSet);
  if (isGuarded(list)) {
    if (isVisitedIfShared(list)) {
      zr::Log::warning("VisitorIDCounter: cycle detected on ZRXList.\n");
      recordWalkFailure("VisitorIDCounter: " + describe("list", list) +
                        " is reached a second time at " + placePath(mPlaceValue) +
                        "; a list can stand in one place only.");
      return;
    }
    if (mDeferred) {
      mReach.push_back(1);
    } else if (recording()) {
      mRecordIDs.push_back(TextIndex::kNone);
    }
  }
  if (mTextRules) checkTextNode(list, false);
  if (!enterLevel("VisitorIDCounter", list)) {
    noteWalkFailure();
    return;
  }
  for (const ZRXValue& element : list->value()) walkValue(element);
  leaveLevel();
}

void VisitorIDCounter::walkValue(const ZRXValue& value) {
  mPlaceValue = &value;
  switch (value.type()) {
    case ZRXValue::Structure:
      if (ZRXStructure* child = value.getStructure()) child->acceptVisitor(this);
      break;
    case ZRXValue::List:
      value.getList()->acceptVisitor(this);
      break;
    case ZRXValue::ID:
      ++(*mIDSet)[value.getID()];
      ++mIDValues;
      if (mTextRules) checkTextLeaf(value);
      break;
    case ZRXValue::Bool:
    case ZRXValue::Integer:
      break;
    default:
      if (mTextRules) checkTextLeaf(value);
      break;
  }
}

}  // namespace zrX
