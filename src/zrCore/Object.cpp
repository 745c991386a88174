#include "zrCore/Object.hpp"

namespace zr {

Object::~Object() = default;

const char* Object::Name() { return "zr::Object"; }

const TypeInfo& Object::Type() {
  static const TypeInfo class_type(Name());
  return class_type;
}

const char* Object::className() const { return Name(); }
const TypeInfo& Object::classType() const { return Type(); }
bool Object::isOfType(const TypeInfo& type) const { return type == Type(); }

}  // namespace zr
