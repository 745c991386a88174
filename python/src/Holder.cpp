#include "Holder.hpp"

#include <algorithm>
#include <vector>

namespace zrxpy {

namespace {

// Below this many pending references no collection starts on its own: a collection walks
// everything the pending nodes reach, so it should have many of them to work on.
constexpr size_t kMinThreshold = 1 << 16;

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

bool holdsNode(const zrX::ZRXValue& value) {
  return value.type() == zrX::ZRXValue::List ||
         (value.type() == zrX::ZRXValue::Structure && value.getStructure());
}

// True when a structure or list holds another structure or list, through which a cycle could
// run back to it or among its children.
bool holdsNodes(const zrX::ZRXTaggedValue* node) {
  if (isStructure(node)) {
    const auto& entries = static_cast<const zrX::ZRXStructure*>(node)->value();
    return std::any_of(entries.begin(), entries.end(),
                       [](const zrX::ZRXStructure::KeyValue& e) { return holdsNode(e.value()); });
  }
  const auto& elements = static_cast<const zrX::ZRXList*>(node)->value();
  return std::any_of(elements.begin(), elements.end(), holdsNode);
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
  if (c.running || c.pending.empty()) return;
  c.running = true;
  std::vector<zr::ref<zrX::ZRXTaggedValue>> roots;
  roots.swap(c.pending);
  zrX::breakCycles(roots);
  // What something else still holds survives; the next automatic collection waits until twice
  // as many references are pending, so a large live tree is not walked over and over.
  size_t survivors = 0;
  for (const auto& root : roots)
    if (root->referenceCount() > 1) ++survivors;
  roots.clear();
  c.threshold = std::max(kMinThreshold, 2 * survivors);
  c.running = false;
}

size_t pendingCount() { return collector().pending.size(); }
size_t collectionThreshold() { return collector().threshold; }

}  // namespace zrxpy
