#include "Holder.hpp"

#include <algorithm>
#include <vector>

#include "PointerSet.hpp"
#include "WriteGate.hpp"

namespace zrxpy {

namespace {

// A collection walks everything the pending nodes reach, which may be a large tree that stays
// alive. The next one therefore waits until twice as many references are pending as the last one
// found alive: on the whole, collections walk a few nodes per Python object dropped, however
// large the live trees are, and the garbage they leave pending meanwhile stays in proportion to
// those trees. The floor keeps garbage from piling up when nothing large is alive.
constexpr size_t kMinThreshold = 256;

struct Collector {
  std::vector<zr::ref<zrX::ZRXTaggedValue>> pending;
  size_t threshold = kMinThreshold;
  bool running = false;
};

Collector& collector() {
  // Never destroyed: Python objects may still die while the process exits.
  static Collector* instance = new Collector;
  return *instance;
}

bool isStructure(const zrX::ZRXTaggedValue* node) {
  return node->classType() == zrX::ZRXStructure::Type();
}

bool isList(const zrX::ZRXTaggedValue* node) { return node->classType() == zrX::ZRXList::Type(); }

// The structure or list a value holds, or null.
zrX::ZRXTaggedValue* nodeIn(const zrX::ZRXValue& value) {
  if (value.type() == zrX::ZRXValue::List) return value.getList();
  if (value.type() == zrX::ZRXValue::Structure) return value.getStructure();
  return nullptr;
}

// How many structures and lists the live ones of `roots` reach. Run after breakCycles, which
// leaves the garbage held by nothing but `roots` (and holding nothing).
size_t countAlive(const std::vector<zr::ref<zrX::ZRXTaggedValue>>& roots) {
  PointerSet seen;
  std::vector<zrX::ZRXTaggedValue*> stack;
  for (const auto& root : roots)
    if (root->referenceCount() > 1) stack.push_back(root.get());
  while (!stack.empty()) {
    zrX::ZRXTaggedValue* node = stack.back();
    stack.pop_back();
    if (!seen.insert(node)) continue;
    if (isStructure(node)) {
      for (const auto& entry : static_cast<zrX::ZRXStructure*>(node)->value())
        if (zrX::ZRXTaggedValue* child = nodeIn(entry.value())) stack.push_back(child);
    } else if (isList(node)) {
      for (const auto& element : static_cast<zrX::ZRXList*>(node)->value())
        if (zrX::ZRXTaggedValue* child = nodeIn(element)) stack.push_back(child);
    }
  }
  return seen.size();
}

// True when a structure or list holds another structure or list, through which a cycle could
// run back to it or among its children.
bool holdsNodes(const zrX::ZRXTaggedValue* node) {
  if (isStructure(node)) {
    const auto& entries = static_cast<const zrX::ZRXStructure*>(node)->value();
    return std::any_of(entries.begin(), entries.end(),
                       [](const zrX::ZRXStructure::KeyValue& e) { return nodeIn(e.value()); });
  }
  const auto& elements = static_cast<const zrX::ZRXList*>(node)->value();
  return std::any_of(elements.begin(), elements.end(),
                     [](const zrX::ZRXValue& v) { return nodeIn(v); });
}

}  // namespace

void retire(zr::ref<zrX::ZRXTaggedValue> node) {
  if (!node || !(isStructure(node.get()) || isList(node.get()))) return;
  // Held by nobody else and holding no node: it goes now, and takes nothing with it that could
  // form a cycle.
  if (node->referenceCount() == 1 && !holdsNodes(node.get())) return;
  Collector& c = collector();
  c.pending.push_back(std::move(node));
  if (c.pending.size() >= c.threshold) collect();
}

void collect() {
  Collector& c = collector();
  // A write in progress walks trees without the GIL: breaking cycles waits for a later turn.
  if (c.running || c.pending.empty() || writesInProgress()) return;
  c.running = true;
  std::vector<zr::ref<zrX::ZRXTaggedValue>> roots;
  roots.swap(c.pending);
  zrX::breakCycles(roots);
  c.threshold = std::max(kMinThreshold, 2 * countAlive(roots));
  roots.clear();  // frees the garbage
  c.running = false;
}

}  // namespace zrxpy
