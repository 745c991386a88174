// The ZRX document model: ZRXValue, the tagged union held by every structure entry, list element
// and metadata entry, and the tagged nodes (structures, lists, raw text blocks, integer and real
// arrays).
//
// Ownership: a value of a text kind (String, Identifier, ID) owns its own copy of the text; a
// value of a node kind holds one reference on a shared, reference-counted node, so copying a
// value shares the node and a tree is freed when the last reference to its root goes. Nodes own
// their tags, entries and element vectors.
//
// Nothing here is thread-safe beyond the atomic reference counts: a tree belongs to one thread at
// a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "zrCore/Object.hpp"
#include "zrX/Export.hpp"
#include "zrX/NodeVector.hpp"
#include "zrX/RuntimeType.hpp"
#include "zrX/SharedText.hpp"

namespace zrX {

class Visitor;
class ZRXTaggedValue;
class ZRXStructure;
class ZRXList;
class ZRXRawtextBlock;
class ZRXArray;
class ZRXArrayInteger;
class ZRXArrayReal;

class ZRX_API ZRXValue {
 public:
  enum EType : int32_t {
    Bool = 0,
    Integer = 1,
    Real = 2,
    String = 3,
    Identifier = 4,
    ID = 5,
    RawtextBlock = 6,
    List = 7,
    Structure = 8,
    ArrayInteger = 9,
    ArrayReal = 10,
  };

  // Integer 0, line 0.
  ZRXValue() { mUnion.mInteger = 0; }
  ZRXValue(const ZRXValue& other);
  // Takes the payload over; `other` becomes Integer 0.
  ZRXValue(ZRXValue&& other) noexcept;
  // A text kind (String, Identifier or ID) holding a copy of `text`; any other kind traps.
  ZRXValue(const char* text, EType type);
  ZRXValue(int64_t value) { mUnion.mInteger = value; }
  // A double or a bool would silently become an Integer through the constructor above; use
  // setReal / setBool instead.
  template <class T,
            std::enable_if_t<std::is_floating_point_v<T> || std::is_same_v<T, bool>, int> = 0>
  ZRXValue(T) = delete;
  ~ZRXValue() { release(); }

  // The target becomes a copy of `other`: nodes shared, texts copied, the line number taken over.
  ZRXValue& operator=(const ZRXValue& other);
  ZRXValue& operator=(ZRXValue&& other) noexcept;

  EType type() const { return mType; }
  int lineNumber() const { return mLineNumber; }
  void setLineNumber(int line) { mLineNumber = line; }

  // Setters release the old payload after taking the new one, so setting a value from its own
  // payload is safe. They leave the line number alone. Node setters hold one reference on the
  // node; only setStructure accepts null (a Structure value without a node).
  ZRXStructure* setStructure(ZRXStructure* structure);
  ZRXList* setList(ZRXList* list);
  ZRXRawtextBlock* setRawtextBlock(ZRXRawtextBlock* fblock);
  // Dispatches on the node's exact class to setArrayInteger or setArrayReal.
  ZRXArray* setArray(ZRXArray* arr);
  ZRXArrayInteger* setArrayInteger(ZRXArrayInteger* arr);
  ZRXArrayReal* setArrayReal(ZRXArrayReal* arr);
  const std::string& setString(const char* text);
  const std::string& setIdentifier(const char* text);
  const std::string& setID(const char* text);
  const std::string& setString(const std::string& text);
  const std::string& setIdentifier(const std::string& text);
  const std::string& setID(const std::string& text);
  const std::string& setString(std::string_view text);
  const std::string& setIdentifier(std::string_view text);
  const std::string& setID(std::string_view text);
  int64_t setInteger(int64_t value);
  double setReal(double value);
  bool setBool(bool value);

  // Getters require the value to be of their kind; another kind fails the check
  // "mType == <Kind>".
  ZRXStructure* getStructure() const;
  ZRXList* getList() const;
  ZRXRawtextBlock* getRawtextBlock() const;
  ZRXArrayInteger* getArrayInteger() const;
  ZRXArrayReal* getArrayReal() const;
  const std::string& getString() const;
  const std::string& getIdentifier() const;
  const std::string& getID() const;
  int64_t getInteger() const;
  double getReal() const;
  bool getBool() const;

  // Getters that answer "not this kind" instead of failing a check, for reading values whose
  // kind is not known yet (a file from anywhere): null, or an empty optional, for a value of
  // another kind. asStructure() is also null for a Structure value that names no structure (a
  // linked "#NULL"); type() tells the two apart.
  ZRXStructure* asStructure() const { return mType == Structure ? mUnion.mStructure : nullptr; }
  ZRXList* asList() const { return mType == List ? mUnion.mList : nullptr; }
  ZRXRawtextBlock* asRawtextBlock() const {
    return mType == RawtextBlock ? mUnion.mRawtextBlock : nullptr;
  }
  ZRXArrayInteger* asArrayInteger() const {
    return mType == ArrayInteger ? getArrayInteger() : nullptr;
  }
  ZRXArrayReal* asArrayReal() const { return mType == ArrayReal ? getArrayReal() : nullptr; }
  const std::string* asString() const { return mType == String ? mUnion.mString : nullptr; }
  const std::string* asIdentifier() const { return mType == Identifier ? mUnion.mString : nullptr; }
  const std::string* asID() const { return mType == ID ? mUnion.mString : nullptr; }
  std::optional<int64_t> asInteger() const {
    return mType == Integer ? std::optional<int64_t>(mUnion.mInteger) : std::nullopt;
  }
  std::optional<double> asReal() const {
    return mType == Real ? std::optional<double>(mUnion.mReal) : std::nullopt;
  }
  std::optional<bool> asBool() const {
    return mType == Bool ? std::optional<bool>(mUnion.mBool) : std::nullopt;
  }

  // Values made in one call, for building structures: *s << "name" << ZRXValue::makeString(n).
  static ZRXValue makeBool(bool value) {
    ZRXValue v;
    v.setBool(value);
    return v;
  }
  static ZRXValue makeInteger(int64_t value) { return ZRXValue(value); }
  static ZRXValue makeReal(double value) {
    ZRXValue v;
    v.setReal(value);
    return v;
  }
  static ZRXValue makeString(const std::string& text) {
    ZRXValue v;
    v.setString(text);
    return v;
  }
  static ZRXValue makeIdentifier(const std::string& text) {
    ZRXValue v;
    v.setIdentifier(text);
    return v;
  }
  static ZRXValue makeID(const std::string& text) {
    ZRXValue v;
    v.setID(text);
    return v;
  }
  // The node setters' preconditions hold: only makeStructure takes null.
  static ZRXValue makeStructure(ZRXStructure* structure) {
    ZRXValue v;
    v.setStructure(structure);
    return v;
  }
  static ZRXValue makeList(ZRXList* list) {
    ZRXValue v;
    v.setList(list);
    return v;
  }
  static ZRXValue makeRawtextBlock(ZRXRawtextBlock* block) {
    ZRXValue v;
    v.setRawtextBlock(block);
    return v;
  }
  static ZRXValue makeArray(ZRXArray* array) {
    ZRXValue v;
    v.setArray(array);
    return v;
  }

  static bool isTextType(EType type) { return type == String || type == Identifier || type == ID; }
  static bool isNodeType(EType type) { return type >= RawtextBlock; }

 private:
  friend class CycleCollector;  // drops the node of a value whose node it frees itself

  const std::string& setText(EType type, std::string* text);
  void setNode(EType type, zr::Object* node);
  zr::Object* node() const;
  // Drops the payload (frees an owned text, releases a node) and leaves Integer 0; the line
  // number stays.
  void release();

  union {
    bool mBool;
    int64_t mInteger;
    double mReal;
    std::string* mString;
    ZRXRawtextBlock* mRawtextBlock;
    ZRXList* mList;
    ZRXStructure* mStructure;
    ZRXArray* mArray;
  } mUnion;
  EType mType = Integer;
  int32_t mLineNumber = 0;
};

// Base of every node: a tag (angle brackets included, empty for none) and the ZRT line it began
// on (0 when not read from text). Tags, like IDs and keys, are shared texts (SharedText.hpp): a
// node spends one pointer on each, and nodes with the same tag share one copy of it.
class ZRX_API ZRXTaggedValue : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  explicit ZRXTaggedValue(const char* tag = nullptr) {
    if (tag) mTag = TextRef::adopt(SharedText::fromConstant(tag));
  }

  const std::string& tag() const { return mTag.text(kEmptyText); }
  // REQUIRES: `tag` is not null.
  void setTag(const char* tag);
  void setTag(const std::string& tag) { mTag = TextRef::adopt(SharedText::make(tag)); }
  // Shares `tag` (the readers' way, with one text per distinct tag of a document).
  void setTag(TextRef tag) { mTag = std::move(tag); }
  const TextRef& tagText() const { return mTag; }
  int lineNumber() const { return mLineNumber; }
  void setLineNumber(int line) { mLineNumber = line; }

  // Makes exactly one call on `visitor`, passing this node; never recurses by itself.
  virtual void acceptVisitor(Visitor* visitor) = 0;

 private:
  // First, so that it takes the room the Object part leaves after its count.
  int32_t mLineNumber = 0;
  TextRef mTag;
};

// A structure: an ID ("#NULL" for none) and ordered key/value entries (keys need not be unique).
class ZRX_API ZRXStructure : public ZRXTaggedValue {
  ZR_DECLARE_TYPE()
 public:
  class ZRX_API KeyValue {
   public:
    KeyValue() = default;
    // `key` must not be null.
    KeyValue(const char* key, const ZRXValue& value) : mValue(value) { setKey(key); }

    const std::string& key() const { return mKey.text(kEmptyText); }
    void setKey(const char* key) {
      ZR_CHECK(key);
      mKey = TextRef::adopt(SharedText::fromConstant(key));
    }
    void setKey(const std::string& key) { mKey = TextRef::adopt(SharedText::make(key)); }
    void setKey(TextRef key) { mKey = std::move(key); }
    const TextRef& keyText() const { return mKey; }
    ZRXValue& value() { return mValue; }
    const ZRXValue& value() const { return mValue; }
    void setValue(const ZRXValue& value) { mValue = value; }
    void setValue(ZRXValue&& value) { mValue = std::move(value); }

   private:
    TextRef mKey;
    ZRXValue mValue;
  };

  // Both reserve room for 8 entries, so that building a small structure entry by entry does not
  // reallocate (a larger one grows by doubling).
  ZRXStructure();
  explicit ZRXStructure(const char* tag);
  // Reserves room for exactly `capacity` entries; `tag` may be null. The readers use it with 0:
  // a file of many small structures then costs memory in proportion to its size.
  ZRXStructure(const char* tag, size_t capacity);

  const std::string& uid() const { return mID.text(kNullID); }
  // Whether the structure carries an ID of its own: one that is neither "#NULL" nor empty.
  bool hasID() const {
    if (mID.isDefault()) return false;
    const std::string& id = mID.text(kNullID);
    return !id.empty() && !(id.size() == kNullID.size() && id == kNullID);
  }
  // REQUIRES: `id` is not null.
  void setID(const char* id);
  void setID(const std::string& id);
  void setID(std::string_view id);
  void setID(TextRef id) { mID = std::move(id); }

  // The entries in order (a NodeVector: a vector whose iterators are pointers).
  using Entries = NodeVector<KeyValue>;
  Entries& value() { return mKeyValue; }
  const Entries& value() const { return mKeyValue; }

  // Appends an entry `key` = Integer 0; chain with a value: s << "count" << ZRXValue(3).
  ZRXStructure& operator<<(const char* key);
  // Sets the value of the last entry; the structure must have one. A temporary value is moved in.
  ZRXStructure& operator<<(const ZRXValue& value);
  ZRXStructure& operator<<(ZRXValue&& value);

  void acceptVisitor(Visitor* visitor) override;

 private:
  TextRef mID;  // the default stands for "#NULL"
  Entries mKeyValue;
};

class ZRX_API ZRXList : public ZRXTaggedValue {
  ZR_DECLARE_TYPE()
 public:
  // Reserves room for 8 elements.
  explicit ZRXList(const char* tag = nullptr);
  // Reserves room for exactly `capacity` elements; `tag` may be null.
  ZRXList(const char* tag, size_t capacity);

  // The elements in order (a NodeVector: a vector whose iterators are pointers).
  using Elements = NodeVector<ZRXValue>;
  Elements& value() { return mValue; }
  const Elements& value() const { return mValue; }

  void acceptVisitor(Visitor* visitor) override;

 private:
  Elements mValue;
};

// A block of verbatim text.
class ZRX_API ZRXRawtextBlock : public ZRXTaggedValue {
  ZR_DECLARE_TYPE()
 public:
  explicit ZRXRawtextBlock(const char* tag = nullptr, const char* text = nullptr);

  std::string& value() { return mValue; }
  const std::string& value() const { return mValue; }
  void setValue(const char* text) { mValue = text ? text : ""; }
  void setValue(const std::string& text) { mValue = text; }

  void acceptVisitor(Visitor* visitor) override;

 private:
  std::string mValue;
};

class ZRX_API ZRXArray : public ZRXTaggedValue {
  ZR_DECLARE_TYPE()
 public:
  explicit ZRXArray(const char* tag = nullptr) : ZRXTaggedValue(tag) {}
};

// Both instantiations share the name text "zrX::ArrayTemplate<T>", hence one type record.
template <class T>
class ZRX_API ZRXArrayTemplate : public ZRXArray {
  ZR_DECLARE_TYPE()
 public:
  explicit ZRXArrayTemplate(const char* tag = nullptr) : ZRXArray(tag) {}

  std::vector<T>& value() { return mValue; }
  const std::vector<T>& value() const { return mValue; }

 private:
  std::vector<T> mValue;
};

extern template class ZRXArrayTemplate<int64_t>;
extern template class ZRXArrayTemplate<double>;

class ZRX_API ZRXArrayInteger : public ZRXArrayTemplate<int64_t> {
  ZR_DECLARE_TYPE()
 public:
  explicit ZRXArrayInteger(const char* tag = nullptr) : ZRXArrayTemplate<int64_t>(tag) {}
  void acceptVisitor(Visitor* visitor) override;
};

class ZRX_API ZRXArrayReal : public ZRXArrayTemplate<double> {
  ZR_DECLARE_TYPE()
 public:
  explicit ZRXArrayReal(const char* tag = nullptr) : ZRXArrayTemplate<double>(tag) {}
  void acceptVisitor(Visitor* visitor) override;
};

// What a value is, for messages that say what a file holds where something else was expected:
// "true", "the integer 5", "the real 1.5", "the string 'abc'", "the identifier Shiny", "the
// reference '#x'" (an ID value), "a raw text block", "a list of 3 values", "a <Mesh> structure",
// "#NULL" (a Structure value naming no structure), "an integer array of 2 values". Texts from the
// value are escaped and cut short, as every message that quotes a file does.
ZRX_API std::string valueForMessage(const ZRXValue& value);

}  // namespace zrX
