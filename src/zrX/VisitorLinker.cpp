#include "zrX/VisitorLinker.hpp"

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"

namespace zrX {

ZR_DEFINE_TYPE(VisitorLinkMapper, Visitor, "zrX::VisitorLinkMapper")
ZR_DEFINE_TYPE(VisitorLinker, Visitor, "zrX::VisitorLinker")

// VisitorLinkMapper ------------------------------------------------------------------------------

void VisitorLinkMapper::declareID(ZRXStructure* structure) {
  const std::string& id = structure->uid();
  if (id == "#NULL") return;
  const ZRXStructure* mapped = mLinkMap->insert(id, structure);
  if (mapped == structure) return;
  mError = 1;
  if (++mMessages > kMessageLimit) return;
  zr::Log::error(zr::Say("ID '%s' used by '%s' is already assigned to another node '%s'!\n")
                 << zr::messageText(id) << zr::messageText(structure->tag())
                 << zr::messageText(mapped->tag()));
}

void VisitorLinkMapper::reportSuppressed() {
  if (mMessages <= kMessageLimit) return;
  zr::Log::error(zr::Say("%n more IDs already assigned to another node were not listed.\n")
                 << mMessages - kMessageLimit);
  mMessages = kMessageLimit;
}

void VisitorLinkMapper::visitStructure(ZRXStructure* structure) {
  if (isVisitedIfShared(structure)) return;
  declareID(structure);
  if (!enter(structure)) return;
  for (const ZRXStructure::KeyValue& entry : structure->value()) walkValue(entry.value());
  leaveLevel();
}

void VisitorLinkMapper::visitList(ZRXList* list) {
  if (isVisitedIfShared(list)) {
    zr::Log::warning("VisitorLinkMapper: cycle detected on ZRXList.\n");
    return;
  }
  if (!enter(list)) return;
  for (const ZRXValue& element : list->value()) walkValue(element);
  leaveLevel();
}

bool VisitorLinkMapper::enter(const ZRXTaggedValue* node) {
  if (enterLevel("VisitorLinkMapper", node)) return true;
  mError = 1;
  if (!mDepthReported) zr::Log::error(failure() + "\n");
  mDepthReported = true;
  return false;
}

void VisitorLinkMapper::walkValue(const ZRXValue& value) {
  if (value.type() == ZRXValue::Structure) {
    if (ZRXStructure* child = value.getStructure()) child->acceptVisitor(this);
  } else if (value.type() == ZRXValue::List) {
    value.getList()->acceptVisitor(this);
  }
}

// VisitorLinker ----------------------------------------------------------------------------------

ZRXStructure* VisitorLinker::link(const std::string& uid) {
  ZR_CHECK(mLinkMap);
  if (ZRXStructure* found = mLinkMap->find(uid)) return found;
  if (uid == "#NULL") return nullptr;
  mError = 1;
  if (++mMessages <= kMessageLimit)
    zr::Log::error(zr::Say("Could not link ID '%s' to anything!\n") << zr::messageText(uid));
  return nullptr;
}

void VisitorLinker::reportSuppressed() {
  if (mMessages <= kMessageLimit) return;
  zr::Log::error(zr::Say("%n more IDs that could not be linked to anything were not listed.\n")
                 << mMessages - kMessageLimit);
  mMessages = kMessageLimit;
}

void VisitorLinker::visitStructure(ZRXStructure* structure) {
  if (isVisitedIfShared(structure)) return;
  if (!enter(structure)) return;
  for (ZRXStructure::KeyValue& entry : structure->value()) walkValue(entry.value());
  leaveLevel();
}

void VisitorLinker::visitList(ZRXList* list) {
  if (isVisitedIfShared(list)) {
    zr::Log::warning("VisitorLinker: cycle detected on ZRXList.\n");
    return;
  }
  if (!enter(list)) return;
  for (ZRXValue& element : list->value()) walkValue(element);
  leaveLevel();
}

bool VisitorLinker::enter(const ZRXTaggedValue* node) {
  if (enterLevel("VisitorLinker", node)) return true;
  mError = 1;
  if (!mDepthReported) zr::Log::error(failure() + "\n");
  mDepthReported = true;
  return false;
}

void VisitorLinker::walkValue(ZRXValue& value) {
  switch (value.type()) {
    case ZRXValue::Structure:
      if (ZRXStructure* child = value.getStructure()) child->acceptVisitor(this);
      break;
    case ZRXValue::List:
      value.getList()->acceptVisitor(this);
      break;
    case ZRXValue::ID: {
      // The linked structure is not entered from here: it is linked where it stands in the tree.
      ZRXStructure* target = link(value.getID());
      value.setStructure(target);
      break;
    }
    default:
      break;
  }
}

}  // namespace zrX
