// Tree walks over ZRX documents: the Visitor base with its visited-set guard, and
// VisitorIDCounter, the first walk of every save.
//
// A node's acceptVisitor calls back exactly one visit slot; the visitor decides which children to
// enter and remembers every structure and list it entered (isVisited), so a node reachable along
// several paths, or along a cycle, is entered once. A visitor is made for one walk (or a series of
// walks that must share the guard) and used by one thread.
//
// Walks that meet something they cannot represent record a failure instead of going on silently;
// the first one recorded is kept (failure()) and the caller turns it into an error. Every
// recursive walk stops descending below maxDepth() levels of structures and lists (records a
// failure), so it never exhausts the stack.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zrX/Export.hpp"
#include "zrX/IDMaps.hpp"
#include "zrX/PointerIndex.hpp"
#include "zrX/RuntimeType.hpp"
#include "zrX/Value.hpp"

namespace zrX {

// Default limit of nesting, in levels of structures and lists (a top-level structure is level 1),
// for the parsers and the walks.
constexpr int kDefaultMaxDepth = 1000;

class ZRX_API Visitor : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  Visitor() = default;

  virtual void visitStructure(ZRXStructure* structure);
  virtual void visitList(ZRXList* list);
  virtual void visitRawtextBlock(ZRXRawtextBlock* block);
  virtual void visitArray(ZRXArrayReal* array);
  virtual void visitArray(ZRXArrayInteger* array);

  // Tests and marks in one call: true when `node` was seen before, otherwise remembers it.
  bool isVisited(const void* node) {
    bool inserted = false;
    mVisitedObjects.insert(node, &inserted);
    return !inserted;
  }
  // Whether `node` was seen before, without marking it.
  bool wasVisited(const void* node) const {
    return mVisitedObjects.find(node) != PointerIndex::kNone;
  }
  // isVisited for the nodes of a guarded walk (one that enters every structure and list at most
  // once). Below the top level a node is reached through a value, which holds a reference on it;
  // a node that only one reference holds cannot be reached a second time, so it is neither looked
  // up nor remembered. Most nodes of a tree are held once, and the set stays small. Nodes handed
  // to the walk at the top level are always looked up.
  bool isVisitedIfShared(const zr::Object* node) {
    if (mDepth != 0 && node->referenceCount() <= 1) return false;
    if (mFollowed) {
      // The earlier walk met its nodes first in this very order.
      if (mFollowedAt < mFollowed->size() && (*mFollowed)[mFollowedAt] == node) {
        ++mFollowedAt;
        return false;
      }
      return true;
    }
    if (isVisited(node)) return true;
    noteFirstVisit(node);
    return false;
  }

  // A second walk over the same tree, unchanged, in the same order (a writer after the ID
  // counter) can follow the first one instead of looking nodes up: the first walk records, in
  // order, each node isVisitedIfShared let through (recordFirstVisits before it starts); the second
  // is handed that record (follow) and takes a node for new exactly when it is the next one
  // recorded. The record must outlive the second walk.
  void recordFirstVisits() { mRecording = true; }
  const std::vector<const void*>& firstVisits() const { return mFirstVisits; }
  void follow(const std::vector<const void*>* firstVisits) {
    mFollowed = firstVisits;
    mFollowedAt = 0;
  }
  bool following() const { return mFollowed != nullptr; }
  // While following: the place in the record of the node isVisitedIfShared took for new last.
  size_t lastFollowed() const { return mFollowedAt - 1; }

  // The first failure recorded by this walk; empty when none.
  bool failed() const { return !mFailure.empty(); }
  const std::string& failure() const { return mFailure; }

  int maxDepth() const { return mMaxDepth; }
  void setMaxDepth(int depth) { mMaxDepth = depth; }

  // The top-level structures of the walk, for naming places: a top-level structure whose tag
  // repeats among them (those tagged "<Metadata>" aside) is named with its position. Not owned;
  // may be null.
  void setTopLevel(const std::vector<zr::ref<ZRXStructure>>* topLevel) { mTopLevel = topLevel; }

  // Where the walk stands, in the zrx tool's path syntax, for messages: "/<Scene>/parts[0]/radius".
  // The path runs through the structures and lists the walk has entered and ends at `value` when
  // that is an entry or element of the innermost one, else at the innermost node itself; a path
  // of more than a few dozen segments is shortened in the middle. "the top level" outside every
  // node.
  std::string placePath(const ZRXValue* value) const;

 protected:
  // Keeps `message` unless a failure was recorded before.
  void recordFailure(const std::string& message);
  // Replaces the failure recorded (or records one).
  void replaceFailure(const std::string& message) { mFailure = message; }

  // Call on entering a structure or a list: false (and a recorded failure naming `who`) when the
  // node lies deeper than maxDepth(); pair every true answer with leaveLevel().
  bool enterLevel(const char* who, const ZRXTaggedValue* node);
  void leaveLevel() {
    --mDepth;
    mEntered.pop_back();
  }
  // For walks that tell first visits apart by other means (the ID counter): adds a node that
  // isVisitedIfShared would have let through to the record.
  void noteFirstVisit(const void* node) {
    if (mRecording) mFirstVisits.push_back(node);
  }
  bool recording() const { return mRecording; }
  // Whether isVisitedIfShared would look `node` up at the current depth.
  bool isGuarded(const zr::Object* node) const { return mDepth == 0 || node->referenceCount() > 1; }

  PointerIndex mVisitedObjects;
  int mDepth = 0;
  int mMaxDepth = kDefaultMaxDepth;
  // The value being walked in the innermost node entered, kept by walks that name places.
  const ZRXValue* mPlaceValue = nullptr;

 private:
  std::string mFailure;
  // The structures and lists entered, outermost first (enterLevel and leaveLevel keep it).
  std::vector<const ZRXTaggedValue*> mEntered;
  const std::vector<zr::ref<ZRXStructure>>* mTopLevel = nullptr;
  bool mRecording = false;
  std::vector<const void*> mFirstVisits;
  const std::vector<const void*>* mFollowed = nullptr;
  size_t mFollowedAt = 0;
};

// Counts, per structure ID, how often the structure is reached in the tree plus how many ID values
// name it. The writers write an ID only where the count is 2 or more. It also records what no
// writer can represent: a list reached a second time, a structure without an ID (empty or
// "#NULL") reached a second time, two different structures carrying the same ID (the document
// would not load back), nesting deeper than maxDepth().
class ZRX_API VisitorIDCounter : public Visitor {
  ZR_DECLARE_TYPE()
 public:
  VisitorIDCounter() = default;

  // REQUIRES: a map is set before the walk. The map belongs to the caller.
  void setIDSet(IDCountMap* ids) { mIDSet = ids; }

  // Whether the walks so far reached `structure`. (A structure carrying an ID is remembered by its
  // ID, not in the visited set.)
  bool wasReached(const ZRXStructure* structure) const;

  // With recordFirstVisits: whether the node at place `record` of firstVisits() is a structure
  // whose ID was counted twice or more (so a text writer writes the ID).
  bool isReferencedRecord(size_t record) const {
    if (mDeferred) return mReferenced[record];
    const uint32_t number = mRecordIDs[record];
    return number != TextIndex::kNone && mIDSet->countOf(number) > 1;
  }

  // For a counter whose walk a writer follows (writeStructures), with recordFirstVisits: the walk
  // does not count structure IDs in the map as it goes (a hash lookup per structure) but how often
  // it reaches each structure it records, and finish() checks the IDs for duplicates afterwards
  // by sorting them, filling the map only when ID values need it. failure(), idValues() and
  // isReferencedRecord() then say what the ordinary walk says; the map holds the counts of ID
  // values, and of structure IDs only when there are ID values.
  void deferIDCounting() { mDeferred = true; }
  // Ends a deferred count; call once, after the last walk.
  void finish();
  // The number of ID values met.
  size_t idValues() const { return mIDValues; }

  // For a deferred count that a text writer follows: the walk also looks for everything that
  // writer refuses beyond the walk's own failures (VisitorExportToZRT lists them: a tag, key,
  // identifier or written ID breaking the lexical rules, a real that is not finite, a string
  // holding a NUL byte, a raw text it cannot carry, a top-level structure without a tag, an ID
  // value naming no structure), so that a text save can go straight into its file once the walk
  // and finish() pass. textRefused() says whether the tree holds any of them; which one comes
  // first, and where, the writer tells when it walks the same tree.
  void checkTextRules() { mTextRules = true; }
  bool textRefused() const { return mTextRefused; }

  void visitStructure(ZRXStructure* structure) override;
  void visitList(ZRXList* list) override;
  void visitArray(ZRXArrayReal*) override {}
  void visitArray(ZRXArrayInteger*) override {}

 protected:
  // recordFailure for the deferred count: it notes where in the walk the failure came, so that
  // finish() can tell whether a duplicate ID came before it.
  void recordWalkFailure(const std::string& message);

 private:
  void walkValue(const ZRXValue& value);
  void visitDeferred(ZRXStructure* structure);
  void noteWalkFailure();
  // The text rules (checkTextRules): for a structure or list entered, for a value of any other
  // kind, and for the written IDs and the ID values once the counts are complete.
  void checkTextNode(const ZRXTaggedValue* node, bool topLevel);
  void checkTextKeys(const ZRXStructure* structure);
  void checkTextLeaf(const ZRXValue& value);
  void checkTextIDs();
  // Whether `text` (a tag or a key) passes `rule`, remembered per shared text: a tree holds few
  // distinct tags and keys.
  bool passes(const TextRef& text, bool (*rule)(std::string_view));

  IDCountMap* mIDSet = nullptr;
  // By the number of each ID in the map: the structure that carries it, to tell a shared
  // structure from a duplicate (null for IDs only named by ID values so far).
  std::vector<const ZRXStructure*> mOwners;
  // With recordFirstVisits: the ID number of each node recorded (kNone for lists and structures
  // without an ID).
  std::vector<uint32_t> mRecordIDs;
  size_t mIDValues = 0;

  // The deferred count: the arrivals at each recorded node, the structures with an ID in the order
  // they were first reached (with their place in the record, or SIZE_MAX), where the first failure
  // of the walk came among them, and which records need their ID written.
  bool mDeferred = false;
  std::vector<uint32_t> mReach;
  struct Carrier {
    const ZRXStructure* structure;
    size_t record;  // its place in the record, or SIZE_MAX
    uint64_t hash;  // of its ID (TextIndex::hash), taken while the walk has the ID at hand
    bool validID;   // the ID passes the text rules (always true without them)
  };
  std::vector<Carrier> mCarriers;
  size_t mFailureAt = SIZE_MAX;
  std::vector<bool> mReferenced;

  bool mTextRules = false;
  bool mTextRefused = false;
  std::vector<uint32_t> mIDValueNumbers;  // the map numbers of the ID values met (text rules)
  struct Passed {
    const SharedText* text = nullptr;
    bool (*rule)(std::string_view) = nullptr;
    bool passes = false;
  };
  Passed mPassed[64];
};

}  // namespace zrX
