#include "ToolBridge.hpp"

#include <string>
#include <vector>

#include "Documents.hpp"
#include "Objects.hpp"
#include "Values.hpp"
#if defined(ZRX_PYTHON_TOOL)
#include "DocumentDiff.hpp"
#endif

namespace zrxpy {

void bindToolBridge(py::module_& m) {
  m.def(
      "diff",
      [](py::object a, py::object b, py::object ignore, uint64_t maxLines) {
#if defined(ZRX_PYTHON_TOOL)
        Loan first(objectOf<Document>(a));
        Loan second(objectOf<Document>(b));
        zrxtool::DiffOptions options;
        for (py::handle key : py::iter(ignore))
          options.ignoredMetadata.insert(textFromPython(key, "a metadata key"));
        options.maxLines = maxLines;
        std::vector<std::string> lines;
        const uint64_t count =
            zrxtool::diffDocuments(first.document(), second.document(), options,
                                   [&lines](const std::string& line) { lines.push_back(line); });
        py::list out;
        for (const std::string& line : lines) out.append(textToPython(line));
        if (maxLines != 0 && count > maxLines)
          out.append(py::str("... and " + std::to_string(count - maxLines) + " more differences"));
        return out;
#else
        (void)a, (void)b, (void)ignore, (void)maxLines;
        throw py::type_error("zrx.diff needs the zrx tool's code, which this build lacks");
#endif
      },
      py::arg("a"), py::arg("b"), py::arg("ignore") = py::tuple(), py::arg("max_lines") = 0);
}

}  // namespace zrxpy
