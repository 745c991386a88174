#include "Inspect.hpp"

#include <charconv>
#include <utility>
#include <vector>

namespace zrxtool {

TreeCounts countTree(const zrX::Document& document) {
  using zrX::ZRXValue;
  TreeCounts counts;
  std::vector<std::pair<const zrX::ZRXTaggedValue*, int>> pending;
  for (const zr::ref<zrX::ZRXStructure>& s : document.structures())
    pending.emplace_back(s.get(), 1);

  auto value = [&](const ZRXValue& v, int depth) {
    switch (v.type()) {
      case ZRXValue::Structure:
        if (v.getStructure()) pending.emplace_back(v.getStructure(), depth + 1);
        break;
      case ZRXValue::List:
        pending.emplace_back(v.getList(), depth + 1);
        break;
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
  };

  while (!pending.empty()) {
    auto [node, depth] = pending.back();
    pending.pop_back();
    if (depth > counts.deepest) counts.deepest = depth;
    if (node->classType() == zrX::ZRXStructure::Type()) {
      const auto* s = static_cast<const zrX::ZRXStructure*>(node);
      ++counts.structures;
      if (s->uid() != "#NULL") ++counts.ids;
      for (const auto& entry : s->value()) value(entry.value(), depth);
    } else {
      ++counts.lists;
      for (const ZRXValue& element : static_cast<const zrX::ZRXList*>(node)->value())
        value(element, depth);
    }
  }
  return counts;
}

std::string describeValue(const zrX::ZRXValue& v) {
  using zrX::ZRXValue;
  char digits[64];
  switch (v.type()) {
    case ZRXValue::Bool:
      return v.getBool() ? "true" : "false";
    case ZRXValue::Integer: {
      auto end = std::to_chars(digits, digits + sizeof digits, v.getInteger()).ptr;
      return std::string(digits, end);
    }
    case ZRXValue::Real: {
      auto end = std::to_chars(digits, digits + sizeof digits, v.getReal()).ptr;
      return std::string(digits, end);
    }
    case ZRXValue::String:
      return "\"" + v.getString() + "\"";
    case ZRXValue::Identifier:
      return v.getIdentifier();
    case ZRXValue::ID:
      return v.getID();
    case ZRXValue::RawtextBlock:
      return "raw text of " + std::to_string(v.getRawtextBlock()->value().size()) + " bytes";
    case ZRXValue::List:
      return "list of " + std::to_string(v.getList()->value().size()) + " values";
    case ZRXValue::Structure:
      return v.getStructure() ? "structure " + v.getStructure()->tag() : "#NULL";
    case ZRXValue::ArrayInteger:
      return "integer array of " + std::to_string(v.getArrayInteger()->value().size());
    case ZRXValue::ArrayReal:
      return "real array of " + std::to_string(v.getArrayReal()->value().size());
  }
  return std::string();
}

}  // namespace zrxtool
