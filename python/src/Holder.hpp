// NodeRef, the holder that ties a Python object to a document node, and the collector that frees
// the reference cycles Python leaves behind in the nodes.
//
// Every Structure, List and RawText object of the module is a pybind11 instance over the node
// itself, holding one reference on it through a NodeRef. pybind11's instance registry maps a node
// back to its live Python object, so a node reached from two places comes back as the same Python
// object as long as one of them is alive. Functions of the module therefore take nodes as `T&` or
// `T*` and hand them out as `T*`: never as a NodeRef, whose temporaries would go to the collector.
//
// Nodes hold no Python objects, so Python's own garbage collector never sees a cycle: the cycles
// live in the nodes' reference counts (a child naming its parent, a list holding itself). When the
// Python object of a structure or list dies, its reference is therefore not dropped at once but
// moved to the collector's pending list, unless the node plainly goes without leaving a cycle
// behind (nothing else holds it and it holds no structure or list). collect() hands the pending
// references to zrX::breakCycles, which frees what only they and cycles hold and keeps what
// anything else still holds: another Python object, a Document being read, a numpy array's owner
// of an array node. A collection runs when a zrx.Document dies, on zrx.collect(), and when the
// pending list reaches twice the size of what the last collection found alive, so that
// collections over a large tree that stays alive cost, on the whole, a few node visits per Python
// object dropped, and garbage is not held for long when nothing large is alive.
//
// Everything here runs with the GIL held (Python objects die under the GIL).
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>

#include "zrX/zrX.hpp"

namespace zrxpy {

// Takes over the reference of a dying Python object to its node (see above).
void retire(zr::ref<zrX::ZRXTaggedValue> node);

// Breaks and frees the cycles among the pending nodes now.
void collect();

template <class T>
class NodeRef {
 public:
  NodeRef() = default;
  explicit NodeRef(T* node) : mNode(node) {}
  NodeRef(const NodeRef&) = default;
  NodeRef(NodeRef&&) noexcept = default;
  NodeRef& operator=(const NodeRef&) = delete;
  NodeRef& operator=(NodeRef&&) = delete;
  ~NodeRef() {
    if (!mNode) return;
    zr::ref<zrX::ZRXTaggedValue> node(mNode.get());
    mNode.release();
    retire(std::move(node));
  }

  T* get() const { return mNode.get(); }

 private:
  zr::ref<T> mNode;
};

}  // namespace zrxpy

// The holder is intrusive: a new one is made from a bare node pointer, which is what makes a node
// handed out as `T*` come back as its existing Python object or as a new one holding a reference.
PYBIND11_DECLARE_HOLDER_TYPE(T, zrxpy::NodeRef<T>, true)
