#include "DocumentStats.hpp"

#include <charconv>
#include <utility>
#include <vector>

#include "zrCore/String.hpp"
#include "zrX/VisitorLinker.hpp"

namespace zrxtool {

namespace {

using zrX::ZRXValue;

// Calls onStructure(structure, depth) or onList(list, depth) for every structure and list under
// the top-level structures, and onValue(value) for every entry and element, without recursion.
// The tree is unlinked, so no node is reached twice.
template <class OnStructure, class OnList, class OnValue>
void walkTree(const zrX::Document& document, OnStructure onStructure, OnList onList,
              OnValue onValue) {
  std::vector<std::pair<const zrX::ZRXTaggedValue*, int>> pending;
  for (const zr::ref<zrX::ZRXStructure>& s : document.structures())
    pending.emplace_back(s.get(), 1);
  auto value = [&](const ZRXValue& v, int depth) {
    onValue(v);
    if (v.type() == ZRXValue::Structure) {
      if (v.getStructure()) pending.emplace_back(v.getStructure(), depth + 1);
    } else if (v.type() == ZRXValue::List) {
      pending.emplace_back(v.getList(), depth + 1);
    }
  };
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (node->classType() == zrX::ZRXStructure::Type()) {
      const auto* structure = static_cast<const zrX::ZRXStructure*>(node);
      onStructure(structure, depth);
      for (const auto& entry : structure->value()) value(entry.value(), depth);
    } else {
      const auto* list = static_cast<const zrX::ZRXList*>(node);
      onList(list, depth);
      for (const ZRXValue& element : list->value()) value(element, depth);
    }
  }
}

}  // namespace

TreeCounts countTree(const zrX::Document& document) {
  TreeCounts counts;
  walkTree(
      document,
      [&](const zrX::ZRXStructure* structure, int depth) {
        ++counts.structures;
        if (!structure->uid().empty() && structure->uid() != "#NULL") ++counts.ids;
        if (depth > counts.deepest) counts.deepest = depth;
      },
      [&](const zrX::ZRXList*, int depth) {
        ++counts.lists;
        if (depth > counts.deepest) counts.deepest = depth;
      },
      [&](const ZRXValue& v) {
        switch (v.type()) {
          case ZRXValue::RawtextBlock:
            ++counts.rawTexts;
            break;
          case ZRXValue::ArrayInteger:
            ++counts.integerArrays;
            counts.integerElements += v.getArrayInteger()->value().size();
            break;
          case ZRXValue::ArrayReal:
            ++counts.realArrays;
            counts.realElements += v.getArrayReal()->value().size();
            break;
          case ZRXValue::ID:
            ++counts.references;
            break;
          default:
            break;
        }
      });
  return counts;
}

bool verifyLinks(const zrX::Document& document, int maxDepth) {
  // The linker's own first pass declares the IDs (and reports duplicates); its lookup then judges
  // every ID value, without replacing any.
  zrX::LinkMap map;
  zrX::VisitorLinkMapper mapper(&map);
  mapper.setMaxDepth(maxDepth);
  for (const zr::ref<zrX::ZRXStructure>& s : document.structures()) s->acceptVisitor(&mapper);
  mapper.reportSuppressed();
  if (mapper.error()) return false;
  zrX::VisitorLinker linker(&map);
  walkTree(
      document, [](const zrX::ZRXStructure*, int) {}, [](const zrX::ZRXList*, int) {},
      [&](const ZRXValue& v) {
        if (v.type() == ZRXValue::ID) linker.link(v.getID());
      });
  linker.reportSuppressed();
  return linker.error() == 0;
}

std::string printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  zr::appendEscaped(out, text, '"', false);
  return out;
}

std::string describeValue(const ZRXValue& v) {
  char digits[64];
  switch (v.type()) {
    case ZRXValue::Bool:
      return v.getBool() ? "true" : "false";
    case ZRXValue::Integer: {
      const char* end = std::to_chars(digits, digits + sizeof digits, v.getInteger()).ptr;
      return std::string(static_cast<const char*>(digits), end);
    }
    case ZRXValue::Real: {
      const char* end = std::to_chars(digits, digits + sizeof digits, v.getReal()).ptr;
      return std::string(static_cast<const char*>(digits), end);
    }
    case ZRXValue::String:
      return "\"" + printable(v.getString()) + "\"";
    case ZRXValue::Identifier:
      return printable(v.getIdentifier());
    case ZRXValue::ID:
      return printable(v.getID());
    case ZRXValue::RawtextBlock:
      return "raw text of " + std::to_string(v.getRawtextBlock()->value().size()) + " bytes";
    case ZRXValue::List:
      return "list of " + std::to_string(v.getList()->value().size()) + " values";
    case ZRXValue::Structure:
      return v.getStructure() ? "structure " + printable(v.getStructure()->tag()) : "#NULL";
    case ZRXValue::ArrayInteger:
      return "integer array of " + std::to_string(v.getArrayInteger()->value().size());
    case ZRXValue::ArrayReal:
      return "real array of " + std::to_string(v.getArrayReal()->value().size());
  }
  return std::string();
}

}  // namespace zrxtool
