#include "Nodes.hpp"

#include "Equality.hpp"
#include "PointerSet.hpp"
#include "Values.hpp"

namespace zrxpy {

namespace {

using zrX::ZRXList;
using zrX::ZRXRawtextBlock;
using zrX::ZRXStructure;
using zrX::ZRXTaggedValue;
using zrX::ZRXValue;

constexpr const char* kNoID = "#NULL";

// A tag being set: None or '' for none, else one the text format can hold.
std::string tagFromPython(py::handle tag) {
  return tag.is_none() ? std::string() : nameFromPython(tag, zrX::NameKind::Tag);
}

std::string idFromPython(py::handle id) {
  return id.is_none() ? std::string(kNoID) : nameFromPython(id, zrX::NameKind::ID);
}

std::string counted(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Index of the first entry with `key`, or -1.
py::ssize_t findKey(const ZRXStructure& st, const std::string& key) {
  const auto& entries = st.value();
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].key() == key) return static_cast<py::ssize_t>(i);
  return -1;
}

[[noreturn]] void keyError(py::handle key) {
  PyErr_SetObject(PyExc_KeyError, key.ptr());
  throw py::error_already_set();
}

// `index` as a position in a sequence of `size` elements, negative from the end; IndexError
// outside.
size_t position(py::ssize_t index, size_t size) {
  const auto n = static_cast<py::ssize_t>(size);
  if (index < 0) index += n;
  if (index < 0 || index >= n) throw py::index_error("list index out of range");
  return static_cast<size_t>(index);
}

// Entries from (key, value) pairs, or from a dict's items; the keys checked when `check`.
std::vector<ZRXStructure::KeyValue> entriesFromPython(py::handle entries, bool check = true) {
  std::vector<ZRXStructure::KeyValue> out;
  if (entries.is_none()) return out;
  py::object items = PyDict_Check(entries.ptr()) ? entries.attr("items")()
                                                 : py::reinterpret_borrow<py::object>(entries);
  for (py::handle item : py::iter(items)) {
    if (!(PyTuple_Check(item.ptr()) || PyList_Check(item.ptr())) || py::len(item) != 2)
      throw py::type_error("an entry is a (key, value) pair, not a " +
                           std::string(Py_TYPE(item.ptr())->tp_name));
    py::sequence pair = py::reinterpret_borrow<py::sequence>(item);
    std::string key =
        check ? nameFromPython(pair[0], zrX::NameKind::Key) : textFromPython(pair[0], "a key");
    ZRXValue value = fromPython(pair[1]);
    out.emplace_back();
    out.back().setKey(std::move(key));
    out.back().setValue(std::move(value));
  }
  return out;
}

std::vector<ZRXValue> valuesFromPython(py::handle items) {
  std::vector<ZRXValue> out;
  if (items.is_none()) return out;
  for (py::handle item : py::iter(items)) out.push_back(fromPython(item));
  return out;
}

template <class T>
void setTag(T& node, py::handle tag) {
  node.setTag(tagFromPython(tag));
}

std::string shortRepr(const std::string& text) {
  return py::repr(textToPython(text.size() > 60 ? text.substr(0, 60) + "..." : text))
      .cast<std::string>();
}

// Structure ------------------------------------------------------------------------------------

py::object structureGet(ZRXStructure& st, py::handle key, py::handle fallback) {
  const py::ssize_t i = findKey(st, textFromPython(key, "a key"));
  if (i < 0) return py::reinterpret_borrow<py::object>(fallback);
  const ZRXValue value = st.value()[static_cast<size_t>(i)].value();
  return toPython(value);
}

void structureSet(ZRXStructure& st, py::handle key, py::handle object) {
  std::string k = textFromPython(key, "a key");
  py::ssize_t i = findKey(st, k);
  if (i < 0) k = nameFromPython(key, zrX::NameKind::Key);  // a new entry: a new name
  ZRXValue replaced;
  if (i >= 0) replaced = st.value()[static_cast<size_t>(i)].value();
  ZRXValue value = fromPython(object, i >= 0 ? &replaced : nullptr);
  i = findKey(st, k);  // converting may have run Python code that changed the structure
  if (i >= 0) {
    st.value()[static_cast<size_t>(i)].setValue(std::move(value));
  } else {
    st.value().emplace_back();
    st.value().back().setKey(std::move(k));
    st.value().back().setValue(std::move(value));
  }
}

py::list structureEntries(ZRXStructure& st) {
  py::list out;
  for (size_t i = 0; i < st.value().size(); ++i) {
    // Making a str runs no Python code, so the key is read in place; the value is copied before
    // a conversion that may.
    py::str key = textToPython(st.value()[i].key());
    const ZRXValue value = st.value()[i].value();
    out.append(py::make_tuple(std::move(key), toPython(value)));
  }
  return out;
}

void bindStructure(py::module_& m) {
  py::class_<ZRXStructure, NodeRef<ZRXStructure>>(m, "Structure", py::is_final(), R"(
A tagged structure: an ID and entries (key, value) in order; keys may repeat.

st["key"] is the first entry with that key; st["key"] = v replaces it or appends a new one;
st.append(key, v) always appends. Iterating gives (key, value) pairs. The tag keeps its angle
brackets ("<Mesh>"); id is None when the structure has none.)")
      .def(py::init([](py::handle tag, py::handle entries, py::handle id) {
             std::vector<ZRXStructure::KeyValue> values = entriesFromPython(entries);
             const std::string t = tagFromPython(tag);
             const std::string i = idFromPython(id);
             auto* st = new ZRXStructure(nullptr, 0);
             st->setTag(t);  // the whole tag, a NUL byte included
             st->setID(i);
             st->value() = std::move(values);
             return st;
           }),
           py::arg("tag") = py::none(), py::arg("entries") = py::none(), py::arg("id") = py::none())
      .def_property("tag", method(+[](const ZRXStructure& st) { return textToPython(st.tag()); }),
                    method(&setTag<ZRXStructure>), "The tag, angle brackets included; '' for none.")
      .def_property("id", method(+[](const ZRXStructure& st) -> py::object {
                      if (st.uid() == kNoID) return py::none();
                      return textToPython(st.uid());
                    }),
                    method(+[](ZRXStructure& st, py::handle id) { st.setID(idFromPython(id)); }),
                    "The ID ('#name'), or None; a structure reached from two places needs one.")
      .def_property_readonly("line",
                             method(+[](const ZRXStructure& st) { return st.lineNumber(); }),
                             "The line it began on in a ZRT file; 0 otherwise.")
      .def("__len__", method(+[](const ZRXStructure& st) { return st.value().size(); }))
      .def("__iter__", method(+[](ZRXStructure& st) { return py::iter(structureEntries(st)); }))
      .def("__contains__", method(+[](const ZRXStructure& st, py::handle key) {
             if (!PyUnicode_Check(key.ptr()) && !PyBytes_Check(key.ptr())) return false;
             return findKey(st, textFromPython(key, "a key")) >= 0;
           }))
      .def("__getitem__", method(+[](ZRXStructure& st, py::handle key) {
             const py::ssize_t i = findKey(st, textFromPython(key, "a key"));
             if (i < 0) keyError(key);
             const ZRXValue value = st.value()[static_cast<size_t>(i)].value();
             return toPython(value);
           }))
      .def("__setitem__", method(&structureSet))
      .def("__delitem__", method(+[](ZRXStructure& st, py::handle key) {
             const py::ssize_t i = findKey(st, textFromPython(key, "a key"));
             if (i < 0) keyError(key);
             st.value().erase(st.value().begin() + i);
           }))
      .def("get", method(&structureGet), py::arg("key"), py::arg("default") = py::none(),
           "The value of the first entry with `key`, or `default`.")
      .def("get_all", method(+[](ZRXStructure& st, py::handle key) {
             const std::string k = textFromPython(key, "a key");
             py::list out;
             for (size_t i = 0; i < st.value().size(); ++i) {
               if (st.value()[i].key() != k) continue;
               const ZRXValue value = st.value()[i].value();
               out.append(toPython(value));
             }
             return out;
           }),
           py::arg("key"), "The values of every entry with `key`, in order.")
      .def("keys", method(+[](const ZRXStructure& st) {
             py::list out;
             for (const auto& entry : st.value()) out.append(textToPython(entry.key()));
             return out;
           }),
           "The keys in order, repeated ones included.")
      .def("append", method(+[](ZRXStructure& st, py::handle key, py::handle object) {
             std::string k = nameFromPython(key, zrX::NameKind::Key);
             ZRXValue value = fromPython(object);
             st.value().emplace_back();
             st.value().back().setKey(std::move(k));
             st.value().back().setValue(std::move(value));
           }),
           py::arg("key"), py::arg("value"), "Appends an entry, even when the key is there.")
      .def("walk", method(+[](ZRXStructure& st) { return walk({zr::ref<ZRXTaggedValue>(&st)}); }),
           "This structure and every structure it reaches, each once, in document order.")
      .def("__repr__", method(+[](const ZRXStructure& st) {
             std::string text = "<zrx.Structure " + shortRepr(st.tag());
             if (st.uid() != kNoID) text += " id=" + shortRepr(st.uid());
             return text + " with " + counted(st.value().size(), "entry", "entries") + ">";
           }))
      .def("__eq__",
           [](py::handle self, py::handle other) -> py::object {
             if (Py_TYPE(other.ptr()) != Py_TYPE(self.ptr()))
               return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             ZRXValue a, b;
             a.setStructure(&objectOf<ZRXStructure>(self));
             b.setStructure(&objectOf<ZRXStructure>(other));
             return py::bool_(equalTrees(a, b));
           })
      .def("_restore",
           method(+[](ZRXStructure& st, py::handle tag, py::handle id, py::handle entries) {
             // Unpickling and copying: the names are put back as they were, unchecked.
             std::vector<ZRXStructure::KeyValue> values = entriesFromPython(entries, false);
             st.setTag(tag.is_none() ? std::string() : textFromPython(tag, "a tag"));
             st.setID(id.is_none() ? std::string(kNoID) : textFromPython(id, "an ID"));
             st.value() = std::move(values);
           }));
}

// List -----------------------------------------------------------------------------------------

void bindList(py::module_& m) {
  py::class_<ZRXList, NodeRef<ZRXList>>(m, "List", py::is_final(), R"(
A tagged list of values, used like a Python list (indexing, slices to read, append, insert,
extend, pop, del).)")
      .def(py::init([](py::handle items, py::handle tag) {
             std::vector<ZRXValue> values = valuesFromPython(items);
             const std::string t = tagFromPython(tag);
             auto* list = new ZRXList(nullptr, 0);
             list->setTag(t);
             list->value() = std::move(values);
             return list;
           }),
           py::arg("items") = py::none(), py::arg("tag") = py::none())
      .def_property("tag", method(+[](const ZRXList& l) { return textToPython(l.tag()); }),
                    method(&setTag<ZRXList>), "The tag, angle brackets included; '' for none.")
      .def_property_readonly("line", method(+[](const ZRXList& l) { return l.lineNumber(); }))
      .def("__len__", method(+[](const ZRXList& l) { return l.value().size(); }))
      .def("__iter__", method(+[](ZRXList& l) {
             py::list out;
             for (size_t i = 0; i < l.value().size(); ++i) {
               const ZRXValue value = l.value()[i];
               out.append(toPython(value));
             }
             return py::iter(out);
           }))
      .def("__getitem__", method(+[](ZRXList& l, py::ssize_t index) {
             const ZRXValue value = l.value()[position(index, l.value().size())];
             return toPython(value);
           }))
      .def("__getitem__", method(+[](ZRXList& l, const py::slice& slice) {
             py::ssize_t start = 0, stop = 0, step = 0, count = 0;
             if (!slice.compute(static_cast<py::ssize_t>(l.value().size()), &start, &stop, &step,
                                &count))
               throw py::error_already_set();
             std::vector<ZRXValue> values;
             values.reserve(static_cast<size_t>(count));
             for (py::ssize_t k = 0; k < count; ++k)
               values.push_back(l.value()[static_cast<size_t>(start + k * step)]);
             py::list out;
             for (const ZRXValue& value : values) out.append(toPython(value));
             return out;
           }))
      .def("__setitem__", method(+[](ZRXList& l, py::ssize_t index, py::handle object) {
             const ZRXValue replaced = l.value()[position(index, l.value().size())];
             ZRXValue value = fromPython(object, &replaced);
             l.value()[position(index, l.value().size())] = std::move(value);
           }))
      .def("__delitem__", method(+[](ZRXList& l, py::ssize_t index) {
             l.value().erase(l.value().begin() +
                             static_cast<py::ssize_t>(position(index, l.value().size())));
           }))
      .def("append",
           method(+[](ZRXList& l, py::handle object) { l.value().push_back(fromPython(object)); }),
           py::arg("value"))
      .def("extend", method(+[](ZRXList& l, py::handle items) {
             std::vector<ZRXValue> values = valuesFromPython(items);
             for (ZRXValue& value : values) l.value().push_back(std::move(value));
           }),
           py::arg("items"))
      .def("insert", method(+[](ZRXList& l, py::ssize_t index, py::handle object) {
             ZRXValue value = fromPython(object);
             const auto n = static_cast<py::ssize_t>(l.value().size());
             if (index < 0) index = std::max<py::ssize_t>(0, index + n);
             index = std::min(index, n);
             l.value().insert(l.value().begin() + index, std::move(value));
           }),
           py::arg("index"), py::arg("value"))
      .def("pop", method(+[](ZRXList& l, py::ssize_t index) {
             if (l.value().empty()) throw py::index_error("pop from empty list");
             const size_t i = position(index, l.value().size());
             const ZRXValue value = l.value()[i];
             l.value().erase(l.value().begin() + static_cast<py::ssize_t>(i));
             return toPython(value);
           }),
           py::arg("index") = -1)
      .def("walk", method(+[](ZRXList& l) { return walk({zr::ref<ZRXTaggedValue>(&l)}); }),
           "Every structure this list reaches, each once, in document order.")
      .def("__repr__", method(+[](const ZRXList& l) {
             return "<zrx.List " + shortRepr(l.tag()) + " with " +
                    counted(l.value().size(), "item", "items") + ">";
           }))
      .def("__eq__",
           [](py::handle self, py::handle other) -> py::object {
             if (Py_TYPE(other.ptr()) != Py_TYPE(self.ptr()))
               return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             ZRXValue a, b;
             a.setList(&objectOf<ZRXList>(self));
             b.setList(&objectOf<ZRXList>(other));
             return py::bool_(equalTrees(a, b));
           })
      .def("_assign", method(+[](ZRXList& l, py::handle items) {
             // Every element at once, converted before anything changes (slice assignment).
             std::vector<ZRXValue> values = valuesFromPython(items);
             l.value() = std::move(values);
           }))
      .def("_restore", method(+[](ZRXList& l, py::handle tag, py::handle items) {
             std::vector<ZRXValue> values = valuesFromPython(items);
             l.setTag(tag.is_none() ? std::string() : textFromPython(tag, "a tag"));
             l.value() = std::move(values);
           }));
}

// RawText, Identifier, Ref ----------------------------------------------------------------------

void bindRawText(py::module_& m) {
  py::class_<ZRXRawtextBlock, NodeRef<ZRXRawtextBlock>>(m, "RawText", py::is_final(),
                                                        "A tagged block of verbatim text.")
      .def(py::init([](py::handle text, py::handle tag) {
             auto* block = new ZRXRawtextBlock;
             block->setTag(tagFromPython(tag));
             block->setValue(textFromPython(text, "a raw text"));
             return block;
           }),
           py::arg("text") = py::str(""), py::arg("tag") = py::none())
      .def_property("tag", method(+[](const ZRXRawtextBlock& b) { return textToPython(b.tag()); }),
                    method(&setTag<ZRXRawtextBlock>),
                    "The tag, angle brackets included; '' for none.")
      .def_property("text",
                    method(+[](const ZRXRawtextBlock& b) { return textToPython(b.value()); }),
                    method(+[](ZRXRawtextBlock& b, py::handle text) {
                      b.setValue(textFromPython(text, "a raw text"));
                    }))
      .def_property_readonly("line",
                             method(+[](const ZRXRawtextBlock& b) { return b.lineNumber(); }))
      .def("__repr__", method(+[](const ZRXRawtextBlock& b) {
             return "<zrx.RawText " + shortRepr(b.tag()) + " of " +
                    counted(b.value().size(), "byte", "bytes") + ">";
           }))
      .def("__eq__",
           [](py::handle self, py::handle other) -> py::object {
             if (Py_TYPE(other.ptr()) != Py_TYPE(self.ptr()))
               return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             const ZRXRawtextBlock& a = objectOf<ZRXRawtextBlock>(self);
             const ZRXRawtextBlock& b = objectOf<ZRXRawtextBlock>(other);
             return py::bool_(a.tag() == b.tag() && a.value() == b.value());
           })
      .def("_restore", method(+[](ZRXRawtextBlock& b, py::handle tag, py::handle text) {
             b.setTag(tag.is_none() ? std::string() : textFromPython(tag, "a tag"));
             b.setValue(textFromPython(text, "a raw text"));
           }));
}

// Identifier and Ref: small value types, equal when their texts are.
template <class T, std::string T::*text>
void bindTextType(py::module_& m, const char* name, const char* attribute, zrX::NameKind kind,
                  const char* doc) {
  py::class_<T>(m, name, py::is_final(), doc)
      .def(py::init([kind](py::handle value) { return T{nameFromPython(value, kind)}; }),
           py::arg(attribute))
      .def(py::pickle([](const T& v) { return py::make_tuple(py::bytes(v.*text)); },
                      [](const py::tuple& state) {
                        // Put back as it was, unchecked (a name read from a file stays itself).
                        return T{textFromPython(state[0], "a name")};
                      }))
      .def_property_readonly(attribute, method(+[](const T& v) { return textToPython(v.*text); }))
      .def("__eq__",
           [](py::handle self, py::handle other) -> py::object {
             const T& a = objectOf<T>(self);
             if (Py_TYPE(other.ptr()) != Py_TYPE(self.ptr()))
               return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             return py::bool_(a.*text == objectOf<T>(other).*text);
           })
      .def(
          "__hash__",
          [](py::handle self) {
            return py::hash(py::make_tuple(py::type::of(self), py::bytes(objectOf<T>(self).*text)));
          })
      .def("__str__", method(+[](const T& v) { return textToPython(v.*text); }))
      .def("__repr__", [](py::handle self) {
        return std::string("zrx.") + py::type::of(self).attr("__name__").cast<std::string>() + "(" +
               py::repr(textToPython(objectOf<T>(self).*text)).template cast<std::string>() + ")";
      });
}

}  // namespace

py::list walk(const std::vector<zr::ref<ZRXTaggedValue>>& roots) {
  // First in C++ alone, so that nothing changes the tree while raw pointers are followed; then
  // the Python objects, from references that keep each structure alive.
  std::vector<zr::ref<ZRXStructure>> found;
  {
    PointerSet seen;
    std::vector<ZRXTaggedValue*> stack;
    auto push = [&stack](const ZRXValue& value) {
      if (value.type() == ZRXValue::Structure && value.getStructure())
        stack.push_back(value.getStructure());
      else if (value.type() == ZRXValue::List)
        stack.push_back(value.getList());
    };
    for (auto it = roots.rbegin(); it != roots.rend(); ++it)
      if (*it) stack.push_back(it->get());
    while (!stack.empty()) {
      ZRXTaggedValue* node = stack.back();
      stack.pop_back();
      if (!seen.insert(node)) continue;
      if (node->classType() == ZRXStructure::Type()) {
        auto* st = static_cast<ZRXStructure*>(node);
        found.emplace_back(st);
        for (auto it = st->value().rbegin(); it != st->value().rend(); ++it) push(it->value());
      } else if (node->classType() == ZRXList::Type()) {
        auto* list = static_cast<ZRXList*>(node);
        for (auto it = list->value().rbegin(); it != list->value().rend(); ++it) push(*it);
      }
    }
  }
  py::list out;
  for (const auto& st : found) out.append(py::cast(st.get(), py::return_value_policy::reference));
  return out;
}

void bindNodes(py::module_& module) {
  bindStructure(module);
  bindList(module);
  bindRawText(module);
  bindTextType<Identifier, &Identifier::name>(
      module, "Identifier", "name", zrX::NameKind::Identifier,
      "An identifier value (a bare word such as Opaque), not a string.");
  bindTextType<Reference, &Reference::id>(
      module, "Ref", "id", zrX::NameKind::ID,
      "An ID value ('#name'): a reference that was not linked to a structure, such as those in "
      "the metadata or in a document read with link=False.");
}

}  // namespace zrxpy
