#include "zrX/Declare.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cfloat>
#include <cmath>

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"
#include "zrCore/String.hpp"
#include "zrX/DeclaredSession.hpp"
#include "zrX/FormatRules.hpp"
#include "zrX/Registry.hpp"

#if defined(__GNUC__) || defined(__clang__)
#define ZRX_COLD __attribute__((noinline, cold))
#define ZRX_NOINLINE __attribute__((noinline))
#else
#define ZRX_COLD
#define ZRX_NOINLINE
#endif

namespace zrX {

// The generic importer and exporter of declared classes: walks a declaration's fields over a
// structure's entries. Friend of the serializer and of FieldContext.
class DeclaredEngine {
 public:
  // The fields of a nested structure describe what they expect themselves.
  class ExpectedScope {
   public:
    explicit ExpectedScope(FieldContext& cx)
        : mContext(cx), mFunction(cx.mExpectedFunction), mObject(cx.mExpectedObject) {
      cx.mExpectedFunction = nullptr;
      cx.mExpectedObject = nullptr;
    }
    ~ExpectedScope() {
      mContext.mExpectedFunction = mFunction;
      mContext.mExpectedObject = mObject;
    }
    ExpectedScope(const ExpectedScope&) = delete;
    ExpectedScope& operator=(const ExpectedScope&) = delete;

   private:
    FieldContext& mContext;
    void (*mFunction)(const void*, std::string&);
    const void* mObject;
  };

  static DeclaredSession& session(ZRXSerializer& s) { return s.declaredSession(); }
  static void bind(FieldContext& cx, DeclaredSession& session) {
    cx.mSession = &session;
    cx.mPath = &session.path();
    cx.mPathBase = cx.mPath->size();
    cx.mWhere.in = cx.mStructure;
    cx.mWhere.place = [](const void* context) {
      return static_cast<const FieldContext*>(context)->place();
    };
    cx.mWhere.argument = &cx;
  }
  static DeclaredSession& session(FieldContext& cx) { return *cx.mSession; }
  static bool readEntries(const ClassData& cls, void* object, const ZRXStructure* st,
                          FieldContext& cx);
  static bool writeEntries(const ClassData& cls, const void* object, ZRXStructure& st,
                           FieldContext& cx);
  static zr::ref<ZRXStructure> makeStructure(const ClassData& cls, FieldContext& cx);
  static zr::Object* importValue(const ZRXValue& value, const zr::TypeInfo& type,
                                 ZRXSerializer::ImportRule rule, FieldContext& cx) {
    return cx.serializer().importValueAt(value, type, rule, cx.mWhere);
  }
};

using ExpectedScope = DeclaredEngine::ExpectedScope;

// FieldContext ------------------------------------------------------------------------------------

std::string FieldContext::place() const {
  std::string out;
  for (size_t i = mPathBase; i < mPath->size(); ++i) {
    const Segment& segment = (*mPath)[i];
    if (segment.key) {
      if (!out.empty()) out += '/';
      out += zr::messageText(*segment.key);
    }
    if (segment.index >= 0) out += "[" + std::to_string(segment.index) + "]";
  }
  return out;
}

void FieldContext::pushSegment(const std::string* key) { mPath->push_back(Segment{key, -1}); }

bool FieldContext::refuse(const std::string& what) {
  mSerializer.signalImportError(zr::messageText(mClass.tag()) + ": entry '" + place() + "' " +
                                what + ".");
  return false;
}

bool FieldContext::wrongValue(const std::string& found) {
  std::string expected;
  if (mExpectedFunction)
    mExpectedFunction(mExpectedObject, expected);
  else
    mField->expected(expected);
  return refuse("is not " + expected + " (found " + found + ")");
}

bool FieldContext::wrongValue(const ZRXValue& found) { return wrongValue(valueForMessage(found)); }

bool FieldContext::refuseExport(const std::string& what) {
  mSerializer.signalExportError(zr::messageText(mClass.tag()) + ": field '" + place() + "' of a '" +
                                mClass.className() + "' " + what + ".");
  return false;
}

bool FieldContext::refuseStructure(const std::string& what) {
  if (mPath->size() > mPathBase && (*mPath)[mPathBase].key) return refuse(what);
  mSerializer.signalImportError(zr::messageText(mClass.tag()) + ": " + what + ".");
  return false;
}

namespace {

ZRX_COLD bool refuseDeep(FieldContext& cx, int depth) {
  if (depth >= cx.serializer().maxConversionDepth())
    return cx.refuse("nests structures deeper than " +
                     std::to_string(cx.serializer().maxConversionDepth()) +
                     " levels of conversion; setMaxConversionDepth() allows more");
  return cx.refuse("nests structures deeper than the thread's stack holds (after " +
                   std::to_string(depth) + " nested conversions)");
}

}  // namespace

bool FieldContext::enterNested() {
  // Nested structs of nested structs nest the reader as deep as the file nests them; they count
  // against the serializer's conversion limit and its stack guard, as nested objects do.
  if (mSerializer.mConversionDepth >= mSerializer.maxConversionDepth() ||
      mSerializer.mStackGuard.nearlyExhausted())
    return refuseDeep(*this, mSerializer.mConversionDepth);
  ++mSerializer.mConversionDepth;
  return true;
}

void FieldContext::leaveNested() { --mSerializer.mConversionDepth; }

// DeclaredField -----------------------------------------------------------------------------------

DeclaredField::~DeclaredField() = default;

bool DeclaredField::settle(void*, const ZRXStructure*, FieldContext&) const { return true; }

bool DeclaredField::isEmpty(const void*) const { return false; }

bool DeclaredField::holdsMember(const std::type_info&, const void*) const { return false; }

bool DeclaredField::settleAtOnce(void*, const FieldContext&) const { return false; }

// ClassData: the checks made when a class is declared
// -----------------------------------------------

namespace {

std::atomic<uint32_t> gNextSerial{0};

bool isWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Why `text` cannot stand as a name of `kind` in both formats (the text format's rules), or "".
std::string whyNot(NameKind kind, std::string_view text) {
  return textHoldsName(kind, text) ? std::string() : std::string(nameRule(kind));
}

}  // namespace

ClassData::ClassData(const char* tag, const zr::TypeInfo* type, const char* className)
    : mTag(tag ? tag : ""), mType(type), mClassName(className), mSerial(gNextSerial++) {
  if (mType && mTag.empty()) refuse("an object class needs a tag, such as \"<Entity>\"");
  if (!mTag.empty()) {
    const std::string why = whyNot(NameKind::Tag, mTag);
    if (!why.empty()) refuse("its tag '" + zr::messageText(mTag) + "' cannot be written: " + why);
    mTagText = TextRef::adopt(SharedText::make(mTag));
  }
  // The default ID prefix: the tag's letters and digits, in lower case.
  for (char c : mTag)
    if (isWordChar(c) && c != '_') mIDPrefix += static_cast<char>(std::tolower(c));
}

void ClassData::refuse(const std::string& what) const {
  zr::Log::error("zrX::Declare of '" + mClassName + "'" +
                 (mTag.empty() ? std::string() : " (" + zr::messageText(mTag) + ")") + ": " + what +
                 ".\n");
  zr::check_failed("the declaration can be saved and loaded", __FILE__, __LINE__);
}

DeclaredField& ClassData::lastField(const char* what) {
  if (mFields.empty())
    refuse(std::string(what) + " applies to the field declared last, and none is");
  return *mFields.back();
}

DeclaredField& ClassData::addField(const char* key, std::unique_ptr<DeclaredField> field) {
  ZR_CHECK(key);
  const std::string why = whyNot(NameKind::Key, key);
  if (!why.empty()) refuse("the key '" + zr::messageText(key) + "' cannot be written: " + why);
  if (mFields.size() >= 256) refuse("a class declares at most 256 fields");
  bool inserted = false;
  const uint32_t number = mKeys.insert(key, &inserted);
  if (!inserted) refuse("the key '" + std::string(key) + "' is declared twice");
  mKeyFields.resize(number + 1, -1);
  mKeyFields[number] = static_cast<int>(mFields.size());
  field->mKey = key;
  field->mKeyText = TextRef::adopt(SharedText::make(key));
  if (field->isBackPointer()) {
    if (mHasBackPointers) refuse("a class declares one back pointer (.parent) at most");
    mHasBackPointers = true;
  }
  mFields.push_back(std::move(field));
  return *mFields.back();
}

void ClassData::addAlias(const char* alias) {
  ZR_CHECK(alias);
  DeclaredField& field = lastField(".alias()");
  const std::string why = whyNot(NameKind::Key, alias);
  if (!why.empty()) refuse("the alias '" + zr::messageText(alias) + "' cannot be read: " + why);
  bool inserted = false;
  const uint32_t number = mKeys.insert(alias, &inserted);
  if (!inserted) refuse("the key '" + std::string(alias) + "' is declared twice");
  mKeyFields.resize(number + 1, -1);
  mKeyFields[number] = static_cast<int>(mFields.size() - 1);
  field.mAliases.emplace_back(alias);
}

void ClassData::setRequired() { lastField(".required()").mRequired = true; }

void ClassData::setOmitEmpty() { lastField(".omitEmpty()").mOmitEmpty = true; }

void ClassData::setFieldTag(const char* tag) {
  ZR_CHECK(tag);
  DeclaredField& field = lastField(".tag()");
  const std::string why = whyNot(NameKind::Tag, tag);
  if (!why.empty()) refuse("the tag '" + zr::messageText(tag) + "' cannot be written: " + why);
  field.mTag = tag;
}

void ClassData::setID(const char* prefix) {
  ZR_CHECK(prefix);
  const std::string_view text(prefix);
  if (!textHoldsName(NameKind::ID, "#" + std::string(text) + "id1"))
    refuse("the ID prefix '" + zr::messageText(text) +
           "' cannot be written: " + nameRule(NameKind::ID));
  mHasID = true;
  mIDPrefix = prefix;
}

void ClassData::setVersion(int version) {
  if (version < 1) refuse("versions count from 1");
  if (version > 1 && mTag.empty())
    refuse("a versioned class needs a tag, under which documents record its version");
  mVersion = version;
}

void ClassData::addUpgrade(int from, Upgrade upgrade) {
  if (from < 1 || from >= mVersion)
    refuse("an upgrade from version " + std::to_string(from) +
           " needs a version above it: declare .version() first");
  if (mUpgrades.size() <= static_cast<size_t>(from))
    mUpgrades.resize(static_cast<size_t>(from) + 1);
  if (mUpgrades[static_cast<size_t>(from)])
    refuse("two upgrades from version " + std::to_string(from));
  mUpgrades[static_cast<size_t>(from)] = std::move(upgrade);
}

void ClassData::checkEnumNames(const std::vector<std::pair<int64_t, std::string>>& names,
                               const ClassData* declaring) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (!textHoldsName(NameKind::Identifier, names[i].second))
      declaring->refuse("the enum name '" + zr::messageText(names[i].second) +
                        "' cannot be written: " + nameRule(NameKind::Identifier));
    for (size_t j = 0; j < i; ++j) {
      if (names[j].second == names[i].second)
        declaring->refuse("the enum name '" + names[i].second + "' is given twice");
      if (names[j].first == names[i].first)
        declaring->refuse("the enum value named '" + names[i].second + "' has a name already");
    }
  }
  if (names.empty()) declaring->refuse("an enum field needs the names of its values");
}

int ClassData::fieldOf(std::string_view key) const {
  const uint32_t number = mKeys.find(key);
  return number == TextIndex::kNone ? -1 : mKeyFields[number];
}

// The engine ----------------------------------------------------------------------------------

zr::ref<ZRXStructure> DeclaredEngine::makeStructure(const ClassData& cls, FieldContext& cx) {
  zr::ref<ZRXStructure> st = new ZRXStructure(nullptr, cls.fields().size());
  if (!cls.tag().empty()) st->setTag(session(cx).handOut(cls, 0));
  return st;
}

bool DeclaredEngine::writeEntries(const ClassData& cls, const void* object, ZRXStructure& st,
                                  FieldContext& cx) {
  DeclaredSession& s = session(cx);
  const auto& fields = cls.fields();
  FieldContext::Below below(cx, nullptr);
  const DeclaredField* outer = cx.mField;
  const ExpectedScope expectedScope(cx);
  for (size_t i = 0; i < fields.size(); ++i) {
    const DeclaredField& field = *fields[i];
    if (field.omitEmpty() && field.isEmpty(object)) continue;
    cx.setField(&field);
    below.key(&field.key());
    ZRXValue value;
    bool present = true;
    if (!field.save(object, value, &present, cx)) return false;
    if (!present) continue;
    st.value().emplace_back();
    ZRXStructure::KeyValue& entry = st.value().back();
    entry.setKey(s.handOut(cls, i + 1));
    entry.setValue(std::move(value));
  }
  cx.setField(outer);
  s.noteClassVersion(cls);
  return true;
}

namespace {

// A copy of a structure's entries to upgrade (values share their nodes with the original).
zr::ref<ZRXStructure> copyForUpgrade(const ZRXStructure* st) {
  zr::ref<ZRXStructure> copy = new ZRXStructure(nullptr, st->value().size());
  copy->setTag(st->tagText());
  copy->setID(st->uid());
  copy->value() = st->value();
  return copy;
}

}  // namespace

namespace {

// Refusals out of line: the reader runs once per nested object, and its frame stays small.
ZRX_COLD bool refuseEntry(FieldContext& cx, const char* what) { return cx.refuse(what); }
ZRX_COLD bool refuseUnknown(FieldContext& cx) {
  return cx.refuseStructure("is not an entry of this class, which reads only its own");
}
ZRX_NOINLINE bool checkObject(const ClassData& cls, const void* object, FieldContext& cx) {
  const std::string problem = cls.check()(object);
  return problem.empty() || cx.refuseStructure(problem);
}

// The structure to read for `st` written by `version` of `cls`: a copy taken through the
// upgrades up to the class's own version, kept in `upgraded`. Null after reporting.
ZRX_NOINLINE const ZRXStructure* upgradeFrom(int version, const ClassData& cls,
                                             const ZRXStructure* st,
                                             zr::ref<ZRXStructure>& upgraded, FieldContext& cx) {
  if (version > cls.version()) {
    cx.refuseStructure("was written by version " + std::to_string(version) +
                       " of its class; this program reads versions up to " +
                       std::to_string(cls.version()));
    return nullptr;
  }
  upgraded = copyForUpgrade(st);
  const auto& upgrades = cls.upgrades();
  for (int from = version; from < cls.version(); ++from) {
    const size_t at = static_cast<size_t>(from);
    if (at < upgrades.size() && upgrades[at] && !upgrades[at](*upgraded)) {
      cx.refuseStructure("cannot be upgraded from version " + std::to_string(from) +
                         " of its class");
      return nullptr;
    }
    if (cx.serializer().error() != ZRXSerializer::NoError) return nullptr;
  }
  return upgraded.get();
}

}  // namespace

bool DeclaredEngine::readEntries(const ClassData& cls, void* object, const ZRXStructure* st,
                                 FieldContext& cx) {
  DeclaredSession& s = session(cx);
  const ZRXStructure* source = st;
  zr::ref<ZRXStructure> upgraded;
  const int version = s.fileVersion(cx.serializer(), cls);
  if (version == 0) return false;
  if (version != cls.version()) {
    source = upgradeFrom(version, cls, st, upgraded, cx);
    if (!source) return false;
  }

  const auto& fields = cls.fields();
  uint64_t seen[4] = {0, 0, 0, 0};
  FieldContext::Below below(cx, nullptr);
  const DeclaredField* outer = cx.mField;
  const ExpectedScope expectedScope(cx);
  int predicted = 0;
  for (const ZRXStructure::KeyValue& entry : source->value()) {
    const int f = s.dispatch(cls, entry, predicted);
    if (f < 0) {
      if (!cls.strict()) continue;  // written by a newer program: skipped
      below.key(&entry.key());
      return refuseUnknown(cx);
    }
    predicted = f + 1;
    const DeclaredField& field = *fields[static_cast<size_t>(f)];
    cx.setField(&field);
    below.key(&field.key());
    uint64_t& word = seen[f >> 6];
    const uint64_t bit = uint64_t{1} << (f & 63);
    if (word & bit) return refuseEntry(cx, "appears more than once");
    word |= bit;
    const ZRXValue& value = entry.value();
    if (!field.load(object, value, cx)) return false;
    if (field.isBackPointer()) {
      // Mostly the entry names the object importing this one, through the very field the back
      // pointer belongs to: settled now. Anything else waits for the end of the import.
      const FieldContext* importer = s.importerOf(cx, value.getStructure());
      if (!importer || !field.settleAtOnce(object, *importer))
        s.addPending(cls, field, object, st, value.getStructure());
    }
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    if (!fields[i]->required() || (seen[i >> 6] & (uint64_t{1} << (i & 63)))) continue;
    cx.setField(fields[i].get());
    below.key(&fields[i]->key());
    return refuseEntry(cx, "is missing, and the field is required");
  }
  cx.setField(outer);
  if (cls.check()) {
    below.key(nullptr);
    return checkObject(cls, object, cx);
  }
  return true;
}

// The wrapper of a declared object class.
class DeclaredClassWrapper : public ClassWrapper {
  // Out of line, as everything the recursion through importObject does not need.
  static ZRX_NOINLINE zr::Object* makeObject(ZRXSerializer& s, const ClassData& cls) {
    zr::Object* object = cls.factory ? cls.factory() : cls.make();
    if (!object)
      s.signalImportError(zr::messageText(cls.tag()) + ": the class's maker gave no object.");
    return object;
  }

 public:
  explicit DeclaredClassWrapper(std::shared_ptr<const ClassData> cls) : mClass(std::move(cls)) {}

  zr::ref<zr::Object> importObject(ZRXSerializer& s, const ZRXStructure* st) override {
    const ClassData& cls = *mClass;
    zr::ref<zr::Object> object = makeObject(s, cls);
    if (!object) return nullptr;
    s.registerImportedStructure(st, object.get());  // first register, then recurse
    FieldContext cx(s, cls, st);
    DeclaredSession& session = s.declaredSession();
    DeclaredEngine::bind(cx, session);
    cx.setObject(object.get());
    const DeclaredSession::Importing importing(session, cx);
    if (!DeclaredEngine::readEntries(cls, cls.fromObject(object.get()), st, cx)) return nullptr;
    return object;
  }

  zr::ref<ZRXStructure> exportObject(ZRXSerializer& s, const zr::Object* object) override {
    const ClassData& cls = *mClass;
    FieldContext cx(s, cls, nullptr);
    DeclaredEngine::bind(cx, s.declaredSession());
    zr::ref<ZRXStructure> st = DeclaredEngine::makeStructure(cls, cx);
    if (cls.hasID()) st->setID(s.generateID(cls.idPrefix().c_str()));
    s.registerExportedObject(object, st.get());  // first register, then recurse
    if (!DeclaredEngine::writeEntries(cls, cls.fromConstObject(object), *st, cx)) return nullptr;
    return st;
  }

 private:
  std::shared_ptr<const ClassData> mClass;
};

void Registry::add(const DeclaredClassBase& declaration) {
  const std::shared_ptr<ClassData>& cls = declaration.data();
  ZR_CHECK(cls);
  if (!cls->type()) cls->refuse("only object classes are registered; a plain struct is a field");
  if (!cls->make && !cls->factory)
    cls->refuse("the class has no default constructor: give it .make([] { return new T(...); })");
  registerWrapper(cls->tag().c_str(), *cls->type(), new DeclaredClassWrapper(cls));
}

bool saveNested(const ClassData& cls, const void* object, ZRXValue& out, FieldContext& cx) {
  if (!cx.enterNested()) return false;
  zr::ref<ZRXStructure> st = DeclaredEngine::makeStructure(cls, cx);
  const bool ok = DeclaredEngine::writeEntries(cls, object, *st, cx);
  cx.leaveNested();
  if (!ok) return false;
  out.setStructure(st.get());
  return true;
}

bool loadNested(const ClassData& cls, void* object, const ZRXValue& value, FieldContext& cx) {
  const ZRXStructure* st = value.asStructure();
  if (!st) return cx.wrongValue(value);
  if (!cx.enterNested()) return false;
  const bool ok = DeclaredEngine::readEntries(cls, object, st, cx);
  cx.leaveNested();
  return ok;
}

// Values --------------------------------------------------------------------------------------

namespace declare_detail {

bool exportUnsigned(uint64_t value, int64_t* out, FieldContext& cx) {
  if (value > static_cast<uint64_t>(INT64_MAX))
    return cx.refuseExport("holds " + std::to_string(value) +
                           ", beyond the formats' 64-bit signed integers");
  *out = static_cast<int64_t>(value);
  return true;
}

bool floatFits(double value) { return !std::isfinite(value) || std::fabs(value) <= FLT_MAX; }

bool wrongElement(FieldContext& cx, size_t index, const std::string& found) {
  return cx.wrongValue(found + " at [" + std::to_string(index) + "]");
}

bool saveEnum(int64_t value, const std::vector<std::pair<int64_t, std::string>>& names,
              ZRXValue& out, FieldContext& cx) {
  for (const auto& [known, name] : names) {
    if (known == value) {
      out.setIdentifier(name);
      return true;
    }
  }
  return cx.refuseExport("holds the value " + std::to_string(value) +
                         ", which has no name in the declaration");
}

bool loadEnum(int64_t* value, const std::vector<std::pair<int64_t, std::string>>& names,
              const ZRXValue& in, FieldContext& cx) {
  if (const std::string* identifier = in.asIdentifier()) {
    for (const auto& [known, name] : names) {
      if (name == *identifier) {
        *value = known;
        return true;
      }
    }
  }
  return cx.wrongValue(in);
}

void enumExpected(const std::vector<std::pair<int64_t, std::string>>& names, std::string& out) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? " or " : ", ";
    out += names[i].second;
  }
}

bool saveObject(const zr::Object* object, ZRXValue& out, FieldContext& cx) {
  if (!object) {
    if (cx.field().required()) return cx.refuseExport("is null, and the field is required");
    out.setStructure(nullptr);  // written "#NULL"
    return true;
  }
  ZRXStructure* st = cx.serializer().exportZRX(object);
  if (!st) return false;  // reported by the export
  out.setStructure(st);
  return true;
}

zr::Object* loadObject(const ZRXValue& value, const zr::TypeInfo& type, FieldContext& cx) {
  ZRXSerializer::ImportRule rule;
  rule.nullable = !cx.field().required();
  rule.holds = true;
  return DeclaredEngine::importValue(value, type, rule, cx);
}

bool loadChildren(const ZRXValue& value, const zr::TypeInfo& type, void* owner, const void* field,
                  Adopt adopt, FieldContext& cx) {
  const ZRXList* list = value.asList();
  if (!list) return cx.wrongValue(value);
  ZRXSerializer::ImportRule rule;
  rule.nullable = false;
  rule.owned = true;
  rule.holds = true;
  FieldContext::Below below(cx, nullptr);
  const ZRXList::Elements& elements = list->value();
  for (size_t i = 0; i < elements.size(); ++i) {
    below.at(i);
    zr::Object* child = DeclaredEngine::importValue(elements[i], type, rule, cx);
    if (!child) return false;  // reported: an owned child is never null
    adopt(field, owner, child);
  }
  return true;
}

ZRXList* makeList(ZRXValue& out, size_t count, FieldContext& cx) {
  return out.setList(new ZRXList(cx.field().tag(), count));
}

bool saveBackPointer(const zr::Object* target, ZRXValue& out, bool* present, FieldContext& cx) {
  *present = target != nullptr;
  if (!target) return true;
  ZRXStructure* st = cx.serializer().exportZRX(target);
  if (!st) return false;
  out.setStructure(st);
  return true;
}

bool checkBackPointer(const zr::Object* current, const ZRXStructure* named, FieldContext& cx) {
  const zr::Object* expected = named ? cx.serializer().getImportedStructure(named) : nullptr;
  if ((named && !expected) || current != expected)
    return cx.refuse("does not name the object that owns this one");
  return true;
}

bool findListing(const ZRXStructure* named, const zr::TypeInfo& type, zr::Object** out,
                 FieldContext& cx) {
  zr::Object* object = cx.serializer().getImportedStructure(named);
  if (!object || !object->isOfType(type)) return refuseUnlisted(cx);
  *out = object;
  return true;
}

bool refuseUnlisted(FieldContext& cx) {
  return cx.refuse("does not name an object that lists this one");
}

}  // namespace declare_detail

bool declare_detail::TextField::save(const void* object, ZRXValue& out, bool* present,
                                     FieldContext& cx) const {
  *present = true;
  out.setRawtextBlock(new ZRXRawtextBlock(cx.field().tag()))->value() = mGet(object);
  return true;
}

bool declare_detail::TextField::load(void* object, const ZRXValue& value, FieldContext& cx) const {
  const ZRXRawtextBlock* block = value.asRawtextBlock();
  if (!block) return cx.wrongValue(value);
  mPut(object) = block->value();
  return true;
}

// DeclaredSession --------------------------------------------------------------------------------

DeclaredSession::~DeclaredSession() {
  for (const auto& cache : mCaches) {
    if (!cache) continue;
    for (const SharedText* text : cache->seen)
      if (text) text->release();
    for (const Batch& batch : cache->batches)
      if (batch.text && batch.ahead > 0) batch.text->release(batch.ahead);
  }
}

const FieldContext* DeclaredSession::importerOf(const FieldContext& cx,
                                                const ZRXStructure* named) const {
  // The context below this one's, when it imports `named` and the serializer's import below this
  // one is that very structure (no wrapper of another kind stands between them).
  if (!named || mImporting.size() < 2 || mImporting.back() != &cx) return nullptr;
  const FieldContext* importer = mImporting[mImporting.size() - 2];
  const auto& frames = cx.serializer().mImportFrames;
  if (importer->structure() != named || frames.size() < 2 ||
      frames[frames.size() - 2].structure != named)
    return nullptr;
  return importer;
}

ZRX_NOINLINE void DeclaredSession::addPending(const ClassData& cls, const DeclaredField& field,
                                              void* object, const ZRXStructure* structure,
                                              const ZRXStructure* named) {
  mPending.push_back(Pending{&cls, &field, object, structure, named});
}

DeclaredSession::ClassCache& DeclaredSession::makeCache(const ClassData& cls) {
  if (mCaches.size() <= cls.serial()) mCaches.resize(cls.serial() + 1);
  auto cache = std::make_unique<ClassCache>();
  cache->seen.assign(cls.fields().size(), nullptr);
  cache->batches.resize(cls.fields().size() + 1);
  cache->batches[0].text = cls.tagText().shared();
  for (size_t i = 0; i < cls.fields().size(); ++i)
    cache->batches[i + 1].text = cls.fields()[i]->keyText().shared();
  mCaches[cls.serial()] = std::move(cache);
  return *mCaches[cls.serial()];
}

int DeclaredSession::dispatchSlowly(const ClassData& cls, ClassCache& cache,
                                    const ZRXStructure::KeyValue& entry) {
  const SharedText* text = entry.keyText().shared();
  if (text) {
    for (size_t f = 0; f < cache.seen.size(); ++f)
      if (cache.seen[f] == text) return static_cast<int>(f);
  }
  const int f = cls.fieldOf(entry.key());
  if (f >= 0 && text) {
    // Remember this text for the field; the reference held keeps its address from being reused.
    text->retain();
    if (const SharedText* old = cache.seen[static_cast<size_t>(f)]) old->release();
    cache.seen[static_cast<size_t>(f)] = text;
  }
  return f;
}

TextRef DeclaredSession::handOut(const ClassData& cls, size_t slot) {
  Batch& batch = cacheOf(cls).batches[slot];
  constexpr int32_t kBatch = 1 << 16;
  if (batch.ahead == 0) {
    batch.text->retain(kBatch);
    batch.ahead = kBatch;
  }
  --batch.ahead;
  return TextRef::adopt(const_cast<SharedText*>(batch.text));
}

bool DeclaredSession::readFileVersion(ZRXSerializer& serializer, const ClassData& cls,
                                      ClassCache& cache) {
  if (!mVersionsRead) {
    mVersionsRead = true;
    if (const ZRXValue* entry = serializer.getMetadata(kClassVersionsKey)) {
      const ZRXList* list = entry->asList();
      bool ok = list != nullptr;
      if (ok) {
        for (const ZRXValue& item : list->value()) {
          const ZRXArrayInteger* array = item.asArrayInteger();
          if (!array || array->tag().empty() || array->value().size() != 1 ||
              array->value()[0] < 1 || array->value()[0] > INT32_MAX) {
            ok = false;
            break;
          }
          mFileVersions[array->tag()] = static_cast<int>(array->value()[0]);
        }
      }
      if (!ok) {
        serializer.signalImportError(
            std::string("The metadata entry '") + kClassVersionsKey +
            "' is not a list of class tags, each with its version (such as <Entity> ( 3 )).");
        return false;
      }
    }
  }
  const auto found = mFileVersions.find(cls.tag());
  cache.fileVersion = found != mFileVersions.end() ? found->second : 1;
  return true;
}

bool DeclaredSession::finishImport(ZRXSerializer& serializer) {
  std::vector<Pending> pending;
  pending.swap(mPending);
  for (const Pending& p : pending) {
    FieldContext cx(serializer, *p.cls, p.structure);
    DeclaredEngine::bind(cx, *this);
    FieldContext::Below below(cx, &p.field->key());
    cx.setField(p.field);
    if (!p.field->settle(p.object, p.named, cx)) return false;
  }
  return true;
}

void DeclaredSession::appendClassVersions(ZRXStructure& metadata) const {
  if (mExportedVersions.empty()) return;
  ZRXValue versions;
  ZRXList* list = versions.setList(new ZRXList(nullptr, mExportedVersions.size()));
  for (const auto& [tag, version] : mExportedVersions) {
    zr::ref<ZRXArrayInteger> array = new ZRXArrayInteger;
    array->setTag(tag);
    array->value().push_back(version);
    list->value().push_back(ZRXValue::makeArray(array.get()));
  }
  auto& entries = metadata.value();
  // Before the three entries every save writes last.
  const auto at = entries.size() >= 3 ? entries.end() - 3 : entries.end();
  ZRXStructure::KeyValue entry;
  entry.setKey(std::string(kClassVersionsKey));
  entry.setValue(std::move(versions));
  entries.insert(at, std::move(entry));
}

}  // namespace zrX
