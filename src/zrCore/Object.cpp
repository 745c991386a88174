#include "zrCore/Object.hpp"

#include <vector>

namespace zr {

namespace {

// The queue of the destruction running on this thread, null when none runs. A plain pointer, so
// it stays usable while static objects are destroyed at exit.
thread_local std::vector<const Object*>* tPendingDestructions = nullptr;

}  // namespace

void Object::destroy() const {
  if (tPendingDestructions) {
    tPendingDestructions->push_back(this);
    return;
  }
  std::vector<const Object*> pending;
  tPendingDestructions = &pending;
  delete this;
  while (!pending.empty()) {
    const Object* next = pending.back();
    pending.pop_back();
    delete next;
  }
  tPendingDestructions = nullptr;
}

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
