// Runtime type records. Every class of zrCore, zrX and of the hosts' serializable classes carries
// a name text and one TypeInfo built from it (a MurmurHash3 of the name). Records compare and
// order by their hash alone, so two classes with the same name text have equal records.
//
// Records are built once, on the first call of a class's Type(), safely against concurrent first
// calls (function-local statics); they live until the process ends.
#pragma once

#include <cstdint>

#include "zrCore/Export.hpp"

namespace zr {

// The published MurmurHash3, x86 32-bit variant: hashes `len` bytes at `key` with `seed` and
// stores the 32-bit result at `out`.
ZRCORE_API void MurmurHash3_x86_32(const void* key, int len, uint32_t seed, void* out);

class ZRCORE_API TypeInfo {
 public:
  // `name` must outlive the record (it points at the class's static text).
  explicit TypeInfo(const char* name);

  uint32_t hash() const { return mHash; }
  const char* name() const { return mName; }

  bool operator==(const TypeInfo& other) const { return mHash == other.mHash; }
  bool operator!=(const TypeInfo& other) const { return mHash != other.mHash; }
  bool operator<(const TypeInfo& other) const { return mHash < other.mHash; }

 private:
  uint32_t mHash;
  const char* mName;
};

}  // namespace zr

// ZR_DECLARE_TYPE() goes into the body of a class derived (directly or not) from zr::Object and
// declares its runtime type members; ZR_DEFINE_TYPE(Class, Base, "name text") goes into one source
// file. Name() and className() return the name text, Type() and classType() the one record,
// isOfType(t) answers true for the class's own record and, through Base, for every class above.
#define ZR_DECLARE_TYPE()                           \
 public:                                            \
  static const char* Name();                        \
  static const ::zr::TypeInfo& Type();              \
  const char* className() const override;           \
  const ::zr::TypeInfo& classType() const override; \
  bool isOfType(const ::zr::TypeInfo& type) const override;

#define ZR_DEFINE_TYPE(Class, Base, NameText)                       \
  const char* Class::Name() { return NameText; }                    \
  const ::zr::TypeInfo& Class::Type() {                             \
    static const ::zr::TypeInfo class_type(Name());                 \
    return class_type;                                              \
  }                                                                 \
  const char* Class::className() const { return Name(); }           \
  const ::zr::TypeInfo& Class::classType() const { return Type(); } \
  bool Class::isOfType(const ::zr::TypeInfo& type) const {          \
    return type == Type() || Base::isOfType(type);                  \
  }

// Same for a class template: ZR_DEFINE_TYPE_TEMPLATE(template <class T>, Class<T>, Base, "name")
// in the header or before explicit instantiations.
#define ZR_DEFINE_TYPE_TEMPLATE(TemplateHead, Class, Base, NameText)             \
  TemplateHead const char* Class::Name() { return NameText; }                    \
  TemplateHead const ::zr::TypeInfo& Class::Type() {                             \
    static const ::zr::TypeInfo class_type(Name());                              \
    return class_type;                                                           \
  }                                                                              \
  TemplateHead const char* Class::className() const { return Name(); }           \
  TemplateHead const ::zr::TypeInfo& Class::classType() const { return Type(); } \
  TemplateHead bool Class::isOfType(const ::zr::TypeInfo& type) const {          \
    return type == Type() || Base::isOfType(type);                               \
  }
