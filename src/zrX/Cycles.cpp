#include "zrX/Cycles.hpp"

namespace zrX {

namespace {

// While the collector runs, the top bits of each reached node's count are its marks and the rest
// is what remains of the count once the references from inside the subgraph are taken off.
constexpr int kReached = 1 << 30;
constexpr int kLive = 1 << 29;
constexpr int kCount = kLive - 1;

bool isStructure(const ZRXTaggedValue* node) { return node->classType() == ZRXStructure::Type(); }

// Calls `f` with each structure or list value of `node` and the node it holds.
template <class F>
void forEachChildValue(ZRXTaggedValue* node, F&& f) {
  auto visitValue = [&f](ZRXValue& value) {
    if (value.type() == ZRXValue::Structure) {
      if (ZRXStructure* child = value.getStructure()) f(value, child);
    } else if (value.type() == ZRXValue::List) {
      f(value, value.getList());
    }
  };
  if (isStructure(node)) {
    for (ZRXStructure::KeyValue& entry : static_cast<ZRXStructure*>(node)->value())
      visitValue(entry.value());
  } else if (node->classType() == ZRXList::Type()) {
    for (ZRXValue& element : static_cast<ZRXList*>(node)->value()) visitValue(element);
  }
}

template <class F>
void forEachChild(ZRXTaggedValue* node, F&& f) {
  forEachChildValue(node, [&f](ZRXValue&, ZRXTaggedValue* child) { f(child); });
}

}  // namespace

// The collector frees garbage nodes itself, so it needs to drop a value's node without releasing
// it.
class CycleCollector {
 public:
  static void forget(ZRXValue& value) {
    value.mType = ZRXValue::Integer;
    value.mUnion.mInteger = 0;
  }
};

namespace {

// Prefetches a node's header a few places ahead in a pass over `nodes`: the passes are bound by
// cache misses on nodes scattered over the heap.
constexpr size_t kAhead = 8;
void prefetchAhead(const std::vector<ZRXTaggedValue*>& nodes, size_t i) {
#if defined(__GNUC__) || defined(__clang__)
  if (i + kAhead < nodes.size()) __builtin_prefetch(nodes[i + kAhead], 1);
#else
  (void)nodes;
  (void)i;
#endif
}

// `consume`: the references of `roots` are the collector's to drop (dropAndBreakCycles);
// otherwise they stay with the caller and are given back to the counts.
void collect(const std::vector<zr::ref<ZRXTaggedValue>>& roots, bool consume) {
  // 1. Reach every structure and list from the roots (breadth first, `nodes` is the queue), taking
  //    one off a node's count for each reference it receives from inside the subgraph or from
  //    `roots`. No hash table: the marks live in the counts.
  std::vector<ZRXTaggedValue*> nodes;
  nodes.reserve(roots.size());
  auto reach = [&nodes](ZRXTaggedValue* node) {
    int count = node->collectorCount();
    if (!(count & kReached)) {
      count |= kReached;
      nodes.push_back(node);
    }
    node->setCollectorCount(count - 1);
  };
  for (const zr::ref<ZRXTaggedValue>& root : roots)
    if (root) reach(root.get());
  for (size_t i = 0; i < nodes.size(); ++i) {
    prefetchAhead(nodes, i);
    forEachChild(nodes[i], reach);
  }

  // 2. A node with references left is held from outside: it and everything it reaches stay (are
  //    live). Every other node is garbage: only the subgraph and `roots` refer to it.
  std::vector<ZRXTaggedValue*> pending;
  auto keep = [&pending](ZRXTaggedValue* node) {
    const int count = node->collectorCount();
    if (count & kLive) return;
    node->setCollectorCount(count | kLive);
    pending.push_back(node);
  };
  for (ZRXTaggedValue* node : nodes) {
    if ((node->collectorCount() & kCount) == 0) continue;
    keep(node);
    while (!pending.empty()) {
      ZRXTaggedValue* next = pending.back();
      pending.pop_back();
      forEachChild(next, keep);
    }
  }

  // 3. References the caller keeps go back to the counts.
  if (!consume) {
    for (const zr::ref<ZRXTaggedValue>& root : roots)
      if (root) root->setCollectorCount(root->collectorCount() + 1);
  }

  // 4. A live node gives its children back what step 1 took. A garbage node lets go of its
  //    children without touching them: a live child keeps the lower count (the reference is gone
  //    with the garbage node), a garbage child is freed here too. So a garbage node's count is
  //    what the caller's `roots` hold of it: it is freed now when that is nothing, else when
  //    `roots` goes. Consumed references of `roots` were taken off in step 1 for good.
  for (size_t i = 0; i < nodes.size(); ++i) {
    prefetchAhead(nodes, i);
    ZRXTaggedValue* node = nodes[i];
    const int count = node->collectorCount();
    node->setCollectorCount(count & kCount);
    if (count & kLive) {
      forEachChild(node, [](ZRXTaggedValue* child) {
        child->setCollectorCount(child->collectorCount() + 1);
      });
      continue;
    }
    forEachChildValue(node,
                      [](ZRXValue& value, ZRXTaggedValue*) { CycleCollector::forget(value); });
    if ((count & kCount) == 0) delete node;
  }
}

}  // namespace

void breakCycles(const std::vector<zr::ref<ZRXTaggedValue>>& roots) { collect(roots, false); }

void dropAndBreakCycles(std::vector<zr::ref<ZRXTaggedValue>>& roots) {
  collect(roots, true);
  // Their references were dropped with the garbage or taken off live counts.
  for (zr::ref<ZRXTaggedValue>& root : roots) root.detach();
  roots.clear();
}

void appendRoot(std::vector<zr::ref<ZRXTaggedValue>>& roots, const ZRXValue& value) {
  if (value.type() == ZRXValue::Structure && value.getStructure()) {
    roots.emplace_back(value.getStructure());
  } else if (value.type() == ZRXValue::List) {
    roots.emplace_back(value.getList());
  }
}

}  // namespace zrX
