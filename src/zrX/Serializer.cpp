#include "zrX/Serializer.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"
#include "zrX/Cycles.hpp"
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

ZRXSerializer::ZRXSerializer(const ZRXSerializer& other) = default;

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
      mMaxDepth(other.mMaxDepth) {
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
  mIDCounter = 0;
  releaseConversions(false);
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

ZRX_COLD void logTag(const char* format, const std::string& tag) {
  zr::Log::error(zr::Say(format) << zr::messageText(tag));
}

ZRX_COLD void logTypeName(const char* format, const char* name) {
  zr::Log::error(zr::Say(format) << name);
}

}  // namespace

ZRX_COLD void ZRXSerializer::refuseDeepImport(const ZRXStructure* st) {
  signalImportError(zr::Say("ZRXSerializer::importZRX() : conversions nested deeper than %n "
                            "levels at structure '%s'; setMaxConversionDepth() allows more, on a "
                            "thread with stack enough for them.\n")
                    << mMaxConversionDepth << zr::messageText(st->tag()));
}

ZRX_COLD void ZRXSerializer::refuseDeepExport(const zr::TypeInfo& type) {
  signalExportError(zr::Say("ZRXSerializer::exportZRX() : conversions nested deeper than %n "
                            "levels at '%s'; setMaxConversionDepth() allows more, on a thread "
                            "with stack enough for them.\n")
                    << mMaxConversionDepth << type.name());
}

zr::Object* ZRXSerializer::importZRX(const ZRXStructure* st) {
  ZR_CHECK(st);
  if (mError != NoError) return nullptr;
  if (zr::Object* known = getImportedStructure(st)) return known;

  ZR_CHECK(mRegistry);
  const Registry::ImportWrappers& wrappers = mRegistry->importWrappers();
  const auto found = wrappers.find(st->tag());
  if (found == wrappers.end()) {
    mError = ImportError;
    logTag("No importing serializer found for structure '%s'.", st->tag());
    return nullptr;
  }
  ClassWrapper* serializer = found->second.get();
  ZR_CHECK(serializer);
  if (mConversionDepth >= mMaxConversionDepth) {
    refuseDeepImport(st);
    return nullptr;
  }

  const ConversionLevel level(mConversionDepth);
  const zr::ref<zr::Object> object = serializer->importObject(*this, st);
  if (!object) {
    mError = ImportError;
    logTag("Error importing structure '%s'.", st->tag());
    return nullptr;
  }
  // Only the registered pair keeps the object alive after `object` goes: a wrapper that did not
  // register it would hand the caller a dangling pointer.
  ZR_CHECK(getImportedStructure(st) == object.get());
  return object.get();
}

ZRXStructure* ZRXSerializer::exportZRX(const zr::Object* obj) {
  ZR_CHECK(obj);
  if (mError != NoError) return nullptr;
  if (ZRXStructure* known = getExportedObject(obj)) return known;

  ZR_CHECK(mRegistry);
  const zr::TypeInfo& type = obj->classType();
  const Registry::ExportWrappers& wrappers = mRegistry->exportWrappers();
  const auto found = wrappers.find(type);
  if (found == wrappers.end()) {
    mError = ExportError;
    logTypeName("No exporting serializer found for '%s'.", type.name());
    return nullptr;
  }
  ClassWrapper* serializer = found->second.get();
  ZR_CHECK(serializer);
  if (mConversionDepth >= mMaxConversionDepth) {
    refuseDeepExport(type);
    return nullptr;
  }

  const ConversionLevel level(mConversionDepth);
  const zr::ref<ZRXStructure> structure = serializer->exportObject(*this, obj);
  if (!structure) {
    mError = ExportError;
    logTypeName("Error exporting '%s'.", type.name());
    return nullptr;
  }
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
  if (mError != NoError) return;
  zr::Log::error(message);
  mError = ImportError;
}

void ZRXSerializer::signalExportError(const zr::String& message) {
  if (mError != NoError) return;
  zr::Log::error(message);
  mError = ExportError;
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

bool isReservedMetadataKey(const std::string& key) {
  return key == "ZR_Serializer_Version" || key == "Authoring_Tool" || key == "Creation_Date";
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
  // A wrapper may report a failure and still hand back a structure: the export failed all the
  // same, and the previous document stays.
  ZRXStructure* root = exportZRX(object);
  if (!root || mError != NoError) return false;

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
    zr::Log::error(zr::Say("ZRXSerializer::%s() write error : %s\n") << who << file->path());
    mError = WriteError;
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
  const ReadStatus status = readDocument(file, format, document, options);
  if (status == ReadStatus::ParseError) {
    mError = ImportError;
    return nullptr;
  }
  // Taken over even when linking fails. The entries replaced may hold structures in cycles.
  MetadataMap previous = std::move(mMetadata);
  mMetadata = document.metadata();
  dropMetadata(previous);
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
  zr::Log::error(zr::Say("ZRXSerializer::%s() file not found : %s\n")
                 << (format == Format::ZRT ? "loadZRT" : "loadZRB") << path);
  mError = ReadError;
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
