// The reference-counted object base of zrCore and zrX, and the strong handle ref<T>.
//
// An Object starts with no references; the first holder (a ref, a ZRXValue, a map) takes one and
// the last release destroys it. The count is atomic, so objects shared between threads (a
// registry used by serializers running in parallel) may be referenced and released from several
// threads at once; everything else about an object is the owner's to synchronise.
//
// Destruction never recurses: objects whose last reference goes while another object is being
// destroyed on the same thread are queued and destroyed, one after the other, before the
// outermost release returns. So dropping the head of a chain of a million objects (structures
// linked through references) needs no more stack than dropping one object.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <utility>

#include "zrCore/Check.hpp"
#include "zrCore/Export.hpp"
#include "zrCore/TypeInfo.hpp"

namespace zr {

class ZRCORE_API Object {
 public:
  Object() = default;
  // A copy is a new object: it starts without references. Assignment leaves the count alone.
  Object(const Object&) : mReferenceCount(0) {}
  Object& operator=(const Object&) { return *this; }
  virtual ~Object();

  static const char* Name();
  static const TypeInfo& Type();
  virtual const char* className() const;
  virtual const TypeInfo& classType() const;
  // True for Object's own record; every class's override ends its chain here.
  virtual bool isOfType(const TypeInfo& type) const;

  void incReference() const { mReferenceCount.fetch_add(1, std::memory_order_relaxed); }
  // Drops one reference; the last one destroys the object (and, before returning, every object
  // whose last reference its destruction dropped).
  void decReference() const {
    if (mReferenceCount.fetch_sub(1, std::memory_order_acq_rel) == 1) destroy();
  }
  int referenceCount() const { return mReferenceCount.load(std::memory_order_relaxed); }

  // For a collector of reference cycles only (zrX's breakCycles): it has the objects it touches to
  // itself (one thread, nothing released meanwhile), reads and sets the count without destroying
  // anything, and may borrow its top bits as marks while it runs, restoring the count before it
  // returns.
  int collectorCount() const { return mReferenceCount.load(std::memory_order_relaxed); }
  void setCollectorCount(int count) const {
    mReferenceCount.store(count, std::memory_order_relaxed);
  }

 private:
  void destroy() const;

  mutable std::atomic<int> mReferenceCount{0};
};

// A strong reference: holds one reference on its object while it points at it. Comparison and
// ordering are by identity (the object's address). Dereferencing a null handle fails the check
// "mObject".
template <class T>
class ref {
 public:
  ref() = default;
  ref(std::nullptr_t) {}
  ref(T* object) : mObject(object) {
    if (mObject) mObject->incReference();
  }
  ref(const ref& other) : ref(other.mObject) {}
  ref(ref&& other) noexcept : mObject(other.mObject) { other.mObject = nullptr; }
  template <class U>
  ref(const ref<U>& other) : ref(other.get()) {}
  // Takes over the reference of a handle to a derived class; the count is not touched.
  template <class U>
  ref(ref<U>&& other) noexcept : mObject(other.detach()) {}
  ~ref() {
    if (mObject) mObject->decReference();
  }

  ref& operator=(const ref& other) { return *this = other.mObject; }
  ref& operator=(ref&& other) noexcept {
    if (this != &other) {
      T* old = mObject;
      mObject = other.mObject;
      other.mObject = nullptr;
      if (old) old->decReference();
    }
    return *this;
  }
  // The new target's count rises before the old one's drops, so assigning an object to the
  // handle that already holds it is safe.
  ref& operator=(T* object) {
    if (object) object->incReference();
    T* old = mObject;
    mObject = object;
    if (old) old->decReference();
    return *this;
  }

  T* get() const { return mObject; }
  T* get_writable() const { return mObject; }
  T* operator->() const {
    ZR_CHECK(mObject);
    return mObject;
  }
  T& operator*() const {
    ZR_CHECK(mObject);
    return *mObject;
  }
  explicit operator bool() const { return mObject != nullptr; }

  void release() { *this = nullptr; }
  // Empties the handle without dropping its reference, which the caller takes over.
  T* detach() {
    T* object = mObject;
    mObject = nullptr;
    return object;
  }

  friend bool operator==(const ref& a, const ref& b) { return a.mObject == b.mObject; }
  friend bool operator!=(const ref& a, const ref& b) { return a.mObject != b.mObject; }
  friend bool operator<(const ref& a, const ref& b) {
    return std::less<T*>()(a.mObject, b.mObject);
  }

 private:
  T* mObject = nullptr;
};

}  // namespace zr
