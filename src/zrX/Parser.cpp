#include "zrX/Parser.hpp"

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

void Parser::forgetRecords() {
  std::vector<RecordedTop>().swap(mRecordedTops);
  std::vector<ZRXStructure*>().swap(mRecordedStructures);
  std::vector<RecordedIDValue>().swap(mRecordedIDValues);
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
    // Not (only) what the last parse built: walk the tree.
    forgetRecords();
    return link();
  }

  // The mapper's pass: every structure in the order of a walk.
  LinkMap map;
  map.reserve(mRecordedStructures.size());
  VisitorLinkMapper mapper(&map);
  for (const Range& range : ranges)
    for (size_t i = range.structuresBegin; i < range.structuresEnd; ++i)
      mapper.declareID(mRecordedStructures[i]);
  bool linked = mapper.error() == 0;
  if (linked) {
    // The linker's pass: every ID value in the order of a walk.
    VisitorLinker linker(&map);
    for (const Range& range : ranges) {
      for (size_t i = range.idValuesBegin; i < range.idValuesEnd; ++i) {
        const RecordedIDValue& record = mRecordedIDValues[i];
        ZRXValue& value =
            (record.index & kInList)
                ? static_cast<ZRXList*>(record.owner)->value()[record.index & ~kInList]
                : static_cast<ZRXStructure*>(record.owner)->value()[record.index].value();
        value.setStructure(linker.link(value.getID()));
      }
    }
    linked = linker.error() == 0;
  }
  forgetRecords();
  return linked;
}

bool Parser::link(const std::vector<zr::ref<ZRXTaggedValue>>& nodes, int maxDepth) {
  LinkMap map;
  VisitorLinkMapper mapper(&map);
  mapper.setMaxDepth(maxDepth);
  for (const zr::ref<ZRXTaggedValue>& node : nodes) node->acceptVisitor(&mapper);
  if (mapper.error()) return false;
  VisitorLinker linker(&map);
  linker.setMaxDepth(maxDepth);
  for (const zr::ref<ZRXTaggedValue>& node : nodes) node->acceptVisitor(&linker);
  return linker.error() == 0;
}

}  // namespace zrX
