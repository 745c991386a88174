#include "zrX/Serializer.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"
#include "zrX/Cycles.hpp"
#include "zrX/DeclaredSession.hpp"
#include "zrX/ioZRX.hpp"

namespace zrX {

ZR_DEFINE_TYPE(ZRXSerializer, zr::Object, "zrX::Serializer")

namespace {

// The one place where a borrowed const pointer becomes a strong reference: the serializer keeps
// what it is handed alive and never modifies it through that reference.
template <class T>
zr::ref<T> hold(const T* pointer) {
  return zr::ref<T>(const_cast<T*>(pointer));
}

// One level of nested conversions while a wrapper runs.
class ConversionLevel {
 public:
  explicit ConversionLevel(int& depth) : mDepth(depth) { ++mDepth; }
  ~ConversionLevel() { --mDepth; }
  ConversionLevel(const ConversionLevel&) = delete;
  ConversionLevel& operator=(const ConversionLevel&) = delete;

 private:
  int& mDepth;
};

}  // namespace

// --- Construction and copying ---

ZRXSerializer::ZRXSerializer() { setRegistry(defZRXRegistry()); }

void DeclaredSessionDeleter::operator()(DeclaredSession* session) const { delete session; }

// A copy shares the converted pairs but starts without imports under way and without the state
// of declared classes, which belongs to one serializer.
ZRXSerializer::ZRXSerializer(const ZRXSerializer& other)
    : zr::Object(other),
      mDocumentURL(other.mDocumentURL),
      mDirectives(other.mDirectives),
      mError(other.mError),
      mIDCounter(other.mIDCounter),
      mImportedStructures(other.mImportedStructures),
      mExportedObjects(other.mExportedObjects),
      mMetadata(other.mMetadata),
      mRegistry(other.mRegistry),
      mMaxDepth(other.mMaxDepth),
      mMaxConversionDepth(other.mMaxConversionDepth),
      mErrorMessage(other.mErrorMessage) {
  mImportedStructures.clearFlags(kInProgress);
}

ZRXSerializer::ZRXSerializer(ZRXSerializer&& other)
    : zr::Object(other),
      mDocumentURL(other.mDocumentURL),
      mDirectives(std::move(other.mDirectives)),
      mError(other.mError),
      mIDCounter(other.mIDCounter),
      mImportedStructures(std::move(other.mImportedStructures)),
      mExportedObjects(std::move(other.mExportedObjects)),
      mMetadata(std::move(other.mMetadata)),
      mRegistry(other.mRegistry),
      mMaxDepth(other.mMaxDepth),
      mMaxConversionDepth(other.mMaxConversionDepth),
      mErrorMessage(other.mErrorMessage) {
  mImportedStructures.clearFlags(kInProgress);
  other.mDirectives.clear();
  other.mImportedStructures.clear();
  other.mExportedObjects.clear();
  other.mMetadata.clear();
}

ZRXSerializer& ZRXSerializer::operator=(const ZRXSerializer& other) {
  if (this != &other) *this = ZRXSerializer(other);
  return *this;
}

ZRXSerializer& ZRXSerializer::operator=(ZRXSerializer&& other) {
  if (this == &other) return *this;
  releaseConversions(true);
  mDocumentURL = other.mDocumentURL;
  mDirectives = std::move(other.mDirectives);
  mError = other.mError;
  mIDCounter = other.mIDCounter;
  mImportedStructures = std::move(other.mImportedStructures);
  mExportedObjects = std::move(other.mExportedObjects);
  mMetadata = std::move(other.mMetadata);
  mRegistry = other.mRegistry;
  mMaxDepth = other.mMaxDepth;
  mMaxConversionDepth = other.mMaxConversionDepth;
  mErrorMessage = other.mErrorMessage;
  mImportedStructures.clearFlags(kInProgress);
  mImportFrames.clear();
  mDeclared.reset();
  other.mDirectives.clear();
  other.mImportedStructures.clear();
  other.mExportedObjects.clear();
  other.mMetadata.clear();
  return *this;
}

ZRXSerializer::~ZRXSerializer() { releaseConversions(true); }

void ZRXSerializer::releaseConversions(bool withMetadata) {
  // The structures of an object graph with a cycle refer to each other (a child's structure
  // names its parent's), and so may those of a linked document: hand everything the maps held to
  // breakCycles once the maps no longer hold it.
  std::vector<zr::ref<ZRXTaggedValue>> roots;
  roots.reserve(mImportedStructures.size() + mExportedObjects.size());
  mImportedStructures.moveKeysTo(roots);
  mExportedObjects.movePartnersTo(roots);
  if (withMetadata) {
    for (const auto& entry : mMetadata) appendRoot(roots, entry.second);
    mMetadata.clear();
  }
  if (!roots.empty()) dropAndBreakCycles(roots);
}

void ZRXSerializer::reset() {
  mError = NoError;
  mErrorMessage.clear();
  mIDCounter = 0;
  mDeclared.reset();
  releaseConversions(false);
}

DeclaredSession& ZRXSerializer::declaredSession() {
  if (!mDeclared) mDeclared.reset(new DeclaredSession);
  return *mDeclared;
}

void ZRXSerializer::fail(EError error, const std::string& message) {
  if (mError != NoError) return;
  zr::Log::error(message);
  mError = error;
  mErrorMessage = message;
}

void ZRXSerializer::failAgain(EError error, const std::string& message) {
  zr::Log::error(message);
  if (mError != NoError) return;
  mError = error;
  mErrorMessage = message;
}

// --- Conversion ---

// The failures of a conversion, out of line: importZRX and exportZRX run once per level of nested
// conversions, so their own frames stay small (a message and its texts take room on the stack).
#if defined(__GNUC__) || defined(__clang__)
#define ZRX_COLD __attribute__((noinline, cold))
#else
#define ZRX_COLD
#endif

namespace {

ZRX_COLD std::string withTag(const char* format, const std::string& tag) {
  return zr::String(zr::Say(format) << zr::messageText(tag)).toStdString();
}

ZRX_COLD std::string withTypeName(const char* format, const char* name) {
  return zr::String(zr::Say(format) << name).toStdString();
}

}  // namespace

ZRX_COLD void ZRXSerializer::refuseDeepImport(const ZRXStructure* st) {
  if (mConversionDepth < mMaxConversionDepth) {
    signalImportError(zr::Say("ZRXSerializer::importZRX() : the thread's stack is nearly exhausted "
                              "after %n nested conversions, at structure '%s'; run the conversion "
                              "on a thread with a larger stack.\n")
                      << mConversionDepth << zr::messageText(st->tag()));
    return;
  }
  signalImportError(zr::Say("ZRXSerializer::importZRX() : conversions nested deeper than %n "
                            "levels at structure '%s'; setMaxConversionDepth() allows more, on a "
                            "thread with stack enough for them.\n")
                    << mMaxConversionDepth << zr::messageText(st->tag()));
}

ZRX_COLD void ZRXSerializer::refuseDeepExport(const zr::TypeInfo& type) {
  if (mConversionDepth < mMaxConversionDepth) {
    signalExportError(zr::Say("ZRXSerializer::exportZRX() : the thread's stack is nearly exhausted "
                              "after %n nested conversions, at '%s'; run the conversion on a "
                              "thread with a larger stack.\n")
                      << mConversionDepth << type.name());
    return;
  }
  signalExportError(zr::Say("ZRXSerializer::exportZRX() : conversions nested deeper than %n "
                            "levels at '%s'; setMaxConversionDepth() allows more, on a thread "
                            "with stack enough for them.\n")
                    << mMaxConversionDepth << type.name());
}

zr::Object* ZRXSerializer::importZRX(const ZRXStructure* st) { return importZRX(st, false); }

ZRX_COLD zr::Object* ZRXSerializer::reportImportFailure(const ZRXStructure* st, bool noWrapper) {
  if (noWrapper)
    fail(ImportError, withTag("No importing serializer found for structure '%s'.", st->tag()));
  else
    failAgain(ImportError, withTag("Error importing structure '%s'.", st->tag()));
  return nullptr;
}

ZRX_COLD ZRXStructure* ZRXSerializer::reportExportFailure(const zr::TypeInfo& type,
                                                          bool noWrapper) {
  if (noWrapper)
    fail(ExportError, withTypeName("No exporting serializer found for '%s'.", type.name()));
  else
    failAgain(ExportError, withTypeName("Error exporting '%s'.", type.name()));
  return nullptr;
}

namespace {

// One import under way, on the serializer's stack of imports; popped however the wrapper leaves.
template <class Frames>
class ImportFrameScope {
 public:
  template <class Frame>
  ImportFrameScope(Frames& frames, Frame frame) : mFrames(frames) {
    frames.push_back(frame);
  }
  ~ImportFrameScope() { mFrames.pop_back(); }
  ImportFrameScope(const ImportFrameScope&) = delete;
  ImportFrameScope& operator=(const ImportFrameScope&) = delete;

 private:
  Frames& mFrames;
};

}  // namespace

zr::Object* ZRXSerializer::importZRX(const ZRXStructure* st, bool strong) {
  ZR_CHECK(st);
  if (mError != NoError) return nullptr;
  if (zr::Object* known = getImportedStructure(st)) return known;

  ZR_CHECK(mRegistry);
  const Registry::ImportWrappers& wrappers = mRegistry->importWrappers();
  const auto found = wrappers.find(st->tag());
  if (found == wrappers.end()) return reportImportFailure(st, true);
  ClassWrapper* serializer = found->second.get();
  ZR_CHECK(serializer);
  if (mConversionDepth == 0) mStackGuard.arm();  // the outermost conversion, on this thread
  if (mConversionDepth >= mMaxConversionDepth || mStackGuard.nearlyExhausted()) {
    refuseDeepImport(st);
    return nullptr;
  }

  const bool outermost = mImportFrames.empty();
  zr::ref<zr::Object> object;
  {
    const ImportFrameScope<std::vector<ImportFrame>> frame(mImportFrames, ImportFrame{st, strong});
    const ConversionLevel level(mConversionDepth);
    object = serializer->importObject(*this, st);
  }
  const uint32_t number = mImportedStructures.number(st);
  if (number != PointerIndex::kNone)
    mImportedStructures.flagsAt(number) &= static_cast<uint8_t>(~kInProgress);
  if (!object) {
    if (outermost && mDeclared) mDeclared->abandonImport();
    return reportImportFailure(st, false);
  }
  // Only the registered pair keeps the object alive after `object` goes: a wrapper that did not
  // register it would hand the caller a dangling pointer.
  ZR_CHECK(getImportedStructure(st) == object.get());
  // Declared classes settle what needs the whole import (back pointers) once it is done.
  if (outermost && mDeclared && !mDeclared->finishImport(*this)) return nullptr;
  return object.get();
}

bool ZRXSerializer::isImporting(const ZRXStructure* structure) const {
  const uint32_t number = mImportedStructures.number(structure);
  return number != PointerIndex::kNone && (mImportedStructures.flagsAt(number) & kInProgress) != 0;
}

bool ZRXSerializer::closesStrongCycle(const ZRXStructure* structure) const {
  // The frames above the structure's own must all have been entered through strong references.
  for (auto frame = mImportFrames.rbegin(); frame != mImportFrames.rend(); ++frame) {
    if (frame->structure == structure) return true;
    if (!frame->strong) return false;
  }
  return false;
}

namespace {

// "<Tag>" of a structure for messages: its tag, escaped, or "a structure without a tag".
std::string tagForMessage(const ZRXStructure* structure) {
  return structure->tag().empty() ? std::string("(untagged structure)")
                                  : zr::messageText(structure->tag());
}

// "<Tag> '#id'" (or "<Tag>" for a structure without an ID) for messages.
std::string structureForMessage(const ZRXStructure* structure) {
  std::string text = structure->tag().empty() ? std::string("a structure without a tag")
                                              : zr::messageText(structure->tag());
  if (!structure->uid().empty() && structure->uid() != "#NULL")
    text += " '" + zr::messageText(structure->uid()) + "'";
  return text;
}

}  // namespace

namespace {

std::string keyPlace(const void* key) {
  return zr::messageText(*static_cast<const std::string_view*>(key));
}

}  // namespace

bool ZRXSerializer::importValueOf(const ZRXValue& value, const ZRXStructure* in,
                                  std::string_view key, const zr::TypeInfo& type, ImportRule rule,
                                  zr::Object** out) {
  ZR_CHECK(in);
  ZR_CHECK(out);
  *out = importValueAt(value, type, rule, ValuePlace{in, keyPlace, &key});
  return mError == NoError;
}

// The refusals of importValueAt, out of line: it runs once per reference of a document, nested as
// deep as the references chain, so its own frame stays small.
ZRX_COLD zr::Object* ZRXSerializer::refuseValue(ValueRefusal why, const ZRXValue& value,
                                                const zr::Object* object, const zr::TypeInfo& type,
                                                const ValuePlace& where) {
  std::string what;
  switch (why) {
    case ValueRefusal::NotStructure:
      what = "is not a structure (found " + valueForMessage(value) + ")";
      break;
    case ValueRefusal::Null:
      what = "names no structure";
      break;
    case ValueRefusal::OwnsItself:
      what = "lists " + structureForMessage(value.getStructure()) + ", which would then own itself";
      break;
    case ValueRefusal::SecondOwner:
      what = "lists " + structureForMessage(value.getStructure()) + ", which already has an owner";
      break;
    case ValueRefusal::Cycle:
      what = "names " + structureForMessage(value.getStructure()) +
             ", which holds this object already: a cycle of references that nothing frees";
      break;
    case ValueRefusal::WrongClass:
      what = "names an object of the wrong class (a '" + std::string(object->className()) +
             "', not a '" + type.name() + "')";
      break;
  }
  fail(ImportError,
       tagForMessage(where.in) + ": entry '" + where.place(where.argument) + "' " + what + ".");
  return nullptr;
}

zr::Object* ZRXSerializer::importValueAt(const ZRXValue& value, const zr::TypeInfo& type,
                                         ImportRule rule, const ValuePlace& where) {
  if (mError != NoError) return nullptr;
  if (value.type() != ZRXValue::Structure)
    return refuseValue(ValueRefusal::NotStructure, value, nullptr, type, where);
  const ZRXStructure* st = value.getStructure();
  if (!st) {
    if (rule.nullable) return nullptr;
    return refuseValue(ValueRefusal::Null, value, nullptr, type, where);
  }
  // One lookup answers both whether the structure was met and what it became.
  uint32_t number = mImportedStructures.number(st);
  zr::Object* object = nullptr;
  if (number != PointerIndex::kNone) {
    const uint8_t flags = mImportedStructures.flagsAt(number);
    if (rule.owned && (flags & kInProgress))
      return refuseValue(ValueRefusal::OwnsItself, value, nullptr, type, where);
    if (rule.owned && (flags & kOwned))
      return refuseValue(ValueRefusal::SecondOwner, value, nullptr, type, where);
    if (rule.holds && (flags & kInProgress) && closesStrongCycle(st))
      return refuseValue(ValueRefusal::Cycle, value, nullptr, type, where);
    object = mImportedStructures.partnerAt(number);
  } else {
    object = importZRX(st, rule.holds || rule.owned);
    if (!object) return nullptr;  // reported by the import
    if (rule.owned) number = mImportedStructures.number(st);
  }
  if (!object->isOfType(type))
    return refuseValue(ValueRefusal::WrongClass, value, object, type, where);
  if (rule.owned) mImportedStructures.flagsAt(number) |= kOwned;
  return object;
}

ZRXStructure* ZRXSerializer::exportZRX(const zr::Object* obj) {
  ZR_CHECK(obj);
  if (mError != NoError) return nullptr;
  if (ZRXStructure* known = getExportedObject(obj)) return known;

  ZR_CHECK(mRegistry);
  const zr::TypeInfo& type = obj->classType();
  const Registry::ExportWrappers& wrappers = mRegistry->exportWrappers();
  const auto found = wrappers.find(type);
  if (found == wrappers.end()) return reportExportFailure(type, true);
  ClassWrapper* serializer = found->second.get();
  ZR_CHECK(serializer);
  if (mConversionDepth == 0) mStackGuard.arm();
  if (mConversionDepth >= mMaxConversionDepth || mStackGuard.nearlyExhausted()) {
    refuseDeepExport(type);
    return nullptr;
  }

  const ConversionLevel level(mConversionDepth);
  const zr::ref<ZRXStructure> structure = serializer->exportObject(*this, obj);
  if (!structure) return reportExportFailure(type, false);
  ZR_CHECK(getExportedObject(obj) == structure.get());
  return structure.get();
}

bool ZRXSerializer::canImport(const ZRXStructure* structure) const {
  ZR_CHECK(structure);
  return mRegistry && mRegistry->importWrappers().count(structure->tag()) != 0;
}

bool ZRXSerializer::canExport(const zr::Object* object) const {
  ZR_CHECK(object);
  return mRegistry && mRegistry->exportWrappers().count(object->classType()) != 0;
}

// --- Bookkeeping ---

void ZRXSerializer::registerImportedStructure(const ZRXStructure* st, zr::Object* obj) {
  ZR_CHECK(st);
  ZR_CHECK(obj);
  ZR_CHECK(mImportedStructures.find(st) == mImportedStructures.end());
  mImportedStructures.insert(const_cast<ZRXStructure*>(st), obj);
  // A wrapper registers the structure it is importing: that one is in progress until it returns.
  if (!mImportFrames.empty() && mImportFrames.back().structure == st)
    mImportedStructures.flagsAt(static_cast<uint32_t>(mImportedStructures.size() - 1)) =
        kInProgress;
}

void ZRXSerializer::registerExportedObject(const zr::Object* obj, ZRXStructure* st) {
  ZR_CHECK(obj);
  ZR_CHECK(st);
  ZR_CHECK(mExportedObjects.find(obj) == mExportedObjects.end());
  mExportedObjects.insert(const_cast<zr::Object*>(obj), st);
}

// Registration refuses a null partner, so a recorded pair always has both.
zr::Object* ZRXSerializer::getImportedStructure(const ZRXStructure* st) const {
  return mImportedStructures.find(st);
}

ZRXStructure* ZRXSerializer::getExportedObject(const zr::Object* obj) const {
  return mExportedObjects.find(obj);
}

std::string ZRXSerializer::generateID(const char* prefix) {
  ZR_CHECK(prefix);
  ++mIDCounter;
  char digits[33];
  const auto written = std::to_chars(digits, digits + sizeof digits, mIDCounter);
  std::string id;
  id.reserve(4 + std::char_traits<char>::length(prefix) + (written.ptr - digits));
  id += '#';
  id += prefix;
  id += "id";
  id.append(digits, written.ptr);
  return id;
}

void ZRXSerializer::signalImportError(const zr::String& message) {
  fail(ImportError, message.toStdString());
}

void ZRXSerializer::signalExportError(const zr::String& message) {
  fail(ExportError, message.toStdString());
}

void ZRXSerializer::resolvePath(std::string& path) const {
  const zr::String text = zr::String::fromStdString(path, true);
  if (!text.startsWith("this:")) return;
  zr::String resolved = mDocumentURL.extractPath() + text.right(-5);
  path = resolved.normalizeSlashes().toStdString();
}

const char* ZRXSerializer::errorString() const {
  switch (mError) {
    case NoError:
      return "NoError";
    case ImportError:
      return "ImportError";
    case ExportError:
      return "ExportError";
    case ReadError:
      return "ReadError";
    default:
      return "WriteError";
  }
}

// --- Directives, metadata, registry ---

void ZRXSerializer::setDirective(const char* name, const char* value) {
  ZR_CHECK(name);
  ZR_CHECK(value);
  mDirectives.insert_or_assign(std::string(name), std::string(value));
}

bool ZRXSerializer::hasDirective(const char* name) const {
  ZR_CHECK(name);
  return mDirectives.find(name) != mDirectives.end();
}

const std::string& ZRXSerializer::directive(const char* name) const {
  ZR_CHECK(name);
  const auto it = mDirectives.find(name);
  if (it != mDirectives.end()) return it->second;
  static const std::string no_directive("NO_SUCH_DIRECTIVE");
  return no_directive;
}

void ZRXSerializer::eraseDirective(const char* name) {
  ZR_CHECK(name);
  const auto it = mDirectives.find(name);
  if (it != mDirectives.end()) mDirectives.erase(it);
}

ZRXValue* ZRXSerializer::getMetadata(const char* key) {
  ZR_CHECK(key);
  const auto it = mMetadata.find(key);
  return it == mMetadata.end() ? nullptr : &it->second;
}

const ZRXValue* ZRXSerializer::getMetadata(const char* key) const {
  ZR_CHECK(key);
  const auto it = mMetadata.find(key);
  return it == mMetadata.end() ? nullptr : &it->second;
}

void ZRXSerializer::setRegistry(const Registry* registry) { mRegistry = hold(registry); }

// Document load and save ----------------------------------------------------------------------

namespace {

// The local time in the layout of ctime ("Wed Jun 30 21:49:08 1993"), without the final line end
// and without the process-wide buffers of ctime and localtime. Names are English whatever the
// locale, as ctime writes them.
std::string creationDate() {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  if (localtime_s(&local, &now) != 0) gmtime_s(&local, &now);
#else
  if (!localtime_r(&now, &local)) gmtime_r(&now, &local);
#endif
  char text[64];
  std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %d",
                kDays[(local.tm_wday % 7 + 7) % 7], kMonths[(local.tm_mon % 12 + 12) % 12],
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
  return text;
}

// Drops `metadata`, breaking the cycles among the structures and lists only it holds.
void dropMetadata(MetadataMap& metadata) {
  std::vector<zr::ref<ZRXTaggedValue>> roots;
  for (const auto& entry : metadata) appendRoot(roots, entry.second);
  metadata.clear();
  if (!roots.empty()) dropAndBreakCycles(roots);
}

// The three written fresh by every save, and the versions of declared classes, which describe
// the classes the save exported (DeclaredSession).
bool isReservedMetadataKey(const std::string& key) {
  return key == "ZR_Serializer_Version" || key == "Authoring_Tool" || key == "Creation_Date" ||
         key == kClassVersionsKey;
}

}  // namespace

zr::ref<ZRXStructure> ZRXSerializer::makeMetadataStructure() const {
  zr::ref<ZRXStructure> metadata = new ZRXStructure("<Metadata>");
  for (const auto& [key, value] : mMetadata) {
    if (isReservedMetadataKey(key)) continue;
    metadata->value().emplace_back();
    metadata->value().back().setKey(key);  // the whole key, a NUL byte included
    metadata->value().back().setValue(value);
  }
  ZRXValue tool;
  tool.setString(zr::String(zr::Say("Orvane %n.%n.%s") << 2 << 0 << "0").toStdString());
  ZRXValue date;
  date.setString(creationDate());
  *metadata << "Authoring_Tool" << tool << "Creation_Date" << date << "ZR_Serializer_Version"
            << ZRXValue(int64_t{kFormatVersion});
  return metadata;
}

bool ZRXSerializer::save(zr::VirtualFile* file, const zr::Object* object, bool resetFirst,
                         Format format) {
  if (resetFirst) reset();
  if (mError != NoError) return false;
  ZR_CHECK(file);
  const char* const who = format == Format::ZRT ? "saveZRT" : "saveZRB";
  zr::ref<ZRXStructure> metadata = makeMetadataStructure();
  if (mDeclared) mDeclared->forgetClassVersions();
  // A wrapper may report a failure and still hand back a structure: the export failed all the
  // same, and the previous document stays.
  ZRXStructure* root = exportZRX(object);
  if (!root || mError != NoError) return false;
  if (mDeclared) mDeclared->appendClassVersions(*metadata);

  // The document is checked completely before the file is opened: a refused save leaves the
  // previous document as it was.
  WriteOptions options;
  options.maxDepth = mMaxDepth;
  options.sixDecimalReals = mSixDecimalReals;
  const WriteResult result = writeStructures(file, format, {metadata, root}, options);
  if (result.status == WriteStatus::Refused) {
    signalExportError(zr::Say("ZRXSerializer::%s() cannot write the document : %s\n")
                      << who << result.message);
  } else if (result.status == WriteStatus::WriteError) {
    failAgain(WriteError,
              zr::String(zr::Say("ZRXSerializer::%s() write error : %s\n") << who << file->path())
                  .toStdString());
  }
  return mError == NoError;
}

zr::ref<zr::Object> ZRXSerializer::load(zr::VirtualFile* file, bool resetFirst, Format format) {
  if (resetFirst) reset();
  if (mError != NoError) return nullptr;
  ZR_CHECK(file);
  mDocumentURL = file->path();

  Document document;
  ReadOptions options;
  options.maxDepth = mMaxDepth;
  ReadStatus status;
  {
    // The parser and the linker log their messages; the first one is the failure's.
    zr::LogTap tap;
    status = readDocument(file, format, document, options);
    if (status != ReadStatus::Ok) mErrorMessage = tap.firstError();
  }
  if (status == ReadStatus::ParseError) {
    mError = ImportError;
    return nullptr;
  }
  // Taken over even when linking fails. The entries replaced may hold structures in cycles.
  MetadataMap previous = std::move(mMetadata);
  mMetadata = document.metadata();
  dropMetadata(previous);
  if (mDeclared) mDeclared->forgetFileVersions();
  if (status == ReadStatus::LinkError) {
    mError = ImportError;
    return nullptr;
  }
  if (document.structures().empty()) return nullptr;
  // As for saves: a failure reported by a wrapper that still made an object fails the load.
  zr::ref<zr::Object> object;
  {
    // Reset on the way out, whatever a wrapper throws.
    struct OwnDocument {
      bool& flag;
      explicit OwnDocument(bool& f) : flag(f) { flag = true; }
      ~OwnDocument() { flag = false; }
    } own(mImportsOwnDocument);
    object = importZRX(document.structures().front().get());
  }
  // Imported structures stay alive through mImportedStructures, and so does all they reach: the
  // document need not look for cycles below them when it is dropped (reset() does, later).
  auto& top = document.structures();
  top.erase(std::remove_if(top.begin(), top.end(),
                           [this](const zr::ref<ZRXStructure>& structure) {
                             return mImportedStructures.contains(structure.get());
                           }),
            top.end());
  return mError == NoError ? object : nullptr;
}

zr::ref<zr::Object> ZRXSerializer::loadByPath(const zr::String& path, bool resetFirst,
                                              Format format) {
  zr::ref<zr::VirtualFile> file = zr::locateFile(path);
  if (file) return load(file.get(), resetFirst, format);
  if (resetFirst) reset();
  if (mError != NoError) return nullptr;
  fail(ReadError, zr::String(zr::Say("ZRXSerializer::%s() file not found : %s\n")
                             << (format == Format::ZRT   ? "loadZRT"
                                 : format == Format::ZRB ? "loadZRB"
                                                         : "load")
                             << path)
                      .toStdString());
  return nullptr;
}

zr::ref<zr::Object> ZRXSerializer::load(zr::VirtualFile* file, bool resetFirst) {
  ZR_CHECK(file);
  const Format format = detectFormat(file);
  if (format != Format::Unknown) return load(file, resetFirst, format);
  if (resetFirst) reset();
  fail(ImportError, zr::String(zr::Say("ZRXSerializer::load() : '%s' is neither a ZRT nor a ZRB "
                                       "document.\n")
                               << zr::messageText(file->path().toStdString()))
                        .toStdString());
  return nullptr;
}

zr::ref<zr::Object> ZRXSerializer::load(const zr::String& path, bool resetFirst) {
  zr::ref<zr::VirtualFile> file = zr::locateFile(path);
  if (file) return load(file.get(), resetFirst);
  return loadByPath(path, resetFirst, Format::Unknown);
}

zr::ref<zr::Object> ZRXSerializer::checkLoaded(zr::ref<zr::Object> loaded,
                                               const zr::TypeInfo& type) {
  if (mError != NoError) return nullptr;
  if (!loaded) {
    fail(ImportError,
         "ZRXSerializer::loadAs() : the document holds no object besides its "
         "metadata.\n");
    return nullptr;
  }
  if (loaded->isOfType(type)) return loaded;
  fail(ImportError, zr::String(zr::Say("ZRXSerializer::loadAs() : the document holds a '%s', "
                                       "not a '%s'.\n")
                               << loaded->className() << type.name())
                        .toStdString());
  return nullptr;
}

bool ZRXSerializer::saveZRT(zr::VirtualFile* file, const zr::Object* object, bool reset) {
  return save(file, object, reset, Format::ZRT);
}
bool ZRXSerializer::saveZRT(const zr::String& path, const zr::Object* object, bool reset) {
  zr::ref<zr::DiskFile> file = new zr::DiskFile(path);
  return save(file.get(), object, reset, Format::ZRT);
}
bool ZRXSerializer::saveZRB(zr::VirtualFile* file, const zr::Object* object, bool reset) {
  return save(file, object, reset, Format::ZRB);
}
bool ZRXSerializer::saveZRB(const zr::String& path, const zr::Object* object, bool reset) {
  zr::ref<zr::DiskFile> file = new zr::DiskFile(path);
  return save(file.get(), object, reset, Format::ZRB);
}
zr::ref<zr::Object> ZRXSerializer::loadZRT(zr::VirtualFile* file, bool reset) {
  return load(file, reset, Format::ZRT);
}
zr::ref<zr::Object> ZRXSerializer::loadZRT(const zr::String& path, bool reset) {
  return loadByPath(path, reset, Format::ZRT);
}
zr::ref<zr::Object> ZRXSerializer::loadZRB(zr::VirtualFile* file, bool reset) {
  return load(file, reset, Format::ZRB);
}
zr::ref<zr::Object> ZRXSerializer::loadZRB(const zr::String& path, bool reset) {
  return loadByPath(path, reset, Format::ZRB);
}

}  // namespace zrX
