#include "zrX/Cycles.hpp"

#include <unordered_map>

namespace zrX {

namespace {

// Calls `f` with each structure or list node that `node` holds a reference on.
template <class F>
void forEachChild(ZRXTaggedValue* node, F&& f) {
  auto visitValue = [&f](const ZRXValue& value) {
    if (value.type() == ZRXValue::Structure) {
      if (ZRXStructure* child = value.getStructure()) f(child);
    } else if (value.type() == ZRXValue::List) {
      f(value.getList());
    }
  };
  if (node->classType() == ZRXStructure::Type()) {
    for (const ZRXStructure::KeyValue& entry : static_cast<ZRXStructure*>(node)->value())
      visitValue(entry.value());
  } else if (node->classType() == ZRXList::Type()) {
    for (const ZRXValue& element : static_cast<ZRXList*>(node)->value()) visitValue(element);
  }
}

struct NodeState {
  int internal = 0;  // references from inside the subgraph and from the roots
  bool live = false;
};

}  // namespace

void breakCycles(const std::vector<zr::ref<ZRXTaggedValue>>& roots) {
  // 1. The subgraph: every structure and list reachable from the roots, with the number of
  //    references each receives from inside it.
  std::unordered_map<ZRXTaggedValue*, NodeState> nodes;
  std::vector<ZRXTaggedValue*> pending;
  auto reach = [&](ZRXTaggedValue* node) {
    auto inserted = nodes.try_emplace(node);
    ++inserted.first->second.internal;
    if (inserted.second) pending.push_back(node);
  };
  for (const zr::ref<ZRXTaggedValue>& root : roots)
    if (root) reach(root.get());
  while (!pending.empty()) {
    ZRXTaggedValue* node = pending.back();
    pending.pop_back();
    forEachChild(node, reach);
  }

  // 2. A node with more references than the subgraph accounts for is held from outside: it and
  //    everything it reaches stay as they are.
  for (auto& [node, state] : nodes) {
    if (node->referenceCount() > state.internal && !state.live) {
      state.live = true;
      pending.push_back(node);
    }
  }
  while (!pending.empty()) {
    ZRXTaggedValue* node = pending.back();
    pending.pop_back();
    forEachChild(node, [&](ZRXTaggedValue* child) {
      NodeState& state = nodes[child];
      if (!state.live) {
        state.live = true;
        pending.push_back(child);
      }
    });
  }

  // 3. Empty the rest. Hold each one while clearing, so none is freed under our feet.
  std::vector<zr::ref<ZRXTaggedValue>> garbage;
  for (auto& [node, state] : nodes)
    if (!state.live) garbage.emplace_back(node);
  for (zr::ref<ZRXTaggedValue>& node : garbage) {
    if (node->classType() == ZRXStructure::Type()) {
      static_cast<ZRXStructure*>(node.get())->value().clear();
    } else {
      static_cast<ZRXList*>(node.get())->value().clear();
    }
  }
}

void appendRoot(std::vector<zr::ref<ZRXTaggedValue>>& roots, const ZRXValue& value) {
  if (value.type() == ZRXValue::Structure && value.getStructure()) {
    roots.emplace_back(value.getStructure());
  } else if (value.type() == ZRXValue::List) {
    roots.emplace_back(value.getList());
  }
}

}  // namespace zrX
