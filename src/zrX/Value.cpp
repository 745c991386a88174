#include "zrX/Value.hpp"

#include <charconv>
#include <cstring>

#include "zrCore/Check.hpp"
#include "zrCore/String.hpp"
#include "zrX/Visitor.hpp"

namespace zrX {

// ZRXValue ---------------------------------------------------------------------------------------

ZRXValue::ZRXValue(const ZRXValue& other) {
  mUnion.mInteger = 0;
  *this = other;
}

ZRXValue::ZRXValue(ZRXValue&& other) noexcept
    : mUnion(other.mUnion), mType(other.mType), mLineNumber(other.mLineNumber) {
  other.mType = Integer;
  other.mUnion.mInteger = 0;
}

ZRXValue::ZRXValue(const char* text, EType type) {
  if (!isTextType(type)) zr::trap();
  ZR_CHECK(text);
  mUnion.mString = new std::string(text);
  mType = type;
}

ZRXValue& ZRXValue::operator=(const ZRXValue& other) {
  if (this == &other) return *this;
  // Take the new payload before dropping the old one: `other` may live inside a node that only
  // this value keeps alive.
  auto payload = other.mUnion;
  const EType type = other.mType;
  if (isTextType(type)) {
    ZR_CHECK(other.mUnion.mString);
    payload.mString = new std::string(*other.mUnion.mString);
  } else if (zr::Object* held = other.node()) {
    held->incReference();
  }
  mLineNumber = other.mLineNumber;
  release();
  mUnion = payload;
  mType = type;
  return *this;
}

ZRXValue& ZRXValue::operator=(ZRXValue&& other) noexcept {
  if (this == &other) return *this;
  auto payload = other.mUnion;
  const EType type = other.mType;
  other.mType = Integer;
  other.mUnion.mInteger = 0;
  mLineNumber = other.mLineNumber;
  release();
  mUnion = payload;
  mType = type;
  return *this;
}

zr::Object* ZRXValue::node() const {
  switch (mType) {
    case RawtextBlock:
      return mUnion.mRawtextBlock;
    case List:
      return mUnion.mList;
    case Structure:
      return mUnion.mStructure;
    case ArrayInteger:
    case ArrayReal:
      return mUnion.mArray;
    default:
      return nullptr;
  }
}

void ZRXValue::release() {
  if (isTextType(mType)) {
    ZR_CHECK(mUnion.mString);
    delete mUnion.mString;
  } else if (zr::Object* held = node()) {
    held->decReference();
  }
  mType = Integer;
  mUnion.mInteger = 0;
}

void ZRXValue::setNode(EType type, zr::Object* held) {
  if (held) held->incReference();
  release();
  mType = type;
}

ZRXStructure* ZRXValue::setStructure(ZRXStructure* structure) {
  setNode(Structure, structure);
  mUnion.mStructure = structure;
  return structure;
}

ZRXList* ZRXValue::setList(ZRXList* list) {
  ZR_CHECK(list);
  setNode(List, list);
  mUnion.mList = list;
  return list;
}

ZRXRawtextBlock* ZRXValue::setRawtextBlock(ZRXRawtextBlock* fblock) {
  ZR_CHECK(fblock);
  setNode(RawtextBlock, fblock);
  mUnion.mRawtextBlock = fblock;
  return fblock;
}

ZRXArray* ZRXValue::setArray(ZRXArray* arr) {
  ZR_CHECK(arr);
  if (arr->classType() == ZRXArrayInteger::Type())
    return setArrayInteger(static_cast<ZRXArrayInteger*>(arr));
  if (arr->classType() == ZRXArrayReal::Type())
    return setArrayReal(static_cast<ZRXArrayReal*>(arr));
  zr::trap();
}

ZRXArrayInteger* ZRXValue::setArrayInteger(ZRXArrayInteger* arr) {
  ZR_CHECK(arr);
  setNode(ArrayInteger, arr);
  mUnion.mArray = arr;
  return arr;
}

ZRXArrayReal* ZRXValue::setArrayReal(ZRXArrayReal* arr) {
  ZR_CHECK(arr);
  setNode(ArrayReal, arr);
  mUnion.mArray = arr;
  return arr;
}

const std::string& ZRXValue::setText(EType type, std::string* text) {
  release();
  mType = type;
  mUnion.mString = text;
  return *text;
}

const std::string& ZRXValue::setString(const char* text) {
  ZR_CHECK(text);
  return setText(String, new std::string(text));
}
const std::string& ZRXValue::setIdentifier(const char* text) {
  ZR_CHECK(text);
  return setText(Identifier, new std::string(text));
}
const std::string& ZRXValue::setID(const char* text) {
  ZR_CHECK(text);
  return setText(ID, new std::string(text));
}
const std::string& ZRXValue::setString(const std::string& text) {
  return setText(String, new std::string(text));
}
const std::string& ZRXValue::setIdentifier(const std::string& text) {
  return setText(Identifier, new std::string(text));
}
const std::string& ZRXValue::setID(const std::string& text) {
  return setText(ID, new std::string(text));
}

const std::string& ZRXValue::setString(std::string_view text) {
  return setText(String, new std::string(text));
}
const std::string& ZRXValue::setIdentifier(std::string_view text) {
  return setText(Identifier, new std::string(text));
}
const std::string& ZRXValue::setID(std::string_view text) {
  return setText(ID, new std::string(text));
}

int64_t ZRXValue::setInteger(int64_t value) {
  release();
  mType = Integer;
  mUnion.mInteger = value;
  return value;
}

double ZRXValue::setReal(double value) {
  release();
  mType = Real;
  mUnion.mReal = value;
  return value;
}

bool ZRXValue::setBool(bool value) {
  release();
  mType = Bool;
  mUnion.mBool = value;
  return value;
}

ZRXStructure* ZRXValue::getStructure() const {
  ZR_CHECK(mType == Structure);
  return mUnion.mStructure;
}

ZRXList* ZRXValue::getList() const {
  ZR_CHECK(mType == List);
  return mUnion.mList;
}

ZRXRawtextBlock* ZRXValue::getRawtextBlock() const {
  ZR_CHECK(mType == RawtextBlock);
  return mUnion.mRawtextBlock;
}

ZRXArrayInteger* ZRXValue::getArrayInteger() const {
  ZR_CHECK(mType == ArrayInteger);
  return mUnion.mArray && mUnion.mArray->isOfType(ZRXArrayInteger::Type())
             ? static_cast<ZRXArrayInteger*>(mUnion.mArray)
             : nullptr;
}

ZRXArrayReal* ZRXValue::getArrayReal() const {
  ZR_CHECK(mType == ArrayReal);
  return mUnion.mArray && mUnion.mArray->isOfType(ZRXArrayReal::Type())
             ? static_cast<ZRXArrayReal*>(mUnion.mArray)
             : nullptr;
}

const std::string& ZRXValue::getString() const {
  ZR_CHECK(mType == String);
  return *mUnion.mString;
}

const std::string& ZRXValue::getIdentifier() const {
  ZR_CHECK(mType == Identifier);
  return *mUnion.mString;
}

const std::string& ZRXValue::getID() const {
  ZR_CHECK(mType == ID);
  return *mUnion.mString;
}

int64_t ZRXValue::getInteger() const {
  ZR_CHECK(mType == Integer);
  return mUnion.mInteger;
}

double ZRXValue::getReal() const {
  ZR_CHECK(mType == Real);
  return mUnion.mReal;
}

bool ZRXValue::getBool() const {
  ZR_CHECK(mType == Bool);
  return mUnion.mBool;
}

// Nodes ------------------------------------------------------------------------------------------

ZR_DEFINE_TYPE(ZRXTaggedValue, zr::Object, "zrX::TaggedValue")
ZR_DEFINE_TYPE(ZRXStructure, ZRXTaggedValue, "zrX::Structure")
ZR_DEFINE_TYPE(ZRXList, ZRXTaggedValue, "zrX::List")
ZR_DEFINE_TYPE(ZRXRawtextBlock, ZRXTaggedValue, "zrX::RawtextBlock")
ZR_DEFINE_TYPE(ZRXArray, ZRXTaggedValue, "zrX::Array")
ZR_DEFINE_TYPE_TEMPLATE(template <class T>, ZRXArrayTemplate<T>, ZRXArray, "zrX::ArrayTemplate<T>")
ZR_DEFINE_TYPE(ZRXArrayInteger, ZRXArrayTemplate<int64_t>, "zrX::ArrayInteger")
ZR_DEFINE_TYPE(ZRXArrayReal, ZRXArrayTemplate<double>, "zrX::ArrayReal")

template class ZRXArrayTemplate<int64_t>;
template class ZRXArrayTemplate<double>;

void ZRXTaggedValue::setTag(const char* tag) {
  ZR_CHECK(tag);
  mTag = TextRef::adopt(SharedText::fromConstant(tag));
}

namespace {
// Room that structures and lists built by hand start with.
constexpr size_t kInitialCapacity = 8;
}  // namespace

ZRXStructure::ZRXStructure() { mKeyValue.reserve(kInitialCapacity); }

ZRXStructure::ZRXStructure(const char* tag) : ZRXStructure() { setTag(tag); }

ZRXStructure::ZRXStructure(const char* tag, size_t capacity) : ZRXTaggedValue(tag) {
  mKeyValue.reserve(capacity);
}

void ZRXStructure::setID(const char* id) {
  ZR_CHECK(id);
  if (std::strcmp(id, "#NULL") == 0) {
    mID.reset();
  } else {
    mID = TextRef::adopt(SharedText::make(id));
  }
}

void ZRXStructure::setID(const std::string& id) { setID(std::string_view(id)); }

void ZRXStructure::setID(std::string_view id) {
  if (id == kNullID) {
    mID.reset();
  } else {
    mID = TextRef::adopt(SharedText::make(id));
  }
}

// A node is its header and a few pointers.
static_assert(sizeof(void*) != 8 || sizeof(ZRXStructure) <= 48, "ZRXStructure grew");
static_assert(sizeof(void*) != 8 || sizeof(ZRXList) <= 40, "ZRXList grew");
static_assert(sizeof(void*) != 8 || sizeof(ZRXStructure::KeyValue) <= 24, "KeyValue grew");

ZRXStructure& ZRXStructure::operator<<(const char* key) {
  ZR_CHECK(key);
  mKeyValue.emplace_back();
  mKeyValue.back().setKey(key);
  return *this;
}

ZRXStructure& ZRXStructure::operator<<(const ZRXValue& value) {
  ZR_CHECK(!mKeyValue.empty());
  mKeyValue.back().setValue(value);
  return *this;
}

ZRXStructure& ZRXStructure::operator<<(ZRXValue&& value) {
  ZR_CHECK(!mKeyValue.empty());
  mKeyValue.back().setValue(std::move(value));
  return *this;
}

void ZRXStructure::acceptVisitor(Visitor* visitor) { visitor->visitStructure(this); }

ZRXList::ZRXList(const char* tag) : ZRXTaggedValue(tag) { mValue.reserve(kInitialCapacity); }

ZRXList::ZRXList(const char* tag, size_t capacity) : ZRXTaggedValue(tag) {
  mValue.reserve(capacity);
}

void ZRXList::acceptVisitor(Visitor* visitor) { visitor->visitList(this); }

ZRXRawtextBlock::ZRXRawtextBlock(const char* tag, const char* text) : ZRXTaggedValue(tag) {
  if (text) mValue = text;
}

void ZRXRawtextBlock::acceptVisitor(Visitor* visitor) { visitor->visitRawtextBlock(this); }

void ZRXArrayInteger::acceptVisitor(Visitor* visitor) { visitor->visitArray(this); }

void ZRXArrayReal::acceptVisitor(Visitor* visitor) { visitor->visitArray(this); }

namespace {

std::string countOf(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string valueForMessage(const ZRXValue& value) {
  switch (value.type()) {
    case ZRXValue::Bool:
      return value.getBool() ? "true" : "false";
    case ZRXValue::Integer:
      return "the integer " + std::to_string(value.getInteger());
    case ZRXValue::Real: {
      char text[64];
      const auto written = std::to_chars(text, text + sizeof text, value.getReal());
      return "the real " + std::string(text, written.ptr);
    }
    case ZRXValue::String:
      return "the string '" + zr::messageText(value.getString(), 32) + "'";
    case ZRXValue::Identifier:
      return "the identifier " + zr::messageText(value.getIdentifier(), 32);
    case ZRXValue::ID:
      return "the reference '" + zr::messageText(value.getID(), 32) + "'";
    case ZRXValue::RawtextBlock:
      return "a raw text block";
    case ZRXValue::List:
      return "a list of " + countOf(value.getList()->value().size(), "value", "values");
    case ZRXValue::Structure: {
      const ZRXStructure* structure = value.getStructure();
      if (!structure) return "#NULL";
      if (structure->tag().empty()) return "a structure without a tag";
      return "a " + zr::messageText(structure->tag(), 32) + " structure";
    }
    case ZRXValue::ArrayInteger:
      return "an integer array of " +
             countOf(value.getArrayInteger()->value().size(), "value", "values");
    case ZRXValue::ArrayReal:
      return "a real array of " + countOf(value.getArrayReal()->value().size(), "value", "values");
  }
  return "a value of unknown kind";
}

}  // namespace zrX
