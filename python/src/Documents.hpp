// Documents: zrx.Document and the module's reading, writing and format detection (zrx.read,
// zrx.read_bytes, zrx.write, zrx.write_bytes, zrx.detect), with the exceptions they raise
// (zrx.Error, zrx.ParseError, zrx.WriteRefused).
//
// A zrx.Document is a plain holder: `structures` is a Python list of zrx.Structure and `metadata`
// a dict of values, both the caller's to change. Reading fills them from zrX::readDocument (so
// linking makes a reference the very structure it names); writing lends their nodes to a
// zrX::Document for one zrX::writeDocument and takes them back, leaving the tree to Python. When
// a Document dies, the collector runs (Holder.hpp), so dropping a cyclic document frees it.
//
// Reads release the GIL while the library parses a file nobody else can reach yet; writes keep
// it, since other threads could change the tree being written.
#pragma once

#include <pybind11/pybind11.h>

namespace zrxpy {

void bindDocuments(pybind11::module_& module);

}  // namespace zrxpy
