// The extension module zrx._zrx of the Python package zrx (python/zrx/__init__.py): ZRX documents
// read and written through the library's document API, their trees as Python objects and their
// arrays as numpy arrays that share the document's memory. Documents.hpp, Nodes.hpp and Values.hpp
// hold the parts; Holder.hpp how nodes live and die.
#include <pybind11/pybind11.h>

#include "Documents.hpp"
#include "Holder.hpp"
#include "LogCapture.hpp"
#include "Nodes.hpp"
#include "ToolBridge.hpp"
#include "Values.hpp"

namespace py = pybind11;

PYBIND11_MODULE(_zrx, m) {
  m.doc() = "ZRX documents (ZRT text and ZRB binary) as Python objects, arrays as numpy arrays.";
  m.attr("__version__") = ZRX_VERSION;
  py::module_::import("numpy");  // fails the import clearly when numpy is missing
  zrxpy::installLogRouting();

  zrxpy::bindNodes(m);
  zrxpy::bindDocuments(m);
  zrxpy::bindToolBridge(m);
  m.def("collect", &zrxpy::collect,
        "Frees now the reference cycles left in the trees that Python has dropped (this also "
        "happens on its own, and whenever a Document dies).");
  m.def("array_tag", &zrxpy::arrayTag, py::arg("array"),
        "The tag of the document array that a numpy array views ('' for none), or None when it "
        "views none.");
  m.def("_restore_array_tag",
        [](py::handle array, py::handle tag) { return zrxpy::setArrayTag(array, tag, false); });
  m.def(
      "set_array_tag",
      [](py::handle array, py::handle tag) { return zrxpy::setArrayTag(array, tag, true); },
      py::arg("array"), py::arg("tag"),
      "Gives an array a tag: a numpy array that views a whole document array is returned with "
      "that array retagged; any other is copied into a new tagged array, whose view is "
      "returned.");

  // What is pending when the interpreter ends is freed then, cycles included.
  py::module_::import("atexit").attr("register")(py::cpp_function([] { zrxpy::collect(); }));
}
