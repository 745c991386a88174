// Objects: the safe way from a Python object of the module to the C++ object behind it.
//
// An object made with Cls.__new__(Cls) alone has never been initialised, and pybind11 would hand
// its methods uninitialised memory for it. So every method of every class of the module is bound
// through method(), which reaches the object through objectOf(): that refuses an object of
// another class, or one never initialised, with TypeError. Conversions reach objects the same way.
// Reaching a node (a Structure, List or RawText) first waits for the writes in progress
// (WriteGate.hpp).
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "WriteGate.hpp"
#include "zrX/Value.hpp"

namespace zrxpy {

namespace py = pybind11;

// The C++ object of a Python object of the class bound for T (the module's classes are final, so
// it is that class exactly); TypeError otherwise.
template <class T>
T& objectOf(py::handle object) {
  if constexpr (std::is_base_of_v<zrX::ZRXTaggedValue, T>) waitForWrites();
  // Looked up once found: the classes are bound when the module is imported, and stay.
  static const py::detail::type_info* found = nullptr;
  if (!found) found = py::detail::get_type_info(typeid(T));
  const py::detail::type_info* type = found;
  if (!type || Py_TYPE(object.ptr()) != type->type)
    throw py::type_error(std::string("expected a ") +
                         (type ? type->type->tp_name : typeid(T).name()) + ", not " +
                         Py_TYPE(object.ptr())->tp_name);
  auto* instance = reinterpret_cast<py::detail::instance*>(object.ptr());
  py::detail::value_and_holder held = instance->get_value_and_holder(type, false);
  if (!held || !held.holder_constructed())
    throw py::type_error(std::string("this ") + type->type->tp_name + " was never initialised");
  return *held.template value_ptr<T>();
}

// A method from a function whose first parameter is the object: the object is reached through
// objectOf. Pass lambdas with a leading +: method(+[](ZRXStructure& st) { ... }).
template <class T, class R, class... Args>
auto method(R (*function)(T&, Args...)) {
  using Object = std::remove_const_t<T>;
  return [function](py::handle self, Args... args) -> R {
    return function(objectOf<Object>(self), std::forward<Args>(args)...);
  };
}

}  // namespace zrxpy
