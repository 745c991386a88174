// Declared classes: a host says what one of its classes holds -- its tag, how to make one, its
// fields, one short line each -- and registers the declaration; the library then exports and
// imports objects of the class through a ClassWrapper of its own, keeping every rule a safe
// importer must keep: each value's kind, range and length is checked, references are
// class-checked, "#NULL" stands only where a field allows it, owned children have one owner and
// never own themselves, back pointers are set by owners (a file's "parent" entry is only
// cross-checked), and every failure reports an ImportError or ExportError whose message names
// the tag, the entry, what was expected and what was found.
//
//   zr::ref<zrX::Registry> registry = new zrX::Registry;
//   registry->add(zrX::Declare<Entity>("<Entity>")
//                     .field("name", &Entity::name).required()
//                     .field("weights", &Entity::weights)        // std::vector<float>: real array
//                     .field("prefab", &Entity::prefab)          // zr::ref<Prefab>: shared, #NULL
//                     .text("script", &Entity::script)           // a raw text block
//                     .children("children", &Entity::children, &Entity::parent)
//                     .parent("parent", &Entity::parent));
//
// What a field may be (the member's type decides the value's kind): bool; every integer type
// (an imported value out of the type's range fails); float and double (reals); std::string; an
// enum with a table of identifier names; fixed arrays (T[N], std::array<T, N>) and std::vector of
// numbers (integer or real arrays; a load that owns its document takes a vector's storage instead
// of copying it when the element types match); zr::ref<T> (a structure, class-checked, "#NULL"
// for null); std::vector of any of these (a list); std::optional of any of these (no entry while
// empty); a plain struct with a Declare of its own (a nested structure without an ID). Private
// members go through a getter/setter pair or a callable that gives a reference to the member;
// anything else through .custom(key, toValue, fromValue).
//
// Evolution: a missing entry keeps what the object had when it was made, unless the field is
// .required(); .alias(old) accepts an old key; unknown entries are skipped unless the class is
// .strict(); .version(n) with .upgrade(from, fn) reshapes structures written by older versions
// before their fields are read. A document stores the versions of the classes it holds above
// version 1 once, in its metadata entry "Class_Versions" (a list of tagged one-value integer
// arrays, `<Entity> ( 3 )`), so objects of classes at version 1 cost nothing and every document
// stays plain format 101.
//
// Declaring is a host's programming: a key, tag, ID prefix or name that either format cannot
// hold, a key used twice, or a field without what it needs stops the process with a message
// saying why, when the declaration is made (as a failed check does).
//
// Ownership: a Declare holds its class's description through a shared pointer; the registry's
// wrapper and nested declarations share it, so a Declare may go once registered. Threads: a
// declaration is built by one thread; once registered it is only read, by any number of
// serializers in parallel. The state a declared class keeps while importing or exporting (key
// caches, pending back pointers) belongs to the serializer.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "zrCore/Memory.hpp"
#include "zrCore/Object.hpp"
#include "zrX/Export.hpp"
#include "zrX/Serializer.hpp"
#include "zrX/SharedText.hpp"
#include "zrX/TextIndex.hpp"
#include "zrX/Value.hpp"

namespace zrX {

class ClassData;
class DeclaredField;
class DeclaredSession;

// Where a field's reader or writer stands, and how it reports a failure. Made by the declared
// wrapper for one structure; readers and writers get it by reference.
class ZRX_API FieldContext {
 public:
  // One step of the place below the class: a key, an element's index, or both.
  struct Segment {
    const std::string* key;
    int64_t index;
  };

  FieldContext(ZRXSerializer& serializer, const ClassData& cls, const ZRXStructure* structure)
      : mSerializer(serializer), mClass(cls), mStructure(structure) {}
  FieldContext(const FieldContext&) = delete;
  FieldContext& operator=(const FieldContext&) = delete;

  ZRXSerializer& serializer() const { return mSerializer; }
  const ClassData& declaredClass() const { return mClass; }
  // The structure read (import) or being built (export).
  const ZRXStructure* structure() const { return mStructure; }
  // The object being imported (null while exporting).
  zr::Object* object() const { return mObject; }
  void setObject(zr::Object* object) { mObject = object; }
  // The field being read or written.
  const DeclaredField& field() const { return *mField; }
  void setField(const DeclaredField* field) { mField = field; }
  bool importsOwnDocument() const { return mSerializer.importsOwnDocument(); }
  // Whether a failure has been reported (the serializer's error is set).
  bool failed() const { return mSerializer.error() != ZRXSerializer::NoError; }

  // Import failures; each reports ImportError and returns false. The message starts with the
  // class's tag and the entry's place ("<Entity>: entry 'children[2]' ...").
  // "... is not EXPECTED (found FOUND)."
  bool wrongValue(const ZRXValue& found);
  // "... is not EXPECTED (found " + found + ")." for a found text made by the caller.
  bool wrongValue(const std::string& found);
  // "... " + what + "."
  bool refuse(const std::string& what);
  // Export failure: ExportError, "<Tag>: field 'key' of a 'class name' " + what + ".".
  bool refuseExport(const std::string& what);

  // Places below the field: an element of a list, an entry of a nested structure. Scopes nest.
  class Below {
   public:
    Below(FieldContext& cx, const std::string* key) : mContext(cx) { cx.pushSegment(key); }
    ~Below() { mContext.mPath->pop_back(); }
    Below(const Below&) = delete;
    Below& operator=(const Below&) = delete;
    void at(size_t index) { mContext.mPath->back().index = static_cast<int64_t>(index); }
    void key(const std::string* key) { mContext.mPath->back().key = key; }

   private:
    FieldContext& mContext;
  };

  // While alive, failures describe what `codec` expects instead of what the field does (the
  // elements of a list).
  template <class Codec>
  class Expecting {
   public:
    Expecting(FieldContext& cx, const Codec& codec)
        : mContext(cx), mFunction(cx.mExpectedFunction), mObject(cx.mExpectedObject) {
      cx.mExpectedFunction = [](const void* c, std::string& out) {
        static_cast<const Codec*>(c)->expected(out);
      };
      cx.mExpectedObject = &codec;
    }
    ~Expecting() {
      mContext.mExpectedFunction = mFunction;
      mContext.mExpectedObject = mObject;
    }
    Expecting(const Expecting&) = delete;
    Expecting& operator=(const Expecting&) = delete;

   private:
    FieldContext& mContext;
    void (*mFunction)(const void*, std::string&);
    const void* mObject;
  };

  // Nested conversions (plain structs inside plain structs) count against the serializer's
  // conversion limit like nested objects; false after reporting when the limit is reached.
  bool enterNested();
  void leaveNested();

  // "<Tag>: " + what + "." (or, below a field, "<Tag>: entry 'place' " + what + ".").
  bool refuseStructure(const std::string& what);
  // Where the reader or writer stands below the class: "children[2]/name".
  std::string place() const;

 private:
  // Out of line: a reader's frame stays small (it runs once per level of nested objects).
  void pushSegment(const std::string* key);

 public:
 private:
  friend class DeclaredEngine;

  ZRXSerializer& mSerializer;
  const ClassData& mClass;
  const ZRXStructure* mStructure;
  zr::Object* mObject = nullptr;
  const DeclaredField* mField = nullptr;
  // The place's steps, in storage the serializer's state keeps (no allocation per object): this
  // context's own start at mPathBase.
  std::vector<Segment>* mPath = nullptr;
  size_t mPathBase = 0;
  DeclaredSession* mSession = nullptr;
  ZRXSerializer::ValuePlace mWhere{};
  void (*mExpectedFunction)(const void*, std::string&) = nullptr;
  const void* mExpectedObject = nullptr;
};

// One field of a declaration: its key and options, and how its value is read and written.
class ZRX_API DeclaredField {
 public:
  virtual ~DeclaredField();

  // Sets `out` to the value of `object`'s member and `*present` to whether an entry is written
  // (an empty optional, a null back pointer write none). False after reporting an export error.
  virtual bool save(const void* object, ZRXValue& out, bool* present, FieldContext& cx) const = 0;
  // Reads `value` into `object`'s member. False after reporting an import error.
  virtual bool load(void* object, const ZRXValue& value, FieldContext& cx) const = 0;
  // What the field takes, for messages: "a string", "an integer from 0 to 255".
  virtual void expected(std::string& out) const = 0;
  // Back pointers read from the file are settled once the whole import is done (the owners are
  // known then): `named` is the structure the entry named (null for "#NULL"). False after
  // reporting. Only back-pointer fields have anything to do.
  virtual bool settle(void* object, const ZRXStructure* named, FieldContext& cx) const;
  // Whether the field is a back pointer, settled after the import.
  virtual bool isBackPointer() const { return false; }
  // Whether `object`'s member is an empty container or string (for .omitEmpty()).
  virtual bool isEmpty(const void* object) const;
  // Whether the field reaches its member through the pointer to member `*member` of type `type`.
  virtual bool holdsMember(const std::type_info& type, const void* member) const;
  // A back pointer's entry that names the structure of `importer`, the object importing this one
  // right now through its field: settled at once when that field is where the back pointer
  // points from (true), else left for the end of the import (false).
  virtual bool settleAtOnce(void* object, const FieldContext& importer) const;

  const std::string& key() const { return mKey; }
  const TextRef& keyText() const { return mKeyText; }
  const std::vector<std::string>& aliases() const { return mAliases; }
  bool required() const { return mRequired; }
  bool omitEmpty() const { return mOmitEmpty; }
  // The tag of the node the value is written as (lists, arrays, raw text, nested structures);
  // null for none.
  const char* tag() const { return mTag.empty() ? nullptr : mTag.c_str(); }

 private:
  friend class ClassData;
  std::string mKey;
  TextRef mKeyText;
  std::vector<std::string> mAliases;
  bool mRequired = false;
  bool mOmitEmpty = false;
  std::string mTag;
};

// The names of an enum's values, as identifiers: {{Blend::Opaque, "Opaque"}, ...}.
template <class E>
class EnumNames {
 public:
  EnumNames(std::initializer_list<std::pair<E, const char*>> names) {
    for (const auto& [value, name] : names)
      mNames.emplace_back(static_cast<int64_t>(value), std::string(name ? name : ""));
  }
  const std::vector<std::pair<int64_t, std::string>>& names() const { return mNames; }

 private:
  std::vector<std::pair<int64_t, std::string>> mNames;
};

// What a class's description holds. Built by Declare<T>, read by the library's declared wrapper.
class ZRX_API ClassData {
 public:
  using Upgrade = std::function<bool(ZRXStructure&)>;
  using Check = std::function<std::string(const void*)>;

  ClassData(const char* tag, const zr::TypeInfo* type, const char* className);
  ClassData(const ClassData&) = delete;
  ClassData& operator=(const ClassData&) = delete;

  const std::string& tag() const { return mTag; }
  const TextRef& tagText() const { return mTagText; }
  // The runtime type of an object class; null for a plain struct.
  const zr::TypeInfo* type() const { return mType; }
  const char* className() const { return mClassName.c_str(); }
  bool hasID() const { return mHasID; }
  const std::string& idPrefix() const { return mIDPrefix; }
  bool strict() const { return mStrict; }
  int version() const { return mVersion; }
  uint32_t serial() const { return mSerial; }
  const std::vector<std::unique_ptr<DeclaredField>>& fields() const { return mFields; }
  const std::vector<Upgrade>& upgrades() const { return mUpgrades; }
  const Check& check() const { return mCheck; }
  // The field an entry key names (aliases included), or -1.
  int fieldOf(std::string_view key) const;
  bool hasBackPointers() const { return mHasBackPointers; }

  // Declaration steps (Declare<T> calls them); each stops the process with a message when the
  // declaration cannot work.
  DeclaredField& addField(const char* key, std::unique_ptr<DeclaredField> field);
  void setID(const char* prefix);
  void setNoID() { mHasID = false; }
  void setStrict() { mStrict = true; }
  void setVersion(int version);
  void addUpgrade(int from, Upgrade upgrade);
  void setCheck(Check check) { mCheck = std::move(check); }
  void addAlias(const char* alias);
  void setRequired();
  void setOmitEmpty();
  void setFieldTag(const char* tag);
  // Stops the process: `what` is why the declaration of this class cannot work.
  [[noreturn]] void refuse(const std::string& what) const;
  static void checkEnumNames(const std::vector<std::pair<int64_t, std::string>>& names,
                             const ClassData* declaring);

  // How objects are made and cast, for object classes (set by Declare<T>).
  zr::Object* (*make)() = nullptr;
  void* (*fromObject)(zr::Object*) = nullptr;
  const void* (*fromConstObject)(const zr::Object*) = nullptr;
  std::function<zr::Object*()> factory;  // when the host gives one

 private:
  DeclaredField& lastField(const char* what);

  std::string mTag;
  TextRef mTagText;
  const zr::TypeInfo* mType;
  std::string mClassName;
  bool mHasID = true;
  std::string mIDPrefix;
  bool mStrict = false;
  int mVersion = 1;
  uint32_t mSerial;
  std::vector<std::unique_ptr<DeclaredField>> mFields;
  std::vector<Upgrade> mUpgrades;  // [v]: turns a structure of version v into one of v + 1
  Check mCheck;
  TextIndex mKeys;              // keys and aliases
  std::vector<int> mKeyFields;  // by the key's number in mKeys
  bool mHasBackPointers = false;
};

// The part of a Declare that the registry takes.
class ZRX_API DeclaredClassBase {
 public:
  const std::shared_ptr<ClassData>& data() const { return mData; }

 protected:
  explicit DeclaredClassBase(std::shared_ptr<ClassData> data) : mData(std::move(data)) {}
  std::shared_ptr<ClassData> mData;
};

// Reads and writes the entries of a nested plain struct (no identity): the library's engine.
ZRX_API bool saveNested(const ClassData& cls, const void* object, ZRXValue& out, FieldContext& cx);
ZRX_API bool loadNested(const ClassData& cls, void* object, const ZRXValue& value,
                        FieldContext& cx);

namespace declare_detail {

template <class>
inline constexpr bool kAlwaysFalse = false;

template <class T>
struct IsVector : std::false_type {};
template <class T, class A>
struct IsVector<std::vector<T, A>> : std::true_type {};
template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};
template <class T>
struct IsRef : std::false_type {};
template <class T>
struct IsRef<zr::ref<T>> : std::true_type {};
template <class T>
struct IsStdArray : std::false_type {};
template <class T, size_t N>
struct IsStdArray<std::array<T, N>> : std::true_type {};

// Whether a member's value is an empty container or string.
template <class V>
bool emptyValue(const V& v) {
  if constexpr (IsVector<V>::value || std::is_same_v<V, std::string>) {
    return v.empty();
  } else {
    (void)v;
    return false;
  }
}

template <class T>
inline constexpr bool kIsNumber = std::is_arithmetic_v<T> && !std::is_same_v<T, bool>;

// What a field's extra argument says: an enum's names, a nested struct's declaration.
struct Extra {
  const std::vector<std::pair<int64_t, std::string>>* enumNames = nullptr;
  // A nested struct's declaration: held by `nestedOwner`, except a struct's own declaration
  // inside itself (a vector or optional of the struct), which would hold itself.
  const ClassData* nested = nullptr;
  std::shared_ptr<const ClassData> nestedOwner;
};

// "an integer from -128 to 127" for narrower integer types.
template <class I>
void integerExpected(std::string& out) {
  if constexpr (std::is_same_v<I, int64_t> || std::is_same_v<I, long long>) {
    out += "an integer";
  } else {
    out += "an integer from " + std::to_string(std::numeric_limits<I>::min()) + " to " +
           std::to_string(std::numeric_limits<I>::max());
  }
}

// Whether a 64-bit integer fits I; unsigned 64-bit values above INT64_MAX have no place in the
// formats' signed 64-bit integers and are refused on export.
template <class I>
bool integerFits(int64_t v) {
  if constexpr (std::is_signed_v<I>) {
    return v >= static_cast<int64_t>(std::numeric_limits<I>::min()) &&
           v <= static_cast<int64_t>(std::numeric_limits<I>::max());
  } else {
    return v >= 0 &&
           static_cast<uint64_t>(v) <= static_cast<uint64_t>(std::numeric_limits<I>::max());
  }
}

ZRX_API bool exportUnsigned(uint64_t value, int64_t* out, FieldContext& cx);
ZRX_API bool floatFits(double value);

// --- Codecs: how one C++ value becomes one ZRXValue and back ---
//
// Each has: save(const V&, ZRXValue&, FieldContext&), load(V&, const ZRXValue&, FieldContext&),
// expected(std::string&), present(const V&).

template <class V, class = void>
struct Codec {
  static_assert(kAlwaysFalse<V>,
                "zrX::Declare: this member's type has no value kind. Use bool, an integer type, "
                "float or double, std::string, an enum with a table of names, T[N], std::array or "
                "std::vector of numbers, zr::ref<T>, std::vector or std::optional of these, a "
                "struct with a Declare of its own (pass it as the third argument), or "
                ".custom(key, toValue, fromValue)");
};

template <>
struct ZRX_API Codec<bool> {
  explicit Codec(const Extra&) {}
  bool present(const bool&) const { return true; }
  bool save(const bool& v, ZRXValue& out, FieldContext&) const {
    out.setBool(v);
    return true;
  }
  bool load(bool& v, const ZRXValue& value, FieldContext& cx) const {
    if (value.type() != ZRXValue::Bool) return cx.wrongValue(value);
    v = value.getBool();
    return true;
  }
  void expected(std::string& out) const { out += "true or false"; }
};

template <class I>
struct Codec<I, std::enable_if_t<std::is_integral_v<I> && !std::is_same_v<I, bool>>> {
  explicit Codec(const Extra&) {}
  bool present(const I&) const { return true; }
  bool save(const I& v, ZRXValue& out, FieldContext& cx) const {
    if constexpr (std::is_unsigned_v<I> && sizeof(I) >= sizeof(int64_t)) {
      int64_t stored = 0;
      if (!exportUnsigned(v, &stored, cx)) return false;
      out.setInteger(stored);
    } else {
      out.setInteger(static_cast<int64_t>(v));
    }
    return true;
  }
  bool load(I& v, const ZRXValue& value, FieldContext& cx) const {
    if (value.type() != ZRXValue::Integer || !integerFits<I>(value.getInteger()))
      return cx.wrongValue(value);
    v = static_cast<I>(value.getInteger());
    return true;
  }
  void expected(std::string& out) const { integerExpected<I>(out); }
};

template <class F>
struct Codec<F, std::enable_if_t<std::is_floating_point_v<F>>> {
  explicit Codec(const Extra&) {}
  bool present(const F&) const { return true; }
  bool save(const F& v, ZRXValue& out, FieldContext&) const {
    out.setReal(static_cast<double>(v));
    return true;
  }
  bool load(F& v, const ZRXValue& value, FieldContext& cx) const {
    if (value.type() != ZRXValue::Real) return cx.wrongValue(value);
    if constexpr (std::is_same_v<F, float>) {
      if (!floatFits(value.getReal())) return cx.wrongValue(value);
    }
    v = static_cast<F>(value.getReal());
    return true;
  }
  void expected(std::string& out) const {
    out += std::is_same_v<F, float> ? "a real within the range of a float" : "a real";
  }
};

template <>
struct ZRX_API Codec<std::string> {
  explicit Codec(const Extra&) {}
  bool present(const std::string&) const { return true; }
  bool save(const std::string& v, ZRXValue& out, FieldContext&) const {
    out.setString(v);
    return true;
  }
  bool load(std::string& v, const ZRXValue& value, FieldContext& cx) const {
    const std::string* text = value.asString();
    if (!text) return cx.wrongValue(value);
    v = *text;
    return true;
  }
  void expected(std::string& out) const { out += "a string"; }
};

// Enums: an identifier from the table of names.
ZRX_API bool saveEnum(int64_t value, const std::vector<std::pair<int64_t, std::string>>& names,
                      ZRXValue& out, FieldContext& cx);
ZRX_API bool loadEnum(int64_t* value, const std::vector<std::pair<int64_t, std::string>>& names,
                      const ZRXValue& in, FieldContext& cx);
ZRX_API void enumExpected(const std::vector<std::pair<int64_t, std::string>>& names,
                          std::string& out);

template <class E>
struct Codec<E, std::enable_if_t<std::is_enum_v<E>>> {
  explicit Codec(const Extra& extra) : names(extra.enumNames ? *extra.enumNames : kNone) {}
  bool present(const E&) const { return true; }
  bool save(const E& v, ZRXValue& out, FieldContext& cx) const {
    return saveEnum(static_cast<int64_t>(v), names, out, cx);
  }
  bool load(E& v, const ZRXValue& value, FieldContext& cx) const {
    int64_t raw = 0;
    if (!loadEnum(&raw, names, value, cx)) return false;
    v = static_cast<E>(raw);
    return true;
  }
  void expected(std::string& out) const { enumExpected(names, out); }

  inline static const std::vector<std::pair<int64_t, std::string>> kNone;
  std::vector<std::pair<int64_t, std::string>> names;
};

// Numbers in an array node: int64 and double straight, other types converted one by one with a
// range check on import.
template <class N>
using ArrayNodeOf = std::conditional_t<std::is_floating_point_v<N>, ZRXArrayReal, ZRXArrayInteger>;
template <class N>
using ArrayElementOf = std::conditional_t<std::is_floating_point_v<N>, double, int64_t>;

ZRX_API bool wrongElement(FieldContext& cx, size_t index, const std::string& found);

// Writes `count` numbers as an array value tagged with the field's tag.
template <class N>
bool saveNumbers(const N* data, size_t count, ZRXValue& out, FieldContext& cx) {
  using Node = ArrayNodeOf<N>;
  using Element = ArrayElementOf<N>;
  zr::ref<Node> node = new Node(cx.field().tag());
  std::vector<Element>& values = node->value();
  zr::reserveLarge(values, count);
  if constexpr (std::is_same_v<N, Element>) {
    values.assign(data, data + count);
  } else if constexpr (std::is_unsigned_v<N> && sizeof(N) >= sizeof(int64_t)) {
    values.resize(count);
    for (size_t i = 0; i < count; ++i)
      if (!exportUnsigned(data[i], &values[i], cx)) return false;
  } else {
    values.resize(count);
    for (size_t i = 0; i < count; ++i) values[i] = static_cast<Element>(data[i]);
  }
  out.setArray(node.get());
  return true;
}

// The elements of an array value holding numbers of N's kind, or null (an empty integer array
// stands for an empty real array, as the text format writes it).
template <class N>
const std::vector<ArrayElementOf<N>>* numbersOf(const ZRXValue& value, bool* emptyInteger) {
  *emptyInteger = false;
  if constexpr (std::is_floating_point_v<N>) {
    if (ZRXArrayReal* reals = value.asArrayReal()) return &reals->value();
    if (ZRXArrayInteger* integers = value.asArrayInteger()) {
      if (integers->value().empty()) {
        *emptyInteger = true;
        return nullptr;
      }
    }
    return nullptr;
  } else {
    if (ZRXArrayInteger* integers = value.asArrayInteger()) return &integers->value();
    return nullptr;
  }
}

// Converts array elements into `out` (already sized), checking each against N's range.
template <class N>
bool convertNumbers(const std::vector<ArrayElementOf<N>>& in, N* out, FieldContext& cx) {
  for (size_t i = 0; i < in.size(); ++i) {
    const ArrayElementOf<N> v = in[i];
    if constexpr (std::is_floating_point_v<N>) {
      if constexpr (std::is_same_v<N, float>) {
        if (!floatFits(v)) {
          ZRXValue found;
          found.setReal(v);
          return wrongElement(cx, i, valueForMessage(found));
        }
      }
    } else {
      if (!integerFits<N>(v)) return wrongElement(cx, i, "the integer " + std::to_string(v));
    }
    out[i] = static_cast<N>(v);
  }
  return true;
}

template <class N>
void arrayExpected(std::string& out) {
  if constexpr (std::is_floating_point_v<N>) {
    out += "a real array";
  } else {
    out += "an integer array";
  }
  if constexpr (std::is_same_v<N, float>) out += " of values within the range of a float";
  if constexpr (std::is_integral_v<N> && sizeof(N) < sizeof(int64_t))
    out += " of values from " + std::to_string(std::numeric_limits<N>::min()) + " to " +
           std::to_string(std::numeric_limits<N>::max());
}

// Fixed arrays: exactly N numbers.
template <class N, size_t Count>
struct FixedNumbers {
  static_assert(kIsNumber<N>, "zrX::Declare: a fixed array field holds numbers (not bool)");
  explicit FixedNumbers(const Extra&) {}
  bool saveData(const N* data, ZRXValue& out, FieldContext& cx) const {
    return saveNumbers(data, Count, out, cx);
  }
  bool loadData(N* data, const ZRXValue& value, FieldContext& cx) const {
    bool emptyInteger = false;
    const auto* numbers = numbersOf<N>(value, &emptyInteger);
    if (emptyInteger && Count == 0) return true;
    if (!numbers || numbers->size() != Count) return cx.wrongValue(value);
    N converted[Count == 0 ? 1 : Count];
    if (!convertNumbers<N>(*numbers, converted, cx)) return false;
    for (size_t i = 0; i < Count; ++i) data[i] = converted[i];
    return true;
  }
  void expected(std::string& out) const {
    arrayExpected<N>(out);
    out += " of " + std::to_string(Count) + (Count == 1 ? " value" : " values");
  }
};

template <class N, size_t Count>
struct Codec<N[Count]> : FixedNumbers<N, Count> {
  using FixedNumbers<N, Count>::FixedNumbers;
  bool present(const N (&)[Count]) const { return true; }
  bool save(const N (&v)[Count], ZRXValue& out, FieldContext& cx) const {
    return this->saveData(v, out, cx);
  }
  bool load(N (&v)[Count], const ZRXValue& value, FieldContext& cx) const {
    return this->loadData(v, value, cx);
  }
};

template <class N, size_t Count>
struct Codec<std::array<N, Count>> : FixedNumbers<N, Count> {
  using FixedNumbers<N, Count>::FixedNumbers;
  bool present(const std::array<N, Count>&) const { return true; }
  bool save(const std::array<N, Count>& v, ZRXValue& out, FieldContext& cx) const {
    return this->saveData(v.data(), out, cx);
  }
  bool load(std::array<N, Count>& v, const ZRXValue& value, FieldContext& cx) const {
    return this->loadData(v.data(), value, cx);
  }
};

// std::vector of numbers: an array of any length.
template <class N, class A>
struct Codec<std::vector<N, A>, std::enable_if_t<kIsNumber<N>>> {
  explicit Codec(const Extra&) {}
  bool present(const std::vector<N, A>&) const { return true; }
  bool save(const std::vector<N, A>& v, ZRXValue& out, FieldContext& cx) const {
    return saveNumbers(v.data(), v.size(), out, cx);
  }
  bool load(std::vector<N, A>& v, const ZRXValue& value, FieldContext& cx) const {
    bool emptyInteger = false;
    const auto* numbers = numbersOf<N>(value, &emptyInteger);
    if (emptyInteger) {
      v.clear();
      return true;
    }
    if (!numbers) return cx.wrongValue(value);
    if constexpr (std::is_same_v<std::vector<N, A>, std::vector<ArrayElementOf<N>>>) {
      // A load drops the document it read: its storage is taken, never copied.
      if (cx.importsOwnDocument()) {
        auto& storage = const_cast<std::vector<ArrayElementOf<N>>&>(*numbers);
        v.swap(storage);
        storage.clear();
      } else {
        v = *numbers;
      }
      return true;
    } else {
      std::vector<N, A> converted(numbers->size());
      if (!convertNumbers<N>(*numbers, converted.data(), cx)) return false;
      v.swap(converted);
      return true;
    }
  }
  void expected(std::string& out) const { arrayExpected<N>(out); }
};

// zr::ref<T>: a structure naming an object of T's class (or one derived from it), imported as a
// shared reference: null for "#NULL", unless the field is required.
ZRX_API bool saveObject(const zr::Object* object, ZRXValue& out, FieldContext& cx);
// The object a shared reference names, or null: for an allowed "#NULL" (cx.failed() false) or
// after reporting.
ZRX_API zr::Object* loadObject(const ZRXValue& value, const zr::TypeInfo& type, FieldContext& cx);

template <class T>
struct Codec<zr::ref<T>> {
  static_assert(std::is_base_of_v<zr::Object, T>,
                "zrX::Declare: zr::ref<T> fields refer to classes derived from zr::Object");
  explicit Codec(const Extra&) {}
  bool present(const zr::ref<T>&) const { return true; }
  bool save(const zr::ref<T>& v, ZRXValue& out, FieldContext& cx) const {
    return saveObject(v.get(), out, cx);
  }
  bool load(zr::ref<T>& v, const ZRXValue& value, FieldContext& cx) const {
    zr::Object* object = loadObject(value, T::Type(), cx);
    if (cx.failed()) return false;
    v = static_cast<T*>(object);
    return true;
  }
  void expected(std::string& out) const { out += "a structure"; }
};

// std::optional<V>: no entry while empty.
template <class V>
struct Codec<std::optional<V>> {
  explicit Codec(const Extra& extra) : inner(extra) {}
  bool present(const std::optional<V>& v) const { return v.has_value(); }
  bool save(const std::optional<V>& v, ZRXValue& out, FieldContext& cx) const {
    return inner.save(*v, out, cx);
  }
  bool load(std::optional<V>& v, const ZRXValue& value, FieldContext& cx) const {
    V loaded{};
    if (!inner.load(loaded, value, cx)) return false;
    v = std::move(loaded);
    return true;
  }
  void expected(std::string& out) const { inner.expected(out); }
  Codec<V> inner;
};

// A list: one value per element.
ZRX_API ZRXList* makeList(ZRXValue& out, size_t count, FieldContext& cx);

template <class V, class A>
struct Codec<std::vector<V, A>, std::enable_if_t<!kIsNumber<V>>> {
  static_assert(!std::is_same_v<V, bool>,
                "zrX::Declare: std::vector<bool> has no value kind; use std::vector<uint8_t>");
  explicit Codec(const Extra& extra) : element(extra) {}
  bool present(const std::vector<V, A>&) const { return true; }
  bool save(const std::vector<V, A>& v, ZRXValue& out, FieldContext& cx) const {
    ZRXList* list = makeList(out, v.size(), cx);
    FieldContext::Below below(cx, nullptr);
    FieldContext::Expecting<Codec<V>> expecting(cx, element);
    for (size_t i = 0; i < v.size(); ++i) {
      below.at(i);
      list->value().emplace_back();
      if (!element.save(v[i], list->value().back(), cx)) return false;
    }
    return true;
  }
  bool load(std::vector<V, A>& v, const ZRXValue& value, FieldContext& cx) const {
    const ZRXList* list = value.asList();
    if (!list) return cx.wrongValue(value);
    std::vector<V, A> loaded(list->value().size());
    FieldContext::Below below(cx, nullptr);
    FieldContext::Expecting<Codec<V>> expecting(cx, element);
    for (size_t i = 0; i < loaded.size(); ++i) {
      below.at(i);
      if (!element.load(loaded[i], list->value()[i], cx)) return false;
    }
    v.swap(loaded);
    return true;
  }
  void expected(std::string& out) const { out += "a list"; }
  Codec<V> element;
};

// A plain struct with a declaration of its own: a nested structure without an ID.
template <class S>
struct NestedCodec {
  explicit NestedCodec(const Extra& extra) : cls(extra.nested), owner(extra.nestedOwner) {}
  bool present(const S&) const { return true; }
  bool save(const S& v, ZRXValue& out, FieldContext& cx) const {
    return saveNested(*cls, &v, out, cx);
  }
  bool load(S& v, const ZRXValue& value, FieldContext& cx) const {
    return loadNested(*cls, &v, value, cx);
  }
  void expected(std::string& out) const { out += "a structure"; }
  const ClassData* cls;
  std::shared_ptr<const ClassData> owner;
};

template <class S>
struct Codec<S, std::enable_if_t<std::is_class_v<S> && !IsVector<S>::value &&
                                 !IsOptional<S>::value && !IsRef<S>::value &&
                                 !IsStdArray<S>::value && !std::is_same_v<S, std::string>>>
    : NestedCodec<S> {
  static_assert(!std::is_base_of_v<zr::Object, S>,
                "zrX::Declare: a zr::Object is held through zr::ref<T>, not by value");
  using NestedCodec<S>::NestedCodec;
};

// The element type of a vector, optional or fixed array (else the type itself).
template <class V>
struct Inner {
  using type = V;
};
template <class V, class A>
struct Inner<std::vector<V, A>> : Inner<V> {};
template <class V>
struct Inner<std::optional<V>> : Inner<V> {};
template <class V, size_t N>
struct Inner<V[N]> : Inner<V> {};

// What a field of type V needs as its extra argument: enum names or a nested declaration.
template <class V>
struct Needs {
  static constexpr bool kEnum = std::is_enum_v<V>;
  static constexpr bool kNested = std::is_class_v<V> && !IsRef<V>::value && !IsStdArray<V>::value &&
                                  !std::is_same_v<V, std::string> && !IsVector<V>::value &&
                                  !IsOptional<V>::value;
};
template <class V, class A>
struct Needs<std::vector<V, A>> : Needs<V> {};
template <class V>
struct Needs<std::optional<V>> : Needs<V> {};
template <class V, size_t N>
struct Needs<V[N]> : Needs<V> {};

// --- Fields ---

// A member reached through a pointer to member.
template <class T, class V>
class MemberField : public DeclaredField {
 public:
  MemberField(V T::*member, const Extra& extra) : mMember(member), mCodec(extra) {}
  bool save(const void* object, ZRXValue& out, bool* present, FieldContext& cx) const override {
    const V& v = static_cast<const T*>(object)->*mMember;
    *present = mCodec.present(v);
    return !*present || mCodec.save(v, out, cx);
  }
  bool load(void* object, const ZRXValue& value, FieldContext& cx) const override {
    return mCodec.load(static_cast<T*>(object)->*mMember, value, cx);
  }
  void expected(std::string& out) const override { mCodec.expected(out); }
  bool isEmpty(const void* object) const override {
    return emptyValue(static_cast<const T*>(object)->*mMember);
  }
  bool holdsMember(const std::type_info& type, const void* member) const override {
    return type == typeid(V T::*) && *static_cast<V T::*const*>(member) == mMember;
  }

 private:
  V T::*mMember;
  Codec<V> mCodec;
};

// A member reached through a getter and a setter.
template <class T, class V, class Get, class Set>
class AccessorField : public DeclaredField {
 public:
  AccessorField(Get get, Set set, const Extra& extra) : mGet(get), mSet(set), mCodec(extra) {}
  bool save(const void* object, ZRXValue& out, bool* present, FieldContext& cx) const override {
    const V v = std::invoke(mGet, *static_cast<const T*>(object));
    *present = mCodec.present(v);
    return !*present || mCodec.save(v, out, cx);
  }
  bool load(void* object, const ZRXValue& value, FieldContext& cx) const override {
    V v = std::invoke(mGet, *static_cast<const T*>(object));  // starts from the current value
    if (!mCodec.load(v, value, cx)) return false;
    std::invoke(mSet, *static_cast<T*>(object), std::move(v));
    return true;
  }
  void expected(std::string& out) const override { mCodec.expected(out); }

 private:
  Get mGet;
  Set mSet;
  Codec<V> mCodec;
};

// A member reached through a callable that gives a reference to it (for const and non-const
// objects alike, such as a generic lambda `[](auto& o) -> auto& { return o.items(); }`).
template <class T, class V, class Access>
class ReferenceField : public DeclaredField {
 public:
  ReferenceField(Access access, const Extra& extra) : mAccess(access), mCodec(extra) {}
  bool save(const void* object, ZRXValue& out, bool* present, FieldContext& cx) const override {
    const V& v = std::invoke(mAccess, *static_cast<const T*>(object));
    *present = mCodec.present(v);
    return !*present || mCodec.save(v, out, cx);
  }
  bool load(void* object, const ZRXValue& value, FieldContext& cx) const override {
    return mCodec.load(std::invoke(mAccess, *static_cast<T*>(object)), value, cx);
  }
  void expected(std::string& out) const override { mCodec.expected(out); }
  bool isEmpty(const void* object) const override {
    return emptyValue(std::invoke(mAccess, *static_cast<const T*>(object)));
  }

 private:
  Access mAccess;
  Codec<V> mCodec;
};

// A std::string written as a raw text block.
class ZRX_API TextField : public DeclaredField {
 public:
  using Get = std::function<const std::string&(const void*)>;
  using Put = std::function<std::string&(void*)>;
  TextField(Get get, Put put) : mGet(std::move(get)), mPut(std::move(put)) {}
  bool save(const void* object, ZRXValue& out, bool* present, FieldContext& cx) const override;
  bool load(void* object, const ZRXValue& value, FieldContext& cx) const override;
  void expected(std::string& out) const override { out += "a raw text block"; }
  bool isEmpty(const void* object) const override { return mGet(object).empty(); }

 private:
  Get mGet;
  Put mPut;
};

// Anything else: two functions of the host's.
template <class T>
class CustomField : public DeclaredField {
 public:
  using To = std::function<ZRXValue(const T&)>;
  using From = std::function<bool(T&, const ZRXValue&)>;
  CustomField(To to, From from, std::string expected)
      : mTo(std::move(to)), mFrom(std::move(from)), mExpected(std::move(expected)) {}
  bool save(const void* object, ZRXValue& out, bool* present, FieldContext&) const override {
    out = mTo(*static_cast<const T*>(object));
    *present = true;
    return true;
  }
  bool load(void* object, const ZRXValue& value, FieldContext& cx) const override {
    return mFrom(*static_cast<T*>(object), value) || cx.wrongValue(value);
  }
  void expected(std::string& out) const override { out += mExpected; }

 private:
  To mTo;
  From mFrom;
  std::string mExpected;
};

// Owned children: each one owned by this object alone; `back`, when given, is the child's back
// pointer, which adoption sets to this object. The library walks the list (the recursion runs
// through it, with small frames) and hands each child to `adopt`.
using Adopt = void (*)(const void* field, void* owner, zr::Object* child);
ZRX_API bool loadChildren(const ZRXValue& value, const zr::TypeInfo& type, void* owner,
                          const void* field, Adopt adopt, FieldContext& cx);

template <class T, class C, class B>
class ChildrenField : public DeclaredField {
 public:
  using Back = B* C::*;
  ChildrenField(std::vector<zr::ref<C>> T::*list, Back back) : mList(list), mBack(back) {}
  bool save(const void* object, ZRXValue& out, bool* present, FieldContext& cx) const override {
    const std::vector<zr::ref<C>>& children = static_cast<const T*>(object)->*mList;
    *present = true;
    ZRXList* list = makeList(out, children.size(), cx);
    FieldContext::Below below(cx, nullptr);
    for (size_t i = 0; i < children.size(); ++i) {
      below.at(i);
      list->value().emplace_back();
      if (!children[i]) return cx.refuseExport("holds a null child; children are never null");
      if (!saveObject(children[i].get(), list->value().back(), cx)) return false;
    }
    return true;
  }
  bool load(void* object, const ZRXValue& value, FieldContext& cx) const override {
    (static_cast<T*>(object)->*mList).clear();
    return loadChildren(value, C::Type(), object, this, adopt, cx);
  }
  void expected(std::string& out) const override { out += "a list of structures"; }
  bool isEmpty(const void* object) const override {
    return (static_cast<const T*>(object)->*mList).empty();
  }
  bool holdsMember(const std::type_info& type, const void* member) const override {
    if (type == typeid(std::vector<zr::ref<C>> T::*))
      return *static_cast<std::vector<zr::ref<C>> T::*const*>(member) == mList;
    return mBack && type == typeid(Back) && *static_cast<const Back*>(member) == mBack;
  }

 private:
  static void adopt(const void* field, void* owner, zr::Object* child) {
    const auto* self = static_cast<const ChildrenField*>(field);
    T* typedOwner = static_cast<T*>(owner);
    C* typedChild = static_cast<C*>(child);
    if (self->mBack) typedChild->*(self->mBack) = typedOwner;
    (typedOwner->*(self->mList)).emplace_back(typedChild);
  }

  std::vector<zr::ref<C>> T::*mList;
  Back mBack;
};

// A back pointer: written as a reference to the object it points at (no entry while null) and,
// on import, settled once every owner is known. `Listed` is null when owners set it (children):
// the entry is then only cross-checked. Otherwise it names the member through which an object
// of class P lists this one among shared references, and the back pointer is set to the object
// the entry names, which must list this one there.
ZRX_API bool saveBackPointer(const zr::Object* target, ZRXValue& out, bool* present,
                             FieldContext& cx);
ZRX_API bool checkBackPointer(const zr::Object* current, const ZRXStructure* named,
                              FieldContext& cx);
ZRX_API bool findListing(const ZRXStructure* named, const zr::TypeInfo& type, zr::Object** out,
                         FieldContext& cx);
ZRX_API bool refuseUnlisted(FieldContext& cx);

template <class C, class P, class L = std::vector<zr::ref<C>>>
class ParentField : public DeclaredField {
 public:
  using Back = P* C::*;
  // `listed` null: owners set the back pointer (children); otherwise the member of P through
  // which P lists this one among shared references.
  ParentField(Back back, L P::*listed) : mBack(back), mListed(listed) {}
  bool save(const void* object, ZRXValue& out, bool* present, FieldContext& cx) const override {
    return saveBackPointer(static_cast<const C*>(object)->*mBack, out, present, cx);
  }
  bool load(void*, const ZRXValue& value, FieldContext& cx) const override {
    // Only the kind here; the structure it names is settled after the import.
    return value.type() == ZRXValue::Structure || cx.wrongValue(value);
  }
  bool settleAtOnce(void* object, const FieldContext& importer) const override {
    if (!mListed) return importer.field().holdsMember(typeid(Back), &mBack);  // the owner sets it
    if (!importer.field().holdsMember(typeid(L P::*), &mListed)) return false;
    static_cast<C*>(object)->*mBack = static_cast<P*>(importer.object());
    return true;
  }
  bool settle(void* object, const ZRXStructure* named, FieldContext& cx) const override {
    C* child = static_cast<C*>(object);
    if (!mListed) return checkBackPointer(child->*mBack, named, cx);
    if (!named) {
      child->*mBack = nullptr;
      return true;
    }
    zr::Object* parent = nullptr;
    if (!findListing(named, P::Type(), &parent, cx)) return false;
    P* typed = static_cast<P*>(parent);
    for (const auto& element : typed->*mListed) {
      if (element.get() == child) {
        child->*mBack = typed;
        return true;
      }
    }
    return refuseUnlisted(cx);
  }
  bool isBackPointer() const override { return true; }
  void expected(std::string& out) const override { out += "a structure"; }

 private:
  Back mBack;
  L P::*mListed;
};

}  // namespace declare_detail

// The declaration of class T: an object class (derived from zr::Object, with ZR_DECLARE_TYPE)
// registered with Registry::add, or a plain struct used as the type of other declarations'
// fields. Each call adds to it and returns it, so a declaration reads as one expression. The
// options .required(), .alias(), .tag() apply to the field declared last.
template <class T>
class Declare : public DeclaredClassBase {
  static constexpr bool kObject = std::is_base_of_v<zr::Object, T>;

 public:
  // `tag` is the structure tag, angle brackets included ("<Entity>"); a plain struct may have
  // none (null or ""). An object class gets structure IDs made from a prefix (its tag's letters
  // and digits, lower case, unless .id() says otherwise), so its objects can be shared.
  explicit Declare(const char* tag)
      : DeclaredClassBase(std::make_shared<ClassData>(tag, typeOf(), nameOf())) {
    if constexpr (kObject) {
      mData->fromObject = [](zr::Object* o) -> void* { return static_cast<T*>(o); };
      mData->fromConstObject = [](const zr::Object* o) -> const void* {
        return static_cast<const T*>(o);
      };
      if constexpr (std::is_default_constructible_v<T>)
        mData->make = []() -> zr::Object* { return new T; };
    } else {
      static_assert(std::is_default_constructible_v<T>,
                    "zrX::Declare: a plain struct needs a default constructor");
      mData->setNoID();
    }
  }

  // A member: its type decides the value's kind (see the top of this header).
  template <class V, std::enable_if_t<!std::is_function_v<V>, int> = 0>
  Declare& field(const char* key, V T::*member) {
    static_assert(!declare_detail::Needs<V>::kEnum,
                  "zrX::Declare: an enum field needs its names: .field(key, &T::member, "
                  "{{E::A, \"A\"}, {E::B, \"B\"}})");
    static_assert(!declare_detail::Needs<V>::kNested,
                  "zrX::Declare: a struct field needs its declaration: .field(key, &T::member, "
                  "zrX::Declare<S>(...)...)");
    return add(key, std::make_unique<declare_detail::MemberField<T, V>>(member, Extra()));
  }
  // An enum member (or a vector or optional of one), with the identifiers of its values.
  template <class V, class E = typename declare_detail::Inner<V>::type,
            std::enable_if_t<std::is_enum_v<E>, int> = 0>
  Declare& field(const char* key, V T::*member, const EnumNames<E>& names) {
    ClassData::checkEnumNames(names.names(), mData.get());
    Extra extra;
    extra.enumNames = &names.names();
    return add(key, std::make_unique<declare_detail::MemberField<T, V>>(member, extra));
  }
  // A plain struct member (or a vector or optional of one), declared on its own.
  template <class V, class S, std::enable_if_t<!std::is_function_v<V>, int> = 0>
  Declare& field(const char* key, V T::*member, const Declare<S>& nested) {
    Extra extra;
    extra.nested = nested.data().get();
    if (nested.data() != mData) extra.nestedOwner = nested.data();
    return add(key, std::make_unique<declare_detail::MemberField<T, V>>(member, extra));
  }
  // A private member through a getter and a setter (member functions or callables taking the
  // object): `get` returns the value (or a const reference), `set` takes it.
  template <class Get, class Set,
            std::enable_if_t<!std::is_member_object_pointer_v<Get> &&
                                 std::is_invocable_v<
                                     Set&, T&, std::decay_t<std::invoke_result_t<Get&, const T&>>>,
                             int> = 0>
  Declare& field(const char* key, Get get, Set set) {
    using V = std::decay_t<std::invoke_result_t<Get&, const T&>>;
    static_assert(!declare_detail::Needs<V>::kEnum && !declare_detail::Needs<V>::kNested,
                  "zrX::Declare: getter/setter fields of enums or structs are not supported; "
                  "use .custom(key, toValue, fromValue)");
    return add(key,
               std::make_unique<declare_detail::AccessorField<T, V, Get, Set>>(get, set, Extra()));
  }
  // A member through a callable giving a reference to it, for const and non-const objects:
  // .field("resources", [](auto& db) -> auto& { return db.resources(); }).
  template <class Access,
            std::enable_if_t<!std::is_member_object_pointer_v<Access> &&
                                 std::is_lvalue_reference_v<std::invoke_result_t<Access&, T&>>,
                             int> = 0>
  Declare& field(const char* key, Access access) {
    using V = std::decay_t<std::invoke_result_t<Access&, T&>>;
    static_assert(
        std::is_same_v<std::decay_t<std::invoke_result_t<Access&, const T&>>, V>,
        "zrX::Declare: the accessor must also take a const object: [](auto& o) -> auto& {...}");
    return add(key,
               std::make_unique<declare_detail::ReferenceField<T, V, Access>>(access, Extra()));
  }
  // A std::string member written as a raw text block (multi-line text, shader sources).
  Declare& text(const char* key, std::string T::*member) {
    return add(key, std::make_unique<declare_detail::TextField>(
                        [member](const void* o) -> const std::string& {
                          return static_cast<const T*>(o)->*member;
                        },
                        [member](void* o) -> std::string& { return static_cast<T*>(o)->*member; }));
  }
  // Anything else: `to(const T&)` gives the value to write, `from(T&, const ZRXValue&)` reads
  // one and answers false for a value it cannot take (the import then fails, saying that the
  // entry is not `expected`).
  template <class To, class From>
  Declare& custom(const char* key, To to, From from, const char* expected = "a value it takes") {
    return add(key, std::make_unique<declare_detail::CustomField<T>>(std::move(to), std::move(from),
                                                                     expected));
  }

  // Children this object owns alone, held in `list`: a child listed by two owners, or below
  // itself, fails the import. `back`, when given, is the children's back pointer (a member of the
  // child's class pointing at this class or a base of it), which adoption sets; declare it on the
  // child's class with .parent(key, back) to write it and have a file's entry cross-checked.
  template <class C, class B = T>
  Declare& children(const char* key, std::vector<zr::ref<C>> T::*list, B* C::*back = nullptr) {
    static_assert(kObject && std::is_base_of_v<zr::Object, C>,
                  "zrX::Declare: children are objects, owned by an object");
    static_assert(std::is_convertible_v<T*, B*>,
                  "zrX::Declare: the back pointer must point at the owner's class or a base");
    return add(key, std::make_unique<declare_detail::ChildrenField<T, C, B>>(list, back));
  }
  // The back pointer `back` that an owner's .children(...) sets: written as a reference to the
  // owner (no entry while null); a file's entry must name the structure of the object that owns
  // this one (or "#NULL" for none), or the import fails.
  template <class P>
  Declare& parent(const char* key, P* T::*back) {
    static_assert(kObject && std::is_base_of_v<zr::Object, P>,
                  "zrX::Declare: back pointers point at objects");
    return add(key, std::make_unique<declare_detail::ParentField<T, P>>(back, nullptr));
  }
  // A back pointer to one of the objects (of class P) that list this one among the shared
  // references in `listed`: set from the file's entry, which must name such an object.
  template <class P, class L>
  Declare& parent(const char* key, P* T::*back, L P::*listed) {
    static_assert(kObject && std::is_base_of_v<zr::Object, P>,
                  "zrX::Declare: back pointers point at objects");
    static_assert(std::is_same_v<L, std::vector<zr::ref<T>>>,
                  "zrX::Declare: `listed` is a std::vector<zr::ref<T>> member of the parent");
    return add(key, std::make_unique<declare_detail::ParentField<T, P, L>>(back, listed));
  }

  // --- Options of the field declared last ---
  // A missing entry fails the import; a null reference fails too (and cannot be exported).
  Declare& required() {
    mData->setRequired();
    return *this;
  }
  // An old key that still reads into this field.
  Declare& alias(const char* oldKey) {
    mData->addAlias(oldKey);
    return *this;
  }
  // No entry while the member is empty (a container or string); a missing entry then reads
  // back as the default, so keep the default empty. Saves room in files of many small objects.
  Declare& omitEmpty() {
    mData->setOmitEmpty();
    return *this;
  }
  // The tag of the node the value is written as: a list, an array, a raw text block, a nested
  // structure.
  Declare& tag(const char* tag) {
    mData->setFieldTag(tag);
    return *this;
  }

  // --- Options of the class ---
  // Structure IDs "#<prefix>id<N>" for objects of the class.
  Declare& id(const char* prefix) {
    static_assert(kObject, "zrX::Declare: only object classes have IDs");
    mData->setID(prefix);
    return *this;
  }
  // No structure IDs: objects of the class are never shared (a save that reaches one twice is
  // refused). Saves a little on classes with many small objects.
  Declare& noID() {
    mData->setNoID();
    return *this;
  }
  // How an object is made for an import (by default `new T`).
  template <class Make>
  Declare& make(Make make) {
    static_assert(kObject, "zrX::Declare: plain structs are made by their default constructor");
    mData->factory = [make]() -> zr::Object* { return make(); };
    return *this;
  }
  // An entry that no field reads fails the import (by default it is skipped).
  Declare& strict() {
    mData->setStrict();
    return *this;
  }
  // The class's version (1 by default). Documents record it, and structures written by an
  // older version go through the upgrades from their version up before their fields are read.
  // A document written by a newer version of the class fails the import.
  Declare& version(int version) {
    mData->setVersion(version);
    return *this;
  }
  // Turns a structure written by version `from` into one of version `from + 1`: rename, add,
  // remove or reshape entries. `upgrade` takes a ZRXStructure& (a copy; the document is not
  // changed) and returns nothing, or false when it cannot (the import then fails).
  template <class Upgrade>
  Declare& upgrade(int from, Upgrade upgrade) {
    if constexpr (std::is_same_v<std::invoke_result_t<Upgrade&, ZRXStructure&>, bool>) {
      mData->addUpgrade(from, std::move(upgrade));
    } else {
      mData->addUpgrade(from, [upgrade](ZRXStructure& st) {
        upgrade(st);
        return true;
      });
    }
    return *this;
  }
  // A check of the whole object once its fields are read: `check(const T&)` returns "" when the
  // object is fine, or what is wrong ("entry 'indices' names a vertex the mesh does not have"),
  // which fails the import as "<Tag>: " + that + ".".
  template <class Check>
  Declare& check(Check check) {
    mData->setCheck(
        [check](const void* o) { return std::string(check(*static_cast<const T*>(o))); });
    return *this;
  }

 private:
  using Extra = declare_detail::Extra;

  static const zr::TypeInfo* typeOf() {
    if constexpr (kObject) {
      return &T::Type();
    } else {
      return nullptr;
    }
  }
  static const char* nameOf() {
    if constexpr (kObject) {
      return T::Name();
    } else {
      return "plain struct";
    }
  }
  Declare& add(const char* key, std::unique_ptr<DeclaredField> field) {
    mData->addField(key, std::move(field));
    return *this;
  }
};

}  // namespace zrX
