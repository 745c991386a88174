// Nodes: the Python classes of the tree (zrx.Structure, zrx.List, zrx.RawText), of the two text
// kinds that are not strings (zrx.Identifier, zrx.Ref), and the walk over a tree.
//
// A Structure, List or RawText object is the node itself (see Holder.hpp): changes through it are
// changes of the tree, and a node reached from two places is one Python object. Every operation
// checks kinds and bounds before it touches the tree, converts the Python side first and changes
// the tree last, and works on copies of the values it converts: converting may run Python code
// (a finaliser, an __index__), and that code may change the very structure or list at hand.
// Iteration hands out a snapshot of the entries or elements, taken entry by entry.
//
// Under the GIL, like every Python object.
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

#include "Holder.hpp"
#include "Objects.hpp"
#include "zrX/zrX.hpp"

namespace zrxpy {

namespace py = pybind11;

void bindNodes(py::module_& module);

// Every structure reachable from `roots` through structure and list values, each once, in
// depth-first document order (a structure before what it holds, entries in order).
py::list walk(const std::vector<zr::ref<zrX::ZRXTaggedValue>>& roots);

}  // namespace zrxpy
