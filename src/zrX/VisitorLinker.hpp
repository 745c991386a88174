// Linking of a parsed document: every ID value becomes a Structure value pointing at the structure
// that carries that ID. Two passes over all top-level nodes, so a reference may precede what it
// names: VisitorLinkMapper enters every structure ID into a link map (a duplicate ID is an
// error), then VisitorLinker replaces the ID values (an ID that names nothing is an error; "#NULL"
// names no structure and links to a Structure value without a node).
//
// The link map holds a reference on each mapped structure; it and both visitors belong to one
// linking operation (Parser::link) on one thread.
#pragma once

#include <string>

#include "zrX/Export.hpp"
#include "zrX/IDMaps.hpp"
#include "zrX/Visitor.hpp"

namespace zrX {

// How many messages of one kind (duplicate IDs, IDs that name nothing) one linking logs; the rest
// are counted in one line.
constexpr int64_t kMessageLimit = 100;

class ZRX_API VisitorLinkMapper : public Visitor {
  ZR_DECLARE_TYPE()
 public:
  // `map` must outlive the mapper.
  explicit VisitorLinkMapper(LinkMap* map) : mLinkMap(map) {}

  // Non-zero after a duplicate ID (or nesting beyond maxDepth()).
  int error() const { return mError; }
  // Enters `structure` under its ID, unless the ID is "#NULL". An empty ID is entered too.
  void declareID(ZRXStructure* structure);
  // Only the first kMessageLimit duplicates are logged; this logs how many more there were, if
  // any. Call at the end of the walk.
  void reportSuppressed();

  void visitStructure(ZRXStructure* structure) override;
  void visitList(ZRXList* list) override;
  void visitArray(ZRXArrayReal*) override {}
  void visitArray(ZRXArrayInteger*) override {}

 private:
  void walkValue(const ZRXValue& value);
  // enterLevel, turning a refusal into an error logged once per walk.
  bool enter(const ZRXTaggedValue* node);

  LinkMap* mLinkMap;
  int32_t mError = 0;
  bool mDepthReported = false;
  int64_t mMessages = 0;
};

class ZRX_API VisitorLinker : public Visitor {
  ZR_DECLARE_TYPE()
 public:
  explicit VisitorLinker(LinkMap* map) : mLinkMap(map) {}

  // Non-zero after an ID that names no mapped structure (or nesting beyond maxDepth()).
  int error() const { return mError; }
  // The structure `uid` names, or null: silently for "#NULL", with an error for anything else
  // that is not mapped. REQUIRES: a map.
  ZRXStructure* link(const std::string& uid);
  // Only the first kMessageLimit IDs that name nothing are logged; this logs how many more there
  // were, if any. Call at the end of the walk.
  void reportSuppressed();

  void visitStructure(ZRXStructure* structure) override;
  void visitList(ZRXList* list) override;
  void visitArray(ZRXArrayReal*) override {}
  void visitArray(ZRXArrayInteger*) override {}

 private:
  void walkValue(ZRXValue& value);
  bool enter(const ZRXTaggedValue* node);

  LinkMap* mLinkMap;
  int32_t mError = 0;
  bool mDepthReported = false;
  int64_t mMessages = 0;
};

}  // namespace zrX
