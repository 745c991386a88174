// DeclaredSession: what declared classes (Declare.hpp) keep per serializer while it imports and
// exports -- a library-internal component, not part of the public API.
//
// For each declared class it remembers the key texts of the entries it read last, so that an
// entry whose key is the same shared text (the readers share one text per distinct key of a
// document) finds its field by one pointer comparison, never by comparing strings; it hands out
// the class's tag and key texts from references taken in batches; it records the back pointers
// an import leaves to settle at its end, the class versions of the document being imported and
// those of the classes a save exported.
//
// Owned by one ZRXSerializer (made on first use, dropped by reset() and with the serializer); the
// texts it remembers are held by references of its own. One thread at a time, as the serializer.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zrX/Declare.hpp"
#include "zrX/SharedText.hpp"
#include "zrX/Value.hpp"

namespace zrX {

// The metadata entry that lists the versions of declared classes above 1.
inline constexpr const char* kClassVersionsKey = "Class_Versions";

class DeclaredSession {
 public:
  DeclaredSession() = default;
  DeclaredSession(const DeclaredSession&) = delete;
  DeclaredSession& operator=(const DeclaredSession&) = delete;
  ~DeclaredSession();

  // The field of `cls` an entry names, or -1; `predicted` is the field expected next.
  int dispatch(const ClassData& cls, const ZRXStructure::KeyValue& entry, int predicted) {
    const SharedText* text = entry.keyText().shared();
    ClassCache& cache = cacheOf(cls);
    if (text && static_cast<size_t>(predicted) < cache.seen.size() &&
        cache.seen[static_cast<size_t>(predicted)] == text)
      return predicted;
    return dispatchSlowly(cls, cache, entry);
  }
  // A reference on the class's tag (slot 0) or the key of field i (slot i + 1).
  TextRef handOut(const ClassData& cls, size_t slot);

  // The version of `cls` the document being imported was written with (1 when it says none);
  // 0 after reporting an import error for a malformed metadata entry.
  int fileVersion(ZRXSerializer& serializer, const ClassData& cls) {
    ClassCache& cache = cacheOf(cls);
    if (cache.fileVersion == 0 && !readFileVersion(serializer, cls, cache)) return 0;
    return cache.fileVersion;
  }

  // Forgets the versions read from a document's metadata (a load replaced it).
  void forgetFileVersions() {
    mVersionsRead = false;
    mFileVersions.clear();
    for (auto& cache : mCaches)
      if (cache) cache->fileVersion = 0;
  }

  // The contexts of the declared imports under way, innermost last.
  class Importing {
   public:
    Importing(DeclaredSession& session, const FieldContext& cx) : mSession(session) {
      session.mImporting.push_back(&cx);
    }
    ~Importing() { mSession.mImporting.pop_back(); }
    Importing(const Importing&) = delete;
    Importing& operator=(const Importing&) = delete;

   private:
    DeclaredSession& mSession;
  };
  // The context of the object importing the one of `cx`, when that object's structure is `named`;
  // else null.
  const FieldContext* importerOf(const FieldContext& cx, const ZRXStructure* named) const;

  // Back pointers to settle when the import is done.
  void addPending(const ClassData& cls, const DeclaredField& field, void* object,
                  const ZRXStructure* structure, const ZRXStructure* named);
  bool finishImport(ZRXSerializer& serializer);
  void abandonImport() { mPending.clear(); }

  // Where the readers and writers of nested classes stand (FieldContext::place).
  std::vector<FieldContext::Segment>& path() { return mPath; }

  // Versions of the classes a save exports.
  void noteClassVersion(const ClassData& cls) {
    if (cls.version() > 1) mExportedVersions[cls.tag()] = cls.version();
  }
  void forgetClassVersions() { mExportedVersions.clear(); }
  // Adds "Class_Versions" to a save's metadata structure, before its "Authoring_Tool".
  void appendClassVersions(ZRXStructure& metadata) const;

 private:
  struct Batch {
    const SharedText* text = nullptr;
    int32_t ahead = 0;
  };
  struct ClassCache {
    std::vector<const SharedText*> seen;  // by field: the key text read last (a reference held)
    std::vector<Batch> batches;           // tag, then one per field
    int fileVersion = 0;                  // 0 until the document's metadata is read
  };
  struct Pending {
    const ClassData* cls;
    const DeclaredField* field;
    void* object;
    const ZRXStructure* structure;
    const ZRXStructure* named;
  };

  ClassCache& cacheOf(const ClassData& cls) {
    if (cls.serial() < mCaches.size() && mCaches[cls.serial()]) return *mCaches[cls.serial()];
    return makeCache(cls);
  }
  ClassCache& makeCache(const ClassData& cls);
  bool readFileVersion(ZRXSerializer& serializer, const ClassData& cls, ClassCache& cache);
  int dispatchSlowly(const ClassData& cls, ClassCache& cache, const ZRXStructure::KeyValue& entry);

  std::vector<std::unique_ptr<ClassCache>> mCaches;  // by class serial
  std::vector<Pending> mPending;
  std::vector<FieldContext::Segment> mPath;
  std::vector<const FieldContext*> mImporting;
  bool mVersionsRead = false;
  std::map<std::string, int, std::less<>> mFileVersions;
  std::map<std::string, int> mExportedVersions;
};

}  // namespace zrX
