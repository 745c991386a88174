// Documents: zrx.Document and the module's reading, writing and format detection (zrx._zrx.read,
// read_bytes, write, write_bytes, detect; the package's Python part wraps them), with the
// exceptions they raise (zrx.Error, zrx.ParseError, zrx.WriteRefused).
//
// A zrx.Document is a plain holder: `structures` is a Python list of zrx.Structure and `metadata`
// a dict of values, both the caller's to change. Reading fills them from zrX::readDocument (so
// linking makes a reference the very structure it names); writing lends their nodes to a library
// document (a Loan) for one zrX::writeDocument and takes them back, leaving the tree to Python.
// When a Document dies, the collector runs (Holder.hpp), so dropping a cyclic document frees it.
//
// Reads and writes let go of the GIL while the library works: a read on a file nobody else can
// reach yet, a write behind the WriteGate (WriteGate.hpp), which keeps every other operation on
// nodes waiting meanwhile. Writes into memory go through an OutputFile.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zrX/zrX.hpp"
#if defined(ZRX_PYTHON_TOOL)
#include "DocumentFile.hpp"
#endif

namespace zrxpy {

namespace py = pybind11;

struct Document {
  py::list structures;
  py::dict metadata;
  uint16_t version = 0;
  std::string encoding;

  Document() = default;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  ~Document();
};

// The library document a Loan fills: the zrx tool's, when the module has the tool's JSON and diff,
// so that those take it as it is.
#if defined(ZRX_PYTHON_TOOL)
using LoanDocument = zrxtool::ToolDocument;
#else
using LoanDocument = zrX::Document;
#endif

// The nodes of a Python document lent to a library document for one call, and taken back when
// the Loan goes (the tree stays whole for the Python objects that hold it). Made under the GIL;
// TypeError for anything in `structures` but zrx.Structure, the conversion's errors for metadata
// values of no ZRX kind.
class Loan {
 public:
  explicit Loan(const Document& document);
  ~Loan();
  Loan(const Loan&) = delete;
  Loan& operator=(const Loan&) = delete;

  LoanDocument& document() { return mDocument; }

 private:
  LoanDocument mDocument;
};

void bindDocuments(py::module_& module);

// The Python document for a document just read; the tree moves over to Python objects.
py::object fromLibrary(zrX::Document& read);

// Raises `type` (ParseError or WriteRefused) with text `what` followed by the first messages, and
// `path` and all of `messages` as attributes.
[[noreturn]] void raiseDetailed(PyObject* type, const std::string& what, py::handle path,
                                const std::vector<std::string>& messages);
PyObject* parseErrorType();

}  // namespace zrxpy
