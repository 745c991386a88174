// Values: how a ZRXValue becomes a Python object and back, with the texts and arrays underneath.
//
//   ZRX kind        Python                    back into the tree
//   Bool            bool                      bool, numpy.bool_
//   Integer         int                       int and anything with __index__ (numpy integers)
//   Real            float                     float, numpy floating scalars
//   String          str                       str, bytes
//   Identifier      zrx.Identifier            zrx.Identifier
//   ID              zrx.Ref                   zrx.Ref
//   Structure       zrx.Structure, or None    zrx.Structure; None (a reference to no structure)
//                   for a reference to none
//   List            zrx.List                  zrx.List; a Python list or tuple makes a new List
//   RawtextBlock    zrx.RawText               zrx.RawText
//   ArrayInteger    numpy int64 array         numpy array of an integer dtype
//   ArrayReal       numpy float64 array       numpy array of a floating dtype
//
// Texts (strings, keys, tags, IDs, identifiers, raw text) are bytes in the library. They come to
// Python as str decoded from UTF-8 with "surrogateescape": a byte that is not UTF-8 becomes a
// lone surrogate U+DC80..U+DCFF and is encoded back to the same byte, so nothing is lost. str and
// bytes are both accepted going in.
//
// Arrays: the numpy array of an array node is a view of the node's element vector (no copy); its
// base is a capsule holding a reference on the node, so the node lives as long as any view. The
// module never resizes an element vector: assigning a new array into the tree replaces the node
// (a numpy array that is not a whole view of a node is copied into a new one), and numpy refuses
// to resize an array that does not own its data, so no view can dangle. (The library resizes the
// vectors only of the nodes it is reading; C++ code that shares nodes with Python must not resize
// one either.) A whole view assigned back puts its own node back in place: no copy, its tag kept.
// A new node that replaces an array of the same kind takes that array's tag. Arrays of other
// shapes are flattened in C order.
//
// All of it runs under the GIL.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

#include "zrX/zrX.hpp"

namespace zrxpy {

namespace py = pybind11;

// The Python types of the two text kinds that are not strings.
struct Identifier {
  std::string name;
};
struct Reference {
  std::string id;
};

py::str textToPython(const std::string& bytes);
// A str or bytes object as bytes; anything else raises TypeError naming `what` ("a key").
std::string textFromPython(py::handle object, const char* what);
// A name of `kind` being set in a tree: textFromPython, then ValueError quoting the name when the
// text format cannot hold it (zrX/FormatRules.hpp), so that every tree made in Python can be
// written in both formats. For a tag, the empty text (no tag) passes.
std::string nameFromPython(py::handle object, zrX::NameKind kind);

// The Python object for `value`. Pass a copy of a value that lives in a tree: converting may run
// Python code, which may change the tree.
py::object toPython(const zrX::ZRXValue& value);

// The value for a Python object; TypeError for an object of no ZRX kind, OverflowError for an int
// beyond 64 bits, ValueError for Python lists nested deeper than the library's depth limit.
// `replaced` (may be null) is the value the result will replace, whose array tag a new array
// takes over.
zrX::ZRXValue fromPython(py::handle object, const zrX::ZRXValue* replaced = nullptr);

// The tag of the array node that `array` views, or None.
py::object arrayTag(py::handle array);
// An array viewing a node tagged `tag` with the elements of `array`: `array` itself, its node
// retagged, when it is a whole view of a node; otherwise a view of a new node holding a copy.
// The tag is checked as any tag being set, unless `check` is false (unpickling).
py::object setArrayTag(py::handle array, py::handle tag, bool check);

}  // namespace zrxpy
