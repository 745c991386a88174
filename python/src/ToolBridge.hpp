// ToolBridge: the zrx tool's comparison of documents (DocumentDiff) for Python, as zrx.diff.
// Without the tool's code (a build without the tool), zrx.diff raises NotImplementedError.
//
// Under the GIL: the documents' nodes are lent to the comparison for the call.
#pragma once

#include <pybind11/pybind11.h>

namespace zrxpy {

void bindToolBridge(pybind11::module_& module);

}  // namespace zrxpy
