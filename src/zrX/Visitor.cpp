#include "zrX/Visitor.hpp"

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"

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
    recordFailure(
        std::string(who) + ": nesting deeper than " + std::to_string(mMaxDepth) + " levels at " +
        (node->tag().empty() ? std::string("an untagged node") : "'" + node->tag() + "'"));
    return false;
  }
  ++mDepth;
  return true;
}

namespace {

bool hasOwnID(const ZRXStructure* structure) {
  return !structure->uid().empty() && structure->uid() != "#NULL";
}

std::string describe(const ZRXTaggedValue* node) {
  return node->tag().empty() ? std::string("untagged") : "'" + node->tag() + "'";
}

}  // namespace

void VisitorIDCounter::visitStructure(ZRXStructure* structure) {
  ZR_CHECK(mIDSet);
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
                    describe(structure) + " carry the same ID '" + structure->uid() +
                    "'; an ID can name one structure only.");
    }
  } else if (isGuarded(structure)) {
    if (isVisitedIfShared(structure)) {
      recordFailure("VisitorIDCounter: structure " + describe(structure) +
                    " without an ID is reached a second time; only a structure with an ID can "
                    "be shared.");
      return;
    }
    if (recording()) mRecordIDs.push_back(TextIndex::kNone);
  }
  if (!enterLevel("VisitorIDCounter", structure)) return;
  for (const ZRXStructure::KeyValue& entry : structure->value()) walkValue(entry.value());
  leaveLevel();
}

bool VisitorIDCounter::wasReached(const ZRXStructure* structure) const {
  if (!hasOwnID(structure)) return wasVisited(structure);
  const uint32_t number = mIDSet ? mIDSet->numberIfPresent(structure->uid()) : TextIndex::kNone;
  if (number == TextIndex::kNone) return false;
  return (number < mOwners.size() && mOwners[number] == structure) || wasVisited(structure);
}

void VisitorIDCounter::visitList(ZRXList* list) {
  ZR_CHECK(mIDSet);
  if (isGuarded(list)) {
    if (isVisitedIfShared(list)) {
      zr::Log::warning("VisitorIDCounter: cycle detected on ZRXList.\n");
      recordFailure("VisitorIDCounter: list " + describe(list) +
                    " is reached a second time; a list can stand in one place only.");
      return;
    }
    if (recording()) mRecordIDs.push_back(TextIndex::kNone);
  }
  if (!enterLevel("VisitorIDCounter", list)) return;
  for (const ZRXValue& element : list->value()) walkValue(element);
  leaveLevel();
}

void VisitorIDCounter::walkValue(const ZRXValue& value) {
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
      break;
    default:
      break;
  }
}

}  // namespace zrX
