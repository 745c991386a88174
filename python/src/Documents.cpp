#include "Documents.hpp"

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Holder.hpp"
#include "LogCapture.hpp"
#include "Nodes.hpp"
#include "Objects.hpp"
#include "OutputFile.hpp"
#include "Values.hpp"
#include "WriteGate.hpp"

namespace zrxpy {

namespace {

// Messages quoted into an exception's text; the exception's `messages` holds them all.
constexpr size_t kQuotedMessages = 5;

PyObject* gError = nullptr;
PyObject* gParseError = nullptr;
PyObject* gWriteRefused = nullptr;

// A path argument (str, bytes or os.PathLike): its bytes for the library, and a str for messages.
struct Path {
  std::string bytes;
  py::object text;
};

Path pathFromPython(py::handle path) {
  py::object fspath = py::reinterpret_steal<py::object>(PyOS_FSPath(path.ptr()));
  if (!fspath) throw py::error_already_set();
  Path out;
  if (PyUnicode_Check(fspath.ptr())) {
    py::object encoded = py::reinterpret_steal<py::object>(PyUnicode_EncodeFSDefault(fspath.ptr()));
    if (!encoded) throw py::error_already_set();
    out.bytes = encoded.cast<std::string>();
    out.text = fspath;
  } else {
    out.bytes = fspath.cast<std::string>();
    out.text = py::reinterpret_steal<py::object>(PyUnicode_DecodeFSDefaultAndSize(
        out.bytes.data(), static_cast<Py_ssize_t>(out.bytes.size())));
    if (!out.text) throw py::error_already_set();
  }
  if (out.bytes.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
  return out;
}

// The OSError subclass that errno `code` means (FileNotFoundError, PermissionError, ...), with
// errno, strerror and filename set.
[[noreturn]] void raiseOSError(int code, py::handle filename) {
  errno = code ? code : EIO;
  if (filename.is_none()) {
    PyErr_SetFromErrno(PyExc_OSError);
  } else {
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename.ptr());
  }
  throw py::error_already_set();
}

// A file on disk that can be opened for reading, else the OSError that says why.
zr::ref<zr::VirtualFile> openForReading(const Path& path) {
  zr::ref<zr::VirtualFile> file = new zr::DiskFile(zr::String(path.bytes));
  if (!file->open(zr::VirtualFile::ReadOnly)) raiseOSError(file->lastError(), path.text);
  file->close();
  return file;
}

std::string prefix(py::handle path) {
  return path.is_none() ? std::string() : textFromPython(path, "a path") + ": ";
}

// The library's warnings of a call that succeeded, as Python warnings.
void warn(py::handle path, const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings) {
    const py::str text = textToPython(prefix(path) + warning);
    if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "%U", text.ptr()) < 0)
      throw py::error_already_set();
  }
}

#if defined(ZRX_PYTHON_TOOL)
using ReadFormat = zrxtool::FileFormat;
ReadFormat detectAny(zr::VirtualFile* file) { return zrxtool::detectFileFormat(file); }
#else
using ReadFormat = zrX::Format;
ReadFormat detectAny(zr::VirtualFile* file) { return zrX::detectFormat(file); }
#endif

py::object readFile(zr::VirtualFile* file, py::handle path, bool link) {
  LoanDocument read;
  bool ok = false;
  std::vector<LogCapture::Line> lines;
  {
    py::gil_scoped_release unlocked;
    LogCapture capture;
    const ReadFormat format = detectAny(file);
#if defined(ZRX_PYTHON_TOOL)
    if (format == zrxtool::FileFormat::Unknown) {
      zr::Log::error(zr::Say("'%s' is neither a ZRT, a ZRB nor a JSON document.\n")
                     << zr::messageText(file->path().toStdString()));
    } else {
      ok = zrxtool::readDocumentFile(file, format, read, link);
    }
#else
    zrX::ReadOptions options;
    options.link = link;
    ok = zrX::readDocument(file, format, read, options) == zrX::ReadStatus::Ok;
#endif
    lines = capture.lines();
  }
  std::vector<std::string> errors, warnings;
  for (const LogCapture::Line& line : lines)
    (line.level == zr::Log::Level::Error ? errors : warnings).push_back(line.text);
  if (!ok) {
    if (errors.empty()) errors.push_back("the document could not be read");
    errors.insert(errors.end(), warnings.begin(), warnings.end());
    raiseDetailed(gParseError, prefix(path), path, errors);
  }
  warn(path, warnings);
  return fromLibrary(read);
}

// The top-level structures of a Python document; TypeError for anything else in the list.
std::vector<zr::ref<zrX::ZRXStructure>> topLevel(const Document& document) {
  std::vector<py::object> items;
  for (py::handle item : py::iter(document.structures))
    items.push_back(py::reinterpret_borrow<py::object>(item));
  std::vector<zr::ref<zrX::ZRXStructure>> out;
  for (const py::object& item : items) {
    if (!py::isinstance<zrX::ZRXStructure>(item))
      throw py::type_error(std::string("Document.structures holds a ") +
                           Py_TYPE(item.ptr())->tp_name + "; only zrx.Structure can stand there");
    out.emplace_back(&objectOf<zrX::ZRXStructure>(item));
  }
  return out;
}

enum class WriteFormat { ZRT, ZRB, JSON };

WriteFormat formatFromPython(py::handle format, const std::string& path, bool fromPath) {
  const char* wanted =
#if defined(ZRX_PYTHON_TOOL)
      "'zrt', 'zrb' or 'json'";
#else
      "'zrt' or 'zrb'";
#endif
  if (format.is_none()) {
    if (fromPath) {
      if (zrX::formatFromExtension(path) == zrX::Format::ZRT) return WriteFormat::ZRT;
      if (zrX::formatFromExtension(path) == zrX::Format::ZRB) return WriteFormat::ZRB;
#if defined(ZRX_PYTHON_TOOL)
      if (zrxtool::formatFromExtension(path) == zrxtool::FileFormat::JSON) return WriteFormat::JSON;
#endif
    }
    throw py::value_error(fromPath ? std::string("cannot tell the format from the file name; "
                                                 "pass format=") +
                                         wanted
                                   : std::string("pass format=") + wanted);
  }
  std::string name = textFromPython(format, "format");
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (name == "zrt") return WriteFormat::ZRT;
  if (name == "zrb") return WriteFormat::ZRB;
#if defined(ZRX_PYTHON_TOOL)
  if (name == "json") return WriteFormat::JSON;
#endif
  throw py::value_error(std::string("format must be ") + wanted + ", not " +
                        py::repr(format).cast<std::string>());
}

const char* formatText(WriteFormat format) {
  return format == WriteFormat::ZRT ? "ZRT" : format == WriteFormat::ZRB ? "ZRB" : "JSON";
}

// A refusal in words for Python: "cannot write ZRT: " and the library's message without the name
// of the class that wrote it ("VisitorExportToZRT: ").
std::string refusalText(WriteFormat format, const std::string& message) {
  size_t start = 0;
  const size_t colon = message.find(": ");
  if (colon != std::string::npos && message.compare(0, 7, "Visitor") == 0) start = colon + 2;
  return std::string("cannot write ") + formatText(format) + ": " + message.substr(start);
}

// Writes the Python document into `file`, raising what a failed write means.
void writeFile(zr::VirtualFile* file, WriteFormat format, const Document& document, py::handle path,
               bool sixDecimals) {
  std::unique_ptr<Loan> loan;
  {
    WritePreparation preparing;  // other writes do not stop this one from lending its tree
    loan = std::make_unique<Loan>(document);
  }
  zrX::WriteResult result;
  std::vector<std::string> warnings;
  {
    WriteInProgress busy;
    py::gil_scoped_release unlocked;
    LogCapture capture;  // the walks warn about a list reached twice
    zrX::WriteOptions options;
    options.sixDecimalReals = sixDecimals;
#if defined(ZRX_PYTHON_TOOL)
    const zrxtool::FileFormat target = format == WriteFormat::ZRT   ? zrxtool::FileFormat::ZRT
                                       : format == WriteFormat::ZRB ? zrxtool::FileFormat::ZRB
                                                                    : zrxtool::FileFormat::JSON;
    if (target == zrxtool::FileFormat::JSON) {
      // The JSON writer takes a tree read without linking, where no node stands twice: the tree
      // goes through ZRB first, which writes a structure reached again as a reference.
      zr::ref<zr::MemoryFile> binary = new zr::MemoryFile(zr::String("<ZRB>"));
      result = zrX::writeDocument(binary.get(), zrX::Format::ZRB, loan->document());
      if (result.ok()) {
        zrxtool::ToolDocument unlinked;
        if (zrxtool::readDocumentFile(binary.get(), zrxtool::FileFormat::ZRB, unlinked, false)) {
          result = zrxtool::writeDocumentFile(file, target, unlinked);
        } else {
          result.status = zrX::WriteStatus::Refused;
          result.message = "the document did not read back from ZRB";
        }
      }
    } else {
      result = zrxtool::writeDocumentFile(file, target, loan->document(), options);
    }
#else
    result =
        zrX::writeDocument(file, format == WriteFormat::ZRT ? zrX::Format::ZRT : zrX::Format::ZRB,
                           loan->document(), options);
#endif
    warnings = capture.texts(zr::Log::Level::Warning);
  }
  loan.reset();
  if (result.status == zrX::WriteStatus::Refused) {
    warnings.insert(warnings.begin(), result.message);
    raiseDetailed(gWriteRefused, prefix(path) + refusalText(format, result.message), path,
                  warnings);
  }
  if (result.status == zrX::WriteStatus::WriteError) {
    if (result.systemError) raiseOSError(result.systemError, path);
    PyErr_SetObject(PyExc_OSError, textToPython(prefix(path) + result.message).ptr());
    throw py::error_already_set();
  }
  warn(path, warnings);
}

py::object formatToPython(ReadFormat format) {
#if defined(ZRX_PYTHON_TOOL)
  if (format == zrxtool::FileFormat::ZRT) return py::str("zrt");
  if (format == zrxtool::FileFormat::ZRB) return py::str("zrb");
  if (format == zrxtool::FileFormat::JSON) return py::str("json");
#else
  if (format == zrX::Format::ZRT) return py::str("zrt");
  if (format == zrX::Format::ZRB) return py::str("zrb");
#endif
  return py::none();
}

// A new list of an iterable's items, a new dict from a mapping or pairs, as list() and dict() do.
py::list listOf(py::handle items) {
  return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyList_Type))(items);
}
py::dict dictOf(py::handle entries) {
  return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyDict_Type))(entries);
}

std::string counted(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

void bindDocumentClass(py::module_& m) {
  py::class_<Document>(m, "Document", py::is_final(), R"(
A ZRX document: `structures`, the top-level zrx.Structure objects in order, and `metadata`, the
entries of its "<Metadata>" block as a dict. Both are plain Python containers of the caller's.)")
      .def(py::init([](py::object structures, py::object metadata) {
             auto document = std::make_unique<Document>();
             if (!structures.is_none()) document->structures = listOf(structures);
             if (!metadata.is_none()) document->metadata = dictOf(metadata);
             return document;
           }),
           py::arg("structures") = py::none(), py::arg("metadata") = py::none())
      .def_property(
          "structures", method(+[](const Document& d) { return d.structures; }),
          method(+[](Document& d, py::object value) {
            d.structures =
                PyList_Check(value.ptr()) ? py::reinterpret_borrow<py::list>(value) : listOf(value);
          }),
          "The top-level structures, in order: a plain list of zrx.Structure (the metadata block "
          "is not among them).")
      .def_property(
          "metadata", method(+[](const Document& d) { return d.metadata; }),
          method(+[](Document& d, py::object value) {
            d.metadata =
                PyDict_Check(value.ptr()) ? py::reinterpret_borrow<py::dict>(value) : dictOf(value);
          }),
          "The entries of the \"<Metadata>\" block: a plain dict of key and value (written in key "
          "order).")
      .def_property_readonly(
          "version", method(+[](const Document& d) { return d.version; }),
          "The version its file's header named (0 for a document made in Python).")
      .def_property_readonly(
          "encoding", method(+[](const Document& d) { return textToPython(d.encoding); }),
          "The encoding its file's header named ('' for a document made in Python).")
      .def("walk", method(+[](const Document& d) {
             const std::vector<zr::ref<zrX::ZRXStructure>> structures = topLevel(d);
             return walk(
                 std::vector<zr::ref<zrX::ZRXTaggedValue>>(structures.begin(), structures.end()));
           }),
           "Every structure of the document, each once, in document order (without the metadata).")
      .def("__repr__", method(+[](const Document& d) {
             return "<zrx.Document with " +
                    counted(py::len(d.structures), "structure", "structures") + " and " +
                    counted(py::len(d.metadata), "metadata entry", "metadata entries") + ">";
           }));
}

}  // namespace

Document::~Document() {
  // The tree's Python objects go first, so that their nodes are pending when the collector runs.
  {
    py::object structuresGone = std::move(structures);
    py::object metadataGone = std::move(metadata);
  }
  collect();
}

Loan::Loan(const Document& document) {
  mDocument.structures() = topLevel(document);
  std::vector<std::pair<py::object, py::object>> entries;
  for (py::handle item : py::iter(document.metadata.attr("items")())) {
    py::tuple pair = py::reinterpret_borrow<py::tuple>(item);
    entries.emplace_back(pair[0], pair[1]);
  }
  for (const auto& [key, value] : entries)
    mDocument.metadata()[textFromPython(key, "a metadata key")] = fromPython(value);
#if defined(ZRX_PYTHON_TOOL)
  mDocument.setLinked(true);
#endif
}

Loan::~Loan() {
  mDocument.structures().clear();
  mDocument.metadata().clear();
}

PyObject* parseErrorType() { return gParseError; }

void raiseDetailed(PyObject* type, const std::string& what, py::handle path,
                   const std::vector<std::string>& messages) {
  std::string text = what;
  // A refusal's text says it all already; the rest of the messages follow it.
  const size_t first = type == gWriteRefused ? 1 : 0;
  for (size_t i = first; i < messages.size() && i < first + kQuotedMessages; ++i)
    text += (i == 0 ? "" : "\n") + messages[i];
  if (messages.size() > first + kQuotedMessages)
    text += "\n(and " + std::to_string(messages.size() - first - kQuotedMessages) + " more)";
  py::list all;
  for (const std::string& m : messages) all.append(textToPython(m));
  py::object exception = py::reinterpret_borrow<py::object>(type)(textToPython(text));
  exception.attr("path") = path;
  exception.attr("messages") = all;
  PyErr_SetObject(type, exception.ptr());
  throw py::error_already_set();
}

py::object fromLibrary(zrX::Document& read) {
  auto document = std::make_unique<Document>();
  for (const zr::ref<zrX::ZRXStructure>& st : read.structures())
    document->structures.append(py::cast(st.get(), py::return_value_policy::reference));
  for (const auto& [key, value] : read.metadata())
    document->metadata[textToPython(key)] = toPython(value);
  document->version = read.version();
  document->encoding = read.encoding();
  // The Python objects hold the tree now: nothing is left for the library's document to break.
  read.structures().clear();
  read.metadata().clear();
  return py::cast(std::move(document));
}

void bindDocuments(py::module_& m) {
  gError = PyErr_NewExceptionWithDoc("zrx.Error", "Base of the errors of zrx.", PyExc_Exception,
                                     nullptr);
  gParseError = PyErr_NewExceptionWithDoc(
      "zrx.ParseError",
      "A document that does not parse or link. `messages` holds the library's messages, `path` "
      "the file (None for bytes).",
      gError, nullptr);
  gWriteRefused = PyErr_NewExceptionWithDoc(
      "zrx.WriteRefused",
      "A tree the chosen format cannot hold; the file was not touched. The text says what and "
      "where (\"/<Scene>/parts[0]/radius\", the zrx tool's path syntax); `messages` holds the "
      "writer's own message and any warnings, `path` the file (None for bytes).",
      gError, nullptr);
  if (!gError || !gParseError || !gWriteRefused) throw py::error_already_set();
  m.attr("Error") = py::handle(gError);
  m.attr("ParseError") = py::handle(gParseError);
  m.attr("WriteRefused") = py::handle(gWriteRefused);

  bindDocumentClass(m);

  m.def(
      "read",
      [](py::object path, bool link) {
        const Path p = pathFromPython(path);
        zr::ref<zr::VirtualFile> file = openForReading(p);
        return readFile(file.get(), p.text, link);
      },
      py::arg("path"), py::arg("link") = true);
  m.def(
      "read_bytes",
      [](py::object data, bool link) {
        // A bytes object cannot change: the parser reads it in place, without a copy (the object
        // stays alive through the call). Any other buffer (a bytearray, say) could change while
        // the GIL is let go, so its bytes are copied once.
        if (PyBytes_CheckExact(data.ptr())) {
          zr::ref<zr::VirtualFile> file = new zr::MemoryView(
              PyBytes_AS_STRING(data.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(data.ptr())),
              zr::String("<bytes>"));
          return readFile(file.get(), py::none(), link);
        }
        Py_buffer view;
        if (PyObject_GetBuffer(data.ptr(), &view, PyBUF_SIMPLE) != 0) throw py::error_already_set();
        const auto* begin = static_cast<const uint8_t*>(view.buf);
        std::vector<uint8_t> bytes(begin, begin + view.len);
        PyBuffer_Release(&view);
        zr::ref<zr::VirtualFile> file = new zr::MemoryFile(std::move(bytes), zr::String("<bytes>"));
        return readFile(file.get(), py::none(), link);
      },
      py::arg("data"), py::arg("link") = true);
  m.def(
      "write",
      [](py::object document, py::object path, py::object format, bool sixDecimals) {
        const Document& d = objectOf<Document>(document);
        const Path p = pathFromPython(path);
        const WriteFormat f = formatFromPython(format, p.bytes, true);
        zr::ref<zr::VirtualFile> file = new zr::DiskFile(zr::String(p.bytes));
        writeFile(file.get(), f, d, p.text, sixDecimals);
      },
      py::arg("document"), py::arg("path"), py::arg("format") = py::none(), py::kw_only(),
      py::arg("six_decimals") = false);
  m.def(
      "write_bytes",
      [](py::object document, py::object format, bool sixDecimals) {
        const Document& d = objectOf<Document>(document);
        const WriteFormat f = formatFromPython(format, std::string(), false);
        zr::ref<OutputFile> file = new OutputFile;
        file->start();
        writeFile(file.get(), f, d, py::none(), sixDecimals);
        return file->bytes();
      },
      py::arg("document"), py::arg("format"), py::kw_only(), py::arg("six_decimals") = false);
  m.def(
      "detect",
      [](py::object path) {
        const Path p = pathFromPython(path);
        zr::ref<zr::VirtualFile> file = openForReading(p);
        return formatToPython(detectAny(file.get()));
      },
      py::arg("path"));
  m.def("detect_bytes", [](py::bytes data) {
    zr::ref<zr::VirtualFile> file = new zr::MemoryView(
        PyBytes_AS_STRING(data.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(data.ptr())),
        zr::String("<bytes>"));
    return formatToPython(detectAny(file.get()));
  });
}

}  // namespace zrxpy
