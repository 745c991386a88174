// Breaking reference cycles in document trees.
//
// Nodes are reference counted, and a document tree can hold cycles: a structure shared by two
// places after linking, a child structure that refers back to its parent, the structures an
// export builds for an object graph with a cycle. Counting alone never frees such a tree.
// breakCycles is the cure: whoever is about to drop its last references to a tree hands them
// over, and every node that nothing else holds is emptied, so the counts free it.
//
// Single-threaded: the tree must not be used by another thread meanwhile.
#pragma once

#include <vector>

#include "zrX/Export.hpp"
#include "zrX/Value.hpp"

namespace zrX {

// The references held by `roots` count as about to be dropped; every other reference to a node
// reachable from them (a ZRXValue or ref outside that subgraph) counts as a holder that keeps the
// node, and what it reaches, intact. Every other structure and list reachable from `roots` has
// its entries or elements cleared. Drop your other references to the roots first, then call this,
// then drop `roots`. Runs in time linear in the size of the tree, without recursion.
ZRX_API void breakCycles(const std::vector<zr::ref<ZRXTaggedValue>>& roots);

// Drops `roots` the way breakCycles(roots) followed by clearing `roots` would, in one pass fewer:
// `roots` is empty afterwards.
ZRX_API void dropAndBreakCycles(std::vector<zr::ref<ZRXTaggedValue>>& roots);

// Appends to `roots` the structure or list that `value` holds, if any: for handing the nodes of
// values (metadata maps, for instance) to breakCycles.
ZRX_API void appendRoot(std::vector<zr::ref<ZRXTaggedValue>>& roots, const ZRXValue& value);

}  // namespace zrX
