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
