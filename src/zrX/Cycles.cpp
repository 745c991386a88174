#include "zrX/Cycles.hpp"

#include "zrX/PointerIndex.hpp"

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

}  // namespace

void breakCycles(const std::vector<zr::ref<ZRXTaggedValue>>& roots) {
  // 1. The subgraph: every structure and list reachable from the roots, numbered, with the
  //    number of references each receives from inside it.
  PointerIndex index;
  std::vector<ZRXTaggedValue*> nodes;
  std::vector<int> internal;  // references from inside the subgraph and from the roots
  std::vector<uint32_t> pending;
  auto reach = [&](ZRXTaggedValue* node) {
    bool inserted = false;
    const uint32_t number = index.insert(node, &inserted);
    if (inserted) {
      nodes.push_back(node);
      internal.push_back(0);
      pending.push_back(number);
    }
    ++internal[number];
  };
  for (const zr::ref<ZRXTaggedValue>& root : roots)
    if (root) reach(root.get());
  while (!pending.empty()) {
    ZRXTaggedValue* node = nodes[pending.back()];
    pending.pop_back();
    forEachChild(node, reach);
  }

  // 2. A node with more references than the subgraph accounts for is held from outside: it and
  //    everything it reaches stay as they are.
  std::vector<bool> live(nodes.size(), false);
  for (uint32_t number = 0; number < nodes.size(); ++number) {
    if (live[number] || nodes[number]->referenceCount() <= internal[number]) continue;
    live[number] = true;
    pending.push_back(number);
    while (!pending.empty()) {
      ZRXTaggedValue* node = nodes[pending.back()];
      pending.pop_back();
      forEachChild(node, [&](ZRXTaggedValue* child) {
        const uint32_t c = index.find(child);
        if (!live[c]) {
          live[c] = true;
          pending.push_back(c);
        }
      });
    }
  }

  // 3. Empty the rest. Hold each one while clearing, so none is freed under our feet.
  std::vector<zr::ref<ZRXTaggedValue>> garbage;
  for (uint32_t number = 0; number < nodes.size(); ++number)
    if (!live[number]) garbage.emplace_back(nodes[number]);
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
