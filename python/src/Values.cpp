#include "Values.hpp"

#include <cstdint>
#include <limits>
#include <vector>

#include "Holder.hpp"
#include "Nodes.hpp"
#include "Objects.hpp"
#include "WriteGate.hpp"

namespace zrxpy {

namespace {

// The capsule that a numpy view has for base: a heap zr::ref on the array node.
constexpr const char* kArrayCapsule = "zrx.ArrayNode";

void dropArrayCapsule(PyObject* capsule) {
  delete static_cast<zr::ref<zrX::ZRXArray>*>(PyCapsule_GetPointer(capsule, kArrayCapsule));
}

// The numpy scalar types that are not subclasses of Python's own, looked up once.
struct NumpyTypes {
  py::object boolType, floatingType;
};

const NumpyTypes& numpyTypes() {
  // Never destroyed: released after the interpreter, it would decrement freed objects.
  static NumpyTypes* types = [] {
    py::module_ numpy = py::module_::import("numpy");
    return new NumpyTypes{numpy.attr("bool_"), numpy.attr("floating")};
  }();
  return *types;
}

template <class T>
py::array viewOf(zrX::ZRXArrayTemplate<T>* node) {
  std::vector<T>& elements = node->value();
  // numpy needs an address for an empty view as well; nothing is ever read or written there.
  static T emptyElement{};
  T* data = elements.empty() ? &emptyElement : elements.data();
  auto* holder = new zr::ref<zrX::ZRXArray>(node);
  PyObject* capsule = PyCapsule_New(holder, kArrayCapsule, dropArrayCapsule);
  if (!capsule) {
    delete holder;
    throw py::error_already_set();
  }
  py::object base = py::reinterpret_steal<py::object>(capsule);
  return py::array_t<T>({static_cast<py::ssize_t>(elements.size())},
                        {static_cast<py::ssize_t>(sizeof(T))}, data, base);
}

// The array node whose memory `array` views, or null: the capsule at the end of its chain of
// bases (numpy does not collapse a view of a view onto a base that is not an array).
zrX::ZRXArray* baseNode(const py::array& array) {
  py::object base = array.base();
  while (base && py::isinstance<py::array>(base))
    base = py::reinterpret_borrow<py::array>(base).base();
  if (!base || !PyCapsule_IsValid(base.ptr(), kArrayCapsule)) return nullptr;
  return static_cast<zr::ref<zrX::ZRXArray>*>(PyCapsule_GetPointer(base.ptr(), kArrayCapsule))
      ->get();
}

template <class T>
bool viewsAll(const py::array& array, const zrX::ZRXArrayTemplate<T>* node) {
  const std::vector<T>& elements = node->value();
  if (!py::isinstance<py::array_t<T>>(array)) return false;  // same dtype, native order
  if (!(array.flags() & py::array::c_style)) return false;
  if (static_cast<size_t>(array.size()) != elements.size()) return false;
  return elements.empty() || array.data() == static_cast<const void*>(elements.data());
}

// The node that `array` views whole (any C-contiguous shape), or null.
zrX::ZRXArray* wholeViewNode(const py::array& array) {
  zrX::ZRXArray* node = baseNode(array);
  if (!node) return nullptr;
  if (node->classType() == zrX::ZRXArrayInteger::Type())
    return viewsAll(array, static_cast<zrX::ZRXArrayInteger*>(node)) ? node : nullptr;
  if (node->classType() == zrX::ZRXArrayReal::Type())
    return viewsAll(array, static_cast<zrX::ZRXArrayReal*>(node)) ? node : nullptr;
  return nullptr;
}

template <class T, class Node>
zr::ref<zrX::ZRXArray> copyInto(const py::array& array) {
  // forcecast converts the dtype, c_style makes it contiguous; both copy only when needed.
  auto converted = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(array);
  if (!converted) throw py::error_already_set();
  zr::ref<Node> node = new Node;
  const T* data = converted.data();
  node->value().assign(data, data + converted.size());
  return node;
}

zrX::ZRXValue arrayFromPython(const py::array& array, const zrX::ZRXValue* replaced) {
  if (zrX::ZRXArray* node = wholeViewNode(array)) return zrX::ZRXValue::makeArray(node);

  const char kind = array.dtype().kind();
  zr::ref<zrX::ZRXArray> node;
  if (kind == 'i' || kind == 'u') {
    if (kind == 'u' && array.dtype().itemsize() >= 8 && array.size() > 0) {
      py::object largest = array.attr("max")();
      if (largest.cast<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        throw py::value_error("an unsigned array holds values beyond the 64-bit signed range");
    }
    node = copyInto<int64_t, zrX::ZRXArrayInteger>(array);
  } else if (kind == 'f') {
    node = copyInto<double, zrX::ZRXArrayReal>(array);
  } else {
    throw py::type_error("a numpy array of dtype " + py::str(array.dtype()).cast<std::string>() +
                         " has no ZRX kind: use an integer or a floating dtype");
  }
  if (replaced && replaced->type() == (node->classType() == zrX::ZRXArrayInteger::Type()
                                           ? zrX::ZRXValue::ArrayInteger
                                           : zrX::ZRXValue::ArrayReal)) {
    const zrX::ZRXArray* old = replaced->type() == zrX::ZRXValue::ArrayInteger
                                   ? static_cast<const zrX::ZRXArray*>(replaced->getArrayInteger())
                                   : replaced->getArrayReal();
    if (old) node->setTag(old->tag());
  }
  return zrX::ZRXValue::makeArray(node.get());
}

zrX::ZRXValue fromPythonAt(py::handle object, const zrX::ZRXValue* replaced, int depth);

zrX::ZRXValue listFromPython(py::handle sequence, int depth) {
  if (depth >= zrX::kDefaultMaxDepth)
    throw py::value_error("Python lists nested deeper than " +
                          std::to_string(zrX::kDefaultMaxDepth) + " levels");
  py::sequence items = py::reinterpret_borrow<py::sequence>(sequence);
  std::vector<zrX::ZRXValue> values;
  values.reserve(static_cast<size_t>(py::len(items)));
  for (py::handle item : items) values.push_back(fromPythonAt(item, nullptr, depth + 1));
  zr::ref<zrX::ZRXList> list = new zrX::ZRXList(nullptr, 0);
  list->value() = std::move(values);
  return zrX::ZRXValue::makeList(list.get());
}

zrX::ZRXValue fromPythonAt(py::handle object, const zrX::ZRXValue* replaced, int depth) {
  PyObject* o = object.ptr();
  if (o == Py_None) return zrX::ZRXValue::makeStructure(nullptr);
  if (PyBool_Check(o)) return zrX::ZRXValue::makeBool(o == Py_True);
  if (PyLong_Check(o)) {
    const long long v = PyLong_AsLongLong(o);
    if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
    return zrX::ZRXValue::makeInteger(v);
  }
  if (PyFloat_Check(o)) return zrX::ZRXValue::makeReal(PyFloat_AS_DOUBLE(o));
  if (PyUnicode_Check(o) || PyBytes_Check(o))
    return zrX::ZRXValue::makeString(textFromPython(object, "a string"));
  if (py::isinstance<zrX::ZRXStructure>(object))
    return zrX::ZRXValue::makeStructure(&objectOf<zrX::ZRXStructure>(object));
  if (py::isinstance<zrX::ZRXList>(object))
    return zrX::ZRXValue::makeList(&objectOf<zrX::ZRXList>(object));
  if (py::isinstance<zrX::ZRXRawtextBlock>(object))
    return zrX::ZRXValue::makeRawtextBlock(&objectOf<zrX::ZRXRawtextBlock>(object));
  if (py::isinstance<Identifier>(object))
    return zrX::ZRXValue::makeIdentifier(objectOf<Identifier>(object).name);
  if (py::isinstance<Reference>(object))
    return zrX::ZRXValue::makeID(objectOf<Reference>(object).id);
  if (py::isinstance<py::array>(object))
    return arrayFromPython(py::reinterpret_borrow<py::array>(object), replaced);
  if (PyList_Check(o) || PyTuple_Check(o)) return listFromPython(object, depth);
  const NumpyTypes& numpy = numpyTypes();
  if (PyObject_IsInstance(o, numpy.boolType.ptr()) == 1)
    return zrX::ZRXValue::makeBool(PyObject_IsTrue(o) == 1);
  if (PyObject_IsInstance(o, numpy.floatingType.ptr()) == 1) {
    const double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return zrX::ZRXValue::makeReal(v);
  }
  if (PyIndex_Check(o)) {
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(o));
    if (!index) throw py::error_already_set();
    return fromPythonAt(index, replaced, depth);
  }
  throw py::type_error(std::string("a ") + Py_TYPE(o)->tp_name +
                       " cannot be stored in a ZRX document");
}

}  // namespace

py::str textToPython(const std::string& bytes) {
  PyObject* text =
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
  if (!text) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

std::string textFromPython(py::handle object, const char* what) {
  PyObject* o = object.ptr();
  if (PyUnicode_Check(o)) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size))
      return std::string(utf8, static_cast<size_t>(size));
    // Lone surrogates: the bytes that surrogateescape stands for.
    PyErr_Clear();
    py::object encoded =
        py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(o, "utf-8", "surrogateescape"));
    if (!encoded) throw py::error_already_set();
    return std::string(PyBytes_AS_STRING(encoded.ptr()),
                       static_cast<size_t>(PyBytes_GET_SIZE(encoded.ptr())));
  }
  if (PyBytes_Check(o))
    return std::string(PyBytes_AS_STRING(o), static_cast<size_t>(PyBytes_GET_SIZE(o)));
  throw py::type_error(std::string(what) + " must be str or bytes, not " + Py_TYPE(o)->tp_name);
}

std::string nameFromPython(py::handle object, zrX::NameKind kind) {
  const char* what = kind == zrX::NameKind::Key   ? "a key"
                     : kind == zrX::NameKind::Tag ? "a tag"
                     : kind == zrX::NameKind::ID  ? "an ID"
                                                  : "an identifier";
  std::string text = textFromPython(object, what);
  if (kind == zrX::NameKind::Tag && text.empty()) return text;
  if (!zrX::textHoldsName(kind, text))
    throw py::value_error(py::repr(object).cast<std::string>() + " is not a valid " +
                          zrX::nameKindText(kind) + ": " + zrX::nameRule(kind));
  return text;
}

py::object toPython(const zrX::ZRXValue& value) {
  switch (value.type()) {
    case zrX::ZRXValue::Bool:
      return py::bool_(value.getBool());
    case zrX::ZRXValue::Integer:
      return py::int_(value.getInteger());
    case zrX::ZRXValue::Real:
      return py::float_(value.getReal());
    case zrX::ZRXValue::String:
      return textToPython(value.getString());
    case zrX::ZRXValue::Identifier:
      return py::cast(Identifier{value.getIdentifier()});
    case zrX::ZRXValue::ID:
      return py::cast(Reference{value.getID()});
    case zrX::ZRXValue::Structure:
      return py::cast(value.getStructure(), py::return_value_policy::reference);
    case zrX::ZRXValue::List:
      return py::cast(value.getList(), py::return_value_policy::reference);
    case zrX::ZRXValue::RawtextBlock:
      return py::cast(value.getRawtextBlock(), py::return_value_policy::reference);
    case zrX::ZRXValue::ArrayInteger:
      if (zrX::ZRXArrayInteger* node = value.getArrayInteger()) return viewOf(node);
      break;
    case zrX::ZRXValue::ArrayReal:
      if (zrX::ZRXArrayReal* node = value.getArrayReal()) return viewOf(node);
      break;
  }
  throw py::type_error("a value of unknown kind " + std::to_string(value.type()));
}

zrX::ZRXValue fromPython(py::handle object, const zrX::ZRXValue* replaced) {
  return fromPythonAt(object, replaced, 0);
}

py::object arrayTag(py::handle array) {
  if (!py::isinstance<py::array>(array)) throw py::type_error("array_tag() takes a numpy array");
  waitForWrites();
  zrX::ZRXArray* node = baseNode(py::reinterpret_borrow<py::array>(array));
  if (!node) return py::none();
  return textToPython(node->tag());
}

py::object setArrayTag(py::handle array, py::handle tag, bool check) {
  if (!py::isinstance<py::array>(array))
    throw py::type_error("set_array_tag() takes a numpy array");
  const std::string text = tag.is_none() ? std::string()
                           : check       ? nameFromPython(tag, zrX::NameKind::Tag)
                                         : textFromPython(tag, "a tag");
  waitForWrites();
  const py::array a = py::reinterpret_borrow<py::array>(array);
  if (zrX::ZRXArray* node = wholeViewNode(a)) {
    node->setTag(text);
    return py::reinterpret_borrow<py::object>(array);
  }
  const zrX::ZRXValue value = arrayFromPython(a, nullptr);
  zrX::ZRXArray* node = value.type() == zrX::ZRXValue::ArrayInteger
                            ? static_cast<zrX::ZRXArray*>(value.getArrayInteger())
                            : value.getArrayReal();
  node->setTag(text);
  return toPython(value);
}

}  // namespace zrxpy
