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
#include "Values.hpp"

namespace zrxpy {

namespace {

// Messages quoted into an exception's text; the exception's `messages` holds them all.
constexpr size_t kQuotedMessages = 5;

PyObject* gError = nullptr;
PyObject* gParseError = nullptr;
PyObject* gWriteRefused = nullptr;

struct Document {
  py::list structures;
  py::dict metadata;
  uint16_t version = 0;
  std::string encoding;

  Document() = default;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  ~Document() {
    // The tree's Python objects go first, so that their nodes are pending when the collector runs.
    {
      py::object structuresGone = std::move(structures);
      py::object metadataGone = std::move(metadata);
    }
    collect();
  }
};

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

// A file on disk that can be opened for reading, else the OSError that says why.
zr::ref<zr::VirtualFile> openForReading(const Path& path) {
  zr::ref<zr::VirtualFile> file = new zr::DiskFile(zr::String(path.bytes));
  errno = 0;
  if (!file->open(zr::VirtualFile::ReadOnly)) {
    std::error_code error;
    int code = std::filesystem::is_directory(path.bytes, error) ? EISDIR : errno;
    errno = code ? code : EIO;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.text.ptr());
    throw py::error_already_set();
  }
  file->close();
  return file;
}

[[noreturn]] void raiseDetailed(PyObject* type, const std::string& what, py::handle path,
                                const std::vector<std::string>& messages) {
  std::string text = what;
  for (size_t i = 0; i < messages.size() && i < kQuotedMessages; ++i)
    text += (i == 0 ? "" : "\n") + messages[i];
  if (messages.size() > kQuotedMessages)
    text += "\n(and " + std::to_string(messages.size() - kQuotedMessages) + " more)";
  py::list all;
  for (const std::string& m : messages) all.append(textToPython(m));
  py::object exception = py::reinterpret_borrow<py::object>(type)(textToPython(text));
  exception.attr("path") = path;
  exception.attr("messages") = all;
  PyErr_SetObject(type, exception.ptr());
  throw py::error_already_set();
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

// The Python document for a document just read; the tree moves over to Python objects.
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

py::object readFile(zr::VirtualFile* file, py::handle path, bool link) {
  zrX::Document read;
  zrX::ReadStatus status = zrX::ReadStatus::Ok;
  std::vector<LogCapture::Line> lines;
  {
    py::gil_scoped_release unlocked;
    LogCapture capture;
    zrX::ReadOptions options;
    options.link = link;
    status = zrX::readDocument(file, zrX::detectFormat(file), read, options);
    lines = capture.lines();
  }
  std::vector<std::string> errors, warnings;
  for (const LogCapture::Line& line : lines)
    (line.level == zr::Log::Level::Error ? errors : warnings).push_back(line.text);
  if (status != zrX::ReadStatus::Ok) {
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

// The nodes of a Python document lent to a library document for one write, and taken back.
class Loan {
 public:
  explicit Loan(const Document& document) {
    mDocument.structures() = topLevel(document);
    std::vector<std::pair<py::object, py::object>> entries;
    for (py::handle item : py::iter(document.metadata.attr("items")())) {
      py::tuple pair = py::reinterpret_borrow<py::tuple>(item);
      entries.emplace_back(pair[0], pair[1]);
    }
    for (const auto& [key, value] : entries)
      mDocument.metadata()[textFromPython(key, "a metadata key")] = fromPython(value);
  }
  ~Loan() {
    // Taken back: the tree stays whole for the Python objects that hold it.
    mDocument.structures().clear();
    mDocument.metadata().clear();
  }
  Loan(const Loan&) = delete;
  Loan& operator=(const Loan&) = delete;

  const zrX::Document& document() const { return mDocument; }

 private:
  zrX::Document mDocument;
};

zrX::Format formatFromPython(py::handle format, const std::string& path, bool fromPath) {
  if (format.is_none()) {
    const zrX::Format byExtension =
        fromPath ? zrX::formatFromExtension(path) : zrX::Format::Unknown;
    if (byExtension == zrX::Format::Unknown)
      throw py::value_error(fromPath ? "cannot tell the format from the file name; pass "
                                       "format='zrt' or format='zrb'"
                                     : "pass format='zrt' or format='zrb'");
    return byExtension;
  }
  std::string name = textFromPython(format, "format");
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (name == "zrt") return zrX::Format::ZRT;
  if (name == "zrb") return zrX::Format::ZRB;
  throw py::value_error("format must be 'zrt' or 'zrb', not " +
                        py::repr(format).cast<std::string>());
}

// Writes the Python document into `file`, raising what a failed write means.
void writeFile(zr::VirtualFile* file, zrX::Format format, const Document& document, py::handle path,
               bool sixDecimals) {
  Loan loan(document);
  zrX::WriteResult result;
  std::vector<std::string> warnings;
  {
    LogCapture capture;  // the walks warn about a list reached twice
    zrX::WriteOptions options;
    options.sixDecimalReals = sixDecimals;
    result = zrX::writeDocument(file, format, loan.document(), options);
    warnings = capture.texts(zr::Log::Level::Warning);
  }
  if (result.status == zrX::WriteStatus::Refused) {
    warnings.insert(warnings.begin(), result.message);
    raiseDetailed(gWriteRefused, prefix(path), path, warnings);
  }
  if (result.status == zrX::WriteStatus::WriteError) {
    PyErr_SetObject(PyExc_OSError, textToPython(prefix(path) + result.message).ptr());
    throw py::error_already_set();
  }
  warn(path, warnings);
}

py::object formatToPython(zrX::Format format) {
  if (format == zrX::Format::ZRT) return py::str("zrt");
  if (format == zrX::Format::ZRB) return py::str("zrb");
  return py::none();
}

// A new list of an iterable's items, a new dict from a mapping or pairs, as list() and dict() do.
py::list listOf(py::handle items) {
  return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyList_Type))(items);
}
py::dict dictOf(py::handle entries) {
  return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyDict_Type))(entries);
}

void bindDocumentClass(py::module_& m) {
  py::class_<Document>(m, "Document", py::is_final(), R"(
A ZRX document: `structures`, the top-level zrx.Structure objects in order, and `metadata`, the
entries of its "<Metadata>" block as a dict. Both are plain Python containers of the caller's.)")
      .def(py::init([](py::handle structures, py::handle metadata) {
             auto document = std::make_unique<Document>();
             if (!structures.is_none()) document->structures = listOf(structures);
             if (!metadata.is_none()) document->metadata = dictOf(metadata);
             return document;
           }),
           py::arg("structures") = py::none(), py::arg("metadata") = py::none())
      .def_property("structures", method(+[](const Document& d) { return d.structures; }),
                    method(+[](Document& d, py::handle value) {
                      d.structures = PyList_Check(value.ptr())
                                         ? py::reinterpret_borrow<py::list>(value)
                                         : listOf(value);
                    }))
      .def_property("metadata", method(+[](const Document& d) { return d.metadata; }),
                    method(+[](Document& d, py::handle value) {
                      d.metadata = PyDict_Check(value.ptr())
                                       ? py::reinterpret_borrow<py::dict>(value)
                                       : dictOf(value);
                    }))
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
             return "<zrx.Document with " + std::to_string(py::len(d.structures)) +
                    " structures and " + std::to_string(py::len(d.metadata)) + " metadata entries>";
           }));
}

}  // namespace

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
      "A tree the chosen format cannot hold; the file was not touched. `messages` holds the "
      "writer's message, `path` the file (None for bytes).",
      gError, nullptr);
  if (!gError || !gParseError || !gWriteRefused) throw py::error_already_set();
  m.attr("Error") = py::handle(gError);
  m.attr("ParseError") = py::handle(gParseError);
  m.attr("WriteRefused") = py::handle(gWriteRefused);

  bindDocumentClass(m);

  m.def(
      "read",
      [](py::handle path, bool link) {
        const Path p = pathFromPython(path);
        zr::ref<zr::VirtualFile> file = openForReading(p);
        return readFile(file.get(), p.text, link);
      },
      py::arg("path"), py::arg("link") = true, R"(
Reads a ZRT or ZRB file (told apart by its first bytes) into a Document. With link=True every
reference becomes the structure it names; with link=False references stay zrx.Ref values.
Raises ParseError for a document that does not parse or link, OSError for a file that cannot be
opened.)");
  m.def(
      "read_bytes",
      [](py::handle data, bool link) {
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
      py::arg("data"), py::arg("link") = true,
      "Reads a document from a bytes-like object, as read() does from a file: bytes in place, "
      "any other buffer copied once.");
  m.def(
      "write",
      [](py::handle document, py::handle path, py::handle format, bool sixDecimals) {
        const Document& d = objectOf<Document>(document);
        const Path p = pathFromPython(path);
        const zrX::Format f = formatFromPython(format, p.bytes, true);
        zr::ref<zr::VirtualFile> file = new zr::DiskFile(zr::String(p.bytes));
        writeFile(file.get(), f, d, p.text, sixDecimals);
      },
      py::arg("document"), py::arg("path"), py::arg("format") = py::none(), py::kw_only(),
      py::arg("six_decimals") = false, R"(
Writes a Document as ZRT or ZRB: `format` is 'zrt' or 'zrb', or taken from the file name's
extension. A tree the format cannot hold raises WriteRefused and leaves the file as it was; a
failed write raises OSError, also leaving the previous file in place. ZRT gives every finite real
back exactly (six decimals where those say it exactly, else the shortest digits that do);
six_decimals=True writes every real with six decimals ("%f"), losing what lies beyond.)");
  m.def(
      "write_bytes",
      [](py::handle document, py::handle format, bool sixDecimals) {
        const Document& d = objectOf<Document>(document);
        const zrX::Format f = formatFromPython(format, std::string(), false);
        zr::ref<zr::MemoryFile> file = new zr::MemoryFile(zr::String("<bytes>"));
        writeFile(file.get(), f, d, py::none(), sixDecimals);
        const std::vector<uint8_t>& data = file->data();
        return py::bytes(reinterpret_cast<const char*>(data.data()), data.size());
      },
      py::arg("document"), py::arg("format"), py::kw_only(), py::arg("six_decimals") = false,
      "The bytes write() would write, as bytes.");
  m.def(
      "detect",
      [](py::handle path) {
        const Path p = pathFromPython(path);
        zr::ref<zr::VirtualFile> file = openForReading(p);
        return formatToPython(zrX::detectFormat(file.get()));
      },
      py::arg("path"),
      "'zrt' or 'zrb' after a file's first bytes, None for anything else; OSError for a file that "
      "cannot be opened.");
}

}  // namespace zrxpy
