#include "zrX/Parser.hpp"

#include "zrX/Cycles.hpp"
#include "zrX/VisitorLinker.hpp"

namespace zrX {

ZR_DEFINE_TYPE(Parser, zr::Object, "zrX::Parser")

void Parser::parseMetadata() {
  mMetadata.clear();
  std::vector<zr::ref<ZRXStructure>> kept;
  kept.reserve(mStructures.size());
  for (zr::ref<ZRXStructure>& structure : mStructures) {
    if (structure->tag() != "<Metadata>") {
      kept.push_back(std::move(structure));
      continue;
    }
    for (const ZRXStructure::KeyValue& entry : structure->value())
      mMetadata[entry.key()] = entry.value();
  }
  mStructures.swap(kept);
}

bool Parser::link() {
  std::vector<zr::ref<ZRXTaggedValue>> nodes(mStructures.begin(), mStructures.end());
  return link(nodes, mMaxDepth);
}

Parser::~Parser() {
  std::vector<zr::ref<ZRXTaggedValue>> roots;
  for (zr::ref<ZRXStructure>& structure : mStructures) roots.emplace_back(std::move(structure));
  mStructures.clear();
  for (const auto& entry : mMetadata) appendRoot(roots, entry.second);
  mMetadata.clear();
  if (!roots.empty()) dropAndBreakCycles(roots);
}

void Parser::forgetRecords() {
  std::vector<RecordedTop>().swap(mRecordedTops);
  std::vector<ZRXStructure*>().swap(mRecordedStructures);
  std::vector<RecordedIDValue>().swap(mRecordedIDValues);
  mReadMap = LinkMap();
  mConflictWhileReading = false;
  mReadingMetadata = false;
}

void Parser::declareWhileReading(ZRXStructure* structure) {
  if (!mLinkWhileReading || mReadingMetadata || mConflictWhileReading) return;
  const std::string& id = structure->uid();
  if (id == "#NULL") return;
  if (mReadMap.insert(id, structure) != structure) mConflictWhileReading = true;
}

bool Parser::linkWhileReading(ZRXValue& value, std::string_view id) {
  if (!mLinkWhileReading || mReadingMetadata || mConflictWhileReading) return false;
  if (id == "#NULL") {
    value.setStructure(nullptr);
    return true;
  }
  ZRXStructure* target = mReadMap.find(id);
  if (!target) return false;
  value.setStructure(target);
  return true;
}

void Parser::abandonRead(zr::ref<ZRXStructure>* failing) {
  undoLinksWhileReading();
  forgetRecords();
  if (!failing || !*failing) return;
  std::vector<zr::ref<ZRXTaggedValue>> roots;
  roots.emplace_back(std::move(*failing));
  dropAndBreakCycles(roots);
}

ZRXValue& Parser::recordedValue(const RecordedIDValue& record) const {
  return (record.index & kInList)
             ? static_cast<ZRXList*>(record.owner)->value()[record.index & ~kInList]
             : static_cast<ZRXStructure*>(record.owner)->value()[record.index].value();
}

void Parser::undoLinksWhileReading() {
  for (RecordedIDValue& record : mRecordedIDValues) {
    if (!record.linked) continue;
    ZRXValue& value = recordedValue(record);
    const ZRXStructure* target = value.getStructure();
    value.setID(target ? target->uid() : kNullID);
    record.linked = false;
  }
}

bool Parser::linkParsed() {
  // The records of the top-level structures that stayed (parseMetadata took out the others).
  struct Range {
    size_t structuresBegin, structuresEnd, idValuesBegin, idValuesEnd;
  };
  std::vector<Range> ranges;
  size_t kept = 0;
  for (size_t i = 0; i < mRecordedTops.size(); ++i) {
    const RecordedTop& top = mRecordedTops[i];
    const bool last = i + 1 == mRecordedTops.size();
    const Range range{
        top.structures, last ? mRecordedStructures.size() : mRecordedTops[i + 1].structures,
        top.idValues, last ? mRecordedIDValues.size() : mRecordedTops[i + 1].idValues};
    if (kept < mStructures.size() && mStructures[kept].get() == top.structure) {
      ranges.push_back(range);
      ++kept;
    }
  }
  if (kept != mStructures.size()) {
    // Not (only) what the last parse built: walk the tree, as it was read.
    undoLinksWhileReading();
    forgetRecords();
    return link();
  }

  // Without a duplicate ID, the IDs declared while reading are all the IDs of the document's
  // tree (the metadata aside), whatever the order they came in: the mapper's pass is done.
  // Otherwise the mapper's pass, over every structure in the order of a walk, tells which.
  LinkMap map;
  const bool mapped = mLinkWhileReading && !mConflictWhileReading;
  if (mapped) {
    map = std::move(mReadMap);
  } else {
    undoLinksWhileReading();
    map.reserve(mRecordedStructures.size());
    VisitorLinkMapper mapper(&map);
    for (const Range& range : ranges)
      for (size_t i = range.structuresBegin; i < range.structuresEnd; ++i)
        mapper.declareID(mRecordedStructures[i]);
    mapper.reportSuppressed();
    if (mapper.error()) {
      forgetRecords();
      return false;
    }
  }
  // The linker's pass: every ID value not linked yet, in the order of a walk.
  VisitorLinker linker(&map);
  for (const Range& range : ranges) {
    for (size_t i = range.idValuesBegin; i < range.idValuesEnd; ++i) {
      const RecordedIDValue& record = mRecordedIDValues[i];
      if (record.linked) continue;
      ZRXValue& value = recordedValue(record);
      value.setStructure(linker.link(value.getID()));
    }
  }
  linker.reportSuppressed();
  forgetRecords();
  return linker.error() == 0;
}

bool Parser::link(const std::vector<zr::ref<ZRXTaggedValue>>& nodes, int maxDepth) {
  LinkMap map;
  VisitorLinkMapper mapper(&map);
  mapper.setMaxDepth(maxDepth);
  for (const zr::ref<ZRXTaggedValue>& node : nodes) node->acceptVisitor(&mapper);
  mapper.reportSuppressed();
  if (mapper.error()) return false;
  VisitorLinker linker(&map);
  linker.setMaxDepth(maxDepth);
  for (const zr::ref<ZRXTaggedValue>& node : nodes) node->acceptVisitor(&linker);
  linker.reportSuppressed();
  return linker.error() == 0;
}

}  // namespace zrX
